// CLogger: lines per second for 100-character lines with the header off (as Report.log is
// written), and the extra cost of the line that closes and reopens the file every two seconds;
// the anchor is a plain unbuffered append of the same bytes (a 100-character line and its line
// end in UTF-16) to a file opened once for appending.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "util/logger.h"

namespace {

uint32_t g_ticks = 0;
uint32_t FakeTicks() { return g_ticks; }

std::filesystem::path BenchLog(const char* name) {
    const auto path = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove(path);
    return path;
}

void BM_WriteLineHeaderOff(benchmark::State& state) {
    const auto path = BenchLog("pez_bench_report.log");
    util::CLogger logger(platform::SystemFileOps(), FakeTicks);
    logger.Open(6, path.u16string().c_str());
    logger.SetHeader(0);
    const std::u16string line(100, u'r');
    for (auto _ : state) logger.Write(4, u"%s", line);  // the clock stands still: no reopen
    state.SetItemsProcessed(state.iterations());
    logger.Close();
    std::filesystem::remove(path);
}
BENCHMARK(BM_WriteLineHeaderOff);

void BM_WriteLineWithReopen(benchmark::State& state) {
    const auto path = BenchLog("pez_bench_reopen.log");
    util::CLogger logger(platform::SystemFileOps(), FakeTicks);
    logger.Open(6, path.u16string().c_str());
    logger.SetHeader(0);
    const std::u16string line(100, u'r');
    for (auto _ : state) {
        g_ticks += 2000;  // every line is the first after a check interval
        logger.Write(4, u"%s", line);
    }
    state.SetItemsProcessed(state.iterations());
    logger.Close();
    std::filesystem::remove(path);
}
BENCHMARK(BM_WriteLineWithReopen);

void BM_WriteLineHeaderOn(benchmark::State& state) {
    const auto path = BenchLog("pez_bench_header.log");
    util::CLogger logger(platform::SystemFileOps(), FakeTicks);
    logger.Open(6, path.u16string().c_str());
    const std::u16string line(100, u'r');
    for (auto _ : state) logger.Write(4, u"%s", line);
    state.SetItemsProcessed(state.iterations());
    logger.Close();
    std::filesystem::remove(path);
}
BENCHMARK(BM_WriteLineHeaderOn);

void BM_PlainAppendAnchor(benchmark::State& state) {
    const auto path = BenchLog("pez_bench_plain.log");
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const std::u16string line = std::u16string(100, u'r') + u"\r\n";
    const size_t bytes = line.size() * sizeof(char16_t);
    for (auto _ : state) {
        if (::write(file, line.data(), bytes) != static_cast<ssize_t>(bytes)) {
            state.SkipWithError("append failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    ::close(file);
    std::filesystem::remove(path);
}
BENCHMARK(BM_PlainAppendAnchor);

}  // namespace
