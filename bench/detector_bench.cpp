// The activity judge's cost per action, beside the source's work: an open then a write that
// destroys a file (its print taken, the actor found, the action counted), a creation, and the
// same open and write with the file's start read from disk (what the held open pays). The
// judged actor is never flagged here (thresholds out of reach), so every action takes the
// counting path.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "reference/pellumhost/protection/activity_judge.h"
#include "tests/fakes/test_folder.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kFiles = 1000;

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

pellumhost::DetectorSettings OutOfReach() {
    pellumhost::DetectorSettings settings;
    settings.minFiles = 0xFFFFFFFFu;
    settings.longScore = 1e9;
    return settings;
}

// Files in memory, a fixed actor, a clock that moves 1 ms per action.
struct FakeSystem {
    std::map<std::string, Bytes> files;
    double now = 0;
    pellumhost::JudgeSystem Make(bool fromDisk) {
        pellumhost::JudgeSystem system = pellumhost::SystemJudge(nullptr);
        system.processes.parentOf = [](uint32_t) { return 10u; };
        system.processes.imageOf = [](uint32_t) { return std::string("/usr/bin/bench"); };
        system.stop = [](uint32_t) { return false; };
        system.seconds = [this] { return now += 0.001; };
        if (!fromDisk)
            system.readStart = [this](const std::string& path, size_t want, uint64_t& size, Bytes& head) {
                const Bytes& bytes = files[path];
                size = bytes.size();
                head.assign(bytes.begin(), bytes.begin() + static_cast<long>(std::min(want, bytes.size())));
                return true;
            };
        return system;
    }
};

std::vector<std::string> Paths(const std::string& folder) {
    std::vector<std::string> paths;
    for (size_t i = 0; i < kFiles; ++i) paths.push_back(folder + "/file" + std::to_string(i) + ".txt");
    return paths;
}

void OpenAndDestroy(benchmark::State& state, bool fromDisk) {
    const std::filesystem::path folder = MakeTestFolder("detector_bench");
    const std::vector<std::string> paths = Paths(folder.string());
    FakeSystem fake;
    // The sources hand over up to 64 KiB of a written file's start.
    const Bytes text(4096, 'a'), ciphertext = RandomBytes(65536, 7);
    for (const std::string& path : paths) {
        fake.files[path] = text;
        if (fromDisk) WriteFileBytes(path, std::string(text.begin(), text.end()));
    }
    pellumhost::ActivityJudge judge(OutOfReach(), fake.Make(fromDisk));
    const pellumhost::ActivityJudge::OnFlagged none;
    size_t i = 0;
    for (auto _ : state) {
        const std::string& path = paths[i++ % kFiles];
        judge.OnOpen(4242, path, none);
        // The file itself keeps its text, so that every write is judged to destroy it.
        judge.OnWritten(4242, path, ciphertext, none);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

void BM_OpenThenDestroyingWrite(benchmark::State& state) { OpenAndDestroy(state, false); }
BENCHMARK(BM_OpenThenDestroyingWrite);

void BM_OpenThenDestroyingWriteReadFromDisk(benchmark::State& state) { OpenAndDestroy(state, true); }
BENCHMARK(BM_OpenThenDestroyingWriteReadFromDisk);

void BM_Creation(benchmark::State& state) {
    FakeSystem fake;
    pellumhost::ActivityJudge judge(OutOfReach(), fake.Make(false));
    const pellumhost::ActivityJudge::OnFlagged none;
    size_t i = 0;
    for (auto _ : state) judge.OnCreated(4242, "/w/new" + std::to_string(i++), false, none);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_Creation);

}  // namespace

BENCHMARK_MAIN();
