// The Windows operations the watchdog's logic calls, in the logic's own small types.
//
// This header includes no Windows header. Two implementations stand behind it, chosen at
// link time: windows_services_win32.cpp over the real Win32 API, and the simulated Windows
// under tests/ that the native unit tests link instead.
//
// Every handle kind here has exactly one invalid value, kNoHandle, whatever the Win32 call
// behind it returns on failure (INVALID_HANDLE_VALUE for Toolhelp and FindFirstFileW, null
// for OpenProcess). A failed call leaves its reason in the thread's last-error code, to be
// read with GetLastErrorCode() before anything else is called.
#pragma once

#include <cstdint>

namespace host {

using ProcessId = std::uint32_t;
using ErrorCode = std::uint32_t;
using WindowHandle = std::uintptr_t;

constexpr std::uintptr_t kNoHandle = 0;

struct SnapshotHandle { std::uintptr_t value; };
struct SearchHandle { std::uintptr_t value; };
struct ProcessHandle { std::uintptr_t value; };

constexpr ErrorCode kErrorFileNotFound = 2;  // ERROR_FILE_NOT_FOUND

// szExeFile is MAX_PATH wide characters.
constexpr int kExeFileNameLength = 260;

struct ProcessEntry {
    ProcessId processId;
    char16_t exeFile[kExeFileNameLength];  // file name only, no folder
};

struct FileSize {
    std::uint32_t low;
    std::uint32_t high;
};

// Console window.
WindowHandle GetConsoleWindowHandle();          // 0 when the process has no console window
void HideWindow(WindowHandle window);           // ShowWindow(SW_HIDE); result ignored

// Process snapshot (Toolhelp).
SnapshotHandle CreateProcessSnapshot();         // all processes; kNoHandle on failure
bool FirstProcessEntry(SnapshotHandle snapshot, ProcessEntry& entry);
bool NextProcessEntry(SnapshotHandle snapshot, ProcessEntry& entry);
void CloseSnapshot(SnapshotHandle snapshot);

// Directory search. On success, size holds the first matching entry's size.
SearchHandle FindFirstEntry(const char16_t* pathOrPattern, FileSize& size);
void CloseSearch(SearchHandle search);

// Thread's last-error code.
ErrorCode GetLastErrorCode();
void SetLastErrorCode(ErrorCode code);

void Sleep(std::uint32_t milliseconds);

// ShellExecuteExW with the file's default verb, no arguments, no working directory, no mask
// flags and SW_SHOWNORMAL. Result ignored: the new process is neither waited for nor checked.
void LaunchFile(const char16_t* file);

// Process control. OpenProcessToTerminate asks for PROCESS_TERMINATE only, no inheritance.
ProcessHandle OpenProcessToTerminate(ProcessId processId);
void TerminateProcess(ProcessHandle process, std::uint32_t exitCode);  // result ignored
void CloseProcess(ProcessHandle process);

}  // namespace host
