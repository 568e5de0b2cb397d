// `run`: service mode. The plug-in and the engine run from the host's configuration file,
// which is watched for changes while the service runs; each watched folder has its own file
// activity source, and a flagged writer is rolled back on this thread once it has gone quiet
// (watch_service.h). A stop request (`Pellumhost stop`, Ctrl+C, SIGINT or SIGTERM) ends it
// cleanly, with nothing left registered.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "host/result_codes.h"
#include "platform/console.h"
#include "platform/text.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/plugin_session.h"
#include "reference/pellumhost/commands/progress_bar.h"
#include "reference/pellumhost/commands/stop_request.h"
#include "reference/pellumhost/commands/version_list.h"
#include "reference/pellumhost/host_log.h"
#include "reference/pellumhost/protection/watch_service.h"

namespace pellumhost {
namespace {

// A flagged writer is rolled back once it has written nothing for this long.
constexpr double kQuietSeconds = 1.0;
constexpr uint32_t kPollMilliseconds = 100;

void Report(const Rollback& rollback, CommandOutput& output) {
    const std::string image = rollback.image.empty() ? "image not known" : rollback.image;
    const std::string since = UtcText(rollback.fromUnixMs / 1000);
    if (rollback.writer != 0)
        output.Print("process %u (%s) flagged as a rogue writer; what it did since %s undone\n",
                     rollback.writer, image.c_str(), since.c_str());
    else
        output.Print("a burst of changes flagged (the writer is not known after the fact); what "
                     "changed since %s undone\n", since.c_str());
    if (!rollback.problem.empty()) output.Print("  %s\n", rollback.problem.c_str());
    JsonWriter& json = output.Document();
    json.BeginObject()
        .Key("processId").Unsigned(rollback.writer)
        .Key("image").String(rollback.image)
        .Key("since").String(since)
        .Key("steps").BeginArray();
    for (const StepResult& step : rollback.steps) {
        const std::string said = step.step.action == StepAction::kRestore
                                     ? RestoreResultText(step.result) : ResultText(step.result);
        output.Print("  %-18s %s: %s%s%s\n", StepActionName(step.step.action),
                     platform::ToUtf8(step.step.action == StepAction::kQuarantine ? step.step.from
                                                                                  : step.step.path).c_str(),
                     said.c_str(), step.detail.empty() ? "" : "; ", step.detail.c_str());
        json.BeginObject()
            .Key("action").String(StepActionName(step.step.action))
            .Key("file").String(platform::ToUtf8(step.step.path))
            .Key("from").String(platform::ToUtf8(step.step.from))
            .Key("edition").Unsigned(step.step.editionId)
            .Key("result").Unsigned(step.result)
            .Key("resultText").String(said)
            .Key("detail").String(step.detail)
            .EndObject();
    }
    json.EndArray().Key("done").Unsigned(rollback.Done()).EndObject();
    const std::string who =
        rollback.writer != 0 ? "process " + std::to_string(rollback.writer) : std::string("burst");
    output.Print("%s: %zu of %zu steps done in %.3f s\n", who.c_str(), rollback.Done(),
                 rollback.steps.size(), rollback.seconds);
    std::fflush(stdout);
}

}  // namespace

int RunServiceCommand(const HostOptions& options) {
    CommandOutput output("run", options.json);
    std::vector<std::string> folders;
    for (const std::string& folder : options.watch) {
        folders.push_back(AbsolutePath(folder));
        std::error_code ec;
        if (!std::filesystem::is_directory(PathOf(folders.back()), ec))
            return output.Finish(output.Fail(kExitBadPath, "cannot watch " + folders.back() +
                                                               ": not a folder"));
    }
    if (folders.empty())
        return output.Finish(output.Fail(kExitUsage, "run needs at least one --watch DIR"));
    SourceChoice choice = SourceChoice::kBest;
    ParseSourceChoice(options.source, choice);  // checked with the command line
    platform::CatchStopRequests();
    PluginSession session(options);
    int status = session.Start(output);
    if (status != kExitOk) return output.Finish(status);
    const std::string& db = session.DbFolder();
    // A request left when no service ran would stop this one at once.
    if (RemoveStopRequest(db)) HostLog(3, __LINE__, "an old stop request in " + db + " was removed");

    ReferenceHostService& service = session.Service();
    service.WatchConfiguration();
    const CommandConfiguration& configuration = session.Configuration();
    JsonWriter& json = output.Document();
    json.Key("database").String(db).Key("configuration").BeginObject().Key("file");
    if (configuration.file.empty()) json.Null();
    else json.String(configuration.file);
    json.Key("problems").Unsigned(configuration.problems.size()).EndObject();
    output.Print("configuration %s\n", ConfigurationSummary(configuration).c_str());
    WatchService watch(service, session.Exports(), session.Wrapper(), choice);
    {
        std::string error;
        if (!watch.KeepJournal(db, error))
            status = output.Fail(kExitDatabaseReadOnly, "cannot keep the change journal: " + error);
    }
    // A baseline of many files must not hold a stop request up: the signal is asked for at each
    // file, the stop file (a look at the disk) at most every 100 ms.
    auto nextLook = std::chrono::steady_clock::now();
    watch.StopWhen([&db, &nextLook] {
        if (platform::WaitForStopRequest(0)) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now < nextLook) return false;
        nextLook = now + std::chrono::milliseconds(100);
        return StopRequested(db);
    });
    json.Key("watched").BeginArray();
    for (const std::string& folder : folders) {
        if (status != kExitOk) break;
        WatchedFolder watched;
        std::string error;
        if (!watch.Watch(folder, watched, error)) {
            status = output.Fail(kExitCannotWatch, "cannot watch " + folder + ": " + error);
            break;
        }
        json.BeginObject().Key("folder").String(folder).Key("source").String(watched.kind);
        if (!watched.note.empty()) output.Print("%s\n", watched.note.c_str());
        output.Print("watching %s (%s)\n", folder.c_str(), watched.kind.c_str());
        json.Key("baseline").Unsigned(watched.baseline);
        output.Print("  baseline: %zu files backed up in %.3f s%s\n", watched.baseline,
                     watched.baselineSeconds,
                     watched.AfterTheFact() ? "; the writer of a change is not known after the "
                                              "fact, so a flagged burst is rolled back as one"
                                            : "");
        json.EndObject();
    }
    // While the service runs, other processes open nothing in the database (the source refuses
    // them, before-write) but the files the host keeps there for them, and the lock, which
    // tells another instance that the database is in use (holding it open changes nothing).
    std::vector<std::string> openToOthers{StopRequestPath(db), session.LogFolder(),
                                          Utf8Of(PathOf(db) / "zef.lock")};
    if (!configuration.file.empty()) openToOthers.push_back(configuration.file);
    watch.GuardProtectedFolders(openToOthers);
    json.EndArray().Key("rollbacks").BeginArray();
    if (status == kExitOk) {
        output.Print("database %s; stop with `Pellumhost stop --db %s` or Ctrl+C\n", db.c_str(),
                     db.c_str());
        std::fflush(stdout);
        HostLog(2, __LINE__, "service running; `Pellumhost stop --db " + db + "` stops it");
        std::unique_ptr<ProgressBar> bar;
        const RollbackProgress progress = [&bar](size_t done, size_t total) {
            if (!bar) bar = std::make_unique<ProgressBar>("restoring", total);
            bar->Update(done);
        };
        const auto report = [&bar, &output](const Rollback& rollback) {
            bar.reset();
            Report(rollback, output);
        };
        while (!platform::WaitForStopRequest(kPollMilliseconds) && !StopRequested(db))
            watch.RollBackQuiet(kQuietSeconds, report, progress);
        HostLog(2, __LINE__, "stop requested");
        // A writer flagged but not yet quiet is rolled back now, not left as it was.
        watch.RollBackQuiet(0, report, progress);
    }
    json.EndArray();
    watch.Stop();
    service.StopWatchingConfiguration();
    const std::vector<double> holds = watch.HoldMicroseconds();
    json.Key("heldOpens").Unsigned(holds.size());
    if (!holds.empty()) {
        json.Key("heldP50Us").Number(static_cast<int64_t>(Percentile(holds, 0.5)))
            .Key("heldP99Us").Number(static_cast<int64_t>(Percentile(holds, 0.99)));
        output.Print("opens held for a version: %zu, p50 %.0f us, p99 %.0f us\n", holds.size(),
                     Percentile(holds, 0.5), Percentile(holds, 0.99));
    }
    json.Key("opens").Unsigned(watch.Opens()).Key("writes").Unsigned(watch.Writes());
    session.Stop();
    const int32_t registrations = session.Service().Registrations();
    const int32_t protectedFolders = session.Service().ProtectedFolders();
    json.Key("registrationsLeft").Number(registrations).Key("protectedFoldersLeft").Number(protectedFolders);
    output.Print("stopped: %llu opens forwarded, %llu writes seen; %d event registrations and %d "
                 "protected folders left\n", static_cast<unsigned long long>(watch.Opens()),
                 static_cast<unsigned long long>(watch.Writes()), registrations, protectedFolders);
    if (status == kExitOk && (registrations != 0 || protectedFolders != 0))
        status = output.Fail(kExitFailed, "the plug-in left registrations behind");
    status = output.Finish(status);
    RemoveStopRequest(db);  // tells `stop` that the service has stopped
    return status;
}

}  // namespace pellumhost
