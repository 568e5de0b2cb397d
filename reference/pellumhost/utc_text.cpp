// UtcText: the civil date from days since 1970-01-01 (proleptic Gregorian), computed here so
// that no thread shares gmtime's buffer.
#include "reference/pellumhost/utc_text.h"

#include <cstdio>

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

}  // namespace pellumhost
