// Process and thread ids from the kernel.
#include "platform/process.h"

#include <errno.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }
uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

// Signal 0 to a thread of this thread group only asks whether it is there.
bool ThreadEnded(uint32_t threadId) {
    return syscall(SYS_tgkill, getpid(), static_cast<pid_t>(threadId), 0) != 0 && errno == ESRCH;
}

void KeepNewFilesPrivate() { umask(077); }

}  // namespace platform
