// Conversions to engine time against the epoch as a file time, computed once per process.
#include "engine/zef_time.h"

namespace engine_time {
namespace {

uint64_t EpochAsFileTime() {
    static const uint64_t epoch = [] {
        platform::SystemTime start{};
        start.wYear = 1970;
        start.wMonth = 1;
        start.wDay = 1;
        platform::FileTime fileTime{};
        platform::SystemTimeToFileTime(start, fileTime);
        return (uint64_t{fileTime.dwHighDateTime} << 32) | fileTime.dwLowDateTime;
    }();
    return epoch;
}

}  // namespace

uint32_t FileTimeToUnixSeconds(uint64_t fileTime) {
    const uint64_t epoch = EpochAsFileTime();
    if (fileTime <= epoch) return 0;
    return static_cast<uint32_t>((fileTime - epoch) / 10000000u);
}

uint32_t ZefTimeFromSystemTime(const platform::SystemTime* time) {
    if (time == nullptr) return 0;
    platform::FileTime converted{};
    if (!platform::SystemTimeToFileTime(*time, converted)) return 0;
    return FileTimeToUnixSeconds((uint64_t{converted.dwHighDateTime} << 32) |
                                 converted.dwLowDateTime);
}

}  // namespace engine_time
