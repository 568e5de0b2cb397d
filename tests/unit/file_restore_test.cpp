// Restores by file and by edition against the fake engine's scripted versions: every result,
// the counters, the overlap check, decisions, the reboot flag, Report.log and the feedback.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "engine/configuration_keys.h"
#include "host/feedback_records.h"
#include "tests/unit/wrapper_fixture.h"
#include "tests/unit/wire_reader.h"

namespace {

constexpr char16_t kFile[] = u"C:\\docs\\budget.xls";
constexpr uint32_t kOption = 6;
int g_userData = 0;

int32_t ChooseVersion(void* context, const char16_t* versionPath, void* userData,
                      uint32_t* decision) {
    const Answer answer = static_cast<CallbackScript*>(context)->Next(
        CopyTag(versionPath) + (userData == &g_userData ? "" : " (data?)"), versionPath);
    *decision = answer.action;
    return answer.goOn;
}

// The values of the labels (separated by spaces) in the last summary of a log, joined by "|".
std::string Summary(const std::string& log, const std::string& labels) {
    std::string values, label;
    for (std::istringstream in(labels); in >> label;) {
        const size_t last = log.rfind("\t " + label + " ");
        const size_t value = last == std::string::npos ? last : log.find(": ", last);
        values += (values.empty() ? "" : "|") +
                  (value == std::string::npos ? "(none)" : log.substr(value + 2, log.find('\n', value) - value - 2));
    }
    return values;
}

class FileRestoreTest : public EngineWrapperTest {
protected:
    // Two versions in memory, three editions; edition 30 repeats memory version 4.
    void ScriptVersions() {
        engine->AddMemory(kFile, 5, 200);
        engine->AddMemory(kFile, 4, 150);
        engine->AddEdition(kFile, 30, 150, 4);
        engine->AddEdition(kFile, 20, 120, 3);
        engine->AddEdition(kFile, 10, 100, 2);
    }
    uint32_t Restore(CallbackScript& script, uint32_t& reboot,
                     const char16_t* virusName = u"Eicar") {
        velk::RestoreFileRequest request{&script,   ChooseVersion, &g_userData, virusName, kFile,
                                         3,         0x80000001u,   kOption};
        return wrapper->CallFunc(velk::kFnRestoreFile, &request, &reboot);
    }
    // The host's feedback service, keeping the bytes of every restore feedback.
    void OfferFeedback() {
        host.AddInterface(velk::kFeedbackModule, velk::kFeedbackInterface,
                          [this](uint32_t fn, void* in, void* out) {
                              EXPECT_EQ(fn, velk::kFnPostRestoreFeedback);
                              EXPECT_EQ(out, nullptr);
                              const auto* request = static_cast<velk::RestoreFeedbackRequest*>(in);
                              EXPECT_EQ(request->nine, 9u);
                              EXPECT_STREQ(request->tag, "ZEF_001");
                              EXPECT_EQ(request->zero, 0u);
                              const auto* block = static_cast<const uint8_t*>(request->block);
                              for (size_t i = 0; i < velk::kFeedbackBlockBytes; ++i) {
                                  EXPECT_EQ(block[i], 0) << i;
                              }
                              feedback.emplace_back(
                                  reinterpret_cast<const char*>(request->bytes),
                                  static_cast<size_t>(request->length));
                              return 0x20FF0000u;
                          });
    }
    void SwitchFeedbackOn() {
        AnswerConfiguration([](config::CConfigBatchCommands& reply) {
            reply.AddCommand(4, engine_config::VELK_CFG_ZEF_FEEDBACK_SWITCH, 1);
            reply.AddCommand(4, engine_config::VELK_CFG_ZEF_DEBUG_LEVEL, 4);
        });
    }
    std::vector<std::string> feedback;
};

TEST_F(FileRestoreTest, ResultsCountersAndDecisions) {
    const Calls none;
    const Calls zeroed{"FbCompleteAdvanceData(0,ptr)", "DisconnectBackupStorage"};
    const std::vector<std::string> all{"mem-5", "mem-4", "edition-20", "edition-10"};
    const struct {
        const char* why;
        bool scripted;  // ScriptVersions' versions, or some without copies
        std::vector<Answer> answers;
        uint64_t restoreResult;
        uint32_t result, reboot, index, skipped;
        std::vector<std::string> seen;
        std::string restoredFrom;  // the copy handed to RestoreByCopy, or empty
        Calls storageEnd;          // FbCompleteAdvanceData with the edition id it was given
        Calls deletes;
    } cases[] = {
        {"the newest version chosen", true, {{1, 1}}, 1, velk::kSuccess, 1, 1, 0, {"mem-5"}, "mem-5", none, none},
        {"the second-newest chosen", true, {{0, 1}, {1, 1}}, 1, velk::kSuccess, 1, 2, 1, {"mem-5", "mem-4"}, "mem-4",
         none, none},
        {"every version declined", true, {}, 1, 0xE0360003, 0, 5, 4, all, "", zeroed, none},
        {"the chosen restore fails", true, {{1, 1}}, 0, 0xE0360004, 0, 1, 0, {"mem-5"}, "mem-5", none, none},
        {"an edition chosen", true, {{0, 1}, {0, 1}, {1, 1}}, 1, velk::kSuccess, 1, 4, 2,
         {"mem-5", "mem-4", "edition-20"}, "edition-20", {"FbCompleteAdvanceData(20,ptr)", "DisconnectBackupStorage"},
         none},
        {"an edition chosen, its restore fails", true, {{0, 1}, {0, 1}, {1, 1}}, 0, 0xE0360004, 0, 4, 2,
         {"mem-5", "mem-4", "edition-20"}, "edition-20", zeroed, none},
        {"decision 2 deletes editions only, then the caller stops", true, {{2, 1}, {0, 1}, {2, 1}, {0, 0}}, 1,
         0xE0360003, 0, 5, 4, all, "", zeroed,
         {"DeleteEditionByEditionID(20)", "FreeFileEdition(copy)", "FreeFileEdition(copy)"}},
        {"the caller stops in memory", true, {{0, 0}}, 1, 0xE0360003, 0, 1, 1, {"mem-5"}, "", none, none},
        // An empty copy path is still offered; a version without a copy is counted, offered to
        // nobody, and skipped without a word.
        {"versions without a copy", false, {{0, 1}, {1, 1}}, 1, velk::kSuccess, 1, 4, 1, {"", "edition-10"},
         "edition-10", {"FbCompleteAdvanceData(10,ptr)", "DisconnectBackupStorage"}, none},
    };
    Started();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        engine->Reset();
        if (c.scripted) {
            ScriptVersions();
        } else {
            engine->AddMemory(kFile, 6, 250, u"", kFakeNoCopy);
            engine->AddMemory(kFile, 5, 200, u"", kFakeEmptyCopyPath);
            engine->AddEdition(kFile, 20, 120, 3, 0, kFakeNoCopy);
            engine->AddEdition(kFile, 10, 100, 2);
        }
        engine->SetResult("RestoreByCopy", c.restoreResult);
        engine->SetReboot(1);
        CallbackScript script{c.answers};
        uint32_t reboot = 7;
        StartLogCapture();
        EXPECT_EQ(Restore(script, reboot), c.result);
        EXPECT_EQ(reboot, c.reboot);
        EXPECT_EQ(script.seen, c.seen);
        EXPECT_TRUE(script.copiesExisted);
        EXPECT_EQ(engine->CallsTo({"RestoreByCopy"}),
                  c.restoredFrom.empty() ? Calls{}
                                         : Calls{"RestoreByCopy(" + Text(kFile) + "," + c.restoredFrom + ",Eicar,6,ptr)"});
        EXPECT_EQ(engine->CallsTo({"FbCompleteAdvanceData", "DisconnectBackupStorage"}), c.storageEnd);
        if (!c.deletes.empty()) {
            EXPECT_EQ(engine->CallsTo({"DeleteEditionByEditionID", "FreeFileEdition"}), c.deletes);
        }
        EXPECT_TRUE(Lines().empty());
        EXPECT_TRUE(engine->NothingLeftBehind());
        EXPECT_EQ(Summary(ReportLog(), "IndexFromNewToOld SkippedEditions Reboot"),
                  std::to_string(c.index) + "|" + std::to_string(c.skipped) + (c.reboot ? "|Need" : "|Need not"));
    }
}

