// Tick count and local time from the Windows kernel.
#include "platform/clock.h"

#include <windows.h>

#include <cstring>
#include <ctime>

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

int64_t UnixTimeNow() { return static_cast<int64_t>(_time64(nullptr)); }

int32_t TimeZoneBiasMinutes() {
    TIME_ZONE_INFORMATION zone{};
    GetTimeZoneInformation(&zone);
    return static_cast<int32_t>(zone.Bias);
}

bool UnixTimeToLocal(int64_t seconds, SystemTime& local) {
    const __time64_t value = seconds;
    tm converted{};
    if (_localtime64_s(&converted, &value) != 0) return false;
    local = SystemTime{};
    local.wYear = static_cast<uint16_t>(converted.tm_year + 1900);
    local.wMonth = static_cast<uint16_t>(converted.tm_mon + 1);
    local.wDayOfWeek = static_cast<uint16_t>(converted.tm_wday);
    local.wDay = static_cast<uint16_t>(converted.tm_mday);
    local.wHour = static_cast<uint16_t>(converted.tm_hour);
    local.wMinute = static_cast<uint16_t>(converted.tm_min);
    local.wSecond = static_cast<uint16_t>(converted.tm_sec);
    return true;
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
