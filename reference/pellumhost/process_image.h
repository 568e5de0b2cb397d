// The image path of another process, as the system tells it.
#pragma once
#include <cstdint>
#include <string>

namespace pellumhost {

// The image path of a process (UTF-8), empty when the system does not tell it.
std::string ProcessImage(uint32_t processId);

}  // namespace pellumhost
