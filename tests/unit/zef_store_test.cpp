// The engine's edition store against real folders: byte-for-byte round trips, content kept
// once, purges by age and by writer's share of the quota, a crash at every step of an edition
// then a reopen, each kind of damage and its answer, the log's replay, staged versions kept
// across a restart, one store per folder, and many threads at once.
#include "reference/zef/edition_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "reference/zef/edition_log.h"
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

std::string RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
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
    uint32_t Add(EditionStore& store, const std::u16string& path) {
        zef::EditionOrigin origin;
        origin.path = path;
        uint32_t id = 0;
        EXPECT_EQ(AddResult::kAdded, store.AddFromFile(origin, UINT64_MAX, &id));
        return id;
    }
    std::string Content(const EditionStore& store, uint32_t editionId) {
        Edition edition;
        if (!store.Find(editionId, edition)) return "<no edition>";
        return ReadFileBytes(fs::path(store.ContentPath(edition)));
    }
    size_t ContentFiles() {
        const fs::path content = fs::path(m_db) / "content";
        return static_cast<size_t>(std::distance(fs::directory_iterator(content), fs::directory_iterator()));
    }

    fs::path m_root;
    std::u16string m_db;
    zef::EngineLog m_log;
    zef::StoreLimits m_limits;
};

// The digest every read is checked against: the standard's vectors, fed whole and in pieces
// that straddle the 64-byte blocks.
TEST(ContentDigest, MatchesTheStandardVectorsHoweverTheBytesArrive) {
    const struct {
        std::string bytes;
        const char16_t* sha1;
    } cases[] = {
        {"", u"da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", u"a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         u"84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), u"34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        // Lengths at the edges of the padding: the length field fits, just fits, or spills.
        {std::string(55, 'x'), u"cef734ba81a024479e09eb5a75b6ddae62e6abf1"},
        {std::string(56, 'x'), u"901305367c259952f4e7af8323f480d59f81335b"},
        {std::string(64, 'x'), u"bb2fa3ee7afb9f54c6dfb5d021f14b1ffe40c163"},
        {std::string(119, 'x'), u"4300320394f7ee239bcdce7d3b8bcee173a0cd5c"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zef::DigestText(zef::DigestOf(c.bytes.data(), c.bytes.size())), c.sha1)
            << c.bytes.size() << " bytes";
        for (const bool portable : {false, true}) {
            for (const size_t piece : {1u, 7u, 63u, 64u, 65u, 4096u}) {
                zef::DigestBuilder builder(portable);
                for (size_t at = 0; at < c.bytes.size(); at += piece)
                    builder.Add(c.bytes.data() + at, std::min(piece, c.bytes.size() - at));
                EXPECT_EQ(zef::DigestText(builder.Finish()), c.sha1)
                    << c.bytes.size() << " in " << piece << (portable ? ", portably" : "");
            }
        }
    }
}

TEST_F(StoreTest, EditionsRoundTripByteForByteAcrossAReopen) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string sparse(3u << 20, '\0');
    sparse.replace(sparse.size() - 5, 5, "tail!");
    const Case cases[] = {
        {"empty", ""},
        {"small", "hello, editions"},
        {"mebibyte", RandomBytes(1u << 20, 7)},
        {"sparse", sparse},
    };
    std::vector<uint32_t> ids;
    {
        EditionStore store(zef::SystemFileTable(), m_log);
        ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits));
        for (const Case& c : cases) {
            std::u16string path = Source(c.name, "");
            if (std::string(c.name) == "sparse") {
                std::ofstream out(m_root / c.name, std::ios::binary);
                out.seekp(static_cast<std::streamoff>(c.bytes.size() - 5));
                out << "tail!";
            } else {
                WriteFileBytes(m_root / c.name, c.bytes);
            }
            ids.push_back(Add(store, path));
            EXPECT_EQ(c.bytes, Content(store, ids.back())) << c.name;
        }
    }
    EditionStore reopened(zef::SystemFileTable(), m_log);
    ASSERT_EQ(OpenResult::kOk, reopened.Open(m_db, m_limits));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].bytes, Content(reopened, ids[i])) << cases[i].name;
        Edition edition;
        ASSERT_TRUE(reopened.Find(ids[i], edition));
        EXPECT_EQ(cases[i].bytes.size(), edition.size);
        EXPECT_EQ(zef::DigestOf(cases[i].bytes.data(), cases[i].bytes.size()), edition.digest);
    }
}

