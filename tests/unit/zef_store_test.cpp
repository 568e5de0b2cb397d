// The engine's edition store against real folders.
#include "reference/zef/edition_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <thread>
#include <tuple>

#include "reference/zef/engine_text.h"
#include "reference/zef/store_check.h"

#include "tests/fakes/faulty_file_table.h"
#include "tests/fakes/test_folder.h"

namespace {

namespace fs = std::filesystem;
using zef::AddResult;
using zef::Edition;
using zef::EditionStore;
using zef::OpenResult;

zef::EditionOrigin Origin(const std::u16string& path, uint32_t processId = 0, uint32_t operation = zef::kOperationBackup, uint32_t time = 0) {
    return {path, u"", processId, operation, 0, time, false, {}};
}

void FlipByte(const fs::path& file, size_t offset) {
    std::string bytes = ReadFileBytes(file);
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x40);
    WriteFileBytes(file, bytes);
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = MakeTestFolder("zef-store");
        m_db = (m_root / "db").u16string();
    }
    void TearDown() override {
        zef_test::DisarmFaults();
        fs::remove_all(m_root);
    }
    std::u16string Source(const std::string& name, const std::string& bytes) {
        WriteFileBytes(m_root / name, bytes);
        return (m_root / name).u16string();
    }
    // A store opened on a fresh database (table: the system's unless given).
    std::unique_ptr<EditionStore> Fresh(zef::StoreLimits limits = {}, const zef::FileTable& table = zef::SystemFileTable()) {
        fs::remove_all(m_db);
        return Reopen(limits, table);
    }
    std::unique_ptr<EditionStore> Reopen(zef::StoreLimits limits = {}, const zef::FileTable& table = zef::SystemFileTable()) {
        auto store = std::make_unique<EditionStore>(table, m_log);
        EXPECT_EQ(OpenResult::kOk, store->Open(m_db, limits));
        return store;
    }
    uint32_t Add(EditionStore& store, const std::u16string& path, uint32_t processId = 0, uint32_t time = 0) {
        uint32_t id = 0;
        EXPECT_EQ(AddResult::kAdded, store.AddFromFile(Origin(path, processId, zef::kOperationBackup, time), UINT64_MAX, &id));
        return id;
    }
    std::string Content(const EditionStore& store, uint32_t editionId) {
        Edition edition;
        if (!store.Find(editionId, edition)) return "<no edition>";
        return ReadFileBytes(fs::path(store.ContentPath(edition)));
    }
    std::vector<uint32_t> IdsOf(const EditionStore& store, const std::string& name) {
        std::vector<uint32_t> ids;
        for (const Edition& e : store.EditionsOfPath((m_root / name).u16string(), nullptr, nullptr)) ids.push_back(e.editionId);
        return ids;
    }
    std::set<std::string> Names(const char* folder) {  // of the database's
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::path(m_db) / folder))
            names.insert(entry.path().filename().string());
        return names;
    }
    size_t ContentFiles() { return Names("content").size(); }

    fs::path m_root;
    std::u16string m_db;
    zef::EngineLog m_log;
};

