// The detector judged through the activity judge as a source drives it, on a fake tree, fake
// processes and a fake clock: each row is a workload, whether and at which step it flags, and
// a word of the line that says why. Attackers must be flagged early; benign work never (the
// scenario suite runs gzip, tar, SQLite and appends against the real sources).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "reference/pellumhost/protection/activity_judge.h"

namespace {

using Bytes = std::vector<uint8_t>;
using pellumhost::FlaggedActor;

enum class Op { kWrite, kCreateWrite, kRemove, kRename };

struct Step {
    double at;
    uint32_t pid;
    Op op;
    std::string path;
    Bytes bytes;     // what a write leaves
    std::string to;  // a rename's new path
};

constexpr size_t kTreeFiles = 20;
constexpr uint32_t kService = 100, kShell = 10;

std::string Doc(size_t i) { return "/w/doc" + std::to_string(i) + (i % 2 ? ".pdf" : ".txt"); }

Bytes Text(size_t i, size_t size = 3000) {
    std::string text = i % 2 ? "%PDF-1.7\n" : "";
    while (text.size() < size) text += "line " + std::to_string(i) + " of a document\n";
    return Bytes(text.begin(), text.begin() + static_cast<long>(size));
}

Bytes Random(size_t i) {
    std::mt19937 random(static_cast<uint32_t>(i));
    Bytes bytes(4096);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    bytes[0] = 0x05;  // no signature by chance
    return bytes;
}

// One action on file i: its path and a rename's new path are Doc(i) with a suffix; a write
// leaves bytes(i).
struct Act {
    Op op;
    const char* suffix = "";
    const char* to = "";
    Bytes (*bytes)(size_t) = nullptr;
};

// The acts on each of count files in turn, `every` seconds apart, by pid (by pid + i: one
// process per file, when spawned).
std::vector<Step> EachFile(size_t count, double every, uint32_t pid, std::vector<Act> acts, bool spawned = false) {
    std::vector<Step> steps;
    for (size_t i = 0; i < count; ++i)
        for (const Act& a : acts)
            steps.push_back({every * static_cast<double>(i), pid + (spawned ? uint32_t(i) : 0u), a.op, Doc(i) + a.suffix,
                             a.bytes != nullptr ? a.bytes(i) : Bytes{}, a.op == Op::kRename ? Doc(i) + a.to : ""});
    return steps;
}

struct Row {
    const char* name;
    std::vector<Step> steps;
    int flagsAt;             // the step that flags; -1: never
    const char* word;        // in the flag's line (or the log when it never flags)
    size_t stopped;          // processes stopped in all
};

struct Fixture {
    std::map<std::string, Bytes> files;
    std::map<uint32_t, std::pair<uint32_t, std::string>> processes;  // pid -> parent, image
    double now = 0;
    std::vector<uint32_t> stopped;
    std::string log;  // its lines, each ended by a newline
    std::vector<FlaggedActor> flags;

    pellumhost::JudgeSystem System() {
        pellumhost::JudgeSystem system;
        system.processes.parentOf = [this](uint32_t pid) { return processes[pid].first; };
        system.processes.imageOf = [this](uint32_t pid) { return processes[pid].second; };
        system.processes.self = kService;
        system.readStart = [this](const std::string& path, size_t want, uint64_t& size, Bytes& head) {
            const auto found = files.find(path);
            if (found == files.end()) return false;
            size = found->second.size();
            head.assign(found->second.begin(), found->second.begin() + static_cast<long>(std::min(want, size)));
            return true;
        };
        system.stop = [this](uint32_t pid) { return stopped.push_back(pid), true; };
        system.seconds = [this] { return now; };
        system.unixMs = [this] { return 1700000000000ull + static_cast<uint64_t>(now * 1000); };
        system.log = [this](uint32_t, const std::string& line) { log += line + "\n"; };
        return system;
    }

