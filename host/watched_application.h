// What is fixed about the watched application, Tessavine: where it is installed, what its
// process is called and where it leaves signs of work. The watchdog never talks to it.
#pragma once

#include <cstdint>

namespace watched_application {

// Matched against each process's executable file name, whatever folder it runs from.
inline constexpr char16_t kImageName[] = u"Tessavine.exe";

// Launched with its default verb and no arguments.
inline constexpr char16_t kInstalledExecutable[] = u"C:\\Program Files\\Brisquane\\Tessavine.exe";

// Its size changing between two looks counts as work.
inline constexpr char16_t kLogFilePath[] = u"C:\\Windows\\Temp\\Tessavine.log";

// Any entry matching this counts as work in progress.
inline constexpr char16_t kWorkFilePattern[] = u"C:\\Windows\\Temp\\*.sql";

inline constexpr std::uint32_t kTerminationExitCode = 1;

}  // namespace watched_application
