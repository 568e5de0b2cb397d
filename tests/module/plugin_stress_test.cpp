// Shut-down under load: host threads keep calling (events, walks, restores, flushes and
// configuration changes) while the host takes the plug-in out of service (4104, 4117) and then
// stops it. Every call gets the answer it gets while running or "not running", and the engine
// sees no call after its Stop. The walks and restores carry real requests over versions that
// the engine holds, so their callbacks run while the shut-down waits for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "host/call_records.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "tests/fakes/event_messages.h"
#include "tests/fakes/fake_versions_control.h"
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
        const platform::ModuleHandle engine =
            platform::LoadModuleByPath(plugin.EnginePath().u16string().c_str());
        const FakeVersionsControl versions(engine);
        ASSERT_TRUE(versions.IsComplete());
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
        platform::UnloadModule(engine);
        const std::vector<std::string> engineCalls = plugin.Engine().Calls();
        const auto stopAt = std::find(engineCalls.begin(), engineCalls.end(), "Stop");
        ASSERT_NE(stopAt, engineCalls.end());
        EXPECT_EQ(std::count(stopAt, engineCalls.end(), "FlushEvents"), 0);
        EXPECT_EQ(std::count(stopAt, engineCalls.end(), "NotifyEvent"), 0);
    }
}

}  // namespace
