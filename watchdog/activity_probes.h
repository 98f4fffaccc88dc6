// The two signs that a running watched application is still at work. Each probe writes its
// own report line when it answers yes and nothing when it answers no.
#pragma once

#include <iosfwd>

#include "host/windows_services.h"

namespace watchdog {

// The log file's size at the last look that found it; zero when the program starts.
struct LogSizeBaseline {
    host::FileSize size;
};

// True when an entry matches the work-file pattern, or when the search fails for any reason
// other than finding nothing (a missing or unreadable temp folder must not get the
// application killed).
bool ProbeSqlWorkFiles(std::ostream& out);

// True when the log file's size differs from the baseline; any change counts, a smaller size
// too. A missing log file counts as no change and keeps the baseline.
bool ProbeLogGrowth(LogSizeBaseline& baseline, std::ostream& out);

}  // namespace watchdog
