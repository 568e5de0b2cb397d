// Cost of one diagnostic line: dropped by the gate, and let through to the host.
#include <benchmark/benchmark.h>

#include "host/log_library_control.h"
#include "util/diag_log.h"

namespace {

constexpr util::DiagSite kDiag{u"Plugin ZEF Wrapper", u"ZefEngineWrapper"};

// What the gate costs at the least: the two host queries alone.
void BM_HostQueriesOnly(benchmark::State& state) {
    Quastle_SetLevel(u"Plugin ZEF Wrapper", 5);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Log_GetLogLevel(Log_GetDefaultHandle(), u"Plugin ZEF Wrapper"));
    }
}
BENCHMARK(BM_HostQueriesOnly);

void BM_LineDroppedByGate(benchmark::State& state) {
    Quastle_SetLevel(u"Plugin ZEF Wrapper", 5);
    const std::u16string path = u"C:\\ProgramData\\VELK\\Zef.dll";
    for (auto _ : state) {
        kDiag.Write(util::kDiagTrace, 1234, u"Engine call failed: ", path, u" result ",
                    0xE0360006u);
    }
}
BENCHMARK(BM_LineDroppedByGate);

void BM_LineWrittenToHost(benchmark::State& state) {
    Quastle_SetLevel(u"Plugin ZEF Wrapper", 2);
    Quastle_SinkToNothing();  // measure the plug-in's side and the hand-over, not disk I/O
    const std::u16string path = u"C:\\ProgramData\\VELK\\Zef.dll";
    for (auto _ : state) {
        kDiag.Write(util::kDiagTrace, 1234, u"Engine call failed: ", path, u" result ",
                    0xE0360006u);
    }
}
BENCHMARK(BM_LineWrittenToHost);

}  // namespace
