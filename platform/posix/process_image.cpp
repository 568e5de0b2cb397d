// A process's image path from /proc.
#include "platform/process_image.h"

#include <unistd.h>

#include <cstdio>

#include "platform/text.h"

namespace platform {

std::u16string ProcessImagePath(uint32_t processId) {
    if (processId == 0) return {};
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/%u/exe", processId);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    return n > 0 ? FromUtf8(std::string_view(path, static_cast<size_t>(n))) : std::u16string();
}

}  // namespace platform
