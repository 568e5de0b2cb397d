// The wrapper's settings: the query sent to the host, the settling of every answer, the
// hand-over to the engine, changes while running, and the host services the engine calls back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/configuration_keys.h"
#include "tests/unit/wrapper_fixture.h"

namespace {

using namespace engine_config;
using Batch = config::CConfigBatchCommands;

// The numeric settings in one line (level, size, feedback, security, days kept, enable, mode,
// quota, the two maximum sizes).
std::string Numbers(const CZefEngineWrapper::Settings& s) {
    std::string text;
    for (const int64_t n : {int64_t{s.debugLevel}, int64_t{s.dbSize}, int64_t{s.feedbackSwitch},
                            int64_t{s.securityLevel}, int64_t{s.historyKeepDays}, int64_t{s.enable},
                            int64_t{s.workMode}, int64_t{s.perProcessBackupQuota},
                            int64_t{s.maxBackupFileSize}, int64_t{s.maxBackupFileSizePidMode}}) {
        text += (text.empty() ? "" : " ") + std::to_string(n);
    }
    return text;
}
std::vector<std::u16string> Paths(const CZefEngineWrapper::Settings& s) {
    return {s.debugLogPath, s.patternPath, s.dbPath};
}

TEST_F(EngineWrapperTest, QueryAsksThirteenKeysWithGetCommands) {
    AnswerConfiguration([](Batch&) {});
    EXPECT_EQ(Make().QueryConfiguration(), velk::kSuccess);
    ASSERT_TRUE(lastQuery);
    EXPECT_EQ(lastQuery->Action(), 2u);
    EXPECT_EQ(lastQuery->CommandCount(), 13u);
    const uint32_t kInt = config::CVT_INT, kText = config::CVT_WSTR, kUint = config::CVT_UINT;
    const std::pair<uint32_t, uint32_t> expected[] = {
        {VELK_CFG_ZEF_DEBUG_LEVEL, kInt}, {VELK_CFG_ZEF_DEBUG_LOG_PATH, kText}, {VELK_CFG_ZEF_PATTERN_PATH, kText},
        {VELK_CFG_ZEF_DB_PATH, kText}, {VELK_CFG_ZEF_DB_SIZE, kInt}, {VELK_CFG_ZEF_FEEDBACK_SWITCH, kInt},
        {VELK_CFG_ZEF_SECURITY_LEVEL, kInt}, {VELK_CFG_ZEF_HISTORY_KEEP_DAYS, kInt},
        {VELK_CFG_ZEF_ENABLE, config::CVT_BOOL}, {VELK_CFG_ZEF_WORK_MODE, kUint},
        {VELK_CFG_ZEF_PER_PROCESS_BACKUP_QUOTA, kUint}, {VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE, kUint},
        {VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE_PID_MODE, kUint}};
    for (const auto& [key, type] : expected) {
        const config::IConfigCommand* command = lastQuery->Find(key);
        ASSERT_NE(command, nullptr) << std::hex << key;
        EXPECT_EQ(command->GetCommandType(), 4u);
        EXPECT_EQ(command->GetValueType(), type) << std::hex << key;
    }
    std::u16string path = u"stale";
    EXPECT_EQ(lastQuery->GetValue(VELK_CFG_ZEF_DB_PATH, path), velk::kSuccess);
    EXPECT_EQ(path, u"") << "path commands carry an empty text";
    int size = 0;
    lastQuery->GetValue(VELK_CFG_ZEF_DB_SIZE, size);
    EXPECT_EQ(size, 1024) << "the constructor's value";
}

// A full answer settles every setting, each with its line; UseDefaultConfiguration then takes
// the defaults back but keeps Enable and the two maximum sizes.
TEST_F(EngineWrapperTest, FullAnswerSettlesEverySettingAndDefaultsKeepEnableAndTheSizes) {
    const std::u16string base = folder.u16string() + u"/";
    AnswerConfiguration([&](Batch& reply) {
        reply.AddCommand(4, VELK_CFG_ZEF_DEBUG_LEVEL, 5);
        reply.AddCommand(4, VELK_CFG_ZEF_DEBUG_LOG_PATH, base + u"log");
        reply.AddCommand(4, VELK_CFG_ZEF_PATTERN_PATH, base + u"ptn");
        reply.AddCommand(4, VELK_CFG_ZEF_DB_PATH, base + u"db");
        reply.AddCommand(4, VELK_CFG_ZEF_DB_SIZE, 2048);
        reply.AddCommand(4, VELK_CFG_ZEF_FEEDBACK_SWITCH, 1);
        reply.AddCommand(4, VELK_CFG_ZEF_SECURITY_LEVEL, 3);
        reply.AddCommand(4, VELK_CFG_ZEF_HISTORY_KEEP_DAYS, 30);
        reply.AddCommand(4, VELK_CFG_ZEF_ENABLE, false);
        reply.AddCommand(4, VELK_CFG_ZEF_WORK_MODE, 2u);
        reply.AddCommand(4, VELK_CFG_ZEF_PER_PROCESS_BACKUP_QUOTA, 9u);
        reply.AddCommand(4, VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE, 4096u);
        reply.AddCommand(4, VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE_PID_MODE, 8192u);
    });
    CZefEngineWrapper& w = Make();
    ASSERT_EQ(w.QueryConfiguration(), velk::kSuccess);
    EXPECT_EQ(Numbers(w.CurrentSettings()), "5 2048 1 3 30 0 2 9 4096 8192");
    EXPECT_EQ(Paths(w.CurrentSettings()), (std::vector<std::u16string>{base + u"log", base + u"ptn", base + u"db"}));
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "Query configuration: DebugLevel = 0x5");
    EXPECT_EQ(lines[2], "Query configuration: FeedbackSwtich = 0x1");
    EXPECT_EQ(lines[8], "Query configuration: Enable = 0");
    EXPECT_EQ(lines[12], "Query configuration: Max backup file size(PidMode) = 0x2000");

