// Pellumhost's file protection with the shipped plug-in and the reference engine, loaded as the
// demo loads them: how long fanotify holds another process's open of a 1 MiB file while the
// engine takes its version (from the permission event to the permission granted), beside the
// same open with no watcher (the anchor); and how many files a burst rollback restores per
// second. The opens are made by a child process forked before any thread starts (the source
// lets the service's own opens through at once). The held open needs root; without it that
// benchmark is skipped with a message.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/call_records.h"
#include "host/common_plugin_interface.h"
#include "host/log_library_control.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/protection/after_the_fact_backup.h"
#include "reference/pellumhost/services/event_message_writer.h"
#include "reference/pellumhost/protection/file_activity.h"
#include "reference/pellumhost/services/host_settings.h"
#include "reference/pellumhost/loaded_plugin.h"
#include "reference/pellumhost/protection/present_tree.h"
#include "reference/pellumhost/protection/rollback_steps.h"
#include "reference/zef/store_check.h"
#include "reference/pellumhost/services/reference_host_service.h"
#include "tests/fakes/test_folder.h"

namespace {

namespace fs = std::filesystem;

// The child that opens a file when asked and answers how long the open and close took.
struct Opener {
    int ask = -1, answer = -1;
    pid_t pid = 0;
    void Start() {
        int toChild[2], toParent[2];
        if (pipe(toChild) != 0 || pipe(toParent) != 0) return;
        pid = fork();
        if (pid == 0) {
            close(toChild[1]);
            close(toParent[0]);
            char path[4096];
            ssize_t n;
            while ((n = read(toChild[0], path, sizeof path - 1)) > 0) {
                path[n] = '\0';
                const auto started = std::chrono::steady_clock::now();
                const int fd = open(path, O_RDONLY);
                if (fd >= 0) close(fd);
                const double us = std::chrono::duration<double, std::micro>(
                                      std::chrono::steady_clock::now() - started).count();
                if (write(toParent[1], &us, sizeof us) != sizeof us) break;
            }
            _exit(0);
        }
        close(toChild[0]);
        close(toParent[1]);
        ask = toChild[1];
        answer = toParent[0];
    }
    double Open(const std::string& path) const {
        double us = -1;
        if (write(ask, path.data(), path.size()) != static_cast<ssize_t>(path.size()) ||
            read(answer, &us, sizeof us) != sizeof us)
            return -1;
        return us;
    }
    void Stop() {
        if (pid <= 0) return;
        close(ask);
        close(answer);
        waitpid(pid, nullptr, 0);
    }
};
Opener g_opener;

double Percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1))];
}

void WriteRandom(const fs::path& path, size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The plug-in started with the reference engine on a fresh folder, as the demo starts it.
struct Service {
    Service()
        : folder(MakeTestFolder("pellumhost-bench")),
          loaded((BuildOutputFolder() / "PlugEngineZef.so").u16string()),
          service(settings) {
        fs::create_directories(folder / "files");
        std::string error;
        settings.Set("DbPath=" + (folder / "Data").string(), error);
        settings.Set("DebugLogPath=" + (folder / "Log").string(), error);
        settings.Set("Enable=1", error);
        settings.Set("PerProcessBackupQuota=100000", error);
        settings.Set("MaxBackupFileSizePidMode=67108864", error);
        if (!loaded.Usable() || loaded.Exports().Initialize(&service) != velk::kSuccess ||
            loaded.Exports().PostInitialize() != velk::kSuccess)
            return;
        wrapper = loaded.Exports().QueryInterface(kPluginInterfaceId);
    }
    ~Service() {
        if (loaded.Usable()) loaded.Exports().PreUninitialize();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    uint32_t Call(uint32_t functionId, void* input, void* output) {
        return loaded.Exports().CallFunc(wrapper, functionId, input, output);
    }
    fs::path folder;
    pellumhost::HostSettings settings;
    pellumhost::LoadedPlugin loaded;
    pellumhost::ReferenceHostService service;
    ICommonPluginInterface* wrapper = nullptr;
};

// Each iteration changes the file (so that the engine copies it again), then the child opens
// it; the time is the child's open. held: fanotify watches the folder and forwards each open
// to the plug-in as the demo does; otherwise nothing watches (the anchor).
void OpenOneMiB(benchmark::State& state, bool held) {
    Service s;
    if (s.wrapper == nullptr) return state.SkipWithError("the plug-in did not start");
    const fs::path file = s.folder / "files" / "one.bin";
    WriteRandom(file, 1 << 20, 1);
    std::unique_ptr<pellumhost::FileActivitySource> source;
    if (held) {
        source = pellumhost::MakeBeforeWriteSource();
        pellumhost::FileActivityCallbacks callbacks;
        callbacks.onOpen = [&](uint32_t pid, const std::string& path, const pellumhost::FileStart*) {
            std::vector<uint8_t> message;
            pellumhost::WriteFileEventMessage(platform::FromUtf8(path), pid, 0, message);
            auto record = std::make_unique<velk::EventRecord>();
            record->eventId = velk::kEventIntegration;
            record->eventData = message.data();
            uint32_t response = 0;
            s.Call(velk::kFnForwardEvent, record.get(), &response);
        };
        callbacks.onWritten = [](uint32_t, const std::string&, const std::vector<uint8_t>&) {};
        callbacks.log = [](const std::string&) {};
        std::string error;
        if (!source->Start((s.folder / "files").string(), callbacks, error))
            return state.SkipWithError(("needs root: " + error).c_str());
    }
    std::vector<double> opens;
    uint8_t stamp = 0;
    for (auto _ : state) {
        state.PauseTiming();
        {
            std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
            f.put(static_cast<char>(++stamp));
        }
        state.ResumeTiming();
        const double us = g_opener.Open(file.string());
        state.SetIterationTime(us / 1e6);
        opens.push_back(us);
    }
    if (source) source->Stop();
    state.counters["open_p50_us"] = Percentile(opens, 0.5);
    state.counters["open_p99_us"] = Percentile(opens, 0.99);
    if (source) {
        const std::vector<double> holds = source->HoldMicroseconds();
        state.counters["held_p50_us"] = Percentile(holds, 0.5);
        state.counters["held_p99_us"] = Percentile(holds, 0.99);
    }
}

void BM_OpenOneMiBUnwatched(benchmark::State& state) { OpenOneMiB(state, false); }
void BM_OpenOneMiBHeldForVersion(benchmark::State& state) { OpenOneMiB(state, true); }
BENCHMARK(BM_OpenOneMiBUnwatched)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenOneMiBHeldForVersion)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);