// The digest every read is checked against: the standard's vectors, fed whole and in pieces
// that straddle the 64-byte blocks, and lengths at the edges of the padding.
TEST(ContentDigest, MatchesTheStandardVectorsHoweverTheBytesArrive) {
    const std::pair<std::string, const char16_t*> cases[] = {
        {"", u"da39a3ee5e6b4b0d3255bfef95601890afd80709"}, {"abc", u"a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", u"84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), u"34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {std::string(55, 'x'), u"cef734ba81a024479e09eb5a75b6ddae62e6abf1"}, {std::string(56, 'x'), u"901305367c259952f4e7af8323f480d59f81335b"},
        {std::string(64, 'x'), u"bb2fa3ee7afb9f54c6dfb5d021f14b1ffe40c163"}, {std::string(119, 'x'), u"4300320394f7ee239bcdce7d3b8bcee173a0cd5c"},
    };
    for (const auto& [bytes, sha1] : cases) {
        EXPECT_EQ(zef::DigestText(zef::DigestOf(bytes.data(), bytes.size())), sha1) << bytes.size() << " bytes";
        for (const bool portable : {false, true}) {
            for (const size_t piece : {1u, 7u, 63u, 64u, 65u, 4096u}) {
                zef::DigestBuilder builder(portable);
                for (size_t at = 0; at < bytes.size(); at += piece) builder.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
                EXPECT_EQ(zef::DigestText(builder.Finish()), sha1) << bytes.size() << " in " << piece << (portable ? ", portably" : "");
            }
        }
    }
}

// Contents round trip across a reopen (a sparse file's hole included); the same content is kept
// once, under another writer too; unchanged content makes no edition for the same writer; a
// content whose digest is taken by other bytes is kept apart.
TEST_F(StoreTest, EditionsRoundTripAndContentIsKeptOnce) {
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""}, {"small", "hello, editions"}, {"mebibyte", RandomBytes(1u << 20, 7)},
        {"sparse", std::string((3u << 20) - 5, '\0') + "tail!"}};
    std::vector<uint32_t> ids;
    {
        auto store = Fresh();
        for (const auto& [name, bytes] : cases) {
            const bool sparse = std::string(name) == "sparse";  // a hole, then its tail
            WriteFileBytes(m_root / name, sparse ? "" : bytes);
            if (sparse) fs::resize_file(m_root / name, bytes.size() - 5), std::ofstream(m_root / name, std::ios::app) << "tail!";
            ids.push_back(Add(*store, (m_root / name).u16string()));
        }
    }
    auto store = Reopen();
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string& bytes = cases[i].second;
        Edition edition;
        ASSERT_TRUE(store->Find(ids[i], edition));
        EXPECT_EQ(std::make_tuple(bytes, uint64_t{bytes.size()}, zef::DigestOf(bytes.data(), bytes.size())),
                  std::make_tuple(Content(*store, ids[i]), edition.size, edition.digest)) << cases[i].first;
    }

    store.reset();  // its folder is taken away next
    store = Fresh();
    const std::string bytes = RandomBytes(4096, 1);
    // Other bytes already sit under this digest, as a crafted collision would.
    WriteFileBytes(fs::path(m_db) / "content" / (fs::path(zef::DigestText(zef::DigestOf("x", 1))).string() + "-0"), "an impostor");
    const uint32_t first = Add(*store, Source("a", bytes));
    const uint32_t second = Add(*store, Source("b", bytes));
    const uint32_t collided = Add(*store, Source("c", "x"));
    Edition edition;
    ASSERT_TRUE(store->Find(collided, edition));
    EXPECT_EQ(1u, edition.blobSuffix);
    EXPECT_EQ("x", Content(*store, collided));
    EXPECT_EQ(3u, ContentFiles());
    EXPECT_EQ(4097u, store->StoredBytes());
    const zef::EditionOrigin again = Origin((m_root / "a").u16string());
    uint32_t id = 0;
    EXPECT_EQ(AddResult::kUnchanged, store->AddFromFile(again, UINT64_MAX, &id));
    EXPECT_EQ(first, id);
    // The same bytes for another writer: an edition of its own, the content still kept once.
    EXPECT_EQ(AddResult::kAdded, store->AddFromFile(Origin(again.path, 77, zef::kOperationBeforeWrite), UINT64_MAX, &id));
    EXPECT_TRUE(store->Delete(id));
    EXPECT_EQ(3u, ContentFiles());
    // Changed content, several times within one second: each is its own edition, newest first.
    std::vector<uint32_t> made{first};
    for (char c : std::string("xyz")) made.insert(made.begin(), Add(*store, Source("a", std::string(10, c))));
    EXPECT_EQ(made, IdsOf(*store, "a"));
    // Deleting one sharer keeps the content for the other; a deletion outlives a reopen.
    EXPECT_TRUE(store->Delete(first));
    EXPECT_EQ(bytes, Content(*store, second));
    EXPECT_FALSE(store->Delete(first));
    store.reset();
    store = Reopen();
    EXPECT_EQ(std::make_pair(std::string("<no edition>"), bytes), std::make_pair(Content(*store, first), Content(*store, second)));
}

