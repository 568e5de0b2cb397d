// Terminated text read through CopyReadable, a page at a time.
#include "platform/readable_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace platform {

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
