// A process ended with SIGKILL.
#include "platform/process_stop.h"

#include <signal.h>

namespace platform {

bool TerminateProcessById(uint32_t processId) {
    return processId != 0 && kill(static_cast<pid_t>(processId), SIGKILL) == 0;
}

}  // namespace platform
