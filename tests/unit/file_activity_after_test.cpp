// The after-the-fact file source: what its reporter makes of the directory changes (settled
// writes, removals, renames, folders, the folder read again after an overflow), what a folder
// read again differs from what was seen before, and the source itself on the platform it runs
// on (inotify on Linux, ReadDirectoryChangesW under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/directory_changes.h"
#include "reference/pellumhost/protection/change_reporter.h"
#include "reference/pellumhost/protection/file_activity.h"
#include "reference/pellumhost/protection/folder_snapshot.h"
#include "tests/fakes/activity_recorder.h"
#include "tests/fakes/test_folder.h"

namespace fs = std::filesystem;
using pellumhost::CompareSnapshots;
using pellumhost::FolderSnapshot;

namespace {

struct SnapshotCase {
    const char* name;
    FolderSnapshot seen, now;
    std::vector<std::u16string> changed, removed;
};

TEST(FolderSnapshot, AFolderReadAgainTellsWhatChangedSinceItWasSeen) {
    const SnapshotCase cases[] = {
        {"nothing changed", {{u"/w/a", {10, 5}}}, {{u"/w/a", {10, 5}}}, {}, {}},
        {"another size", {{u"/w/a", {10, 5}}}, {{u"/w/a", {11, 5}}}, {u"/w/a"}, {}},
        {"the same size written again", {{u"/w/a", {10, 5}}}, {{u"/w/a", {10, 6}}}, {u"/w/a"}, {}},
        {"a new file", {{u"/w/a", {10, 5}}}, {{u"/w/a", {10, 5}}, {u"/w/b", {1, 1}}}, {u"/w/b"}, {}},
        {"a file gone", {{u"/w/a", {10, 5}}, {u"/w/b", {1, 1}}}, {{u"/w/b", {1, 1}}}, {}, {u"/w/a"}},
        {"a rename is one gone and one new", {{u"/w/a", {10, 5}}}, {{u"/w/a.locked", {10, 5}}},
         {u"/w/a.locked"}, {u"/w/a"}},
        {"nothing seen yet", {}, {{u"/w/a", {10, 5}}}, {u"/w/a"}, {}},
    };
    for (const SnapshotCase& c : cases) {
        const pellumhost::SnapshotDifference difference = CompareSnapshots(c.seen, c.now);
        EXPECT_EQ(c.changed, difference.changed) << c.name;
        EXPECT_EQ(c.removed, difference.removed) << c.name;
    }
}

using platform::ChangeAction;
using Clock = pellumhost::ChangeReporter::Clock;

// A watched folder holding a.txt, sub/b.txt and sub/c.txt, seen by a reporter when it starts.
class ReporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = MakeTestFolder("change-reporter");
        fs::create_directories(m_folder / "sub");
        WriteFileBytes(m_folder / "a.txt", "alpha");
        WriteFileBytes(m_folder / "sub" / "b.txt", "bravo");
        WriteFileBytes(m_folder / "sub" / "c.txt", "charlie");
    }
    void TearDown() override { fs::remove_all(m_folder); }

public:
    std::u16string Path(const char* relative) const {
        return (m_folder / fs::path(relative).make_preferred()).u16string();
    }

protected:
    fs::path m_folder;
};

// What happens under the folder (on its disk, and as the directory reader tells it).
struct ReporterCase {
    const char* name;
    std::function<void(const ReporterTest&, const fs::path&, pellumhost::ChangeReporter&)> happen;
    std::vector<std::string> reported;  // after every write has settled
    const char* logged = "";            // a part of the log
};

