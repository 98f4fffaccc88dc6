// A stand-in for the watched application, for tests and demonstrations under Wine.
//
// Each start appends one line to C:\stand-in\starts.txt:
//   pid=<id>|path=<own path>|cwd=<working directory>|cmdline=<command line>
// Then, when C:\stand-in\work-seconds.txt holds a number N, it appends a line to the log
// C:\Windows\Temp\Tessavine.log once a second for N seconds (the watchdog sees it at work);
// after that, or at once without the file, it hangs. It ends with exit code 0 when
// C:\stand-in\stop-<pid> appears.
#include <windows.h>

#include <string>

namespace {

const wchar_t kStartsFile[] = L"C:\\stand-in\\starts.txt";
const wchar_t kWorkSecondsFile[] = L"C:\\stand-in\\work-seconds.txt";
const wchar_t kLogFile[] = L"C:\\Windows\\Temp\\Tessavine.log";

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &utf8[0], length, nullptr, nullptr);
    return utf8;
}

void AppendToFile(const wchar_t* path, const std::string& text) {
    const HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
}

int ReadWorkSeconds() {
    const HANDLE file = CreateFileW(kWorkSecondsFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    char digits[16] = {};
    DWORD read = 0;
    ReadFile(file, digits, sizeof(digits) - 1, &read, nullptr);
    CloseHandle(file);
    return atoi(digits);
}

bool StopRequested(const std::wstring& stopFile) { return GetFileAttributesW(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    wchar_t ownPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    wchar_t workingDirectory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, workingDirectory);
    const DWORD pid = GetCurrentProcessId();

    CreateDirectoryW(L"C:\\stand-in", nullptr);
    AppendToFile(kStartsFile, "pid=" + std::to_string(pid) + "|path=" + ToUtf8(ownPath) + "|cwd=" +
                                  ToUtf8(workingDirectory) + "|cmdline=" + ToUtf8(GetCommandLineW()) + "\n");

    const std::wstring stopFile = L"C:\\stand-in\\stop-" + std::to_wstring(pid);
    const DWORD workUntil = GetTickCount() + DWORD(ReadWorkSeconds()) * 1000;
    DWORD nextLogLine = GetTickCount();
    while (!StopRequested(stopFile)) {
        const DWORD now = GetTickCount();
        if (LONG(workUntil - now) > 0 && LONG(now - nextLogLine) >= 0) {
            AppendToFile(kLogFile, "stand-in " + std::to_string(pid) + " at work\n");
            nextLogLine = now + 1000;
        }
        Sleep(50);
    }
    return 0;
}
