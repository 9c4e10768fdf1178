// Task throughput of one loop and the wake-up latency of a task posted from another thread.

#include <benchmark/benchmark.h>

#include <future>

#include "loop/libuv_loop.h"

namespace {

// Posts N tasks from this thread and waits until the last one has run.
void BM_PostedTasksPerSecond(benchmark::State& state) {
    const int64_t tasks = state.range(0);
    corvane::LibuvLoop loop;
    loop.start();
    int64_t counter = 0;  // loop thread only
    for (auto _ : state) {
        std::promise<void> lastRan;
        for (int64_t i = 0; i + 1 < tasks; ++i) {
            loop.post([&counter] { ++counter; });
        }
        loop.post([&] {
            ++counter;
            lastRan.set_value();
        });
        lastRan.get_future().wait();
    }
    loop.stop();
    loop.join();
    benchmark::DoNotOptimize(counter);
    state.SetItemsProcessed(state.iterations() * tasks);
}
BENCHMARK(BM_PostedTasksPerSecond)->Arg(1000)->Arg(100000)->UseRealTime();

// One round trip: post from this thread, the task signals back. Time per iteration is the
// round trip in nanoseconds.
void BM_WakeUpRoundTrip(benchmark::State& state) {
    corvane::LibuvLoop loop;
    loop.start();
    for (auto _ : state) {
        std::promise<void> signalled;
        loop.post([&signalled] { signalled.set_value(); });
        signalled.get_future().wait();
    }
    loop.stop();
    loop.join();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WakeUpRoundTrip)->UseRealTime()->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
