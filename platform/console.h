// The terminal a command-line program runs in: whether standard error is one, and the user's
// request to stop (SIGINT or SIGTERM on Linux, Ctrl+C, Ctrl+Break or the console closing on
// Windows).
#pragma once
#include <cstdint>

namespace platform {

// True when standard error is a terminal (not a file or a pipe).
bool StandardErrorIsTerminal();

// From the first call on, a stop request no longer ends the process: it is remembered, and
// WaitForStopRequest returns. Safe from any thread; the handler itself only sets a flag.
void CatchStopRequests();
// Waits at most milliseconds for a stop request; true once one has arrived.
bool WaitForStopRequest(uint32_t milliseconds);

}  // namespace platform
