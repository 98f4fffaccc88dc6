// Every handle the watchdog opens is closed on every path: each host call is made to fail in
// turn, in every state of the world a cycle can meet. The fixture's TearDown checks the ledger.
#include <functional>

#include "simulated_windows_test.h"
#include "watchdog/supervision_cycle.h"

namespace {

using sim::HostCall;

class HandleHygieneTest : public SimulatedWindowsTest {};

TEST_F(HandleHygieneTest, NoHandleOutlivesACycleWhateverCallFails) {
    const HostCall everyCall[] = {
        HostCall::GetConsoleWindow, HostCall::HideWindow, HostCall::CreateSnapshot, HostCall::FirstProcessEntry,
        HostCall::NextProcessEntry, HostCall::CloseSnapshot, HostCall::FindFirstEntry, HostCall::CloseSearch,
        HostCall::Sleep, HostCall::LaunchFile, HostCall::OpenProcess, HostCall::TerminateProcess,
        HostCall::CloseProcess,
    };
    struct Shape {
        const char* name;
        std::function<void()> apply;
    };
    const Shape shapes[] = {
        {"absent", [] {}},
        {"working on a file", [] { StartWatchedApplication(); PutWorkFile(); }},
        {"log growing", [] { StartWatchedApplication(); PutLog(77); }},
        {"idle", [] { StartWatchedApplication(); PutLog(0); }},
        {"idle, ends during the pause", [] {
             const host::ProcessId id = StartWatchedApplication();
             sim::TheWorld().duringPause = [id] { sim::EndProcess(id); };
         }},
        {"idle, id reused during the pause", [] {
             const host::ProcessId id = StartWatchedApplication();
             sim::TheWorld().duringPause = [id] {
                 sim::EndProcess(id);
                 sim::StartProcessWithId(id, u"calc.exe");
             };
         }},
    };
    for (const HostCall failing : everyCall) {
        for (const Shape& shape : shapes) {
            SCOPED_TRACE(std::string(sim::HostCallName(failing)) + " fails, world " + shape.name);
            sim::ResetWorld();
            shape.apply();
            World().failWith = [failing](HostCall call) { return call == failing ? sim::kErrorAccessDenied : 0u; };

            std::ostringstream lines;
            watchdog::LogSizeBaseline baseline{};
            watchdog::StartUp(lines);
            for (int cycle = 0; cycle < 3; ++cycle) {
                watchdog::RunSupervisionCycle(baseline, lines);
                EXPECT_TRUE(World().openHandles.empty()) << "after cycle " << cycle + 1;
            }
            EXPECT_TRUE(World().handleMisuse.empty());
            EXPECT_EQ(World().pauses.size(), 3u);
        }
    }
}

}  // namespace