TEST_F(ReporterTest, TellsEachChangeOnceAndWhatAFolderReadAgainFinds) {
    const Clock::time_point t0 = Clock::now();
    const auto written = [&](const ReporterTest& t, pellumhost::ChangeReporter& r, const char* p) {
        r.Apply({ChangeAction::kWritten, t.Path(p), {}}, t0);
    };
    const ReporterCase cases[] = {
        {"a write told three times is reported once",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             WriteFileBytes(f / "a.txt", "ALPHA!");
             for (int i = 0; i < 3; ++i) written(t, r, "a.txt");
         },
         {"w a.txt"}},
        {"a file removed and made again while it settles: removed, created and written together",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             WriteFileBytes(f / "a.txt", "ALPHA 2");
             r.Apply({ChangeAction::kRemoved, t.Path("a.txt"), {}}, t0);
             r.Apply({ChangeAction::kRemoved, t.Path("sub/b.txt"), {}}, t0);
             r.Apply({ChangeAction::kCreated, t.Path("a.txt"), {}}, t0);
             written(t, r, "a.txt");
         },
         {"r a.txt", "c a.txt", "w a.txt", "r sub/b.txt"}},
        {"a removal of a file seen is told once settled, of one never seen not at all",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             fs::remove(f / "a.txt");
             r.Apply({ChangeAction::kRemoved, t.Path("a.txt"), {}}, t0);
             r.Apply({ChangeAction::kRemoved, t.Path("never.txt"), {}}, t0);
         },
         {"r a.txt"}},
        {"a file seen and renamed: renamed, then written under its new name",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             fs::rename(f / "a.txt", f / "a.txt.locked");
             r.Apply({ChangeAction::kRenamed, t.Path("a.txt.locked"), t.Path("a.txt")}, t0);
         },
         {"n a.txt -> a.txt.locked", "w a.txt.locked"}},
        {"a file renamed and removed before it settled is removed under its new name",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             fs::remove(f / "a.txt");
             r.Apply({ChangeAction::kRenamed, t.Path("a.txt.locked"), t.Path("a.txt")}, t0);
             r.Apply({ChangeAction::kRemoved, t.Path("a.txt.locked"), {}}, t0);
         },
         {"n a.txt -> a.txt.locked", "r a.txt.locked"}},
        {"a creation told under a folder neither seen nor there (moved out since) is passed over",
         [&](const ReporterTest& t, const fs::path&, pellumhost::ChangeReporter& r) {
             r.Apply({ChangeAction::kCreated, t.Path("gone/late.txt"), {}}, t0);
         },
         {}},
        {"a copy renamed over a file while it settles is a write of that file only",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             WriteFileBytes(f / "d.tmp", "delta");
             written(t, r, "d.tmp");
             fs::rename(f / "d.tmp", f / "a.txt");
             r.Apply({ChangeAction::kRenamed, t.Path("a.txt"), t.Path("d.tmp")}, t0);
         },
         {"w a.txt"}},
        {"a removed folder names each file seen in it, then itself",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             fs::remove_all(f / "sub");
             r.Apply({ChangeAction::kRemoved, t.Path("sub"), {}}, t0);
         },
         {"r sub/b.txt", "r sub/c.txt", "R sub"}},
        {"a renamed folder is renamed as a folder, then each file seen in it",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             fs::rename(f / "sub", f / "moved");
             r.Apply({ChangeAction::kRenamed, t.Path("moved"), t.Path("sub")}, t0);
         },
         {"N sub -> moved", "n sub/b.txt -> moved/b.txt", "n sub/c.txt -> moved/c.txt",
          "w moved/b.txt", "w moved/c.txt"}},
        {"a file created is told at once and written once settled; told again, only written",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             WriteFileBytes(f / "new.txt", "november");
             r.Apply({ChangeAction::kCreated, t.Path("new.txt"), {}}, t0);
             written(t, r, "new.txt");
             r.Apply({ChangeAction::kCreated, t.Path("new.txt"), {}}, t0);
         },
         {"c new.txt", "w new.txt"}},
        {"a folder created, even empty, is created and removed as a folder",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             fs::create_directories(f / "made");
             r.Apply({ChangeAction::kCreated, t.Path("made"), {}}, t0);
             r.Apply({ChangeAction::kCreated, t.Path("made"), {}}, t0);
             fs::remove(f / "made");
             r.Apply({ChangeAction::kRemoved, t.Path("made"), {}}, t0);
         },
         {"C made", "R made"}},
        {"a file created and gone before it settled is created and removed, never written",
         [&](const ReporterTest& t, const fs::path&, pellumhost::ChangeReporter& r) {
             r.Apply({ChangeAction::kCreated, t.Path("brief.txt"), {}}, t0);
             r.Apply({ChangeAction::kRemoved, t.Path("brief.txt"), {}}, t0);
         },
         {"c brief.txt", "r brief.txt"}},
        {"a file gone again before it settled is not reported",
         [&](const ReporterTest& t, const fs::path&, pellumhost::ChangeReporter& r) {
             written(t, r, "gone.txt");
         },
         {}},
        {"after an overflow the folder, read again with the whole tree, tells what changed unseen",
         [&](const ReporterTest&, const fs::path& f, pellumhost::ChangeReporter& r) {
             WriteFileBytes(f / "a.txt", "a longer alpha");
             fs::remove_all(f / "sub");
             fs::create_directories(f / "made");
             WriteFileBytes(f / "made" / "e.txt", "echo");
             r.Rescan(t0);
         },
         {"C made", "c made/e.txt", "r sub/b.txt", "r sub/c.txt", "R sub", "w a.txt",
          "w made/e.txt"},
         "was read again: 2 files new or changed, 2 removed"},
    };
    for (const ReporterCase& c : cases) {
        TearDown();
        SetUp();
        ActivityRecorder recorder(m_folder);
        pellumhost::ChangeReporter reporter(m_folder.u16string(), recorder.Callbacks());
        c.happen(*this, m_folder, reporter);
        reporter.ReportSettled(t0 + pellumhost::kSettle / 2);
        for (const std::string& line : recorder.Lines())
            EXPECT_NE('w', line[0]) << c.name << ": a write reported before it settled: " << line;
        reporter.ReportSettled(t0 + pellumhost::kSettle);
        EXPECT_EQ(c.reported, recorder.Lines()) << c.name;
        EXPECT_NE(std::string::npos, recorder.Log().find(c.logged)) << c.name << ": " << recorder.Log();
        EXPECT_FALSE(reporter.Settling()) << c.name;
    }
}

