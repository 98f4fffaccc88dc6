#include "watchdog/activity_probes.h"

#include "host/watched_application.h"
#include "watchdog/report_line.h"

namespace watchdog {

bool ProbeSqlWorkFiles(std::ostream& out) {
    host::FileSize unusedSize;
    const host::SearchHandle search = host::FindFirstEntry(watched_application::kWorkFilePattern, unusedSize);
    if (search.value == host::kNoHandle) {
        const host::ErrorCode error = host::GetLastErrorCode();
        if (error == host::kErrorFileNotFound) return false;
    } else {
        host::CloseSearch(search);
    }
    ReportSqlFileFound(out);
    return true;
}

bool ProbeLogGrowth(LogSizeBaseline& baseline, std::ostream& out) {
    const host::FileSize oldSize = baseline.size;
    host::FileSize newSize;
    const host::SearchHandle search = host::FindFirstEntry(watched_application::kLogFilePath, newSize);
    if (search.value == host::kNoHandle) return false;
    host::CloseSearch(search);

    baseline.size = newSize;
    if (newSize.low == oldSize.low && newSize.high == oldSize.high) return false;
    ReportLogGrowth(out, FileSizeBytes(oldSize), FileSizeBytes(newSize));
    return true;
}

}  // namespace watchdog
