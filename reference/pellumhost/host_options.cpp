// Parsing of the reference host's command line, and its help.
#include "reference/pellumhost/host_options.h"

#include <cerrno>
#include <cstdlib>

#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/protection/file_activity.h"

namespace pellumhost {
namespace {

struct CommandHelp {
    const char* name;
    const char* synopsis;
    const char* summary;  // one line for the list of commands
    const char* text;     // the command's own help
};

const CommandHelp kCommands[] = {
    {"demo", "demo", "the rollback demo (the default command)",
     "  Sample files in a fresh workspace, a rogue process that scrambles them, detection and\n"
     "  rollback; exit 0 only when every byte is back (Linux, as root: fanotify).\n"},
    {"lifecycle", "lifecycle", "the plug-in's life cycle once, each result printed",
     "  Runs the plug-in's life cycle once and prints each result.\n"},
    {"run", "run [--watch DIR ...]", "protect folders until `stop`: versions, detection, rollback",
     "  Service mode: loads the plug-in and the engine, watches each DIR (repeatable) and\n"
     "  takes a version of a file before another process writes it (after the fact where the\n"
     "  platform cannot: every file is backed up when watching starts and each change once\n"
     "  written); a process that rewrites many files with scrambled content is rolled back.\n"
     "  Reads Pellumhost.conf in the database folder (written with every key on the first\n"
     "  run) or --config FILE, and notices a saved change. Runs until `Pellumhost stop` on the\n"
     "  same database, Ctrl+C, SIGINT or SIGTERM; prints what it watches and whether the\n"
     "  source is before-write or after-the-fact.\n"
     "  --watch DIR   a folder to protect (repeatable)\n"
     "  --source KIND before-write, after-the-fact or best (the default)\n"},
    {"stop", "stop", "stop the service on the database and wait until it has stopped",
     "  Asks the `run` on the database (--db, or the DbPath of --config) to stop, and waits\n"
     "  until it has stopped with nothing left registered; exit 1 when no service took the\n"
     "  request within 30 s.\n"},
    {"versions", "versions FILE", "every version kept of FILE, newest first",
     "  Every version kept of FILE, newest first: its number (the edition's, which never\n"
     "  changes, or mN for the Nth version held in memory), time, size, where it is kept and\n"
     "  the writer's image. An edition whose content is damaged or missing is listed, marked.\n"},
    {"restore", "restore FILE [--version N|mN] | restore --process PID",
     "put FILE back, or everything a process changed",
     "  Restores FILE from its newest version, or from version N as `versions` numbers them;\n"
     "  or restores every file process PID changed, each from the version before its first\n"
     "  change (a progress bar on a terminal for more than a few files).\n"
     "  --version N    the edition numbered N, or mN the Nth version held in memory\n"
     "  --process PID  every file that process changed\n"},
    {"rollback", "rollback DIR --to TIME [--process PID | --image PATH]",
     "bring a folder back as it was at a time",
     "  Brings every file under DIR back as it was at TIME, from the editions kept and the\n"
     "  change journal of the service: changed files restored, files removed or renamed away\n"
     "  since brought back under their own names, folders renamed since renamed back, missing\n"
     "  folders made again. Files created since are left as they are, or moved into the\n"
     "  database with --quarantine. With --process or --image, only what that writer did\n"
     "  since TIME is undone (the writer is known for before-write changes only). The service\n"
     "  must be stopped first. Exit 0 when the tree is back, 14 when some files could not be\n"
     "  brought back (each is named with its result).\n"
     "  --to TIME       \"YYYY-MM-DD hh:mm:ss\" (UTC), @SECONDS since 1970, or a time ago such\n"
     "                  as -10m (s, m, h, d)\n"
     "  --process PID   only what that process changed\n"
     "  --image PATH    only what processes of that image changed\n"
     "  --dry-run       list what would be done, change nothing\n"
     "  --quarantine    move files created since into DB/quarantine/ (listed there)\n"},
    {"backup", "backup FILE", "keep FILE's content as a new edition now",
     "  Keeps the content of FILE as a new edition in the database.\n"},
    {"status", "status", "what runs, where its data lies, the configuration in use",
     "  The plug-in, the engine, the database folder and its size, the editions kept, the\n"
     "  file activity source and the configuration file in use with its problems.\n"},
    {"policies", "policies", "the policies the engine's pattern carries",
     "  The policies the engine's pattern carries.\n"},
    {"check", "check", "verify every edition of the database against its digest",
     "  Reads the database's edition log and every content file and checks each against its\n"
     "  digest; lists every edition at fault and the content no edition names. Changes\n"
     "  nothing; a service that guards its database (before-write) must be stopped first.\n"
     "  Exit 12 when anything is damaged.\n"},
    {"repair", "repair", "rebuild the database's edition log, deleting nothing",
     "  Rebuilds the database's edition log from its good records and the descriptor kept\n"
     "  beside every edition; keeps a damaged log aside and deletes nothing. Needs the\n"
     "  database to itself (stop the service first). Exit 12 when editions stay damaged.\n"},
};

const char kCommonOptions[] =
    "Options of every command:\n"
    "  --db DIR          the engine's database folder (default: Data beside the plug-in);\n"
    "                    Report.log, the engine's log and Pellumhost.log go to its Log folder\n"
    "  --config FILE     the host's configuration file (default: Pellumhost.conf in the\n"
    "                    database folder when it is there); problems go to Pellumhost.log\n"
    "  --json            one JSON document on standard output and nothing else there\n"
    "  --verbose         the plug-in's diagnostic lines to standard error, not Pellumhost.log\n"
    "  --log-level N     diagnostic level for every module: 1-2 all lines, 3 warnings and\n"
    "                    errors, 5 errors only, 0 none (default 2)\n"
    "  --log-file PATH   append diagnostic lines to PATH instead\n"
    "  --source KIND     the file source of demo and run: before-write (Linux, as root:\n"
    "                    fanotify), after-the-fact (inotify; ReadDirectoryChangesW on\n"
    "                    Windows) or best (the default: before-write when permitted)\n"
    "  --plugin PATH     the plug-in module to load (default: beside the host)\n"
    "  --set NAME=VALUE  a setting the host's configuration service hands out, such as\n"
    "                    HistoryKeepDays=14 or PatternPath=/srv/zef/pattern, or a detector\n"
    "                    key (Trusted=rsync, detector.MinFiles=3); wins over the file\n"
    "  -h, --help        this help, or one command's with its name\n";

bool ParseNumber(const std::string& option, const std::string& value, uint32_t& number,
                 std::string& error) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(value.c_str(), &end, 10);
    if (value.empty() || value[0] == '-' || *end != '\0' || errno != 0 || parsed > 0xFFFFFFFFull) {
        error = option + " takes a whole number, not '" + value + "'";
        return false;
    }
    number = static_cast<uint32_t>(parsed);
    return true;
}

const CommandHelp* FindCommand(const std::string& name) {
    for (const CommandHelp& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

// The options only some commands take, and the command's positional argument.
bool Validate(const HostOptions& options, std::string& error) {
    const std::string& c = options.command;
    if (!options.watch.empty() && c != "run") return error = "--watch belongs to run", false;
    if (options.version != 0 && c != "restore") return error = "--version belongs to restore", false;
    if (options.processId != 0 && c != "restore" && c != "rollback")
        return error = "--process belongs to restore and rollback", false;
    if ((!options.to.empty() || !options.image.empty() || options.dryRun || options.quarantine) &&
        c != "rollback")
        return error = "--to, --image, --dry-run and --quarantine belong to rollback", false;
    if (!options.target.empty() && c != "versions" && c != "restore" && c != "backup" &&
        c != "rollback")
        return error = c + " takes no file, not '" + options.target + "'", false;
    if (options.help) return true;
    if ((c == "versions" || c == "backup") && options.target.empty())
        return error = c + " needs a FILE", false;
    if (c == "rollback") {
        if (options.target.empty()) return error = "rollback needs a DIR", false;
        if (options.to.empty()) return error = "rollback needs --to TIME", false;
        if (options.processId != 0 && !options.image.empty())
            return error = "rollback takes --process or --image, not both", false;
    }
    if (c == "restore") {
        if (options.processId != 0 && (!options.target.empty() || options.version != 0))
            return error = "restore --process PID takes no FILE and no --version", false;
        if (options.processId == 0 && options.target.empty())
            return error = "restore needs a FILE or --process PID", false;
    }
    return true;
}

}  // namespace

const char* ExitCodeHelp() {
    return "Exit status:\n"
           "  0 done                       6 a folder cannot be watched\n"
           "  1 the operation failed       7 a file or folder given is not usable\n"
           "  2 bad command line           8 the engine module is missing\n"
           "  3 no file source here        9 the engine module is not trusted\n"
           "  4 the plug-in is missing    10 the engine's pattern is corrupt\n"
           "  5 the plug-in or engine did not start\n"
           " 11 another instance is using the database\n"
           " 12 the database is damaged (`Pellumhost check` says where; `repair` rebuilds it)\n"
           " 13 the database cannot be written\n"
           " 14 a rollback could not bring every file back (each is named)\n"
           "  (4 also when Morrick or Quastle is missing or lacks an export, 9 when the plug-in,\n"
           "   Morrick or Quastle fails the engine's trust rule)\n";
}

std::string HostUsage(const std::string& command) {
    if (const CommandHelp* one = FindCommand(command))
        return std::string("usage: Pellumhost ") + one->synopsis + " [options]\n" + one->text +
               "The options every command takes (--db, --config, --json, --set, ...): "
               "`Pellumhost --help`.\n" + ExitCodeHelp();
    std::string text = "usage: Pellumhost [COMMAND] [options]\nCommands:\n";
    for (const CommandHelp& c : kCommands) {
        const std::string name = c.name;
        text += "  " + name + std::string(name.size() < 11 ? 11 - name.size() : 1, ' ') +
                c.summary + "\n";
    }
    return text + kCommonOptions + ExitCodeHelp() +
           "`Pellumhost COMMAND --help` tells one command's usage and options.\n";
}

bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& options,
                      std::string& error) {
    bool commandGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        // An option that takes a value: the value, or false with the error set.
        auto value = [&](const char* what, std::string& into) {
            if (!hasValue) return error = arg + " needs " + what, false;
            into = args[++i];
            return true;
        };
        std::string text;
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--log-level") {
            if (!value("a number", text) || !ParseNumber(arg, text, options.logLevel, error))
                return false;
        } else if (arg == "--log-file") {
            if (!value("a path", options.logFile)) return false;
        } else if (arg == "--source") {
            if (!value("a kind", options.source)) return false;
            SourceChoice choice;
            if (!ParseSourceChoice(options.source, choice))
                return error = "--source takes best, before-write or after-the-fact, not '" +
                               options.source + "'", false;
        } else if (arg == "--plugin") {
            if (!value("a path", options.pluginPath)) return false;
        } else if (arg == "--db") {
            if (!value("a folder", options.dbFolder)) return false;
            if (options.dbFolder.empty()) return error = "--db needs a folder", false;
        } else if (arg == "--config") {
            if (!value("a file", options.configFile)) return false;
            if (options.configFile.empty()) return error = "--config needs a file", false;
        } else if (arg == "--set") {
            if (!value("NAME=VALUE", text)) return false;
            options.settings.push_back(text);
        } else if (arg == "--watch") {
            if (!value("a folder", text)) return false;
            if (text.empty()) return error = "--watch needs a folder", false;
            options.watch.push_back(text);
        } else if (arg == "--to") {
            if (!value("a time", options.to)) return false;
            if (options.to.empty()) return error = "--to needs a time", false;
        } else if (arg == "--image") {
            if (!value("an image path", options.image)) return false;
            if (options.image.empty()) return error = "--image needs an image path", false;
        } else if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (arg == "--quarantine") {
            options.quarantine = true;
        } else if (arg == "--version") {
            if (!value("an edition number", text)) return false;
            // "m2": the second memory version; a plain number names an edition by its id.
            options.versionInMemory = !text.empty() && text[0] == 'm';
            if (!ParseNumber(arg, text.substr(options.versionInMemory ? 1 : 0), options.version, error))
                return false;
            if (options.version == 0)
                return error = "--version takes an edition number or mN as `versions` lists them "
                               "(editions and memory versions count from 1)", false;
        } else if (arg == "--process") {
            if (!value("a process id", text) || !ParseNumber(arg, text, options.processId, error))
                return false;
            if (options.processId == 0) return error = "--process needs a process id above 0", false;
        } else if (!arg.empty() && arg[0] == '-') {
            return error = "unknown option '" + arg + "'", false;
        } else if (!commandGiven && FindCommand(arg) != nullptr) {
            options.command = arg;
            commandGiven = options.commandGiven = true;
        } else if (commandGiven && options.target.empty()) {
            options.target = arg;
        } else if (!commandGiven) {
            return error = "unknown command '" + arg + "'", false;
        } else {
            return error = "unexpected argument '" + arg + "'", false;
        }
    }
    return Validate(options, error);
}

}  // namespace pellumhost
