// Where a command's settings come from: the host's configuration file (--config FILE; without
// it Pellumhost.conf in the database folder when it is there, which `run` writes with every key
// on its first start), the --set assignments on top, and the folders that follow from them: the
// database (--db, else the DbPath set, else Data beside the plug-in), its log folder (the
// DebugLogPath set, else Log in the database folder) and the pattern folder.
#pragma once
#include <string>
#include <vector>

#include "reference/pellumhost/services/host_configuration.h"
#include "reference/pellumhost/host_options.h"

namespace pellumhost {

struct CommandConfiguration {
    // The file's settings with the assignments on top, DbPath and DebugLogPath made absolute,
    // Enable on unless set; the plug-in's configuration service answers from it.
    HostConfiguration configuration;
    std::string file;     // the configuration file in use; empty: none (built-in settings)
    bool written = false;  // the file was written now, with every key
    std::vector<ConfigurationProblem> problems;
    std::string dbFolder, logFolder, patternFolder;  // absolute
};

// Fills resolved; with writeDefault a database folder without a configuration file gets one.
// kExitOk, or the exit status of an unreadable --config (7), a bad --set (2) or a file that
// cannot be written (7), with the reason in error. Reads nothing but the file.
int ResolveConfiguration(const HostOptions& options, bool writeDefault,
                         CommandConfiguration& resolved, std::string& error);

// The file in use and its problems as words: "<file> (2 problems, see Pellumhost.log)",
// "none (built-in settings and --set)".
std::string ConfigurationSummary(const CommandConfiguration& resolved);

// Each problem as a warning line of the host's log, naming the file, the line and the key.
void LogConfigurationProblems(const CommandConfiguration& resolved);

}  // namespace pellumhost
