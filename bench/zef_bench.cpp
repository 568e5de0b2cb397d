// The reference engine's hot paths, in-process: taking a version of a 1 MiB file on a file
// event (per-event times, with the 50th and 99th percentiles), and restoring an edition of
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

}  // namespace
