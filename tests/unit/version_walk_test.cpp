// The version walks of a file and of a process against the fake engine's scripted versions:
// order, bounds, the repeat and stop rules, the actions, and nothing left behind.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/unit/wrapper_fixture.h"

namespace {

constexpr char16_t kFile[] = u"C:\\docs\\report.doc";
constexpr uint64_t kParameter = 0xABCDEF;
constexpr uint32_t kProcess = 77;

int32_t CopyCallback(uint64_t context, const char16_t* copyPath, uint64_t parameter,
                     uint32_t* action) {
    const Answer answer = reinterpret_cast<CallbackScript*>(context)->Next(
        CopyTag(copyPath) + (parameter == kParameter ? "" : " (parameter?)"), copyPath);
    *action = answer.action;
    return answer.goOn;
}

template <typename Info>
std::string Describe(const Info& info, const std::string& path) {
    return path + " id=" + std::to_string(info.versionId) + " t=" + std::to_string(info.time) +
           " img=" + Text(info.image) + (info.parameter == kParameter ? "" : " (parameter?)");
}

int32_t InfoCallback(velk::FileVersionInfo* info, uint32_t* action) {
    const Answer answer = reinterpret_cast<CallbackScript*>(info->context)->Next(Describe(*info, CopyTag(info->path)));
    *action = answer.action;
    return answer.goOn;
}

void ResultCallback(const velk::VersionActionResult* result, uint64_t /*reserved*/) {
    auto* script = reinterpret_cast<CallbackScript*>(result->resultContext);
    char code[16];
    std::snprintf(code, sizeof code, "%08X", result->resultCode);
    script->results.push_back(Text(result->path) + " id=" + std::to_string(result->versionId) +
                              " " + code + " reboot=" + std::to_string(result->rebootFlag));
}

int32_t ProcessCallback(velk::ProcessVersionInfo* info, velk::VersionAction* action) {
    auto* script = reinterpret_cast<CallbackScript*>(info->context);
    const Answer answer = script->Next(Describe(*info, Text(info->path)));
    action->kind = answer.action;
    action->restoreOption = 3;
    action->virusName = u"Eicar";
    action->resultCallback = script->withResults ? ResultCallback : nullptr;
    action->resultContext = reinterpret_cast<uint64_t>(script);
    return answer.goOn;
}

class VersionWalkTest : public EngineWrapperTest {
protected:
    // Two versions in memory and four editions: edition 30 repeats memory version 4 (same
    // time, unique id not below 4); edition 40 is newer than the last memory version.
    void ScriptFile(uint32_t processId = 0) {
        engine->AddMemory(kFile, 5, 200, u"C:\\app\\writer.exe", 0, processId);
        engine->AddMemory(kFile, 4, 150, u"", 0, processId);
        engine->AddEdition(kFile, 40, 300, 9, 0, 0, processId);
        engine->AddEdition(kFile, 30, 150, 4, 0, 0, processId);
        engine->AddEdition(kFile, 20, 120, 3, 8, 0, processId);
        engine->AddEdition(kFile, 10, 100, 2, 0, 0, processId);
        engine->SetWriterImage(8, u"C:\\app\\saver.exe");
    }
    uint32_t WalkFile(uint32_t functionId, CallbackScript& script) {
        const velk::FileVersionRequest request{
            kFile, reinterpret_cast<uint64_t>(&script),
            functionId == velk::kFnEnumFileVersions
                ? reinterpret_cast<void (*)()>(CopyCallback)
                : reinterpret_cast<void (*)()>(InfoCallback),
            kParameter};
        return wrapper->CallFunc(functionId, const_cast<velk::FileVersionRequest*>(&request),
                                 nullptr);
    }
    uint32_t WalkProcess(CallbackScript& script, platform::SystemTime from = {},
                         platform::SystemTime to = {}) {
        velk::ProcessVersionRequest request{kProcess, from, to,
                                            reinterpret_cast<uint64_t>(&script), ProcessCallback,
                                            kParameter};
        return wrapper->CallFunc(velk::kFnEnumProcessVersions, &request, nullptr);
    }
    Calls Actions() const {
        return engine->CallsTo({"MemPurgeVersion", "MemPurgeVersionByPid", "FreeFileEdition",
                                "DeleteEditionByEditionID", "RestoreByCopy", "RestoreByEdition"});
    }
};

// A file's versions in order (memory first), with the stop and repeat rules, the actions, the
// storage bounded by the last version in memory for copies (not for the information walk), and
// versions without a copy skipped without a word; nothing is left behind.
TEST_F(VersionWalkTest, FileWalksInOrderWithStopRepeatAndActions) {
    const uint32_t kCopies = velk::kFnEnumFileVersions, kInfo = velk::kFnEnumFileVersionInfo;
    const std::string file = Text(kFile);
    const Calls bounded{"ConnectBackupStorage", "FindFirstFileEditionEx(" + file + ",1,null,&150,ptr)",
                        "DisconnectBackupStorage"};
    const std::string free = "FreeFileEdition(copy)";
    const struct {
        const char* why;
        uint32_t functionId;
        bool scripted;  // ScriptFile's versions, or those without copies and with overlong texts
        std::vector<Answer> answers;
        std::vector<std::string> seen;
        Calls actions, storage;
    } cases[] = {
        {"every version; the repeated edition and the newer one are not shown", kCopies, true, {},
         {"mem-5", "mem-4", "edition-20", "edition-10"}, {free, free}, bounded},
        {"stop at the first version in memory", kCopies, true, {{0, 0}}, {"mem-5"}, {}, {}},
        {"purge a memory version, delete an edition after giving its copy back", kCopies, true,
         {{2, 1}, {0, 1}, {2, 1}}, {"mem-5", "mem-4", "edition-20", "edition-10"},
         {"MemPurgeVersion(v5)", free, "DeleteEditionByEditionID(20)", free}, bounded},
        {"stop in the storage", kCopies, true, {{0, 1}, {0, 1}, {0, 0}}, {"mem-5", "mem-4", "edition-20"},
         {free}, bounded},
        // No time bound here: edition 40 is shown, edition 30 still repeats memory version 4.
        {"information, never purging memory", kInfo, true, {{2, 1}, {0, 1}, {0, 1}, {2, 1}},
         {"mem-5 id=0 t=200 img=C:\\app\\writer.exe", "mem-4 id=0 t=150 img=", "edition-40 id=40 t=300 img=",
          "edition-20 id=20 t=120 img=C:\\app\\saver.exe", "edition-10 id=10 t=100 img="},
         {free, free, "DeleteEditionByEditionID(20)", free},
         {"ConnectBackupStorage", "FindFirstFileEdition(" + file + ",ptr)", "GetBackupFileByID(8,260,ptr)",
          "DisconnectBackupStorage"}},
        // An engine that fills the image buffer still leaves a terminated text of 259 units.
        {"versions without copies", kInfo, false, {},
         {"mem-4 id=0 t=150 img=" + std::string(259, 'x'), "edition-10 id=10 t=100 img="}, {free},
         {"ConnectBackupStorage", "FindFirstFileEdition(" + file + ",ptr)", "DisconnectBackupStorage"}},
    };
    Started();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        engine->Reset();
        engine->SetCopyFolder(copies.u16string());
        if (c.scripted) {
            ScriptFile();
        } else {
            engine->AddMemory(kFile, 5, 200, u"", kFakeNoCopy);
            engine->AddMemory(kFile, 4, 150, u"", kFakeOverlongText);
            engine->AddEdition(kFile, 20, 120, 3, 0, kFakeNoCopy);
            engine->AddEdition(kFile, 10, 100, 2);
        }
        CallbackScript script{c.answers};
        StartLogCapture();
        EXPECT_EQ(WalkFile(c.functionId, script), velk::kSuccess);
        EXPECT_EQ(script.seen, c.seen);
        EXPECT_TRUE(script.copiesExisted);
        EXPECT_EQ(Actions(), c.actions);
        EXPECT_EQ(engine->CallsTo({"ConnectBackupStorage", "FindFirstFileEditionEx", "FindFirstFileEdition",
                                   "GetBackupFileByID", "DisconnectBackupStorage"}), c.storage);
        EXPECT_TRUE(Lines().empty());
        EXPECT_TRUE(engine->NothingLeftBehind());
    }
    engine->Reset();  // nothing found is success, the storage connected and let go
    CallbackScript empty;
    EXPECT_EQ(WalkFile(kInfo, empty), velk::kSuccess);
    EXPECT_TRUE(empty.seen.empty());
    EXPECT_EQ(engine->CallsTo({"ConnectBackupStorage", "DisconnectBackupStorage"}),
              (Calls{"ConnectBackupStorage", "DisconnectBackupStorage"}));
}

