// The after-the-fact journal of the reference host: which files a flagged burst changed, the
// backup each file had before the burst, and the edition a rollback restores.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "reference/pellumhost/change_journal.h"

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

}  // namespace