    StartLogCapture();
    w.UseDefaultConfiguration();
    EXPECT_EQ(Numbers(w.CurrentSettings()), "4 1024 0 1 21 0 1 6 4096 8192");
    EXPECT_EQ(w.CurrentSettings().dbPath, Folder("Data"));
    lines = Lines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "Use default configuration: DbSize = 0x400");
    EXPECT_EQ(lines[9], "Use default configuration: Per process backup quota = 0x6");
}

// Answers that settle some settings: the rest fall back to their defaults, each with its line
// (and the status line for the typed ones); a wrong type falls back, convertible text is
// taken; an error answer, or no service at all, leaves every default.
TEST_F(EngineWrapperTest, PartialWrongOrMissingAnswersFallBack) {
    const struct {
        const char* why;
        void (*fill)(Batch&);  // null: the host has no configuration service
        uint32_t hostResult;
        const char* numbers;
    } cases[] = {
        {"the size only", [](Batch& r) { r.AddCommand(4, VELK_CFG_ZEF_DB_SIZE, 4096); }, 0x20FF0000,
         "4 4096 0 1 21 1 1 6 0 0"},
        {"wrong types",
         [](Batch& r) {
             r.AddCommand(4, VELK_CFG_ZEF_DEBUG_LEVEL, std::u16string(u"not a number"));
             r.AddCommand(4, VELK_CFG_ZEF_WORK_MODE, -3);  // out of the unsigned range
             r.AddCommand(4, VELK_CFG_ZEF_DB_SIZE, std::u16string(u"512"));
         },
         0x20FF0000, "4 512 0 1 21 1 1 6 0 0"},
        {"an error answer", [](Batch& r) { r.AddCommand(4, VELK_CFG_ZEF_DB_SIZE, 4096); }, 0xE0FF0001,
         "4 1024 0 1 21 1 1 6 0 0"},
        {"no service", nullptr, 0, "4 1024 0 1 21 1 1 6 0 0"},
    };
    // The lines of the first answer: one per setting, the typed ones with their status.
    const std::string fail = "Query configuration fail, ", fallback = fail + "use default: ";
    std::vector<std::string> sizeOnly{
        fallback + "DebugLevel = 0x4", "Query configuration: DbSize = 0x1000",
        fallback + "FeedbackSwtich = 0", fallback + "SecurityLevel = 0x1", fallback + "HistoryKeepDays = 0x15",
        fallback + "DebugLogPath = " + Utf8(folder / "Log"), fallback + "PatternPath = " + Utf8(folder / "Pattern"),
        fallback + "DbPath = " + Utf8(folder / "Data")};
    for (const std::string typed : {"use default: Enable = 1", "use default: Work mode = 0x1",
                                    "use default: Per process backup quota = 0x6", "use the value in pattern",
                                    "use the value in pattern"}) {
        sizeOnly.push_back(fail + "Status = 0xe0ff0007");
        sizeOnly.push_back(fail + typed);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        if (c.fill != nullptr) AnswerConfiguration(c.fill, c.hostResult);
        StartLogCapture();
        host.ClearLog();
        CZefEngineWrapper& w = Make();
        ASSERT_EQ(w.QueryConfiguration(), velk::kSuccess);
        EXPECT_EQ(Numbers(w.CurrentSettings()), c.numbers);
        EXPECT_EQ(Paths(w.CurrentSettings()),
                  (std::vector<std::u16string>{Folder("Log"), Folder("Pattern"), Folder("Data")}));
        EXPECT_EQ(Lines().size(), 18u);
        if (&c == &cases[0]) { EXPECT_EQ(Lines(), sizeOnly); }
        if (c.fill == nullptr) {
            EXPECT_EQ(host.Log(), (std::vector<std::string>{"query 5/51 refused", "release null"}));
        }
        Drop();
        host.RemoveInterface(5, 51);
    }
}

