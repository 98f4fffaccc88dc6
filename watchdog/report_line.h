// The watchdog's only diagnostics: one short line of 8-bit text per event, written to an
// output stream and flushed at once, so nothing is lost when the program is terminated.
// A stream whose write failed stays failed and every later line is dropped; supervision
// does not depend on the output in any way.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "host/windows_services.h"

namespace watchdog {

// Zero-filled uppercase hexadecimal, one digit per 4 bits of a pointer.
std::string FormatWindowHandle(host::WindowHandle window);

std::uint64_t FileSizeBytes(host::FileSize size);

void ReportWindowHandle(std::ostream& out, host::WindowHandle window);
void ReportRelaunch(std::ostream& out);
void ReportProcessRunning(std::ostream& out, host::ProcessId processId);
void ReportSqlFileFound(std::ostream& out);
void ReportLogGrowth(std::ostream& out, std::uint64_t oldSize, std::uint64_t newSize);
void ReportKilling(std::ostream& out, host::ProcessId processId);
void ReportErrorCode(std::ostream& out, host::ErrorCode code);

}  // namespace watchdog
