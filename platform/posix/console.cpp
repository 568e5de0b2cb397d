// The terminal and stop requests on Linux: isatty, and SIGINT/SIGTERM caught by sigaction into
// a flag that the waiting thread polls.
#include "platform/console.h"

#include <signal.h>
#include <unistd.h>

#include "platform/sleep.h"

namespace platform {
namespace {

volatile sig_atomic_t g_stopRequested = 0;

void OnStopSignal(int) { g_stopRequested = 1; }

}  // namespace

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void CatchStopRequests() {
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool WaitForStopRequest(uint32_t milliseconds) {
    constexpr uint32_t kStep = 20;
    for (uint32_t waited = 0; g_stopRequested == 0 && waited < milliseconds; waited += kStep)
        SleepMilliseconds(kStep);
    return g_stopRequested != 0;
}

}  // namespace platform
