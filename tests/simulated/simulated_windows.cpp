// The simulated Windows: implements host/windows_services.h over sim::World.
#include "simulated/simulated_windows.h"

#include <algorithm>
#include <cstring>

#include "host/watched_application.h"

namespace sim {
namespace {

World theWorld;

char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; }

std::u16string FoldPath(std::u16string path) {
    for (char16_t& c : path) c = Fold(c);
    return path;
}

bool SamePath(const std::u16string& a, const std::u16string& b) { return FoldPath(a) == FoldPath(b); }

std::u16string ParentFolder(const std::u16string& path) {
    const std::size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

std::u16string LeafName(const std::u16string& path) {
    const std::size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

// '*' and '?' wildcards, ASCII letters without case.
bool MatchesWildcard(const char16_t* pattern, const char16_t* name) {
    if (*pattern == u'\0') return *name == u'\0';
    if (*pattern == u'*') return MatchesWildcard(pattern + 1, name) || (*name && MatchesWildcard(pattern, name + 1));
    if (*name == u'\0') return false;
    if (*pattern != u'?' && Fold(*pattern) != Fold(*name)) return false;
    return MatchesWildcard(pattern + 1, name + 1);
}

bool Contains(const std::vector<std::u16string>& folders, const std::u16string& folder) {
    return std::any_of(folders.begin(), folders.end(), [&](const std::u16string& f) { return SamePath(f, folder); });
}

// Records the call and answers whether an injected failure hits it (setting last-error).
bool Fails(HostCall call) {
    theWorld.calls.push_back(call);
    if (!theWorld.failWith) return false;
    const host::ErrorCode error = theWorld.failWith(call);
    if (error == 0) return false;
    theWorld.lastError = error;
    return true;
}

std::uintptr_t OpenNewHandle(OpenHandle handle) {
    const std::uintptr_t value = theWorld.nextHandle;
    theWorld.nextHandle += 4;
    theWorld.openHandles.emplace(value, std::move(handle));
    return value;
}

OpenHandle* FindOpenHandle(std::uintptr_t value, HandleKind kind, const char* user) {
    auto it = theWorld.openHandles.find(value);
    if (it == theWorld.openHandles.end() || it->second.kind != kind) {
        theWorld.handleMisuse.push_back(std::string(user) + " on a handle that is not open: " + std::to_string(value));
        return nullptr;
    }
    return &it->second;
}

void CloseOpenHandle(std::uintptr_t value, HandleKind kind, const char* closer) {
    if (FindOpenHandle(value, kind, closer)) theWorld.openHandles.erase(value);
}

bool StoreSnapshotEntry(host::SnapshotHandle snapshot, host::ProcessEntry& entry, const char* user) {
    OpenHandle* handle = FindOpenHandle(snapshot.value, HandleKind::Snapshot, user);
    if (!handle) return false;
    if (handle->snapshotCursor >= handle->snapshotEntries.size()) {
        theWorld.lastError = kErrorNoMoreFiles;
        return false;
    }
    const Process& process = handle->snapshotEntries[handle->snapshotCursor++];
    entry.processId = process.id;
    std::fill(std::begin(entry.exeFile), std::end(entry.exeFile), u'\0');
    std::copy_n(process.exeFile.begin(), std::min<std::size_t>(process.exeFile.size(), host::kExeFileNameLength - 1),
                entry.exeFile);
    return true;
}

bool HeldByProcessHandle(host::ProcessId id) {
    return std::any_of(theWorld.openHandles.begin(), theWorld.openHandles.end(), [&](const auto& h) {
        return h.second.kind == HandleKind::Process && h.second.processId == id;
    });
}

}  // namespace

const char* HostCallName(HostCall call) {
    switch (call) {
        case HostCall::GetConsoleWindow: return "GetConsoleWindow";
        case HostCall::HideWindow: return "HideWindow";
        case HostCall::CreateSnapshot: return "CreateSnapshot";
        case HostCall::FirstProcessEntry: return "FirstProcessEntry";
        case HostCall::NextProcessEntry: return "NextProcessEntry";
        case HostCall::CloseSnapshot: return "CloseSnapshot";
        case HostCall::FindFirstEntry: return "FindFirstEntry";
        case HostCall::CloseSearch: return "CloseSearch";
        case HostCall::Sleep: return "Sleep";
        case HostCall::LaunchFile: return "LaunchFile";
        case HostCall::OpenProcess: return "OpenProcess";
        case HostCall::TerminateProcess: return "TerminateProcess";
        case HostCall::CloseProcess: return "CloseProcess";
    }
    return "?";
}

World& TheWorld() { return theWorld; }

void ResetWorld() {
    theWorld = World{};
    PutFile(watched_application::kInstalledExecutable, 40960);
}

host::ProcessId StartProcess(const std::u16string& exeFile) {
    const host::ProcessId id = theWorld.nextProcessId;
    theWorld.nextProcessId += 4;
    theWorld.processes.push_back({id, exeFile});
    return id;
}

void StartProcessWithId(host::ProcessId id, const std::u16string& exeFile) {
    // Windows does not give an id to a new process while a handle to the old one is open.
    if (IsRunning(id) || HeldByProcessHandle(id)) {
        theWorld.handleMisuse.push_back("the test reused id " + std::to_string(id) + " while it was still taken");
        return;
    }
    theWorld.processes.push_back({id, exeFile});
}

void EndProcess(host::ProcessId id) {
    auto& processes = theWorld.processes;
    processes.erase(std::remove_if(processes.begin(), processes.end(), [&](const Process& p) { return p.id == id; }),
                    processes.end());
}

bool IsRunning(host::ProcessId id) {
    return std::any_of(theWorld.processes.begin(), theWorld.processes.end(), [&](const Process& p) { return p.id == id; });
}

std::size_t CountRunning(const std::u16string& exeFile) {
    return std::count_if(theWorld.processes.begin(), theWorld.processes.end(),
                         [&](const Process& p) { return p.exeFile == exeFile; });
}

void PutFile(const std::u16string& path, std::uint64_t size) { theWorld.files[FoldPath(path)] = {path, size, false}; }

void PutDirectory(const std::u16string& path) { theWorld.files[FoldPath(path)] = {path, 0, true}; }

void RemoveFile(const std::u16string& path) { theWorld.files.erase(FoldPath(path)); }

void RemoveDirectoryTree(const std::u16string& folder) {
    auto& folders = theWorld.directories;
    folders.erase(std::remove_if(folders.begin(), folders.end(), [&](const std::u16string& f) { return SamePath(f, folder); }),
                  folders.end());
    for (auto it = theWorld.files.begin(); it != theWorld.files.end();) {
        it = SamePath(ParentFolder(it->second.path), folder) ? theWorld.files.erase(it) : std::next(it);
    }
}

std::size_t CountCalls(HostCall call) { return std::count(theWorld.calls.begin(), theWorld.calls.end(), call); }

}  // namespace sim

// ---- host/windows_services.h over the simulated world ----
namespace host {

using sim::Fails;
using sim::HostCall;
using sim::theWorld;

WindowHandle GetConsoleWindowHandle() { return Fails(HostCall::GetConsoleWindow) ? 0 : theWorld.consoleWindow; }

void HideWindow(WindowHandle window) {
    if (Fails(HostCall::HideWindow)) return;
    if (window != 0 && window == theWorld.consoleWindow) theWorld.consoleHidden = true;
}

SnapshotHandle CreateProcessSnapshot() {
    if (Fails(HostCall::CreateSnapshot)) return {kNoHandle};
    return {sim::OpenNewHandle({sim::HandleKind::Snapshot, theWorld.processes, 0, 0})};
}

bool FirstProcessEntry(SnapshotHandle snapshot, ProcessEntry& entry) {
    if (Fails(HostCall::FirstProcessEntry)) return false;
    if (sim::OpenHandle* handle = sim::FindOpenHandle(snapshot.value, sim::HandleKind::Snapshot, "FirstProcessEntry"))
        handle->snapshotCursor = 0;
    return sim::StoreSnapshotEntry(snapshot, entry, "FirstProcessEntry");
}

bool NextProcessEntry(SnapshotHandle snapshot, ProcessEntry& entry) {
    if (Fails(HostCall::NextProcessEntry)) return false;
    return sim::StoreSnapshotEntry(snapshot, entry, "NextProcessEntry");
}

void CloseSnapshot(SnapshotHandle snapshot) {
    Fails(HostCall::CloseSnapshot);  // a failed close still frees nothing twice: the handle is gone
    sim::CloseOpenHandle(snapshot.value, sim::HandleKind::Snapshot, "CloseSnapshot");
}

SearchHandle FindFirstEntry(const char16_t* pathOrPattern, FileSize& size) {
    if (Fails(HostCall::FindFirstEntry)) return {kNoHandle};
    const std::u16string pattern(pathOrPattern);
    const std::u16string folder = sim::ParentFolder(pattern);
    if (!sim::Contains(theWorld.directories, folder)) {
        theWorld.lastError = sim::kErrorPathNotFound;
        return {kNoHandle};
    }
    if (sim::Contains(theWorld.unreadableDirectories, folder)) {
        theWorld.lastError = sim::kErrorAccessDenied;
        return {kNoHandle};
    }
    const std::u16string leafPattern = sim::LeafName(pattern);
    for (const auto& [key, file] : theWorld.files) {
        if (sim::SamePath(sim::ParentFolder(file.path), folder) &&
            sim::MatchesWildcard(leafPattern.c_str(), sim::LeafName(file.path).c_str())) {
            size = {static_cast<std::uint32_t>(file.size), static_cast<std::uint32_t>(file.size >> 32)};
            return {sim::OpenNewHandle({sim::HandleKind::Search, {}, 0, 0})};
        }
    }
    theWorld.lastError = kErrorFileNotFound;
    return {kNoHandle};
}

void CloseSearch(SearchHandle search) {
    Fails(HostCall::CloseSearch);
    sim::CloseOpenHandle(search.value, sim::HandleKind::Search, "CloseSearch");
}

ErrorCode GetLastErrorCode() { return theWorld.lastError; }

void SetLastErrorCode(ErrorCode code) { theWorld.lastError = code; }

void Sleep(std::uint32_t milliseconds) {
    Fails(HostCall::Sleep);
    theWorld.pauses.push_back(milliseconds);
    theWorld.clockMs += milliseconds;
    if (theWorld.duringPause) theWorld.duringPause();
}

void LaunchFile(const char16_t* file) {
    theWorld.launchRequests.push_back(file);
    if (Fails(HostCall::LaunchFile)) return;
    auto installed = theWorld.files.find(sim::FoldPath(file));
    if (installed == theWorld.files.end() || installed->second.directory) {
        theWorld.lastError = kErrorFileNotFound;
        return;
    }
    const std::u16string image = sim::LeafName(installed->second.path);
    const bool copyRunning = std::any_of(theWorld.processes.begin(), theWorld.processes.end(),
                                         [&](const sim::Process& p) { return sim::SamePath(p.exeFile, image); });
    if (copyRunning) ++theWorld.launchesBesideARunningCopy;
    theWorld.launchedProcesses.push_back(sim::StartProcess(image));
}

ProcessHandle OpenProcessToTerminate(ProcessId processId) {
    if (Fails(HostCall::OpenProcess)) return {kNoHandle};
    if (!sim::IsRunning(processId)) {
        theWorld.lastError = sim::kErrorInvalidParameter;  // what Windows says for an id no process has
        return {kNoHandle};
    }
    return {sim::OpenNewHandle({sim::HandleKind::Process, {}, 0, processId})};
}

void TerminateProcess(ProcessHandle process, std::uint32_t exitCode) {
    if (Fails(HostCall::TerminateProcess)) return;
    const sim::OpenHandle* handle = sim::FindOpenHandle(process.value, sim::HandleKind::Process, "TerminateProcess");
    if (!handle) return;
    const ProcessId id = handle->processId;
    auto it = std::find_if(theWorld.processes.begin(), theWorld.processes.end(),
                           [&](const sim::Process& p) { return p.id == id; });
    if (it == theWorld.processes.end()) {
        theWorld.lastError = sim::kErrorAccessDenied;  // already ended
        return;
    }
    theWorld.terminations.push_back({id, it->exeFile, exitCode});
    theWorld.processes.erase(it);
}

void CloseProcess(ProcessHandle process) {
    Fails(HostCall::CloseProcess);
    sim::CloseOpenHandle(process.value, sim::HandleKind::Process, "CloseProcess");
}

}  // namespace host
