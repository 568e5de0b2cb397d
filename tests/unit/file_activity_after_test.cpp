// The after-the-fact file source on the platform it runs on (inotify on Linux,
// ReadDirectoryChangesW under Wine): writes, removals and renames under a watched folder reach
// their callbacks, and what a folder read again differs from what was seen before.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "reference/pellumhost/file_activity.h"
#include "reference/pellumhost/folder_snapshot.h"
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

// What the source reported, one line per callback: "w PATH", "r PATH", "n FROM -> TO".
class Recorder {
public:
    pellumhost::FileActivityCallbacks Callbacks() {
        pellumhost::FileActivityCallbacks callbacks;
        callbacks.onWritten = [this](uint32_t, const std::string& path, const std::vector<uint8_t>&) {
            Add("w " + path);
        };
        callbacks.onRemoved = [this](uint32_t, const std::string& path) { Add("r " + path); };
        callbacks.onRenamed = [this](uint32_t, const std::string& from, const std::string& to) {
            Add("n " + from + " -> " + to);
        };
        return callbacks;
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
    void Add(const std::string& line) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.push_back(line);
        m_changed.notify_all();
    }
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
};

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
