#include "watchdog/report_line.h"

#include <ostream>

namespace watchdog {
namespace {

// '\n' becomes CR LF on a text-mode Windows stream; flush() hands the line to the OS.
void EndLine(std::ostream& out) {
    out << '\n';
    out.flush();
}

}  // namespace

std::string FormatWindowHandle(host::WindowHandle window) {
    // Built by hand: the toolchains' own pointer formatting differs (0x prefix, lowercase,
    // a bare 0 for null).
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text(sizeof(void*) * 2, '0');
    for (std::size_t i = text.size(); i > 0 && window != 0; --i) {
        text[i - 1] = kDigits[window & 0xF];
        window >>= 4;
    }
    return text;
}

std::uint64_t FileSizeBytes(host::FileSize size) {
    return (static_cast<std::uint64_t>(size.high) << 32) | size.low;
}

void ReportWindowHandle(std::ostream& out, host::WindowHandle window) {
    out << "WinHandle : " << FormatWindowHandle(window);
    EndLine(out);
}

void ReportRelaunch(std::ostream& out) {
    out << "Process didn't run, need to relaunch it !";
    EndLine(out);
}

void ReportProcessRunning(std::ostream& out, host::ProcessId processId) {
    out << "Process run. PID : " << processId;
    EndLine(out);
}

void ReportSqlFileFound(std::ostream& out) {
    out << "SQL file found, assuming working.";
    EndLine(out);
}

void ReportLogGrowth(std::ostream& out, std::uint64_t oldSize, std::uint64_t newSize) {
    out << "Log file still touch, old size : " << oldSize << " new size : " << newSize;
    EndLine(out);
}

void ReportKilling(std::ostream& out, host::ProcessId processId) {
    out << "Killing " << processId;
    EndLine(out);
}

void ReportErrorCode(std::ostream& out, host::ErrorCode code) {
    out << code;
    EndLine(out);
}

}  // namespace watchdog
