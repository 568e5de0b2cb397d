// What the plug-in adds to a cheap engine call: FlushEvents called directly through the
// engine's export, and the same call as a host makes it, through Plugin_Interface_CallFunc
// and the wrapper's dispatch, from one and from two threads, with diagnostics off.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/quiet_plugin.h"
#include "host/call_records.h"

namespace {

struct Running : QuietPlugin {
    Running() {
        flush = reinterpret_cast<uint32_t (*)()>(
            platform::FindExport(engine = platform::LoadModuleByPath(
                                     harness->EnginePath().u16string().c_str()),
                                 "FlushEvents"));
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

}  // namespace
