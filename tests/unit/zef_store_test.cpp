// The engine's edition store against real folders: byte-for-byte round trips, content kept
// once, purges by quota and age, a crash at every step of an edition then a reopen, a corrupt
// index refused and kept, one store per folder, and many threads at once.
#include "reference/zef/edition_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

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

TEST_F(StoreTest, SameContentIsStoredOnceAndUnchangedContentMakesNoEdition) {
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

TEST_F(StoreTest, PurgesTakeTheOldestFirstByAgeAndByQuota) {
    struct Case {
        const char* name;
        uint32_t keepDays;
        uint64_t quota;
        std::vector<uint32_t> ageDays;  // one edition of 1000 bytes each, in this order
        std::vector<size_t> survivors;  // indexes into ageDays, newest first
    };
    const Case cases[] = {
        {"nothing to purge", 21, 1 << 20, {3, 2, 1}, {2, 1, 0}},
        {"too old", 21, 1 << 20, {40, 22, 20, 1}, {3, 2}},
        {"no age limit", 0, 1 << 20, {400, 1}, {1, 0}},
        {"over quota", 0, 2500, {3, 2, 1}, {2, 1}},
        {"both", 21, 1500, {30, 3, 2}, {2}},
    };
    const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    for (const Case& c : cases) {
        fs::remove_all(m_db);
        EditionStore store(zef::SystemFileTable(), m_log);
        ASSERT_EQ(OpenResult::kOk, store.Open(m_db, zef::StoreLimits{UINT64_MAX, 0})) << c.name;
        const std::u16string path = Source("aged", "");
        std::vector<uint32_t> ids;
        for (size_t i = 0; i < c.ageDays.size(); ++i) {
            WriteFileBytes(m_root / "aged", RandomBytes(1000, static_cast<uint32_t>(i + 10)));
            zef::EditionOrigin origin;
            origin.path = path;
            origin.time = now - c.ageDays[i] * 86400u;
            uint32_t id = 0;
            ASSERT_EQ(AddResult::kAdded, store.AddFromFile(origin, UINT64_MAX, &id));
            ids.push_back(id);
        }
        store.SetLimits(zef::StoreLimits{c.quota, c.keepDays}, now);
        std::vector<uint32_t> expected;
        for (size_t index : c.survivors) expected.push_back(ids[index]);
        std::vector<uint32_t> kept;
        for (const Edition& e : store.EditionsOfPath(path, nullptr, nullptr)) kept.push_back(e.editionId);
        EXPECT_EQ(expected, kept) << c.name;
        EXPECT_EQ(c.survivors.size(), ContentFiles()) << c.name;
        const zef::PurgeRecord purges = store.PurgesOf(path);
        EXPECT_EQ(c.ageDays.size() - c.survivors.size(), purges.count) << c.name;
        if (purges.count != 0) {
            EXPECT_EQ(now - c.ageDays[0] * 86400u, purges.firstCreateTime) << c.name;
            EXPECT_EQ(now, purges.lastPurgeTime) << c.name;
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
// before are all there and whole, the interrupted one is either whole or absent, and no
// content is left that no edition names.
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
        EXPECT_EQ(2u + third.size(), ContentFiles()) << "crash at " << crashAt;
        EXPECT_FALSE(fs::exists(fs::path(m_db) / "index.zef.new"));
    }
    EXPECT_GE(steps, 5);  // create, write, flush, move in, index written and renamed
}

TEST_F(StoreTest, ACorruptIndexIsRefusedAndKeptAside) {
    uint32_t id = 0;
    {
        EditionStore store(zef::SystemFileTable(), m_log);
        ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits));
        id = Add(store, Source("kept", "precious"));
    }
    const fs::path index = fs::path(m_db) / "index.zef";
    struct Case {
        const char* name;
        void (*damage)(std::string&);
    };
    const Case cases[] = {
        {"one byte flipped", [](std::string& b) { b[b.size() / 2] ^= 0x40; }},
        {"cut short", [](std::string& b) { b.resize(b.size() - 7); }},
        {"not an index", [](std::string& b) { b = "garbage"; }},
    };
    const std::string intact = ReadFileBytes(index);
    for (const Case& c : cases) {
        std::string damaged = intact;
        c.damage(damaged);
        WriteFileBytes(index, damaged);
        EditionStore store(zef::SystemFileTable(), m_log);
        EXPECT_EQ(OpenResult::kIndexUnreadable, store.Open(m_db, m_limits)) << c.name;
        std::vector<fs::path> aside;
        for (const auto& entry : fs::directory_iterator(m_db)) {
            if (entry.path().filename().string().rfind("index.zef.unreadable-", 0) == 0)
                aside.push_back(entry.path());
        }
        ASSERT_EQ(1u, aside.size()) << c.name;
        EXPECT_EQ(damaged, ReadFileBytes(aside[0])) << c.name;
        fs::remove(aside[0]);
        const auto lines = m_log.RecentLines();
        EXPECT_NE(std::string::npos, lines.back().find("is refused")) << c.name;
        EXPECT_NE(std::string::npos, lines.back().find("kept for inspection")) << c.name;
    }
    // Put back, the index opens with its edition.
    WriteFileBytes(index, intact);
    EditionStore store(zef::SystemFileTable(), m_log);
    ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits));
    EXPECT_EQ("precious", Content(store, id));
}

