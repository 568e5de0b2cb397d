// UtcText: the civil date from days since 1970-01-01 (proleptic Gregorian), computed here so
// that no thread shares gmtime's buffer.
#include "reference/pellumhost/utc_text.h"

#include <cstdio>
#include <cstdlib>

namespace pellumhost {

std::string UtcText(uint64_t seconds) {
    const int64_t days = static_cast<int64_t>(seconds / 86400) + 719468;
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    const uint64_t inDay = seconds % 86400;
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02u:%02u:%02u UTC",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<unsigned>(inDay / 3600),
                  static_cast<unsigned>(inDay / 60 % 60), static_cast<unsigned>(inDay % 60));
    return text;
}

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysSince1970(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool ParseWhole(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

bool ParseMoment(const std::string& text, uint64_t nowMs, uint64_t& unixMs, std::string& error) {
    const std::string forms =
        "; give \"YYYY-MM-DD hh:mm:ss\" (UTC), \"@SECONDS\" since 1970, or a time ago such as "
        "-10m (s, m, h, d)";
    uint64_t number = 0;
    if (!text.empty() && text[0] == '@') {
        if (!ParseWhole(text.substr(1), number)) return error = "'" + text + "' is not a moment" + forms, false;
        unixMs = number * 1000;
        return true;
    }
    if (!text.empty() && text[0] == '-') {
        static const struct { char unit; uint64_t ms; } kUnits[] = {
            {'s', 1000}, {'m', 60000}, {'h', 3600000}, {'d', 86400000}};
        for (const auto& unit : kUnits) {
            if (text.size() < 3 || text.back() != unit.unit) continue;
            if (!ParseWhole(text.substr(1, text.size() - 2), number) || number * unit.ms > nowMs)
                break;
            unixMs = nowMs - number * unit.ms;
            return true;
        }
        return error = "'" + text + "' is not a moment" + forms, false;
    }
    std::string civil = text;
    for (const char* end : {" UTC", "Z"})
        if (civil.size() > std::string(end).size() &&
            civil.compare(civil.size() - std::string(end).size(), std::string::npos, end) == 0)
            civil.resize(civil.size() - std::string(end).size());
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, consumed = 0;
    char separator = 0;
    unsigned fraction = 0;
    const int fields = std::sscanf(civil.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &year, &month, &day,
                                   &separator, &hour, &minute, &second, &consumed);
    std::string rest = fields == 7 ? civil.substr(static_cast<size_t>(consumed)) : std::string("x");
    if (rest.size() == 4 && rest[0] == '.' && rest.find_first_not_of("0123456789", 1) == std::string::npos) {
        fraction = static_cast<unsigned>(std::strtoul(rest.c_str() + 1, nullptr, 10));
        rest.clear();
    }
    const bool valid = rest.empty() && (separator == ' ' || separator == 'T') && year >= 1970 &&
                       year <= 2105 && month >= 1 && month <= 12 && day >= 1 &&
                       day <= 31 && hour <= 23 && minute <= 59 && second <= 59 &&
                       DaysSince1970(year, month, day) <
                           (month == 12 ? DaysSince1970(year + 1, 1, 1)
                                        : DaysSince1970(year, month + 1, 1));
    if (!valid) return error = "'" + text + "' is not a moment" + forms, false;
    const int64_t seconds = DaysSince1970(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    unixMs = static_cast<uint64_t>(seconds) * 1000 + fraction;
    return true;
}

}  // namespace pellumhost
