// Process and thread ids from the Windows kernel.
#include "platform/process.h"

#include <windows.h>

namespace platform {

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }
uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

// An id that names no thread, or a thread of another process now, or a thread that has exited
// (its object lives on while a handle holds it) belongs to no thread of this process.
bool ThreadEnded(uint32_t threadId) {
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
    if (thread == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD exitCode = 0;
    const bool ended = GetProcessIdOfThread(thread) != GetCurrentProcessId() ||
                       (GetExitCodeThread(thread, &exitCode) && exitCode != STILL_ACTIVE);
    CloseHandle(thread);
    return ended;
}

void KeepNewFilesPrivate() {}

}  // namespace platform
