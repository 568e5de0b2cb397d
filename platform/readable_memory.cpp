// Reads of memory a page at a time, and terminated text read that way.
#include "platform/readable_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace platform {

size_t CopyReadable(const void* from, void* to, size_t count) {
    constexpr size_t kPage = 4096;
    size_t copied = 0;
    while (copied < count) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(from) + copied;
        const size_t piece = std::min(kPage - at % kPage, count - copied);
        const size_t got = ReadOwnMemory(reinterpret_cast<const void*>(at),
                                         static_cast<char*>(to) + copied, piece);
        copied += got;
        if (got < piece) break;
    }
    return copied;
}

std::string ReadTerminatedText(const char* from, size_t limit) {
    constexpr size_t kPage = 4096;
    std::string text;
    if (from == nullptr) return text;
    char chunk[kPage];
    while (text.size() < limit) {
        // Up to the end of the page that holds the next byte: a page is readable whole or not.
        const uintptr_t at = reinterpret_cast<uintptr_t>(from) + text.size();
        const size_t want = std::min(kPage - at % kPage, limit - text.size());
        const size_t got = CopyReadable(from + text.size(), chunk, want);
        const size_t length = strnlen(chunk, got);
        text.append(chunk, length);
        if (length < got || got < want) break;
    }
    return text;
}

}  // namespace platform
