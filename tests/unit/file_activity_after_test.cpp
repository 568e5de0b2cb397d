// The after-the-fact file source: its reporter, the folder read again, and the source itself
// on the platform it runs on (inotify on Linux, ReadDirectoryChangesW under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>
#include <filesystem>
#include <string>
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

// A watched folder holding a.txt, sub/b.txt and sub/c.txt, seen by a reporter when it starts;
// each case is a script of what happens on the disk ("put PATH BYTES", "rm PATH", "mv FROM TO",
// "mkdir PATH") and what the directory reader tells ("w PATH" written, "c PATH" created,
// "r PATH" removed, "n FROM TO" renamed, "rescan" after an overflow), then what is reported
// once every write has settled, and a part of the log.
TEST(ChangeReporter, TellsEachChangeOnceAndWhatAFolderReadAgainFinds) {
    const struct {
        const char* name;
        const char* script;
        std::vector<std::string> reported;
        const char* logged;
    } cases[] = {
        {"a write told three times is reported once", "put a.txt ALPHA!; w a.txt; w a.txt; w a.txt", {"w a.txt"}, ""},
        {"a file removed and made again while it settles: removed, created and written together",
         "put a.txt ALPHA2; r a.txt; r sub/b.txt; c a.txt; w a.txt", {"r a.txt", "c a.txt", "w a.txt", "r sub/b.txt"}, ""},
        {"a removal of a file seen is told once settled, of one never seen not at all", "rm a.txt; r a.txt; r never.txt", {"r a.txt"}, ""},
        {"a file seen and renamed: renamed, then written under its new name", "mv a.txt a.txt.locked; n a.txt a.txt.locked",
         {"n a.txt -> a.txt.locked", "w a.txt.locked"}, ""},
        {"a file renamed and removed before it settled is removed under its new name", "rm a.txt; n a.txt a.txt.locked; r a.txt.locked",
         {"n a.txt -> a.txt.locked", "r a.txt.locked"}, ""},
        {"a creation told under a folder neither seen nor there (moved out since) is passed over", "c gone/late.txt", {}, ""},
        {"a copy renamed over a file while it settles is a write of that file only", "put d.tmp delta; w d.tmp; mv d.tmp a.txt; n d.tmp a.txt",
         {"w a.txt"}, ""},
        {"a removed folder names each file seen in it, then itself", "rm sub; r sub", {"r sub/b.txt", "r sub/c.txt", "R sub"}, ""},
        {"a renamed folder is renamed as a folder, then each file seen in it", "mv sub moved; n sub moved",
         {"N sub -> moved", "n sub/b.txt -> moved/b.txt", "n sub/c.txt -> moved/c.txt", "w moved/b.txt", "w moved/c.txt"}, ""},
        {"a file created is told at once and written once settled; told again, only written",
         "put new.txt november; c new.txt; w new.txt; c new.txt", {"c new.txt", "w new.txt"}, ""},
        {"a folder created, even empty, is created and removed as a folder", "mkdir made; c made; c made; rm made; r made", {"C made", "R made"}, ""},
        {"a file created and gone before it settled is created and removed, never written", "c brief.txt; r brief.txt",
         {"c brief.txt", "r brief.txt"}, ""},
        {"a file gone again before it settled is not reported", "w gone.txt", {}, ""},
        {"after an overflow the folder, read again with the whole tree, tells what changed unseen",
         "put a.txt a-longer-alpha; rm sub; mkdir made; put made/e.txt echo; rescan",
         {"C made", "c made/e.txt", "r sub/b.txt", "r sub/c.txt", "R sub", "w a.txt", "w made/e.txt"}, "was read again: 2 files new or changed, 2 removed"},
    };
    const pellumhost::ChangeReporter::Clock::time_point t0 = pellumhost::ChangeReporter::Clock::now();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = MakeTestFolder("change-reporter");
        fs::create_directories(folder / "sub");
        for (const char* file : {"a.txt", "sub/b.txt", "sub/c.txt"}) WriteFileBytes(folder / file, file);
        const auto path = [&](const std::string& relative) { return (folder / fs::path(relative).make_preferred()).u16string(); };
        ActivityRecorder recorder(folder);
        pellumhost::ChangeReporter reporter(folder.u16string(), recorder.Callbacks());
        std::istringstream script(c.script);
        for (std::string step; std::getline(script, step, ';');) {
            std::istringstream words(step);
            std::string verb, first, second;
            words >> verb >> first >> second;
            const std::map<std::string, ChangeAction> told = {{"w", ChangeAction::kWritten}, {"c", ChangeAction::kCreated}, {"r", ChangeAction::kRemoved}};
            if (verb == "put") WriteFileBytes(folder / first, second);
            else if (verb == "rm") fs::remove_all(folder / first);
            else if (verb == "mv") fs::rename(folder / first, folder / second);
            else if (verb == "mkdir") fs::create_directories(folder / first);
            else if (verb == "n") reporter.Apply({ChangeAction::kRenamed, path(second), path(first)}, t0);
            else if (verb == "rescan") reporter.Rescan(t0);
            else reporter.Apply({told.at(verb), path(first), {}}, t0);
        }
        reporter.ReportSettled(t0 + pellumhost::kSettle / 2);
        for (const std::string& line : recorder.Lines()) EXPECT_NE('w', line[0]) << "a write reported before it settled: " << line;
        reporter.ReportSettled(t0 + pellumhost::kSettle);
        EXPECT_EQ(c.reported, recorder.Lines());
        EXPECT_NE(std::string::npos, recorder.Log().find(c.logged)) << recorder.Log();
        EXPECT_FALSE(reporter.Settling());
        fs::remove_all(folder);
    }
}

