// Sleep through the Windows kernel.
#include "platform/sleep.h"

#include <windows.h>

namespace platform {

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
