// The reference engine in-process, through its own calls (the module tests go through the
// plug-in).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "reference/zef/zef_engine.h"
#include "tests/fakes/event_messages.h"
#include "tests/fakes/test_folder.h"
#include "tests/fakes/zef_settings.h"

namespace zef_test {
namespace {

namespace fs = std::filesystem;

// An engine configured on a test folder: database, log and pattern folders of its own, and a
// source folder for the files it versions.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = MakeTestFolder("zef-engine");
        fs::create_directories(m_root / "files");
        m_engine = std::make_unique<zef::Engine>();
        Configure(*m_engine);
        ASSERT_EQ(0u, m_engine->Initialize());
        ASSERT_EQ(0u, m_engine->Start());
    }
    void TearDown() override {
        m_engine.reset();
        fs::remove_all(m_root);
    }
    void Configure(zef::Engine& engine) {
        SetText(engine, zef::kSettingDbPath, (m_root / "db").u16string());
        SetText(engine, zef::kSettingDebugLogPath, (m_root / "log").u16string());
        SetText(engine, zef::kSettingPatternPath, (m_root / "pattern").u16string());
    }
    std::u16string File(const std::string& name, const std::string& bytes) {
        WriteFileBytes(m_root / "files" / name, bytes);
        return (m_root / "files" / name).u16string();
    }
    std::u16string Path(const std::string& name) { return (m_root / "files" / name).u16string(); }
    // Whether the engine's log file holds text.
    bool Logged(const std::string& text) {
        return ReadFileBytes(m_root / "log" / "ZefEngine.log").find(text) != std::string::npos;
    }
    // The newest edition of path (editionId 0 when none).
    zef::EditionFindData Newest(const std::u16string& path) {
        zef::EditionFindData data{};
        m_engine->FindFileEditionClose(m_engine->FindFirstFileEdition(path.c_str(), &data));
        return data;
    }
    // The bytes of an edition's copy, the copy freed again ("<none>" when none is given).
    std::string CopyOf(uint32_t editionId) {
        char16_t copy[300] = {};
        if (m_engine->GetFileEdition(editionId, 261, copy) != 1) return "<none>";
        const std::string bytes = ReadFileBytes(fs::path(std::u16string(copy)));
        EXPECT_EQ(1u, m_engine->FreeFileEdition(copy));
        EXPECT_FALSE(fs::exists(fs::path(std::u16string(copy))));
        return bytes;
    }

    fs::path m_root;
    std::unique_ptr<zef::Engine> m_engine;
};

using zef::VersionResult;

TEST_F(EngineTest, VersionsAreTakenOrRefusedWithAReason) {
    SetNumber(*m_engine, zef::kSettingPerProcessBackupQuota, 2);
    SetNumber(*m_engine, zef::kSettingMaxBackupFileSizePidMode, 1000);
    const struct {
        const char* name;
        std::u16string path;  // empty: a null path
        uint32_t processId;
        VersionResult expected;
    } cases[] = {
        {"first", File("a", "alpha"), 1, VersionResult::kTaken},
        {"same content again", Path("a"), 2, VersionResult::kAlreadyKept},
        {"second file", File("b", "beta"), 1, VersionResult::kTaken},
        {"quota of process 1 used", File("c", "gamma"), 1, VersionResult::kQuotaUsed},
        {"another process", Path("c"), 3, VersionResult::kTaken},
        {"missing file", Path("none"), 3, VersionResult::kFileMissing},
        {"too large", File("big", std::string(1001, 'b')), 3, VersionResult::kTooLarge},
        {"null path", u"", 3, VersionResult::kBadPath},
        {"260 units", std::u16string(260, u'a'), 3, VersionResult::kBadPath},
        {"lone surrogate", {u'/', 0xD800, u'x'}, 3, VersionResult::kBadPath},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, m_engine->TakeVersion(c.path.empty() ? nullptr : c.path.c_str(), c.processId))
            << c.name;
    EXPECT_EQ(3u, m_engine->MemoryVersionCount());
    // A file event takes its version through the same checks (the module tests send whole
    // ones); a broken message is refused, not read.
    std::vector<uint8_t> event = EventMessageData(FileEvent(Path("b"), 0x20));
    PutWord(event, 8, 0xFFFFFFF0u);
    EXPECT_EQ(1u, m_engine->NotifyEvent(event.data()));
    EXPECT_TRUE(Logged("not a well-formed event message"));
    EXPECT_EQ(1u, m_engine->NotifyEvent(nullptr));
    SetNumber(*m_engine, zef::kSettingWorkMode, 0);
    EXPECT_EQ(VersionResult::kIgnoredByWorkMode, m_engine->TakeVersion(File("d", "delta").c_str(), 5));
    m_engine->Stop();
    EXPECT_EQ(VersionResult::kNotRunning, m_engine->TakeVersion(Path("d").c_str(), 5));
    for (const char* line : {"not well-formed UTF-16", "longer than 259 units", "Versions are taken as "}) EXPECT_TRUE(Logged(line)) << line;
}

