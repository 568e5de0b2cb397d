// Calendar arithmetic shared by both platforms.
#include "platform/calendar.h"

namespace platform {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t DaysSince1601(int year, int month, int day) {
    static const int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int64_t years = year - 1601;
    int64_t days = years * 365 + years / 4 - years / 100 + years / 400;
    days += kBefore[month - 1] + (month > 2 && IsLeapYear(year) ? 1 : 0);
    return days + day - 1;
}

bool IsValidSystemTime(const SystemTime& t) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12) return false;
    const int daysInMonth = kDays[t.wMonth - 1] + (t.wMonth == 2 && IsLeapYear(t.wYear) ? 1 : 0);
    return t.wDay >= 1 && t.wDay <= daysInMonth && t.wHour <= 23 && t.wMinute <= 59 &&
           t.wSecond <= 59 && t.wMilliseconds <= 999;
}

}  // namespace platform