TEST_F(VersionWalkTest, WithoutMemoryVersionsTheStorageIsBoundedByNowAndNothingRepeats) {
    Started();
    engine->AddEdition(kFile, 30, 150, 99);
    engine->AddEdition(kFile, 20, 120, 99, 0, kFakeNoCopy);  // offered to nobody
    const uint32_t before = static_cast<uint32_t>(platform::UnixTimeNow());
    CallbackScript script;
    EXPECT_EQ(WalkFile(velk::kFnEnumFileVersions, script), velk::kSuccess);
    EXPECT_EQ(script.seen, (std::vector<std::string>{"edition-30"}));
    EXPECT_TRUE(engine->CallsTo({"GetBackupFileUniqID"}).empty());
    const Calls find = engine->CallsTo({"FindFirstFileEditionEx"});
    ASSERT_EQ(find.size(), 1u);
    const std::string prefix = "FindFirstFileEditionEx(" + Text(kFile) + ",1,null,&";
    ASSERT_EQ(find[0].rfind(prefix, 0), 0u) << find[0];
    const unsigned long bound = std::stoul(find[0].substr(prefix.size()));
    EXPECT_GE(bound, before);
    EXPECT_LE(bound, static_cast<uint32_t>(platform::UnixTimeNow()));
    EXPECT_TRUE(engine->NothingLeftBehind());
}