// Purges come with additions: each case adds its editions in order under its limits.
TEST_F(StoreTest, PurgesTakeTheOldestFirstByAgeAndTheLargestWritersShareByQuota) {
    struct Case {
        const char* name;
        uint32_t keepDays;
        uint64_t quota;
        // One edition of 1000 bytes each, in this order: its age in days and its writer (the
        // writer's process id; each writer writes its own file).
        std::vector<std::pair<uint32_t, uint32_t>> editions;
        std::vector<size_t> survivors;  // indexes into editions, in the order made
    };
    const Case cases[] = {
        {"nothing to purge", 21, 1 << 20, {{3, 1}, {2, 1}, {1, 1}}, {0, 1, 2}},
        {"too old", 21, 1 << 20, {{40, 1}, {22, 1}, {20, 1}, {1, 1}}, {2, 3}},
        {"no age limit", 0, 1 << 20, {{400, 1}, {1, 1}}, {0, 1}},
        {"no size limit", 0, 0, {{3, 1}, {2, 1}, {1, 1}}, {0, 1, 2}},
        {"over quota", 0, 2500, {{3, 1}, {2, 1}, {1, 1}}, {1, 2}},
        {"both", 21, 1500, {{30, 1}, {3, 1}, {2, 1}}, {2}},
        // The newest edition of a file changed within the age limit stays over the quota.
        {"newest kept", 21, 500, {{3, 1}, {2, 2}, {1, 3}}, {0, 1, 2}},
        // A writer that floods the store loses its own history, not the older one of others.
        {"flooder pays", 0, 4500, {{5, 1}, {4, 1}, {1, 2}, {1, 2}, {1, 2}, {1, 2}}, {0, 1, 4, 5}},
    };
    const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto store = Fresh(zef::StoreLimits{c.quota, c.keepDays});
        std::vector<uint32_t> ids;
        for (size_t i = 0; i < c.editions.size(); ++i) {
            const auto [age, writer] = c.editions[i];
            ids.push_back(Add(*store, Source("aged" + std::to_string(writer), RandomBytes(1000, uint32_t(i + 10))), writer, now - age * 86400u));
        }
        store->Commit();
        std::vector<uint32_t> expected, kept;
        for (size_t index : c.survivors) expected.push_back(ids[index]);
        for (uint32_t id : ids)
            if (Content(*store, id) != "<no edition>") kept.push_back(id);
        EXPECT_EQ(expected, kept);
        EXPECT_EQ(c.survivors.size(), ContentFiles());
        const zef::PurgeRecord purges = store->PurgesOf((m_root / "aged1").u16string());
        if (c.survivors[0] != 0) {
            EXPECT_EQ(now - c.editions[0].first * 86400u, purges.firstCreateTime);
            EXPECT_GE(purges.lastPurgeTime, now);
        }
    }
}

TEST_F(StoreTest, TimeBoundsAreInclusiveAndSearchesGoByPathProcessAndFile) {
    auto store = Fresh({UINT64_MAX, 0});
    for (uint32_t i = 0; i < 4; ++i) Add(*store, Source("timed", std::string(5, char('a' + i))), 100 + i % 2, 1000 + i * 10);
    const uint32_t from = 1010, to = 1020;
    const auto inRange = store->EditionsOfPath((m_root / "timed").u16string(), &from, &to);
    ASSERT_EQ(2u, inRange.size());
    EXPECT_EQ(std::make_pair(1020u, 1010u), std::make_pair(inRange[0].time, inRange[1].time));
    const auto byProcess = store->EditionsOfProcess(101, nullptr, nullptr);
    ASSERT_EQ(2u, byProcess.size());
    EXPECT_EQ(1030u, byProcess[0].time);
    const auto files = store->StoredFiles(&from, &to);
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(std::make_pair(2u, 1020u), std::make_pair(files[0].editionCount, files[0].newestTime));
}

