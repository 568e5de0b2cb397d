// The dispatch of a cheap call, and a log line that fits the stack buffer, allocate nothing:
// every allocation the calling thread makes is counted through the replaced global
// allocation functions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include <filesystem>
#include <string>

#include "host/log_library_control.h"
#include "tests/fakes/test_folder.h"
#include "tests/unit/wrapper_fixture.h"
#include "util/logger.h"

namespace {

thread_local bool t_counting = false;
thread_local int t_allocations = 0;

}  // namespace

// These replacements hand malloc's blocks out and back, which the compiler cannot see.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    if (t_counting) ++t_allocations;
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (t_counting) ++t_allocations;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace {

TEST_F(EngineWrapperTest, CheapCallsAllocateNothing) {
    CZefEngineWrapper& w = Started();
    engine->SetQuiet(true);
    Quastle_ResetLevels();  // diagnostics off, as in service
    const uint32_t ids[] = {velk::kFnFlushEvents, velk::kFnFlushValidEvents, 0x23600FFF};
    for (uint32_t id : ids) {
        t_allocations = 0;
        t_counting = true;
        const uint32_t result = w.CallFunc(id, nullptr, nullptr);
        t_counting = false;
        EXPECT_NE(result, velk::kZefNotRunning);
        EXPECT_EQ(t_allocations, 0) << std::hex << id;
    }
    // The counter does count: a line that the log lets through allocates its text.
    Quastle_SetDefaultLevel(1);
    t_allocations = 0;
    t_counting = true;
    w.CallFunc(velk::kFnFlushEvents, nullptr, nullptr);
    engine_callbacks::GetImagePathByUtilSysInfo(1, nullptr);
    t_counting = false;
    EXPECT_GT(t_allocations, 0);
    engine->SetQuiet(false);
}

uint32_t SteadyTicks() { return 5000; }  // after the first write no check is ever due

// A line is built on the stack while the message's length plus 180 (header on) or 100
// (header off) stays within 2000 units; one more unit takes one heap buffer.
TEST(LoggerAllocations, HeapBufferOnlyPastTheStackLimit) {
    const std::filesystem::path folder = MakeTestFolder("logger_allocations");
    const struct {
        bool header;
        size_t length;
        int allocations;
    } cases[] = {{true, 1820, 0}, {true, 1821, 1}, {false, 1900, 0}, {false, 1901, 1}};
    for (const auto& c : cases) {
        util::CLogger logger(platform::SystemFileOps(), SteadyTicks);
        ASSERT_EQ(logger.Open(6, (folder / "Report.log").u16string().c_str()), 1u);
        logger.SetHeader(c.header ? 1 : 0);
        logger.Write(4, u"first");  // the one due check of this clock, with its reopen
        const std::u16string message(c.length, u'm');
        t_allocations = 0;
        t_counting = true;
        logger.Write(4, u"%s", message);
        t_counting = false;
        EXPECT_EQ(t_allocations, c.allocations) << c.length << (c.header ? " with" : " without")
                                                << " the header";
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

}  // namespace
