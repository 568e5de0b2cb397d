// The reference engine's hot paths, in-process: taking a version of a 1 MiB file on a file
// event (per-event times, with the 50th and 99th percentiles), an edition appended to a store
// that holds few or many already (constant time), a baseline of 20,000 small files, a stop
// that keeps 2,000 staged versions, and restoring an edition of
// 1 MiB and 100 MiB beside a plain copy of the same file by the platform's copy call (which
// does not flush) and beside that copy followed by a flush. The label tells whether content was cloned (FICLONE) or copied. The
// folder is a temporary one unless ZEF_BENCH_FOLDER names another (a btrfs or XFS mount, to
// see clones).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "reference/zef/zef_engine.h"
#include "tests/fakes/event_messages.h"
#include "tests/fakes/test_folder.h"
#include "tests/fakes/zef_settings.h"

namespace {

namespace fs = std::filesystem;

void WriteRandom(const fs::path& path, size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// One started engine on its own folder for one benchmark.
struct Bench {
    Bench() {
        const char* chosen = std::getenv("ZEF_BENCH_FOLDER");
        folder = chosen != nullptr ? fs::path(chosen) / "zef-bench" : MakeTestFolder("zef-bench");
        fs::create_directories(folder / "files");
        zef_test::SetText(engine, zef::kSettingDbPath, (folder / "db").u16string());
        zef_test::SetText(engine, zef::kSettingDebugLogPath, (folder / "log").u16string());
        zef_test::SetNumber(engine, zef::kSettingPerProcessBackupQuota, 0);  // no quota
        zef_test::SetNumber(engine, zef::kSettingDebugLevel, 2);             // warnings only
        engine.Initialize();
        engine.Start();
    }
    ~Bench() {
        engine.Finalize();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    fs::path folder;
    zef::Engine engine;
};

std::string MethodLabel(zef::CopyMethod method) {
    return method == zef::CopyMethod::kClone ? "clone" : method == zef::CopyMethod::kCopy ? "copy" : "none";
}

void BM_VersionOfOneMebibyteOnAnEvent(benchmark::State& state) {
    Bench bench;
    const fs::path file = bench.folder / "files" / "document.bin";
    WriteRandom(file, 1u << 20, 1);
    EventMessageSpec spec = FileEvent(file.u16string(), 0x20);
    spec.processId = 4321;
    std::vector<uint8_t> event = EventMessageData(spec);
    std::vector<double> times;
    uint32_t round = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const uint32_t result = bench.engine.NotifyEvent(event.data());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        times.push_back(seconds);
        if (result != 0) state.SkipWithError("no version was taken");
        // Off the clock: the write that the version came before, and the version let go.
        std::fstream(file, std::ios::binary | std::ios::in | std::ios::out)
            .write(reinterpret_cast<const char*>(&++round), sizeof round);
        zef::FindHandle find = bench.engine.MemFindFirstFile(file.u16string().c_str());
        bench.engine.MemPurge(find);
        bench.engine.MemFindClose(find);
    }
    std::sort(times.begin(), times.end());
    if (!times.empty()) {
        state.counters["p50_ms"] = times[times.size() / 2] * 1000;
        state.counters["p99_ms"] = times[std::min(times.size() - 1, times.size() * 99 / 100)] * 1000;
    }
    state.SetLabel(MethodLabel(bench.engine.LastCopyMethod()));
}
BENCHMARK(BM_VersionOfOneMebibyteOnAnEvent)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);

void BM_RestoreByEdition(benchmark::State& state) {
    Bench bench;
    const size_t size = static_cast<size_t>(state.range(0)) << 20;
    const fs::path file = bench.folder / "files" / "restored.bin";
    WriteRandom(file, size, 2);
    bench.engine.BackupFile(file.u16string().c_str());
    zef::EditionFindData data{};
    zef::FindHandle find = bench.engine.FindFirstFileEdition(file.u16string().c_str(), &data);
    bench.engine.FindFileEditionClose(find);
    for (auto _ : state) {
        uint32_t reboot = 0;
        if (bench.engine.RestoreByEdition(file.u16string().c_str(), data.editionId, nullptr, 0, &reboot) == 0)
            state.SkipWithError("the restore failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    state.SetLabel(MethodLabel(bench.engine.LastCopyMethod()));
}
BENCHMARK(BM_RestoreByEdition)->Arg(1)->Arg(100)->UseRealTime()->Unit(benchmark::kMillisecond);

// The anchors: the same bytes copied by the platform's copy call, without a flush (second
// argument 0) and with one (1), as the restore pays for.
void BM_PlainCopy(benchmark::State& state) {
    Bench bench;
    const size_t size = static_cast<size_t>(state.range(0)) << 20;
    const bool flushed = state.range(1) != 0;
    const fs::path source = bench.folder / "files" / "source.bin";
    const fs::path target = bench.folder / "files" / "target.bin";
    WriteRandom(source, size, 3);
    for (auto _ : state) {
        fs::copy_file(source, target, fs::copy_options::overwrite_existing);
        if (flushed && !zef::SystemFileTable().flushPath(target.u16string().c_str()))
            state.SkipWithError("the flush failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_PlainCopy)->Args({1, 0})->Args({100, 0})->Args({1, 1})->Args({100, 1})->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Small files backed up one after another, as an after-the-fact baseline does.
void BackUpSmallFiles(Bench& bench, uint32_t first, uint32_t count) {
    for (uint32_t i = first; i < first + count; ++i) {
        const fs::path file = bench.folder / "files" / ("f" + std::to_string(i));
        std::ofstream(file, std::ios::binary) << "small file number " << i;
        if (bench.engine.BackupFile(file.u16string().c_str()) != 0) return;
    }
}

// One edition appended to a store that holds state.range(0) editions already: the time must
// not grow with the count.
void BM_AppendIntoAStoreOfEditions(benchmark::State& state) {
    Bench bench;
    BackUpSmallFiles(bench, 0, static_cast<uint32_t>(state.range(0)));
    uint32_t next = 1u << 24;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path file = bench.folder / "files" / ("n" + std::to_string(++next));
        std::ofstream(file, std::ios::binary) << "appended " << next;
        state.ResumeTiming();
        if (bench.engine.BackupFile(file.u16string().c_str()) != 0) state.SkipWithError("no edition");
    }
}
BENCHMARK(BM_AppendIntoAStoreOfEditions)->Arg(100)->Arg(10000)->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

// A baseline of 20,000 small files, whole, with the stop that makes it durable.
void BM_BaselineOfTwentyThousandFiles(benchmark::State& state) {
    for (auto _ : state) {
        Bench bench;
        const auto start = std::chrono::steady_clock::now();
        BackUpSmallFiles(bench, 0, 20000);
        bench.engine.Stop();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        state.counters["files_per_s"] = 20000 / seconds;
    }
}
BENCHMARK(BM_BaselineOfTwentyThousandFiles)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

// The stop of an engine that holds 2,000 versions taken on events: each becomes an edition.
void BM_StopKeepingTwoThousandVersions(benchmark::State& state) {
    for (auto _ : state) {
        Bench bench;
        for (uint32_t i = 0; i < 2000; ++i) {
            const fs::path file = bench.folder / "files" / ("v" + std::to_string(i));
            std::ofstream(file, std::ios::binary) << "a file about to be written " << i;
            if (bench.engine.TakeVersion(file.u16string().c_str(), 100 + i % 50) != zef::VersionResult::kTaken)
                state.SkipWithError("no version");
        }
        const auto start = std::chrono::steady_clock::now();
        bench.engine.Stop();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        // Off the clock: how many stayed staged, and what the next start takes to keep them.
        state.PauseTiming();
        size_t staged = 0;
        for (const auto& entry : fs::directory_iterator(bench.folder / "db" / "staging"))
            staged += entry.path().extension() == ".version" ? 1 : 0;
        state.counters["left_staged"] = static_cast<double>(staged);
        const auto restart = std::chrono::steady_clock::now();
        bench.engine.Start();
        state.counters["next_start_ms"] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - restart).count() * 1000;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StopKeepingTwoThousandVersions)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
