// The watchdog's one loop: look for the watched application's process, pause, then act on
// what the look found: launch the application when it was absent, leave it alone while it
// shows a sign of work, kill it when it shows none (the next cycle then launches it afresh).
#pragma once

#include <cstdint>
#include <iosfwd>

#include "host/windows_services.h"
#include "watchdog/activity_probes.h"

#ifndef WATCHDOG_CYCLE_PAUSE_MS
#define WATCHDOG_CYCLE_PAUSE_MS 60000  // only test builds of the program shorten it
#endif

namespace watchdog {

constexpr std::uint32_t kCyclePauseMs = WATCHDOG_CYCLE_PAUSE_MS;

// Hides the console window and reports its handle.
void StartUp(std::ostream& out);

// One cycle: lookup, one pause of kCyclePauseMs, then the action that the lookup calls for.
void RunSupervisionCycle(LogSizeBaseline& baseline, std::ostream& out);

// The absent path. Skips the launch when a copy has appeared during the pause.
void RelaunchWatchedApplication(std::ostream& out);

// The idle path. Terminates processId only while it still belongs to the watched application.
void KillWatchedProcess(host::ProcessId processId, std::ostream& out);

}  // namespace watchdog
