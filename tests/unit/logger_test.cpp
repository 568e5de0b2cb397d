// CLogger against real files: byte-order mark, level filter, header, long lines, rotation at
// the size limit on the two-second check, many writers. File faults: report_log_fault_test.cpp.
#include "util/logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/file_ops.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tests/fakes/test_folder.h"

namespace {

namespace fs = std::filesystem;

// The clock every logger of these tests reads. Each test moves it far past the last test's
// times, so the process-wide last check is always due at a test's first write.
uint32_t g_now = 1000000;
uint32_t FakeTicks() { return g_now; }

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now += 100000;
        folder = MakeTestFolder("logger");
        path = folder / "Report.log";
    }
    void TearDown() override { fs::remove_all(folder); }
    // Opens (the test's file unless told) with the header off, as the engine wrapper does.
    void OpenBare(util::CLogger& logger, uint32_t maxLevel = 6, const fs::path& at = {}) {
        ASSERT_EQ(logger.Open(maxLevel, (at.empty() ? path : at).u16string().c_str()), 1u);
        logger.SetHeader(0);
    }

    fs::path folder;
    fs::path path;
};

// A new file starts with one byte-order mark (a reopened one gets none); lines above the
// maximum level or above 6 are dropped; a source's base name and line follow the text; long
// lines are written whole.
TEST_F(LoggerTest, MarkLevelsSourceSuffixAndLongLines) {
    {
        util::CLogger logger(platform::SystemFileOps(), FakeTicks);
        OpenBare(logger, 4);
        logger.Write(5, u"debug");
        logger.Write(4, u"first %d", 1);
        logger.Write(0, u"zero");
    }
    util::CLogger logger(platform::SystemFileOps(), FakeTicks);
    OpenBare(logger, 9);
    logger.Write(7, u"seven");
    logger.Write(6, u"six");
    const util::FormatArg none[1] = {};
    logger.WriteV(u"C:\\src\\engine\\restore.cpp", 42, 4, u"a", none, 0);
    logger.WriteV(u"/src/engine/report.cpp", 7, 4, u"b", none, 0);
    logger.WriteV(u"plain.cpp", 1, 4, u"c", none, 0);
    logger.WriteV(u"skipped.cpp", 0, 4, u"d", none, 0);
    std::u16string expected = u"\uFEFFfirst 1\r\nzero\r\nsix\r\na[.\\restore.cpp(42)]\r\n"
                              u"b[.\\report.cpp(7)]\r\nc[.\\plain.cpp(1)]\r\nd\r\n";
    for (size_t length : {1899u, 1900u, 1901u, 5000u, 100000u}) {
        logger.Write(4, u"%s|", std::u16string(length, u'm'));
        expected += std::u16string(length, u'm') + u"|\r\n";
    }
    logger.Close();
    EXPECT_EQ(ReadUtf16File(path), expected);
}

