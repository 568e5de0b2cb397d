// Starting, awaiting and ending a separate process (the demo's rogue writer, a program beside
// the host): the platform's calls, by the names the host uses.
#pragma once
#include "platform/process_launch.h"

namespace pellumhost {

using platform::KillProcess;
using platform::kStillRunning;
using platform::kWaitForever;
using platform::LaunchProgram;
using platform::WaitForProcess;

}  // namespace pellumhost
