// The after-the-fact journal of the reference host: which files a flagged burst changed, removed
// or renamed, the backup each file had before the burst, the edition a rollback restores, and
// the host's own restores, which are not noted.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "reference/pellumhost/protection/change_journal.h"

namespace {

using pellumhost::BurstFile;
using pellumhost::ChangeJournal;
using pellumhost::EditionBefore;
using Versions = std::vector<std::pair<uint32_t, uint32_t>>;  // (version id, time), newest first

struct EditionCase {
    const char* name;
    Versions versions;
    uint32_t lastBackupBefore;
    uint32_t expected;
};

TEST(EditionBefore, TakesTheNewestEditionNoLaterThanTheLastBackupBeforeTheBurst) {
    const EditionCase cases[] = {
        {"the burst's own edition is a second later", {{7, 101}, {3, 100}}, 100, 3},
        {"several burst editions, then the baseline", {{9, 103}, {8, 102}, {2, 100}, {1, 90}}, 100, 2},
        {"an edition of the same second as the backup is that backup", {{4, 100}, {2, 99}}, 100, 4},
        {"memory versions (id 0) cannot be restored by edition", {{0, 99}, {5, 98}}, 100, 5},
        {"nothing old enough", {{6, 105}, {5, 104}}, 100, 0},
        {"no backup before the burst: the file is new", {{6, 105}, {1, 50}}, 0, 0},
        {"no versions at all", {}, 100, 0},
    };
    for (const EditionCase& c : cases)
        EXPECT_EQ(c.expected, EditionBefore(c.versions, c.lastBackupBefore)) << c.name;
}

TEST(ChangeJournal, APathIsBackedUpAgainOnlyInALaterSecond) {
    ChangeJournal journal;
    EXPECT_EQ(0u, journal.NextBackupSecond("/w/a"));
    journal.NoteBackup("/w/a", 100);
    journal.NoteBackup("/w/a", 104);
    EXPECT_EQ(105u, journal.NextBackupSecond("/w/a"));
    EXPECT_EQ(0u, journal.NextBackupSecond("/w/b"));
}

// A baseline at second 100, an ordinary edit of a (backed up at 101) long before the burst,
// then the burst of the unknown writer 0: a, b, a again and a new file c; meanwhile writer 9
// changes d. The burst's after-the-fact backups (102, 103) are newer than its first change.
class BurstTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* path : {"/w/a", "/w/b", "/w/d"}) m_journal.NoteBackup(path, 100);
        m_journal.NoteChange(0, "/w/a", 10.0);
        m_journal.NoteBackup("/w/a", 101);
        m_journal.NoteChange(0, "/w/a", 50.0);  // the burst's first change
        m_journal.NoteBackup("/w/a", 102);
        m_journal.NoteChange(9, "/w/d", 50.5);
        m_journal.NoteBackup("/w/d", 102);
        m_journal.NoteChange(0, "/w/b", 51.0);
        m_journal.NoteBackup("/w/b", 102);
        m_journal.NoteChange(0, "/w/a", 51.5);
        m_journal.NoteBackup("/w/a", 103);
        m_journal.NoteChange(0, "/w/c", 52.0);
        m_journal.NoteBackup("/w/c", 103);
    }
    ChangeJournal m_journal;
};

TEST_F(BurstTest, EachFileOnceInTheOrderFirstChangedWithItsBackupBeforeTheBurst) {
    const std::vector<BurstFile> burst = m_journal.BurstOf(0, 52.0, 10.0);
    ASSERT_EQ(3u, burst.size());
    EXPECT_EQ("/w/a", burst[0].path);
    EXPECT_EQ(101u, burst[0].lastBackupBefore);  // the ordinary edit, not the burst's 102 or 103
    EXPECT_EQ("/w/b", burst[1].path);
    EXPECT_EQ(100u, burst[1].lastBackupBefore);  // the baseline, not the burst's 102
    EXPECT_EQ("/w/c", burst[2].path);
    EXPECT_EQ(0u, burst[2].lastBackupBefore);    // created by the burst: nothing to go back to
}

