// The plug-in driving the reference engine through the engine's exports: the walks and
// restores of the versions taken on file events that the plug-in forwards (the
// copies and bytes that come back, the callers' decisions, the order and time bounds a user
// relies on, Report.log as the plug-in writes it and the restore feedback the host receives,
// also when the feedback service goes away).
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "engine_api/zef_records.h"
#include "host/call_records.h"
#include "host/feedback_records.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "tests/fakes/captured_log.h"
#include "tests/fakes/event_messages.h"
#include "tests/module/plugin_harness.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kWriter = 4321;
constexpr char16_t kWriterImage[] = u"writer-image";
constexpr uint32_t kFeedbackSwitch = 0x03670006;
const std::string kFirst = "first draft";
const std::string kSecond = "second draft, longer";
const std::string kCurrent = "final";

// What a walk's callback was shown of one version.
struct Seen {
    uint32_t versionId;
    uint32_t time;
    std::string bytes;        // of the copy (file walks) or empty
    std::u16string path;      // the backed-up file's own path (process walk)
    std::u16string image;
};

// A walk or restore as its caller scripts it: the (decision, go on) of each version shown in
// turn, "nothing, go on" past the script's end; what it was shown, and what the result
// callback of a process walk's actions was told (the path copied while the callback runs: the
// plug-in's text is its own). A restore without a script chooses the copy that holds `wanted`.
struct Walk {
    std::vector<std::pair<uint32_t, int32_t>> answers;
    std::string wanted;
    std::vector<Seen> seen;
    std::vector<velk::VersionActionResult> results;
    std::vector<std::u16string> resultPaths;

    int32_t Show(Seen shown, uint32_t* action) {
        seen.push_back(std::move(shown));
        const size_t at = seen.size() - 1;
        *action = at < answers.size() ? answers[at].first
                  : !wanted.empty() && seen.back().bytes == wanted ? velk::kDecisionRestore : velk::kDecisionNone;
        return at < answers.size() ? answers[at].second : 1;
    }
};

platform::SystemTime Utc(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    const std::tm* utc = std::gmtime(&t);
    const auto unit = [](int value) { return static_cast<uint16_t>(value); };
    return {unit(utc->tm_year + 1900), unit(utc->tm_mon + 1), unit(utc->tm_wday), unit(utc->tm_mday),
            unit(utc->tm_hour), unit(utc->tm_min), unit(utc->tm_sec), 0};
}

class ZefRestoreModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_feedback.clear();
        m_plugin.emplace(PluginHarness::Options{"Zef", false, ""});
        ScriptedHost& host = m_plugin->Host();
        AnswerSettings(host, {{kFeedbackSwitch, 1}});
        host.AddInterface(velk::kFeedbackModule, velk::kFeedbackInterface, [this](uint32_t fn, void* in, void* out) {
            const auto* request = static_cast<const velk::RestoreFeedbackRequest*>(in);
            if (fn != velk::kFnPostRestoreFeedback || out != nullptr || request->nine != 9 ||
                std::string(request->tag) != "ZEF_001" || request->zero != 0)
                return velk::kNotDone;
            m_feedback.emplace_back(reinterpret_cast<const char*>(request->bytes), static_cast<size_t>(request->length));
            return velk::kSuccess;
        });
        host.AddInterface(velk::kSystemInfoModule, velk::kSystemInfoInterface, [](uint32_t fn, void* in, void* out) {
            if (fn != velk::kFnGetImagePath) return velk::kNotDone;
            if (static_cast<const velk::ImagePathRequest*>(in)->processId != kWriter) return velk::kNotDone;
            auto* reply = static_cast<velk::ImagePathReply*>(out);
            std::u16string(kWriterImage).copy(reply->buffer, reply->capacity - 1);
            return velk::kImagePathFound;
        });
        ASSERT_NE(m_plugin->Running(), nullptr);
        fs::create_directories(m_plugin->Folder() / "files");
        m_path = (m_plugin->Folder() / "files" / "doc.txt").u16string();
    }
    void TearDown() override { m_plugin.reset(); }

    uint32_t Call(uint32_t functionId, void* input, void* output) { return m_plugin->Call(functionId, input, output); }
    void Write(const std::string& bytes) { WriteFileBytes(fs::path(m_path), bytes); }
    // A file event as the host sends it, forwarded by the plug-in.
    void Event(std::optional<uint32_t> processId) {
        EventMessageSpec spec = FileEvent(m_path, 0);
        spec.processId = processId;
        std::vector<uint8_t> data = EventMessageData(spec);
        velk::EventRecord record{};
        record.eventId = velk::kEventIntegration;
        record.eventData = data.data();
        ASSERT_EQ(velk::kSuccess, Call(velk::kFnForwardEvent, &record, nullptr));
    }
    // Two earlier contents kept by the writer's events, the file now holding a third.
    void History(bool flushed) {
        for (const std::string& bytes : {kFirst, kSecond}) Write(bytes), Event(kWriter);
        Write(kCurrent);
        if (flushed) { ASSERT_EQ(velk::kSuccess, Call(velk::kFnFlushEvents, nullptr, nullptr)); }
    }

    // A file walk with copies (0x23600003) or with what is known of each version (0x23600007).
    Walk FileWalk(uint32_t function, Walk walk = {}) {
        const auto callback = function == velk::kFnEnumFileVersions ? reinterpret_cast<void (*)()>(&OnCopy)
                                                                    : reinterpret_cast<void (*)()>(&OnInfo);
        velk::FileVersionRequest request{m_path.c_str(), reinterpret_cast<uint64_t>(&walk), callback, 0};
        EXPECT_EQ(velk::kSuccess, Call(function, &request, nullptr));
        return walk;
    }
    std::vector<Seen> CopyWalk() { return FileWalk(velk::kFnEnumFileVersions).seen; }
    std::vector<Seen> InfoWalk() { return FileWalk(velk::kFnEnumFileVersionInfo).seen; }
    // 0x2360000D within the bounds (0: none).
    Walk WalkProcess(int64_t from, int64_t to, Walk walk = {}) {
        velk::ProcessVersionRequest request{};
        request.processId = kWriter;
        if (from != 0) request.from = Utc(from);
        if (to != 0) request.to = Utc(to);
        request.context = reinterpret_cast<uint64_t>(&walk);
        request.callback = &OnProcessVersion;
        EXPECT_EQ(velk::kSuccess, Call(velk::kFnEnumProcessVersions, &request, nullptr));
        return walk;
    }
    // 0x23600001 as the walk scripts it (by default choosing the copy that holds kFirst).
    uint32_t RestoreFile(Walk& walk, uint32_t* reboot, velk::ChooseVersionFn choose = &OnChoice) {
        if (walk.answers.empty() && walk.wanted.empty()) walk.wanted = kFirst;
        velk::RestoreFileRequest request{&walk, choose, m_plugin.operator->(), u"Sample.Virus", m_path.c_str(), 7, 3, 0};
        *reboot = 0xBAD;
        return Call(velk::kFnRestoreFile, &request, reboot);
    }
    std::string ReportLog() const {
        return platform::ToUtf8(ReadUtf16File(m_plugin->Folder() / "Log" / "Report.log"));
    }
    // The value of one label in the last summary of Report.log.
    std::string Summary(const std::string& label) const {
        const std::string log = ReportLog();
        const size_t at = log.rfind(label + std::string(18 - label.size(), ' ') + ": ");
        return at == std::string::npos ? "(none)" : log.substr(at + 20, log.find('\n', at) - at - 20);
    }
    std::string PathUtf8() const { return platform::ToUtf8(m_path); }
    // The temporary copies the engine still holds: none once a walk or restore has returned.
    size_t CopiesLeft() const {
        const fs::path copies = m_plugin->Folder() / "Data" / "copies";
        return fs::exists(copies) ? static_cast<size_t>(std::distance(fs::directory_iterator(copies), {})) : 0;
    }

    static int32_t OnCopy(uint64_t context, const char16_t* copy, uint64_t, uint32_t* action) {
        return reinterpret_cast<Walk*>(context)->Show({0, 0, ReadFileBytes(fs::path(copy)), {}, {}}, action);
    }
    static int32_t OnInfo(velk::FileVersionInfo* info, uint32_t* action) {
        return reinterpret_cast<Walk*>(info->context)
            ->Show({info->versionId, info->time, ReadFileBytes(fs::path(info->path)), {}, info->image}, action);
    }
    static int32_t OnChoice(void* context, const char16_t* copy, void*, uint32_t* decision) {
        return static_cast<Walk*>(context)->Show({0, 0, ReadFileBytes(fs::path(copy)), {}, {}}, decision);
    }
    // A choice that takes the feedback service away first, as a host may at any moment.
    static int32_t OnChoiceLosingFeedback(void* context, const char16_t* copy, void* harness, uint32_t* decision) {
        static_cast<PluginHarness*>(harness)->Host().RemoveInterface(velk::kFeedbackModule, velk::kFeedbackInterface);
        return OnChoice(context, copy, nullptr, decision);
    }
    static int32_t OnProcessVersion(velk::ProcessVersionInfo* info, velk::VersionAction* action) {
        auto* walk = reinterpret_cast<Walk*>(info->context);
        action->resultCallback = &OnActionResult;
        action->resultContext = info->context;
        return walk->Show({info->versionId, info->time, {}, info->path, info->image}, &action->kind);
    }
    static void OnActionResult(const velk::VersionActionResult* result, uint64_t) {
        auto* walk = reinterpret_cast<Walk*>(result->resultContext);
        walk->results.push_back(*result);
        walk->resultPaths.emplace_back(result->path != nullptr ? result->path : u"");
    }

    std::u16string m_path;
    std::optional<PluginHarness> m_plugin;
    std::vector<std::string> m_feedback;
};

