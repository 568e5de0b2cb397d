// The reference message-buffer library on its own: handle checks, typed reads, buffer sizes,
// nested records, and handles shared and destroyed from many threads.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "host/message_library.h"
#include "host/result_codes.h"

namespace {

VELK_DataHandle Create(uint32_t name = 0) {
    VELK_DataHandle handle{};
    EXPECT_EQ(VELK_Msg_CreateDataHandle(name, &handle), velk::kSuccess);
    return handle;
}

// A destroyed handle (its slot possibly taken again), a forged one and the empty one are
// refused by every call; so are null arguments.
TEST(Morrick, BadHandlesAndNullArgumentsAreRefused) {
    VELK_DataHandle destroyed = Create();
    const VELK_DataHandle copy = destroyed;
    ASSERT_EQ(VELK_Msg_DestroyDataHandle(&destroyed), velk::kSuccess);
    EXPECT_EQ(destroyed.lo | destroyed.hi, 0u) << "destroy clears the variable";
    VELK_DataHandle good = Create();  // may take the destroyed slot: copy must stay dead
    int32_t value = 0;
    uint32_t count = 0;
    VELK_DataHandle target{};
    for (const VELK_DataHandle& bad : {copy, VELK_DataHandle{0x1234, 0x5678}, VELK_DataHandle{0, 0}}) {
        VELK_DataHandle again = bad;
        for (const uint32_t result : {VELK_Msg_PutInt32(bad, 1, 1), VELK_Msg_GetInt32At(bad, 1, 0, &value), VELK_Msg_GetSizeOf(bad, 1, &count),
                                      VELK_Msg_ShareDataHandle(bad, &target), VELK_Msg_PutData(good, bad), VELK_Msg_DestroyDataHandle(&again)})
            EXPECT_EQ(result, MORRICK_E_BAD_HANDLE) << bad.lo;
    }
    for (const uint32_t result : {VELK_Msg_CreateDataHandle(0, nullptr), VELK_Msg_ShareDataHandle(good, nullptr), VELK_Msg_DestroyDataHandle(nullptr),
                                  VELK_Msg_PutBinary(good, 1, nullptr, 4), VELK_Msg_PutWString(good, 1, nullptr, 4), VELK_Msg_GetInt32At(good, 1, 0, nullptr),
                                  VELK_Msg_GetWStringAt(good, 1, 0, nullptr, 0, nullptr), VELK_Msg_GetDataAt(good, 1, 0, nullptr), VELK_Msg_GetNameID(good, nullptr)})
        EXPECT_EQ(result, MORRICK_E_NULL_ARGUMENT);
    EXPECT_EQ(VELK_Msg_PutWString(good, 1, nullptr, 0), velk::kSuccess);  // empty text
    EXPECT_EQ(VELK_Msg_DestroyDataHandle(&good), velk::kSuccess);
}

// Reads by type: 32-bit integers read as either signedness, other types refused, texts and
// bytes only into a buffer with room (the size needed told; a missing field is the message
// wrapper's test).
TEST(Morrick, TypedReadsRefuseOtherTypesAndNeedRoom) {
    VELK_DataHandle handle = Create();
    VELK_Msg_PutInt32(handle, 1, -7);
    VELK_Msg_PutUInt32(handle, 2, 0xFFFFFFF9u);
    VELK_Msg_PutWString(handle, 3, u"abcd", 4);
    VELK_Msg_PutString(handle, 4, "abc", 3);
    VELK_Msg_PutBinary(handle, 5, "\x01\x02\x03", 3);
    uint32_t unsignedValue = 0, length = 0, ignored = 0, size = 0;
    int32_t signedValue = 0;
    char16_t text[5] = {};
    uint8_t bytes[3] = {};
    const struct {
        const char* name;
        std::function<uint32_t()> read;
        uint32_t result;
    } cases[] = {
        {"int as unsigned", [&] { return VELK_Msg_GetUInt32At(handle, 1, 0, &unsignedValue); }, velk::kSuccess},
        {"unsigned as int", [&] { return VELK_Msg_GetInt32At(handle, 2, 0, &signedValue); }, velk::kSuccess},
        {"bytes as int", [&] { return VELK_Msg_GetInt32At(handle, 5, 0, &signedValue); }, MORRICK_E_WRONG_TYPE},
        {"text as unsigned", [&] { return VELK_Msg_GetUInt32At(handle, 3, 0, &unsignedValue); }, MORRICK_E_WRONG_TYPE},
        {"UTF-16 as narrow", [&] { return VELK_Msg_GetStringAt(handle, 3, 0, nullptr, 0, &ignored); }, MORRICK_E_WRONG_TYPE},
        {"narrow as UTF-16", [&] { return VELK_Msg_GetWStringAt(handle, 4, 0, nullptr, 0, &ignored); }, MORRICK_E_WRONG_TYPE},
        {"text length", [&] { return VELK_Msg_GetWStringAt(handle, 3, 0, nullptr, 0, &length); }, velk::kSuccess},
        {"text without room for its zero", [&] { return VELK_Msg_GetWStringAt(handle, 3, 0, text, 4, &ignored); }, MORRICK_E_BUFFER_TOO_SMALL},
        {"bytes without room", [&] { return VELK_Msg_GetBinaryAt(handle, 5, 0, bytes, 2, &size); }, MORRICK_E_BUFFER_TOO_SMALL},
        {"text with room", [&] { return VELK_Msg_GetWStringAt(handle, 3, 0, text, 5, &ignored); }, velk::kSuccess},
        {"bytes with room", [&] { return VELK_Msg_GetBinaryAt(handle, 5, 0, bytes, 3, &ignored); }, velk::kSuccess},
    };
    for (const auto& c : cases) EXPECT_EQ(c.read(), c.result) << c.name;
    EXPECT_EQ(std::make_tuple(unsignedValue, signedValue, length, size), std::make_tuple(0xFFFFFFF9u, -7, 4u, 3u))
        << "the values, the text's length and the size the bytes need";
    EXPECT_EQ(std::make_pair(std::u16string(text), int{bytes[2]}), std::make_pair(std::u16string(u"abcd"), 3));
    VELK_Msg_DestroyDataHandle(&handle);
}

TEST(Morrick, GetDataAtRepointsAnExistingTarget) {
    VELK_DataHandle parent = Create();
    VELK_DataHandle child = Create(0x1028C);
    VELK_Msg_PutUInt32(child, 1, 5);
    VELK_Msg_PutData(parent, child);
    VELK_Msg_PutData(parent, child);

    VELK_DataHandle target = Create(0x999);
    ASSERT_EQ(VELK_Msg_GetDataAt(parent, 0x1028C, 1, &target), velk::kSuccess);
    uint32_t name = 0, value = 0, count = 0;
    VELK_Msg_GetNameID(target, &name);
    VELK_Msg_GetUInt32At(target, 1, 0, &value);
    EXPECT_EQ(std::make_pair(name, value), std::make_pair(0x1028Cu, 5u));
    // Changing the delivered copy leaves the parent's nested record alone.
    VELK_Msg_PutUInt32(target, 1, 6);
    VELK_DataHandle again{};
    ASSERT_EQ(VELK_Msg_ReadDataAt(parent, 0x1028C, 1, &again), velk::kSuccess);
    VELK_Msg_GetSizeOf(again, 1, &count);
    EXPECT_EQ(count, 1u);
    EXPECT_TRUE(velk::Failed(VELK_Msg_ReadDataAt(parent, 0x1028C, 2, &again)));
    for (VELK_DataHandle* handle : {&parent, &child, &target, &again}) EXPECT_EQ(VELK_Msg_DestroyDataHandle(handle), velk::kSuccess);
}

TEST(Morrick, HandlesSharedAndDestroyedFromManyThreads) {
    VELK_DataHandle shared = Create(1);
    VELK_Msg_PutUInt32(shared, 1, 77);
    constexpr int kThreads = 4, kRounds = 2000;
    std::atomic<int> wrongReads{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                VELK_DataHandle mine{};
                uint32_t value = 0;
                if (VELK_Msg_ShareDataHandle(shared, &mine) != velk::kSuccess ||
                    VELK_Msg_GetUInt32At(mine, 1, 0, &value) != velk::kSuccess || value != 77)
                    ++wrongReads;
                VELK_Msg_PutInt32(mine, 2, i);  // writers on one record take its lock
                VELK_Msg_DestroyDataHandle(&mine);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrongReads.load(), 0);
    uint32_t count = 0;
    VELK_Msg_GetSizeOf(shared, 2, &count);
    EXPECT_EQ(count, static_cast<uint32_t>(kThreads * kRounds));
    VELK_Msg_DestroyDataHandle(&shared);
}

}  // namespace
