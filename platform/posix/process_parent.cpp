// A process's parent from /proc/PID/stat.
#include "platform/process_parent.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

// The line is "PID (NAME) STATE PPID ...", and NAME may hold spaces and parentheses: the
// fields after the name start after its last ')'.
uint32_t ParentProcessId(uint32_t processId) {
    if (processId == 0) return 0;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/stat", processId);
    std::FILE* file = std::fopen(path, "re");
    if (file == nullptr) return 0;
    char line[1024];
    const size_t n = std::fread(line, 1, sizeof line - 1, file);
    std::fclose(file);
    line[n] = '\0';
    const char* close = std::strrchr(line, ')');
    if (close == nullptr || close[1] != ' ' || close[2] == '\0' || close[3] != ' ') return 0;
    char* end = nullptr;
    const unsigned long parent = std::strtoul(close + 4, &end, 10);
    return end != close + 4 && parent <= 0xFFFFFFFFul ? static_cast<uint32_t>(parent) : 0;
}

}  // namespace platform