TEST(AfterTheFactSource, ReportsCreationsWritesRemovalsAndRenamesUnderTheWholeTree) {
    const fs::path folder = MakeTestFolder("after-the-fact");
    fs::create_directories(folder / "sub");
    WriteFileBytes(folder / "kept.txt", "kept");
    WriteFileBytes(folder / "sub" / "doomed.txt", "doomed");
    WriteFileBytes(folder / "sub" / "moved.txt", "moved");
    ActivityRecorder recorder(folder);
    std::unique_ptr<pellumhost::FileActivitySource> source = pellumhost::MakeAfterTheFactSource();
    ASSERT_NE(nullptr, source);
    std::string error;
    ASSERT_TRUE(source->Start(folder.string(), recorder.Callbacks(), error)) << error;
    EXPECT_STREQ("after-the-fact", source->Kind());

    WriteFileBytes(folder / "sub" / "new.txt", "fresh");
    EXPECT_TRUE(recorder.WaitFor("c sub/new.txt")) << recorder.All();
    EXPECT_TRUE(recorder.WaitFor("w sub/new.txt")) << recorder.All();
    fs::remove(folder / "sub" / "doomed.txt");
    EXPECT_TRUE(recorder.WaitFor("r sub/doomed.txt")) << recorder.All();
    fs::rename(folder / "sub" / "moved.txt", folder / "sub" / "moved.txt.locked");
    EXPECT_TRUE(recorder.WaitFor("n sub/moved.txt -> sub/moved.txt.locked")) << recorder.All();
    EXPECT_TRUE(recorder.WaitFor("w sub/moved.txt.locked")) << recorder.All();
    // A folder made after the start is watched: a file written in it is seen, and a rename of
    // the folder names it as a folder and then its file.
    fs::create_directories(folder / "later" / "deeper");
    EXPECT_TRUE(recorder.WaitFor("C later/deeper")) << recorder.All();
    WriteFileBytes(folder / "later" / "deeper" / "late.txt", "late");
    EXPECT_TRUE(recorder.WaitFor("w later/deeper/late.txt")) << recorder.All();
    fs::rename(folder / "later", folder / "renamed");
    EXPECT_TRUE(recorder.WaitFor("n later/deeper/late.txt -> renamed/deeper/late.txt")) << recorder.All();
    // A folder moved out is removed, its file first, and what happens to it outside is not seen.
    const fs::path outside = MakeTestFolder("after-the-fact-outside");
    fs::rename(folder / "renamed", outside / "renamed");
    EXPECT_TRUE(recorder.WaitFor("R renamed")) << recorder.All();
    WriteFileBytes(outside / "renamed" / "deeper" / "outside.txt", "outside");
    // A folder removed with what it held names each file it held, then itself.
    fs::remove_all(folder / "sub");
    EXPECT_TRUE(recorder.WaitFor("R sub")) << recorder.All();
    source->Stop();
    fs::remove_all(outside);
    EXPECT_EQ(std::string::npos, recorder.All().find("outside.txt")) << recorder.All();
    const std::vector<std::string> lines = recorder.Lines();
    const auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line); };
    EXPECT_LT(at("C later"), at("C later/deeper")) << recorder.All();
    EXPECT_LT(at("N later -> renamed"), at("n later/deeper/late.txt -> renamed/deeper/late.txt"))
        << recorder.All();
    EXPECT_LT(at("r renamed/deeper/late.txt"), at("R renamed")) << recorder.All();
    EXPECT_LT(at("r sub/new.txt"), at("R sub")) << recorder.All();
    EXPECT_LT(at("r sub/moved.txt.locked"), at("R sub")) << recorder.All();
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "c sub/new.txt")) << recorder.All();
    EXPECT_EQ(std::string::npos, recorder.All().find("kept.txt")) << "an untouched file is reported";
    fs::remove_all(folder);
}

}  // namespace
