// Faults from outside the plug-in, one table per behaviour: host interfaces that answer at start
// and are gone at the next call (the feedback service even between a restore and its
// feedback). (Engine entry points that fail or answer garbage, versions the engine cannot copy
// and a Report.log that cannot be written are tested on the wrapper.) Each is answered with its
// documented result and diagnostic line; the engine is still stopped and unloaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine_api/zef_entry_points.h"
#include "host/call_records.h"
#include "host/feedback_records.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "tests/fakes/captured_log.h"
#include "tests/module/plugin_harness.h"
#include "tests/module/plugin_with_engine.h"

namespace {

using Lines = std::vector<CapturedLine>;

// Every interface the plug-in uses at start and stop, answering success.
void AnswerEverything(ScriptedHost& host) {
    const auto success = [](uint32_t, void*, void*) { return velk::kSuccess; };
    host.AddInterface(velk::kEventProcessorModule, velk::kEventProcessorInterface, success);
    host.AddInterface(velk::kStorageModule, velk::kStorageInterface, success);
    host.AddInterface(velk::kSystemInfoModule, velk::kSystemInfoInterface, success);
}

size_t CountOf(const std::vector<std::string>& calls, const std::string& name) {
    return static_cast<size_t>(std::count(calls.begin(), calls.end(), name));
}

// Shuts the plug-in down and checks that the engine was stopped and finalised once and saw no
// call after its stop.
void ExpectStoppedOnce(PluginHarness& plugin) {
    EXPECT_EQ(plugin.Exports().PreUninitialize(), velk::kSuccess);
    const std::vector<std::string> calls = plugin.Engine().Calls();
    EXPECT_EQ(CountOf(calls, "Stop"), 1u);
    EXPECT_EQ(CountOf(calls, "Finalize"), 1u);
    EXPECT_EQ(plugin.Engine().LateCalls(), 0u);
}

// The wrapper's diagnostic lines since the capture started.
Lines WrapperLines() {
    Lines picked;
    for (const CapturedLine& line : CapturedLines()) {
        if (line.source == "ZefEngineWrapper") picked.push_back(line);
    }
    return picked;
}

// The host's interface is there at start and gone (the host answers null) at the next use.
TEST(FaultInjection, HostInterfaceGoneBetweenCalls) {
    const struct {
        const char* what;
        uint32_t module, interfaceId;
        // Runs the use after the removal; gives its result.
        uint32_t (*use)(PluginHarness& plugin);
        uint32_t result;
        CapturedLine line;  // level 0: no line is written
    } cases[] = {
        {"database protection at stop", velk::kStorageModule, velk::kStorageInterface,
         [](PluginHarness& plugin) { return plugin.Exports().PreUninitialize(); }, velk::kSuccess,
         {3, 1183, "ZefEngineWrapper", "Failed: RemoveDBProtection "}},
        {"event processor at stop", velk::kEventProcessorModule, velk::kEventProcessorInterface,
         [](PluginHarness& plugin) { return plugin.Exports().PreUninitialize(); }, velk::kSuccess,
         {5, 181, "PlugEngineZef", "ID_INTERFACE_EVENT_PROCESSOR is not ready"}},
        {"backup data read by the engine", velk::kStorageModule, velk::kStorageInterface,
         [](PluginHarness& plugin) {
             const auto read = reinterpret_cast<zef::ReadBackupFileDataFn>(
                 plugin.Engine().Callback(zef::kSettingReadBackupFileData));
             const uint8_t key[16] = {1, 2, 3};
             uint8_t buffer[64] = {};
             uint32_t bytesRead = 0xABCD;
             const uint32_t result = read(key, 16, nullptr, buffer, 0, 1, 2, 3, &bytesRead);
             EXPECT_EQ(bytesRead, 0xABCDu) << "not written without the interface";
             return result;
         },
         velk::kNotDone,
         {5, 115, "ZefEngineWrapper", "[VELK]Tarn read backup file data failed, errCode=0xe0ff0001"}},
        {"image path asked by the engine", velk::kSystemInfoModule, velk::kSystemInfoInterface,
         [](PluginHarness& plugin) {
             const auto ask = reinterpret_cast<zef::GetImagePathFn>(
                 plugin.Engine().Callback(zef::kSettingGetImagePath));
             std::u16string path = u"untouched";
             const uint32_t result = ask(4, &path);
             EXPECT_EQ(path, u"untouched");
             return result;
         },
         0u, {0, 0, "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PluginHarness plugin;
        AnswerEverything(plugin.Host());
        ASSERT_NE(plugin.Running(), nullptr);
        plugin.Host().RemoveInterface(c.module, c.interfaceId);
        StartLogCapture();

        EXPECT_EQ(c.use(plugin), c.result);
        if (c.line.level != 0) {
            const Lines lines = CapturedAt(c.line.line);
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].level, c.line.level);
            EXPECT_EQ(lines[0].source, c.line.source);
            EXPECT_EQ(lines[0].text.substr(0, c.line.text.size()), c.line.text);
        }
        // Whatever the host lost, the engine is stopped and finalised once at the end.
        ExpectStoppedOnce(plugin);
    }
}

int32_t ChooseAndLoseFeedback(void* host, const char16_t*, void*, uint32_t* decision) {
    static_cast<ScriptedHost*>(host)->RemoveInterface(velk::kFeedbackModule,
                                                      velk::kFeedbackInterface);
    *decision = velk::kDecisionRestore;
    return 0;
}
int32_t ChooseAndKeepFeedback(void*, const char16_t*, void*, uint32_t* decision) {
    *decision = velk::kDecisionRestore;
    return 0;
}

// The feedback service (10, 101) is there at start and gone when a restore's feedback is due,
// even when it went during the restore: the restore answers what it did, its summary is in
// Report.log, no feedback is sent and nothing is logged. The last row keeps the service, to
// show that feedback is on.
TEST(FaultInjection, RestoreFeedbackServiceGoneBeforeTheFeedback) {
    static char16_t path[] = u"/srv/share/ledger.xlsx";
    constexpr uint32_t kFeedbackSwitch = 0x03670006;
    const struct {
        const char* what;
        uint32_t functionId;
        velk::ChooseVersionFn choose;  // file restores
        bool removedBefore;
        size_t feedbacks;
    } cases[] = {
        {"gone during a file restore", velk::kFnRestoreFile, &ChooseAndLoseFeedback, false, 0},
        {"gone before an edition restore", velk::kFnRestoreEdition, nullptr, true, 0},
        {"gone before a file restore", velk::kFnRestoreFile, &ChooseAndKeepFeedback, true, 0},
        {"there for a file restore", velk::kFnRestoreFile, &ChooseAndKeepFeedback, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PluginHarness plugin;
        AnswerEverything(plugin.Host());
        AnswerSettings(plugin.Host(), {{kFeedbackSwitch, 1}});
        plugin.Host().AddInterface(velk::kFeedbackModule, velk::kFeedbackInterface,
                                   [](uint32_t, void*, void*) { return velk::kSuccess; });
        ICommonPluginInterface* wrapper = plugin.Running();
        ASSERT_NE(wrapper, nullptr);
        plugin.Engine().AddEdition(path, 21, 200);
        plugin.Engine().SetResult("RestoreByCopy", 1);
        plugin.Engine().SetResult("RestoreByEdition", 1);
        if (c.removedBefore) {
            plugin.Host().RemoveInterface(velk::kFeedbackModule, velk::kFeedbackInterface);
        }
        plugin.Host().ClearLog();
        StartLogCapture();

        velk::RestoreFileRequest byFile{&plugin.Host(), c.choose, nullptr, nullptr, path, 0, 0, 0};
        velk::EditionRestoreRequest byEdition{nullptr, path, 1, 2, 0, 21};
        void* input = c.functionId == velk::kFnRestoreFile ? static_cast<void*>(&byFile)
                                                           : static_cast<void*>(&byEdition);
        uint32_t reboot = 0x5A5A;
        EXPECT_EQ(plugin.Exports().CallFunc(wrapper, c.functionId, input, &reboot),
                  velk::kSuccess);
        // The feedback was due each time: the service was asked for, and refused when gone.
        const std::vector<std::string> hostLog = plugin.Host().Log();
        EXPECT_EQ(CountOf(hostLog, "query 10/101 refused"), 1 - c.feedbacks);
        EXPECT_EQ(CountOf(hostLog, "call 10/101 0x98bc"), c.feedbacks);
        EXPECT_EQ(WrapperLines(), Lines{});
        const std::u16string report = ReadUtf16File(plugin.Folder() / "Log" / "Report.log");
        EXPECT_NE(report.find(u"Result            : Success"), std::u16string::npos);
        ExpectStoppedOnce(plugin);
    }
}

}  // namespace
