// Process and thread ids from the kernel.
#include "platform/process.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }
uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

}  // namespace platform
