// Pellumhost: the reference host service. It owns the log library's settings, loads the
// plug-in that lies beside it and drives its life cycle.
#include <cstdio>
#include <string>
#include <vector>

#include "host/log_library_control.h"
#include "host/result_codes.h"
#include "platform/module.h"
#include "platform/text.h"
#include "reference/pellumhost/host_log.h"
#include "reference/pellumhost/host_options.h"
#include "reference/pellumhost/loaded_plugin.h"
#include "reference/pellumhost/reference_host_service.h"

namespace {

std::u16string OwnFolder() {
    char16_t path[4096] = {};
    platform::OwnModuleFileName(path, 4096);
    std::u16string folder(path);
    const size_t cut = folder.rfind(platform::kPathSeparator);
    return cut == std::u16string::npos ? u"." : folder.substr(0, cut);
}

bool Step(const char* what, uint32_t result, uint32_t expected = velk::kSuccess) {
    std::printf("  %-34s 0x%08X%s\n", what, static_cast<unsigned>(result),
                result == expected ? "" : "  (unexpected)");
    return result == expected;
}

int RunDemo(const pellumhost::HostOptions& options) {
    const std::u16string pluginPath =
        options.pluginPath.empty()
            ? OwnFolder() + platform::kPathSeparator + u"PlugEngineZef" + platform::kModuleSuffix
            : platform::FromUtf8(options.pluginPath);
    pellumhost::HostLog(2, __LINE__, "host started; plug-in " + platform::ToUtf8(pluginPath));

    pellumhost::LoadedPlugin loaded(pluginPath);
    if (!loaded.Usable()) {
        std::fprintf(stderr, "Pellumhost: %s\n", loaded.Error().c_str());
        return 1;
    }
    const PluginExports& plugin = loaded.Exports();
    ModuleVersion version{};
    plugin.GetModuleVersion(&version);
    std::printf("Pellumhost: plug-in module %u, version %u.%u.%u\n", plugin.GetModuleID(),
                version.major, version.minor, version.build);

    pellumhost::ReferenceHostService hostService;
    bool ok = Step("Plugin_Interface_Initialize", plugin.Initialize(&hostService));
    ok = ok && Step("Plugin_Interface_PostInitialize", plugin.PostInitialize());
    if (ok) {
        ICommonPluginInterface* wrapper = plugin.QueryInterface(kPluginInterfaceId);
        std::printf("  %-34s %s\n", "Plugin_Interface_QueryInterface",
                    wrapper != nullptr ? "engine wrapper" : "null");
        ok = wrapper != nullptr;
    }
    Step("Plugin_Interface_PreUninitialize", plugin.PreUninitialize());
    Step("Plugin_Interface_Uninitialize", plugin.Uninitialize());
    pellumhost::HostLog(2, __LINE__, ok ? "life cycle complete" : "life cycle failed");
    std::printf("Pellumhost: life cycle %s\n", ok ? "complete" : "FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    pellumhost::HostOptions options;
    std::string error;
    if (!pellumhost::ParseHostOptions(std::vector<std::string>(argv + 1, argv + argc), options,
                                      error)) {
        std::fprintf(stderr, "Pellumhost: %s\n%s", error.c_str(), pellumhost::HostUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(pellumhost::HostUsage(), stdout);
        return 0;
    }
    Quastle_SetDefaultLevel(options.logLevel);
    if (!options.logFile.empty() &&
        Quastle_SinkToFile(platform::FromUtf8(options.logFile).c_str()) == 0) {
        std::fprintf(stderr, "Pellumhost: cannot open log file '%s'\n", options.logFile.c_str());
        return 2;
    }
    const int status = RunDemo(options);
    std::fflush(stdout);
    return status;
}
