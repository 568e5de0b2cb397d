// A process ended with TerminateProcess.
#include "platform/process_stop.h"

#include <windows.h>

namespace platform {

bool TerminateProcessById(uint32_t processId) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    if (process == nullptr) return false;
    const bool ended = TerminateProcess(process, 1) != 0;
    CloseHandle(process);
    return ended;
}

}  // namespace platform
