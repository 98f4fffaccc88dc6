#include <functional>
#include <streambuf>
#include <string>

#include "simulated_windows_test.h"
#include "watchdog/supervision_cycle.h"

namespace {

using sim::HostCall;

class SupervisionCycleTest : public SimulatedWindowsTest {
protected:
    void RunCycles(int count) {
        for (int i = 0; i < count; ++i) watchdog::RunSupervisionCycle(baseline, out);
    }
    watchdog::LogSizeBaseline baseline{};
};

TEST_F(SupervisionCycleTest, StartUpHidesTheConsoleAndReportsItsHandle) {
    World().consoleWindow = 0x2E0196;
    watchdog::StartUp(out);
    EXPECT_TRUE(World().consoleHidden);
    EXPECT_EQ(out.str(), "WinHandle : " + std::string(sizeof(void*) * 2 - 6, '0') + "2E0196\n");
}

TEST_F(SupervisionCycleTest, StartUpWithoutConsoleWindowReportsZeros) {
    World().consoleWindow = 0;
    watchdog::StartUp(out);
    EXPECT_EQ(out.str(), "WinHandle : " + std::string(sizeof(void*) * 2, '0') + "\n");
}

enum class Action { Launch, Kill, None };

TEST_F(SupervisionCycleTest, DecisionTable) {
    struct Row {
        const char* name;
        std::function<void()> shapeWorld;
        Action action;
        std::string linesAfterPause;  // %P stands for the watched process id
    };
    const Row rows[] = {
        {"absent: launch", [] {}, Action::Launch, "Process didn't run, need to relaunch it !\n"},
        {"work file: leave alone", [] { StartWatchedApplication(); PutWorkFile(); PutLog(0); }, Action::None,
         "Process run. PID : %P\nSQL file found, assuming working.\n"},
        {"log grew: leave alone", [] { StartWatchedApplication(); PutLog(120); }, Action::None,
         "Process run. PID : %P\nLog file still touch, old size : 0 new size : 120\n"},
        // The failed searches leave ERROR_FILE_NOT_FOUND behind; the successful open reports 0.
        {"log unchanged: kill", [] { StartWatchedApplication(); PutLog(0); }, Action::Kill,
         "Process run. PID : %P\nKilling %P\n0\n"},
        {"no log file: kill", [] { StartWatchedApplication(); }, Action::Kill,
         "Process run. PID : %P\nKilling %P\n0\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::ResetWorld();
        baseline = {};
        out.str("");
        row.shapeWorld();
        const bool present = !World().processes.empty();
        const host::ProcessId watchedId = present ? World().processes.back().id : 0;
        std::string writtenBeforePauseEnded = "unset";
        World().duringPause = [&] { writtenBeforePauseEnded = out.str(); };

        RunCycles(1);

        std::string expected = row.linesAfterPause;
        for (std::size_t at; (at = expected.find("%P")) != std::string::npos;)
            expected.replace(at, 2, std::to_string(watchedId));
        EXPECT_EQ(writtenBeforePauseEnded, "");
        EXPECT_EQ(out.str(), expected);
        EXPECT_EQ(World().pauses, std::vector<std::uint32_t>{60000});
        EXPECT_LT(FirstCall(HostCall::CreateSnapshot), FirstCall(HostCall::Sleep));

        EXPECT_EQ(World().launchRequests.size(), row.action == Action::Launch ? 1u : 0u);
        EXPECT_EQ(World().terminations.size(), row.action == Action::Kill ? 1u : 0u);
        if (row.action == Action::Launch) {
            EXPECT_EQ(World().launchRequests[0], watched_application::kInstalledExecutable);
            EXPECT_GT(FirstCall(HostCall::LaunchFile), FirstCall(HostCall::Sleep));
            EXPECT_EQ(sim::CountRunning(u"Tessavine.exe"), 1u);
        }
        if (row.action == Action::Kill) {
            EXPECT_EQ(World().terminations[0].processId, watchedId);
            EXPECT_EQ(World().terminations[0].exitCode, 1u);
            EXPECT_FALSE(sim::IsRunning(watchedId));
        }
        if (row.action == Action::None) {
            EXPECT_TRUE(sim::IsRunning(watchedId));
        }
    }
}

TEST_F(SupervisionCycleTest, WorkFileProbeYesSkipsTheLogProbeAndKeepsItsBaseline) {
    StartWatchedApplication();
    PutWorkFile();
    PutLog(120);
    RunCycles(1);
    sim::RemoveFile(u"C:\\Windows\\Temp\\job-17.sql");
    out.str("");
    RunCycles(1);
    // The baseline is still the initial zero: the first cycle never looked at the log.
    EXPECT_NE(out.str().find("Log file still touch, old size : 0 new size : 120\n"), std::string::npos);
}

TEST_F(SupervisionCycleTest, IdReusedByAnotherProcessDuringThePauseIsNotTerminated) {
    const host::ProcessId id = StartWatchedApplication();
    World().duringPause = [id] {
        sim::EndProcess(id);
        sim::StartProcessWithId(id, u"notepad.exe");
    };
    RunCycles(1);
    EXPECT_EQ(out.str(), "Process run. PID : " + std::to_string(id) + "\nKilling " + std::to_string(id) + "\n0\n");
    EXPECT_TRUE(World().terminations.empty());
    EXPECT_TRUE(sim::IsRunning(id));
}

TEST_F(SupervisionCycleTest, ApplicationEndingDuringThePauseIsReportedWithTheOpenError) {
    const host::ProcessId id = StartWatchedApplication();
    World().duringPause = [id] { sim::EndProcess(id); };
    RunCycles(1);
    EXPECT_EQ(out.str(), "Process run. PID : " + std::to_string(id) + "\nKilling " + std::to_string(id) + "\n87\n");
    EXPECT_EQ(sim::CountCalls(HostCall::TerminateProcess), 0u);

    World().duringPause = nullptr;
    out.str("");
    RunCycles(1);
    EXPECT_EQ(out.str(), "Process didn't run, need to relaunch it !\n");
    EXPECT_EQ(World().launchedProcesses.size(), 1u);
}

TEST_F(SupervisionCycleTest, OpenThatIsRefusedShowsItsCodeAndTerminatesNothing) {
    const host::ProcessId id = StartWatchedApplication();
    World().failWith = [](HostCall c) { return c == HostCall::OpenProcess ? sim::kErrorAccessDenied : 0u; };
    RunCycles(1);
    EXPECT_EQ(out.str(), "Process run. PID : " + std::to_string(id) + "\nKilling " + std::to_string(id) + "\n5\n");
    EXPECT_TRUE(sim::IsRunning(id));
}

TEST_F(SupervisionCycleTest, ApplicationStartedByAnotherHandDuringThePauseIsNotLaunchedTwice) {
    World().duringPause = [] { StartWatchedApplication(); };
    RunCycles(1);
    EXPECT_EQ(out.str(), "Process didn't run, need to relaunch it !\n");
    EXPECT_TRUE(World().launchRequests.empty());
    EXPECT_EQ(sim::CountRunning(u"Tessavine.exe"), 1u);
}

TEST_F(SupervisionCycleTest, FailingLaunchIsRetriedOncePerCycle) {
    sim::RemoveFile(watched_application::kInstalledExecutable);
    RunCycles(3);
    EXPECT_EQ(World().launchRequests.size(), 3u);
    EXPECT_EQ(World().pauses.size(), 3u);
    const std::string relaunch = "Process didn't run, need to relaunch it !\n";
    EXPECT_EQ(out.str(), relaunch + relaunch + relaunch);
}

TEST_F(SupervisionCycleTest, IdleCopiesAreKilledOnePerCycleAndLaunchedOnlyWhenNoneIsLeft) {
    const host::ProcessId first = StartWatchedApplication();
    const host::ProcessId second = StartWatchedApplication();
    const host::ProcessId third = StartWatchedApplication();
    RunCycles(3);
    ASSERT_EQ(World().terminations.size(), 3u);
    EXPECT_EQ(World().terminations[0].processId, third);
    EXPECT_EQ(World().terminations[1].processId, second);
    EXPECT_EQ(World().terminations[2].processId, first);
    EXPECT_TRUE(World().launchRequests.empty());
    RunCycles(1);
    EXPECT_EQ(World().launchRequests.size(), 1u);
    EXPECT_EQ(World().pauses.size(), 4u);
}

TEST_F(SupervisionCycleTest, ApplicationAbsentAtStartIsLaunchedAfterOnePauseAndThenSupervised) {
    RunCycles(1);
    EXPECT_EQ(World().clockMs, 60000u);
    ASSERT_EQ(World().launchedProcesses.size(), 1u);
    const host::ProcessId launched = World().launchedProcesses[0];
    out.str("");
    RunCycles(1);  // the new copy has no log and no work file yet
    EXPECT_EQ(out.str(),
              "Process run. PID : " + std::to_string(launched) + "\nKilling " + std::to_string(launched) + "\n0\n");
    EXPECT_EQ(World().clockMs, 120000u);
}

TEST_F(SupervisionCycleTest, WorkFileThatStaysForeverKeepsTheApplicationAlive) {
    const host::ProcessId id = StartWatchedApplication();
    PutWorkFile();
    RunCycles(50);
    EXPECT_TRUE(World().terminations.empty());
    EXPECT_TRUE(sim::IsRunning(id));
}

// A device that accepts a few characters and then refuses everything.
class FailingDevice : public std::streambuf {
public:
    int accepted = 0;
    int attempts = 0;

protected:
    int_type overflow(int_type c) override {
        ++attempts;
        if (accepted >= 10) return traits_type::eof();
        ++accepted;
        return traits_type::not_eof(c);
    }
};

TEST_F(SupervisionCycleTest, FailedOutputDropsLaterLinesAndSupervisionGoesOn) {
    FailingDevice device;
    std::ostream failingOut(&device);
    watchdog::StartUp(failingOut);
    EXPECT_TRUE(failingOut.bad());
    const int attemptsAfterFailure = device.attempts;

    for (int i = 0; i < 4; ++i) watchdog::RunSupervisionCycle(baseline, failingOut);  // launch, kill, launch, kill
    EXPECT_EQ(World().launchedProcesses.size(), 2u);
    EXPECT_EQ(World().terminations.size(), 2u);
    EXPECT_EQ(device.attempts, attemptsAfterFailure);
}

}  // namespace
