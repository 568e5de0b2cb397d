// The wrapper's settings: the query sent to the host, the settling of every answer, the
// hand-over to the engine, and changes while running.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/configuration_keys.h"
#include "tests/unit/wrapper_fixture.h"

namespace {

using namespace engine_config;
using Calls = std::vector<std::string>;

void AnswerAll(config::CConfigBatchCommands& reply, const std::u16string& base) {
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
}

TEST_F(EngineWrapperTest, QueryAsksThirteenKeysWithGetCommands) {
    AnswerConfiguration([](config::CConfigBatchCommands&) {});
    EXPECT_EQ(Make().QueryConfiguration(), velk::kSuccess);
    ASSERT_TRUE(lastQuery);
    EXPECT_EQ(lastQuery->Action(), 2u);
    EXPECT_EQ(lastQuery->CommandCount(), 13u);
    const struct {
        uint32_t key;
        uint32_t type;
    } expected[] = {
        {VELK_CFG_ZEF_DEBUG_LEVEL, config::CVT_INT},      {VELK_CFG_ZEF_DEBUG_LOG_PATH, config::CVT_WSTR},
        {VELK_CFG_ZEF_PATTERN_PATH, config::CVT_WSTR},    {VELK_CFG_ZEF_DB_PATH, config::CVT_WSTR},
        {VELK_CFG_ZEF_DB_SIZE, config::CVT_INT},          {VELK_CFG_ZEF_FEEDBACK_SWITCH, config::CVT_INT},
        {VELK_CFG_ZEF_SECURITY_LEVEL, config::CVT_INT},   {VELK_CFG_ZEF_HISTORY_KEEP_DAYS, config::CVT_INT},
        {VELK_CFG_ZEF_ENABLE, config::CVT_BOOL},          {VELK_CFG_ZEF_WORK_MODE, config::CVT_UINT},
        {VELK_CFG_ZEF_PER_PROCESS_BACKUP_QUOTA, config::CVT_UINT},
        {VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE, config::CVT_UINT},
        {VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE_PID_MODE, config::CVT_UINT},
    };
    for (const auto& e : expected) {
        const config::IConfigCommand* command = lastQuery->Find(e.key);
        ASSERT_NE(command, nullptr) << std::hex << e.key;
        EXPECT_EQ(command->GetCommandType(), 4u);
        EXPECT_EQ(command->GetValueType(), e.type) << std::hex << e.key;
    }
    std::u16string path = u"stale";
    EXPECT_EQ(lastQuery->GetValue(VELK_CFG_ZEF_DB_PATH, path), velk::kSuccess);
    EXPECT_EQ(path, u"") << "path commands carry an empty text";
    int size = 0;
    lastQuery->GetValue(VELK_CFG_ZEF_DB_SIZE, size);
    EXPECT_EQ(size, 1024) << "the constructor's value";
}

// The numeric settings in one line (level, size, feedback, security, days kept, enable, mode,
// quota, the two maximum sizes), and the three paths.
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

// A full answer settles every setting, each with its line; UseDefaultConfiguration then takes
// the defaults back but keeps Enable and the two maximum sizes.
TEST_F(EngineWrapperTest, FullAnswerSettlesEverySettingAndDefaultsKeepEnableAndTheSizes) {
    const std::u16string base = folder.u16string() + u"/";
    AnswerConfiguration([&](config::CConfigBatchCommands& reply) { AnswerAll(reply, base); });
    CZefEngineWrapper& w = Make();
    ASSERT_EQ(w.QueryConfiguration(), velk::kSuccess);
    EXPECT_EQ(Numbers(w.CurrentSettings()), "5 2048 1 3 30 0 2 9 4096 8192");
    EXPECT_EQ(Paths(w.CurrentSettings()),
              (std::vector<std::u16string>{base + u"log", base + u"ptn", base + u"db"}));
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

TEST_F(EngineWrapperTest, PartialAnswerFallsBackWithOneOrTwoLinesEach) {
    AnswerConfiguration([](config::CConfigBatchCommands& reply) {
        reply.AddCommand(4, VELK_CFG_ZEF_DB_SIZE, 4096);
    });
    CZefEngineWrapper& w = Make();
    ASSERT_EQ(w.QueryConfiguration(), velk::kSuccess);
    EXPECT_EQ(Numbers(w.CurrentSettings()), "4 4096 0 1 21 1 1 6 0 0");
    EXPECT_EQ(Paths(w.CurrentSettings()),
              (std::vector<std::u16string>{Folder("Log"), Folder("Pattern"), Folder("Data")}));
    const std::string data = Utf8(folder / "Data");
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "Query configuration fail, use default: DebugLevel = 0x4",
                           "Query configuration: DbSize = 0x1000",
                           "Query configuration fail, use default: FeedbackSwtich = 0",
                           "Query configuration fail, use default: SecurityLevel = 0x1",
                           "Query configuration fail, use default: HistoryKeepDays = 0x15",
                           "Query configuration fail, use default: DebugLogPath = " + Utf8(folder / "Log"),
                           "Query configuration fail, use default: PatternPath = " + Utf8(folder / "Pattern"),
                           "Query configuration fail, use default: DbPath = " + data,
                           "Query configuration fail, Status = 0xe0ff0007",
                           "Query configuration fail, use default: Enable = 1",
                           "Query configuration fail, Status = 0xe0ff0007",
                           "Query configuration fail, use default: Work mode = 0x1",
                           "Query configuration fail, Status = 0xe0ff0007",
                           "Query configuration fail, use default: Per process backup quota = 0x6",
                           "Query configuration fail, Status = 0xe0ff0007",
                           "Query configuration fail, use the value in pattern",
                           "Query configuration fail, Status = 0xe0ff0007",
                           "Query configuration fail, use the value in pattern",
                       }));
}