TEST_F(VersionWalkTest, ProcessVersionsInOrderWithActionsAndResults) {
    Started();
    ScriptFile(kProcess);
    engine->AddEdition(u"C:\\other.txt", 50, 90, 0, 0, 0, kProcess + 1);  // another process
    engine->AddEdition(kFile, 5, 90, 0, 0, kFakeNoCopy, kProcess);  // restored without a copy
    engine->SetResult("RestoreByCopy", 1);
    engine->SetResult("RestoreByEdition", 1);
    // MemPurgeVersionByPid and DeleteEditionByEditionID answer 0: both fail.
    engine->SetReboot(1);
    CallbackScript script{{{1, 1}, {2, 1}, {1, 1}, {2, 1}, {1, 1}}};
    EXPECT_EQ(WalkProcess(script), velk::kSuccess);
    const std::string file = Text(kFile);
    EXPECT_EQ(script.seen, (std::vector<std::string>{
                               file + " id=0 t=200 img=C:\\app\\writer.exe",
                               file + " id=0 t=150 img=",
                               file + " id=20 t=120 img=C:\\app\\saver.exe",
                               file + " id=10 t=100 img=",
                               file + " id=5 t=90 img=",
                           }));
    EXPECT_EQ(script.results, (std::vector<std::string>{
                                  file + " id=0 20FF0000 reboot=1",
                                  file + " id=0 E0360007 reboot=0",
                                  file + " id=20 20FF0000 reboot=1",
                                  file + " id=10 E0360007 reboot=0",
                                  file + " id=5 20FF0000 reboot=1",
                              }));
    EXPECT_EQ(Actions(), (Calls{"RestoreByCopy(" + file + ",mem-5,Eicar,3,ptr)",
                                "MemPurgeVersionByPid(v4)",
                                "RestoreByEdition(" + file + ",20,Eicar,3,ptr)",
                                "DeleteEditionByEditionID(10)",
                                "RestoreByEdition(" + file + ",5,Eicar,3,ptr)"}));
    EXPECT_EQ(engine->CallsTo({"MemFindFirstFileByPid", "FindFirstFileEditionByPid"}),
              (Calls{"MemFindFirstFileByPid(77,0,0)", "FindFirstFileEditionByPid(77,1,null,&150,ptr)"}));
    EXPECT_TRUE(engine->NothingLeftBehind());
}

