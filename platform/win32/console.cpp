// The terminal and stop requests on Windows: the console mode of standard error, and a console
// control handler that sets an event the waiting thread waits on.
#include "platform/console.h"

#include <windows.h>

namespace platform {
namespace {

HANDLE g_stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD /*kind*/) {
    SetEvent(g_stopEvent);
    return TRUE;  // handled: the process is not ended for it
}

}  // namespace

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void CatchStopRequests() {
    if (g_stopEvent != nullptr) return;
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

bool WaitForStopRequest(uint32_t milliseconds) {
    if (g_stopEvent == nullptr) return false;
    return WaitForSingleObject(g_stopEvent, milliseconds) == WAIT_OBJECT_0;
}

}  // namespace platform
