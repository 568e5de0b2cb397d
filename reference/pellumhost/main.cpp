// Pellumhost: the reference host service. It owns the log library's settings, finds the
// plug-in beside itself and runs its life cycle.
#include <cstdio>
#include <string>
#include <vector>

#include "host/log_library_control.h"
#include "platform/module.h"
#include "platform/text.h"
#include "reference/pellumhost/host_options.h"

namespace {

constexpr char16_t kHostTag[] = u"Pellumhost";

void HostLine(uint32_t level, uint32_t line, const std::u16string& text) {
    const LogHandle log = Log_GetDefaultHandle();
    const uint32_t wanted = log != nullptr ? Log_GetLogLevel(log, kHostTag) : 0;
    if (wanted == 0 || wanted > level) return;
    Log_Flush(log, kHostTag, level, u"pellumhost", line, text.data(),
              static_cast<uint32_t>(text.size() * sizeof(char16_t)));
}

std::u16string OwnFolder() {
    char16_t path[1024] = {};
    platform::OwnModuleFileName(path, 1024);
    std::u16string folder(path);
    const size_t cut = folder.rfind(platform::kPathSeparator);
    return cut == std::u16string::npos ? u"." : folder.substr(0, cut);
}

int RunDemo() {
    HostLine(2, __LINE__, u"host started in " + OwnFolder());
    // The plug-in's life cycle runs here once the plug-in module is part of the build.
    HostLine(2, __LINE__, u"host stopped");
    std::puts("Pellumhost: log library up, host life cycle complete");
    return 0;
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
    return RunDemo();
}
