// Tick count and local time from the Windows kernel.
#include "platform/clock.h"

#include <windows.h>

#include <cstring>

namespace platform {

uint32_t TickCount() { return GetTickCount(); }

SystemTime LocalTime() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    static_assert(sizeof(now) == sizeof(SystemTime), "layouts must match");
    SystemTime st;
    std::memcpy(&st, &now, sizeof(st));
    return st;
}

}  // namespace platform

namespace platform {

bool SystemTimeToFileTime(const SystemTime& time, FileTime& fileTime) {
    if (!IsValidSystemTime(time)) return false;
    SYSTEMTIME in;
    std::memcpy(&in, &time, sizeof(in));
    FILETIME out;
    if (!::SystemTimeToFileTime(&in, &out)) return false;
    fileTime.dwLowDateTime = out.dwLowDateTime;
    fileTime.dwHighDateTime = out.dwHighDateTime;
    return true;
}

}  // namespace platform
