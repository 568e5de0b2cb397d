// The command line of the reference host: one command, its own options and the options every
// command takes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace pellumhost {

struct HostOptions {
    // demo, lifecycle, run, stop, versions, restore, rollback, backup, status, policies, check or
    // repair: every
    // command --help lists, and no other.
    std::string command = "demo";
    bool commandGiven = false;         // false: the default command (--help then lists them all)
    std::string target;                // versions, restore, backup: the file
    uint32_t version = 0;              // restore --version N: edition N; 0: the newest version
    bool versionInMemory = false;      // restore --version mN: the Nth memory version, newest first
    uint32_t processId = 0;            // restore, rollback --process PID
    std::string to;                    // rollback --to TIME, as given (utc_text.h: ParseMoment)
    std::string image;                 // rollback --image PATH
    bool dryRun = false;               // rollback --dry-run
    bool quarantine = false;           // rollback --quarantine
    std::vector<std::string> watch;    // run --watch DIR, in the order given
    std::string dbFolder;              // --db DIR; empty: the engine's default folder
    std::string configFile;            // --config FILE; empty: Pellumhost.conf in the database folder
    bool json = false;                 // --json: one JSON document on standard output
    uint32_t logLevel = 2;             // level for every module tag; 0 switches the log off
    std::string logFile;               // empty: the host's log file (standard error with --verbose)
    std::string pluginPath;            // empty: PlugEngineZef beside the host
    std::vector<std::string> settings;  // "Name=Value" for the configuration service
    bool help = false;
    bool verbose = false;              // diagnostic lines to standard error, not the log file
    std::string source = "best";       // demo, run: the file source, "best", "before-write" or "after-the-fact"
};

// Parses argv[1..]; on a bad command line returns false and says why in error.
bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& options,
                      std::string& error);

// The help of one command (the overview for an empty or unknown one).
std::string HostUsage(const std::string& command = "");

}  // namespace pellumhost
