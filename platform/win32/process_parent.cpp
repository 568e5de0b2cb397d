// A process's parent from a Toolhelp snapshot of the process table, its start from its times.
#include "platform/process_parent.h"

#include <windows.h>
#include <tlhelp32.h>

namespace platform {

uint32_t ParentProcessId(uint32_t processId) {
    if (processId == 0) return 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    uint32_t parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == processId) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

uint64_t ProcessStartTime(uint32_t processId) {
    if (processId == 0) return 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) return 0;
    FILETIME created{}, exited{}, kernel{}, user{};
    const BOOL read = GetProcessTimes(process, &created, &exited, &kernel, &user);
    CloseHandle(process);
    if (!read) return 0;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace platform