TEST_F(FileRestoreTest, OverlapCheckUsesTheUniqueIdOfTheEdition) {
    Started();
    engine->AddMemory(kFile, 4, 150);
    engine->AddEdition(kFile, 31, 150, 3);  // the same time, a lower unique id: offered
    engine->AddEdition(kFile, 30, 150, 4);  // not below the version id: the same version
    engine->AddEdition(kFile, 29, 149, 9);  // another time: offered
    CallbackScript script;
    uint32_t reboot = 0;
    EXPECT_EQ(Restore(script, reboot), 0xE0360003u);
    EXPECT_EQ(script.seen, (std::vector<std::string>{"mem-4", "edition-31", "edition-29"}));
    EXPECT_EQ(engine->CallsTo({"GetBackupFileUniqID"}),
              (Calls{"GetBackupFileUniqID(" + Text(kFile) + ",3)",
                     "GetBackupFileUniqID(" + Text(kFile) + ",4)"}));
    EXPECT_EQ(Summary(ReportLog(), "IndexFromNewToOld"), "4");
}

TEST_F(FileRestoreTest, NothingToRestore) {
    const struct {
        const char* why;
        bool withVersion;
        uint32_t purged, result;
        std::string errorLine;
    } cases[] = {
        {"no version anywhere", false, 0, 0xE0360002,
         "VELK_ZEF_NO_BACKUP (E0360002)"},
        {"no version, but purged editions", false, 3, 0xE0360005,
         " (E0360005)"},
        {"a declined version and purged editions", true, 3, 0xE0360003,
         "VELK_ZEF_NO_VALID_BACKUP (E0360003)"},
    };
    Started();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        engine->Reset();
        if (c.withVersion) engine->AddEdition(kFile, 10, 100);
        zef::RestoreReport engineData{};
        engineData.purgedEditions = c.purged;
        engine->SetAdvanceData(engineData);
        CallbackScript script;
        uint32_t reboot = 5;
        EXPECT_EQ(Restore(script, reboot, nullptr), c.result);
        EXPECT_EQ(reboot, 0u);
        const std::string log = ReportLog();
        EXPECT_EQ(Summary(log, "ErrorCode Result VirusName FileType TimeStamp"),
                  c.errorLine + "|Failure||-2147483647|NULL (0)");
        EXPECT_TRUE(engine->NothingLeftBehind());
    }
    EXPECT_TRUE(engine->CallsTo({"GetBackupFileUniqID"}).empty())
        << "no version in memory: no overlap check";
}

