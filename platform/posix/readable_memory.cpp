// Reads of this process's own memory through process_vm_readv, which answers EFAULT for an
// unreadable page instead of raising a signal.
#include "platform/readable_memory.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace platform {

size_t CopyReadable(const void* from, void* to, size_t count) {
    constexpr size_t kPage = 4096;
    size_t copied = 0;
    while (copied < count) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(from) + copied;
        const size_t piece = std::min(kPage - at % kPage, count - copied);
        iovec local{static_cast<char*>(to) + copied, piece};
        iovec remote{reinterpret_cast<void*>(at), piece};
        const ssize_t got = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
        if (got <= 0) break;
        copied += static_cast<size_t>(got);
        if (static_cast<size_t>(got) < piece) break;
    }
    return copied;
}

}  // namespace platform
