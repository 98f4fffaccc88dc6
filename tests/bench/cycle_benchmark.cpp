// What one supervision cycle costs against the simulated Windows, by the number of processes
// the snapshot lists. The watched application runs last in the snapshot, so the walk sees
// every entry. The simulated pause returns at once.
#include <benchmark/benchmark.h>

#include <sstream>

#include "host/watched_application.h"
#include "simulated/simulated_windows.h"
#include "watchdog/supervision_cycle.h"

namespace {

void PrepareWorld(std::int64_t processCount) {
    sim::ResetWorld();
    for (std::int64_t i = 1; i < processCount; ++i) sim::StartProcess(u"svchost.exe");
    sim::StartProcess(watched_application::kImageName);
}

void RunCycles(benchmark::State& state, sim::World& world) {
    watchdog::LogSizeBaseline baseline{};
    std::ostringstream out;
    for (auto _ : state) {
        watchdog::RunSupervisionCycle(baseline, out);
        out.str("");
        world.calls.clear();
        world.pauses.clear();
    }
    state.SetComplexityN(state.range(0));
}

// Present with a work file: one snapshot walk, one directory search.
void WorkingOnAFile(benchmark::State& state) {
    PrepareWorld(state.range(0));
    sim::PutFile(u"C:\\Windows\\Temp\\batch.sql", 0);
    RunCycles(state, sim::TheWorld());
}

// Present with a growing log: one snapshot walk, both directory searches, a line with sizes.
void LogGrowing(benchmark::State& state) {
    PrepareWorld(state.range(0));
    std::uint64_t size = 0;
    sim::TheWorld().duringPause = [&size] { sim::PutFile(watched_application::kLogFilePath, ++size); };
    RunCycles(state, sim::TheWorld());
}

BENCHMARK(WorkingOnAFile)->Arg(50)->Arg(500)->Arg(5000)->Complexity(benchmark::oN);
BENCHMARK(LogGrowing)->Arg(50)->Arg(500)->Arg(5000)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
