// Reads of this process's own memory through ReadProcessMemory, which fails for an unreadable
// page instead of raising an exception.
#include "platform/readable_memory.h"

#include <windows.h>

namespace platform {

size_t ReadOwnMemory(const void* from, void* to, size_t count) {
    SIZE_T got = 0;
    if (!ReadProcessMemory(GetCurrentProcess(), from, to, count, &got)) return 0;
    return got;
}

}  // namespace platform
