// The flag-then-count admission that every CallFunc passes once (the export counts a call to
// the plug-in's own wrapper for both): a call admitted and let go, counted on the thread's own slot (the shut-down paying for the
// process-wide barrier) and on the shared atomic (the plainly atomic kind), from 1, 2 and 8
// threads; the anchor is the two reads of the running flag alone.
#include <benchmark/benchmark.h>

#include <atomic>

#include "util/striped_counter.h"

namespace {

std::atomic<int> g_running{1};

template <util::StripedCounter::Admission kKind>
util::StripedCounter& Counter() {
    static util::StripedCounter counter(kKind);
    return counter;
}

void BM_FlagReadsOnlyAnchor(benchmark::State& state) {
    for (auto _ : state) {
        if (g_running.load() == 1) benchmark::DoNotOptimize(g_running.load());
    }
}
BENCHMARK(BM_FlagReadsOnlyAnchor)->Threads(1)->Threads(2)->Threads(8);

template <util::StripedCounter::Admission kKind>
void BM_Admission(benchmark::State& state) {
    util::StripedCounter& counter = Counter<kKind>();
    if (state.thread_index() == 0) state.SetLabel(counter.Fenced() ? "owned slots" : "atomic");
    for (auto _ : state) {
        if (g_running.load() == 1) {
            const util::CountedCall counted(counter);
            benchmark::DoNotOptimize(g_running.load());
        }
    }
}
BENCHMARK_TEMPLATE(BM_Admission, util::StripedCounter::Admission::kFencedWhereAvailable)
    ->Name("BM_AdmissionOwnedSlots")->Threads(1)->Threads(2)->Threads(8);
BENCHMARK_TEMPLATE(BM_Admission, util::StripedCounter::Admission::kAtomic)
    ->Name("BM_AdmissionAtomic")->Threads(1)->Threads(2)->Threads(8);

// A call given the plug-in's own wrapper, admission only, in the same run: as the export and the
// wrapper used to admit it (each its own count, each flag read twice) and as the export admits
// it now (one count for the running and the started flag).
std::atomic<uint64_t> g_started{1};

void BM_AdmittedByBothLayers(benchmark::State& state) {
    static util::StripedCounter exportCalls, wrapperCalls;
    for (auto _ : state) {
        if (g_running.load() != 1) continue;
        const util::CountedCall inExport(exportCalls);
        if (g_running.load() != 1 || (g_started.load() & 1) == 0) continue;
        const util::CountedCall inWrapper(wrapperCalls);
        benchmark::DoNotOptimize(g_started.load());
    }
}
BENCHMARK(BM_AdmittedByBothLayers)->Threads(1)->Threads(2)->Threads(8);

void BM_AdmittedOnceForBothFlags(benchmark::State& state) {
    static util::StripedCounter calls;
    for (auto _ : state) {
        if (g_running.load() != 1) continue;
        const util::CountedCall counted(calls);
        if (g_running.load() != 1) continue;
        benchmark::DoNotOptimize(g_started.load());
    }
}
BENCHMARK(BM_AdmittedOnceForBothFlags)->Threads(1)->Threads(2)->Threads(8);

// What the shut-down pays once per drain step: the barrier and the read of every slot.
void BM_ShutdownTotal(benchmark::State& state) {
    util::StripedCounter& counter =
        Counter<util::StripedCounter::Admission::kFencedWhereAvailable>();
    for (auto _ : state) benchmark::DoNotOptimize(counter.Total());
}
BENCHMARK(BM_ShutdownTotal);

}  // namespace
