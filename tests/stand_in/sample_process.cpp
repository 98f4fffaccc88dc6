// Prints one line of figures about the process with the given executable file name:
//   sample_process.exe <image name>
//   pid=<id> handles=<count> working_set=<bytes> private=<bytes> kernel_100ns=<n> user_100ns=<n>
// Exit code 1 when no such process runs or it cannot be opened.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>

namespace {

DWORD FindProcessId(const wchar_t* imageName) {
    DWORD found = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL stored = Process32FirstW(snapshot, &entry); stored; stored = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, imageName) == 0) found = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

ULONGLONG Ticks(const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: sample_process <image name>\n");
        return 2;
    }
    const DWORD pid = FindProcessId(argv[1]);
    if (pid == 0) return 1;
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) return 1;

    DWORD handles = 0;
    GetProcessHandleCount(process, &handles);
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process, &created, &exited, &kernel, &user);
    CloseHandle(process);

    std::printf("pid=%lu handles=%lu working_set=%llu private=%llu kernel_100ns=%llu user_100ns=%llu\n", pid, handles,
                (unsigned long long)memory.WorkingSetSize, (unsigned long long)memory.PrivateUsage, Ticks(kernel),
                Ticks(user));
    return 0;
}
