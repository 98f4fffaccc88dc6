// A simulated Windows behind host/windows_services.h, for the native tests: a process table,
// a file system with sizes, a clock that Sleep advances, a ledger of open handles, and a way
// to make any call fail. One world per test program, reset by each test.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/windows_services.h"

namespace sim {

enum class HostCall {
    GetConsoleWindow, HideWindow,
    CreateSnapshot, FirstProcessEntry, NextProcessEntry, CloseSnapshot,
    FindFirstEntry, CloseSearch,
    Sleep, LaunchFile,
    OpenProcess, TerminateProcess, CloseProcess,
};
const char* HostCallName(HostCall call);

// Platform error codes the simulation gives.
constexpr host::ErrorCode kErrorPathNotFound = 3;
constexpr host::ErrorCode kErrorAccessDenied = 5;
constexpr host::ErrorCode kErrorNoMoreFiles = 18;
constexpr host::ErrorCode kErrorInvalidParameter = 87;

struct Process {
    host::ProcessId id;
    std::u16string exeFile;
};

struct FileEntry {
    std::u16string path;
    std::uint64_t size;
    bool directory;
};

struct Termination {
    host::ProcessId processId;
    std::u16string exeFile;
    std::uint32_t exitCode;
};

enum class HandleKind { Snapshot, Search, Process };

struct OpenHandle {
    HandleKind kind;
    std::vector<Process> snapshotEntries;  // Snapshot: the picture taken at creation
    std::size_t snapshotCursor;
    host::ProcessId processId;              // Process
};

struct World {
    host::WindowHandle consoleWindow = 0x00C0FFEE;
    bool consoleHidden = false;

    std::vector<Process> processes;  // in snapshot order
    host::ProcessId nextProcessId = 1000;

    std::map<std::u16string, FileEntry> files;  // keyed by ASCII-folded path
    std::vector<std::u16string> directories{u"C:\\Windows\\Temp", u"C:\\Program Files\\Brisquane"};
    std::vector<std::u16string> unreadableDirectories;

    std::uint64_t clockMs = 0;
    std::vector<std::uint32_t> pauses;
    std::vector<std::u16string> launchRequests;   // every LaunchFile call, by file
    std::vector<host::ProcessId> launchedProcesses;
    std::size_t launchesBesideARunningCopy = 0;   // launches while a Tessavine.exe was listed
    std::vector<Termination> terminations;
    std::vector<HostCall> calls;                  // every host call, in order

    host::ErrorCode lastError = 0;

    // Returns the error code a call fails with, or 0 to let it run. Unset: nothing fails.
    std::function<host::ErrorCode(HostCall)> failWith;
    // Runs inside Sleep: the world changing while the watchdog waits.
    std::function<void()> duringPause;

    std::map<std::uintptr_t, OpenHandle> openHandles;
    std::uintptr_t nextHandle = 0x100;
    std::vector<std::string> handleMisuse;  // closing or using a handle that is not open
};

World& TheWorld();
void ResetWorld();  // a fresh world with the installed executable in place

host::ProcessId StartProcess(const std::u16string& exeFile);
void StartProcessWithId(host::ProcessId id, const std::u16string& exeFile);  // id reuse
void EndProcess(host::ProcessId id);
bool IsRunning(host::ProcessId id);
std::size_t CountRunning(const std::u16string& exeFile);

void PutFile(const std::u16string& path, std::uint64_t size);
void PutDirectory(const std::u16string& path);  // an entry that is a folder
void RemoveFile(const std::u16string& path);
void RemoveDirectoryTree(const std::u16string& folder);  // the folder itself is gone too

std::size_t CountCalls(HostCall call);

}  // namespace sim
