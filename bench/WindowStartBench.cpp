// How long the updater's window takes to appear, beside the least Qt program that shows the same
// controls: each benchmark starts our program and the bare dialog alternately on the X server
// named by DISPLAY (Xvfb in CI) and reports the medians, `ms_to_window` for ours,
// `bare_ms_to_window` for the bare dialog, and `ratio`, ours over bare. Wall milliseconds from
// process start to the window being mapped; `cpu_ms_to_window`, `bare_cpu_ms_to_window` and
// `cpu_ratio` give the CPU time the programs had used by then, which others' load disturbs less.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/WindowStartWatch.h"

namespace tarvex::bench {
namespace {

// Pairs of starts per benchmark; one start each is too noisy on a shared machine.
constexpr int kRounds = 7;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void StartSideBySide(benchmark::State& state, const std::string& program) {
    // One connection for all the benchmarks: Xvfb resets when its last client leaves, and a
    // connection made during the reset is refused.
    static CWindowStartWatch watch;
    if (!watch.Error().empty()) {
        state.SkipWithError(watch.Error().c_str());
        return;
    }
    std::vector<double> ours;
    std::vector<double> bare;
    std::vector<double> oursCpu;
    std::vector<double> bareCpu;
    for (auto _ : state) {
        // Alternating which goes first, so that neither always finds the caches the other
        // warmed.
        const bool oursFirst = ours.size() % 2 == 0;
        for (const bool isOurs : {oursFirst, !oursFirst}) {
            const WindowStartResult result =
                watch.MsToWindow(isOurs ? program : TARVEX_BARE_DIALOG, {});
            if (!result.MsToWindow) {
                state.SkipWithError(result.Error.c_str());
                return;
            }
            (isOurs ? ours : bare).push_back(*result.MsToWindow);
            (isOurs ? oursCpu : bareCpu).push_back(result.CpuMsToWindow);
        }
    }
    const double oursMedian = Median(ours);
    const double bareMedian = Median(bare);
    state.counters["ms_to_window"] = oursMedian;
    state.counters["bare_ms_to_window"] = bareMedian;
    state.counters["ratio"] = oursMedian / bareMedian;
    state.counters["cpu_ms_to_window"] = Median(oursCpu);
    state.counters["bare_cpu_ms_to_window"] = Median(bareCpu);
    state.counters["cpu_ratio"] = Median(oursCpu) / Median(bareCpu);
}

BENCHMARK_CAPTURE(StartSideBySide, tarvex_update, std::string(TARVEX_UPDATE))
    ->Iterations(kRounds)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(StartSideBySide, tarvex_update_demo, std::string(TARVEX_UPDATE_DEMO))
    ->Iterations(kRounds)
    ->Unit(benchmark::kMillisecond);

// The console's report, remembering whether a benchmark could not run: that must fail the
// program (no X server, a program that died), where a slow figure never does.
class CFailureNotingReporter final : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal: a CI log shows the escape codes as they are.
    CFailureNotingReporter()
        : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            m_bFailed = m_bFailed || run.error_occurred;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    bool Failed() const { return m_bFailed; }

private:
    bool m_bFailed = false;
};

}  // namespace
}  // namespace tarvex::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    tarvex::bench::CFailureNotingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.Failed() ? 1 : 0;
}
