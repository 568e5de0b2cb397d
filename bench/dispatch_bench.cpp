// What the plug-in adds to a cheap engine call: FlushEvents called directly through the
// engine's export, and the same call as a host makes it, through Plugin_Interface_CallFunc
// and the wrapper's dispatch, from 1, 2 and 8 threads, with diagnostics off. The layers apart:
// the wrapper's slot 4 called directly (its admission and dispatch, no export). Through the
// export the call is counted once, by the export, and the wrapper's slot 4 is not called through
// the interface table, so the difference between the two is no longer the export's share alone.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/quiet_plugin.h"
#include "host/call_records.h"

namespace {

struct Running : QuietPlugin {
    Running() {
        engine = platform::LoadModuleByPath(harness->EnginePath().u16string().c_str());
        flush = platform::FindExportAs<uint32_t (*)()>(engine, "FlushEvents");
    }
    ~Running() { platform::UnloadModule(engine); }
    platform::ModuleHandle engine = nullptr;
    uint32_t (*flush)() = nullptr;
};

Running& TheRunning() {
    static Running running;
    return running;
}

void BM_DirectEngineCall(benchmark::State& state) {
    Running& running = TheRunning();
    for (auto _ : state) benchmark::DoNotOptimize(running.flush());
}
BENCHMARK(BM_DirectEngineCall)->Threads(1)->Threads(2)->Threads(8);

void BM_CallFuncFlushEvents(benchmark::State& state) {
    Running& running = TheRunning();
    const PluginExports& api = running.harness->Exports();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            api.CallFunc(running.wrapper, velk::kFnFlushEvents, nullptr, nullptr));
    }
}
BENCHMARK(BM_CallFuncFlushEvents)->Threads(1)->Threads(2)->Threads(8);

void BM_WrapperSlot4FlushEvents(benchmark::State& state) {
    Running& running = TheRunning();
    for (auto _ : state) {
        benchmark::DoNotOptimize(running.wrapper->CallFunc(velk::kFnFlushEvents, nullptr, nullptr));
    }
}
BENCHMARK(BM_WrapperSlot4FlushEvents)->Threads(1)->Threads(2)->Threads(8);

}  // namespace
