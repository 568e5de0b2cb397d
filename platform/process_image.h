// The image path of another process, as the system tells it.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// The full path of processId's image; empty when the system does not tell it (process 0, a
// process gone, or one this process may not query).
std::u16string ProcessImagePath(uint32_t processId);

}  // namespace platform
