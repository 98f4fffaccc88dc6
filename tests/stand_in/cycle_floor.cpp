// The least a supervision cycle can cost: only the Windows calls one cycle on the watched,
// working path makes (one process snapshot walk, the pause, the two directory searches) and
// nothing else. Prints the CPU time per cycle that GetProcessTimes gives over the loop:
//   cycle_floor.exe <cycles> <pause ms>
//   cycles=<n> cpu_100ns_per_cycle=<x>
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <cstdlib>

namespace {

ULONGLONG CpuTicks() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return ((ULONGLONG(kernel.dwHighDateTime) << 32) | kernel.dwLowDateTime) +
           ((ULONGLONG(user.dwHighDateTime) << 32) | user.dwLowDateTime);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: cycle_floor <cycles> <pause ms>\n");
        return 2;
    }
    const long cycles = std::wcstol(argv[1], nullptr, 10);
    const DWORD pause = DWORD(std::wcstoul(argv[2], nullptr, 10));
    volatile DWORD sink = 0;

    const ULONGLONG start = CpuTicks();
    for (long i = 0; i < cycles; ++i) {
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot != INVALID_HANDLE_VALUE) {
            PROCESSENTRY32W entry;
            entry.dwSize = sizeof(entry);
            for (BOOL stored = Process32FirstW(snapshot, &entry); stored; stored = Process32NextW(snapshot, &entry))
                sink = sink + entry.th32ProcessID;
            CloseHandle(snapshot);
        }
        Sleep(pause);
        WIN32_FIND_DATAW found;
        const HANDLE workFiles = FindFirstFileW(L"C:\\Windows\\Temp\\*.sql", &found);
        if (workFiles != INVALID_HANDLE_VALUE) FindClose(workFiles);
        const HANDLE log = FindFirstFileW(L"C:\\Windows\\Temp\\Tessavine.log", &found);
        if (log != INVALID_HANDLE_VALUE) FindClose(log);
    }
    const ULONGLONG spent = CpuTicks() - start;
    std::printf("cycles=%ld cpu_100ns_per_cycle=%.1f\n", cycles, double(spent) / double(cycles));
    return 0;
}
