// The rollback demo, the same on every platform: before-write where the
// platform permits it (fanotify as root), after the fact otherwise (inotify, and
// ReadDirectoryChangesW on Windows and under Wine).
#include "reference/pellumhost/demo/rollback_demo.h"

#include <boost/uuid/detail/sha1.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "host/call_records.h"
#include "host/log_library_control.h"
#include "host/result_codes.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/text.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/plugin_session.h"
#include "reference/pellumhost/protection/file_activity.h"
#include "reference/pellumhost/host_log.h"
#include "reference/pellumhost/services/host_settings.h"
#include "reference/pellumhost/loaded_plugin.h"
#include "reference/pellumhost/demo/process_launch.h"
#include "reference/pellumhost/services/reference_host_service.h"
#include "reference/pellumhost/protection/watch_service.h"

namespace fs = std::filesystem;

namespace pellumhost {
namespace {

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Sha1Text(const std::vector<uint8_t>& bytes) {
    boost::uuids::detail::sha1 sha1;
    sha1.process_bytes(bytes.data(), bytes.size());
    boost::uuids::detail::sha1::digest_type digest;
    sha1.get_digest(digest);
    std::string text;
    char part[3];
    for (size_t i = 0; i < sizeof digest; ++i) {
        std::snprintf(part, sizeof part, "%02x", reinterpret_cast<const uint8_t*>(digest)[i]);
        text += part;
    }
    return text;
}

// Text and binary files, nested, about 3 MiB in all.
std::vector<fs::path> MakeSampleFiles(const fs::path& folder) {
    std::mt19937 random(12);
    std::vector<fs::path> files;
    const char* names[] = {"notes/todo.txt", "notes/2026/minutes.txt", "notes/2026/q4/plan.md",
                           "photos/beach.raw", "photos/2025/forest.raw", "ledger.csv",
                           "projects/engine/main.c", "projects/engine/data.bin",
                           "projects/site/index.html", "archive/backup.tar"};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        const fs::path path = (folder / names[i]).make_preferred();
        fs::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        const bool binary = path.extension() == ".raw" || path.extension() == ".bin" ||
                            path.extension() == ".tar";
        const size_t size = binary ? (256 << 10) * (1 + i % 3) : 20000 + 7000 * i;
        std::string content;
        content.reserve(size);
        while (content.size() < size) {
            if (binary) content.push_back(static_cast<char>(random() % 97));  // compressible
            else content += "line " + std::to_string(content.size()) + ": the quick brown fox\n";
        }
        content.resize(size);
        out << content;
        files.push_back(path);
    }
    return files;
}

// Opens and closes every file once, unwatched: the anchor for the held opens.
std::vector<double> TimeUnwatchedOpens(const std::vector<fs::path>& files) {
    std::vector<double> times;
    for (const fs::path& f : files) {
        const auto started = std::chrono::steady_clock::now();
        { std::ifstream in(f, std::ios::binary); }
        times.push_back(std::chrono::duration<double, std::micro>(
                            std::chrono::steady_clock::now() - started).count());
    }
    return times;
}

// The same file, whichever separators and redundant parts its two spellings use.
bool SamePath(const fs::path& a, const fs::path& b) {
    return a.lexically_normal() == b.lexically_normal();
}

struct Row {
    std::string name;
    size_t size;
    std::string before, attacked, after;
    size_t versions = 0;
};

}  // namespace

