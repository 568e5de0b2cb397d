// Tick count from the monotonic clock; local time from the C library.
#include "platform/clock.h"

#include <sys/time.h>
#include <time.h>

namespace platform {

uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                        static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

SystemTime LocalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    SystemTime st{};
    st.wYear = static_cast<uint16_t>(local.tm_year + 1900);
    st.wMonth = static_cast<uint16_t>(local.tm_mon + 1);
    st.wDayOfWeek = static_cast<uint16_t>(local.tm_wday);
    st.wDay = static_cast<uint16_t>(local.tm_mday);
    st.wHour = static_cast<uint16_t>(local.tm_hour);
    st.wMinute = static_cast<uint16_t>(local.tm_min);
    st.wSecond = static_cast<uint16_t>(local.tm_sec);
    st.wMilliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
    return st;
}

}  // namespace platform

namespace platform {
namespace {

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days from 1601-01-01 to the given date (proleptic Gregorian).
int64_t DaysSince1601(int year, int month, int day) {
    static const int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int64_t years = year - 1601;
    int64_t days = years * 365 + years / 4 - years / 100 + years / 400;
    days += kBefore[month - 1] + (month > 2 && IsLeap(year) ? 1 : 0);
    return days + day - 1;
}

}  // namespace

bool SystemTimeToFileTime(const SystemTime& t, FileTime& fileTime) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12) return false;
    const int daysInMonth = kDays[t.wMonth - 1] + (t.wMonth == 2 && IsLeap(t.wYear) ? 1 : 0);
    if (t.wDay < 1 || t.wDay > daysInMonth || t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 ||
        t.wMilliseconds > 999) {
        return false;
    }
    const int64_t seconds = DaysSince1601(t.wYear, t.wMonth, t.wDay) * 86400 + t.wHour * 3600 +
                            t.wMinute * 60 + t.wSecond;
    const uint64_t ticks = static_cast<uint64_t>(seconds) * 10000000u + t.wMilliseconds * 10000u;
    fileTime.dwLowDateTime = static_cast<uint32_t>(ticks);
    fileTime.dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
    return true;
}

}  // namespace platform
