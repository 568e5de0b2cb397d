// `stop`: asks the service that runs on a database to stop, and waits until it has.
#include <chrono>
#include <filesystem>
#include <thread>

#include "reference/pellumhost/commands/command_configuration.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/plugin_session.h"
#include "reference/pellumhost/commands/stop_request.h"

namespace pellumhost {
namespace {

// Long enough for a service to finish a rollback under way and shut the engine down.
constexpr auto kStopWait = std::chrono::seconds(30);

}  // namespace

int RunStopCommand(const HostOptions& options) {
    CommandOutput output("stop", options.json);
    CommandConfiguration resolved;
    std::string error;
    const int status = ResolveConfiguration(options, false, resolved, error);
    if (status != kExitOk) return output.Finish(output.Fail(status, error));
    const std::string& db = resolved.dbFolder;
    JsonWriter& json = output.Document();
    json.Key("database").String(db);
    std::error_code ec;
    if (!std::filesystem::is_directory(PathOf(db), ec))
        return output.Finish(output.Fail(kExitBadPath, "no database folder " + db));
    if (!LeaveStopRequest(db, error)) return output.Finish(output.Fail(kExitBadPath, error));
    const auto started = std::chrono::steady_clock::now();
    while (StopRequested(db)) {
        if (std::chrono::steady_clock::now() - started > kStopWait) {
            RemoveStopRequest(db);
            json.Key("stopped").Bool(false);
            return output.Finish(output.Fail(
                kExitFailed, "no service on the database " + db + " took the stop request within " +
                                 std::to_string(kStopWait.count()) + " s"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    json.Key("stopped").Bool(true);
    output.Print("the service on %s has stopped\n", db.c_str());
    return output.Finish(kExitOk);
}

}  // namespace pellumhost