TEST(AfterTheFactSource, ReportsCreationsWritesRemovalsAndRenamesUnderTheWholeTree) {
    const fs::path folder = MakeTestFolder("after-the-fact");
    fs::create_directories(folder / "sub");
    for (const char* file : {"kept.txt", "sub/doomed.txt", "sub/moved.txt"}) WriteFileBytes(folder / file, file);
    ActivityRecorder recorder(folder);
    std::unique_ptr<pellumhost::FileActivitySource> source = pellumhost::MakeAfterTheFactSource();
    ASSERT_NE(nullptr, source);
    std::string error;
    ASSERT_TRUE(source->Start(folder.string(), recorder.Callbacks(), error)) << error;
    EXPECT_STREQ("after-the-fact", source->Kind());

    // Each change, then the lines it must bring. A folder made after the start is watched: a
    // file written in it is seen, and a rename of the folder names it as a folder and then its
    // file. A folder moved out is removed, its file first, and what happens to it outside is not
    // seen; a folder removed with what it held names each file it held, then itself.
    const fs::path outside = MakeTestFolder("after-the-fact-outside");
    const struct {
        std::function<void()> change;
        std::vector<std::string> lines;
    } steps[] = {
        {[&] { WriteFileBytes(folder / "sub" / "new.txt", "fresh"); }, {"c sub/new.txt", "w sub/new.txt"}},
        {[&] { fs::remove(folder / "sub" / "doomed.txt"); }, {"r sub/doomed.txt"}},
        {[&] { fs::rename(folder / "sub" / "moved.txt", folder / "sub" / "moved.txt.locked"); }, {"n sub/moved.txt -> sub/moved.txt.locked", "w sub/moved.txt.locked"}},
        {[&] { fs::create_directories(folder / "later" / "deeper"); }, {"C later/deeper"}},
        {[&] { WriteFileBytes(folder / "later" / "deeper" / "late.txt", "late"); }, {"w later/deeper/late.txt"}},
        {[&] { fs::rename(folder / "later", folder / "renamed"); }, {"n later/deeper/late.txt -> renamed/deeper/late.txt"}},
        {[&] { fs::rename(folder / "renamed", outside / "renamed"); }, {"R renamed"}},
        {[&] { WriteFileBytes(outside / "renamed" / "deeper" / "outside.txt", "outside"), fs::remove_all(folder / "sub"); }, {"R sub"}},
    };
    for (const auto& step : steps) {
        step.change();
        for (const std::string& line : step.lines) EXPECT_TRUE(recorder.WaitFor(line)) << line << " in\n" << recorder.All();
    }
    source->Stop();
    fs::remove_all(outside);
    const std::vector<std::string> lines = recorder.Lines();
    const auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line); };
    for (const auto& [first, then] : std::vector<std::pair<std::string, std::string>>{
             {"C later", "C later/deeper"}, {"N later -> renamed", "n later/deeper/late.txt -> renamed/deeper/late.txt"},
             {"r renamed/deeper/late.txt", "R renamed"}, {"r sub/new.txt", "R sub"}, {"r sub/moved.txt.locked", "R sub"}})
        EXPECT_LT(at(first), at(then)) << first << " before " << then << " in\n" << recorder.All();
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "c sub/new.txt")) << recorder.All();
    for (const char* unseen : {"outside.txt", "kept.txt"}) EXPECT_EQ(std::string::npos, recorder.All().find(unseen)) << recorder.All();
    fs::remove_all(folder);
}

}  // namespace
