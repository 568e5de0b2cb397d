// The version walks and restores of a file and of a process on the fake engine, for what only a
// scripted engine can show (the real one is walked through the plug-in in
// tests/module/zef_restore_module_test.cpp): the time bounds the searches get, an edition that
// repeats a version in memory, versions the engine cannot copy or name, texts it leaves
// unterminated, restores, purges and deletes that fail, the reboot flag it sets, purged
// editions, and every handle, connection and copy given back on each path.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "tests/unit/wrapper_fixture.h"

namespace {

// One answer of a host callback: the decision or action, and whether to go on.
struct Answer {
    uint32_t action = velk::kDecisionNone;
    int32_t goOn = 1;
};

// The script of a host callback, passed through its context; past the script's end every
// answer is "nothing, go on".
struct CallbackScript {
    CallbackScript() = default;
    explicit CallbackScript(std::vector<Answer> script) : answers(std::move(script)) {}

    std::vector<Answer> answers;
    std::vector<std::string> seen;     // one entry per call, as the callback saw it
    bool copiesExisted = true;         // every memory copy existed while it was shown
    bool withResults = true;           // actions ask for a result callback
    std::vector<std::string> results;  // what result callbacks were told

    // Records what the callback saw (a copy by its tag) and gives the scripted answer.
    Answer Next(const std::string& shown, const char16_t* copyPath = nullptr) {
        seen.push_back(shown);
        if (copyPath != nullptr && CopyTag(copyPath).rfind("mem-", 0) == 0 &&
            !std::filesystem::exists(std::filesystem::path(std::u16string(copyPath)))) {
            copiesExisted = false;
        }
        const size_t index = seen.size() - 1;
        return index < answers.size() ? answers[index] : Answer{};
    }
};

constexpr char16_t kFile[] = u"C:\\docs\\report.doc";
constexpr uint64_t kParameter = 0xABCDEF;
constexpr uint32_t kProcess = 77;
constexpr uint32_t kNoValid = 0xE0360003, kRestoreFailed = 0xE0360004;

int32_t CopyCallback(uint64_t context, const char16_t* copyPath, uint64_t parameter, uint32_t* action) {
    const Answer answer = reinterpret_cast<CallbackScript*>(context)->Next(
        CopyTag(copyPath) + (parameter == kParameter ? "" : " (parameter?)"), copyPath);
    *action = answer.action;
    return answer.goOn;
}

int32_t ChooseVersion(void* context, const char16_t* versionPath, void* userData, uint32_t* decision) {
    return CopyCallback(reinterpret_cast<uint64_t>(context), versionPath,
                        userData == &kParameter ? kParameter : 0, decision);
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
    char code[16];
    std::snprintf(code, sizeof code, "%08X", result->resultCode);
    reinterpret_cast<CallbackScript*>(result->resultContext)->results.push_back(
        Text(result->path) + " id=" + std::to_string(result->versionId) + " " + code +
        " reboot=" + std::to_string(result->rebootFlag));
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

// The versions a test puts in the engine.
enum class Versions {
    kNone,
    kOneEdition,
    // Two in memory, four editions: edition 30 repeats memory version 4 (the same time, a
    // unique id not below 4), edition 40 is newer than the last version in memory.
    kScripted,
    // What the engine cannot copy or name, or gives back as overlong text.
    kWithoutCopies,
    // One in memory and three editions of the same or another time, with unique ids below,
    // at and above its id.
    kOverlap,
};

class VersionWalkTest : public EngineWrapperTest {
protected:
    void Script(Versions versions, uint32_t processId = 0) {
        engine->Reset();
        switch (versions) {
            case Versions::kNone: break;
            case Versions::kOneEdition: engine->AddEdition(kFile, 10, 100); break;
            case Versions::kScripted:
                engine->AddMemory(kFile, 5, 200, u"C:\\app\\writer.exe", 0, processId);
                engine->AddMemory(kFile, 4, 150, u"", 0, processId);
                engine->AddEdition(kFile, 40, 300, 9, 0, 0, processId);
                engine->AddEdition(kFile, 30, 150, 4, 0, 0, processId);
                engine->AddEdition(kFile, 20, 120, 3, 8, 0, processId);
                engine->AddEdition(kFile, 10, 100, 2, 0, 0, processId);
                break;
            case Versions::kWithoutCopies:
                engine->AddMemory(kFile, 6, 250, u"", kFakeNoCopy);
                engine->AddMemory(kFile, 5, 200, u"", kFakeEmptyCopyPath);
                engine->AddMemory(kFile, 4, 150, u"", kFakeOverlongText);
                engine->AddEdition(kFile, 20, 120, 3, 0, kFakeNoCopy);
                engine->AddEdition(kFile, 10, 100, 2);
                break;
            case Versions::kOverlap:
                engine->AddMemory(kFile, 4, 150);
                engine->AddEdition(kFile, 31, 150, 3);  // the same time, a lower unique id: offered
                engine->AddEdition(kFile, 30, 150, 4);  // not below the version id: the same version
                engine->AddEdition(kFile, 29, 149, 9);  // another time: offered
                break;
        }
    }
    uint32_t WalkFile(uint32_t functionId, CallbackScript& script) {
        const velk::FileVersionRequest request{
            kFile, reinterpret_cast<uint64_t>(&script),
            functionId == velk::kFnEnumFileVersions ? reinterpret_cast<void (*)()>(CopyCallback)
                                                    : reinterpret_cast<void (*)()>(InfoCallback),
            kParameter};
        return wrapper->CallFunc(functionId, const_cast<velk::FileVersionRequest*>(&request), nullptr);
    }
    uint32_t WalkProcess(CallbackScript& script, platform::SystemTime from = {}, platform::SystemTime to = {}) {
        velk::ProcessVersionRequest request{kProcess, from, to, reinterpret_cast<uint64_t>(&script), ProcessCallback,
                                            kParameter};
        return wrapper->CallFunc(velk::kFnEnumProcessVersions, &request, nullptr);
    }
    uint32_t Restore(CallbackScript& script, uint32_t& reboot, const char16_t* virusName) {
        velk::RestoreFileRequest request{&script, ChooseVersion, const_cast<uint64_t*>(&kParameter), virusName, kFile,
                                         3, 0x80000001u, 6};
        return wrapper->CallFunc(velk::kFnRestoreFile, &request, &reboot);
    }
    Calls Actions() const {
        return engine->CallsTo({"MemPurgeVersion", "MemPurgeVersionByPid", "FreeFileEdition", "DeleteEditionByEditionID",
                                "RestoreByCopy", "RestoreByEdition"});
    }
};

// A file's versions in order (memory first), with the repeated edition left out, the storage
// bounded by the last version in memory for copies (not for the information walk), actions
// after the copy is given back, and versions without a copy skipped without a word.
TEST_F(VersionWalkTest, FileWalksBoundsRepeatsAndVersionsWithoutCopies) {
    const uint32_t kCopies = velk::kFnEnumFileVersions, kInfo = velk::kFnEnumFileVersionInfo;
    const std::string file = Text(kFile), free = "FreeFileEdition(copy)";
    const Calls bounded{"ConnectBackupStorage", "FindFirstFileEditionEx(" + file + ",1,null,&150,ptr)",
                        "DisconnectBackupStorage"};
    const Calls unbounded{"ConnectBackupStorage", "FindFirstFileEdition(" + file + ",ptr)", "DisconnectBackupStorage"};
    const struct {
        const char* why;
        uint32_t functionId;
        Versions versions;
        std::vector<Answer> answers;
        std::vector<std::string> seen;
        Calls actions, storage;
    } cases[] = {
        {"every version; the repeated edition and the newer one are not shown", kCopies, Versions::kScripted, {},
         {"mem-5", "mem-4", "edition-20", "edition-10"}, {free, free}, bounded},
        {"purge a memory version, delete an edition after giving its copy back", kCopies, Versions::kScripted,
         {{2, 1}, {0, 1}, {2, 1}}, {"mem-5", "mem-4", "edition-20", "edition-10"},
         {"MemPurgeVersion(v5)", free, "DeleteEditionByEditionID(20)", free}, bounded},
        // No time bound here: edition 40 is shown, edition 30 still repeats memory version 4.
        {"information, never purging memory", kInfo, Versions::kScripted, {{2, 1}, {0, 1}, {0, 1}, {2, 1}},
         {"mem-5 id=0 t=200 img=C:\\app\\writer.exe", "mem-4 id=0 t=150 img=", "edition-40 id=40 t=300 img=",
          "edition-20 id=20 t=120 img=", "edition-10 id=10 t=100 img="},
         {free, free, "DeleteEditionByEditionID(20)", free},
         {unbounded[0], unbounded[1], "GetBackupFileByID(8,260,ptr)", unbounded[2]}},
        // An engine that fills the image buffer still leaves a terminated text of 259 units.
        {"versions without copies", kInfo, Versions::kWithoutCopies, {},
         {" id=0 t=200 img=", "mem-4 id=0 t=150 img=" + std::string(259, 'x'), "edition-10 id=10 t=100 img="}, {free},
         unbounded},
        {"nothing found: the storage connected and let go", kInfo, Versions::kNone, {}, {}, {}, unbounded},
    };
    Started();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Script(c.versions);
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
    // Without versions in memory the storage is bounded by now, and no edition repeats one.
    Script(Versions::kNone);
    engine->AddEdition(kFile, 30, 150, 99);
    const uint32_t before = static_cast<uint32_t>(platform::UnixTimeNow());
    CallbackScript script;
    EXPECT_EQ(WalkFile(kCopies, script), velk::kSuccess);
    EXPECT_EQ(script.seen, (std::vector<std::string>{"edition-30"}));
    EXPECT_TRUE(engine->CallsTo({"GetBackupFileUniqID"}).empty());
    const Calls find = engine->CallsTo({"FindFirstFileEditionEx"});
    const std::string prefix = "FindFirstFileEditionEx(" + Text(kFile) + ",1,null,&";
    ASSERT_EQ(find.size(), 1u);
    ASSERT_EQ(find[0].rfind(prefix, 0), 0u) << find[0];
    const unsigned long bound = std::stoul(find[0].substr(prefix.size()));
    EXPECT_TRUE(bound >= before && bound <= static_cast<uint32_t>(platform::UnixTimeNow())) << bound;
}

// Restores by file on what the real engine cannot produce: the repeated edition counted but
// not offered, the overlap decided by the edition's unique id, restores that fail (the chosen
// edition then not reported), versions without a copy (an empty path still offered), purged
// editions, and the engine's reboot flag; feedback stays off while the switch is.
TEST_F(VersionWalkTest, RestoresByFileOnWhatOnlyAFakeShows) {
    const Calls zeroed{"FbCompleteAdvanceData(0,ptr)", "DisconnectBackupStorage"};
    const std::vector<std::string> all{"mem-5", "mem-4", "edition-20", "edition-10"};
    const struct {
        const char* why;
        Versions versions;
        std::vector<Answer> answers;
        uint64_t restoreResult;
        uint32_t purged, result, reboot, index, skipped;
        std::vector<std::string> seen;
        std::string restoredFrom;  // the copy handed to RestoreByCopy, or empty
        Calls storageEnd;          // FbCompleteAdvanceData with the edition id it was given
    } cases[] = {
        {"every version declined", Versions::kScripted, {}, 1, 0, kNoValid, 0, 5, 4, all, "", zeroed},
        {"the chosen restore fails", Versions::kScripted, {{1, 1}}, 0, 0, kRestoreFailed, 0, 1, 0, {"mem-5"}, "mem-5", {}},
        {"an edition chosen, its restore fails", Versions::kScripted, {{0, 1}, {0, 1}, {1, 1}}, 0, 0, kRestoreFailed, 0,
         4, 2, {"mem-5", "mem-4", "edition-20"}, "edition-20", zeroed},
        {"versions without a copy", Versions::kWithoutCopies, {{0, 1}, {0, 1}, {1, 1}}, 1, 0, velk::kSuccess, 1, 5, 2,
         {"", "mem-4", "edition-10"}, "edition-10", {"FbCompleteAdvanceData(10,ptr)", "DisconnectBackupStorage"}},
        {"the overlap by unique id", Versions::kOverlap, {}, 1, 0, kNoValid, 0, 4, 3,
         {"mem-4", "edition-31", "edition-29"}, "", zeroed},
        {"no version, but purged editions", Versions::kNone, {}, 1, 3, 0xE0360005, 0, 0, 0, {}, "", zeroed},
        {"a declined version and purged editions", Versions::kOneEdition, {}, 1, 3, kNoValid, 0, 1, 1,
         {"edition-10"}, "", zeroed},
    };
    host.AddInterface(velk::kFeedbackModule, velk::kFeedbackInterface, [](uint32_t, void*, void*) {
        ADD_FAILURE() << "feedback while the switch is off";
        return velk::kSuccess;
    });
    Started();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Script(c.versions);
        zef::RestoreReport engineData{};
        engineData.purgedEditions = c.purged;
        engine->SetAdvanceData(engineData);
        engine->SetResult("RestoreByCopy", c.restoreResult);
        engine->SetReboot(1);
        CallbackScript script{c.answers};
        uint32_t reboot = 7;
        StartLogCapture();
        EXPECT_EQ(Restore(script, reboot, c.purged ? nullptr : u"Eicar"), c.result);
        EXPECT_EQ(reboot, c.reboot);
        EXPECT_EQ(script.seen, c.seen);
        EXPECT_TRUE(script.copiesExisted);
        EXPECT_EQ(engine->CallsTo({"RestoreByCopy"}),
                  c.restoredFrom.empty() ? Calls{} : Calls{"RestoreByCopy(" + Text(kFile) + "," + c.restoredFrom + ",Eicar,6,ptr)"});
        EXPECT_EQ(engine->CallsTo({"FbCompleteAdvanceData", "DisconnectBackupStorage"}), c.storageEnd);
        EXPECT_TRUE(Lines().empty());
        EXPECT_TRUE(engine->NothingLeftBehind());
        EXPECT_EQ(Summary(ReportLog(), "IndexFromNewToOld SkippedEditions Reboot"),
                  std::to_string(c.index) + "|" + std::to_string(c.skipped) + (c.reboot ? "|Need" : "|Need not"));
        if (c.purged != 0) {
            EXPECT_EQ(Summary(ReportLog(), "Result VirusName FileType TimeStamp"), "Failure||-2147483647|NULL (0)");
        }
    }
}

// A process's versions in order, with restores and deletes that succeed or fail, told to the
// result callback with the engine's reboot flag; the storage bounded by the last version in
// memory and not searched after a restore from memory ends the walk.
TEST_F(VersionWalkTest, ProcessVersionsInOrderWithActionsAndResults) {
    Started();
    Script(Versions::kScripted, kProcess);
    engine->AddEdition(u"C:\\other.txt", 50, 90, 0, 0, 0, kProcess + 1);  // another process
    engine->AddEdition(kFile, 5, 90, 0, 0, kFakeNoCopy, kProcess);  // restored without a copy
    engine->SetResult("RestoreByCopy", 1);
    engine->SetResult("RestoreByEdition", 1);
    // MemPurgeVersionByPid and DeleteEditionByEditionID answer 0: both fail.
    engine->SetReboot(1);
    CallbackScript script{{{1, 1}, {2, 1}, {1, 1}, {2, 1}, {1, 1}}};
    EXPECT_EQ(WalkProcess(script), velk::kSuccess);
    const std::string file = Text(kFile);
    EXPECT_EQ(script.seen, (std::vector<std::string>{file + " id=0 t=200 img=C:\\app\\writer.exe", file + " id=0 t=150 img=",
                                                     file + " id=20 t=120 img=", file + " id=10 t=100 img=",
                                                     file + " id=5 t=90 img="}));
    EXPECT_EQ(script.results, (std::vector<std::string>{file + " id=0 20FF0000 reboot=1", file + " id=0 E0360007 reboot=0",
                                                        file + " id=20 20FF0000 reboot=1", file + " id=10 E0360007 reboot=0",
                                                        file + " id=5 20FF0000 reboot=1"}));
    EXPECT_EQ(Actions(), (Calls{"RestoreByCopy(" + file + ",mem-5,Eicar,3,ptr)", "MemPurgeVersionByPid(v4)",
                                "RestoreByEdition(" + file + ",20,Eicar,3,ptr)", "DeleteEditionByEditionID(10)",
                                "RestoreByEdition(" + file + ",5,Eicar,3,ptr)"}));
    EXPECT_EQ(engine->CallsTo({"MemFindFirstFileByPid", "FindFirstFileEditionByPid"}),
              (Calls{"MemFindFirstFileByPid(77,0,0)", "FindFirstFileEditionByPid(77,1,null,&150,ptr)"}));
    EXPECT_TRUE(engine->NothingLeftBehind());

    const struct {
        const char* why;
        uint32_t flags;
        uint64_t restoreResult;
        std::string reported;
        size_t restores;
    } cases[] = {
        {"restored", 0, 1, "20FF0000 reboot=2", 1},
        {"the engine's restore fails", 0, 0, "E0360004 reboot=2", 1},
        {"no copy can be made", kFakeNoCopy, 1, "E0360003 reboot=0", 0},
        {"a copy without a path", kFakeEmptyCopyPath, 1, "E0360003 reboot=0", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Script(Versions::kNone);
        engine->AddMemory(kFile, 5, 200, u"", c.flags, kProcess);
        engine->SetResult("RestoreByCopy", c.restoreResult);
        engine->SetReboot(2);
        CallbackScript restoreFirst{{{1, 0}}};
        EXPECT_EQ(WalkProcess(restoreFirst), velk::kSuccess);
        EXPECT_EQ(restoreFirst.results, (std::vector<std::string>{file + " id=0 " + c.reported}));
        EXPECT_EQ(engine->CallsTo({"RestoreByCopy"}).size(), c.restores);
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
              (Calls{"MemFindFirstFileByPid(77,100,300)", "FindFirstFileEditionByPid(77,1,&100,&300,ptr)"}));
    ASSERT_EQ(script.seen.size(), 2u);
    // An unterminated path from the engine is cut to the record's 261 units.
    EXPECT_EQ(script.seen[0], std::string(261, 'x') + " id=20 t=120 img=");
    EXPECT_TRUE(script.results.empty());
    EXPECT_EQ(engine->CallsTo({"DeleteEditionByEditionID"}), (Calls{"DeleteEditionByEditionID(20)"}));

    // A version whose path the engine cannot give is offered to nobody.
    Script(Versions::kNone);
    engine->AddMemory(kFile, 5, 200, u"", kFakeNoPath, kProcess);
    CallbackScript none;
    EXPECT_EQ(WalkProcess(none), velk::kSuccess);
    EXPECT_TRUE(none.seen.empty());
    EXPECT_EQ(engine->CallsTo({"FindFirstFileEditionByPid"}), (Calls{"FindFirstFileEditionByPid(77,1,null,&200,ptr)"}));
    EXPECT_TRUE(engine->NothingLeftBehind());
}

}  // namespace