TEST_F(BurstTest, TheWindowBeforeTheFlagDecidesWhereTheBurstBegins) {
    // A flag at 60 with a 9.25 s window begins at 51: a's first burst change (50) is outside,
    // so b's backup of 100 and a's of 102 are the ones before the burst.
    const std::vector<BurstFile> late = m_journal.BurstOf(0, 60.0, 9.25);
    ASSERT_EQ(3u, late.size());
    EXPECT_EQ("/w/b", late[0].path);
    EXPECT_EQ(100u, late[0].lastBackupBefore);
    EXPECT_EQ("/w/a", late[1].path);
    EXPECT_EQ(102u, late[1].lastBackupBefore);
    // A window long enough reaches the ordinary edit at 10, and the burst begins there.
    const std::vector<BurstFile> wide = m_journal.BurstOf(0, 52.0, 60.0);
    ASSERT_FALSE(wide.empty());
    EXPECT_EQ("/w/a", wide[0].path);
    EXPECT_EQ(100u, wide[0].lastBackupBefore);
}

TEST_F(BurstTest, AnotherWritersChangesStayOutAndAWriterWithoutChangesHasNoBurst) {
    const std::vector<BurstFile> other = m_journal.BurstOf(9, 52.0, 10.0);
    ASSERT_EQ(1u, other.size());
    EXPECT_EQ("/w/d", other[0].path);
    EXPECT_EQ(100u, other[0].lastBackupBefore);
    EXPECT_TRUE(m_journal.BurstOf(4, 52.0, 10.0).empty());
    EXPECT_TRUE(m_journal.BurstOf(0, 100.0, 10.0).empty());  // every change older than the window
}

// One change seen by an after-the-fact source: 'w' written (and backed up in second backup,
// when not 0), 'r' removed, 'n' renamed from path to to.
struct Seen {
    char kind;
    uint32_t writer;
    const char* path;
    const char* to;
    double at;
    uint32_t backup;
};

void Replay(ChangeJournal& journal, const std::vector<Seen>& changes) {
    for (const Seen& c : changes) {
        if (c.kind == 'w') journal.NoteChange(c.writer, c.path, c.at);
        else if (c.kind == 'r') journal.NoteRemoved(c.writer, c.path, c.at);
        else journal.NoteRenamed(c.writer, c.path, c.to, c.at);
        if (c.backup != 0) journal.NoteBackup(c.kind == 'n' ? c.to : c.path, c.backup);
    }
}

struct GoneCase {
    const char* name;
    std::vector<Seen> changes;
    std::vector<BurstFile> expected;  // the burst of writer 0 flagged at 60 with a 10 s window
};

TEST(ChangeJournal, FilesTheBurstRemovedOrRenamedAwayComeBackUnderTheirOwnPath) {
    const GoneCase cases[] = {
        {"written, then removed: back from the baseline",
         {{'w', 0, "/w/a", "", 50, 101}, {'r', 0, "/w/a", "", 51, 0}},
         {{"/w/a", 100, true}}},
        {"removed without a write",
         {{'r', 0, "/w/b", "", 50, 0}},
         {{"/w/b", 100, true}}},
        {"scrambled, then renamed away: the new name was created by the burst",
         {{'w', 0, "/w/a", "", 50, 101}, {'n', 0, "/w/a", "/w/a.locked", 51, 102}},
         {{"/w/a", 100, true}, {"/w/a.locked", 0, false}}},
        {"a scrambled copy renamed over the original",
         {{'w', 0, "/w/a.tmp", "", 50, 101}, {'n', 0, "/w/a.tmp", "/w/a", 51, 102}},
         {{"/w/a.tmp", 0, true}, {"/w/a", 100, false}}},
        {"created and removed again by the burst: nothing to go back to",
         {{'w', 0, "/w/new", "", 50, 101}, {'r', 0, "/w/new", "", 51, 0}},
         {{"/w/new", 0, true}}},
        {"removed, then written again under its own name",
         {{'r', 0, "/w/a", "", 50, 0}, {'w', 0, "/w/a", "", 51, 101}},
         {{"/w/a", 100, false}}},
        {"another writer's removal and rename stay out",
         {{'r', 9, "/w/b", "", 50, 0}, {'n', 9, "/w/c", "/w/d", 50.5, 101}, {'w', 0, "/w/a", "", 51, 101}},
         {{"/w/a", 100, false}}},
        {"a removal before the window is not the burst's",
         {{'r', 0, "/w/b", "", 40, 0}, {'w', 0, "/w/a", "", 50, 101}},
         {{"/w/a", 100, false}}},
        {"a removal after the flag still belongs to the burst",
         {{'w', 0, "/w/a", "", 50, 101}, {'r', 0, "/w/b", "", 65, 0}},
         {{"/w/a", 100, false}, {"/w/b", 100, true}}},
    };
    for (const GoneCase& c : cases) {
        ChangeJournal journal;
        for (const char* path : {"/w/a", "/w/b", "/w/c"}) journal.NoteBackup(path, 100);
        Replay(journal, c.changes);
        const std::vector<BurstFile> burst = journal.BurstOf(0, 60.0, 10.0);
        ASSERT_EQ(c.expected.size(), burst.size()) << c.name;
        for (size_t i = 0; i < burst.size(); ++i) {
            EXPECT_EQ(c.expected[i].path, burst[i].path) << c.name;
            EXPECT_EQ(c.expected[i].lastBackupBefore, burst[i].lastBackupBefore) << c.name;
            EXPECT_EQ(c.expected[i].gone, burst[i].gone) << c.name;
        }
    }
}

