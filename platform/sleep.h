// Pausing the calling thread.
#pragma once
#include <cstdint>

namespace platform {

void SleepMilliseconds(uint32_t milliseconds);

}  // namespace platform