TEST_F(EngineWrapperTest, PathVariablesAreExpandedOrReplacedByTheDefault) {
    AnswerConfiguration([](Batch& reply) {
        reply.AddCommand(4, VELK_CFG_ZEF_DB_PATH, std::u16string(u"%APPDATA%x"));
        reply.AddCommand(4, VELK_CFG_ZEF_PATTERN_PATH, std::u16string(u"unpaired%"));
        reply.AddCommand(4, VELK_CFG_ZEF_DEBUG_LOG_PATH, std::u16string(u"100%%"));
    });
    CZefEngineWrapper& w = Make();
    w.QueryConfiguration();
    EXPECT_EQ(Paths(w.CurrentSettings()),
              (std::vector<std::u16string>{u"100%", Folder("Pattern"),
                                           util::ModulePathVariables().at(u"%APPDATA%") + u"x"}));
    const std::vector<std::string> lines = Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Failed: Expand(VELK_CFG_ZEF_PATTERN_PATH), use default: PatternPath = " +
                            Utf8(folder / "Pattern")),
              lines.end());
}

TEST_F(EngineWrapperTest, ConfigureEngineHandsOverEverySettingInOrder) {
    for (bool sizes : {false, true}) {
        engine->Reset();
        const std::u16string longPath = folder.u16string() + u"/" + std::u16string(300, u'p');
        AnswerConfiguration([&](Batch& reply) {
            reply.AddCommand(4, VELK_CFG_ZEF_DB_PATH, longPath);
            reply.AddCommand(4, VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE, sizes ? 10u : 0u);
            reply.AddCommand(4, VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE_PID_MODE, sizes ? 11u : 0u);
        });
        ASSERT_EQ(Make().StartEngine(), 1u);
        Calls expected = {"ChangeConfigure(1," + platform::ToUtf8(longPath.substr(0, 258)) + ")",
                          "ChangeConfigure(0,1024)", "ChangeConfigure(4," + Utf8(folder / "Pattern") + ")",
                          "ChangeConfigure(3," + Utf8(folder / "Log") + ")", "ChangeConfigure(2,4)",
                          "ChangeConfigure(5," + Utf8(folder) + ")", "ChangeConfigure(6,1)",
                          "ChangeConfigure(7,21)", "ChangeConfigure(8,1)", "ChangeConfigure(9,6)"};
        if (sizes) expected.insert(expected.end(), {"ChangeConfigure(10,10)", "ChangeConfigure(11,11)"});
        // The callbacks lent are the plug-in's own, by address.
        const auto lent = [](auto* callback) { return FakeAddress(reinterpret_cast<void*>(callback)); };
        expected.insert(expected.end(), {"ChangeConfigure(12," + lent(&engine_callbacks::ReadBackupFileData) + ")",
                                         "ChangeConfigure(13," + lent(&engine_callbacks::GetImagePathByUtilSysInfo) + ")"});
        EXPECT_EQ(engine->CallsTo({"ChangeConfigure"}), expected);
        Drop();
        host.RemoveInterface(5, 51);
    }
}

TEST_F(EngineWrapperTest, ChangesReachTheRunningEngineOnlyWhenTheyChangeSomething) {
    CZefEngineWrapper& w = Started();
    engine->Reset();
    StartLogCapture();
    Change change([](Batch& batch) {
        batch.AddCommand(4, VELK_CFG_ZEF_DB_SIZE, 1024u);  // as before
        batch.AddCommand(4, VELK_CFG_ZEF_WORK_MODE, 3u);
        batch.AddCommand(4, VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE, 0u);      // as before
        batch.AddCommand(4, VELK_CFG_ZEF_PER_PROCESS_BACKUP_QUOTA, 0u);  // a change to 0
        batch.AddCommand(4, VELK_CFG_ZEF_ENABLE, false);
    });
    EXPECT_EQ(w.CallFunc(velk::kFnHostRequest2, &change.request, nullptr), velk::kSuccess);
    EXPECT_EQ(engine->CallsTo({"ChangeRunningConfigure"}),
              (Calls{"ChangeRunningConfigure(8,&3)", "ChangeRunningConfigure(9,&0)"}));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"Config: EnableFlag = 0", "Config: WorkMode = 0x3",
                                                 "Config: Per process backup quota = 0"}));
    EXPECT_FALSE(w.IsEnabled());
    EXPECT_EQ(w.CallFunc(velk::kFnFlushEvents, nullptr, nullptr), velk::kBadArgument);
    // Group A is still served while disabled, and a change can enable again.
    Change enable([](Batch& batch) { batch.AddCommand(4, VELK_CFG_ZEF_ENABLE, true); });
    EXPECT_EQ(w.CallFunc(velk::kFnHostRequest1, &enable.request, nullptr), velk::kSuccess);
    EXPECT_EQ(w.CallFunc(velk::kFnFlushEvents, nullptr, nullptr), velk::kSuccess);

    velk::ConfigurationChangeRequest other{0x12345678, 0, 0, {0, 0}};
    EXPECT_EQ(w.OnConfigurationChanged(nullptr, nullptr), velk::kBadArgument);
    EXPECT_EQ(w.OnConfigurationChanged(&other, nullptr), velk::kBadArgument);
    // A forged message handle parses to an empty batch: nothing changes.
    velk::ConfigurationChangeRequest forged{velk::kKindConfigurationChanged, 0, 0, {7, 7}};
    engine->Reset();
    EXPECT_EQ(w.OnConfigurationChanged(&forged, nullptr), velk::kSuccess);
    EXPECT_TRUE(engine->Calls().empty());
}