TEST_F(StoreTest, SameContentIsStoredOnceAndUnchangedContentMakesNoEditionForTheSameWriter) {
    EditionStore store(zef::SystemFileTable(), m_log);
    ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits));
    const std::string bytes = RandomBytes(4096, 1);
    const uint32_t first = Add(store, Source("a", bytes));
    const uint32_t second = Add(store, Source("b", bytes));
    EXPECT_NE(first, second);
    EXPECT_EQ(1u, ContentFiles());
    EXPECT_EQ(4096u, store.StoredBytes());

    zef::EditionOrigin again;
    again.path = (m_root / "a").u16string();
    uint32_t id = 0;
    EXPECT_EQ(AddResult::kUnchanged, store.AddFromFile(again, UINT64_MAX, &id));
    EXPECT_EQ(first, id);
    // The same bytes for another writer: an edition of its own, the content still kept once.
    zef::EditionOrigin writer = again;
    writer.processId = 77;
    writer.operation = zef::kOperationBeforeWrite;
    EXPECT_EQ(AddResult::kAdded, store.AddFromFile(writer, UINT64_MAX, &id));
    EXPECT_TRUE(store.Delete(id));
    EXPECT_EQ(1u, ContentFiles());

    // Changed content, several times within one second: each is its own edition, newest first.
    std::vector<uint32_t> made;
    for (char c : std::string("xyz")) made.push_back(Add(store, Source("a", std::string(10, c))));
    const std::vector<Edition> editions = store.EditionsOfPath(again.path, nullptr, nullptr);
    ASSERT_EQ(4u, editions.size());
    EXPECT_EQ(made[2], editions[0].editionId);
    EXPECT_EQ(made[1], editions[1].editionId);
    EXPECT_EQ(made[0], editions[2].editionId);
    EXPECT_EQ(first, editions[3].editionId);

    // Deleting one sharer keeps the content for the other.
    EXPECT_TRUE(store.Delete(first));
    EXPECT_EQ(bytes, Content(store, second));
    EXPECT_FALSE(store.Delete(first));
}

TEST_F(StoreTest, ContentWhoseDigestMatchesButBytesDifferIsStoredApart) {
    EditionStore store(zef::SystemFileTable(), m_log);
    ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits));
    const std::string bytes = "the genuine content";
    // Another content already sits under this digest, as a crafted collision would.
    const zef::Digest digest = zef::DigestOf(bytes.data(), bytes.size());
    WriteFileBytes(fs::path(m_db) / "content" / (fs::path(zef::DigestText(digest)).string() + "-0"),
               "an impostor");
    const uint32_t id = Add(store, Source("file", bytes));
    Edition edition;
    ASSERT_TRUE(store.Find(id, edition));
    EXPECT_EQ(1u, edition.blobSuffix);
    EXPECT_EQ(bytes, Content(store, id));
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
        fs::remove_all(m_db);
        EditionStore store(zef::SystemFileTable(), m_log);
        ASSERT_EQ(OpenResult::kOk, store.Open(m_db, zef::StoreLimits{c.quota, c.keepDays})) << c.name;
        std::vector<uint32_t> ids;
        for (size_t i = 0; i < c.editions.size(); ++i) {
            const std::string name = "aged" + std::to_string(c.editions[i].second);
            zef::EditionOrigin origin;
            origin.path = Source(name, RandomBytes(1000, static_cast<uint32_t>(i + 10)));
            origin.processId = c.editions[i].second;
            origin.time = now - c.editions[i].first * 86400u;
            uint32_t id = 0;
            ASSERT_EQ(AddResult::kAdded, store.AddFromFile(origin, UINT64_MAX, &id)) << c.name;
            ids.push_back(id);
        }
        store.Commit();
        std::vector<uint32_t> expected;
        for (size_t index : c.survivors) expected.push_back(ids[index]);
        std::vector<uint32_t> kept;
        for (uint32_t id : ids) {
            Edition edition;
            if (store.Find(id, edition)) kept.push_back(id);
        }
        EXPECT_EQ(expected, kept) << c.name;
        EXPECT_EQ(c.survivors.size(), ContentFiles()) << c.name;
        const zef::PurgeRecord purges = store.PurgesOf((m_root / "aged1").u16string());
        if (c.survivors.empty() || c.survivors[0] != 0) {
            EXPECT_EQ(now - c.editions[0].first * 86400u, purges.firstCreateTime) << c.name;
            EXPECT_GE(purges.lastPurgeTime, now) << c.name;
        }
    }
}

