// The image path of another process, as the system tells it, in the host's UTF-8.
#pragma once
#include <cstdint>
#include <string>

#include "platform/process_image.h"
#include "platform/text.h"

namespace pellumhost {

// The image path of a process (UTF-8), empty when the system does not tell it.
inline std::string ProcessImage(uint32_t processId) {
    return platform::ToUtf8(platform::ProcessImagePath(processId));
}

}  // namespace pellumhost
