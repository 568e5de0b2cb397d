// Tick count from the monotonic clock; local time from the C library. The C library's time-zone
// state is re-read by tzset and published in the global `timezone`, which a concurrent call
// would read half-written: every use of that state here runs under one lock.
#include "platform/clock.h"

#include "platform/calendar.h"

#include <sys/time.h>
#include <time.h>

#include <mutex>

namespace platform {

uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                        static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

namespace {

std::mutex g_timeZoneLock;

SystemTime FromTm(const tm& local, uint16_t milliseconds) {
    SystemTime st{};
    st.wYear = static_cast<uint16_t>(local.tm_year + 1900);
    st.wMonth = static_cast<uint16_t>(local.tm_mon + 1);
    st.wDayOfWeek = static_cast<uint16_t>(local.tm_wday);
    st.wDay = static_cast<uint16_t>(local.tm_mday);
    st.wHour = static_cast<uint16_t>(local.tm_hour);
    st.wMinute = static_cast<uint16_t>(local.tm_min);
    st.wSecond = static_cast<uint16_t>(local.tm_sec);
    st.wMilliseconds = milliseconds;
    return st;
}

}  // namespace

SystemTime LocalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    {
        const std::lock_guard<std::mutex> guard(g_timeZoneLock);
        localtime_r(&now.tv_sec, &local);
    }
    return FromTm(local, static_cast<uint16_t>(now.tv_nsec / 1000000));
}

int64_t UnixTimeNow() { return static_cast<int64_t>(::time(nullptr)); }

int32_t TimeZoneBiasMinutes() {
    const std::lock_guard<std::mutex> guard(g_timeZoneLock);
    tzset();
    return static_cast<int32_t>(timezone / 60);  // seconds west of UTC, standard time
}

bool UnixTimeToLocal(int64_t seconds, SystemTime& local) {
    const time_t value = static_cast<time_t>(seconds);
    tm converted{};
    {
        const std::lock_guard<std::mutex> guard(g_timeZoneLock);
        if (localtime_r(&value, &converted) == nullptr) return false;
    }
    local = FromTm(converted, 0);
    return true;
}

}  // namespace platform

namespace platform {

bool SystemTimeToFileTime(const SystemTime& t, FileTime& fileTime) {
    if (!IsValidSystemTime(t)) return false;
    const int64_t seconds = DaysSince1601(t.wYear, t.wMonth, t.wDay) * 86400 + t.wHour * 3600 +
                            t.wMinute * 60 + t.wSecond;
    const uint64_t ticks = static_cast<uint64_t>(seconds) * 10000000u + t.wMilliseconds * 10000u;
    fileTime.dwLowDateTime = static_cast<uint32_t>(ticks);
    fileTime.dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
    return true;
}

}  // namespace platform
