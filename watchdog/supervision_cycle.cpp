#include "watchdog/supervision_cycle.h"

#include "host/watched_application.h"
#include "watchdog/process_lookup.h"
#include "watchdog/report_line.h"

namespace watchdog {

void StartUp(std::ostream& out) {
    const host::WindowHandle console = host::GetConsoleWindowHandle();
    host::HideWindow(console);
    ReportWindowHandle(out, console);
}

void RunSupervisionCycle(LogSizeBaseline& baseline, std::ostream& out) {
    WatchedProcessInfo watched{false, 0};
    watched.found = FindWatchedProcess(watched.processId);

    // Every decision below rests on the lookup made before the pause.
    host::Sleep(kCyclePauseMs);

    if (!watched.found) {
        RelaunchWatchedApplication(out);
        return;
    }
    ReportProcessRunning(out, watched.processId);
    if (ProbeSqlWorkFiles(out)) return;
    if (ProbeLogGrowth(baseline, out)) return;
    KillWatchedProcess(watched.processId, out);
}

void RelaunchWatchedApplication(std::ostream& out) {
    ReportRelaunch(out);
    host::ProcessId startedByAnotherHand;
    if (FindWatchedProcess(startedByAnotherHand)) return;  // never run a second copy
    host::LaunchFile(watched_application::kInstalledExecutable);
}

void KillWatchedProcess(host::ProcessId processId, std::ostream& out) {
    ReportKilling(out, processId);

    // Cleared first, so that a successful open reports 0 rather than a code left by a probe.
    host::SetLastErrorCode(0);
    const host::ProcessHandle process = host::OpenProcessToTerminate(processId);
    const host::ErrorCode openError = host::GetLastErrorCode();
    ReportErrorCode(out, openError);
    if (process.value == host::kNoHandle) return;

    // The id was seen before the pause. While this handle is held it cannot pass to another
    // process, so a fresh look now tells whether it is still the watched application.
    if (IsWatchedProcessId(processId)) host::TerminateProcess(process, watched_application::kTerminationExitCode);
    host::CloseProcess(process);
}

}  // namespace watchdog