TEST_F(StoreTest, TimeBoundsAreInclusiveAndSearchesGoByPathProcessAndFile) {
    EditionStore store(zef::SystemFileTable(), m_log);
    ASSERT_EQ(OpenResult::kOk, store.Open(m_db, zef::StoreLimits{UINT64_MAX, 0}));
    const std::u16string path = Source("timed", "");
    for (uint32_t i = 0; i < 4; ++i) {
        WriteFileBytes(m_root / "timed", std::string(5, static_cast<char>('a' + i)));
        zef::EditionOrigin origin;
        origin.path = path;
        origin.processId = 100 + i % 2;
        origin.time = 1000 + i * 10;
        ASSERT_EQ(AddResult::kAdded, store.AddFromFile(origin, UINT64_MAX, nullptr));
    }
    const uint32_t from = 1010;
    const uint32_t to = 1020;
    const auto inRange = store.EditionsOfPath(path, &from, &to);
    ASSERT_EQ(2u, inRange.size());
    EXPECT_EQ(1020u, inRange[0].time);
    EXPECT_EQ(1010u, inRange[1].time);
    const auto byProcess = store.EditionsOfProcess(101, nullptr, nullptr);
    ASSERT_EQ(2u, byProcess.size());
    EXPECT_EQ(1030u, byProcess[0].time);
    const auto files = store.StoredFiles(&from, &to);
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(2u, files[0].editionCount);
    EXPECT_EQ(1020u, files[0].newestTime);
}

// A crash at each disk-changing step of a new edition, then a reopen: the editions made
// before are all there and whole, the interrupted one is either whole or absent, and content
// that no edition names is kept (noted as an orphan), never removed at once.
TEST_F(StoreTest, ACrashAtAnyStepOfAnEditionLosesNothingCompleted) {
    const std::string before1 = RandomBytes(70000, 3);
    const std::string before2 = RandomBytes(1500000, 4);
    const std::string during = RandomBytes(1200000, 5);
    int64_t steps = 0;
    for (int64_t crashAt = 0;; ++crashAt) {
        fs::remove_all(m_db);
        uint32_t id1 = 0;
        uint32_t id2 = 0;
        {
            EditionStore store(zef_test::FaultyFileTable(), m_log);
            ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits));
            id1 = Add(store, Source("one", before1));
            id2 = Add(store, Source("two", before2));
            const std::u16string path = Source("three", during);
            zef_test::ArmFaults(crashAt);
            zef::EditionOrigin origin;
            origin.path = path;
            store.AddFromFile(origin, UINT64_MAX, nullptr);
            steps = zef_test::CountedCalls();
            if (!zef_test::Crashed()) break;
        }  // the store goes away as the killed process's did
        zef_test::DisarmFaults();
        EditionStore reopened(zef::SystemFileTable(), m_log);
        ASSERT_EQ(OpenResult::kOk, reopened.Open(m_db, m_limits)) << "crash at " << crashAt;
        EXPECT_EQ(before1, Content(reopened, id1)) << "crash at " << crashAt;
        EXPECT_EQ(before2, Content(reopened, id2)) << "crash at " << crashAt;
        const auto third = reopened.EditionsOfPath((m_root / "three").u16string(), nullptr, nullptr);
        ASSERT_LE(third.size(), 1u);
        if (!third.empty()) {
            EXPECT_EQ(during, Content(reopened, third[0].editionId));
        }
        EXPECT_LE(2u + third.size(), ContentFiles()) << "crash at " << crashAt;
    }
    EXPECT_GE(steps, 5);  // create, write, move in, descriptor written, log appended
}

