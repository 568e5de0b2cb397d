// The exit statuses of Pellumhost, one per kind of failure, so that a script can tell them
// apart. They are listed in every command's --help.
#pragma once

namespace pellumhost {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,           // the operation itself failed (a restore, a backup, the demo)
    kExitUsage = 2,            // bad command line
    kExitNoFileSource = 3,     // this platform offers no file activity source the command needs
    kExitNoPlugin = 4,         // the plug-in, Morrick or Quastle is missing or lacks an export
    kExitNotStarted = 5,       // the plug-in or the engine did not start (see the log)
    kExitCannotWatch = 6,      // a folder to watch cannot be watched
    kExitBadPath = 7,          // a file or folder named on the command line is not usable
    kExitNoEngine = 8,         // the engine module is missing beside the plug-in
    kExitUntrustedEngine = 9,  // the engine, the plug-in, Morrick or Quastle failed the trust check
    kExitCorruptPattern = 10,  // the engine's pattern is corrupt
    kExitDatabaseInUse = 11,   // another instance holds the database
    kExitDatabaseDamaged = 12,  // the database's log or content is damaged or missing (check, repair)
    kExitDatabaseReadOnly = 13,  // the database cannot be written and the command must write
    kExitPartlyRolledBack = 14,  // a rollback could not bring every file back
};

// The table of exit statuses as --help prints it.
const char* ExitCodeHelp();

}  // namespace pellumhost
