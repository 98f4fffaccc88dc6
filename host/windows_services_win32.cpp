// The real Windows services behind windows_services.h: the one file of the watchdog that
// includes Windows headers. It holds thin wrappers only; every decision stays in watchdog/.
// Each wrapper maps its call's failure value onto kNoHandle and leaves the thread's
// last-error code as the failed call set it.
#include "host/windows_services.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstring>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 code units");
static_assert(sizeof(HANDLE) == sizeof(std::uintptr_t), "handles travel as uintptr_t");
static_assert(sizeof(PROCESSENTRY32W::szExeFile) == sizeof(host::ProcessEntry::exeFile),
              "szExeFile is copied whole");
#if !defined(_WIN64)
// The record sizes the 32-bit product passes to the platform.
static_assert(sizeof(PROCESSENTRY32W) == 556, "PROCESSENTRY32W");
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "SHELLEXECUTEINFOW");
#endif

namespace host {
namespace {

HANDLE ToWin32(std::uintptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::uintptr_t FromWin32(HANDLE handle, HANDLE failureValue) {
    return handle == failureValue ? kNoHandle : reinterpret_cast<std::uintptr_t>(handle);
}

const wchar_t* AsWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

bool CopyProcessEntry(BOOL stored, const PROCESSENTRY32W& win32Entry, ProcessEntry& entry) {
    if (!stored) return false;
    entry.processId = win32Entry.th32ProcessID;
    std::memcpy(entry.exeFile, win32Entry.szExeFile, sizeof(entry.exeFile));
    return true;
}

}  // namespace

WindowHandle GetConsoleWindowHandle() { return reinterpret_cast<WindowHandle>(::GetConsoleWindow()); }

void HideWindow(WindowHandle window) { ::ShowWindow(reinterpret_cast<HWND>(window), SW_HIDE); }

SnapshotHandle CreateProcessSnapshot() {
    return {FromWin32(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), INVALID_HANDLE_VALUE)};
}

bool FirstProcessEntry(SnapshotHandle snapshot, ProcessEntry& entry) {
    PROCESSENTRY32W win32Entry;
    win32Entry.dwSize = sizeof(win32Entry);
    return CopyProcessEntry(::Process32FirstW(ToWin32(snapshot.value), &win32Entry), win32Entry, entry);
}

bool NextProcessEntry(SnapshotHandle snapshot, ProcessEntry& entry) {
    PROCESSENTRY32W win32Entry;
    win32Entry.dwSize = sizeof(win32Entry);
    return CopyProcessEntry(::Process32NextW(ToWin32(snapshot.value), &win32Entry), win32Entry, entry);
}

void CloseSnapshot(SnapshotHandle snapshot) { ::CloseHandle(ToWin32(snapshot.value)); }

SearchHandle FindFirstEntry(const char16_t* pathOrPattern, FileSize& size) {
    WIN32_FIND_DATAW findData;
    const HANDLE search = ::FindFirstFileW(AsWide(pathOrPattern), &findData);
    if (search == INVALID_HANDLE_VALUE) return {kNoHandle};
    size = {findData.nFileSizeLow, findData.nFileSizeHigh};
    return {FromWin32(search, INVALID_HANDLE_VALUE)};
}

void CloseSearch(SearchHandle search) { ::FindClose(ToWin32(search.value)); }

ErrorCode GetLastErrorCode() { return ::GetLastError(); }

void SetLastErrorCode(ErrorCode code) { ::SetLastError(code); }

void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void LaunchFile(const char16_t* file) {
    SHELLEXECUTEINFOW request;
    std::memset(&request, 0, sizeof(request));
    request.cbSize = sizeof(request);
    request.fMask = 0;  // no process handle back; the platform may show its own error message
    request.hwnd = nullptr;
    request.lpVerb = nullptr;  // the file's default verb
    request.lpFile = AsWide(file);
    request.lpParameters = nullptr;
    request.lpDirectory = nullptr;
    request.nShow = SW_SHOWNORMAL;  // what a double-click gives
    ::ShellExecuteExW(&request);
}

ProcessHandle OpenProcessToTerminate(ProcessId processId) {
    return {FromWin32(::OpenProcess(PROCESS_TERMINATE, FALSE, processId), nullptr)};
}

void TerminateProcess(ProcessHandle process, std::uint32_t exitCode) {
    ::TerminateProcess(ToWin32(process.value), exitCode);
}

void CloseProcess(ProcessHandle process) { ::CloseHandle(ToWin32(process.value)); }

}  // namespace host