// Each kind of damage to a database of two editions (a, then b), and what the store makes of
// it: the open's answer, what a listing says of each edition, what check finds, and what is
// left after repair. No content file is ever deleted.
TEST_F(StoreTest, EachKindOfDamageGetsItsAnswerAndNoContentIsDeleted) {
    using zef::ContentState;
    using zef::StoreHealth;
    struct Case {
        const char* name;
        std::function<void(const fs::path& db, const std::string& contentOfB)> damage;
        OpenResult opened;
        ContentState a, b;        // as listed once open (after repair when the open is refused)
        StoreHealth checked;      // CheckStore before any repair
        size_t contentFilesLeft;  // of the two
    };
    auto log = [](const fs::path& db) { return db / "editions.log"; };
    auto flipAt = [](const fs::path& file, size_t offset) {
        std::string bytes = ReadFileBytes(file);
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x40);
        WriteFileBytes(file, bytes);
    };
    const Case cases[] = {
        {"intact", [](const fs::path&, const std::string&) {}, OpenResult::kOk,
         zef::kContentIntact, zef::kContentIntact, StoreHealth::kHealthy, 2},
        {"log torn in its last record",
         [&](const fs::path& db, const std::string&) {
             fs::resize_file(log(db), fs::file_size(log(db)) - 5);
         },
         OpenResult::kOk, zef::kContentIntact, zef::kContentIntact, StoreHealth::kHealthy, 2},
        {"log byte flipped in its first record",
         [&](const fs::path& db, const std::string&) { flipAt(log(db), 30); },
         OpenResult::kIndexDamaged, zef::kContentIntact, zef::kContentIntact,
         StoreHealth::kIndexDamaged, 2},
        {"log replaced by garbage",
         [&](const fs::path& db, const std::string&) { WriteFileBytes(log(db), "garbage"); },
         OpenResult::kIndexDamaged, zef::kContentIntact, zef::kContentIntact,
         StoreHealth::kIndexDamaged, 2},
        {"log missing", [&](const fs::path& db, const std::string&) { fs::remove(log(db)); },
         OpenResult::kIndexMissing, zef::kContentIntact, zef::kContentIntact,
         StoreHealth::kIndexMissing, 2},
        {"a folder in place of the log",
         [&](const fs::path& db, const std::string&) {
             fs::remove(log(db));
             fs::create_directory(log(db));
         },
         OpenResult::kIndexDamaged, zef::kContentIntact, zef::kContentIntact,
         StoreHealth::kIndexDamaged, 2},
        {"content of b with a byte flipped",
         [&](const fs::path& db, const std::string& b) { flipAt(db / "content" / b, 3); },
         OpenResult::kOk, zef::kContentIntact, zef::kContentIntact, StoreHealth::kContentDamaged, 2},
        {"content of b cut short",
         [](const fs::path& db, const std::string& b) { fs::resize_file(db / "content" / b, 10); },
         OpenResult::kOk, zef::kContentIntact, zef::kContentDamaged, StoreHealth::kContentDamaged, 2},
        {"content of b grown",
         [](const fs::path& db, const std::string& b) {
             std::ofstream(db / "content" / b, std::ios::app) << "more";
         },
         OpenResult::kOk, zef::kContentIntact, zef::kContentDamaged, StoreHealth::kContentDamaged, 2},
        {"content of b missing",
         [](const fs::path& db, const std::string& b) { fs::remove(db / "content" / b); },
         OpenResult::kOk, zef::kContentIntact, zef::kContentMissing, StoreHealth::kContentMissing, 1},
        {"a folder in place of b's content",
         [](const fs::path& db, const std::string& b) {
             fs::remove(db / "content" / b);
             fs::create_directory(db / "content" / b);
         },
         OpenResult::kOk, zef::kContentIntact, zef::kContentMissing, StoreHealth::kContentMissing, 1},
    };
    for (const Case& c : cases) {
        fs::remove_all(m_db);
        uint32_t a = 0;
        uint32_t b = 0;
        std::string contentOfB;
        {
            EditionStore store(zef::SystemFileTable(), m_log);
            ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits));
            a = Add(store, Source("a", RandomBytes(5000, 1)));
            b = Add(store, Source("b", RandomBytes(6000, 2)));
            Edition edition;
            ASSERT_TRUE(store.Find(b, edition));
            contentOfB = fs::path(store.ContentPath(edition)).filename().string();
        }
        c.damage(m_db, contentOfB);
        zef::StoreReport report;
        EXPECT_EQ(c.checked, zef::CheckStore(m_db, report)) << c.name;
        if (c.checked == StoreHealth::kContentDamaged || c.checked == StoreHealth::kContentMissing) {
            ASSERT_EQ(1u, report.problems.size()) << c.name;
            EXPECT_EQ(0u, report.problems[0].find(u"edition " + zef::Decimal(b) + u" of ")) << c.name;
        }
        std::unique_ptr<EditionStore> store(new EditionStore(zef::SystemFileTable(), m_log));
        EXPECT_EQ(c.opened, store->Open(m_db, m_limits)) << c.name;
        if (c.opened != OpenResult::kOk) {
            EXPECT_EQ(StoreHealth::kHealthy, zef::RepairStore(m_db, report)) << c.name;
            EXPECT_EQ(2u, report.editions) << c.name;
            store.reset(new EditionStore(zef::SystemFileTable(), m_log));
            ASSERT_EQ(OpenResult::kOk, store->Open(m_db, m_limits)) << c.name;
        }
        const auto listedA = store->EditionsOfPath((m_root / "a").u16string(), nullptr, nullptr);
        const auto listedB = store->EditionsOfPath((m_root / "b").u16string(), nullptr, nullptr);
        ASSERT_EQ(1u, listedA.size()) << c.name;
        ASSERT_EQ(1u, listedB.size()) << c.name;
        EXPECT_EQ(a, listedA[0].editionId) << c.name;
        EXPECT_EQ(b, listedB[0].editionId) << c.name;
        EXPECT_EQ(c.a, listedA[0].state) << c.name;
        EXPECT_EQ(c.b, listedB[0].state) << c.name;
        EXPECT_EQ(c.contentFilesLeft, ContentFiles() - (fs::is_directory(fs::path(m_db) / "content" / contentOfB) ? 1 : 0)) << c.name;
        // Ids are never given twice: the next edition comes after both.
        EXPECT_LT(b, Add(*store, Source("c", "next"))) << c.name;
    }
}

