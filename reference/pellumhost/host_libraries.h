// Morrick and Quastle, loaded by Pellumhost itself once they pass the trust check.
#pragma once

namespace pellumhost {

// Checks Morrick and Quastle beside the program with the rule the plug-in applies to the
// engine, then loads them (their exports shared with the plug-in loaded later, which imports
// them by name) and binds the program's calls to them. Returns kExitOk, or after a line on
// standard error that names the module and the reason: kExitUntrustedEngine when one fails
// the check, kExitNoPlugin when one is missing, cannot be loaded or lacks an export. Call it
// first in main: nothing may call either library before. The libraries stay loaded until
// the process ends.
int LoadHostLibraries();

}  // namespace pellumhost