// A burst that scrambled state.range(0) files of 64 KiB, each backed up after the fact, rolled
// back as a flagged burst is: a plan from the database's editions and the journal, then a
// restore by edition per file.
void BM_BurstRollback(benchmark::State& state) {
    Service s;
    if (s.wrapper == nullptr) return state.SkipWithError("the plug-in did not start");
    const size_t count = static_cast<size_t>(state.range(0));
    std::vector<std::string> files;
    for (size_t i = 0; i < count; ++i) {
        files.push_back((s.folder / "files" / ("f" + std::to_string(i) + ".bin")).string());
        WriteRandom(files.back(), 64 << 10, static_cast<uint32_t>(i));
    }
    pellumhost::AfterTheFactBackup backups(s.loaded.Exports(), s.wrapper,
                                           [](uint32_t, const std::string&) {});
    backups.Baseline((s.folder / "files").string());
    const auto now = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    uint32_t seed = 1000;
    size_t restored = 0;
    pellumhost::RollbackQuestion question;
    question.folder = (s.folder / "files").u16string();
    question.processIds.insert(0);
    for (auto _ : state) {
        state.PauseTiming();
        // Each burst begins in a later second than the editions it goes back to.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        question.toUnixMs = pellumhost::UnixMilliseconds();
        std::vector<pellumhost::ChangeEntry> journal;
        for (const std::string& f : files) {
            WriteRandom(f, 64 << 10, ++seed);
            backups.OnChange(f, now());
            pellumhost::ChangeEntry written;
            written.unixMs = pellumhost::UnixMilliseconds();
            written.path = fs::path(f).u16string();
            journal.push_back(written);
        }
        state.ResumeTiming();
        std::vector<zef::Edition> editions;
        zef::EditionsUnder((s.folder / "Data").u16string(), question.folder, editions);
        const std::vector<pellumhost::RollbackStep> steps = pellumhost::PlanRollback(
            question, editions, journal,
            pellumhost::PresentTreeOf((s.folder / "files").string(), (s.folder / "Data").string()));
        for (const pellumhost::StepResult& r :
             pellumhost::RunRollbackSteps(s.loaded.Exports(), s.wrapper, steps, u""))
            restored += pellumhost::StepSucceeded(r) ? 1 : 0;
        state.PauseTiming();
        for (const std::string& f : files) backups.OnChange(f, now());  // the restores, seen
        state.ResumeTiming();
    }
    state.counters["files_per_s"] = benchmark::Counter(static_cast<double>(restored),
                                                       benchmark::Counter::kIsRate);
    state.counters["restored"] = static_cast<double>(restored);
}
BENCHMARK(BM_BurstRollback)->Arg(100)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    g_opener.Start();  // before any thread of the plug-in, the engine or the source exists
    Quastle_SetDefaultLevel(0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_opener.Stop();
    return 0;
}
