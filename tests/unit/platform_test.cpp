// The platform layer: own module path, clock, ids.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/module.h"
#include "platform/process.h"

namespace {

TEST(OwnModuleFileName, NamesThisProgramAndTruncatesLikeTheWindowsCall) {
    char16_t path[1024] = {};
    const uint32_t length = platform::OwnModuleFileName(path, 1024);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, 1024u);
    const std::u16string full(path);
    EXPECT_EQ(full.size(), length);
    const size_t cut = full.rfind(platform::kPathSeparator);
    ASSERT_NE(cut, std::u16string::npos);
    std::u16string name = full.substr(cut + 1);
    if (name.size() > 4 && name.substr(name.size() - 4) == u".exe") name.resize(name.size() - 4);
    EXPECT_EQ(name, u"unit_tests");

    char16_t small[6];
    EXPECT_EQ(platform::OwnModuleFileName(small, 6), 6u);
    EXPECT_EQ(std::u16string(small), full.substr(0, 5));
    EXPECT_EQ(platform::OwnModuleFileName(nullptr, 10), 0u);
    EXPECT_EQ(platform::OwnModuleFileName(small, 0), 0u);
}

TEST(Clock, TickCountAdvancesInMilliseconds) {
    const uint32_t before = platform::TickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const uint32_t elapsed = platform::TickCount() - before;
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(Clock, LocalTimeIsACalendarDate) {
    const platform::SystemTime now = platform::LocalTime();
    EXPECT_GE(now.wYear, 2024);
    EXPECT_GE(now.wMonth, 1);
    EXPECT_LE(now.wMonth, 12);
    EXPECT_GE(now.wDay, 1);
    EXPECT_LE(now.wDay, 31);
    EXPECT_LE(now.wDayOfWeek, 6);
    EXPECT_LE(now.wHour, 23);
    EXPECT_LE(now.wMinute, 59);
    EXPECT_LE(now.wSecond, 60);
    EXPECT_LE(now.wMilliseconds, 999);
}

TEST(Process, ThreadsHaveTheirOwnIdsInOneProcess) {
    const uint32_t mainThread = platform::CurrentThreadId();
    uint32_t otherThread = 0, otherProcess = 0;
    std::thread([&] {
        otherThread = platform::CurrentThreadId();
        otherProcess = platform::CurrentProcessId();
    }).join();
    EXPECT_NE(platform::CurrentProcessId(), 0u);
    EXPECT_EQ(otherProcess, platform::CurrentProcessId());
    EXPECT_NE(otherThread, mainThread);
}

}  // namespace
