#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "simulated_windows_test.h"
#include "watchdog/activity_probes.h"

namespace {

using sim::HostCall;

class ActivityProbesTest : public SimulatedWindowsTest {};

constexpr const char* kSqlLine = "SQL file found, assuming working.\n";

TEST_F(ActivityProbesTest, WorkFileProbeAnswersNoOnlyWhenNothingMatches) {
    struct Case {
        const char* name;
        std::function<void()> shapeWorld;
        bool sawWork;
    };
    const Case cases[] = {
        {"empty temp folder", [] {}, false},
        {"only the log and other files", [] {
             sim::PutFile(u"C:\\Windows\\Temp\\Tessavine.log", 80);
             sim::PutFile(u"C:\\Windows\\Temp\\job.sql.bak", 1);
             sim::PutFile(u"C:\\Windows\\job.sql", 1);
         }, false},
        {"one work file", [] { sim::PutFile(u"C:\\Windows\\Temp\\job.sql", 0); }, true},
        {"upper-case extension", [] { sim::PutFile(u"C:\\Windows\\Temp\\JOB.SQL", 10); }, true},
        {"a folder named *.sql", [] { sim::PutDirectory(u"C:\\Windows\\Temp\\staging.sql"); }, true},
        {"temp folder missing", [] { sim::RemoveDirectoryTree(u"C:\\Windows\\Temp"); }, true},
        {"temp folder unreadable",
         [] { sim::TheWorld().unreadableDirectories.push_back(u"C:\\Windows\\Temp"); }, true},
        {"search fails with not found",
         [] { sim::TheWorld().failWith = [](HostCall c) { return c == HostCall::FindFirstEntry ? 2u : 0u; }; }, false},
        {"search fails otherwise",
         [] { sim::TheWorld().failWith = [](HostCall c) { return c == HostCall::FindFirstEntry ? 1117u : 0u; }; },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ResetWorld();
        c.shapeWorld();
        std::ostringstream lines;
        EXPECT_EQ(watchdog::ProbeSqlWorkFiles(lines), c.sawWork);
        EXPECT_EQ(lines.str(), c.sawWork ? kSqlLine : "");
        EXPECT_TRUE(World().openHandles.empty());
        EXPECT_EQ(sim::CountCalls(HostCall::FindFirstEntry), 1u);
    }
}

// One look of the log-growth probe: the log's size then (none: missing), and what it answers.
struct Look {
    std::optional<std::uint64_t> logSize;
    bool changed;
    std::string line;
};

TEST_F(ActivityProbesTest, LogGrowthProbeComparesWithTheLastLookThatFoundTheFile) {
    constexpr std::uint64_t k4GiB = 4294967296u;
    struct Case {
        const char* name;
        std::vector<Look> looks;
    };
    const Case cases[] = {
        {"first look at 120 bytes", {{120, true, "Log file still touch, old size : 0 new size : 120\n"}}},
        {"first look at an empty log", {{0, false, ""}}},
        {"missing from the start", {{std::nullopt, false, ""}}},
        {"growth then standstill",
         {{100, true, "Log file still touch, old size : 0 new size : 100\n"},
          {250, true, "Log file still touch, old size : 100 new size : 250\n"},
          {250, false, ""}}},
        {"truncated to zero",
         {{300, true, "Log file still touch, old size : 0 new size : 300\n"},
          {0, true, "Log file still touch, old size : 300 new size : 0\n"}}},
        {"missing keeps the baseline, same size on return is no change",
         {{300, true, "Log file still touch, old size : 0 new size : 300\n"},
          {std::nullopt, false, ""},
          {300, false, ""},
          {301, true, "Log file still touch, old size : 300 new size : 301\n"}}},
        {"beyond 4 GiB",
         {{k4GiB + 7, true, "Log file still touch, old size : 0 new size : 4294967303\n"},
          {k4GiB + 7, false, ""}}},
        {"change in the high half alone",
         {{k4GiB + 5, true, "Log file still touch, old size : 0 new size : 4294967301\n"},
          {2 * k4GiB + 5, true, "Log file still touch, old size : 4294967301 new size : 8589934597\n"}}},
        {"low half alone equal to the old size",
         {{5, true, "Log file still touch, old size : 0 new size : 5\n"},
          {k4GiB + 5, true, "Log file still touch, old size : 5 new size : 4294967301\n"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ResetWorld();
        watchdog::LogSizeBaseline baseline{};
        for (std::size_t i = 0; i < c.looks.size(); ++i) {
            SCOPED_TRACE("look " + std::to_string(i + 1));
            const Look& look = c.looks[i];
            if (look.logSize) PutLog(*look.logSize); else sim::RemoveFile(watched_application::kLogFilePath);
            std::ostringstream lines;
            EXPECT_EQ(watchdog::ProbeLogGrowth(baseline, lines), look.changed);
            EXPECT_EQ(lines.str(), look.line);
            EXPECT_TRUE(World().openHandles.empty());
        }
    }
}

TEST_F(ActivityProbesTest, LogGrowthProbeNeverTakesAFailedSearchForAChange) {
    PutLog(900);
    watchdog::LogSizeBaseline baseline{{40, 0}};
    World().failWith = [](HostCall c) { return c == HostCall::FindFirstEntry ? sim::kErrorAccessDenied : 0u; };
    EXPECT_FALSE(watchdog::ProbeLogGrowth(baseline, out));
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(baseline.size.low, 40u);
}

}  // namespace
