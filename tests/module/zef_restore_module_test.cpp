// The plug-in driving the reference engine through the engine's exports: backups, listings and
// deletions as the demo makes them, the database kept across a restart of both modules, and
// the walks and restores of the versions taken on file events that the plug-in forwards (the
// copies and bytes that come back, the order and time bounds a user relies on, Report.log as
// the plug-in writes it and the restore feedback the host receives).
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
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
#include "tests/fakes/event_messages.h"
#include "tests/fakes/test_folder.h"
#include "tests/module/plugin_with_engine.h"

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

// A listing's callback: the file and its edition count.
uint32_t CollectFile(uint64_t context, const void* backupFile, uint64_t, uint32_t) {
    const auto* info = static_cast<const zef::BackupFileInfo*>(backupFile);
    reinterpret_cast<std::vector<std::pair<std::u16string, uint32_t>>*>(context)->push_back(
        {info->filePath, info->editionCount});
    return 1;
}

platform::SystemTime Utc(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    const std::tm* utc = std::gmtime(&t);
    return platform::SystemTime{static_cast<uint16_t>(utc->tm_year + 1900),
                                static_cast<uint16_t>(utc->tm_mon + 1),
                                static_cast<uint16_t>(utc->tm_wday), static_cast<uint16_t>(utc->tm_mday),
                                static_cast<uint16_t>(utc->tm_hour), static_cast<uint16_t>(utc->tm_min),
                                static_cast<uint16_t>(utc->tm_sec), 0};
}

class ZefRestoreModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = MakeTestFolder("zef-restore");
        fs::create_directories(m_folder / "files");
        m_plugin.emplace(m_folder, [this](ScriptedHost& host) {
            AnswerSettings(host, {{kFeedbackSwitch, 1}});
            host.AddInterface(velk::kFeedbackModule, velk::kFeedbackInterface,
                              [this](uint32_t fn, void* in, void*) {
                if (fn != velk::kFnPostRestoreFeedback) return velk::kNotDone;
                const auto* request = static_cast<const velk::RestoreFeedbackRequest*>(in);
                m_feedback.emplace_back(reinterpret_cast<const char*>(request->bytes),
                                        static_cast<size_t>(request->length));
                return velk::kSuccess;
            });
            host.AddInterface(velk::kSystemInfoModule, velk::kSystemInfoInterface,
                              [](uint32_t fn, void* in, void* out) {
                if (fn != velk::kFnGetImagePath) return velk::kNotDone;
                if (static_cast<const velk::ImagePathRequest*>(in)->processId != kWriter)
                    return velk::kNotDone;
                auto* reply = static_cast<velk::ImagePathReply*>(out);
                std::u16string(kWriterImage).copy(reply->buffer, reply->capacity - 1);
                return velk::kImagePathFound;
            });
        });
        ASSERT_TRUE(m_plugin->Running());
        m_path = (m_folder / "files" / "doc.txt").u16string();
    }
    void TearDown() override {
        m_plugin.reset();
        fs::remove_all(m_folder);
    }

    void Write(const std::string& bytes) { WriteFileBytes(fs::path(m_path), bytes); }
    // A file event as the host sends it, forwarded by the plug-in.
    void Event(std::optional<uint32_t> processId) {
        EventMessageSpec spec = FileEvent(m_path, 0);
        spec.processId = processId;
        std::vector<uint8_t> data = EventMessageData(spec);
        velk::EventRecord record{};
        record.eventId = velk::kEventIntegration;
        record.eventData = data.data();
        ASSERT_EQ(velk::kSuccess, m_plugin->Call(velk::kFnForwardEvent, &record, nullptr));
    }
    // Two earlier contents kept by the writer's events, the file now holding a third.
    void History(bool flushed) {
        for (const std::string& bytes : {kFirst, kSecond}) Write(bytes), Event(kWriter);
        Write(kCurrent);
        if (flushed) { ASSERT_EQ(velk::kSuccess, m_plugin->Call(velk::kFnFlushEvents, nullptr, nullptr)); }
    }

    // A file walk with copies (0x23600003) or with what is known of each version (0x23600007).
    std::vector<Seen> FileWalk(uint32_t function, void (*callback)()) {
        std::vector<Seen> seen;
        velk::FileVersionRequest request{m_path.c_str(), reinterpret_cast<uint64_t>(&seen), callback, 0};
        EXPECT_EQ(velk::kSuccess, m_plugin->Call(function, &request, nullptr));
        return seen;
    }
    std::vector<Seen> CopyWalk() { return FileWalk(velk::kFnEnumFileVersions, reinterpret_cast<void (*)()>(&OnCopy)); }
    std::vector<Seen> InfoWalk() { return FileWalk(velk::kFnEnumFileVersionInfo, reinterpret_cast<void (*)()>(&OnInfo)); }
    // 0x2360000D; restores the version at restoreAt (counted from the newest) when given.
    struct ProcessWalk {
        std::vector<Seen> seen;
        std::optional<size_t> restoreAt;
        std::vector<velk::VersionActionResult> results;
        // The result's path copied while the callback runs: the plug-in's text is its own
        // and gone once the callback returns.
        std::vector<std::u16string> resultPaths;
    };
    ProcessWalk WalkProcess(int64_t from, int64_t to, std::optional<size_t> restoreAt = {}) {
        ProcessWalk walk;
        walk.restoreAt = restoreAt;
        velk::ProcessVersionRequest request{};
        request.processId = kWriter;
        if (from != 0) request.from = Utc(from);
        if (to != 0) request.to = Utc(to);
        request.context = reinterpret_cast<uint64_t>(&walk);
        request.callback = &OnProcessVersion;
        EXPECT_EQ(velk::kSuccess, m_plugin->Call(velk::kFnEnumProcessVersions, &request, nullptr));
        return walk;
    }
    // 0x23600001, choosing the version whose copy holds `wanted`.
    uint32_t RestoreFile(const std::string& wanted, uint32_t* reboot) {
        velk::RestoreFileRequest request{const_cast<std::string*>(&wanted), &ChooseBytes, nullptr,
                                         u"Sample.Virus", m_path.c_str(), 7, 3, 0};
        *reboot = 0xBAD;
        return m_plugin->Call(velk::kFnRestoreFile, &request, reboot);
    }
    std::string ReportLog() const {
        return platform::ToUtf8(ReadUtf16File(m_folder / "Log" / "Report.log"));
    }
    std::string PathUtf8() const { return platform::ToUtf8(m_path); }

    static int32_t OnCopy(uint64_t context, const char16_t* copy, uint64_t, uint32_t*) {
        reinterpret_cast<std::vector<Seen>*>(context)->push_back({0, 0, ReadFileBytes(fs::path(copy)), {}, {}});
        return 1;
    }
    static int32_t OnInfo(velk::FileVersionInfo* info, uint32_t*) {
        reinterpret_cast<std::vector<Seen>*>(info->context)
            ->push_back({info->versionId, info->time, ReadFileBytes(fs::path(info->path)), {}, info->image});
        return 1;
    }
    static int32_t OnProcessVersion(velk::ProcessVersionInfo* info, velk::VersionAction* action) {
        auto* walk = reinterpret_cast<ProcessWalk*>(info->context);
        if (walk->restoreAt == walk->seen.size()) {
            action->kind = velk::kDecisionRestore;
            action->resultCallback = &OnActionResult;
            action->resultContext = reinterpret_cast<uint64_t>(walk);
        }
        walk->seen.push_back({info->versionId, info->time, {}, info->path, info->image});
        return 1;
    }
    static void OnActionResult(const velk::VersionActionResult* result, uint64_t) {
        auto* walk = reinterpret_cast<ProcessWalk*>(result->resultContext);
        walk->results.push_back(*result);
        walk->resultPaths.emplace_back(result->path != nullptr ? result->path : u"");
    }
    static int32_t ChooseBytes(void* context, const char16_t* copy, void*, uint32_t* decision) {
        if (ReadFileBytes(fs::path(copy)) == *static_cast<const std::string*>(context))
            *decision = velk::kDecisionRestore;
        return 1;
    }

    fs::path m_folder;
    std::u16string m_path;
    std::optional<PluginWithEngine> m_plugin;
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
        else { ASSERT_EQ(velk::kSuccess, m_plugin->Call(velk::kFnFlushEvents, nullptr, nullptr)); }
        const int64_t after = platform::UnixTimeNow();
        const std::vector<Seen> copies = CopyWalk(), infos = InfoWalk();
        const ProcessWalk walk = WalkProcess(0, 0);
        ASSERT_EQ(std::make_tuple(size_t{2}, size_t{2}, size_t{2}), std::make_tuple(copies.size(), infos.size(), walk.seen.size()));
        for (size_t i = 0; i < 2; ++i) {
            const std::string& bytes = i == 0 ? kSecond : kFirst;
            EXPECT_EQ(std::make_tuple(bytes, bytes, infos[i].versionId, m_path, std::u16string(kWriterImage), std::u16string(kWriterImage)),
                      std::make_tuple(copies[i].bytes, infos[i].bytes, walk.seen[i].versionId, walk.seen[i].path, walk.seen[i].image, infos[i].image)) << i;
            if (!flushed) { EXPECT_TRUE(infos[i].versionId == 0 && infos[i].time >= before && infos[i].time <= after) << i; }
        }
        if (flushed) { EXPECT_TRUE(infos[0].versionId > infos[1].versionId && infos[1].versionId != 0); }
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