std::string StampText(const platform::SystemTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u(%03u)", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

// [yyyy-mm-dd hh:mm:ss(mmm)] [PID:n] [TID:n] [Level]<tab>: the stamp, taken at the readings' width,
// lies between the clock's readings around the writes (a field of another width or order falls
// outside them); the rest is exact.
TEST_F(LoggerTest, HeaderIsExactForEveryLevelName) {
    const char* const names[] = {"", "Fatal", "Error", "Warning", "Info", "Debug", "Detail"};
    util::CLogger logger(platform::SystemFileOps(), FakeTicks);
    ASSERT_EQ(logger.Open(6, path.u16string().c_str()), 1u);
    const std::string before = StampText(platform::LocalTime());
    for (uint32_t level = 0; level <= 6; ++level) logger.Write(level, u"line %u", level);
    const std::string after = StampText(platform::LocalTime());
    logger.Close();

    std::istringstream lines(platform::ToUtf8(ReadUtf16File(path).substr(1)));
    std::string line;
    for (uint32_t level = 0; level <= 6; ++level) {
        ASSERT_TRUE(std::getline(lines, line)) << level;
        const std::string stamp = line.substr(1, before.size());
        EXPECT_GE(stamp, before);
        EXPECT_LE(stamp, after);
        EXPECT_EQ(line, "[" + stamp + "] [PID:" + std::to_string(platform::CurrentProcessId()) + "] [TID:" +
                            std::to_string(platform::CurrentThreadId()) + "] [" + names[level] + "]\tline " +
                            std::to_string(level) + "\r");
    }
    EXPECT_FALSE(std::getline(lines, line)) << "one line per level";
}

// Where Open finds the folder to create, for paths that climb out of a part with "..", and
// what it refuses.
TEST_F(LoggerTest, OpenResolvesDotsBeforeMakingTheFolderAndRefuses) {
    { std::ofstream(folder / "file") << "a regular file"; }
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    const struct {
        std::u16string path;
        fs::path created;
        fs::path absent;
    } cases[] = {
        {(folder / "file" / ".." / "x.log").u16string(), folder / "x.log", {}},
        {(fs::path("sub1") / ".." / "r.log").u16string(), folder / "r.log", folder / "sub1"},
        {(folder / "a" / "." / "b" / ".." / "c.log").u16string(), folder / "a" / "c.log", folder / "a" / "b"},
    };
    for (const auto& c : cases) {
        util::CLogger logger(platform::SystemFileOps(), FakeTicks);
        EXPECT_EQ(logger.Open(6, c.path.c_str()), 1u) << fs::path(c.path);
        logger.Close();
        EXPECT_TRUE(fs::is_regular_file(c.created)) << c.created;
        EXPECT_TRUE(c.absent.empty() || !fs::exists(c.absent)) << c.absent;
    }
    fs::current_path(previous);
    util::CLogger logger(platform::SystemFileOps(), FakeTicks);
    EXPECT_EQ(logger.Open(6, nullptr), 0u);
    EXPECT_EQ(logger.Open(6, (folder / "file" / "sub" / "Report.log").u16string().c_str()), 0u);
    logger.Write(4, u"dropped while closed");
    ASSERT_EQ(logger.Open(6, (folder / "a" / "b" / "Report.log").u16string().c_str()), 1u);
    EXPECT_EQ(logger.Open(6, path.u16string().c_str()), 0u) << "already open";
}

// File calls that note where a rotation goes, over a short real file whatever the path.
std::u16string g_rotatedTo;
fs::path g_shortFile;

TEST_F(LoggerTest, RotatedNameIsCutTo260Units) {
    platform::FileOps files = platform::SystemFileOps();
    files.openAlways = [](const char16_t*, bool* existed) {
        return platform::SystemFileOps().openAlways(g_shortFile.u16string().c_str(), existed);
    };
    files.sizeLow = [](platform::FileHandle) { return util::CLogger::kSizeLimit + 1; };
    files.moveReplacing = [](const char16_t*, const char16_t* to) { g_rotatedTo = to; return true; };
    files.createFolderTree = [](const char16_t*) { return platform::kFolderExists; };
    g_shortFile = path;
    const std::u16string root = fs::path(u"/").make_preferred().u16string();
    // Up to 258 units: on Windows the drive makes the full path 260 units, the most it may have.
    for (size_t length : {200u, 255u, 256u, 257u, 258u}) {
        const std::u16string name = root + std::u16string(length - root.size() - 4, u'n') + u".log";
        util::CLogger logger(files, FakeTicks);
        ASSERT_EQ(logger.Open(6, name.c_str()), 1u) << length;
        logger.Write(4, u"sync");  // the process's first write starts the shared check time
        g_now += 100000;
        g_rotatedTo.clear();
        logger.Write(4, u"x");
        EXPECT_EQ(g_rotatedTo, (name + u".old").substr(0, 260)) << length;
    }
}

// Rotation needs a size above the limit in the low 32 bits (all ones rotates, a whole 4 GiB
// does not: the platform's size call is exact in its low word) and a due check; loggers of one
// process share the time of the last check, so another logger's check puts it off. It replaces
// an earlier rotated file. The check also reopens the file, so one deleted meanwhile is made anew
// with its mark, and the lines after the check go to the file it opened.
TEST_F(LoggerTest, RotatesOnlyAboveTheLimitAndOnlyOnTheSharedCheck) {
    constexpr uintmax_t kDeleted = ~uintmax_t{0};
    const struct {
        uintmax_t size;
        uint32_t waitMs;
        bool rotated;
        bool oldFileBefore = false;
        uint32_t otherCheckMs = 0;  // when another logger checked, after this one's last check
    } cases[] = {
        {2097153, 2000, true},       {2097152, 2000, false},     {2097153, 1999, false},
        {3000000, 60000, true},      {2097153, 2000, true, true}, {0xFFFFFFFF, 2000, true},
        {0x100000000, 2000, false},  {0x100200000, 2000, false}, {0x100200001, 2000, true},
        {kDeleted, 2000, false},     {2097153, 3500, false, false, 2500}, {2097153, 4500, true, false, 2500},
    };
    const fs::path old = path.u16string() + u".old";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.size << " after " << std::dec << c.waitMs);
        fs::remove(path);
        fs::remove(old);
        if (c.oldFileBefore) std::ofstream(old) << "previous";
        util::CLogger logger(platform::SystemFileOps(), FakeTicks);
        OpenBare(logger);
        g_now += 100000;
        logger.Write(4, u"sync");  // a due check: the last check is now
        if (c.size == kDeleted) ASSERT_TRUE(fs::remove(path));
        else fs::resize_file(path, c.size);  // sparse: nothing is written
        if (c.otherCheckMs != 0) {
            util::CLogger other(platform::SystemFileOps(), FakeTicks);
            OpenBare(other, 6, folder / "Other.log");
            g_now += c.otherCheckMs;
            other.Write(4, u"checked");  // due: the shared last check moves here
        }
        g_now += c.waitMs - c.otherCheckMs;
        logger.Write(4, u"next");  // into a deleted file, or rotated before it is written
        logger.Write(4, u"kept");
        logger.Close();
        EXPECT_EQ(fs::exists(old), c.rotated);
        if (c.size == kDeleted) {
            EXPECT_EQ(ReadUtf16File(path), u"\uFEFFkept\r\n") << "a new file with its mark";
        } else if (c.rotated) {
            EXPECT_EQ(fs::file_size(old), c.size);
            EXPECT_EQ(ReadUtf16File(path), u"\uFEFFnext\r\nkept\r\n") << "a fresh file with its mark";
        } else {
            EXPECT_EQ(fs::file_size(path), c.size + 24);
        }
    }
}

TEST_F(LoggerTest, ManyThreadsNeverSplitALine) {
    util::CLogger logger(platform::SystemFileOps(), FakeTicks);
    OpenBare(logger);
    constexpr int kThreads = 8;
    constexpr int kLines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&logger, t] {
            const std::u16string body(150, static_cast<char16_t>(u'a' + t));
            for (int i = 0; i < kLines; ++i) logger.Write(4, u"%s", body);
        });
    }
    for (std::thread& thread : threads) thread.join();
    logger.Close();
    const std::u16string text = ReadUtf16File(path).substr(1);
    ASSERT_EQ(text.size(), static_cast<size_t>(kThreads * kLines * 152));
    for (size_t at = 0; at < text.size(); at += 152) {
        const std::u16string line = text.substr(at, 152);
        ASSERT_EQ(line.substr(150), u"\r\n") << "line at " << at;
        ASSERT_EQ(line.find_first_not_of(line[0]), 150u) << "line at " << at;
    }
}

}  // namespace
