// Finding the watched application's process by the file name of its executable alone.
#pragma once

#include "host/windows_services.h"

namespace watchdog {

struct WatchedProcessInfo {
    bool found;
    host::ProcessId processId;  // meaningful only when found
};

// True when the name equals the watched image name, ASCII letters compared without case and
// every other code unit exactly. Reads at most kExeFileNameLength code units.
bool IsWatchedImageName(const char16_t* exeFile);

// True when at least one process has the watched image name; processId then holds the id of
// the last such process in the snapshot and is left untouched otherwise. A snapshot that
// cannot be taken or read counts as no process.
bool FindWatchedProcess(host::ProcessId& processId);

// True when a fresh snapshot lists processId under the watched image name.
bool IsWatchedProcessId(host::ProcessId processId);

}  // namespace watchdog
