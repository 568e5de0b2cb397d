// The before-write source (fanotify, Linux, root) in one run on a temporary tree: a folder made
// after the start has the opens in it held and its writes seen, and files and folders created,
// removed and renamed by another process are reported with that process. The changes are made
// by child shells, since the service's own process is never held nor reported.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "reference/pellumhost/protection/file_activity.h"
#include "tests/fakes/activity_recorder.h"
#include "tests/fakes/test_folder.h"

namespace fs = std::filesystem;

namespace {

// Runs script in a child shell from folder and returns the child's process id as text, once it
// ended successfully ("0" otherwise). "exec" in script keeps the command in that process.
std::string RunChild(const fs::path& folder, const std::string& script) {
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) == 0) execl("/bin/sh", "sh", "-c", script.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "0";
    return std::to_string(child);
}

TEST(BeforeWriteSource, HoldsOpensInNewFoldersAndReportsEntriesWithTheirProcess) {
    if (geteuid() != 0) GTEST_SKIP() << "fanotify needs root";
    const fs::path folder = fs::canonical(MakeTestFolder("before-write"));
    fs::create_directories(folder / "box" / "inner");
    for (const char* file : {"doomed.txt", "plain.txt", "box/inner/deep.txt", "box/top.txt"})
        WriteFileBytes(folder / file, file);
    ActivityRecorder recorder(folder, true);
    pellumhost::FileActivityCallbacks callbacks = recorder.Callbacks();
    // What a held open finds in its file, and what the source read of it through the open it
    // holds: the bytes from before the write, and their size.
    std::string atOpen, startAtOpen;
    callbacks.onOpen = [&](uint32_t pid, const std::string& path, const pellumhost::FileStart* start) {
        if (path == (folder / "new" / "f.txt").string()) {
            atOpen = ReadFileBytes(path);
            if (start != nullptr)
                startAtOpen = std::to_string(start->size) + " " + std::string(start->head.begin(), start->head.end());
        }
        recorder.Add("o", pid, path);
    };
    std::unique_ptr<pellumhost::FileActivitySource> source = pellumhost::MakeBeforeWriteSource();
    ASSERT_NE(nullptr, source);
    std::string error;
    ASSERT_TRUE(source->Start(folder.string(), callbacks, error)) << error;

    ASSERT_TRUE(recorder.WaitFor("C " + RunChild(folder, "exec mkdir new") + " new")) << recorder.All();
    WriteFileBytes(folder / "new" / "f.txt", "original");  // the service's own: not reported
    const std::string w = RunChild(folder, "printf changed > new/f.txt");
    EXPECT_TRUE(recorder.WaitFor("w " + w + " new/f.txt")) << recorder.All();
    // A folder made and filled at once (mkdir, then the shell writes): what was put in it
    // before its mark is still reported, by the process that made the folder when it was (the
    // entry group reports in order: it is reported before the removal that follows).
    ASSERT_NE("0", RunChild(folder, "mkdir -p quick/deeper && echo x > quick/deeper/q.txt"));
    const std::string remover = RunChild(folder, "exec rm doomed.txt");
    EXPECT_TRUE(recorder.WaitFor("r " + remover + " doomed.txt")) << recorder.All();
    const std::string renamer = RunChild(folder, "exec mv plain.txt plain.txt.locked");
    EXPECT_TRUE(recorder.WaitFor("n " + renamer + " plain.txt -> plain.txt.locked")) << recorder.All();
    const std::string mover = RunChild(folder, "exec mv box crate");
    const std::string deepRenamed = "n " + mover + " box/inner/deep.txt -> crate/inner/deep.txt";
    EXPECT_TRUE(recorder.WaitFor(deepRenamed)) << recorder.All();
    const std::string gone = RunChild(folder, "exec rm -r crate/inner");
    EXPECT_TRUE(recorder.WaitFor("R " + gone + " crate/inner")) << recorder.All();
    // A folder moved out is removed, its files first, and drops out: what is written in it
    // outside is not seen (the removal after it is, and entries are reported in order).
    const fs::path outside = fs::canonical(MakeTestFolder("before-write-outside"));
    const std::string out = RunChild(folder, "exec mv crate " + outside.string());
    EXPECT_TRUE(recorder.WaitFor("R " + out + " crate")) << recorder.All();
    ASSERT_NE("0", RunChild(outside, "echo late > crate/late.txt"));
    const std::string last = RunChild(folder, "exec rm plain.txt.locked");
    EXPECT_TRUE(recorder.WaitFor("r " + last + " plain.txt.locked")) << recorder.All();
    // Files made in new folders and removed at once: one made before its folder's mark and
    // removed before the folder was read is first heard of at its removal. No removal may come
    // before a creation, or the file would count as one nobody saw being made.
    ASSERT_NE("0", RunChild(folder, "exec python3 -c 'import os\nfor i in range(1, 1001):\n os.mkdir(\"t%d\" % i)\n"
                                   " open(\"t%d/f\" % i, \"w\").write(\"x\")\n os.unlink(\"t%d/f\" % i)'"));
    const std::string end = RunChild(folder, "exec mkdir t-end");
    EXPECT_TRUE(recorder.WaitFor("C " + end + " t-end")) << recorder.All();
    source->Stop();
    fs::remove_all(outside);
    EXPECT_EQ(std::string::npos, recorder.All().find("late.txt")) << recorder.All();

    const std::vector<std::string> lines = recorder.Lines();
    const auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line); };
    EXPECT_EQ("original", atOpen) << "the open was let through before its version was taken";
    EXPECT_EQ("8 original", startAtOpen);
    EXPECT_LT(at("o " + w + " new/f.txt"), at("w " + w + " new/f.txt")) << recorder.All();
    EXPECT_FALSE(source->HoldMicroseconds().empty());
    // The same lines without their processes.
    std::vector<std::string> bare;
    for (const std::string& line : lines) bare.push_back(line.substr(0, 2) + line.substr(line.find(' ', 2) + 1));
    const auto bareAt = [&](const std::string& line) { return std::find(bare.begin(), bare.end(), line); };
    EXPECT_LT(bareAt("C quick"), bareAt("C quick/deeper")) << recorder.All();
    EXPECT_EQ(1, std::count(bare.begin(), bare.end(), "c quick/deeper/q.txt")) << recorder.All();
    EXPECT_LT(at("N " + mover + " box -> crate"), at(deepRenamed)) << recorder.All();
    int unannounced = 0;
    for (int i = 1; i <= 1000; ++i) {
        const std::string temp = "t" + std::to_string(i) + "/f";
        unannounced += bareAt("r " + temp) != bare.end() && bareAt("c " + temp) > bareAt("r " + temp);
    }
    EXPECT_EQ(0, unannounced) << recorder.All();
    EXPECT_LT(at("r " + gone + " crate/inner/deep.txt"), at("R " + gone + " crate/inner")) << recorder.All();
    EXPECT_LT(at("r " + out + " crate/top.txt"), at("R " + out + " crate")) << recorder.All();
    EXPECT_EQ(bare.end(), bareAt("c new/f.txt")) << "the service's own file was reported:\n" << recorder.All();
    fs::remove_all(folder);
}

}  // namespace
