// The after-the-fact file source: what its reporter makes of the directory changes (settled
// writes, removals, renames, folders, the folder read again after an overflow), what a folder
// read again differs from what was seen before, and the source itself on the platform it runs
// on (inotify on Linux, ReadDirectoryChangesW under Wine).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/directory_changes.h"
#include "reference/pellumhost/protection/change_reporter.h"
#include "reference/pellumhost/protection/file_activity.h"
#include "reference/pellumhost/protection/folder_snapshot.h"
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

TEST(FolderSnapshot, HoldsTheRegularFilesOfTheWholeTree) {
    const fs::path folder = MakeTestFolder("snapshot");
    fs::create_directories(folder / "sub" / "deeper");
    WriteFileBytes(folder / "top.txt", "12345");
    WriteFileBytes(folder / "sub" / "deeper" / "low.bin", std::string(300, 'x'));
    const FolderSnapshot snapshot = pellumhost::TakeSnapshot(folder.u16string());
    ASSERT_EQ(2u, snapshot.size());
    EXPECT_EQ(5u, snapshot.at((folder / "top.txt").u16string()).size);
    EXPECT_EQ(300u, snapshot.at((folder / "sub" / "deeper" / "low.bin").u16string()).size);
    fs::remove_all(folder);
}

// What the source reported, one line per callback: "w PATH", "r PATH", "n FROM -> TO"; with a
// root, each path is relative to it with '/' between its parts.
class Recorder {
public:
    Recorder() = default;
    explicit Recorder(const fs::path& root) : m_root(root.string()) {}
    pellumhost::FileActivityCallbacks Callbacks() {
        pellumhost::FileActivityCallbacks callbacks;
        callbacks.onWritten = [this](uint32_t, const std::string& path, const std::vector<uint8_t>&) {
            Add("w " + Shown(path));
        };
        callbacks.onRemoved = [this](uint32_t, const std::string& path, bool folder) {
            Add((folder ? "R " : "r ") + Shown(path));
        };
        callbacks.onRenamed = [this](uint32_t, const std::string& from, const std::string& to,
                                     bool folder) {
            Add((folder ? "N " : "n ") + Shown(from) + " -> " + Shown(to));
        };
        callbacks.log = [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_log += line + "\n";
        };
        return callbacks;
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }
    std::string Log() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_log;
    }
    // Waits (at most 10 s) for line; true when it came.
    bool WaitFor(const std::string& line) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::seconds(10), [&] {
            for (const std::string& seen : m_lines) if (seen == line) return true;
            return false;
        });
    }
    std::string All() {
        std::lock_guard<std::mutex> guard(m_lock);
        std::string all;
        for (const std::string& line : m_lines) all += line + "\n";
        return all;
    }