TEST_F(EngineWrapperTest, WrongTypesFallBackAndConvertibleTextIsTaken) {
    AnswerConfiguration([](config::CConfigBatchCommands& reply) {
        reply.AddCommand(4, VELK_CFG_ZEF_DEBUG_LEVEL, std::u16string(u"not a number"));
        reply.AddCommand(4, VELK_CFG_ZEF_WORK_MODE, -3);  // out of the unsigned range
        reply.AddCommand(4, VELK_CFG_ZEF_DB_SIZE, std::u16string(u"512"));
    });
    CZefEngineWrapper& w = Make();
    w.QueryConfiguration();
    EXPECT_EQ(Numbers(w.CurrentSettings()), "4 512 0 1 21 1 1 6 0 0");
}

TEST_F(EngineWrapperTest, NoConfigurationServiceMeansDefaults) {
    CZefEngineWrapper& w = Make();  // the host has no (5, 51)
    EXPECT_EQ(w.QueryConfiguration(), velk::kSuccess);
    EXPECT_EQ(Numbers(w.CurrentSettings()), "4 1024 0 1 21 1 1 6 0 0");
    EXPECT_EQ(w.CurrentSettings().dbPath, Folder("Data"));
    EXPECT_EQ(Lines().size(), 18u);
    EXPECT_EQ(host.Log(), (std::vector<std::string>{"query 5/51 refused", "release null"}));
}

TEST_F(EngineWrapperTest, HostErrorResultSkipsTheReply) {
    AnswerConfiguration([](config::CConfigBatchCommands& reply) {
        reply.AddCommand(4, VELK_CFG_ZEF_DB_SIZE, 4096);
    }, 0xE0FF0001);
    CZefEngineWrapper& w = Make();
    w.QueryConfiguration();
    EXPECT_EQ(w.CurrentSettings().dbSize, 1024);
}

