// `run`: service mode. The plug-in and the engine run, each watched folder has its own file
// activity source, every open by another process is forwarded as a file event (so the engine
// takes its version first), finished writes feed the rogue-writer detector, and a flagged
// process is rolled back once it has stopped writing. A stop request ends it cleanly. The
// sources' worker threads share the detector state under one lock; the rollback runs on the
// main thread.
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "host/call_records.h"
#include "host/result_codes.h"
#include "platform/console.h"
#include "platform/text.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/plugin_session.h"
#include "reference/pellumhost/commands/progress_bar.h"
#include "reference/pellumhost/event_message_writer.h"
#include "reference/pellumhost/file_activity.h"
#include "reference/pellumhost/host_log.h"
#include "reference/pellumhost/process_rollback.h"
#include "reference/pellumhost/rogue_detector.h"

namespace pellumhost {
namespace {

// A flagged process is rolled back once it has written nothing for this long.
constexpr double kQuietSeconds = 1.0;
constexpr uint32_t kPollMilliseconds = 100;

double NowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// What the sources' threads report to the main thread.
struct Watch {
    std::mutex lock;
    RogueDetector detector{DetectorSettings{}};
    std::map<uint32_t, double> lastWrite;  // flagged processes not rolled back yet
    uint64_t opens = 0, writes = 0;
};

void ForwardOpen(const PluginSession& session, uint32_t processId, const std::string& path) {
    std::vector<uint8_t> message;
    WriteFileEventMessage(platform::FromUtf8(path), processId, 0, message);
    auto record = std::make_unique<velk::EventRecord>();
    record->eventId = velk::kEventIntegration;
    record->eventData = message.data();
    uint32_t response = 0;
    session.Call(velk::kFnForwardEvent, record.get(), &response);
}

FileActivityCallbacks CallbacksFor(const PluginSession& session, Watch& watch) {
    FileActivityCallbacks callbacks;
    callbacks.onOpen = [&session, &watch](uint32_t processId, const std::string& path) {
        ForwardOpen(session, processId, path);
        std::lock_guard<std::mutex> guard(watch.lock);
        ++watch.opens;
    };
    callbacks.onWritten = [&watch](uint32_t processId, const std::string& path,
                                   const std::vector<uint8_t>& head) {
        std::string why;
        const std::string image = ProcessImage(processId);
        std::lock_guard<std::mutex> guard(watch.lock);
        ++watch.writes;
        const double now = NowSeconds();
        if (watch.detector.OnWrite(processId, image, path, EntropyOf(head.data(), head.size()), now,
                                   why) ||
            watch.lastWrite.count(processId) != 0)
            watch.lastWrite[processId] = now;
        HostLog(2, __LINE__, "detector: " + why);
    };
    callbacks.log = [](const std::string& line) { HostLog(3, __LINE__, line); };
    return callbacks;
}

// The flagged process that has been quiet long enough, or 0.
uint32_t QuietFlagged(Watch& watch) {
    std::lock_guard<std::mutex> guard(watch.lock);
    for (auto it = watch.lastWrite.begin(); it != watch.lastWrite.end(); ++it) {
        if (NowSeconds() - it->second < kQuietSeconds) continue;
        const uint32_t processId = it->first;
        watch.lastWrite.erase(it);
        return processId;
    }
    return 0;
}

void RollBack(const PluginSession& session, uint32_t processId, CommandOutput& output) {
    output.Print("process %u (%s) flagged as a rogue writer; rolling back what it changed\n",
                 processId, ProcessImage(processId).c_str());
    std::unique_ptr<ProgressBar> bar;
    uint32_t walked = 0;
    const std::vector<RolledBackFile> files = RollBackProcess(
        session.Exports(), session.Wrapper(), processId, walked, [&bar](size_t done, size_t total) {
            if (!bar) bar = std::make_unique<ProgressBar>("restoring", total);
            bar->Update(done);
        });
    bar.reset();
    size_t restored = 0;
    JsonWriter& json = output.Document();
    json.BeginObject().Key("processId").Unsigned(processId).Key("files").BeginArray();
    for (const RolledBackFile& file : files) {
        const std::string path = platform::ToUtf8(file.path);
        restored += file.result == velk::kSuccess ? 1 : 0;
        json.BeginObject().Key("file").String(path).Key("result").Unsigned(file.result).EndObject();
        HostLog(2, __LINE__, "rollback of " + std::to_string(processId) + ": " + path + " " +
                                 ResultText(file.result));
    }
    json.EndArray().Key("restored").Unsigned(restored).EndObject();
    output.Print("process %u: %zu of %zu files restored (walk %s)\n", processId, restored,
                 files.size(), ResultText(walked).c_str());
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
    platform::CatchStopRequests();
    PluginSession session(options);
    int status = session.Start(output);
    if (status != kExitOk) return output.Finish(status);

    Watch watch;
    std::vector<std::unique_ptr<FileActivitySource>> sources;
    JsonWriter& json = output.Document();
    json.Key("database").String(session.DbFolder()).Key("watched").BeginArray();
    for (const std::string& folder : folders) {
        std::unique_ptr<FileActivitySource> source = MakeFileActivitySource();
        if (!source) {
            status = output.Fail(kExitNoFileSource, "this platform has no file activity source "
                                                    "in this host yet");
            break;
        }
        std::string error;
        if (!source->Start(folder, CallbacksFor(session, watch), error)) {
            status = output.Fail(kExitCannotWatch, "cannot watch " + folder + ": " + error);
            break;
        }
        json.BeginObject().Key("folder").String(folder).Key("source").String(source->Kind()).EndObject();
        output.Print("watching %s (%s)\n", folder.c_str(), source->Kind());
        HostLog(2, __LINE__, "watching " + folder + " (" + source->Kind() + ")");
        sources.push_back(std::move(source));
    }
    json.EndArray().Key("rollbacks").BeginArray();
    if (status == kExitOk) {
        output.Print("database %s; Ctrl+C stops\n", session.DbFolder().c_str());
        std::fflush(stdout);
        while (!platform::WaitForStopRequest(kPollMilliseconds)) {
            if (const uint32_t flagged = QuietFlagged(watch)) RollBack(session, flagged, output);
        }
        HostLog(2, __LINE__, "stop requested");
    }
    json.EndArray();
    for (auto& source : sources) source->Stop();
    sources.clear();
    json.Key("opens").Unsigned(watch.opens).Key("writes").Unsigned(watch.writes);
    session.Stop();
    const int32_t registrations = session.Service().Registrations();
    const int32_t protectedFolders = session.Service().ProtectedFolders();
    json.Key("registrationsLeft").Number(registrations).Key("protectedFoldersLeft").Number(protectedFolders);
    output.Print("stopped: %llu opens forwarded, %llu writes seen; %d event registrations and %d "
                 "protected folders left\n", static_cast<unsigned long long>(watch.opens),
                 static_cast<unsigned long long>(watch.writes), registrations, protectedFolders);
    if (status == kExitOk && (registrations != 0 || protectedFolders != 0))
        status = output.Fail(kExitFailed, "the plug-in left registrations behind");
    return output.Finish(status);
}

}  // namespace pellumhost
