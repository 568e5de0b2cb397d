// A process's image path from /proc.
#include <unistd.h>

#include <cstdio>

#include "reference/pellumhost/process_image.h"

namespace pellumhost {

std::string ProcessImage(uint32_t processId) {
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/%u/exe", processId);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace pellumhost