// One file's life, each step checking what only the engine itself shows (the module tests walk
// and restore the same versions through the plug-in): a memory version purged, searches with
// bad handles, a flush that keeps only what changed under the version's unique id, copies freed
// only when they are the engine's own, a restore keeping the source's mode, an unchanged backup
// making no edition, the report completed from an edition, and a deleted edition gone.
TEST_F(EngineTest, AFileGoesFromVersionsToEditionsCopiesRestoresAndReports) {
    const std::u16string path = File("doc", "old content"), untouched = File("untouched", "same");
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(fs::path(path), mode);  // the staged copy is the service's: not its mode
    for (const uint32_t pid : {9u, 10u}) ASSERT_EQ(VersionResult::kTaken, m_engine->TakeVersion(pid == 9 ? path.c_str() : untouched.c_str(), pid));
    File("doc", "purged");
    ASSERT_EQ(VersionResult::kTaken, m_engine->TakeVersion(path.c_str(), 9));
    zef::FindHandle find = m_engine->MemFindFirstFile(path.c_str());
    char16_t small[4] = {};
    EXPECT_EQ(0u, m_engine->MemGetFilePath(find, 4, small));  // a text is not cut to fit
    EXPECT_EQ(1u, m_engine->MemPurge(find));
    EXPECT_EQ(0u, m_engine->MemPurge(find));
    m_engine->MemFindClose(find);
    EXPECT_EQ(0u, m_engine->MemFindNext(find));  // closed
    EXPECT_EQ(0u, m_engine->MemGetTime(reinterpret_cast<zef::FindHandle>(0x1234)));  // made up
    find = m_engine->MemFindFirstFile(path.c_str());
    const uint32_t uniqueId = m_engine->MemGetId(find);
    m_engine->MemFindClose(find);
    File("doc", "new content, written after the version");

    EXPECT_EQ(0u, m_engine->FlushValidEvents());
    EXPECT_EQ(std::make_tuple(size_t{0}, size_t{0}, 0u), std::make_tuple(m_engine->MemoryVersionCount(), m_engine->OpenSearches(), Newest(untouched).editionId));
    zef::EditionFindData data = Newest(path);
    EXPECT_EQ(static_cast<int32_t>(uniqueId), m_engine->GetBackupFileUniqID(path.c_str(), data.keyArea));
    EXPECT_EQ(-1, m_engine->GetBackupFileUniqID(untouched.c_str(), data.keyArea));
    EXPECT_EQ("old content", CopyOf(data.editionId));
    EXPECT_EQ(0u, m_engine->FreeFileEdition(untouched.c_str()));  // only the engine's own copies
    EXPECT_TRUE(fs::exists(fs::path(untouched)));
    fs::remove(fs::path(path));
    uint32_t reboot = 7;
    ASSERT_EQ(1u, m_engine->RestoreByEdition(path.c_str(), data.editionId, u"Eicar", 0, &reboot));
    EXPECT_EQ(std::make_pair(0u, std::string("old content")), std::make_pair(reboot, ReadFileBytes(fs::path(path))));
#if !defined(_WIN32)
    EXPECT_EQ(mode, fs::status(fs::path(path)).permissions() & fs::perms::all);
#endif
    zef::RestoreReport report{};
    path.copy(report.fileName, path.size());
    EXPECT_EQ(1u, m_engine->FbCompleteAdvanceData(&data, &report));
    EXPECT_EQ(std::make_tuple(1u, 11u, data.time, uint32_t{zef::kOperationBeforeWrite}), std::make_tuple(report.validEditions, report.size, report.timeStamp, report.operation));
    const zef::Digest digest = zef::DigestOf("old content", 11);
    EXPECT_EQ(0, std::memcmp(digest.data(), report.editionValue, 20));
    EXPECT_EQ(zef::DigestText(digest), std::u16string(report.signature));
    EXPECT_EQ(1u, m_engine->DeleteEditionByEditionID(data.editionId));
    EXPECT_EQ(0u, m_engine->DeleteEditionByEditionID(data.editionId));
    EXPECT_EQ(0u, m_engine->RestoreByEdition(path.c_str(), data.editionId, nullptr, 0, &reboot));
    ASSERT_EQ(0u, m_engine->BackupFile(path.c_str()));
    data = Newest(path);
    ASSERT_EQ(0u, m_engine->BackupFile(path.c_str()));  // unchanged: no new edition
    EXPECT_EQ(data.editionId, Newest(path).editionId);
    zef::BackupFileFindData listing{};
    zef::FindHandle files = m_engine->FindFirstBackupFile(nullptr, nullptr, &listing);
    ASSERT_NE(nullptr, files);
    EXPECT_EQ(std::make_tuple(path, 1u, 11u), std::make_tuple(std::u16string(listing.info.filePath), listing.info.editionCount, listing.info.newestSizeLow));
    EXPECT_EQ(0u, m_engine->FindNextBackupFile(files, &listing));
    m_engine->FindBackupFileClose(files);

    // A process that ends has its versions kept; they are found by its id.
    ASSERT_EQ(VersionResult::kTaken, m_engine->TakeVersion(untouched.c_str(), 5));
    EXPECT_EQ(0u, m_engine->UpdateObjPidList(2, 5));
    EXPECT_NE(0u, m_engine->UpdateObjPidList(7, 5));
    EXPECT_EQ(nullptr, m_engine->FindFirstFileEditionByPid(5, 1, nullptr, nullptr, nullptr));
    zef::EditionFindDataByPid byPid{};
    m_engine->FindFileEditionClose(m_engine->FindFirstFileEditionByPid(5, 1, nullptr, nullptr, &byPid));
    EXPECT_EQ(untouched, std::u16string(byPid.filePath));
}

