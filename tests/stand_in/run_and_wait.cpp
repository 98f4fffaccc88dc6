// Starts a program, writes its process id to a record file, waits for it to end and writes
// its exit code, so that a test can tell how the program ended:
//   run_and_wait.exe <record file> <program> [arguments...]
// The record gets "pid=<id>" once the program runs and "exit=<code>" when it has ended.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: run_and_wait <record file> <program> [arguments...]\n");
        return 2;
    }
    std::wstring commandLine = L"\"" + std::wstring(argv[2]) + L"\"";
    for (int i = 3; i < argc; ++i) commandLine += L" " + std::wstring(argv[i]);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(argv[2], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fwprintf(stderr, L"run_and_wait: cannot start %ls: error %lu\n", argv[2], GetLastError());
        return 3;
    }
    CloseHandle(process.hThread);

    FILE* record = _wfopen(argv[1], L"w");
    if (record) {
        std::fprintf(record, "pid=%lu\n", process.dwProcessId);
        std::fflush(record);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    if (record) {
        std::fprintf(record, "exit=%lu\n", exitCode);
        std::fclose(record);
    }
    return 0;
}