private:
    std::string Shown(std::string path) const {
        if (m_root.empty() || path.compare(0, m_root.size(), m_root) != 0) return path;
        path = path.substr(m_root.size() + 1);
        for (char& c : path) if (c == '\\') c = '/';
        return path;
    }
    void Add(const std::string& line) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back(line);
        m_changed.notify_all();
    }
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    std::string m_log;
    std::string m_root;
};

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
        {"a removal of a file seen is told at once, of one never seen not at all",
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
        {"a copy renamed over a file while it settles is a write of that file only",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             WriteFileBytes(f / "d.tmp", "delta");
             written(t, r, "d.tmp");
             fs::rename(f / "d.tmp", f / "a.txt");
             r.Apply({ChangeAction::kRenamed, t.Path("a.txt"), t.Path("d.tmp")}, t0);
         },
         {"w a.txt"}},
        {"a removed folder names each file seen in it",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             fs::remove_all(f / "sub");
             r.Apply({ChangeAction::kRemoved, t.Path("sub"), {}}, t0);
         },
         {"r sub/b.txt", "r sub/c.txt"}},
        {"a renamed folder renames each file seen in it",
         [&](const ReporterTest& t, const fs::path& f, pellumhost::ChangeReporter& r) {
             fs::rename(f / "sub", f / "moved");
             r.Apply({ChangeAction::kRenamed, t.Path("moved"), t.Path("sub")}, t0);
         },
         {"n sub/b.txt -> moved/b.txt", "n sub/c.txt -> moved/c.txt", "w moved/b.txt",
          "w moved/c.txt"}},
        {"a file gone again before it settled is not reported",
         [&](const ReporterTest& t, const fs::path&, pellumhost::ChangeReporter& r) {
             written(t, r, "gone.txt");
         },
         {}},
        {"after an overflow the folder read again tells what changed unseen",
         [&](const ReporterTest&, const fs::path& f, pellumhost::ChangeReporter& r) {
             WriteFileBytes(f / "a.txt", "a longer alpha");
             fs::remove(f / "sub" / "b.txt");
             WriteFileBytes(f / "e.txt", "echo");
             r.Rescan(t0);
         },
         {"r sub/b.txt", "w a.txt", "w e.txt"}},
    };
    for (const ReporterCase& c : cases) {
        TearDown();
        SetUp();
        Recorder recorder(m_folder);
        pellumhost::ChangeReporter reporter(m_folder.u16string(), recorder.Callbacks());
        c.happen(*this, m_folder, reporter);
        reporter.ReportSettled(t0 + pellumhost::kSettle / 2);
        for (const std::string& line : recorder.Lines())
            EXPECT_NE('w', line[0]) << c.name << ": a write reported before it settled: " << line;
        reporter.ReportSettled(t0 + pellumhost::kSettle);
        EXPECT_EQ(c.reported, recorder.Lines()) << c.name;
        EXPECT_FALSE(reporter.Settling()) << c.name;
    }
}

TEST_F(ReporterTest, AnOverflowIsSaidInTheLogWithWhatTheFolderReadAgainFound) {
    Recorder recorder(m_folder);
    pellumhost::ChangeReporter reporter(m_folder.u16string(), recorder.Callbacks());
    fs::remove(m_folder / "a.txt");
    WriteFileBytes(m_folder / "sub" / "c.txt", "CHARLIE, changed");
    reporter.Rescan(Clock::now());
    EXPECT_NE(std::string::npos, recorder.Log().find("too many changes at once"));
    EXPECT_NE(std::string::npos, recorder.Log().find("1 files new or changed, 1 removed"));
}

TEST(AfterTheFactSource, ReportsWritesRemovalsAndRenamesUnderTheWholeTree) {
    const fs::path folder = MakeTestFolder("after-the-fact");
    fs::create_directories(folder / "sub");
    WriteFileBytes(folder / "kept.txt", "kept");
    WriteFileBytes(folder / "sub" / "doomed.txt", "doomed");
    WriteFileBytes(folder / "sub" / "moved.txt", "moved");
    Recorder recorder;
    std::unique_ptr<pellumhost::FileActivitySource> source = pellumhost::MakeAfterTheFactSource();
    ASSERT_NE(nullptr, source);
    std::string error;
    ASSERT_TRUE(source->Start(folder.string(), recorder.Callbacks(), error)) << error;
    EXPECT_STREQ("after-the-fact", source->Kind());

    const fs::path written = folder / "sub" / "new.txt", doomed = folder / "sub" / "doomed.txt",
                   moved = folder / "sub" / "moved.txt", locked = folder / "sub" / "moved.txt.locked";
    WriteFileBytes(written, "fresh");
    EXPECT_TRUE(recorder.WaitFor("w " + written.string())) << recorder.All();
    fs::remove(doomed);
    EXPECT_TRUE(recorder.WaitFor("r " + doomed.string())) << recorder.All();
    fs::rename(moved, locked);
    EXPECT_TRUE(recorder.WaitFor("n " + moved.string() + " -> " + locked.string())) << recorder.All();
    EXPECT_TRUE(recorder.WaitFor("w " + locked.string())) << recorder.All();
    // A folder removed with what it held names each file it held.
    fs::remove_all(folder / "sub");
    EXPECT_TRUE(recorder.WaitFor("r " + written.string())) << recorder.All();
    EXPECT_TRUE(recorder.WaitFor("r " + locked.string())) << recorder.All();
    source->Stop();
    EXPECT_EQ(std::string::npos, recorder.All().find("kept.txt")) << "an untouched file is reported";
    fs::remove_all(folder);
}

}  // namespace
