// The time from creating a facade to the end of its destructor: the SDK main loop, the API
// manager with its module loops and modules, the DESTROY action and every thread joined.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "client/corvane.h"
#include "corvane/corvane_settings.h"

namespace {

void BM_FacadeCreateToDestroy(benchmark::State& state) {
    corvane::Corvane::globalInit("FacadeBench", 1);
    char folder[] = "/tmp/facade-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    corvane::CorvaneSettings settings;
    settings.setDataPath(folder);
    for (auto _ : state) {
        // No task manager: results are delivered on the reporting thread.
        corvane::Corvane facade(nullptr, &settings);
        benchmark::DoNotOptimize(&facade);
    }
    std::filesystem::remove_all(folder);
    corvane::Corvane::globalCleanup();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FacadeCreateToDestroy)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
