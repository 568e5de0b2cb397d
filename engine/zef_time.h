// Times exchanged with the engine: 32-bit counts of seconds since 1970-01-01 00:00:00.
#pragma once
#include <cstdint>

#include "platform/clock.h"

namespace engine_time {

// Seconds since 1970 of a calendar time taken in whatever zone the caller meant; 0 for an
// invalid time or one not after the epoch; the low 32 bits otherwise.
uint32_t ZefTimeFromSystemTime(const platform::SystemTime* time);

// The same for a file time (100-ns intervals since 1601).
uint32_t FileTimeToUnixSeconds(uint64_t fileTime);

}  // namespace engine_time
