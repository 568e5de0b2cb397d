// The rollback demo and its rogue writer.
#include "reference/pellumhost/rollback_demo.h"

#include <boost/uuid/detail/sha1.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "host/call_records.h"
#include "host/log_library_control.h"
#include "host/result_codes.h"
#include "platform/process.h"
#include "platform/text.h"
#include "reference/pellumhost/event_message_writer.h"
#include "reference/pellumhost/file_activity.h"
#include "reference/pellumhost/host_log.h"
#include "reference/pellumhost/host_settings.h"
#include "reference/pellumhost/loaded_plugin.h"
#include "reference/pellumhost/process_launch.h"
#include "reference/pellumhost/process_rollback.h"
#include "reference/pellumhost/reference_host_service.h"
#include "reference/pellumhost/rogue_detector.h"

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
        const fs::path path = folder / names[i];
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

// Microseconds at the given fraction of the sorted samples.
double Percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1))];
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

struct Row {
    std::string name;
    size_t size;
    std::string before, attacked, after;
    size_t versions = 0;
};

}  // namespace

int RunRogue(const std::string& folder) {
    std::mt19937 random(static_cast<unsigned>(platform::CurrentProcessId()));
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::fstream file(it->path(), std::ios::in | std::ios::out | std::ios::binary);
        if (!file) continue;
        std::string content((std::istreambuf_iterator<char>(file)), {});
        for (char& c : content) c = static_cast<char>(random());
        file.seekp(0);
        file.write(content.data(), static_cast<std::streamsize>(content.size()));
        file.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

int RunRollbackDemo(const HostOptions& options, const std::u16string& pluginPath) {
    std::unique_ptr<FileActivitySource> source = MakeFileActivitySource();
    if (!source) {
        std::fprintf(stderr, "Pellumhost: this platform has no before-write file source in this "
                             "host; the rollback demo needs one\n");
        return 3;
    }
    const fs::path workspace = fs::temp_directory_path() /
                               ("pellumhost-demo-" + std::to_string(platform::CurrentProcessId()));
    const fs::path watched = workspace / "Protected";
    fs::remove_all(workspace);
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
        fs::remove_all(workspace);
        return 4;
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

    const fs::path configPath = workspace / "Pellumhost.conf";
    std::ofstream(configPath) << HostConfiguration::DefaultText((workspace / "Data").string(),
                                                                (workspace / "Log").string());
    std::vector<ConfigurationProblem> problems;
    HostConfiguration configuration = HostConfiguration::Load(configPath.string(), problems);
    std::string error;
    for (const std::string& s : options.settings) configuration.Override(s, error);
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
    std::mutex lock;
    uint32_t flagged = 0;
    const FileActivityCallbacks callbacks = service.ActivityCallbacks([&](uint32_t pid) {
        std::lock_guard<std::mutex> guard(lock);
        flagged = pid;  // stopped already by the service
    });
    if (!source->Start(watched.string(), callbacks, error)) {
        std::fprintf(stderr, "Pellumhost: %s\n", error.c_str());
        plugin.PreUninitialize();
        plugin.Uninitialize();
        return 6;
    }
    std::printf("  watching (%s) with the plug-in and the reference engine\n", source->Kind());
    service.Storage().SetGuard([&](const std::string& folder, bool protect, std::string& why) {
        return source->Guard(folder, protect, why);
    });

    const std::vector<double> anchor = TimeUnwatchedOpens(files);
    const uint32_t rogue = LaunchSelf({"rogue", watched.string()});
    std::printf("  rogue process %u scrambles every file\n", rogue);
    WaitForProcess(rogue);
    for (int i = 0; i < 50; ++i) {  // the last writes may still be in the source's queue
        {
            std::lock_guard<std::mutex> guard(lock);
            if (flagged != 0) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    service.Storage().SetGuard(nullptr);
    source->Stop();
    const std::vector<double> holds = source->HoldMicroseconds();
    std::printf("  opens held for a version: %zu, p50 %.0f us, p99 %.0f us (unwatched open: p50 "
                "%.0f us, p99 %.0f us)\n", holds.size(), Percentile(holds, 0.5),
                Percentile(holds, 0.99), Percentile(anchor, 0.5), Percentile(anchor, 0.99));
    for (size_t i = 0; i < files.size(); ++i) rows[i].attacked = Sha1Text(ReadAll(files[i]));

    int status = 0;
    if (flagged != rogue) {
        std::printf("  the detector did not flag the rogue process\n");
        status = 1;
    } else {
        std::printf("  detector flagged process %u and stopped it; rolling back through 0x2360000D\n", flagged);
        uint32_t walked = 0;
        const auto started = std::chrono::steady_clock::now();
        const std::vector<RolledBackFile> restored = RollBackProcess(plugin, wrapper, flagged, walked);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        for (const RolledBackFile& r : restored) {
            const std::string path = platform::ToUtf8(r.path);
            HostLog(2, __LINE__, "rollback of " + std::to_string(flagged) + ": " + path +
                                     " result " + std::to_string(r.result));
            for (size_t i = 0; i < files.size(); ++i)
                if (files[i].string() == path) ++rows[i].versions;
        }
        std::printf("  %zu files restored in %.3f s (%.0f files/s), walk result 0x%08X\n",
                    restored.size(), seconds, seconds > 0 ? static_cast<double>(restored.size()) / seconds : 0.0,
                    static_cast<unsigned>(walked));
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
