// The rollback demo: sample files in a fresh workspace, the service watching them with the
// plug-in and the engine, a separate rogue process (DemoRogue, beside the host) that scrambles
// every file, detection, rollback through the plug-in's process walk, and a before-and-after
// table.
#pragma once
#include <string>

#include "reference/pellumhost/host_options.h"

namespace pellumhost {

// Returns the program's exit status: 0 only when every byte is back.
int RunRollbackDemo(const HostOptions& options, const std::u16string& pluginPath);

}  // namespace pellumhost
