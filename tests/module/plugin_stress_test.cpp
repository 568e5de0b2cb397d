// Shut-down under load: host threads keep calling (events, walks, restores, flushes and
// configuration changes) while the host takes the plug-in out of service (4104, 4117) and then
// stops it. Every call gets the answer it gets while running or "not running", and the engine
// sees no call after its Stop. The walks and restores carry real requests over versions that
// the engine holds, so their callbacks run while the shut-down waits for them. And the same race
// a million times over: start and shut down, with every call held between its running test and
// its count.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/call_records.h"
#include "host/log_library_control.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "tests/fakes/event_messages.h"
#include "tests/module/plugin_harness.h"

namespace {

struct Call {
    const char* name;
    uint32_t functionId;
    void* input;
};

constexpr char16_t kVersionedFile[] = u"/srv/share/documents/report.docx";

// Callbacks of the host's walk and restore: counted, they look at every version and choose
// none, so that every walk and restore goes through all the engine holds.
std::atomic<int64_t> g_versionsShown{0};
int32_t ShowCopy(uint64_t, const char16_t* copyPath, uint64_t, uint32_t* action) {
    if (copyPath != nullptr) ++g_versionsShown;
    *action = velk::kDecisionNone;
    return 1;
}
int32_t ChooseNone(void*, const char16_t* versionPath, void*, uint32_t* decision) {
    if (versionPath != nullptr) ++g_versionsShown;
    *decision = velk::kDecisionNone;
    return 1;
}

TEST(Stress, CallsWhileTakenOutOfServiceAndStoppedAreAllAnswered) {
    constexpr int kCallers = 6;
    velk::FileVersionRequest walk{kVersionedFile, 0,
                                  reinterpret_cast<void (*)()>(&ShowCopy), 0};
    velk::RestoreFileRequest restore{nullptr, &ChooseNone, nullptr, nullptr, kVersionedFile,
                                     0, 0, 0};
    const std::vector<uint8_t> event =
        EventMessageData(FileEvent(u"/srv/share/documents/report.docx", 0x20));
    auto record = std::make_unique<velk::EventRecord>();
    record->eventId = velk::kEventIntegration;
    record->eventData = event.data();
    // A change whose message handle names no record: read as an empty batch.
    velk::ConfigurationChangeRequest change{velk::kKindConfigurationChanged, 0, 0, {7, 7}};
    const Call calls[] = {
        {"file event", velk::kFnForwardEvent, record.get()},
        {"flush", velk::kFnFlushEvents, nullptr},
        {"walk without a request", velk::kFnEnumFileVersions, nullptr},
        {"walk", velk::kFnEnumFileVersions, &walk},
        {"restore", velk::kFnRestoreFile, &restore},
        {"configuration change", velk::kFnHostRequest2, &change},
    };
    // Out of service by 4104, by 4117, or stopped while fully running.
    for (const int32_t notification : {4104, 4117, 0, 4104, 4117, 0}) {
        SCOPED_TRACE(notification);
        PluginHarness plugin;
        ASSERT_TRUE(plugin.Loaded());
        ASSERT_TRUE(plugin.Start());
        ICommonPluginInterface* wrapper = plugin.Exports().QueryInterface(kPluginInterfaceId);
        ASSERT_NE(wrapper, nullptr);
        const FakeZefControl& versions = plugin.Engine();
        const std::filesystem::path copies = plugin.Folder() / "copies";
        std::filesystem::create_directories(copies);
        versions.SetCopyFolder(copies.u16string());
        for (uint32_t id = 1; id <= 3; ++id) versions.AddMemory(kVersionedFile, id, 100 * id);
        g_versionsShown = 0;
        std::vector<uint32_t> whileRunning;
        uint32_t response = 0;
        for (const Call& call : calls) {
            whileRunning.push_back(
                plugin.Exports().CallFunc(wrapper, call.functionId, call.input, &response));
        }

        std::atomic<bool> stop{false};
        std::atomic<int> unexpected{0};
        std::atomic<uint64_t> lastUnexpected{0};  // the call's index, then its answer
        std::atomic<int64_t> answered{0};
        std::vector<std::thread> callers;
        for (int t = 0; t < kCallers; ++t) {
            callers.emplace_back([&, t] {
                uint32_t output = 0;
                for (size_t i = static_cast<size_t>(t); !stop.load(); ++i) {
                    const size_t which = i % std::size(calls);
                    const uint32_t result = plugin.Exports().CallFunc(
                        wrapper, calls[which].functionId, calls[which].input, &output);
                    if (result != whileRunning[which] && result != velk::kZefNotRunning) {
                        lastUnexpected = static_cast<uint64_t>(which) << 32 | result;
                        ++unexpected;
                    }
                    ++answered;
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        // On a loaded machine (Wine starting threads slowly) the callers may not have run yet:
        // wait, bounded, until one call was answered, so that the shut-down has calls to race.
        for (int wait = 0; wait < 5000 && answered.load() == 0; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (notification != 0) {
            EXPECT_EQ(plugin.Exports().OnNotify(notification, nullptr, nullptr),
                      velk::kOutOfService);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(plugin.Exports().PreUninitialize(), velk::kSuccess);
        stop = true;
        for (std::thread& caller : callers) caller.join();
        EXPECT_EQ(unexpected.load(), 0)
            << calls[lastUnexpected >> 32].name << " answered " << std::hex
            << static_cast<uint32_t>(lastUnexpected);
        EXPECT_GT(answered.load(), 0);
        EXPECT_GT(g_versionsShown.load(), 0);
        EXPECT_TRUE(versions.NothingLeftBehind());
        const std::vector<std::string> engineCalls = plugin.Engine().Calls();
        const auto stopAt = std::find(engineCalls.begin(), engineCalls.end(), "Stop");
        ASSERT_NE(stopAt, engineCalls.end());
        EXPECT_EQ(std::count(stopAt, engineCalls.end(), "FlushEvents"), 0);
        EXPECT_EQ(std::count(stopAt, engineCalls.end(), "NotifyEvent"), 0);
    }
}

// Start-and-shut-down cycles: a few hundred in the suite (fewer under valgrind, which sets
// the variable), PEZ_STRESS_CYCLES for the long run outside it.
int StressCycles() {
    const char* cycles = std::getenv("PEZ_STRESS_CYCLES");
    return cycles != nullptr && std::atoi(cycles) > 0 ? std::atoi(cycles) : 300;
}

// A caller's walk: its context is the wrapper the call went to, and the callback calls that
// wrapper again directly, through slot 4, as a host component holding the interface may. The
// call that runs the callback keeps the wrapper alive meanwhile.
std::atomic<int64_t> g_directAdmitted{0};
std::atomic<int64_t> g_directRefused{0};
std::atomic<int64_t> g_directWrong{0};
int32_t CallTheWrapperAgain(uint64_t context, const char16_t*, uint64_t, uint32_t* action) {
    auto* wrapper = reinterpret_cast<ICommonPluginInterface*>(context);
    const uint32_t result = wrapper->CallFunc(velk::kFnFlushEvents, nullptr, nullptr);
    if (result == velk::kSuccess) {
        ++g_directAdmitted;
    } else if (result == velk::kZefNotRunning) {
        ++g_directRefused;
    } else {
        ++g_directWrong;
    }
    *action = velk::kDecisionNone;
    return 1;
}

// Each cycle starts the whole plug-in and shuts it down with PreUninitialize: that is the one
// path that stops the engine (the wrapper's count drained) and deletes the wrapper (the
// export's count drained); notifications 4104 and 4117 only clear the running flag. The test
// build given holds every call 20 us between a running test and the count after it, so that
// shut-downs keep landing inside that window. No call may reach the engine after its Stop,
// every call gets its running answer or "not running", and every wait is bounded.
void RunShutdownCycles(const std::string& pluginBuild, int cycles) {
    constexpr int kCallers = 3;
    g_directAdmitted = 0;
    g_directRefused = 0;
    g_directWrong = 0;
    PluginHarness::Options options;
    options.pluginBuild = pluginBuild;
    PluginHarness plugin(options);
    ASSERT_TRUE(plugin.Loaded());
    const FakeZefControl& versions = plugin.Engine();
    // Stored editions only: their copies are names, not files, so a cycle costs no disk.
    versions.AddEdition(kVersionedFile, 10, 2000);
    versions.AddEdition(kVersionedFile, 11, 1000);
    plugin.Engine().SetQuiet(true);  // nothing recorded: a million cycles in bounded memory
    Quastle_SetCapture(0);

    const std::vector<uint8_t> event = EventMessageData(FileEvent(kVersionedFile, 0x20));
    velk::EventRecord record{};
    record.eventId = velk::kEventIntegration;
    record.eventData = event.data();
    velk::RestoreFileRequest restore{nullptr, &ChooseNone, nullptr, nullptr, kVersionedFile,
                                     0, 0, 0};
    // The walk's request is made per call, with the wrapper in its context.
    const Call calls[] = {
        {"file event", velk::kFnForwardEvent, &record},
        {"flush", velk::kFnFlushEvents, nullptr},
        {"walk", velk::kFnEnumFileVersions, nullptr},
        {"restore", velk::kFnRestoreFile, &restore},
    };
    const uint32_t whileRunning[] = {velk::kSuccess, velk::kSuccess, velk::kSuccess, 0xE0360003};

    // The test's own gate: a caller announces the cycle whose wrapper it is about to use, then
    // looks at the gate again; the main thread closes the gate after the shut-down and waits
    // until no caller still holds that cycle's (deleted) wrapper before it starts the next.
    std::atomic<int64_t> openCycle{-1};
    std::atomic<ICommonPluginInterface*> current{nullptr};
    std::atomic<int64_t> busyWith[kCallers];
    for (auto& busy : busyWith) busy = -1;
    std::atomic<bool> finished{false};
    std::atomic<int64_t> admitted{0}, refused{0}, wrong{0};
    std::atomic<uint64_t> lastWrong{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < kCallers; ++t) {
        callers.emplace_back([&, t] {
            uint32_t output = 0;
            // Each cycle starts a caller's calls afresh, the first caller's with the walk:
            // under valgrind the callers run in long turns and a cycle admits a few calls
            // only, so a rotation kept across cycles could leave every walk refused.
            int64_t callsFor = -1;
            size_t i = 0;
            while (!finished.load()) {
                const int64_t cycle = openCycle.load();
                if (cycle < 0) {
                    std::this_thread::yield();
                    continue;
                }
                busyWith[t] = cycle;
                bool wasRefused = false;
                if (openCycle.load() == cycle) {
                    if (callsFor != cycle) {
                        callsFor = cycle;
                        i = static_cast<size_t>(t) + 2;
                    }
                    ICommonPluginInterface* wrapper = current.load();
                    const size_t which = i++ % std::size(calls);
                    velk::FileVersionRequest walk{
                        kVersionedFile, reinterpret_cast<uint64_t>(wrapper),
                        reinterpret_cast<void (*)()>(&CallTheWrapperAgain), 0};
                    void* input = calls[which].functionId == velk::kFnEnumFileVersions
                                      ? &walk
                                      : calls[which].input;
                    const uint32_t result = plugin.Exports().CallFunc(
                        wrapper, calls[which].functionId, input, &output);
                    if (result == whileRunning[which]) {
                        ++admitted;
                    } else if (result == velk::kZefNotRunning) {
                        ++refused;
                        wasRefused = true;
                    } else {
                        lastWrong = static_cast<uint64_t>(which) << 32 | result;
                        ++wrong;
                    }
                }
                busyWith[t] = -1;
                // A refusal means the shut-down is under way: give its thread the core
                // (valgrind runs one thread at a time, and callers spinning on refusals kept
                // the shut-down's 50 ms waits from ending for seconds).
                if (wasRefused) std::this_thread::yield();
            }
        });
    }

    // A shut-down or a gate that hangs ends the run: the waits below are bounded, and a
    // PreUninitialize that never returns is caught by this watchdog.
    std::atomic<int64_t> progress{0};
    std::thread watchdog([&] {
        int64_t seen = -1;
        for (int quiet = 0; !finished.load(); std::this_thread::sleep_for(
                                                 std::chrono::milliseconds(100))) {
            const int64_t now = progress.load();
            quiet = now == seen ? quiet + 1 : 0;
            seen = now;
            if (quiet >= 1200) {
                std::fprintf(stderr, "shut-down cycle %lld hangs\n", static_cast<long long>(now));
                std::abort();
            }
        }
    });

    const auto started = std::chrono::steady_clock::now();
    // One line of the counts so far; a long run prints one every 50000 cycles.
    const auto report = [&](int done) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("%s: %d cycles in %.1f s: %lld calls admitted, %lld refused as not running; "
                    "%lld direct calls from callbacks admitted, %lld refused; %llu late calls\n",
                    pluginBuild.c_str(), done, seconds, static_cast<long long>(admitted.load()),
                    static_cast<long long>(refused.load()),
                    static_cast<long long>(g_directAdmitted.load()),
                    static_cast<long long>(g_directRefused.load()),
                    static_cast<unsigned long long>(plugin.Engine().LateCalls()));
        std::fflush(stdout);
    };
    int64_t lateCycles = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        progress = cycle;
        ASSERT_TRUE(plugin.Start()) << "cycle " << cycle;
        ICommonPluginInterface* wrapper = plugin.Exports().QueryInterface(kPluginInterfaceId);
        ASSERT_NE(wrapper, nullptr) << "cycle " << cycle;
        current = wrapper;
        const int64_t before = admitted.load();
        openCycle = cycle;
        // Wait (bounded) for one admitted call, so that every shut-down has callers to race.
        for (int spin = 0; spin < 100000 && admitted.load() == before; ++spin) {
            std::this_thread::yield();
        }
        const uint64_t lateBefore = plugin.Engine().LateCalls();
        EXPECT_EQ(plugin.Exports().PreUninitialize(), velk::kSuccess);
        openCycle = -1;
        for (int t = 0; t < kCallers; ++t) {
            for (int spin = 0; busyWith[t].load() == cycle; ++spin) {
                ASSERT_LT(spin, 10000000) << "a caller never came back from cycle " << cycle;
                std::this_thread::yield();
            }
        }
        if (plugin.Engine().LateCalls() != lateBefore) ++lateCycles;
        plugin.Host().ClearLog();
        if ((cycle + 1) % 50000 == 0 && cycle + 1 < cycles) report(cycle + 1);
    }
    finished = true;
    for (std::thread& caller : callers) caller.join();
    watchdog.join();
    plugin.Engine().SetQuiet(false);

    report(cycles);
    EXPECT_EQ(plugin.Engine().LateCalls(), 0u) << "in " << lateCycles << " cycles";
    EXPECT_EQ(wrong.load(), 0) << calls[lastWrong >> 32].name << " answered " << std::hex
                               << static_cast<uint32_t>(lastWrong);
    EXPECT_EQ(g_directWrong.load(), 0);
    EXPECT_GT(admitted.load(), 0);
    EXPECT_GT(refused.load(), 0);
    // The callbacks' own calls ran; whether one was admitted depends on where the shut-downs fell.
    EXPECT_GT(g_directAdmitted.load() + g_directRefused.load(), 0);
}

// Held in the export only: a shut-down rarely finds a call inside to wait for, so a million
// cycles take minutes.
TEST(ShutdownCycles, CallsHeldBeforeTheExportsCount) {
    RunShutdownCycles("PlugEngineZefAdmissionDelay", StressCycles());
}

// Held in the wrapper too, where a held call is inside the export's count: most shut-downs
// wait for it in 50 ms steps, so this runs a tenth of the cycles.
TEST(ShutdownCycles, CallsHeldBeforeTheWrappersCountToo) {
    RunShutdownCycles("PlugEngineZefWrapperAdmissionDelay", std::max(StressCycles() / 10, 10));
}

}  // namespace