TEST_F(EngineTest, RestoresReplaceWholeRefuseWhatTheyCannotDoAndAreTheNextBootResults) {
    const std::u16string target = File("target", "current");
    const std::u16string copy = File("copy", "restored content");
    // A read-only target (on Windows the attribute, which forbids replacing the file) is
    // replaced and stays read-only.
    fs::permissions(fs::path(target), fs::perms::owner_read | fs::perms::group_read);
    uint32_t reboot = 5;
    ASSERT_EQ(1u, m_engine->RestoreByCopy(target.c_str(), copy.c_str(), nullptr, 0, &reboot));
    EXPECT_EQ(std::make_pair(0u, std::string("restored content")),
              std::make_pair(reboot, ReadFileBytes(fs::path(target))));
    EXPECT_EQ(fs::perms::none, fs::status(fs::path(target)).permissions() & fs::perms::owner_write);
#if !defined(_WIN32)
    EXPECT_EQ(fs::perms::owner_read | fs::perms::group_read, fs::status(fs::path(target)).permissions() & fs::perms::all);
#endif
    fs::permissions(fs::path(target), fs::perms::owner_write, fs::perm_options::add);
    const struct {
        const char* name;
        std::u16string target, copy;
        const char* logged;
    } cases[] = {
        {"folder gone", (m_root / "gone" / "file").u16string(), copy, "folder is missing"},
        {"copy gone", target, Path("nothing"), "cannot be read"},
        {"target path too long", std::u16string(260, u'x'), copy, "longer than 259"},
    };
    for (const auto& c : cases) {
        reboot = 5;
        EXPECT_EQ(0u, m_engine->RestoreByCopy(c.target.c_str(), c.copy.c_str(), nullptr, 0, &reboot)) << c.name;
        EXPECT_EQ(0u, reboot) << c.name;
        EXPECT_TRUE(Logged(c.logged)) << c.name;
    }
    EXPECT_EQ("restored content", ReadFileBytes(fs::path(target)));
    // Nothing is left beside the target.
    EXPECT_EQ(2, std::distance(fs::directory_iterator(m_root / "files"), fs::directory_iterator()));

    // The boot results of the next start are what this run restored (a path too long is no
    // restore), kept until deleted.
    const auto restart = [](zef::Engine& engine) { engine.Stop(); return engine.Start(); };
    EXPECT_EQ(0u, m_engine->RmAllocDbeResults());
    ASSERT_EQ(0u, restart(*m_engine));
    ASSERT_EQ(3u, m_engine->RmAllocDbeResults());
    uint32_t kind = 0, code = 9, detail = 9;
    uint64_t value = 9, fileTime = 0;
    const char16_t* name = nullptr;
    ASSERT_EQ(1u, m_engine->RmFetchDbeResult(0, &kind, &code, &value, &detail, &name, &fileTime));
    EXPECT_EQ(std::make_pair(0u, target), std::make_pair(code, std::u16string(name)));
    EXPECT_GT(fileTime, 116444736000000000ull);
    ASSERT_EQ(1u, m_engine->RmFetchDbeResult(1, &kind, &code, &value, &detail, &name, &fileTime));
    EXPECT_EQ(static_cast<uint32_t>(zef::kRestoreFolderMissing), code);
    EXPECT_EQ(0u, m_engine->RmFetchDbeResult(3, &kind, &code, &value, &detail, &name, &fileTime));
    m_engine->RmFreeDbeResults();
    ASSERT_EQ(0u, restart(*m_engine));  // not deleted: still there; deleted: gone
    EXPECT_EQ(3u, m_engine->RmAllocDbeResults());
    m_engine->RmFreeDbeResults();
    m_engine->RmDeleteDbeResults();
    ASSERT_EQ(0u, restart(*m_engine));
    EXPECT_EQ(0u, m_engine->RmAllocDbeResults());
}

