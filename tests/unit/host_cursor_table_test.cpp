// HostCursorTable: cursors per object address, handle and name id; a reused address with a
// new handle; the bound with its least-recently-used eviction. Readers of one object on two
// threads are driven through the plug-in's exports (plugin_events_test.cpp).
#include "host/host_cursor_table.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

constexpr uint32_t kFail = 0xE0FE0002;  // what the library answers past the last record

// A stand-in for the objects the host hands over: distinct addresses, one handle each.
constexpr size_t kObjects = HostCursorTable::kCapacity + 1 + 1000;
char g_objects[kObjects];

HostCursorTable::Key KeyOf(size_t object, uint64_t handle = 1, uint32_t nameId = 0x100B5) {
    return {&g_objects[object], {handle, ~handle}, nameId};
}

// Reads one record of key through the table from a host object holding `records` of them;
// answers the index read, or -1 when nothing was left.
int64_t ReadOne(HostCursorTable& table, const HostCursorTable::Key& key, uint32_t records = 100) {
    int64_t seen = -1;
    table.ReadNext(key, [&](uint32_t index) {
        if (index >= records) return kFail;
        seen = index;
        return velk::kSuccess;
    });
    return seen;
}

// Successive reads walk the records, failures do not advance, and a record the host adds later
// is the next one read; a key that differs in one part has a cursor of its own, and a reused
// address with a new handle starts at the first record, its old entry making room.
TEST(HostCursorTable, EachKeyWalksItsRecordsOnce) {
    HostCursorTable table;
    const auto key = KeyOf(0);
    for (int64_t expected : {0, 1, -1, -1}) EXPECT_EQ(ReadOne(table, key, 2), expected);
    EXPECT_EQ(table.Cursor(key), 2u);
    EXPECT_EQ(ReadOne(table, key, 3), 2);
    const struct {
        const char* what;
        HostCursorTable::Key key;
        uint32_t cursor;
    } cases[] = {
        {"same object, handle and name", KeyOf(0), 3},
        {"another object", KeyOf(1), 0},
        {"another name id", KeyOf(0, 1, 0x100BD), 0},
        {"another low half of the handle", {&g_objects[0], {2, ~uint64_t{1}}, 0x100B5}, 0},
        {"another high half of the handle", {&g_objects[0], {1, 0}, 0x100B5}, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(table.Cursor(c.key), c.cursor) << c.what;
    EXPECT_EQ(ReadOne(table, KeyOf(0, 8)), 0) << "a new object at the old one's address";
    EXPECT_EQ(ReadOne(table, KeyOf(0, 8)), 1);
    EXPECT_EQ(table.Cursor(KeyOf(0)), 0u) << "the old object's entry made room";
}

TEST(HostCursorTable, BoundForgetsTheLeastRecentlyReadObject) {
    HostCursorTable table;
    const size_t capacity = HostCursorTable::kCapacity;
    for (size_t i = 0; i < capacity; ++i) ReadOne(table, KeyOf(i));
    ReadOne(table, KeyOf(0));  // object 0 is now the most recent; object 1 the least
    ReadOne(table, KeyOf(capacity));  // one more than fits
    EXPECT_EQ(table.Cursor(KeyOf(1)), 0u) << "forgotten";
    EXPECT_EQ(table.Cursor(KeyOf(0)), 2u);
    for (size_t i = 2; i <= capacity; ++i) EXPECT_EQ(table.Cursor(KeyOf(i)), 1u) << i;
    // A long run of new objects keeps exactly the last `capacity` of them.
    for (size_t i = capacity + 1; i < kObjects; ++i) ReadOne(table, KeyOf(i));
    size_t remembered = 0;
    for (size_t i = 0; i < kObjects; ++i) remembered += table.Cursor(KeyOf(i));
    EXPECT_EQ(remembered, capacity) << "each remembered object was read once";
    for (size_t i = kObjects - capacity; i < kObjects; ++i) EXPECT_EQ(table.Cursor(KeyOf(i)), 1u) << i;
}

}  // namespace