// A crash at each disk-changing step of a new edition, then a reopen: the editions made
// before are all there and whole, the interrupted one is either whole or absent, and content
// that no edition names is kept (noted as an orphan), never removed at once.
TEST_F(StoreTest, ACrashAtAnyStepOfAnEditionLosesNothingCompleted) {
    const std::string before1 = RandomBytes(70000, 3), before2 = RandomBytes(1500000, 4), during = RandomBytes(1200000, 5);
    int64_t steps = 0;
    for (int64_t crashAt = 0;; ++crashAt) {
        SCOPED_TRACE("crash at " + std::to_string(crashAt));
        uint32_t id1 = 0, id2 = 0;
        {
            auto store = Fresh({}, zef_test::FaultyFileTable());
            id1 = Add(*store, Source("one", before1));
            id2 = Add(*store, Source("two", before2));
            const std::u16string path = Source("three", during);
            zef_test::ArmFaults(crashAt);
            store->AddFromFile(Origin(path), UINT64_MAX, nullptr);
            steps = zef_test::CountedCalls();
            if (!zef_test::Crashed()) break;
        }  // the store goes away as the killed process's did
        zef_test::DisarmFaults();
        auto reopened = Reopen();
        EXPECT_EQ(before1, Content(*reopened, id1));
        EXPECT_EQ(before2, Content(*reopened, id2));
        const auto third = IdsOf(*reopened, "three");
        ASSERT_LE(third.size(), 1u);
        if (!third.empty()) { EXPECT_EQ(during, Content(*reopened, third[0])); }
        EXPECT_LE(2u + third.size(), ContentFiles());
    }
    EXPECT_GE(steps, 5);  // create, write, move in, descriptor written, log appended
}