// The log's replay over the damage a crash or a disk can do to it: a torn tail is cut and the
// records before it kept; a bad record with good ones after it is damage in the middle, named
// by its offset; every good record is read back as written.
TEST(EditionLogTest, ReplayCutsATornTailAndRefusesDamageInTheMiddle) {
    std::vector<uint8_t> log(zef::kLogMagic, zef::kLogMagic + 8);
    std::vector<size_t> starts;
    for (uint32_t id = 1; id <= 3; ++id) {
        zef::LogRecord record;
        record.edition.editionId = id;
        record.edition.path = u"/data/file" + zef::Decimal(id);
        record.edition.size = id * 100;
        record.edition.ownershipKnown = true;
        record.edition.mode = 0640;
        starts.push_back(log.size());
        const std::vector<uint8_t> frame = zef::EncodeRecord(record);
        log.insert(log.end(), frame.begin(), frame.end());
    }
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
        zef::LogState state;
        uint64_t records;
        const char16_t* reasonHas;
    };
    const Case cases[] = {
        {"whole", [](std::vector<uint8_t>&) {}, zef::LogState::kWhole, 3, u""},
        {"last record cut", [](std::vector<uint8_t>& b) { b.resize(b.size() - 3); },
         zef::LogState::kTornTail, 2, u"never finished"},
        {"last record's length cut", [&](std::vector<uint8_t>& b) { b.resize(starts[2] + 2); },
         zef::LogState::kTornTail, 2, u"never finished"},
        {"last record flipped", [](std::vector<uint8_t>& b) { b[b.size() - 4] ^= 1; },
         zef::LogState::kTornTail, 2, u"never finished"},
        {"zeros after the last record", [](std::vector<uint8_t>& b) { b.resize(b.size() + 4096); },
         zef::LogState::kTornTail, 3, u"never finished"},
        {"middle record flipped", [&](std::vector<uint8_t>& b) { b[starts[1] + 12] ^= 1; },
         zef::LogState::kDamaged, 1, u"at byte "},
        {"middle record's length changed", [&](std::vector<uint8_t>& b) { b[starts[1]] ^= 0x10; },
         zef::LogState::kDamaged, 1, u"at byte "},
        {"magic altered", [](std::vector<uint8_t>& b) { b[0] = 'X'; }, zef::LogState::kDamaged, 0,
         u"does not begin"},
        {"magic cut short", [](std::vector<uint8_t>& b) { b.resize(5); }, zef::LogState::kTornTail,
         0, u"never written"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = log;
        c.damage(bytes);
        std::vector<zef::Edition> read;
        const zef::LogScan scan = zef::ScanLog(bytes.data(), bytes.size(), [&](const zef::LogRecord& r) {
            read.push_back(r.edition);
            return true;
        });
        EXPECT_EQ(c.state, scan.state) << c.name;
        EXPECT_EQ(c.records, scan.records) << c.name;
        EXPECT_NE(std::u16string::npos, scan.reason.find(c.reasonHas)) << c.name;
        if (c.state == zef::LogState::kDamaged && c.records == 1) {
            EXPECT_NE(std::u16string::npos, scan.reason.find(zef::Decimal(starts[1]))) << c.name;
        }
        for (size_t i = 0; i < read.size(); ++i) {
            EXPECT_EQ(i + 1, read[i].editionId) << c.name;
            EXPECT_EQ(u"/data/file" + zef::Decimal(i + 1), read[i].path) << c.name;
            EXPECT_EQ(0640u, read[i].mode) << c.name;
        }
    }
}

