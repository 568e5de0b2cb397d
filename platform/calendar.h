// Calendar arithmetic of the proleptic Gregorian calendar that Windows file times use.
#pragma once
#include <cstdint>

#include "platform/clock.h"

namespace platform {

bool IsLeapYear(int year);
// Days from 1601-01-01 to the given valid date.
int64_t DaysSince1601(int year, int month, int day);

}  // namespace platform