TEST_F(EngineWrapperTest, PathVariablesAreExpandedOrReplacedByTheDefault) {
    AnswerConfiguration([](config::CConfigBatchCommands& reply) {
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
        AnswerConfiguration([&](config::CConfigBatchCommands& reply) {
            reply.AddCommand(4, VELK_CFG_ZEF_DB_PATH, longPath);
            reply.AddCommand(4, VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE, sizes ? 10u : 0u);
            reply.AddCommand(4, VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE_PID_MODE, sizes ? 11u : 0u);
        });
        CZefEngineWrapper& w = *new CZefEngineWrapper(enginePath.u16string().c_str(), &host);
        ASSERT_EQ(w.StartEngine(), 1u);
        const Calls calls = engine->CallsTo({"ChangeConfigure"});
        Calls expected = {
            "ChangeConfigure(1," + platform::ToUtf8(longPath.substr(0, 258)) + ")",
            "ChangeConfigure(0,1024)",
            "ChangeConfigure(4," + Utf8(folder / "Pattern") + ")",
            "ChangeConfigure(3," + Utf8(folder / "Log") + ")",
            "ChangeConfigure(2,4)",
            "ChangeConfigure(5," + Utf8(folder) + ")",
            "ChangeConfigure(6,1)",
            "ChangeConfigure(7,21)",
            "ChangeConfigure(8,1)",
            "ChangeConfigure(9,6)",
        };
        if (sizes) {
            expected.push_back("ChangeConfigure(10,10)");
            expected.push_back("ChangeConfigure(11,11)");
        }
        expected.push_back("ChangeConfigure(12,ptr)");
        expected.push_back("ChangeConfigure(13,ptr)");
        EXPECT_EQ(calls, expected);
        EXPECT_EQ(engine->Callback(12), reinterpret_cast<void*>(&engine_callbacks::ReadBackupFileData));
        EXPECT_EQ(engine->Callback(13),
                  reinterpret_cast<void*>(&engine_callbacks::GetImagePathByUtilSysInfo));
        w.StopEngine();
        w.DeletingDestructor(1);
        host.RemoveInterface(5, 51);
    }
}

velk::ConfigurationChangeRequest Change(const VELK_DataHandleWrapper& message) {
    return {velk::kKindConfigurationChanged, 0, 0, message.Handle()};
}

TEST_F(EngineWrapperTest, ChangesReachTheRunningEngineOnlyWhenTheyChangeSomething) {
    CZefEngineWrapper& w = Started();
    engine->Reset();
    StartLogCapture();
    config::CConfigBatchCommands batch(1);
    batch.AddCommand(4, VELK_CFG_ZEF_DB_SIZE, 1024u);  // as before
    batch.AddCommand(4, VELK_CFG_ZEF_WORK_MODE, 3u);
    batch.AddCommand(4, VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE, 0u);  // as before
    batch.AddCommand(4, VELK_CFG_ZEF_PER_PROCESS_BACKUP_QUOTA, 0u);  // a change to 0
    batch.AddCommand(4, VELK_CFG_ZEF_ENABLE, false);
    VELK_DataHandleWrapper message;
    batch.Serialize(message);
    velk::ConfigurationChangeRequest request = Change(message);

    EXPECT_EQ(w.CallFunc(velk::kFnHostRequest2, &request, nullptr), velk::kSuccess);
    EXPECT_EQ(engine->CallsTo({"ChangeRunningConfigure"}),
              (Calls{"ChangeRunningConfigure(8,&3)", "ChangeRunningConfigure(9,&0)"}));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"Config: EnableFlag = 0", "Config: WorkMode = 0x3",
                                                 "Config: Per process backup quota = 0"}));
    EXPECT_FALSE(w.IsEnabled());
    EXPECT_EQ(w.CallFunc(velk::kFnFlushEvents, nullptr, nullptr), velk::kBadArgument);
    // Group A is still served while disabled, and a change can enable again.
    config::CConfigBatchCommands enable(1);
    enable.AddCommand(4, VELK_CFG_ZEF_ENABLE, true);
    VELK_DataHandleWrapper again;
    enable.Serialize(again);
    velk::ConfigurationChangeRequest enableRequest = Change(again);
    EXPECT_EQ(w.CallFunc(velk::kFnHostRequest1, &enableRequest, nullptr), velk::kSuccess);
    EXPECT_EQ(w.CallFunc(velk::kFnFlushEvents, nullptr, nullptr), velk::kSuccess);
}

TEST_F(EngineWrapperTest, MalformedChangeRequestsAreRefused) {
    CZefEngineWrapper& w = Started();
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
    const struct {
        uint32_t result;
        uint32_t expected;
    } cases[] = {{0x20320001, 1}, {0x20FF0000, 0}, {0xE0FF0001, 0}};
    for (const auto& c : cases) {
        host.AddInterface(40002, 400021, [&](uint32_t fn, void* in, void* out) {
            EXPECT_EQ(fn, 0x23200001u);
            const auto* request = static_cast<const velk::ImagePathRequest*>(in);
            EXPECT_EQ(request->processId, 4242u);
            EXPECT_EQ(request->one, 1u);
            auto* reply = static_cast<velk::ImagePathReply*>(out);
            EXPECT_EQ(reply->capacity, 262u);
            std::u16string(u"C:\\bin\\tool.exe").copy(reply->buffer, 15);
            return c.result;
        });
        std::u16string path = u"untouched";
        EXPECT_EQ(engine_callbacks::GetImagePathByUtilSysInfo(4242, &path), c.expected);
        EXPECT_EQ(path, c.expected ? u"C:\\bin\\tool.exe" : u"untouched");
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
    EXPECT_EQ(engine_callbacks::ReadBackupFileData(key, 20, "file", buffer, 0, 1, 2, 3, &bytes),
              velk::kNotDone);
    EXPECT_EQ(CapturedAt(91).size(), 1u);
    cloud = false;
    EXPECT_EQ(engine_callbacks::ReadBackupFileData(key, 20, "file", buffer, 0, 1, 2, 3, &bytes),
              velk::kSuccess);
    EXPECT_EQ(bytes, 77u);
    readResult = 0xE0FF0042;
    EXPECT_EQ(engine_callbacks::ReadBackupFileData(key, 20, "file", buffer, 0, 1, 2, 3, &bytes),
              0xE0FF0042u);
    EXPECT_EQ(CapturedAt(115).back().text, "[VELK]Tarn read backup file data failed, errCode=0xe0ff0042");
}

}  // namespace