TEST_F(StoreTest, OneStorePerFolderAndTheNextKeepsWhatTheLastLeft) {
    EditionStore first(zef::SystemFileTable(), m_log);
    WriteFileBytes(m_root / "plainfile", "x");
    EXPECT_EQ(OpenResult::kFolderUnusable, first.Open((m_root / "plainfile" / "db").u16string(), m_limits));
    EXPECT_EQ(OpenResult::kFolderUnusable, first.Open(u"", m_limits));
    ASSERT_EQ(OpenResult::kOk, first.Open(m_db, m_limits));
    EXPECT_EQ(OpenResult::kLocked, first.Open(m_db, m_limits));  // open already
    const uint32_t id = Add(first, Source("f", "content"));
    EditionStore second(zef::SystemFileTable(), m_log);
    EXPECT_EQ(OpenResult::kLocked, second.Open(m_db, m_limits));
    // A version staged with its note, as a killed service leaves it.
    const std::u16string staged = first.NewStagingPath(u"m");
    WriteFileBytes(fs::path(staged), "before the write");
    zef::EditionOrigin origin;
    origin.path = (m_root / "g").u16string();
    origin.processId = 77;
    origin.uniqueId = 4242;
    origin.time = 1234;
    origin.ownershipKnown = true;  // the source's, not the staged copy's
    origin.ownership = {1000, 1000, 0640};
    first.NoteStaged(staged, origin);
    first.Close();
    fs::permissions(fs::path(m_db) / "content", fs::perms::others_read, fs::perm_options::add);
    // Leftovers of a killed instance: a copy half way in (no note), content that no index names.
    WriteFileBytes(fs::path(m_db) / "staging" / "b9.tmp", "half");
    WriteFileBytes(fs::path(m_db) / "content" / "00ff-0", "orphan");
    ASSERT_EQ(OpenResult::kOk, second.Open(m_db, m_limits));
    EXPECT_EQ("content", Content(second, id));
    const auto kept = second.EditionsOfPath(origin.path, nullptr, nullptr);
    ASSERT_EQ(1u, kept.size());
    EXPECT_EQ("before the write", Content(second, kept[0].editionId));
    EXPECT_EQ(zef::kOperationBeforeWrite, kept[0].operation);
    EXPECT_EQ(4242u, kept[0].uniqueId);
    EXPECT_EQ(1234u, kept[0].time);
    EXPECT_EQ(77u, kept[0].processId);
    EXPECT_TRUE(kept[0].ownershipKnown);
    EXPECT_EQ(1000u, kept[0].owner);
    EXPECT_EQ(0640u, kept[0].mode);
    EXPECT_LT(id, kept[0].editionId);
    EXPECT_TRUE(fs::is_empty(fs::path(m_db) / "staging"));
    EXPECT_EQ("orphan", ReadFileBytes(fs::path(m_db) / "content" / "00ff-0"));  // within its grace
#ifndef _WIN32
    // Private: a folder opened to others is closed again at the next open.
    for (const char* folder : {"", "content", "editions", "staging"})
        EXPECT_EQ(fs::perms::none, fs::status(fs::path(m_db) / folder).permissions() &
                                       (fs::perms::group_all | fs::perms::others_all)) << folder;
#endif
}

