// Pellumhost: the reference host service. It owns the log library's settings, loads the
// plug-in that lies beside it, offers it the host's components and runs one command: the
// rollback demo, the life cycle, service mode, or a command on the plug-in's versions.
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "host/call_records.h"
#include "host/log_library_control.h"
#include "host/message_object.h"
#include "host/result_codes.h"
#include "platform/process.h"
#include "platform/text.h"
#include "reference/pellumhost/services/host_configuration.h"
#include "reference/pellumhost/host_libraries.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/plugin_session.h"
#include "reference/pellumhost/host_log.h"
#include "reference/pellumhost/host_options.h"
#include "reference/pellumhost/services/host_settings.h"
#include "reference/pellumhost/loaded_plugin.h"
#include "reference/pellumhost/services/reference_host_service.h"
#include "reference/pellumhost/demo/rollback_demo.h"

namespace {

bool Step(const char* what, uint32_t result, uint32_t expected = velk::kSuccess) {
    std::printf("  %-36s 0x%08X%s\n", what, static_cast<unsigned>(result),
                result == expected ? "" : "  (unexpected)");
    return result == expected;
}

// The module version the plug-in reports among its components (notification 4118).
std::string ComponentVersion(const PluginExports& plugin) {
    HostMessageObject answer;
    if (plugin.OnNotify(4118, nullptr, &answer) != velk::kSuccess) return "?";
    VELK_DataHandle list{}, entry{};
    VELK_Msg_GetDataAt(answer.handle, 0x100BE, 0, &list);
    VELK_Msg_GetDataAt(list, 0x100BD, 0, &entry);
    char16_t text[64] = {};
    uint32_t length = 0;
    VELK_Msg_GetWStringAt(entry, 17, 0, text, 64, &length);
    VELK_Msg_DestroyDataHandle(&entry);
    VELK_Msg_DestroyDataHandle(&list);
    return length != 0 ? platform::ToUtf8(text) : "none";
}

int RunLifeCycle(const pellumhost::HostOptions& options, const pellumhost::HostSettings& settings) {
    const std::u16string pluginPath = pellumhost::PluginPathOf(options);
    pellumhost::HostLog(2, __LINE__, "host started; plug-in " + platform::ToUtf8(pluginPath));

    pellumhost::LoadedPlugin loaded(pluginPath);
    if (!loaded.Usable()) {
        std::fprintf(stderr, "Pellumhost: %s\n", loaded.Error().c_str());
        return loaded.Untrusted() ? pellumhost::kExitUntrustedEngine : pellumhost::kExitNoPlugin;
    }
    const PluginExports& plugin = loaded.Exports();
    ModuleVersion version{};
    plugin.GetModuleVersion(&version);
    std::printf("Pellumhost: plug-in module %u, version %u.%u.%u\n", plugin.GetModuleID(),
                version.major, version.minor, version.build);

    pellumhost::ReferenceHostService service(settings);
    bool ok = Step("Plugin_Interface_Initialize", plugin.Initialize(&service));
    ok = ok && Step("Plugin_Interface_PostInitialize", plugin.PostInitialize());
    if (ok) {
        ICommonPluginInterface* wrapper = plugin.QueryInterface(kPluginInterfaceId);
        std::printf("  %-36s %s\n", "Plugin_Interface_QueryInterface",
                    wrapper != nullptr ? "engine wrapper" : "null");
        ok = wrapper != nullptr;
        if (ok) {
            std::printf("  %-36s %d\n", "event registrations held", service.Registrations());
            ok = Step("CallFunc flush events", plugin.CallFunc(wrapper, velk::kFnFlushEvents,
                                                               nullptr, nullptr));
            uint32_t maxSize = 0;
            const uint32_t sized = plugin.CallFunc(wrapper, velk::kFnMaxFileSize, nullptr, &maxSize);
            std::printf("  %-36s 0x%08X (size %u)\n", "CallFunc maximum file size",
                        static_cast<unsigned>(sized), static_cast<unsigned>(maxSize));
            std::printf("  %-36s %s\n", "component version (4118)", ComponentVersion(plugin).c_str());
        }
    }
    Step("Plugin_Interface_PreUninitialize", plugin.PreUninitialize());
    Step("Plugin_Interface_Uninitialize", plugin.Uninitialize());
    std::printf("  %-36s %d registrations, %d protected folders\n", "left behind",
                service.Registrations(), service.ProtectedFolders());
    ok = ok && service.Registrations() == 0 && service.ProtectedFolders() == 0;
    pellumhost::HostLog(2, __LINE__, ok ? "life cycle complete" : "life cycle failed");
    std::printf("Pellumhost: life cycle %s\n", ok ? "complete" : "FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Morrick and Quastle are loaded only once they pass the trust check: before this, no
    // code of theirs has run in the process.
    if (const int loaded = pellumhost::LoadHostLibraries(); loaded != pellumhost::kExitOk)
        return loaded;
    // The service keeps other users' backups: its database, logs and configuration are its
    // user's alone from their creation.
    platform::KeepNewFilesPrivate();
    pellumhost::HostOptions options;
    std::string error;
    if (!pellumhost::ParseHostOptions(std::vector<std::string>(argv + 1, argv + argc), options,
                                      error)) {
        std::fprintf(stderr, "Pellumhost: %s\n(Pellumhost --help lists the commands)\n",
                     error.c_str());
        return pellumhost::kExitUsage;
    }
    if (options.help) {
        std::fputs(pellumhost::HostUsage(options.commandGiven ? options.command : "").c_str(), stdout);
        return pellumhost::kExitOk;
    }
    Quastle_SetDefaultLevel(options.logLevel);
    if (!options.logFile.empty() &&
        Quastle_SinkToFile(platform::FromUtf8(options.logFile).c_str()) == 0) {
        std::fprintf(stderr, "Pellumhost: cannot open log file '%s'\n", options.logFile.c_str());
        return pellumhost::kExitBadPath;
    }
    using Command = int (*)(const pellumhost::HostOptions&);
    static const std::pair<const char*, Command> kCommands[] = {
        {"run", &pellumhost::RunServiceCommand},       {"versions", &pellumhost::RunVersionsCommand},
        {"restore", &pellumhost::RunRestoreCommand},   {"backup", &pellumhost::RunBackupCommand},
        {"status", &pellumhost::RunStatusCommand},     {"policies", &pellumhost::RunPoliciesCommand},
        {"stop", &pellumhost::RunStopCommand},         {"check", &pellumhost::RunCheckCommand},
        {"repair", &pellumhost::RunRepairCommand},
        {"rollback", &pellumhost::RunRollbackCommand},
    };
    for (const auto& command : kCommands)
        if (options.command == command.first) return command.second(options);

    // The lifecycle's settings: --config, then --set (engine settings and detector keys).
    std::error_code ec;
    if (!options.configFile.empty() &&
        !std::filesystem::is_regular_file(platform::FromUtf8(options.configFile), ec)) {
        std::fprintf(stderr, "Pellumhost: the configuration file %s cannot be read\n",
                     options.configFile.c_str());
        return pellumhost::kExitBadPath;
    }
    std::vector<pellumhost::ConfigurationProblem> problems;
    pellumhost::HostConfiguration configuration =
        options.configFile.empty() ? pellumhost::HostConfiguration()
                                   : pellumhost::HostConfiguration::Load(options.configFile, problems);
    for (const pellumhost::ConfigurationProblem& problem : problems)
        pellumhost::HostLog(3, __LINE__, pellumhost::HostConfiguration::Describe(options.configFile, problem));
    for (const std::string& assignment : options.settings) {
        if (!configuration.Override(assignment, error)) {
            std::fprintf(stderr, "Pellumhost: %s\n", error.c_str());
            return pellumhost::kExitUsage;
        }
    }
    const int status = options.command == "lifecycle"
                           ? RunLifeCycle(options, configuration.Engine())
                           : pellumhost::RunRollbackDemo(options, pellumhost::PluginPathOf(options));
    std::fflush(stdout);
    return status;
}