// A second engine on the same database is refused, and a start says why it fails.
TEST_F(EngineTest, AStartSaysWhyItFails) {
    ASSERT_EQ(0u, m_engine->BackupFile(File("kept", "bytes").c_str()));
    zef::Engine second;
    Configure(second);
    EXPECT_EQ(zef::kStartDatabaseInUse, second.Start());
    EXPECT_TRUE(Logged("another instance is using the database"));
    m_engine->Stop();
    EXPECT_EQ(0u, second.Start());
    second.Stop();
    fs::remove(m_root / "db" / "editions.log");
    EXPECT_EQ(zef::kStartIndexMissing, second.Start());
    WriteFileBytes(m_root / "db" / "editions.log", "not a log");
    EXPECT_EQ(zef::kStartIndexDamaged, second.Start());
    zef::Engine unset;
    EXPECT_EQ(zef::kStartFolderUnusable, unset.Start());
}

// A database folder of 230 units puts the store's content files past 259 units (the limit of
// plain Windows paths): editions are still kept, copied and restored.
TEST_F(EngineTest, ADeepDatabaseFolderKeepsAndRestoresEditions) {
    fs::path db = m_root / "deep";
    db /= std::string(230 - db.u16string().size() - 1, 'd');
    ASSERT_EQ(230u, db.u16string().size());
    m_engine->Stop();
    ASSERT_EQ(0u, SetText(*m_engine, zef::kSettingDbPath, db.u16string()));
    fs::create_directories(db / "copies");
    WriteFileBytes(db / "copies" / "left-by-a-crash", "a copy no caller holds any more");
    ASSERT_EQ(0u, m_engine->Start());
    EXPECT_TRUE(fs::is_empty(db / "copies")) << "the start sweeps the copies a stopped run left";
    const std::u16string path = File("deep.txt", "kept in a deep database");
    ASSERT_EQ(0u, m_engine->BackupFile(path.c_str()));
    File("deep.txt", "changed");
    const zef::EditionFindData edition = Newest(path);
    EXPECT_EQ("kept in a deep database", CopyOf(edition.editionId));
    ASSERT_EQ(1u, m_engine->RestoreByEdition(path.c_str(), edition.editionId, nullptr, 0, nullptr));
    EXPECT_EQ("kept in a deep database", ReadFileBytes(fs::path(path)));
    size_t longest = 0;
    for (const auto& entry : fs::directory_iterator(db / "content")) longest = std::max(longest, entry.path().u16string().size());
    EXPECT_GT(longest, 259u);
    m_engine->Stop();
#if defined(_WIN32)
    // The test's own removal needs the long form as well.
    std::error_code ignored;
    fs::remove_all(fs::path(u"\\\\?\\" + db.u16string()), ignored);
#endif
}

