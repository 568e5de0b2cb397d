// A process's parent and start from /proc/PID/stat.
#include "platform/process_parent.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// The line is "PID (NAME) STATE PPID ...", and NAME may hold spaces and parentheses: the
// fields after the name start after its last ')'. field counts from 1 at the state (3 in the
// manual's numbering): 2 is the parent, 20 the start time. 0 when it cannot be read.
uint64_t StatField(uint32_t processId, int field) {
    if (processId == 0) return 0;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/stat", processId);
    std::FILE* file = std::fopen(path, "re");
    if (file == nullptr) return 0;
    char line[1024];
    const size_t n = std::fread(line, 1, sizeof line - 1, file);
    std::fclose(file);
    line[n] = '\0';
    const char* at = std::strrchr(line, ')');
    if (at == nullptr || at[1] != ' ' || at[2] == '\0' || at[3] != ' ') return 0;
    at += 2;
    for (int i = 1; i < field; ++i) {
        at = std::strchr(at, ' ');
        if (at == nullptr) return 0;
        ++at;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(at, &end, 10);
    return end != at ? value : 0;
}

}  // namespace

uint32_t ParentProcessId(uint32_t processId) {
    const uint64_t parent = StatField(processId, 2);
    return parent <= 0xFFFFFFFFull ? static_cast<uint32_t>(parent) : 0;
}

uint64_t ProcessStartTime(uint32_t processId) { return StatField(processId, 20); }

}  // namespace platform