// Each way of restoring brings the older content back byte for byte, with no reboot, and
// keeps the edition it restored from.
TEST_F(ZefRestoreModuleTest, EachRestoreRouteBringsBackTheChosenBytes) {
    enum class Route { kFileFromMemory, kFileFromEditions, kEdition, kProcess };
    const struct {
        const char* name;
        Route route;
        const char* index;  // IndexFromNewToOld in Report.log; null: no report
    } cases[] = {
        {"by file, from memory", Route::kFileFromMemory, "2"},
        {"by file, from the editions", Route::kFileFromEditions, "2"},
        {"by edition", Route::kEdition, "0"},
        {"by process", Route::kProcess, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        m_feedback.clear();
        SetUp();
        History(c.route != Route::kFileFromMemory);
        const std::vector<Seen> before = InfoWalk();
        ASSERT_EQ(2u, before.size());
        uint32_t reboot = 0xBAD;
        switch (c.route) {
            case Route::kFileFromMemory:
            case Route::kFileFromEditions:
                EXPECT_EQ(velk::kSuccess, RestoreFile(kFirst, &reboot));
                break;
            case Route::kEdition: {
                velk::EditionRestoreRequest request{u"Sample.Virus", m_path.c_str(), 7, 3, 0,
                                                    before[1].versionId};
                EXPECT_EQ(velk::kSuccess, m_plugin->Call(velk::kFnRestoreEdition, &request, &reboot));
                break;
            }
            case Route::kProcess: {
                const ProcessWalk walk = WalkProcess(0, 0, 1);
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
        const std::vector<Seen> after = InfoWalk();
        ASSERT_EQ(2u, after.size());
        EXPECT_EQ(before[1].versionId, after[1].versionId);
        EXPECT_EQ(kFirst, after[1].bytes);

        const std::string report = ReportLog();
        if (c.index == nullptr) {
            EXPECT_EQ(std::string::npos, report.find("[Summary]"));
            EXPECT_TRUE(m_feedback.empty());
            continue;
        }
        for (const std::string& line :
             {"FileName          : " + PathUtf8(), std::string("VirusName         : Sample.Virus"),
              std::string("VirusType         : 7"), std::string("FileType          : 3"),
              std::string("Result            : Success"),
              std::string("ErrorCode         : VELK_SUCCESS (20FF0000)"),
              std::string("Reboot            : Need not"),
              std::string("IndexFromNewToOld : ") + c.index}) {
            EXPECT_NE(std::string::npos, report.find(line)) << line << "\n" << report;
        }
        ASSERT_EQ(1u, m_feedback.size());
        EXPECT_NE(std::string::npos, m_feedback[0].find(PathUtf8()));
        EXPECT_NE(std::string::npos, m_feedback[0].find("Sample.Virus"));
    }
}

// Restoring a file that has no version at all fails with its own code, in the report too; a
// file event that names only a path, no process, is then enough to take a version.
TEST_F(ZefRestoreModuleTest, ARestoreWithoutVersionsIsNoBackupAndAnEventWithOnlyAPathTakesOne) {
    Write(kFirst);
    uint32_t reboot = 0;
    EXPECT_EQ(0xE0360002u, RestoreFile(kSecond, &reboot));
    EXPECT_EQ(0u, reboot);
    EXPECT_EQ(kFirst, ReadFileBytes(fs::path(m_path)));
    const std::string report = ReportLog();
    EXPECT_NE(std::string::npos, report.find("ErrorCode         : VELK_ZEF_NO_BACKUP (E0360002)")) << report;
    EXPECT_NE(std::string::npos, report.find("Result            : Failure"));
    EXPECT_EQ(1u, m_feedback.size());

    Event(std::nullopt);
    Write(kCurrent);
    ASSERT_EQ(velk::kSuccess, m_plugin->Call(velk::kFnFlushValidEvents, nullptr, nullptr));
    const std::vector<Seen> infos = InfoWalk();
    ASSERT_EQ(1u, infos.size());
    EXPECT_EQ(kFirst, infos[0].bytes);
    EXPECT_NE(0u, infos[0].versionId);
    EXPECT_EQ(u"", infos[0].image);
}

// The demo's own calls: backups, listings (all and by time), deletions, the maximum file size,
// flushes and the process list; the database and the engine's log in the folders the plug-in
// gave it, kept across a restart of both modules.
TEST_F(ZefRestoreModuleTest, BackupsListingsAndDeletionsReachTheEngineAndOutliveARestart) {
    constexpr uint32_t kBackupFailed = 0xE0360006, kDeleteFailed = 0xE0360007;
    const auto backup = [&](const std::u16string& path) {
        velk::BackupFileRequest request{path.c_str()};
        return m_plugin->Call(velk::kFnBackupFile, &request, nullptr);
    };
    using Listing = std::vector<std::pair<std::u16string, uint32_t>>;
    const auto list = [&](uint16_t fromYear, uint16_t toYear) {
        Listing listed;
        if (fromYear == 0) {
            velk::BackupFileListRequest request{reinterpret_cast<uint64_t>(&listed), CollectFile, 0};
            EXPECT_EQ(velk::kSuccess, m_plugin->Call(velk::kFnListBackupFiles, &request, nullptr));
        } else {
            velk::BackupFileRangeRequest request{{fromYear, 1, 0, 1, 0, 0, 0, 0}, {toYear, 1, 0, 1, 0, 0, 0, 0},
                                                 reinterpret_cast<uint64_t>(&listed), CollectFile, 0};
            EXPECT_EQ(velk::kSuccess, m_plugin->Call(velk::kFnListBackupFilesInRange, &request, nullptr));
        }
        return listed;
    };
    const std::u16string notes = (m_folder / "files" / "notes.txt").u16string();
    Write(kFirst);
    WriteFileBytes(fs::path(notes), "meeting notes");
    EXPECT_EQ(velk::kSuccess, backup(m_path));
    EXPECT_EQ(velk::kSuccess, backup(notes));
    Write(kSecond);
    EXPECT_EQ(velk::kSuccess, backup(m_path));
    EXPECT_EQ(kBackupFailed, backup((m_folder / "files" / "missing").u16string()));
    EXPECT_EQ((Listing{{m_path, 2}, {notes, 1}}), list(0, 0));
    EXPECT_EQ(2u, list(2000, 2100).size());
    EXPECT_EQ(0u, list(1990, 1999).size());
    // Editions are numbered from 1 in a new database: the second is the notes'.
    velk::EditionDeleteRequest remove{2};
    EXPECT_EQ(velk::kSuccess, m_plugin->Call(velk::kFnDeleteEdition, &remove, nullptr));
    EXPECT_EQ(kDeleteFailed, m_plugin->Call(velk::kFnDeleteEdition, &remove, nullptr));

    uint32_t maxSize = 0;
    EXPECT_EQ(velk::kSuccess, m_plugin->Call(velk::kFnMaxFileSize, nullptr, &maxSize));
    EXPECT_EQ(256u << 20, maxSize);
    velk::PidListUpdateRequest ended{2, 1234}, unknown{9, 1234};
    EXPECT_EQ(velk::kSuccess, m_plugin->Call(velk::kFnUpdatePidList, &ended, nullptr));
    EXPECT_EQ(kBackupFailed, m_plugin->Call(velk::kFnUpdatePidList, &unknown, nullptr));
    EXPECT_TRUE(fs::exists(m_folder / "Data" / "editions.log"));
    EXPECT_TRUE(fs::exists(m_folder / "Log" / "ZefEngine.log"));

    m_plugin.reset();
    m_plugin.emplace(m_folder);
    ASSERT_TRUE(m_plugin->Running());
    EXPECT_EQ((Listing{{m_path, 2}}), list(0, 0));
}

}  // namespace
