// VELK_DataHandleWrapper over the reference message library: ownership, typed fields,
// the two-step string reads at their buffer boundaries, nested records and read cursors.
#include "host/velk_data_handle_wrapper.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "host/host_message.h"
#include "host/message_object.h"
#include "host/result_codes.h"

namespace {

bool IsLive(const VELK_DataHandle& handle) {
    uint32_t name = 0;
    return velk::Succeeded(VELK_Msg_GetNameID(handle, &name));
}
uint32_t NameOf(const VELK_DataHandleWrapper& record) {
    uint32_t name = 99;
    EXPECT_EQ(VELK_Msg_GetNameID(record.Handle(), &name), velk::kSuccess);
    return name;
}

// Constructors create (anonymous or named), share, or hold nothing; an owner releases only its
// own reference.
TEST(MessageWrapper, ConstructorsCreateShareOrHoldNothing) {
    VELK_DataHandleWrapper anonymous, named(0x10030, true), none(0x10030, false);
    EXPECT_EQ(NameOf(anonymous), 0u);
    EXPECT_EQ(NameOf(named), 0x10030u);
    EXPECT_TRUE(VELK_DataHandleWrapper::IsEmpty(none.Handle()));
    EXPECT_FALSE(VELK_DataHandleWrapper::IsEmpty(named.Handle()));
    EXPECT_TRUE(velk::Failed(none.PutInt32(1, 1)));  // calls on no record fail, not crash

    VELK_DataHandle first{};
    {
        auto original = std::make_unique<VELK_DataHandleWrapper>(7, true);
        original->PutUInt32(1, 42);
        VELK_DataHandleWrapper second(original->Handle());
        first = original->Handle();
        original.reset();
        EXPECT_FALSE(IsLive(first));
        uint32_t value = 0;
        EXPECT_EQ(second.GetUInt32At(1, value), velk::kSuccess);
        EXPECT_EQ(value, 42u);
        first = second.Handle();
    }
    EXPECT_FALSE(IsLive(first));
}

// Repeated names become occurrences; a 64-bit number is eight little-endian bytes; an absent
// or mistyped string reads empty with the library's result; a nested record is the child as it
// was when put.
TEST(MessageWrapper, TypedFieldsOccurrencesAndNestedRecords) {
    VELK_DataHandleWrapper record, child(0x10030, true);
    record.PutInt32(0x2070E, -5);
    record.PutInt32(0x2070E, 6);
    int32_t value = 0;
    uint32_t count = 0;
    EXPECT_EQ(record.GetInt32At(0x2070E, value), velk::kSuccess);
    EXPECT_EQ(value, -5);
    ASSERT_EQ(VELK_Msg_GetInt32At(record.Handle(), 0x2070E, 1, &value), velk::kSuccess);
    EXPECT_EQ(value, 6);
    EXPECT_EQ(record.GetSizeOf(0x2070E, count), velk::kSuccess);
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(velk::Failed(VELK_Msg_GetInt32At(record.Handle(), 0x2070E, 2, &value)));

    ASSERT_EQ(record.PutUInt64(0x20A99, 0x0102030405060708ull), velk::kSuccess);
    uint8_t bytes[8] = {};
    const uint8_t expected[8] = {8, 7, 6, 5, 4, 3, 2, 1};
    ASSERT_EQ(VELK_Msg_GetBinaryAt(record.Handle(), 0x20A99, 0, bytes, 8, &count), velk::kSuccess);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(std::memcmp(bytes, expected, 8), 0);

    record.PutUInt32(5, 1);
    std::u16string text = u"stale";
    EXPECT_EQ(record.GetWStringAt(4, text), MORRICK_E_NOT_FOUND);
    EXPECT_TRUE(text.empty());
    text = u"stale";
    EXPECT_EQ(record.GetWStringAt(5, text), MORRICK_E_WRONG_TYPE);
    EXPECT_TRUE(text.empty());

    child.PutInt32(0x20711, 2);
    ASSERT_EQ(record.PutData(child), velk::kSuccess);
    child.PutInt32(0x20711, 3);  // after the put: not in the parent
    VELK_DataHandleWrapper read(0, false);
    ASSERT_EQ(record.ReadDataAt(0x10030, 0, read), velk::kSuccess);
    read.GetSizeOf(0x20711, count);
    EXPECT_EQ(count, 1u);
}

TEST(MessageWrapper, StringReadsAcrossTheLocalBufferBoundary) {
    for (uint32_t length : {0u, 1u, 1023u, 1024u, 1025u, 70000u}) {
        VELK_DataHandleWrapper record;
        std::u16string wide(length, u'w');
        std::string narrow(length, 'n');
        if (length > 0) {
            wide.back() = u'\u00e9';
            narrow.back() = 'z';
        }
        record.PutWString(17, wide);
        VELK_Msg_PutString(record.Handle(), 18, narrow.data(), length);
        std::u16string readWide = u"stale";
        std::string readNarrow = "stale";
        EXPECT_EQ(record.GetWStringAt(17, readWide), velk::kSuccess) << length;
        EXPECT_EQ(record.GetStringAt(18, readNarrow), velk::kSuccess) << length;
        EXPECT_EQ(readWide, wide) << length;
        EXPECT_EQ(readNarrow, narrow) << length;
    }
}

// A host's message object as another compiler lays it out: the table pointer, the handle,
// then that compiler's own members (a map as a head pointer and a size), and guard bytes.
struct ForeignMessageObject {
    const void* table;
    VELK_DataHandle handle;
    void* head;
    uint64_t size;
    unsigned char guard[32];
};

// A host's object is read through its handle alone, the same object handed again giving the
// next record, and none of its bytes changed.
TEST(MessageWrapper, HostObjectsAreReadRecordByRecordUntouched) {
    ForeignMessageObject host;
    std::memset(&host, 0xA5, sizeof host);
    VELK_Msg_CreateDataHandle(0, &host.handle);
    for (int32_t type : {3, 2}) {
        VELK_DataHandleWrapper entry(0x100B5, true);
        entry.PutInt32(1, type);
        VELK_Msg_PutData(host.handle, entry.Handle());
    }
    ForeignMessageObject before;
    std::memcpy(&before, &host, sizeof host);
    const void* received = &host;  // as the plug-in receives it
    EXPECT_EQ(HostMessageHandle(received).lo, host.handle.lo);
    for (int32_t expected : {3, 2}) {
        VELK_DataHandleWrapper entry(0, false);
        ASSERT_EQ(ReadNextHostRecord(received, 0x100B5, entry), velk::kSuccess);
        int32_t type = 0;
        entry.GetInt32At(1, type);
        EXPECT_EQ(type, expected);
    }
    VELK_DataHandleWrapper past(0, false);
    EXPECT_TRUE(velk::Failed(ReadNextHostRecord(received, 0x100B5, past)));
    EXPECT_EQ(std::memcmp(&before, &host, sizeof host), 0) << "no byte of the host's object changed";
    EXPECT_EQ(HostMessageHandle(nullptr).lo, 0u);
    VELK_Msg_DestroyDataHandle(&host.handle);
}

TEST(MessageWrapper, OwnObjectsHaveOneSlotThatDestroysAndFreesOnFlag) {
    using DeleteSlot = void* (*)(void*, uint32_t);
    // Flag clear: destroyed in place, the record released, the memory left to its owner.
    alignas(VELK_DataHandleWrapper) unsigned char storage[sizeof(VELK_DataHandleWrapper)];
    auto* inPlace = new (storage) VELK_DataHandleWrapper(0x10030, true);
    const VELK_DataHandle held = inPlace->Handle();
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&inPlace->Handle()) - storage, 8)
        << "the handle follows the table pointer, as in a host's object";
    EXPECT_EQ(reinterpret_cast<DeleteSlot>((*reinterpret_cast<void***>(inPlace))[0])(inPlace, 0),
              static_cast<void*>(storage));
    EXPECT_FALSE(IsLive(held));
    // Flag set: destroyed and freed (the sanitizers see a leak if it is not).
    auto* onHeap = new VELK_DataHandleWrapper(0x10030, true);
    const VELK_DataHandle heapHeld = onHeap->Handle();
    reinterpret_cast<DeleteSlot>((*reinterpret_cast<void***>(onHeap))[0])(onHeap, 1);
    EXPECT_FALSE(IsLive(heapHeld));
}

}  // namespace
