// The reference log library: rendered lines, sinks, and many threads writing at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "host/log_library_control.h"
#include "tests/fakes/test_folder.h"

namespace {

class QuastleTest : public ::testing::Test {
protected:
    void SetUp() override {
        Quastle_ResetLevels();
        Quastle_SetEnabled(1);
        Quastle_SetCapture(0);
        folder = MakeTestFolder("quastle");
    }
    void TearDown() override {
        Quastle_SinkToNothing();
        Quastle_ResetLevels();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::u16string TempPath(const char* name) const { return (folder / name).u16string(); }

    std::filesystem::path folder;
};

// What the library does not take: a tag it cannot read, a handle it never gave out, a sink it
// cannot open. (Levels set per tag, 0 among them, and set again are the diagnostic log's test.)
TEST_F(QuastleTest, RefusalsAndTheDefaultLevel) {
    LogHandle log = Log_GetDefaultHandle();
    ASSERT_NE(log, nullptr);
    Quastle_SetDefaultLevel(4);
    int foreign = 0;  // a handle it never gave out
    const auto levels = std::make_tuple(Log_GetLogLevel(log, u"C"), Log_GetLogLevel(log, nullptr),
                                        Log_GetLogLevel(&foreign, u"C"));
    EXPECT_EQ(std::make_tuple(4u, 0u, 0u), levels);
    Quastle_SetCapture(1);
    Log_Flush(&foreign, u"T", 2, u"S", 1, u"x", 2);
    Log_Flush(nullptr, u"T", 2, u"S", 1, u"x", 2);
    EXPECT_EQ(Quastle_CapturedCount(), 0u);
    QuastleLine line{};
    EXPECT_EQ(std::make_pair(int32_t{0}, int32_t{0}), std::make_pair(Quastle_GetCaptured(0, &line), Quastle_GetCaptured(0, nullptr)));
    EXPECT_EQ(std::make_pair(int32_t{0}, int32_t{0}), std::make_pair(Quastle_SinkToFile(TempPath("no-such-dir/x/y.log").c_str()), Quastle_SinkToFile(nullptr)));
    Quastle_SetEnabled(0);
    EXPECT_EQ(Log_GetDefaultHandle(), nullptr);
}

// The file sink renders time, tag, level, source, line and text, one whole line per flush
// however many threads write at once; the capture keeps every line.
TEST_F(QuastleTest, FileSinkRendersWholeLinesFromManyThreads) {
    const std::u16string path = TempPath("quastle.log");
    ASSERT_EQ(Quastle_SinkToFile(path.c_str()), 1);
    const std::u16string first = u"Fail to access ZEF dll \u00e9";
    Log_Flush(Log_GetDefaultHandle(), u"Plugin ZEF Wrapper", 5, u"PlugEngineZef", 395, first.data(), static_cast<uint32_t>(first.size() * 2));
    Log_Flush(Log_GetDefaultHandle(), u"T", 2, u"S", 1, nullptr, 0);
    Quastle_SetCapture(1);
    constexpr int kThreads = 8, kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::u16string text = u"thread " + std::u16string(1, char16_t(u'A' + t)) + std::u16string(200, char16_t(u'a' + t));
            for (int i = 0; i < kLines; ++i)
                Log_Flush(Log_GetDefaultHandle(), u"T", 2, u"S", static_cast<uint32_t>(i), text.data(), static_cast<uint32_t>(text.size() * 2));
        });
    }
    for (std::thread& thread : threads) thread.join();
    Quastle_SinkToNothing();
    EXPECT_EQ(Quastle_CapturedCount(), static_cast<uint32_t>(kThreads * kLines));

    std::istringstream lines(ReadFileBytes(std::filesystem::path(path)));
    std::string line;
    for (const char* fixed : {"[Plugin ZEF Wrapper] 5 PlugEngineZef(395): Fail to access ZEF dll \xC3\xA9", "[T] 2 S(1): "}) {
        ASSERT_TRUE(std::getline(lines, line));
        ASSERT_GT(line.size(), 24u);  // "YYYY-MM-DD hh:mm:ss.mmm " then the fixed part
        EXPECT_EQ(line.substr(4, 1) + line.substr(13, 1) + line.substr(19, 1), "-:.");
        EXPECT_EQ(line.substr(24), fixed);
    }
    int count = 0;
    for (; std::getline(lines, line); ++count) {
        const size_t at = line.find("): thread ");
        ASSERT_NE(at, std::string::npos) << line;
        EXPECT_EQ(line.substr(at + 11), std::string(200, static_cast<char>(line[at + 10] - 'A' + 'a')));
    }
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