TEST_F(StoreTest, OneStorePerFolderAndTheNextCopesWithWhatTheLastLeft) {
    EditionStore first(zef::SystemFileTable(), m_log);
    ASSERT_EQ(OpenResult::kOk, first.Open(m_db, m_limits));
    const uint32_t id = Add(first, Source("f", "content"));
    EditionStore second(zef::SystemFileTable(), m_log);
    EXPECT_EQ(OpenResult::kLocked, second.Open(m_db, m_limits));
    first.Close();
    // Leftovers of a killed instance: an index never renamed, a copy half way in, content
    // that no index names.
    WriteFileBytes(fs::path(m_db) / "index.zef.new", "torn");
    WriteFileBytes(fs::path(m_db) / "staging" / "b9.tmp", "half");
    WriteFileBytes(fs::path(m_db) / "content" / "00ff-0", "orphan");
    ASSERT_EQ(OpenResult::kOk, second.Open(m_db, m_limits));
    EXPECT_EQ("content", Content(second, id));
    EXPECT_FALSE(fs::exists(fs::path(m_db) / "index.zef.new"));
    EXPECT_FALSE(fs::exists(fs::path(m_db) / "staging" / "b9.tmp"));
    EXPECT_FALSE(fs::exists(fs::path(m_db) / "content" / "00ff-0"));
}

TEST_F(StoreTest, AnUnusableFolderOrSourceGetsAClearResult) {
    EditionStore store(zef::SystemFileTable(), m_log);
    WriteFileBytes(m_root / "plainfile", "x");
    EXPECT_EQ(OpenResult::kFolderUnusable, store.Open((m_root / "plainfile" / "db").u16string(), m_limits));
    EXPECT_EQ(OpenResult::kFolderUnusable, store.Open(u"", m_limits));
    ASSERT_EQ(OpenResult::kOk, store.Open(m_db, m_limits));
    EXPECT_EQ(OpenResult::kLocked, store.Open(m_db, m_limits));  // open already
    zef::EditionOrigin missing;
    missing.path = (m_root / "missing").u16string();
    EXPECT_EQ(AddResult::kSourceUnreadable, store.AddFromFile(missing, UINT64_MAX, nullptr));
    zef::EditionOrigin large;
    large.path = Source("large", std::string(100, 'l'));
    EXPECT_EQ(AddResult::kTooLarge, store.AddFromFile(large, 99, nullptr));
    EXPECT_EQ(AddResult::kAdded, store.AddFromFile(large, 100, nullptr));
    EXPECT_NE(std::string::npos, m_log.RecentLines()[m_log.RecentLines().size() - 2].find("larger than the bound"));
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