    // Runs step as its source reports it: a known process through the before-write source
    // (the open first, while the old content is there), process 0 after the fact.
    void Run(pellumhost::ActivityJudge& judge, const Step& step) {
        now = step.at;
        const auto onFlagged = [this](const FlaggedActor& actor) { flags.push_back(actor); };
        const auto write = [&] {
            if (step.pid != 0) judge.OnOpen(step.pid, step.path, onFlagged);
            files[step.path] = step.bytes;
            judge.OnWritten(step.pid, step.path, step.bytes, onFlagged);
        };
        switch (step.op) {
            case Op::kWrite: write(); break;
            case Op::kCreateWrite:
                files[step.path] = {};
                judge.OnCreated(step.pid, step.path, false, onFlagged);
                write();
                break;
            case Op::kRemove:
                files.erase(step.path);
                judge.OnRemoved(step.pid, step.path, false, onFlagged);
                break;
            case Op::kRename:
                files[step.to] = files[step.path];
                files.erase(step.path);
                judge.OnRenamed(step.pid, step.path, step.to, false, onFlagged);
                break;
        }
    }
};

TEST(ActivityJudge, FlagsDestructionEarlyAndNeverBenignWork) {
    // pid 50..: attackers started from the shell; 60 spawns 61.. one per file.
    const Act write{Op::kWrite, "", "", Random}, create{Op::kCreateWrite, "", "", Random}, remove{Op::kRemove};
    Bytes (*const zeros)(size_t) = [](size_t i) { return Bytes(Text(i).size(), 0); };
    const Row rows[] = {
        {"textbook rewrite with random bytes", EachFile(8, 0.5, 50, {write}), 4, "into random bytes", 1},
        {"zeros of the same length", EachFile(8, 0.5, 51, {{Op::kWrite, "", "", zeros}}), 4, "one repeated byte", 1},
        {"delete-only", EachFile(8, 0.5, 52, {remove}), 4, "5 removed", 1},
        {"a slow attacker, one file every 3 s, caught by the decaying score", EachFile(kTreeFiles, 3, 53, {write}), 5, "4 files destroyed within 10 s", 1},
        {"a slow deleter needs the plain score", EachFile(kTreeFiles, 3, 54, {remove}), 10, "11 removed", 1},
        {"one child per file is one actor; later children are stopped as they come", EachFile(8, 0.5, 61, {write}, true), 4, "processes 61 62 63 64 65", 8},
        {"a program that starts itself again per file is one actor with its first process", EachFile(8, 0.5, 80, {write}, true), 4, "processes 80 81 82 83 84", 8},
        {"after the fact, the unknown writer is one actor and is not stopped", EachFile(8, 0.5, 0, {write}), 4, "actor 0", 0},
        {"encrypted copy, then the original removed", EachFile(8, 0.5, 55, {{Op::kCreateWrite, ".locked", "", Random}, remove}), 9, "5 removed, 5 created", 1},
        {"renamed to NAME.tmp, ciphertext written under NAME, NAME.tmp removed", EachFile(8, 0.5, 56, {{Op::kRename, "", ".tmp"}, create, {Op::kRemove, ".tmp"}}),
         14, "5 turned from a known kind into random bytes", 1},
        {"an editor's saves: the old version renamed away, the new one written, the old removed",
         EachFile(kTreeFiles, 0.1, 76, {{Op::kRename, "", "~"}, {Op::kCreateWrite, "", "", [](size_t i) { Bytes b = Text(i); b.back() = '!'; return b; }}, {Op::kRemove, "~"}}), -1, "", 0},
        {"each file first rewritten with its own bytes, then encrypted", EachFile(8, 0.5, 57, {{Op::kWrite, "", "", [](size_t i) { return Text(i); }}, write}), 9, "random bytes", 1},
        {"a checkout: each changed file removed, then its new version created",
         EachFile(kTreeFiles, 0.1, 77, {remove, {Op::kCreateWrite, "", "", [](size_t i) { return Text(i + 100, 2500); }}}), -1, "", 0},
        {"removed, then zeros created in its place", EachFile(8, 0.5, 58, {remove, {Op::kCreateWrite, "", "", [](size_t) { return Bytes(3000, 0); }}}), 8, "5 removed", 1},
        {"files renamed into a folder and back", EachFile(kTreeFiles, 0.1, 74, {{Op::kRename, "", ".bak"}, {Op::kRename, ".bak", ""}}), -1, "", 0},
        {"the service's own restores", EachFile(kTreeFiles, 0.1, kService, {{Op::kWrite, "", "", zeros}}), -1, "", 0},
        {"a trusted image", EachFile(kTreeFiles, 0.1, 75, {write}), -1, "trusted", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture fixture;
        for (size_t i = 0; i < kTreeFiles; ++i) fixture.files[Doc(i)] = Text(i);
        for (uint32_t pid = 50; pid <= 80; ++pid) fixture.processes[pid] = {kShell, "/tmp/rogue"};
        for (uint32_t pid = 61; pid < 70; ++pid) fixture.processes[pid] = {60, "/usr/bin/openssl"};
        fixture.processes[60] = {kShell, "/usr/bin/python3"};
        for (uint32_t pid = 81; pid < 90; ++pid) fixture.processes[pid] = {pid - 1, "/tmp/rogue"};
        fixture.processes[75] = {kShell, "/usr/bin/rsync"};
        fixture.processes[kShell] = {1, "/bin/bash"};
        pellumhost::DetectorSettings settings;
        settings.trustedImages = {"rsync"};
        pellumhost::ActivityJudge judge(settings, fixture.System());
        for (const auto& file : fixture.files) judge.NoteExisting(file.first);
        int flaggedAt = -1;
        for (size_t i = 0; i < row.steps.size(); ++i) {
            fixture.Run(judge, row.steps[i]);
            if (flaggedAt < 0 && !fixture.flags.empty()) flaggedAt = static_cast<int>(i);
        }
        EXPECT_EQ(flaggedAt, row.flagsAt);
        EXPECT_EQ(fixture.stopped.size(), row.stopped);
        if (!fixture.flags.empty()) {
            const FlaggedActor& flag = fixture.flags.front();
            EXPECT_NE(flag.why.find(row.word), std::string::npos) << flag.why;
            EXPECT_DOUBLE_EQ(flag.firstAction, 0);
            EXPECT_EQ(flag.firstActionUnixMs, 1700000000000ull);
            // The last report of the actor holds every process that acted, stopped or not.
            EXPECT_EQ(fixture.flags.back().processIds.size(), std::max<size_t>(row.stopped, 1));
        } else {
            EXPECT_NE(fixture.log.find(row.word), std::string::npos) << fixture.log;
        }
    }
}

}  // namespace