// Damage in the middle of the journal of staged versions: the copies it may name are no
// proof of garbage, so none is deleted; the notes before the damage still become editions.
TEST_F(StoreTest, ADamagedJournalOfStagedVersionsDeletesNoCopy) {
    std::vector<std::u16string> staged;
    {
        EditionStore store(zef::SystemFileTable(), m_log);
        ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits));
        for (const char* name : {"a", "b", "c"}) {
            staged.push_back(store.NewStagingPath(u"m"));
            WriteFileBytes(fs::path(staged.back()), std::string("staged ") + name);
            zef::EditionOrigin origin;
            origin.path = (m_root / name).u16string();
            store.NoteStaged(staged.back(), origin);
        }
        store.Close();  // a killed service: the notes stay, nothing is kept yet
    }
    const fs::path journal = fs::path(m_db) / "staged.log";
    std::string bytes = ReadFileBytes(journal);
    ASSERT_GT(bytes.size(), 64u);
    bytes[bytes.size() / 2] ^= 0x40;
    WriteFileBytes(journal, bytes);

    EditionStore reopened(zef::SystemFileTable(), m_log);
    ASSERT_EQ(OpenResult::kOk, reopened.Open(m_db, m_limits));
    std::string lines;
    for (const std::string& line : m_log.RecentLines()) lines += line + "\n";
    EXPECT_NE(std::string::npos, lines.find("is damaged")) << lines;
    size_t left = 0, kept = 0;
    for (size_t i = 0; i < staged.size(); ++i) {
        const std::string name(1, static_cast<char>('a' + i));
        const auto editions = reopened.EditionsOfPath((m_root / name).u16string(), nullptr, nullptr);
        kept += editions.size();
        if (!editions.empty()) {
            EXPECT_EQ("staged " + name, Content(reopened, editions[0].editionId));
        }
        left += fs::exists(fs::path(staged[i]));
    }
    EXPECT_GE(kept, 1u);                    // the first note precedes the damage
    EXPECT_EQ(staged.size(), kept + left);  // every copy is an edition or still staged
}

// Why an edition is not made, each with its result and the words of its line.
TEST_F(StoreTest, AnEditionNotMadeSaysWhy) {
    static platform::FileFailure failure;
    struct Case {
        const char* name;
        const char* source;  // the source's bytes, or null for a source that does not exist
        uint64_t limit;      // the largest source taken
        bool writesFail;
        platform::FileFailure failure;
        AddResult result;
        const char* line;
    };
    const Case cases[] = {
        {"missing file", nullptr, UINT64_MAX, false, platform::FileFailure::kMissing,
         AddResult::kSourceUnreadable, "it does not exist"},
        {"unreadable file", "bytes", UINT64_MAX, true, platform::FileFailure::kDenied,
         AddResult::kSourceUnreadable, "permission to read it is denied"},
        {"full disk", "bytes", UINT64_MAX, true, platform::FileFailure::kDiskFull, AddResult::kDiskFull,
         "the disk that holds the database is full"},
        {"database not writable", "bytes", UINT64_MAX, true, platform::FileFailure::kDenied,
         AddResult::kStoreFailed, "may not be written"},
        {"a byte over the limit", "bytes", 4, false, platform::FileFailure::kOther, AddResult::kTooLarge,
         "5 bytes are over the limit of 4 bytes"},
        {"at the limit", "bytes", 5, false, platform::FileFailure::kOther, AddResult::kAdded, nullptr},
    };
    for (const Case& c : cases) {
        fs::remove_all(m_db);
        failure = c.failure;
        // The store keeps the table it was given: the faults come once it is open.
        zef::FileTable table = zef::SystemFileTable();
        EditionStore store(table, m_log);
        ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits)) << c.name;
        table.lastFailure = [] { return failure; };
        if (c.writesFail) table.write = [](zef::FileHandle, const void*, uint32_t) { return false; };
        if (std::string(c.name) == "unreadable file")
            table.openSource = [](const char16_t*, bool*) { return zef::kInvalidFile; };
        zef::EditionOrigin origin;
        origin.path = c.source != nullptr ? Source("source", c.source) : (m_root / "missing").u16string();
        EXPECT_EQ(c.result, store.AddFromFile(origin, c.limit, nullptr)) << c.name;
        if (c.line != nullptr) {
            EXPECT_NE(std::string::npos, m_log.RecentLines().back().find(c.line)) << c.name;
        }
    }
}

