// The dispatch of a cheap call allocates nothing: every allocation the calling thread makes
// while a call runs is counted through the replaced global allocation functions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "host/log_library_control.h"
#include "tests/unit/wrapper_fixture.h"

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

}  // namespace
