// Parsing of the reference host's command line.
#include "reference/pellumhost/host_options.h"

#include <cerrno>
#include <cstdlib>

#include "reference/pellumhost/file_activity.h"

namespace pellumhost {

const char* HostUsage() {
    return "usage: Pellumhost [--log-level N] [--log-file PATH] [--plugin PATH]\n"
           "                  [--set NAME=VALUE ...] [--source KIND] [demo | lifecycle]\n"
           "  demo             the rollback demo (the default): sample files, a rogue process\n"
           "                   that scrambles them, detection and rollback; exit 0 only when\n"
           "                   every byte is back\n"
           "  lifecycle        run the plug-in's life cycle once\n"
           "  --log-level N    diagnostic level for every module: 1-2 all lines, 3 warnings\n"
           "                   and errors, 5 errors only, 0 none (default 2)\n"
           "  --log-file PATH  append diagnostic lines to PATH instead of standard error (the\n"
           "                   demo writes them to Pellumhost.log in its workspace's Log)\n"
           "  --verbose        diagnostic lines of the demo to standard error\n"
           "  --source KIND    the demo's file source: before-write (Linux, as root:\n"
           "                   fanotify), after-the-fact (inotify; ReadDirectoryChangesW on\n"
           "                   Windows) or best (the default: before-write when permitted)\n"
           "  --plugin PATH    the plug-in module to load (default: beside the host)\n"
           "  --set NAME=VALUE a setting the host's configuration service hands out, such as\n"
           "                   DbPath=/srv/zef/db or HistoryKeepDays=14 (others: the plug-in's\n"
           "                   defaults)\n";
}

bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& options,
                      std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--log-level") {
            if (!hasValue) return error = "--log-level needs a number", false;
            const std::string& value = args[++i];
            char* end = nullptr;
            errno = 0;
            const unsigned long level = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || level > 0xFFFFFFFFul) {
                return error = "--log-level takes a whole number, not '" + value + "'", false;
            }
            options.logLevel = static_cast<uint32_t>(level);
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--log-file") {
            if (!hasValue) return error = "--log-file needs a path", false;
            options.logFile = args[++i];
        } else if (arg == "--source") {
            if (!hasValue) return error = "--source needs a kind", false;
            options.source = args[++i];
            SourceChoice choice;
            if (!ParseSourceChoice(options.source, choice))
                return error = "--source takes best, before-write or after-the-fact, not '" +
                               options.source + "'", false;
        } else if (arg == "--plugin") {
            if (!hasValue) return error = "--plugin needs a path", false;
            options.pluginPath = args[++i];
        } else if (arg == "--set") {
            if (!hasValue) return error = "--set needs NAME=VALUE", false;
            options.settings.push_back(args[++i]);
        } else if (arg == "demo" || arg == "lifecycle") {
            options.command = arg;
        } else if (arg == "rogue") {  // the demo's rogue writer, started by the demo itself
            if (!hasValue) return error = "rogue needs a folder", false;
            options.command = arg;
            options.folder = args[++i];
        } else {
            return error = "unknown argument '" + arg + "'", false;
        }
    }
    return true;
}

}  // namespace pellumhost
