// The resolution of a command's configuration file, settings and folders.
#include "reference/pellumhost/commands/command_configuration.h"

#include <filesystem>
#include <fstream>

#include "platform/text.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/plugin_session.h"
#include "reference/pellumhost/host_log.h"

namespace fs = std::filesystem;

namespace pellumhost {
namespace {

constexpr char kConfigurationName[] = "Pellumhost.conf";

// The file's settings (none for an empty file name) with the assignments on top.
int Load(const HostOptions& options, const std::string& file, CommandConfiguration& resolved,
         std::string& error) {
    resolved.problems.clear();
    resolved.file = file;
    resolved.configuration =
        file.empty() ? HostConfiguration() : HostConfiguration::Load(file, resolved.problems);
    for (const std::string& assignment : options.settings)
        if (!resolved.configuration.Override(assignment, error)) return kExitUsage;
    return kExitOk;
}

bool WriteDefault(const fs::path& file, const std::string& dbFolder) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary);
    out << HostConfiguration::DefaultText(dbFolder, Utf8Of(PathOf(dbFolder) / "Log"));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

int ResolveConfiguration(const HostOptions& options, bool writeDefault,
                         CommandConfiguration& resolved, std::string& error) {
    const fs::path pluginFolder =
        PathOf(AbsolutePath(platform::ToUtf8(PluginPathOf(options)))).parent_path();
    std::error_code ec;
    const std::string given = options.configFile.empty() ? "" : AbsolutePath(options.configFile);
    if (!given.empty() && !fs::is_regular_file(PathOf(given), ec)) {
        error = "the configuration file " + given + " cannot be read";
        return kExitBadPath;
    }
    int status = Load(options, given, resolved, error);
    if (status != kExitOk) return status;
    // The database folder decides where its configuration file is, so the file found there
    // cannot move it.
    const std::string dbSet = resolved.configuration.Engine().ValueOf("DbPath");
    resolved.dbFolder = AbsolutePath(!options.dbFolder.empty() ? options.dbFolder
                                     : !dbSet.empty()          ? dbSet
                                                               : Utf8Of(pluginFolder / "Data"));
    if (given.empty()) {
        const fs::path beside = PathOf(resolved.dbFolder) / kConfigurationName;
        if (writeDefault && !fs::exists(beside, ec)) {
            if (!WriteDefault(beside, resolved.dbFolder)) {
                error = "cannot write the configuration file " + Utf8Of(beside);
                return kExitBadPath;
            }
            resolved.written = true;
        }
        if (fs::is_regular_file(beside, ec) &&
            (status = Load(options, Utf8Of(beside), resolved, error)) != kExitOk)
            return status;
    }
    const HostSettings& engine = resolved.configuration.Engine();
    const std::string logSet = engine.ValueOf("DebugLogPath"), patternSet = engine.ValueOf("PatternPath");
    resolved.logFolder =
        AbsolutePath(!logSet.empty() ? logSet : Utf8Of(PathOf(resolved.dbFolder) / "Log"));
    resolved.patternFolder =
        AbsolutePath(!patternSet.empty() ? patternSet : Utf8Of(pluginFolder / "Pattern"));
    // Kept as overrides, so that the file read again while the service runs keeps them.
    resolved.configuration.Override("DbPath=" + resolved.dbFolder, error);
    resolved.configuration.Override("DebugLogPath=" + resolved.logFolder, error);
    if (engine.ValueOf("Enable").empty()) resolved.configuration.Override("Enable=1", error);
    return kExitOk;
}

std::string ConfigurationSummary(const CommandConfiguration& resolved) {
    if (resolved.file.empty())
        return "none (the built-in settings and --set)";
    std::string text = resolved.file;
    if (resolved.written) text += ", written now with every key";
    const size_t count = resolved.problems.size();
    if (count != 0)
        text += "; " + std::to_string(count) + (count == 1 ? " problem" : " problems") +
                ", see the host's log";
    return text;
}

void LogConfigurationProblems(const CommandConfiguration& resolved) {
    for (const ConfigurationProblem& problem : resolved.problems)
        HostLog(3, __LINE__, HostConfiguration::Describe(resolved.file, problem));
    HostLog(2, __LINE__, "configuration: " + ConfigurationSummary(resolved));
}

}  // namespace pellumhost