// Each kind of damage to a database of two editions (a, then b), and what the store makes of
// it: what check finds, the open's answer (a torn tail is cut, a bad record with good ones
// after it is damage that repair mends, and a refusal says so), what a listing says of each
// edition (after repair when the open is refused), and that no content file is ever deleted.
TEST_F(StoreTest, EachKindOfDamageGetsItsAnswerAndNoContentIsDeleted) {
    using zef::StoreHealth;
    using Damage = std::function<void(const fs::path& log, const fs::path& contentOfB)>;
    const auto intact = zef::kContentIntact, damaged = zef::kContentDamaged, missing = zef::kContentMissing;
    const struct {
        const char* name;
        Damage damage;
        StoreHealth checked;
        OpenResult opened;
        zef::ContentState b;      // a stays intact throughout
        size_t contentFilesLeft;  // of the two
    } cases[] = {
        {"intact", [](auto&, auto&) {}, StoreHealth::kHealthy, OpenResult::kOk, intact, 2},
        {"log torn in its last record", [](auto& log, auto&) { fs::resize_file(log, fs::file_size(log) - 5); }, StoreHealth::kHealthy, OpenResult::kOk, intact, 2},
        {"log's last record with a byte flipped", [](auto& log, auto&) { FlipByte(log, fs::file_size(log) - 4); }, StoreHealth::kHealthy, OpenResult::kOk, intact, 2},
        {"log ending in zeros", [](auto& log, auto&) { fs::resize_file(log, fs::file_size(log) + 4096); }, StoreHealth::kHealthy, OpenResult::kOk, intact, 2},
        {"log's magic cut short", [](auto& log, auto&) { fs::resize_file(log, 5); }, StoreHealth::kHealthy, OpenResult::kOk, intact, 2},
        {"log byte flipped in its first record", [](auto& log, auto&) { FlipByte(log, 30); }, StoreHealth::kIndexDamaged, OpenResult::kIndexDamaged, intact, 2},
        {"log's first record with its length changed", [](auto& log, auto&) { FlipByte(log, 8); }, StoreHealth::kIndexDamaged, OpenResult::kIndexDamaged, intact, 2},
        {"log replaced by garbage", [](auto& log, auto&) { WriteFileBytes(log, "garbage"); }, StoreHealth::kIndexDamaged, OpenResult::kIndexDamaged, intact, 2},
        {"log missing", [](auto& log, auto&) { fs::remove(log); }, StoreHealth::kIndexMissing, OpenResult::kIndexMissing, intact, 2},
        {"a folder in place of the log", [](auto& log, auto&) { fs::remove(log), fs::create_directory(log); }, StoreHealth::kIndexDamaged, OpenResult::kIndexDamaged, intact, 2},
        {"content of b with a byte flipped", [](auto&, auto& b) { FlipByte(b, 3); }, StoreHealth::kContentDamaged, OpenResult::kOk, intact, 2},
        {"content of b cut short", [](auto&, auto& b) { fs::resize_file(b, 10); }, StoreHealth::kContentDamaged, OpenResult::kOk, damaged, 2},
        {"content of b grown", [](auto&, auto& b) { std::ofstream(b, std::ios::app) << "more"; }, StoreHealth::kContentDamaged, OpenResult::kOk, damaged, 2},
        {"content of b missing", [](auto&, auto& b) { fs::remove(b); }, StoreHealth::kContentMissing, OpenResult::kOk, missing, 1},
        {"a folder in place of b's content", [](auto&, auto& b) { fs::remove(b), fs::create_directory(b); }, StoreHealth::kContentMissing, OpenResult::kOk, missing, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t a = 0, b = 0;
        fs::path contentOfB;
        {
            auto store = Fresh();
            a = Add(*store, Source("a", RandomBytes(5000, 1)));
            b = Add(*store, Source("b", RandomBytes(6000, 2)));
            Edition edition;
            ASSERT_TRUE(store->Find(b, edition));
            contentOfB = fs::path(store->ContentPath(edition));
        }
        c.damage(fs::path(m_db) / "editions.log", contentOfB);
        zef::StoreReport report;
        EXPECT_EQ(c.checked, zef::CheckStore(m_db, report));
        if (c.checked == StoreHealth::kContentDamaged || c.checked == StoreHealth::kContentMissing) {
            ASSERT_EQ(1u, report.problems.size());
            EXPECT_EQ(0u, report.problems[0].find(u"edition " + zef::Decimal(b) + u" of "));
        }
        auto store = std::make_unique<EditionStore>(zef::SystemFileTable(), m_log);
        std::u16string why;
        EXPECT_EQ(c.opened, store->Open(m_db, {}, &why));
        EXPECT_EQ(c.opened != OpenResult::kOk, why.find(u"run repair") != std::u16string::npos) << fs::path(why).string();
        if (c.opened != OpenResult::kOk) {
            EXPECT_EQ(StoreHealth::kHealthy, zef::RepairStore(m_db, report));
            EXPECT_EQ(2u, report.editions);
            store.reset();
            store = Reopen();
        }
        const auto listedA = store->EditionsOfPath((m_root / "a").u16string(), nullptr, nullptr);
        const auto listedB = store->EditionsOfPath((m_root / "b").u16string(), nullptr, nullptr);
        ASSERT_EQ(std::make_pair(size_t{1}, size_t{1}), std::make_pair(listedA.size(), listedB.size()));
        EXPECT_EQ(std::make_tuple(a, b, intact, c.b), std::make_tuple(listedA[0].editionId, listedB[0].editionId, listedA[0].state, listedB[0].state));
        EXPECT_EQ(c.contentFilesLeft, ContentFiles() - (fs::is_directory(contentOfB) ? 1 : 0));
        // Ids are never given twice: the next edition comes after both.
        EXPECT_LT(b, Add(*store, Source("c", "next")));
    }
}

// One store per folder; the next keeps what a killed one left: a version staged with its note
// becomes an edition with the source's origin and ownership, a copy half way in goes, content
// no index names stays within its grace, and folders opened to others are closed again.
TEST_F(StoreTest, OneStorePerFolderAndTheNextKeepsWhatTheLastLeft) {
    EditionStore first(zef::SystemFileTable(), m_log);
    WriteFileBytes(m_root / "plainfile", "x");
    EXPECT_EQ(OpenResult::kFolderUnusable, first.Open((m_root / "plainfile" / "db").u16string(), {}));
    ASSERT_EQ(OpenResult::kOk, first.Open(m_db, {}));
    EXPECT_EQ(OpenResult::kLocked, first.Open(m_db, {}));  // open already
    const uint32_t id = Add(first, Source("f", "content"));
    EditionStore second(zef::SystemFileTable(), m_log);
    EXPECT_EQ(OpenResult::kLocked, second.Open(m_db, {}));
    const std::u16string staged = first.NewStagingPath(u"m");
    WriteFileBytes(fs::path(staged), "before the write");
    // The ownership is the source's, not the staged copy's.
    const zef::EditionOrigin origin{(m_root / "g").u16string(), u"", 77, zef::kOperationBeforeWrite, 4242, 1234,
                                    true, {1000, 1000, 0640}};
    first.NoteStaged(staged, origin);
    // Files made ahead for versions: new, empty, each handed out once; those still held go at
    // the close, and those handed out but never noted go at the next open.
    const fs::path staging = fs::path(m_db) / "staging";
    first.HoldFreshFiles(16);
    std::set<std::string> taken;
    for (int waited = 0; waited < 500 && taken.size() < 8; ++waited) {
        zef::FreshFiles::Taken fresh;
        if (!first.TakeFreshFile(&fresh)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        zef::SystemFileTable().close(fresh.file);
        EXPECT_EQ(staging, fs::path(fresh.path).parent_path());
        EXPECT_EQ(0u, fs::file_size(fs::path(fresh.path)));
        EXPECT_TRUE(taken.insert(fs::path(fresh.path).filename().string()).second) << "handed out twice";
    }
    EXPECT_EQ(8u, taken.size());
    std::set<std::string> left = taken;
    left.insert(fs::path(staged).filename().string());
    for (int waited = 0; waited < 500 && Names("staging").size() <= left.size(); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_LT(left.size(), Names("staging").size()) << "no file held ready";
    first.Close();
    EXPECT_EQ(left, Names("staging"));
    fs::permissions(fs::path(m_db) / "content", fs::perms::others_read, fs::perm_options::add);
    WriteFileBytes(fs::path(m_db) / "staging" / "b9.tmp", "half");
    WriteFileBytes(fs::path(m_db) / "content" / "00ff-0", "orphan");
    ASSERT_EQ(OpenResult::kOk, second.Open(m_db, {}));
    EXPECT_EQ("content", Content(second, id));
    const auto kept = second.EditionsOfPath(origin.path, nullptr, nullptr);
    ASSERT_EQ(1u, kept.size());
    const Edition& k = kept[0];
    EXPECT_EQ("before the write", Content(second, k.editionId));
    EXPECT_EQ(std::make_tuple(zef::kOperationBeforeWrite, 4242u, 1234u, 77u, true, 1000u, 0640u),
              std::make_tuple(k.operation, k.uniqueId, k.time, k.processId, k.ownershipKnown, k.owner, k.mode));
    EXPECT_LT(id, k.editionId);
    for (const std::string& name : left) EXPECT_FALSE(fs::exists(staging / name)) << name;
    EXPECT_FALSE(fs::exists(staging / "b9.tmp"));
    EXPECT_EQ("orphan", ReadFileBytes(fs::path(m_db) / "content" / "00ff-0"));
#ifndef _WIN32
    for (const char* folder : {"", "content", "editions", "staging"})
        EXPECT_EQ(fs::perms::none, fs::status(fs::path(m_db) / folder).permissions() & (fs::perms::group_all | fs::perms::others_all)) << folder;
#endif
}

// Damage in the middle of the journal of staged versions: the copies it may name are no
// proof of garbage, so none is deleted; the notes before the damage still become editions.
TEST_F(StoreTest, ADamagedJournalOfStagedVersionsDeletesNoCopy) {
    std::vector<std::u16string> staged;
    {
        auto store = Fresh();
        for (const char* name : {"a", "b", "c"}) {
            staged.push_back(store->NewStagingPath(u"m"));
            WriteFileBytes(fs::path(staged.back()), std::string("staged ") + name);
            store->NoteStaged(staged.back(), Origin((m_root / name).u16string()));
        }
        store->Close();  // a killed service: the notes stay, nothing is kept yet
    }
    const fs::path journal = fs::path(m_db) / "staged.log";
    ASSERT_GT(fs::file_size(journal), 64u);
    FlipByte(journal, fs::file_size(journal) / 2);
    auto reopened = Reopen();
    std::string lines;
    for (const std::string& line : m_log.RecentLines()) lines += line + "\n";
    EXPECT_NE(std::string::npos, lines.find("is damaged")) << lines;
    size_t left = 0, kept = 0;
    for (size_t i = 0; i < staged.size(); ++i) {
        const std::string name(1, static_cast<char>('a' + i));
        const auto editions = IdsOf(*reopened, name);
        kept += editions.size();
        if (!editions.empty()) { EXPECT_EQ("staged " + name, Content(*reopened, editions[0])); }
        left += fs::exists(fs::path(staged[i]));
    }
    EXPECT_GE(kept, 1u);                    // the first note precedes the damage
    EXPECT_EQ(staged.size(), kept + left);  // every copy is an edition or still staged
}

// Why an edition is not made, each with its result and the words of its line.
TEST_F(StoreTest, AnEditionNotMadeSaysWhy) {
    using platform::FileFailure;
    static FileFailure failure;
    const struct {
        const char* name;
        const char* source;  // the source's bytes, or null for a source that does not exist
        uint64_t limit;      // the largest source taken
        bool writesFail, opensFail;
        FileFailure failure;
        AddResult result;
        const char* line;
    } cases[] = {
        {"missing file", nullptr, UINT64_MAX, false, false, FileFailure::kMissing, AddResult::kSourceUnreadable, "it does not exist"},
        {"unreadable file", "bytes", UINT64_MAX, true, true, FileFailure::kDenied, AddResult::kSourceUnreadable, "permission to read it is denied"},
        {"full disk", "bytes", UINT64_MAX, true, false, FileFailure::kDiskFull, AddResult::kDiskFull, "the disk that holds the database is full"},
        {"database not writable", "bytes", UINT64_MAX, true, false, FileFailure::kDenied, AddResult::kStoreFailed, "may not be written"},
        {"a byte over the limit", "bytes", 4, false, false, FileFailure::kOther, AddResult::kTooLarge, "5 bytes are over the limit of 4 bytes"},
        {"at the limit", "bytes", 5, false, false, FileFailure::kOther, AddResult::kAdded, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        failure = c.failure;
        // The store keeps the table it was given: the faults come once it is open.
        zef::FileTable table = zef::SystemFileTable();
        auto store = Fresh({}, table);
        table.lastFailure = [] { return failure; };
        if (c.writesFail) table.write = [](zef::FileHandle, const void*, uint32_t) { return false; };
        if (c.opensFail) table.openSource = [](const char16_t*, bool*) { return zef::kInvalidFile; };
        const std::u16string path = c.source != nullptr ? Source("source", c.source) : (m_root / "missing").u16string();
        EXPECT_EQ(c.result, store->AddFromFile(Origin(path), c.limit, nullptr));
        if (c.line != nullptr) { EXPECT_NE(std::string::npos, m_log.RecentLines().back().find(c.line)); }
    }
}

TEST_F(StoreTest, AReadOnlyDatabaseListsAndReadsButRefusesChanges) {
    const uint32_t id = Add(*Fresh(), Source("kept", "kept bytes"));
    zef::FileTable readOnly = zef::SystemFileTable();
    readOnly.createForWriting = readOnly.openForAppending = [](const char16_t*) { return zef::kInvalidFile; };
    readOnly.createFolderTree = [](const char16_t*) { return 5u; };  // access denied
    readOnly.rename = readOnly.replace = [](const char16_t*, const char16_t*) { return false; };
    readOnly.remove = [](const char16_t*) { return false; };
    readOnly.lastFailure = [] { return platform::FileFailure::kDenied; };
    const std::string log = ReadFileBytes(fs::path(m_db) / "editions.log");
    EditionStore store(readOnly, m_log);
    std::u16string why;
    ASSERT_EQ(OpenResult::kReadOnly, store.Open(m_db, {}, &why));
    EXPECT_TRUE(store.ReadOnly());
    EXPECT_EQ("kept bytes", Content(store, id));
    EXPECT_EQ(1u, IdsOf(store, "kept").size());
    EXPECT_EQ(AddResult::kReadOnly, store.AddFromFile(Origin(Source("new", "new bytes")), UINT64_MAX, nullptr));
    EXPECT_NE(std::string::npos, m_log.RecentLines().back().find("open read-only"));
    EXPECT_FALSE(store.Delete(id));
    store.Close();
    EXPECT_EQ(log, ReadFileBytes(fs::path(m_db) / "editions.log"));
}

TEST_F(StoreTest, ThreadsAddSearchAndDeleteAtOnce) {
    auto store = Fresh();
    constexpr int kThreads = 4, kRounds = 12;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string name = "t" + std::to_string(t);
            for (int r = 0; r < kRounds; ++r) {
                const uint32_t id = Add(*store, Source(name, RandomBytes(2000, static_cast<uint32_t>(t * 100 + r))));
                store->EditionsOfPath((m_root / name).u16string(), nullptr, nullptr);
                store->StoredFiles(nullptr, nullptr);
                if (r % 3 == 0) { EXPECT_TRUE(store->Delete(id)); }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(static_cast<size_t>(kThreads), store->StoredFiles(nullptr, nullptr).size());
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(8u, store->CountOf((m_root / ("t" + std::to_string(t))).u16string()));
    EXPECT_EQ(static_cast<size_t>(kThreads * 8), ContentFiles());
}

}  // namespace
