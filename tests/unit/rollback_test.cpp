// A rollback's plan, the change journal it reads, the moments it takes and the host's own
// restores told from other changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cstring>
#include <map>
#include <tuple>

#include "platform/text.h"
#include "reference/pellumhost/protection/change_log.h"
#include "reference/pellumhost/protection/own_restores.h"
#include "reference/pellumhost/protection/rollback_plan.h"
#include "reference/pellumhost/utc_text.h"
#include "reference/zef/content_digest.h"
#include "tests/fakes/test_folder.h"

namespace {

using namespace pellumhost;

constexpr uint64_t kMoment = 1000500;  // ms: second 1000
constexpr uint32_t kBefore = zef::kOperationBeforeWrite, kCopy = zef::kOperationBackup;

// An edition: path, second, writer, how taken, content.
using Kept = std::tuple<const char*, uint32_t, uint32_t, uint32_t, const char*>;
// A journal entry: ms, kind, folder, writer, path, to.
using Seen = std::tuple<uint64_t, ChangeKind, bool, uint32_t, const char*, const char*>;
struct PlanCase {
    const char* name;
    std::vector<Kept> editions;
    std::vector<Seen> journal;
    std::vector<std::pair<const char*, const char*>> present;  // path, content (nullptr: a folder)
    std::set<uint32_t> writers;
    bool quarantine;
    std::vector<std::string> expected;  // "action path [<- from | @edition]"
};

std::string Shown(const RollbackStep& step) {
    std::string text = std::string(StepActionName(step.action)) + " " + platform::ToUtf8(step.path);
    if (!step.from.empty()) text += " <- " + platform::ToUtf8(step.from);
    if (step.editionId != 0) text += " @" + std::to_string(step.editionId);
    return text;
}

TEST(RollbackPlan, BringsTheTreeBackAsItWasAndNeverEmptiesAFile) {
    const uint32_t W = 7, R = 5;
    const PlanCase cases[] = {
        {"changed since: the newest edition of the moment", {{"/t/a", 990, 0, kCopy, "old"}, {"/t/a", 1005, 0, kCopy, "new"}},
         {}, {{"/t/a", "scrambled"}}, {}, false, {"restore /t/a @1"}},
        {"as it was: nothing to do", {{"/t/a", 990, 0, kCopy, "same"}}, {}, {{"/t/a", "same"}}, {}, false, {}},
        {"removed since: restored", {{"/t/a", 990, 0, kCopy, "gone"}}, {{kMoment + 10, ChangeKind::kRemoved, false, W, "/t/a", ""}},
         {}, {}, false, {"restore /t/a @1"}},
        {"renamed since with its bytes: renamed back", {{"/t/a", 990, 0, kCopy, "x"}},
         {{kMoment + 10, ChangeKind::kRenamed, false, W, "/t/a", "/t/b"}}, {{"/t/b", "x"}}, {}, false,
         {"rename back /t/a <- /t/b"}},
        {"renamed since and rewritten: restored, the new name is new", {{"/t/a", 990, 0, kCopy, "x"}},
         {{kMoment + 10, ChangeKind::kRenamed, false, W, "/t/a", "/t/a.tmp"}}, {{"/t/a.tmp", "cipher"}}, {}, true,
         {"restore /t/a @1", "quarantine /t/a.tmp <- /t/a.tmp"}},
        {"a folder renamed since goes back with its files", {{"/t/d/f", 990, 0, kCopy, "y"}},
         {{kMoment + 10, ChangeKind::kRenamed, true, W, "/t/d", "/t/e"},
          {kMoment + 10, ChangeKind::kRenamed, false, W, "/t/d/f", "/t/e/f"}},
         {{"/t/e", nullptr}, {"/t/e/f", "y"}}, {}, false, {"rename folder back /t/d <- /t/e"}},
        {"created since: left, or quarantined when asked", {},
         {{kMoment + 10, ChangeKind::kCreated, false, W, "/t/n", ""}}, {{"/t/n", "new"}}, {}, false,
         {"leave /t/n <- /t/n"}},
        {"the writer's empty version at creation is never restored", {{"/t/n", 1001, W, kBefore, ""}},
         {{kMoment + 10, ChangeKind::kCreated, false, W, "/t/n", ""}}, {{"/t/n", "cipher"}}, {W}, true,
         {"quarantine /t/n <- /t/n"}},
        {"a copy backed up before the moment, in its second, counts", {{"/t/a", 1000, 0, kCopy, "orig"}},
         {{kMoment - 300, ChangeKind::kBackedUp, false, 0, "/t/a", ""}, {kMoment + 10, ChangeKind::kWritten, false, W, "/t/a", ""}},
         {{"/t/a", "cipher"}}, {W}, true, {"restore /t/a @1"}},
        {"a moment before the service ran: its baseline is no sign of new files", {{"/t/a", 1003, 0, kCopy, "orig"}},
         {{kMoment + 3000, ChangeKind::kBackedUp, false, 0, "/t/a", ""}}, {{"/t/a", "orig"}}, {}, true, {}},
        {"a moment before the service ran: a file removed since comes back from the baseline",
         {{"/t/a", 1003, 0, kCopy, "orig"}},
         {{kMoment + 3000, ChangeKind::kBackedUp, false, 0, "/t/a", ""}, {kMoment + 5000, ChangeKind::kRemoved, false, W, "/t/a", ""}},
         {}, {}, true, {"restore /t/a @1"}},
        {"a moment before the service ran: a file made and kept since is new",
         {{"/t/n", 1006, 0, kCopy, "new"}},
         {{kMoment + 5000, ChangeKind::kCreated, false, W, "/t/n", ""}}, {{"/t/n", "new"}}, {}, false,
         {"leave /t/n <- /t/n"}},
        {"written since with no edition at all: named, not moved", {},
         {{kMoment + 10, ChangeKind::kWritten, false, W, "/t/a", ""}}, {{"/t/a", "cipher"}}, {W}, true,
         {"cannot restore /t/a"}},
        {"the writer's empty version (it cut the file by path first) is passed over",
         {{"/t/a", 990, 0, kCopy, "orig"}, {"/t/a", 1000, W, kBefore, ""}},
         {{kMoment + 10, ChangeKind::kWritten, false, W, "/t/a", ""}}, {{"/t/a", "cipher"}}, {W}, false,
         {"restore /t/a @1"}},
        {"a reader's version serves the writer that took none", {{"/t/a", 999, R, kBefore, "orig"}, {"/t/a", 1001, W, kBefore, "cipher1"}},
         {{kMoment + 10, ChangeKind::kWritten, false, W, "/t/a", ""}}, {{"/t/a", "cipher2"}}, {W}, false,
         {"restore /t/a @1"}},
        {"the writer's first version in the moment's second, not a later one", {{"/t/a", 999, 0, kCopy, "older"}, {"/t/a", 1000, W, kBefore, "orig"}, {"/t/a", 1000, W, kBefore, "cipher1"}},
         {{kMoment + 10, ChangeKind::kWritten, false, W, "/t/a", ""}}, {{"/t/a", "cipher2"}}, {W}, false,
         {"restore /t/a @2"}},
        {"a copy after a change in the moment's own second may hold the writer's bytes", {{"/t/a", 999, 0, kCopy, "orig"}, {"/t/a", 1000, 0, kCopy, "cipher"}},
         {{kMoment + 10, ChangeKind::kWritten, false, 0, "/t/a", ""}}, {{"/t/a", "cipher"}}, {0}, false,
         {"restore /t/a @1"}},
        {"another writer's changes stay", {{"/t/a", 990, 0, kCopy, "a0"}, {"/t/b", 990, 0, kCopy, "b0"}},
         {{kMoment + 10, ChangeKind::kWritten, false, W, "/t/a", ""}, {kMoment + 20, ChangeKind::kWritten, false, 8, "/t/b", ""}},
         {{"/t/a", "x"}, {"/t/b", "y"}}, {W}, false, {"restore /t/a @1"}},
        {"removed before the moment: not brought back", {{"/t/a", 900, 0, kCopy, "old"}},
         {{kMoment - 50000, ChangeKind::kRemoved, false, 3, "/t/a", ""}}, {}, {}, false, {}},
        {"a folder in its place: said, not replaced", {{"/t/a", 990, 0, kCopy, "old"}}, {}, {{"/t/a", nullptr}}, {}, false,
         {"cannot restore /t/a @1"}},
    };
    for (const PlanCase& c : cases) {
        std::vector<zef::Edition> editions;
        for (const auto& [path, time, processId, operation, content] : c.editions) {
            zef::Edition e;
            e.editionId = static_cast<uint32_t>(editions.size() + 1);
            std::tie(e.path, e.time, e.processId, e.operation, e.size) =
                std::make_tuple(platform::FromUtf8(path), time, processId, operation, std::strlen(content));
            e.digest = zef::DigestOf(content, e.size);
            editions.push_back(e);
        }
        std::vector<ChangeEntry> journal;
        for (const auto& [ms, kind, folder, processId, path, to] : c.journal)
            journal.push_back({ms, kind, folder, processId, u"", platform::FromUtf8(path), platform::FromUtf8(to)});
        std::map<std::u16string, const char*> now;  // content, nullptr for a folder
        PresentTree present;
        for (const auto& [path, content] : c.present) {
            now[platform::FromUtf8(path)] = content;
            if (content != nullptr) present.files.push_back(platform::FromUtf8(path));
        }
        present.look = [&now](const std::u16string& path) {
            const auto found = now.find(path);
            if (found == now.end()) return PresentFile{};
            return found->second == nullptr ? PresentFile{PresentFile::kFolder, 0} : PresentFile{PresentFile::kFile, std::strlen(found->second)};
        };
        present.digestOf = [&now](const std::u16string& path, zef::Digest& digest) {
            const auto found = now.find(path);
            if (found == now.end() || found->second == nullptr) return false;
            digest = zef::DigestOf(found->second, std::strlen(found->second));
            return true;
        };
        const RollbackQuestion question{u"/t", kMoment, c.writers, u"", c.quarantine};
        std::vector<std::string> shown;
        for (const RollbackStep& step : PlanRollback(question, editions, journal, present)) shown.push_back(Shown(step));
        EXPECT_EQ(c.expected, shown) << c.name;
    }
}

TEST(ChangeLog, KeepsEveryWholeRecordThroughATornWriteAndAppendsAfterThem) {
    const std::filesystem::path folder = MakeTestFolder("change-log");
    const std::u16string db = folder.u16string();
    const auto append = [&](const ChangeEntry& entry) {  // an open cuts a torn tail
        ChangeLog log;
        std::string error;
        ASSERT_TRUE(log.Open(db, error)) << error;
        ASSERT_TRUE(log.Append(entry));
    };
    append({1234567, ChangeKind::kRenamed, true, 42, u"/usr/bin/x", u"/t/d", u"/t/é"});
    std::ofstream(std::filesystem::path(ChangeLogPath(db)), std::ios::app | std::ios::binary) << "\x20\x00\x00";
    std::vector<ChangeEntry> read;
    std::string note;
    ASSERT_TRUE(ReadChangeLog(db, read, note));
    ASSERT_EQ(1u, read.size()) << "the torn tail is left out";
    EXPECT_EQ(std::make_tuple(std::u16string(u"/t/é"), true, 42u), std::make_tuple(read[0].to, read[0].folder, read[0].processId));
    append({99, ChangeKind::kRemoved, false, 0, u"", u"/t/a", u""});
    ASSERT_TRUE(ReadChangeLog(db, read, note));
    ASSERT_EQ(2u, read.size());
    EXPECT_TRUE(note.empty()) << note;
    EXPECT_EQ(ChangeKind::kRemoved, read[1].kind);
    std::filesystem::remove_all(folder);
}

TEST(ParseMoment, TakesCivilTimesSecondsSince1970AndTimesAgo) {
    const uint64_t now = 1765000000000ull;
    const std::pair<const char*, uint64_t> moments[] = {
        {"2025-12-06 05:46:40", 1765000000000ull}, {"2025-12-06T05:46:40.250Z", 1765000000250ull},
        {"2025-12-06 05:46:40 UTC", 1765000000000ull}, {"2024-02-29 00:00:00", 1709164800000ull},
        {"@1765000000", 1765000000000ull}, {"-10m", now - 600000}, {"-2d", now - 172800000},
    };
    uint64_t ms = 0;
    for (const auto& [text, expected] : moments) {
        std::string error;
        EXPECT_TRUE(ParseMoment(text, now, ms, error)) << text << ": " << error;
        EXPECT_EQ(expected, ms) << text;
    }
    for (const char* text :
         {"2023-02-29 00:00:00", "2025-13-01 00:00:00", "2025-12-06 24:00:00", "yesterday", "-10w", "@"}) {
        std::string error;
        EXPECT_FALSE(ParseMoment(text, now, ms, error)) << text;
        EXPECT_NE(std::string::npos, error.find("is not a moment")) << text;
    }
}

TEST(OwnRestores, ChangesToThePathsBeingRestoredAreTheHostsOwnUntilTheQuietTimeEnds) {
    // The host restores /w/a and /w/b from second 60 on; done at 62, quiet until 63.
    const struct {
        const char* name;
        bool restoring;
        const char* path;
        double at;
        bool own;
    } cases[] = {
        {"a restored file changed while restoring", true, "/w/a", 61, true},
        {"another file changed while restoring", true, "/w/c", 61, false},
        {"a restored file changed in the quiet time", false, "/w/b", 62.9, true},
        {"a restored file changed after the quiet time", false, "/w/a", 63.5, false},
    };
    for (const auto& c : cases) {
        OwnRestores own;
        own.Begin({"/w/a", "/w/b"});
        if (!c.restoring) own.Done(63.0);
        EXPECT_EQ(c.own, own.IsOwn(c.path, c.at)) << c.name;
        EXPECT_EQ(c.own ? 1u : 0u, own.TakeIgnoredCount()) << c.name;
        EXPECT_EQ(0u, own.TakeIgnoredCount()) << c.name << ": the count starts again";
    }
    OwnRestores own;
    own.Begin({"/w/a"});
    own.Done(63.0);
    own.Begin({"/w/b"});  // the next rollback: the first one's paths are no longer the host's
    EXPECT_FALSE(own.IsOwn("/w/a", 71.0));
    EXPECT_TRUE(own.IsOwn("/w/b", 71.0));
}

}  // namespace
