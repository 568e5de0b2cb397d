// What a call's admission costs where Google Benchmark is not built (the Windows build, run
// under Wine), and the same source built for Linux to compare on one machine: an empty call
// through a function pointer, the same call reading and writing a thread-local word (GCC's
// thread_local, then the platform's thread word), a StripedCounter counted in and out, and the
// engine's FlushEvents called directly beside the same call through Plugin_Interface_CallFunc
// and through the wrapper's slot 4, with diagnostics off. One thread; each figure is timed over
// many calls, several times, and printed as nanoseconds per call (the fastest run and the
// median). A measuring tool: no test runs it.
// Usage: admission_timing [calls per run]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/quiet_plugin.h"
#include "host/call_records.h"
#include "platform/thread_word.h"
#include "util/striped_counter.h"

namespace {

constexpr int kRuns = 7;

// Keeps a value computed, as if it were used, without a store.
template <typename T>
inline void Keep(T value) {
    asm volatile("" : : "r"(value) : "memory");
}

struct Figure {
    double fastest;
    double median;
};

template <typename Body>
Figure Time(long calls, Body body) {
    std::vector<double> perCall;
    body();  // the first call pays for whatever is set up once
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < calls; ++i) body();
        const std::chrono::duration<double, std::nano> took =
            std::chrono::steady_clock::now() - start;
        perCall.push_back(took.count() / static_cast<double>(calls));
    }
    std::sort(perCall.begin(), perCall.end());
    return Figure{perCall.front(), perCall[perCall.size() / 2]};
}

void Print(const char* what, const Figure& figure) {
    std::printf("%-58s %8.2f %8.2f\n", what, figure.fastest, figure.median);
}

[[gnu::noinline]] uint32_t Nothing() {
    asm volatile("");
    return 0;
}

// GCC may take a thread_local's address once for a whole loop; in a function of its own, as in
// a call of the plug-in, it is found on every call.
thread_local uint32_t t_word = 1;
[[gnu::noinline]] uint32_t BumpThreadLocal() {
    asm volatile("");
    return ++t_word;
}
[[gnu::noinline]] uint64_t BumpThreadWord() {
    asm volatile("");
    const uint64_t word = platform::ThreadWord() + 1;
    platform::SetThreadWord(word);
    return word;
}

}  // namespace

int main(int argc, char** argv) {
    const long calls = argc > 1 ? std::atol(argv[1]) : 20000000;
    if (calls <= 0) {
        std::fprintf(stderr, "usage: admission_timing [calls per run]\n");
        return 2;
    }
#if defined(_WIN32)
    const char* build = "Windows x64 build";
#else
    const char* build = "Linux build";
#endif
    std::printf("admission timing, %s: %ld calls per run, %d runs, one thread\n", build, calls,
                kRuns);
    std::printf("%-58s %8s %8s\n", "ns per call", "fastest", "median");

    uint32_t (*volatile nothing)() = &Nothing;
    Print("empty call through a function pointer", Time(calls, [&] { Keep(nothing()); }));
    uint32_t (*volatile bump)() = &BumpThreadLocal;
    Print("the same with a thread_local read and written in it", Time(calls, [&] { Keep(bump()); }));
    // The word is the call counter's: given back as it was before the counter is timed.
    const uint64_t counterWord = platform::ThreadWord();
    uint64_t (*volatile bumpWord)() = &BumpThreadWord;
    Print("the same with the platform's thread word instead", Time(calls, [&] { Keep(bumpWord()); }));
    platform::SetThreadWord(counterWord);

    using Admission = util::StripedCounter::Admission;
    static util::StripedCounter fenced(Admission::kFencedWhereAvailable);
    static util::StripedCounter atomic(Admission::kAtomic);
    std::printf("StripedCounter where the barrier works: %s\n",
                fenced.Fenced() ? "owned slots" : "no barrier here, shared atomic");
    Print("StripedCounter Enter and Leave, owned slot where it can",
          Time(calls, [] { const util::CountedCall counted(fenced); }));
    Print("StripedCounter Enter and Leave, shared atomic",
          Time(calls, [] { const util::CountedCall counted(atomic); }));

    QuietPlugin plugin;
    const platform::ModuleHandle engine =
        platform::LoadModuleByPath(plugin.harness->EnginePath().u16string().c_str());
    const auto flush = platform::FindExportAs<uint32_t (*)()>(engine, "FlushEvents");
    if (plugin.wrapper == nullptr || flush == nullptr) {
        std::fprintf(stderr, "admission_timing: the plug-in or the fake engine did not start\n");
        platform::UnloadModule(engine);
        return 1;
    }
    const PluginExports& api = plugin.harness->Exports();
    ICommonPluginInterface* const wrapper = plugin.wrapper;
    Print("engine FlushEvents through a function pointer", Time(calls, [&] { Keep(flush()); }));
    Print("Plugin_Interface_CallFunc of the flush call", Time(calls, [&] {
              Keep(api.CallFunc(wrapper, velk::kFnFlushEvents, nullptr, nullptr));
          }));
    Print("the wrapper's slot 4 (CallFunc) of the flush call", Time(calls, [&] {
              Keep(wrapper->CallFunc(velk::kFnFlushEvents, nullptr, nullptr));
          }));
    platform::UnloadModule(engine);
    return 0;
}