TEST_F(EngineWrapperTest, ImagePathNeedsTheExactAnswer) {
    Make();
    for (auto [result, expected] : {std::pair<uint32_t, uint32_t>{0x20320001, 1}, {0x20FF0000, 0}, {0xE0FF0001, 0}}) {
        host.AddInterface(40002, 400021, [result = result](uint32_t fn, void* in, void* out) {
            EXPECT_EQ(fn, 0x23200001u);
            const auto* request = static_cast<const velk::ImagePathRequest*>(in);
            EXPECT_EQ(request->processId, 4242u);
            EXPECT_EQ(request->one, 1u);
            auto* reply = static_cast<velk::ImagePathReply*>(out);
            EXPECT_EQ(reply->capacity, 262u);
            std::u16string(u"C:\\bin\\tool.exe").copy(reply->buffer, 15);
            return result;
        });
        std::u16string path = u"untouched";
        EXPECT_EQ(engine_callbacks::GetImagePathByUtilSysInfo(4242, &path), expected);
        EXPECT_EQ(path, expected ? u"C:\\bin\\tool.exe" : u"untouched");
    }
    host.RemoveInterface(40002, 400021);
    std::u16string path;
    EXPECT_EQ(engine_callbacks::GetImagePathByUtilSysInfo(1, &path), 0u);
}

TEST_F(EngineWrapperTest, BackupDataIsReadThroughTheHostButNeverForCloudFiles) {
    Make();
    bool cloud = true;
    host.AddInterface(40002, 400021, [&](uint32_t fn, void*, void* out) {
        EXPECT_EQ(fn, 0x23200019u);
        *static_cast<uint8_t*>(out) = cloud ? 1 : 0;
        return 0x20FF0000u;
    });
    uint32_t readResult = 0x20FF0000;
    host.AddInterface(20001, 200011, [&](uint32_t fn, void* in, void* out) {
        EXPECT_EQ(fn, 0xACBDu);
        const auto* request = static_cast<const velk::BackupDataReadRequest*>(in);
        EXPECT_EQ(request->key[0], 0xAB);
        EXPECT_EQ(request->key[15], 0x10) << "at most 16 bytes of the key";
        EXPECT_EQ(request->c, 3u);
        static_cast<velk::BackupDataReadReply*>(out)->bytesRead = 77;
        return readResult;
    });
    uint8_t key[20];
    for (uint8_t i = 0; i < 20; ++i) key[i] = static_cast<uint8_t>(i + 1);
    key[0] = 0xAB;
    uint32_t bytes = 0;
    char buffer[8];
    const auto read = [&] { return engine_callbacks::ReadBackupFileData(key, 20, "file", buffer, 0, 1, 2, 3, &bytes); };
    EXPECT_EQ(read(), velk::kNotDone);
    EXPECT_EQ(CapturedAt(91).size(), 1u);
    cloud = false;
    EXPECT_EQ(read(), velk::kSuccess);
    EXPECT_EQ(bytes, 77u);
    readResult = 0xE0FF0042;
    EXPECT_EQ(read(), 0xE0FF0042u);
    EXPECT_EQ(CapturedAt(115).back().text, "[VELK]Tarn read backup file data failed, errCode=0xe0ff0042");
    // A storage service gone by the time the engine reads: not done, nothing read.
    host.RemoveInterface(20001, 200011);
    bytes = 0xABCD;
    EXPECT_EQ(read(), velk::kNotDone);
    EXPECT_EQ(bytes, 0xABCDu);
    EXPECT_EQ(CapturedAt(115).back().text, "[VELK]Tarn read backup file data failed, errCode=0xe0ff0001");
}

}  // namespace