TEST_F(EngineTest, ThePatternIsValidCorruptOrDisablingAndAnswersPolicies) {
    const fs::path folder = m_root / "pattern";
    const std::u16string patternFolder = folder.u16string();
    fs::create_directories(folder);
    zef::Pattern pattern;
    pattern.maxFileSize = 4096;
    pattern.policies = {{1, 2, 1, 0, {u"first", u"sec\u00f6nd"}}, {2, 8, 4, 7, {}}};
    const std::string valid = zef::PatternText(pattern);
    pattern.disabled = true;
    std::string altered = valid;
    altered[altered.find("4096")] = '8';
    const struct {
        const char* name;
        std::string file;  // empty: no file
        uint32_t valid;    // IsPatternValid answers 0 when valid
        uint32_t disabled;
    } cases[] = {{"no pattern file", "", 0, 0}, {"valid", valid, 0, 0}, {"disabling", zef::PatternText(pattern), 0, 1},
                 {"altered", altered, 1, 0}, {"no seal", "ZEF-PATTERN 1\n", 1, 0}};
    for (const auto& c : cases) {
        fs::remove(folder / "zef.ptn");
        if (!c.file.empty()) WriteFileBytes(folder / "zef.ptn", c.file);
        EXPECT_EQ(c.valid, m_engine->IsPatternValid(patternFolder.c_str())) << c.name;
        EXPECT_EQ(c.disabled, m_engine->IsDisabledByPattern(patternFolder.c_str())) << c.name;
    }
    WriteFileBytes(folder / "zef.ptn", valid);
    m_engine->Stop();
    ASSERT_EQ(0u, m_engine->Start());
    EXPECT_EQ(4096u, m_engine->GetSupportFileMaxSize());
    SetNumber(*m_engine, zef::kSettingMaxBackupFileSize, 100);
    EXPECT_EQ(100u, m_engine->GetSupportFileMaxSize());

    zef::PatternPolicy policy{};
    ASSERT_EQ(0u, m_engine->QueryPtnPolicy(1, 2, &policy));
    ASSERT_EQ(std::make_pair(1u, 2u), std::make_pair(policy.present, policy.count));
    EXPECT_EQ(std::make_pair(std::u16string(u"first"), std::u16string(u"sec\u00f6nd")), std::make_pair(std::u16string(policy.texts[0]), std::u16string(policy.texts[1])));
    m_engine->FreePtnPolicy(&policy);
    EXPECT_EQ(nullptr, policy.texts);
    ASSERT_EQ(0u, m_engine->QueryPtnPolicy(2, 8, &policy));
    EXPECT_EQ(std::make_pair(4u, 7u), std::make_pair(policy.valueType, policy.count));
    m_engine->FreePtnPolicy(&policy);
    ASSERT_EQ(0u, m_engine->QueryPtnPolicy(1, 1, &policy));
    EXPECT_EQ(0u, policy.present);
    EXPECT_NE(0u, m_engine->QueryPtnPolicy(1, 1, nullptr));
}

