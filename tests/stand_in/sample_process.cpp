// Prints one line of figures about the process with the given executable file name:
//   sample_process.exe <image name>
//   pid=<id> handles=<n> listed_handles=<n> working_set=<bytes> private=<bytes>
//   committed_private=<bytes> kernel_100ns=<n> user_100ns=<n>
// handles and private are what GetProcessHandleCount and GetProcessMemoryInfo say (-1 when the
// call fails; Wine answers 0 for both). listed_handles counts the process's entries in the
// system handle list, and committed_private adds up its committed private regions
// (VirtualQueryEx): the same facts, by calls Wine implements.
// Exit code 1 when no such process runs or it cannot be opened.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <vector>
#include <cwchar>

namespace {

DWORD FindProcessId(const wchar_t* imageName) {
    DWORD found = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL stored = Process32FirstW(snapshot, &entry); stored; stored = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, imageName) == 0) found = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

// The system handle list (NtQuerySystemInformation, class 16), counted for one process.
struct HandleEntry {
    USHORT ownerProcessId;
    USHORT creatorBackTraceIndex;
    UCHAR objectTypeIndex;
    UCHAR handleAttributes;
    USHORT handleValue;
    PVOID object;
    ULONG grantedAccess;
};
struct HandleList {
    ULONG count;
    HandleEntry entries[1];
};
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

long long ListedHandles(DWORD pid) {
    const auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(16, buffer.data(), ULONG(buffer.size()), &needed);
        if (status == LONG(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) return -1;
        break;
    }
    const HandleList* list = reinterpret_cast<const HandleList*>(buffer.data());
    long long count = 0;
    for (ULONG i = 0; i < list->count; ++i) count += list->entries[i].ownerProcessId == USHORT(pid);
    return count;
}

unsigned long long CommittedPrivateBytes(HANDLE process) {
    unsigned long long total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr;
         VirtualQueryEx(process, address, &region, sizeof(region)) == sizeof(region);
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    }
    return total;
}

ULONGLONG Ticks(const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: sample_process <image name>\n");
        return 2;
    }
    const DWORD pid = FindProcessId(argv[1]);
    if (pid == 0) return 1;
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) return 1;

    DWORD handles = 0;
    const long long handleCount = GetProcessHandleCount(process, &handles) ? (long long)handles : -1;
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    const bool haveMemory =
        GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
    const unsigned long long committedPrivate = CommittedPrivateBytes(process);
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process, &created, &exited, &kernel, &user);
    CloseHandle(process);

    std::printf("pid=%lu handles=%lld listed_handles=%lld working_set=%lld private=%lld committed_private=%llu "
                "kernel_100ns=%llu user_100ns=%llu\n",
                pid, handleCount, ListedHandles(pid), haveMemory ? (long long)memory.WorkingSetSize : -1LL,
                haveMemory ? (long long)memory.PrivateUsage : -1LL, committedPrivate, Ticks(kernel), Ticks(user));
    return 0;
}
