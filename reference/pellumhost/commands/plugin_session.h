// One command's use of the plug-in: the settings the host hands out (its configuration file,
// --set, the database folder of --db and the log folder; command_configuration.h), the
// plug-in's diagnostic lines and the configuration's problems sent to Pellumhost.log unless
// --verbose, restore feedback to feedback.log, the plug-in loaded and started with the engine,
// the pattern checked, and on destruction the plug-in stopped and taken out of the process with
// nothing left registered.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "host/common_plugin_interface.h"
#include "reference/pellumhost/commands/command_configuration.h"
#include "reference/pellumhost/commands/command_output.h"
#include "reference/pellumhost/host_options.h"
#include "reference/pellumhost/loaded_plugin.h"
#include "reference/pellumhost/services/reference_host_service.h"

namespace pellumhost {

class PluginSession {
public:
    explicit PluginSession(const HostOptions& options);
    ~PluginSession();
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;

    // Loads and starts the plug-in; kExitOk, or the exit status of the failure, which it
    // reports through output. `run` writes a default configuration file where none is.
    int Start(CommandOutput& output);

    // A call through Plugin_Interface_CallFunc on the engine wrapper (0xE0360009 before Start).
    uint32_t Call(uint32_t functionId, void* input, void* output) const;
    const PluginExports& Exports() const { return m_plugin->Exports(); }
    ICommonPluginInterface* Wrapper() const { return m_wrapper; }
    // Valid after a successful Start, also after Stop.
    const ReferenceHostService& Service() const { return *m_service; }
    ReferenceHostService& Service() { return *m_service; }
    // Stops the plug-in (PreUninitialize, Uninitialize); the destructor does it otherwise.
    void Stop();

    const std::string& PluginPath() const { return m_pluginPath; }
    const std::string& EnginePath() const { return m_enginePath; }
    const std::string& DbFolder() const { return m_configuration.dbFolder; }
    const std::string& LogFolder() const { return m_configuration.logFolder; }
    const std::string& PatternFolder() const { return m_configuration.patternFolder; }
    // Where the settings came from; valid once Start has read them.
    const CommandConfiguration& Configuration() const { return m_configuration; }
    // Where the diagnostic lines go: a file, or "standard error".
    const std::string& DiagnosticsTo() const { return m_diagnosticsTo; }
    // What the engine said went wrong during this command: its first error line in
    // ZefEngine.log since Start began (else its first warning), without the time stamp;
    // empty when it said nothing of the kind.
    std::string EngineComplaint() const;
    // "; the engine says: ..." with EngineComplaint, or "; see ZefEngine.log" when it is empty.
    std::string EngineSays() const;

private:
    const HostOptions& m_options;
    std::string m_pluginPath, m_enginePath;
    std::string m_diagnosticsTo;
    std::string m_engineLog;       // ZefEngine.log of the log folder
    uintmax_t m_engineLogFrom = 0;  // its size when Start began: what follows is this command's
    CommandConfiguration m_configuration;
    std::unique_ptr<ReferenceHostService> m_service;
    std::unique_ptr<LoadedPlugin> m_plugin;
    bool m_initialized = false;
    ICommonPluginInterface* m_wrapper = nullptr;
};

// The folder of this program, where the plug-in and the host's own programs lie.
std::u16string OwnFolder();
// The plug-in beside this program, or the one --plugin names.
std::u16string PluginPathOf(const HostOptions& options);

// Paths as the command line holds them (UTF-8) and as the file system takes them.
std::filesystem::path PathOf(const std::string& utf8);
std::string Utf8Of(const std::filesystem::path& path);
// The absolute, normal form of a path given on the command line (unchanged when it has none).
std::string AbsolutePath(const std::string& utf8);

}  // namespace pellumhost
