// Time as the system sees it: a millisecond tick and the local calendar time.
#pragma once
#include <cstdint>

namespace platform {

// The Windows SYSTEMTIME layout, declared here so that Linux shares it.
struct SystemTime {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
static_assert(sizeof(SystemTime) == 16, "SystemTime must keep the SYSTEMTIME layout");

// The Windows FILETIME layout: 100-ns intervals since 1601-01-01 UTC, split in two words.
struct FileTime {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};
static_assert(sizeof(FileTime) == 8, "FileTime must keep the FILETIME layout");

// Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount).
uint32_t TickCount();

// The current local date and time (GetLocalTime).
SystemTime LocalTime();

// Seconds since 1970-01-01 00:00:00 UTC (_time64).
int64_t UnixTimeNow();

// The time-zone bias in minutes: UTC minus local standard time (GetTimeZoneInformation's
// Bias), so 60 one hour west of UTC and -330 five and a half hours east.
int32_t TimeZoneBiasMinutes();

// The local calendar time of a count of seconds since 1970 (_localtime64); false when it
// cannot be converted.
bool UnixTimeToLocal(int64_t seconds, SystemTime& local);

}  // namespace platform

namespace platform {

// SystemTimeToFileTime: false for a time that is not a valid calendar time (the day of the
// week is not looked at).
bool SystemTimeToFileTime(const SystemTime& time, FileTime& fileTime);

// Whether a time names a real moment between 1601 and 30827 (February 29 only in leap years).
// Checked on both platforms alike: some Windows loaders take day numbers past a month's end.
bool IsValidSystemTime(const SystemTime& time);

}  // namespace platform