// Content that is damaged or gone after its edition was made: the listing marks the edition,
// and neither a copy nor a restore hands out its bytes or falls back to another edition.
TEST_F(EngineTest, DamagedOrMissingContentIsMarkedAndNeverHandedOut) {
    const struct {
        const char* name;
        void (*damage)(const fs::path& content);
        zef::ContentState listed;
    } cases[] = {
        {"one byte flipped", [](const fs::path& c) { std::string b = ReadFileBytes(c); b[2] = static_cast<char>(b[2] ^ 1); WriteFileBytes(c, b); }, zef::kContentIntact},
        {"truncated", [](const fs::path& c) { fs::resize_file(c, 3); }, zef::kContentDamaged},
        {"missing", [](const fs::path& c) { fs::remove(c); }, zef::kContentMissing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::u16string path = File(c.name, "older content");
        ASSERT_EQ(0u, m_engine->BackupFile(path.c_str()));
        const std::string newestBytes = std::string("newest content of ") + c.name;
        File(c.name, newestBytes);
        ASSERT_EQ(0u, m_engine->BackupFile(path.c_str()));
        c.damage(m_root / "db" / "content" / (fs::path(zef::DigestText(zef::DigestOf(newestBytes.data(), newestBytes.size()))).string() + "-0"));
        File(c.name, "the file as it is now");
        zef::EditionFindData newest{}, older{};
        zef::FindHandle find = m_engine->FindFirstFileEdition(path.c_str(), &newest);
        EXPECT_EQ(1u, m_engine->FindNextFileEdition(find, &older));  // still listed
        m_engine->FindFileEditionClose(find);
        uint32_t state = 99, reboot = 0;
        std::memcpy(&state, newest.engine104 + zef::kContentStateOffset, sizeof state);
        EXPECT_EQ(uint32_t(c.listed), state);
        EXPECT_EQ("<none>", CopyOf(newest.editionId));
        EXPECT_TRUE(fs::is_empty(m_root / "db" / "copies"));
        EXPECT_EQ(0u, m_engine->RestoreByEdition(path.c_str(), newest.editionId, nullptr, 0, &reboot));
        EXPECT_EQ("the file as it is now", ReadFileBytes(fs::path(path)));
        EXPECT_TRUE(Logged("from edition " + std::to_string(newest.editionId) + ": "));
        EXPECT_EQ(1u, m_engine->RestoreByEdition(path.c_str(), older.editionId, nullptr, 0, &reboot));
        EXPECT_EQ("older content", ReadFileBytes(fs::path(path)));
    }
}

// Numeric settings outside their range, negative ones among them, are refused with a line and
// leave the setting as it was; 0 has a meaning of its own where the table gives one. Bad texts,
// unknown ids and settings that cannot change while running are refused too.
TEST_F(EngineTest, SettingsAreRangeCheckedAndRefuseBadTextsAndUnknownIds) {
    const struct {
        uint32_t id, value;
        bool taken;
    } cases[] = {
        {zef::kSettingDbSize, 0, true}, {zef::kSettingDbSize, 0xFFFFFFFFu, false}, {zef::kSettingDbSize, (1u << 22) + 1, false},
        {zef::kSettingHistoryKeepDays, 0, true}, {zef::kSettingHistoryKeepDays, 0x80000000u, false},
        {zef::kSettingDebugLevel, 5, false}, {zef::kSettingPerProcessBackupQuota, 0, true},
    };
    for (const auto& c : cases) {
        zef::ConfigureParameter before{}, after{};
        ASSERT_EQ(0u, m_engine->QueryConfigure(c.id, &before));
        EXPECT_EQ(c.taken ? 0u : 1u, SetNumber(*m_engine, c.id, c.value)) << c.id << " " << c.value;
        ASSERT_EQ(0u, m_engine->QueryConfigure(c.id, &after));
        EXPECT_EQ(c.taken ? c.value : before.numeric.value, after.numeric.value) << c.id;
    }
    EXPECT_TRUE(Logged("a negative value (-1) is outside 0 to 4194304"));
    const char16_t illFormed[] = {0xDC00, 0};
    EXPECT_NE(0u, SetText(*m_engine, zef::kSettingDbPath, illFormed));
    EXPECT_NE(0u, m_engine->ChangeConfigure(zef::kSettingDbPath, nullptr));
    EXPECT_NE(0u, SetNumber(*m_engine, 99, 1));
    uint32_t value = 3;
    EXPECT_EQ(0u, m_engine->ChangeRunningConfigure(zef::kSettingPerProcessBackupQuota, &value));
    EXPECT_EQ(3u, m_engine->Settings().perProcessQuota);
    EXPECT_NE(0u, m_engine->ChangeRunningConfigure(zef::kSettingDbPath, &value));
    EXPECT_NE(0u, m_engine->ChangeRunningConfigure(zef::kSettingDbSize, nullptr));
    EXPECT_EQ((m_root / "db").u16string(), m_engine->Settings().dbPath);
}

// Each thread also restores one shared file from a copy of its own: it ends holding one of
// them whole.
TEST_F(EngineTest, ThreadsTakeVersionsFlushSearchAndRestoreAtOnce) {
    constexpr int kThreads = 4, kRounds = 10;
    SetNumber(*m_engine, zef::kSettingPerProcessBackupQuota, 0);
    const std::u16string shared = File("shared", "original");
    std::vector<std::string> wholes;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        wholes.push_back(std::string(100000 + 50000 * t, static_cast<char>('a' + t)));
        const std::u16string whole = File("whole" + std::to_string(t), wholes.back());
        threads.emplace_back([&, t, whole] {
            const std::string name = "t" + std::to_string(t);
            for (int r = 0; r < kRounds; ++r) {
                EXPECT_EQ(1u, m_engine->RestoreByCopy(shared.c_str(), whole.c_str(), nullptr, 0, nullptr));
                const std::u16string path = File(name, name + " round " + std::to_string(r));
                m_engine->TakeVersion(path.c_str(), static_cast<uint32_t>(t + 1));
                zef::FindHandle find = m_engine->MemFindFirstFile(path.c_str());
                char16_t copy[262] = {};
                if (find != nullptr && m_engine->MemGetCopy(find, 261, copy) != 0) {
                    m_engine->RestoreByCopy(path.c_str(), copy, nullptr, 0, nullptr);
                    fs::remove(fs::path(std::u16string(copy)));
                }
                m_engine->MemFindClose(find);
                if (r % 4 == t % 4) m_engine->FlushEvents();
                zef::EditionFindData data{};
                zef::FindHandle editions = m_engine->FindFirstFileEdition(path.c_str(), &data);
                while (editions != nullptr && m_engine->FindNextFileEdition(editions, &data) != 0) continue;
                m_engine->FindFileEditionClose(editions);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    m_engine->FlushEvents();
    EXPECT_EQ(0u, m_engine->MemoryVersionCount());
    EXPECT_EQ(0u, m_engine->OpenSearches());
    const std::string now = ReadFileBytes(fs::path(shared));
    EXPECT_NE(wholes.end(), std::find(wholes.begin(), wholes.end(), now)) << now.size() << " bytes";
}

}  // namespace
}  // namespace zef_test