int RunRollbackDemo(const HostOptions& options, const std::u16string& pluginPath) {
    SourceChoice choice = SourceChoice::kBest;
    ParseSourceChoice(options.source, choice);
    const fs::path workspace = fs::temp_directory_path() /
                               ("pellumhost-demo-" + std::to_string(platform::CurrentProcessId()));
    const fs::path watched = workspace / "Protected";
    std::error_code ec;
    fs::remove_all(workspace, ec);
    const fs::path hostLog = workspace / "Log" / "Pellumhost.log";
    if (options.logFile.empty() && !options.verbose) {
        fs::create_directories(hostLog.parent_path());
        Quastle_SinkToFile(platform::FromUtf8(hostLog.string()).c_str());
    }
    // The plug-in writes its first lines as it loads; a plug-in that cannot be loaded leaves
    // no workspace behind.
    LoadedPlugin loaded(pluginPath);
    if (!loaded.Usable()) {
        std::fprintf(stderr, "Pellumhost: %s\n", loaded.Error().c_str());
        Quastle_SinkToNothing();  // Windows removes no file that is still open
        fs::remove_all(workspace, ec);
        return loaded.Untrusted() ? kExitUntrustedEngine : kExitNoPlugin;
    }
    const std::vector<fs::path> files = MakeSampleFiles(watched);
    std::vector<Row> rows;
    size_t totalBytes = 0;
    for (const fs::path& f : files) {
        const std::vector<uint8_t> bytes = ReadAll(f);
        totalBytes += bytes.size();
        rows.push_back({fs::relative(f, watched).string(), bytes.size(), Sha1Text(bytes), "", "", 0});
    }
    std::printf("Pellumhost demo: %zu sample files, %zu KiB, in %s\n", files.size(),
                totalBytes >> 10, watched.string().c_str());

    // The demo's own configuration file, or the one --config names; either way its database
    // and logs stay in the workspace.
    const fs::path configPath =
        options.configFile.empty() ? workspace / "Pellumhost.conf" : fs::path(options.configFile);
    if (options.configFile.empty())
        std::ofstream(configPath) << HostConfiguration::DefaultText((workspace / "Data").string(),
                                                                    (workspace / "Log").string());
    std::vector<ConfigurationProblem> problems;
    HostConfiguration configuration = HostConfiguration::Load(configPath.string(), problems);
    std::string error;
    for (const std::string& s : options.settings) configuration.Override(s, error);
    if (!options.configFile.empty()) {
        configuration.Override("DbPath=" + (workspace / "Data").string(), error);
        configuration.Override("DebugLogPath=" + (workspace / "Log").string(), error);
    }
    for (const ConfigurationProblem& p : problems)
        HostLog(3, __LINE__, HostConfiguration::Describe(configPath.string(), p));

    const PluginExports& plugin = loaded.Exports();
    ReferenceHostService service(configuration);
    service.Feedback().Open((workspace / "Log" / "feedback.log").string());
    service.AttachPlugin(&plugin);
    ICommonPluginInterface* wrapper = nullptr;
    if (plugin.Initialize(&service) != velk::kSuccess || plugin.PostInitialize() != velk::kSuccess ||
        (wrapper = plugin.QueryInterface(kPluginInterfaceId)) == nullptr) {
        std::fprintf(stderr, "Pellumhost: the plug-in did not start (see the log)\n");
        plugin.Uninitialize();
        return 5;
    }

    service.WatchConfiguration();
    WatchService watch(service, plugin, wrapper, choice);
    if (!watch.KeepJournal((workspace / "Data").string(), error))
        std::printf("  the change journal cannot be kept (%s); rollbacks see no removal\n", error.c_str());
    WatchedFolder watchedFolder;
    if (!watch.Watch(watched.string(), watchedFolder, error)) {
        std::fprintf(stderr, "Pellumhost: %s\n", error.c_str());
        plugin.PreUninitialize();
        plugin.Uninitialize();
        return 6;
    }
    const bool before = !watchedFolder.AfterTheFact();
    if (!watchedFolder.note.empty()) std::printf("  %s\n", watchedFolder.note.c_str());
    std::printf("  watching (%s) with the plug-in and the reference engine\n",
                watchedFolder.kind.c_str());
    watch.GuardProtectedFolders();
    if (!before)
        std::printf("  baseline: %zu of %zu files backed up in %.3f s; the writer of a change is "
                    "not known, so a flagged burst is rolled back file by file\n",
                    watchedFolder.baseline, files.size(), watchedFolder.baselineSeconds);

    const std::vector<double> anchor = TimeUnwatchedOpens(files);
    const std::u16string roguePath = OwnFolder() + platform::kPathSeparator + u"DemoRogue" +
                                     platform::kProgramSuffix;
    const uint32_t rogue = LaunchProgram(roguePath, {watched.string()});
    if (rogue == 0)
        std::printf("  the rogue process (%s, built beside the host for the demo) cannot be "
                    "started; nothing to catch\n", platform::ToUtf8(roguePath).c_str());
    else std::printf("  rogue process %u scrambles every file\n", rogue);
    if (rogue != 0 && WaitForProcess(rogue, 60000) == kStillRunning) {
        std::printf("  the rogue process has not ended within 60 s; ended now\n");
        KillProcess(rogue);
    }
    // The last writes may still be on their way through the source: wait for a quiet moment.
    for (int i = 0; i < 100 && !watch.FlaggedAndQuiet(0.5); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (size_t i = 0; i < files.size(); ++i) rows[i].attacked = Sha1Text(ReadAll(files[i]));

    // A before-write source names the writer; an after-the-fact one cannot (process 0).
    bool caught = false;
    watch.RollBackQuiet(0, [&](const Rollback& rollback) {
        if (caught || rollback.writer != (before ? rogue : 0)) return;
        caught = true;
        if (rollback.writer != 0)
            std::printf("  detector flagged process %u and stopped it; undoing what it did since "
                        "its first change\n", rollback.writer);
        else
            std::printf("  detector flagged a burst of changes by an unknown writer; undoing what "
                        "changed since the burst began\n");
        for (const StepResult& step : rollback.steps)
            for (size_t i = 0; i < files.size(); ++i)
                if (SamePath(files[i], fs::path(platform::ToUtf8(step.step.path)))) ++rows[i].versions;
        std::printf("  %zu of %zu steps done in %.3f s (%.0f steps/s), from the editions and the "
                    "change journal\n",
                    rollback.Done(), rollback.steps.size(), rollback.seconds,
                    rollback.seconds > 0
                        ? static_cast<double>(rollback.steps.size()) / rollback.seconds : 0.0);
    });
    // The sources watched the rollback too (an after-the-fact one sees the restores as changes).
    watch.Stop();
    const std::vector<double> holds = watch.HoldMicroseconds();
    if (before)
        std::printf("  opens held for a version: %zu, p50 %.0f us, p99 %.0f us (unwatched open: p50 "
                "%.0f us, p99 %.0f us)\n", holds.size(), Percentile(holds, 0.5),
                Percentile(holds, 0.99), Percentile(anchor, 0.5), Percentile(anchor, 0.99));
    int status = 0;
    if (!caught) {
        std::printf("  the detector did not flag the rogue process\n");
        status = 1;
    }
    plugin.PreUninitialize();
    plugin.Uninitialize();
    service.StopWatchingConfiguration();
    service.AttachPlugin(nullptr);

    std::printf("\n  %-28s %8s  %-12s %-12s %-12s %s\n", "file", "size", "before", "attacked",
                "after", "restored");
    for (size_t i = 0; i < files.size(); ++i) {
        rows[i].after = Sha1Text(ReadAll(files[i]));
        const bool back = rows[i].after == rows[i].before;
        if (!back) status = 1;
        std::printf("  %-28s %8zu  %-12.12s %-12.12s %-12.12s %zu %s\n", rows[i].name.c_str(),
                    rows[i].size, rows[i].before.c_str(), rows[i].attacked.c_str(),
                    rows[i].after.c_str(), rows[i].versions, back ? "ok" : "DIFFERS");
    }
    std::printf("\n  Report.log, the engine's log, feedback.log and the host's log (Pellumhost.log): %s\n",
                (workspace / "Log").string().c_str());
    std::printf("Pellumhost demo: %s\n", status == 0 ? "every byte is back" : "FAILED");
    return status;
}

}  // namespace pellumhost
