// Reads of this process's own memory through ReadProcessMemory, which fails for an unreadable
// page instead of raising an exception.
#include "platform/readable_memory.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

namespace platform {

size_t CopyReadable(const void* from, void* to, size_t count) {
    constexpr size_t kPage = 4096;
    size_t copied = 0;
    while (copied < count) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(from) + copied;
        const size_t piece = std::min(kPage - at % kPage, count - copied);
        SIZE_T got = 0;
        if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(at),
                               static_cast<char*>(to) + copied, piece, &got) || got == 0)
            break;
        copied += got;
        if (got < piece) break;
    }
    return copied;
}

}  // namespace platform