TEST_F(StoreTest, AReadOnlyDatabaseListsAndReadsButRefusesChanges) {
    uint32_t id = 0;
    {
        EditionStore store(zef::SystemFileTable(), m_log);
        ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits));
        id = Add(store, Source("kept", "kept bytes"));
    }
    zef::FileTable readOnly = zef::SystemFileTable();
    readOnly.createForWriting = [](const char16_t*) { return zef::kInvalidFile; };
    readOnly.openForAppending = [](const char16_t*) { return zef::kInvalidFile; };
    readOnly.createFolderTree = [](const char16_t*) { return 5u; };  // access denied
    readOnly.rename = [](const char16_t*, const char16_t*) { return false; };
    readOnly.replace = [](const char16_t*, const char16_t*) { return false; };
    readOnly.remove = [](const char16_t*) { return false; };
    readOnly.lastFailure = [] { return platform::FileFailure::kDenied; };
    const std::string log = ReadFileBytes(fs::path(m_db) / "editions.log");
    EditionStore store(readOnly, m_log);
    std::u16string why;
    ASSERT_EQ(OpenResult::kReadOnly, store.Open(m_db, m_limits, &why));
    EXPECT_TRUE(store.ReadOnly());
    EXPECT_EQ("kept bytes", Content(store, id));
    EXPECT_EQ(1u, store.EditionsOfPath((m_root / "kept").u16string(), nullptr, nullptr).size());
    zef::EditionOrigin origin;
    origin.path = Source("new", "new bytes");
    EXPECT_EQ(AddResult::kReadOnly, store.AddFromFile(origin, UINT64_MAX, nullptr));
    EXPECT_NE(std::string::npos, m_log.RecentLines().back().find("open read-only"));
    EXPECT_FALSE(store.Delete(id));
    store.Close();
    EXPECT_EQ(log, ReadFileBytes(fs::path(m_db) / "editions.log"));
}

TEST_F(StoreTest, ThreadsAddSearchAndDeleteAtOnce) {
    EditionStore store(zef::SystemFileTable(), m_log);
    ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits));
    constexpr int kThreads = 4;
    constexpr int kRounds = 12;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string name = "t" + std::to_string(t);
            const std::u16string path = (m_root / name).u16string();
            for (int r = 0; r < kRounds; ++r) {
                WriteFileBytes(m_root / name, RandomBytes(2000, static_cast<uint32_t>(t * 100 + r)));
                zef::EditionOrigin origin;
                origin.path = path;
                uint32_t id = 0;
                EXPECT_EQ(AddResult::kAdded, store.AddFromFile(origin, UINT64_MAX, &id));
                store.EditionsOfPath(path, nullptr, nullptr);
                store.StoredFiles(nullptr, nullptr);
                if (r % 3 == 0) {
                    EXPECT_TRUE(store.Delete(id));
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(static_cast<size_t>(kThreads), store.StoredFiles(nullptr, nullptr).size());
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(8u, store.CountOf((m_root / ("t" + std::to_string(t))).u16string()));
    }
    EXPECT_EQ(static_cast<size_t>(kThreads * 8), ContentFiles());
}

}  // namespace
