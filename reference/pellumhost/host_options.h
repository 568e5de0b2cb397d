// The command line of the reference host.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace pellumhost {

struct HostOptions {
    std::string command = "demo";  // demo, lifecycle or rogue
    std::string folder;            // rogue: the folder to scramble
    uint32_t logLevel = 2;         // level for every module tag; 0 switches the log off
    std::string logFile;           // empty: standard error
    std::string pluginPath;        // empty: PlugEngineZef beside the host
    std::vector<std::string> settings;  // "Name=Value" for the configuration service
    bool help = false;
    bool verbose = false;          // demo: diagnostic lines to standard error, not the log file
    std::string source = "best";   // demo: the file source, "best", "before-write" or "after-the-fact"
};

// Parses argv[1..]; on a bad command line returns false and says why in error.
bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& options,
                      std::string& error);

const char* HostUsage();

}  // namespace pellumhost