TEST_F(VersionWalkTest, RestoreOfAProcessVersionInMemory) {
    const struct {
        const char* why;
        uint32_t flags;
        uint64_t restoreResult;
        std::string reported;
        bool restoreCalled;
    } cases[] = {
        {"restored", 0, 1, "20FF0000 reboot=2", true},
        {"the engine's restore fails", 0, 0, "E0360004 reboot=2", true},
        {"no copy can be made", kFakeNoCopy, 1, "E0360003 reboot=0", false},
        {"a copy without a path", kFakeEmptyCopyPath, 1, "E0360003 reboot=0", false},
    };
    Started();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        engine->Reset();
        engine->SetCopyFolder(copies.u16string());
        engine->AddMemory(kFile, 5, 200, u"", c.flags, kProcess);
        engine->SetResult("RestoreByCopy", c.restoreResult);
        engine->SetReboot(2);
        CallbackScript script{{{1, 0}}};
        EXPECT_EQ(WalkProcess(script), velk::kSuccess);
        EXPECT_EQ(script.results, (std::vector<std::string>{Text(kFile) + " id=0 " + c.reported}));
        EXPECT_EQ(engine->CallsTo({"RestoreByCopy"}).size(), c.restoreCalled ? 1u : 0u);
        EXPECT_TRUE(engine->CallsTo({"ConnectBackupStorage"}).empty());
        EXPECT_TRUE(engine->NothingLeftBehind());
    }
}

TEST_F(VersionWalkTest, ProcessWalkBoundsAndSilentActions) {
    Started();
    // Both bounds given and nothing in memory: the storage search takes the request's bounds.
    platform::SystemTime from{1970, 1, 4, 1, 0, 1, 40, 0};  // 100 s
    platform::SystemTime to{1970, 1, 4, 1, 0, 5, 0, 0};     // 300 s
    engine->AddEdition(kFile, 20, 120, 3, 0, kFakeOverlongText, kProcess);
    engine->AddEdition(kFile, 10, 100, 2, 0, 0, kProcess);
    CallbackScript script{{{2, 1}}};
    script.withResults = false;  // the delete is carried out silently
    engine->SetResult("DeleteEditionByEditionID", 1);
    EXPECT_EQ(WalkProcess(script, from, to), velk::kSuccess);
    EXPECT_EQ(engine->CallsTo({"MemFindFirstFileByPid", "FindFirstFileEditionByPid"}),
              (Calls{"MemFindFirstFileByPid(77,100,300)",
                     "FindFirstFileEditionByPid(77,1,&100,&300,ptr)"}));
    ASSERT_EQ(script.seen.size(), 2u);
    // An unterminated path from the engine is cut to the record's 261 units.
    EXPECT_EQ(script.seen[0], std::string(261, 'x') + " id=20 t=120 img=");
    EXPECT_TRUE(script.results.empty());
    EXPECT_EQ(engine->CallsTo({"DeleteEditionByEditionID"}),
              (Calls{"DeleteEditionByEditionID(20)"}));

    // A version whose path the engine cannot give is offered to nobody.
    engine->Reset();
    engine->SetCopyFolder(copies.u16string());
    engine->AddMemory(kFile, 5, 200, u"", kFakeNoPath, kProcess);
    CallbackScript none;
    EXPECT_EQ(WalkProcess(none), velk::kSuccess);
    EXPECT_TRUE(none.seen.empty());
    EXPECT_EQ(engine->CallsTo({"FindFirstFileEditionByPid"}),
              (Calls{"FindFirstFileEditionByPid(77,1,null,&200,ptr)"}));
    EXPECT_TRUE(engine->NothingLeftBehind());
}

}  // namespace
