// Faults from outside the plug-in, one table per behaviour: host interfaces that answer at start
// and are gone at the next call, engine entry points that fail or answer garbage, and a
// Report.log that cannot be created. Each is answered with its documented result and
// diagnostic line; the engine is still stopped and unloaded, and nothing crashes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine_api/zef_entry_points.h"
#include "engine_api/zef_records.h"
#include "host/call_records.h"
#include "host/result_codes.h"
#include "tests/fakes/captured_log.h"
#include "tests/module/plugin_harness.h"

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
        ASSERT_TRUE(plugin.Loaded());
        AnswerEverything(plugin.Host());
        ASSERT_TRUE(plugin.Start());
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
        EXPECT_EQ(plugin.Exports().PreUninitialize(), velk::kSuccess);
        const std::vector<std::string> calls = plugin.Engine().Calls();
        EXPECT_EQ(CountOf(calls, "Stop"), 1u);
        EXPECT_EQ(CountOf(calls, "Finalize"), 1u);
    }
}

// Engine entry points that fail, or answer sizes and handles that mean nothing.
TEST(FaultInjection, EngineFailuresAndGarbageAnswers) {
    static char16_t path[] = u"/srv/share/report.docx";
    static velk::BackupFileRequest backup{path};
    static velk::EditionDeleteRequest deletion{7};
    static velk::PidListUpdateRequest pids{4, 2};
    const struct {
        const char* what;
        const char* entryPoint;
        uint64_t answer;
        uint32_t functionId;
        void* input;
        uint32_t result;
        uint32_t output;  // what the call leaves in its 32-bit output
    } cases[] = {
        {"no maximum file size", "GetSupportFileMaxSize", 0, velk::kFnMaxFileSize, nullptr,
         0xE0360008, 0},
        {"every size bit set", "GetSupportFileMaxSize", 0xFFFFFFFF, velk::kFnMaxFileSize, nullptr,
         velk::kSuccess, 0xFFFFFFFF},
        {"size past 32 bits", "GetSupportFileMaxSize", 0x1234500000001, velk::kFnMaxFileSize,
         nullptr, velk::kSuccess, 1},
        {"backup failed", "BackupFile", 1, velk::kFnBackupFile, &backup, 0xE0360006, 0x5A5A},
        {"backup answered garbage", "BackupFile", 0xFFFFFFFF, velk::kFnBackupFile, &backup,
         0xE0360006, 0x5A5A},
        {"delete refused", "DeleteEditionByEditionID", 0, velk::kFnDeleteEdition, &deletion,
         0xE0360007, 0x5A5A},
        {"process list refused", "UpdateObjPidList", 0xDEAD, velk::kFnUpdatePidList, &pids,
         0xE0360006, 0x5A5A},
    };
    PluginHarness plugin;
    ASSERT_TRUE(plugin.Loaded());
    ASSERT_TRUE(plugin.Start());
    ICommonPluginInterface* wrapper = plugin.Exports().QueryInterface(kPluginInterfaceId);
    ASSERT_NE(wrapper, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        plugin.Engine().SetResult(c.entryPoint, c.answer);
        uint32_t output = 0x5A5A;
        EXPECT_EQ(plugin.Exports().CallFunc(wrapper, c.functionId, c.input, &output), c.result);
        EXPECT_EQ(output, c.output);
        plugin.Engine().SetResult(c.entryPoint, 0);
    }
    EXPECT_EQ(plugin.Exports().PreUninitialize(), velk::kSuccess);
    EXPECT_EQ(CountOf(plugin.Engine().Calls(), "Stop"), 1u);
}

// Report.log cannot be created (a folder stands where it belongs): the engine still starts,
// every restore still reaches the engine and answers what the engine made of it, and the
// report is simply not written.
TEST(FaultInjection, RestoresAnswerWhenReportLogCannotBeCreated) {
    static char16_t path[] = u"/srv/share/report.docx";
    const struct {
        const char* what;
        uint64_t engineAnswer;  // RestoreByEdition: non-zero on success
        uint32_t result;
    } cases[] = {
        {"restored", 1, velk::kSuccess},
        {"engine failed", 0, 0xE0360004},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PluginHarness plugin;
        ASSERT_TRUE(plugin.Loaded());
        const std::filesystem::path report = plugin.Folder() / "Log" / "Report.log";
        std::filesystem::create_directories(report);
        ASSERT_TRUE(plugin.Start());
        ICommonPluginInterface* wrapper = plugin.Exports().QueryInterface(kPluginInterfaceId);
        ASSERT_NE(wrapper, nullptr);
        plugin.Engine().SetResult("RestoreByEdition", c.engineAnswer);
        velk::EditionRestoreRequest request{nullptr, path, 1, 2, 0, 9};
        uint32_t reboot = 0x5A5A;
        EXPECT_EQ(plugin.Exports().CallFunc(wrapper, velk::kFnRestoreEdition, &request, &reboot),
                  c.result);
        EXPECT_EQ(plugin.Engine().CallsTo({"RestoreByEdition"}).size(), 1u);
        EXPECT_TRUE(std::filesystem::is_directory(report));
        EXPECT_EQ(plugin.Exports().PreUninitialize(), velk::kSuccess);
        EXPECT_EQ(CountOf(plugin.Engine().Calls(), "Finalize"), 1u);
    }
}

}  // namespace
