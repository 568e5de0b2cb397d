// Process and thread ids from the Windows kernel.
#include "platform/process.h"

#include <windows.h>

namespace platform {

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }
uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

}  // namespace platform