TEST_F(FileRestoreTest, RestoreByEditionWritesItsReport) {
    Started();
    struct {
        uint64_t engineResult;
        uint32_t result;
        const char* resultLine;
    } const cases[] = {{1, velk::kSuccess, "Success"},
                       {0, 0xE0360004, "Failure"}};
    for (const auto& c : cases) {
        engine->Reset();
        engine->SetResult("RestoreByEdition", c.engineResult);
        engine->SetReboot(1);
        uint32_t reboot = 0;
        velk::EditionRestoreRequest request{u"Eicar", kFile, 0x80000000u, 2, kOption, 12};
        EXPECT_EQ(wrapper->CallFunc(velk::kFnRestoreEdition, &request, &reboot), c.result);
        EXPECT_EQ(reboot, 1u) << "what the engine left at the output";
        EXPECT_EQ(engine->Calls(),
                  (Calls{"ConnectBackupStorage",
                         "RestoreByEdition(" + Text(kFile) + ",12,Eicar,6,ptr)",
                         "DisconnectBackupStorage", "FbCompleteAdvanceData(0,ptr)"}));
        const std::string log = ReportLog();
        EXPECT_EQ(Summary(log, "Result VirusType FileName Reboot"),
                  std::string(c.resultLine) + "|-2147483648|" + Text(kFile) + "|Need");
    }
}

TEST_F(FileRestoreTest, FeedbackFollowsTheSwitchAndTheHost) {
    SwitchFeedbackOn();
    Started();
    uint32_t reboot = 0;
    CallbackScript script{{{1, 1}}};
    engine->AddMemory(kFile, 5, 200);
    engine->SetResult("RestoreByCopy", 1);

    // No feedback service: the restore is done all the same.
    EXPECT_EQ(Restore(script, reboot), velk::kSuccess);
    EXPECT_TRUE(feedback.empty());

    OfferFeedback();
    CallbackScript again{{{1, 1}}};
    EXPECT_EQ(Restore(again, reboot), velk::kSuccess);
    ASSERT_EQ(feedback.size(), 1u);
    bool ok = false;
    const std::vector<WireField> root = ReadWire(feedback[0], &ok);
    ASSERT_TRUE(ok);
    const std::vector<WireField> target = ReadWire(WireFind(root, 2).bytes);
    EXPECT_EQ(WireFind(target, 1).bytes, Text(kFile));
    EXPECT_EQ(WireFind(target, 3).bytes, "Eicar");
    const std::vector<WireField> outcome = ReadWire(WireFind(root, 3).bytes);
    EXPECT_EQ(WireFind(outcome, 1).varint, velk::kSuccess);

    // Texts of 260 units: one whose UTF-8 form fits 519 bytes is sent whole, a longer one is
    // left out of the message; the restore is the same either way.
    feedback.clear();
    const std::u16string fits(173, u'\x540D');    // 519 bytes
    const std::u16string tooLong(174, u'\x540D'); // 522 bytes
    engine->AddEdition(tooLong.c_str(), 10, 100);
    CallbackScript edition{{{1, 1}}};
    velk::RestoreFileRequest request{&edition, ChooseVersion, &g_userData, fits.c_str(),
                                     tooLong.c_str(), 3, 4, kOption};
    EXPECT_EQ(wrapper->CallFunc(velk::kFnRestoreFile, &request, &reboot), velk::kSuccess);
    ASSERT_EQ(feedback.size(), 1u);
    const std::vector<WireField> longTarget = ReadWire(WireFind(ReadWire(feedback[0]), 2).bytes);
    EXPECT_EQ(WireFind(longTarget, 1).number, 0u) << "the file name is left out";
    EXPECT_EQ(WireFind(longTarget, 3).bytes, Text(fits.c_str()));
    EXPECT_EQ(Summary(ReportLog(), "FileName"), Text(tooLong.c_str()));
}

TEST_F(FileRestoreTest, NoFeedbackWhileTheSwitchIsOff) {
    OfferFeedback();
    Started();
    engine->AddEdition(kFile, 10, 100);
    CallbackScript script;
    uint32_t reboot = 0;
    EXPECT_EQ(Restore(script, reboot), 0xE0360003u);
    EXPECT_TRUE(feedback.empty());
    EXPECT_EQ(Summary(ReportLog(), "ErrorCode"), "VELK_ZEF_NO_VALID_BACKUP (E0360003)");
}

}  // namespace