// Versions held in memory and, after a flush, the editions made of them: every walk shows
// both contents newest first, with the writer's image; editions carry falling ids, and the
// bounds of a process walk are inclusive, down to the second an edition was made.
TEST_F(ZefRestoreModuleTest, EveryWalkShowsTheVersionsNewestFirstWithinItsBounds) {
    for (const bool flushed : {false, true}) {
        SCOPED_TRACE(flushed ? "editions" : "memory versions");
        const int64_t before = platform::UnixTimeNow();
        if (!flushed) History(false);
        else { ASSERT_EQ(velk::kSuccess, Call(velk::kFnFlushEvents, nullptr, nullptr)); }
        const int64_t after = platform::UnixTimeNow();
        const std::vector<Seen> copies = CopyWalk(), infos = InfoWalk();
        const Walk walk = WalkProcess(0, 0);
        ASSERT_EQ(std::make_tuple(size_t{2}, size_t{2}, size_t{2}), std::make_tuple(copies.size(), infos.size(), walk.seen.size()));
        for (size_t i = 0; i < 2; ++i) {
            const std::string& bytes = i == 0 ? kSecond : kFirst;
            EXPECT_EQ(std::make_tuple(bytes, bytes, infos[i].versionId, m_path, std::u16string(kWriterImage), std::u16string(kWriterImage)),
                      std::make_tuple(copies[i].bytes, infos[i].bytes, walk.seen[i].versionId, walk.seen[i].path, walk.seen[i].image, infos[i].image)) << i;
            if (!flushed) { EXPECT_TRUE(infos[i].versionId == 0 && infos[i].time >= before && infos[i].time <= after) << i; }
        }
        if (flushed) { EXPECT_TRUE(infos[0].versionId > infos[1].versionId && infos[1].versionId != 0); }
        EXPECT_EQ(0u, CopiesLeft());
    }
    EXPECT_EQ(kCurrent, ReadFileBytes(fs::path(m_path)));  // walking restores nothing

    const std::vector<Seen> infos = InfoWalk();
    const int64_t newest = infos[0].time, oldest = infos[1].time;
    const struct {
        const char* name;
        int64_t from, to;
        size_t found;
    } cases[] = {
        {"exactly the editions' seconds", oldest, newest, 2}, {"the newest second alone", newest, newest, newest == oldest ? 2u : 1u},
        {"up to the second before", oldest - 100, oldest - 1, 0}, {"from the second after", newest + 1, newest + 100, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.found, WalkProcess(c.from, c.to).seen.size()) << c.name;
}

// The callers' decisions on real versions: a walk or restore stops where its caller says, a
// copies walk purges a version in memory on decision 2 where the information walk keeps it,
// both delete a chosen edition, a restore declined throughout is "no valid backup" with every
// version counted as skipped; no copy is left behind and the file is untouched.
TEST_F(ZefRestoreModuleTest, DecisionsStopPurgeDeleteOrDecline) {
    const uint32_t kCopies = velk::kFnEnumFileVersions, kInfo = velk::kFnEnumFileVersionInfo, kRestore = 0;
    const struct {
        const char* why;
        bool flushed;
        uint32_t function;
        std::vector<std::pair<uint32_t, int32_t>> answers;
        size_t shown, left;     // versions shown, and found by a walk afterwards
        const char* report;     // restores: ErrorCode|IndexFromNewToOld|SkippedEditions
    } cases[] = {
        {"a copies walk stopped at the first", false, kCopies, {{0, 0}}, 1, 2, nullptr},
        {"a copies walk purging the newest in memory", false, kCopies, {{2, 1}}, 2, 1, nullptr},
        {"an information walk never purges memory", false, kInfo, {{2, 1}, {2, 1}}, 2, 2, nullptr},
        {"a copies walk deleting the older edition", true, kCopies, {{0, 1}, {2, 1}}, 2, 1, nullptr},
        {"an information walk deleting an edition, then stopped", true, kInfo, {{2, 0}}, 1, 1, nullptr},
        {"a restore declined throughout, memory never deleted", false, kRestore, {{2, 1}, {0, 1}}, 2, 2,
         "VELK_ZEF_NO_VALID_BACKUP (E0360003)|2|2"},
        {"a restore stopped in memory", false, kRestore, {{0, 0}}, 1, 2, "VELK_ZEF_NO_VALID_BACKUP (E0360003)|1|1"},
        {"a restore stopped at the first edition", true, kRestore, {{0, 0}}, 1, 2,
         "VELK_ZEF_NO_VALID_BACKUP (E0360003)|1|1"},
        {"a restore deleting an edition and declining the other", true, kRestore, {{2, 1}, {0, 1}}, 2, 1,
         "VELK_ZEF_NO_VALID_BACKUP (E0360003)|2|2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TearDown();
        SetUp();
        History(c.flushed);
        Walk walk{c.answers, "", {}, {}, {}};
        if (c.function == kRestore) {
            uint32_t reboot = 0;
            EXPECT_EQ(0xE0360003u, RestoreFile(walk, &reboot));
            EXPECT_EQ(c.report, Summary("ErrorCode") + "|" + Summary("IndexFromNewToOld") + "|" + Summary("SkippedEditions"));
        } else {
            walk = FileWalk(c.function, walk);
        }
        EXPECT_EQ(c.shown, walk.seen.size());
        EXPECT_EQ(c.left, InfoWalk().size());
        EXPECT_EQ(0u, CopiesLeft());
        EXPECT_EQ(kCurrent, ReadFileBytes(fs::path(m_path)));
    }
}

// Each way of restoring brings the older content back byte for byte, with no reboot, and
// keeps the edition it restored from; its summary is in Report.log and its feedback is sent.
// A feedback service there at start and gone when the feedback is due, even gone during the
// restore, changes nothing of it: the service is asked for and refused, nothing is sent and
// nothing is logged.
TEST_F(ZefRestoreModuleTest, EachRestoreRouteBringsBackTheChosenBytes) {
    enum class Route { kFileFromMemory, kFileFromEditions, kEdition, kProcess };
    enum class Feedback { kKept, kGoneBefore, kGoneDuring };
    const struct {
        const char* name;
        Route route;
        const char* index;  // IndexFromNewToOld in Report.log; null: no report
        Feedback feedback;
    } cases[] = {
        {"by file, from memory", Route::kFileFromMemory, "2", Feedback::kKept},
        {"by file, from the editions, the feedback service gone during the restore", Route::kFileFromEditions, "2",
         Feedback::kGoneDuring},
        {"by edition, the feedback service gone before", Route::kEdition, "0", Feedback::kGoneBefore},
        {"by process", Route::kProcess, nullptr, Feedback::kKept},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        History(c.route != Route::kFileFromMemory);
        const std::vector<Seen> before = InfoWalk();
        ASSERT_EQ(2u, before.size());
        if (c.feedback == Feedback::kGoneBefore) {
            m_plugin->Host().RemoveInterface(velk::kFeedbackModule, velk::kFeedbackInterface);
        }
        m_plugin->Host().ClearLog();
        StartLogCapture();
        uint32_t reboot = 0xBAD;
        Walk choice;
        switch (c.route) {
            case Route::kFileFromMemory:
            case Route::kFileFromEditions:
                EXPECT_EQ(velk::kSuccess, RestoreFile(choice, &reboot,
                                                      c.feedback == Feedback::kGoneDuring ? &OnChoiceLosingFeedback : &OnChoice));
                break;
            case Route::kEdition: {
                velk::EditionRestoreRequest request{u"Sample.Virus", m_path.c_str(), 7, 3, 0, before[1].versionId};
                EXPECT_EQ(velk::kSuccess, Call(velk::kFnRestoreEdition, &request, &reboot));
                break;
            }
            case Route::kProcess: {
                const Walk walk = WalkProcess(0, 0, Walk{{{0, 1}, {velk::kDecisionRestore, 1}}, "", {}, {}, {}});
                ASSERT_EQ(1u, walk.results.size());
                EXPECT_EQ(velk::kSuccess, walk.results[0].resultCode);
                EXPECT_EQ(before[1].versionId, walk.results[0].versionId);
                EXPECT_EQ(m_path, walk.resultPaths[0]);
                reboot = walk.results[0].rebootFlag;
                break;
            }
        }
        EXPECT_EQ(0u, reboot);  // nothing holds the file open
        EXPECT_EQ(kFirst, ReadFileBytes(fs::path(m_path)));
        EXPECT_EQ(0u, CopiesLeft());
        for (const CapturedLine& line : CapturedLines()) EXPECT_NE("ZefEngineWrapper", line.source) << line;
        const std::vector<Seen> after = InfoWalk();
        ASSERT_EQ(2u, after.size());
        EXPECT_EQ(before[1].versionId, after[1].versionId);
        EXPECT_EQ(kFirst, after[1].bytes);

        const std::string report = ReportLog();
        const std::vector<std::string> log = m_plugin->Host().Log();
        const bool gone = c.feedback != Feedback::kKept;
        EXPECT_EQ(gone, std::count(log.begin(), log.end(), "query 10/101 refused") == 1);
        if (c.index == nullptr) {
            EXPECT_EQ(std::string::npos, report.find("[Summary]"));
            EXPECT_TRUE(m_feedback.empty());
            continue;
        }
        const std::pair<std::string, std::string> fields[] = {
            {"FileName", PathUtf8()}, {"VirusName", "Sample.Virus"}, {"VirusType", "7"}, {"FileType", "3"},
            {"Result", "Success"}, {"ErrorCode", "VELK_SUCCESS (20FF0000)"}, {"Reboot", "Need not"},
            {"IndexFromNewToOld", c.index}};
        for (const auto& [label, value] : fields) EXPECT_EQ(value, Summary(label)) << label;
        // The engine describes the edition restored from, and only that.
        EXPECT_EQ(c.route == Route::kFileFromEditions, Summary("TimeStamp") != "NULL (0)") << Summary("TimeStamp");
        ASSERT_EQ(gone ? 0u : 1u, m_feedback.size());
        if (!gone) {
            EXPECT_NE(std::string::npos, m_feedback[0].find(PathUtf8()));
            EXPECT_NE(std::string::npos, m_feedback[0].find("Sample.Virus"));
        }
    }
}

// Restoring a file that has no version at all fails with its own code, in the report too; a
// file event that names only a path, no process, is then enough to take a version.
TEST_F(ZefRestoreModuleTest, ARestoreWithoutVersionsIsNoBackupAndAnEventWithOnlyAPathTakesOne) {
    Write(kFirst);
    uint32_t reboot = 0;
    Walk choice;
    EXPECT_EQ(0xE0360002u, RestoreFile(choice, &reboot));
    EXPECT_EQ(0u, reboot);
    EXPECT_EQ(kFirst, ReadFileBytes(fs::path(m_path)));
    EXPECT_EQ("VELK_ZEF_NO_BACKUP (E0360002)|Failure", Summary("ErrorCode") + "|" + Summary("Result"));
    EXPECT_EQ(1u, m_feedback.size());

    Event(std::nullopt);
    Write(kCurrent);
    ASSERT_EQ(velk::kSuccess, Call(velk::kFnFlushValidEvents, nullptr, nullptr));
    const std::vector<Seen> infos = InfoWalk();
    ASSERT_EQ(1u, infos.size());
    EXPECT_EQ(kFirst, infos[0].bytes);
    EXPECT_NE(0u, infos[0].versionId);
    EXPECT_EQ(u"", infos[0].image);
}

}  // namespace
