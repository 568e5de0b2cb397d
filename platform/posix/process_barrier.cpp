// The process-wide barrier through membarrier's private expedited command, registered once.
#include "platform/process_barrier.h"

#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

#if defined(__linux__)
long Membarrier(int command) { return syscall(__NR_membarrier, command, 0, 0); }

bool Register() {
    const long supported = Membarrier(MEMBARRIER_CMD_QUERY);
    if (supported < 0 || (supported & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return false;
    return Membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0;
}
#else
bool Register() { return false; }
#endif

}  // namespace

bool ProcessWideBarrierAvailable() {
    static const bool available = Register();
    return available;
}

void ProcessWideBarrier() {
#if defined(__linux__)
    Membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED);
#endif
}

}  // namespace platform
