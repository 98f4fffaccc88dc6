#include "watchdog/process_lookup.h"

#include "host/watched_application.h"

namespace watchdog {
namespace {

char16_t FoldAsciiCase(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; }

// Calls onWatchedEntry(processId) for every snapshot entry with the watched image name, in
// snapshot order, then closes the snapshot.
template <typename OnWatchedEntry>
void ForEachWatchedProcess(OnWatchedEntry onWatchedEntry) {
    const host::SnapshotHandle snapshot = host::CreateProcessSnapshot();
    if (snapshot.value == host::kNoHandle) return;

    host::ProcessEntry entry;
    for (bool stored = host::FirstProcessEntry(snapshot, entry); stored;
         stored = host::NextProcessEntry(snapshot, entry)) {
        if (IsWatchedImageName(entry.exeFile)) onWatchedEntry(entry.processId);
    }
    host::CloseSnapshot(snapshot);
}

}  // namespace

bool IsWatchedImageName(const char16_t* exeFile) {
    const char16_t* expected = watched_application::kImageName;
    for (int i = 0; i < host::kExeFileNameLength; ++i) {
        if (FoldAsciiCase(exeFile[i]) != FoldAsciiCase(expected[i])) return false;
        if (expected[i] == u'\0') return true;
    }
    return false;  // no terminator within the field
}

bool FindWatchedProcess(host::ProcessId& processId) {
    bool found = false;
    ForEachWatchedProcess([&](host::ProcessId id) {
        found = true;
        processId = id;  // the walk goes on: the last match wins
    });
    return found;
}

bool IsWatchedProcessId(host::ProcessId processId) {
    bool listed = false;
    ForEachWatchedProcess([&](host::ProcessId id) { listed = listed || id == processId; });
    return listed;
}

}  // namespace watchdog
