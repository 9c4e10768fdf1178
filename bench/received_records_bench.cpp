// Rebuilding the received-records list the way its screen does: for each row index, the id
// from getRecordIds(), the visibility, then one getter per role, each of which finds the
// record by id. Figures for 2,000 and 10,000 records show how the rebuild grows; the parts
// are measured alone to show where the time goes.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QString>
#include <QStringList>

#include <memory>

#include "ui/main_window.h"

namespace {

constexpr int kInboxes = 10;

// n received records spread over the inboxes, each with one file, newest first.
std::unique_ptr<MainWindow> windowWith(int records) {
    auto window = std::make_unique<MainWindow>();
    for (int inbox = 1; inbox <= kInboxes; ++inbox) {
        window->addInbox(static_cast<uint64_t>(inbox), QStringLiteral("Inbox %1").arg(inbox), QString(), 1700000000);
    }
    for (int i = 0; i < records; ++i) {
        const uint64_t id = 1000 + static_cast<uint64_t>(i);
        window->addRecord(1 + static_cast<uint64_t>(i % kInboxes), id, QStringLiteral("sender%1@example.test").arg(i),
                          QString(), QStringLiteral("Subject %1").arg(i), QStringLiteral("Message of record %1").arg(i),
                          1700000000 + static_cast<uint64_t>(i), i % 3 == 0);
        window->addRecordFile(id, 1000000 + id, QStringLiteral("file%1.pdf").arg(i), 4096, 1700000000);
    }
    return window;
}

// One row per visible record, with every role the screen reads.
int rebuild(const MainWindow& window) {
    int rows = 0;
    const int count = window.getRecordCount();
    for (int i = 0; i < count; ++i) {
        const QString id = window.getRecordIds()[i];
        if (window.getRecordVisibilityById(id) == QLatin1String("0")) continue;
        benchmark::DoNotOptimize(window.getRecordSenderById(id));
        benchmark::DoNotOptimize(window.getRecordSubjectById(id));
        benchmark::DoNotOptimize(window.getRecordMessageById(id));
        benchmark::DoNotOptimize(window.getRecordDateById(id));
        benchmark::DoNotOptimize(window.getInboxNameByRecordId(id));
        benchmark::DoNotOptimize(window.getRecordFilesCount(id));
        benchmark::DoNotOptimize(window.getRecordSizeById(id));
        benchmark::DoNotOptimize(window.getRecordStatusById(id));
        benchmark::DoNotOptimize(window.getRecordCheckById(id));
        ++rows;
    }
    return rows;
}

void BM_RebuildReceivedList(benchmark::State& state) {
    const auto window = windowWith(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(rebuild(*window));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RebuildReceivedList)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();

// The id list fetched once per row (the screen's getRecordIds()[i]) on its own.
void BM_IdListPerRow(benchmark::State& state) {
    const auto window = windowWith(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const int count = window->getRecordCount();
        for (int i = 0; i < count; ++i) {
            benchmark::DoNotOptimize(window->getRecordIds()[i]);
        }
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_IdListPerRow)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();

// The same rows with the id list taken once: what remains are the lookups by id.
void BM_LookupsByIdOnly(benchmark::State& state) {
    const auto window = windowWith(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const QStringList ids = window->getRecordIds();
        for (const QString& id : ids) {
            benchmark::DoNotOptimize(window->getRecordSubjectById(id));
        }
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LookupsByIdOnly)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
