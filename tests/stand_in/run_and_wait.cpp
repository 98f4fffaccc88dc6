// Starts a program, writes its process id to a record file, waits for it to end and writes
// its exit code, so that a test can tell how the program ended:
//   run_and_wait.exe [--closed-stdout] <record file> <program> [arguments...]
// The record gets "pid=<id>" once the program runs and "exit=<code>" when it has ended.
// With --closed-stdout the program's standard output is a handle that was closed before the
// start, as a parent that closed its own output would pass on.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    int first = 1;
    const bool closedStdout = argc > 1 && std::wcscmp(argv[1], L"--closed-stdout") == 0;
    if (closedStdout) ++first;
    if (argc < first + 2) {
        std::fwprintf(stderr, L"usage: run_and_wait [--closed-stdout] <record file> <program> [arguments...]\n");
        return 2;
    }
    const wchar_t* recordPath = argv[first];
    const wchar_t* program = argv[first + 1];
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\"";
    for (int i = first + 2; i < argc; ++i) commandLine += L" " + std::wstring(argv[i]);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (closedStdout) {
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        const HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING, 0, nullptr);
        CloseHandle(nul);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = nul;  // closed: the value names no open object any more
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, &commandLine[0], nullptr, nullptr, closedStdout, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fwprintf(stderr, L"run_and_wait: cannot start %ls: error %lu\n", program, GetLastError());
        return 3;
    }
    CloseHandle(process.hThread);

    FILE* record = _wfopen(recordPath, L"w");
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