// The host restores /w/a and /w/b from second 60 on; done at 62, quiet until 63.
enum class Phase { kRestoring, kQuiet, kAfter };

struct OwnRestoreCase {
    const char* name;
    Phase phase;
    Seen change;
    bool ownRestore;
};

TEST(ChangeJournal, ChangesToThePathsBeingRestoredAreTheHostsOwnUntilTheQuietTimeEnds) {
    const OwnRestoreCase cases[] = {
        {"a restored file written while restoring", Phase::kRestoring, {'w', 0, "/w/a", "", 61, 0}, true},
        {"another file written while restoring", Phase::kRestoring, {'w', 0, "/w/c", "", 61, 0}, false},
        {"the restore's own file renamed over its target", Phase::kRestoring,
         {'n', 0, "/w/~zef12-1.tmp", "/w/b", 61, 0}, true},
        {"a restored file renamed away while restoring", Phase::kRestoring,
         {'n', 0, "/w/a", "/w/a.locked", 61, 0}, true},
        {"a restored file written in the quiet time", Phase::kQuiet, {'w', 0, "/w/a", "", 62.5, 0}, true},
        {"a restored file removed in the quiet time", Phase::kQuiet, {'r', 0, "/w/b", "", 62.9, 0}, true},
        {"a restored file written after the quiet time", Phase::kAfter, {'w', 0, "/w/a", "", 63.5, 0}, false},
        {"a restored file removed after the quiet time", Phase::kAfter, {'r', 0, "/w/b", "", 64, 0}, false},
    };
    for (const OwnRestoreCase& c : cases) {
        ChangeJournal journal;
        journal.IgnoreOwnRestores({"/w/a", "/w/b"});
        if (c.phase != Phase::kRestoring) journal.OwnRestoresDone(63.0);
        bool noted = false;
        if (c.change.kind == 'w') noted = journal.NoteChange(0, c.change.path, c.change.at);
        else if (c.change.kind == 'r') noted = journal.NoteRemoved(0, c.change.path, c.change.at);
        else noted = journal.NoteRenamed(0, c.change.path, c.change.to, c.change.at);
        EXPECT_EQ(!c.ownRestore, noted) << c.name;
        EXPECT_EQ(c.ownRestore ? 1u : 0u, journal.TakeIgnoredCount()) << c.name;
        EXPECT_EQ(0u, journal.TakeIgnoredCount()) << c.name << ": the count starts again";
        EXPECT_EQ(c.ownRestore, journal.BurstOf(0, c.change.at, 10.0).empty()) << c.name;
    }
}

TEST(ChangeJournal, ARollbackAfterTheQuietTimeIgnoresOnlyItsOwnPaths) {
    ChangeJournal journal;
    journal.IgnoreOwnRestores({"/w/a"});
    journal.OwnRestoresDone(63.0);
    EXPECT_TRUE(journal.NoteChange(0, "/w/a", 70.0));  // the first rollback's time is over
    journal.IgnoreOwnRestores({"/w/b"});
    EXPECT_TRUE(journal.NoteChange(0, "/w/a", 71.0));
    EXPECT_FALSE(journal.NoteChange(0, "/w/b", 71.0));
    EXPECT_EQ(1u, journal.TakeIgnoredCount());
}

}  // namespace
