// A message object: what the host hands the plug-in as the input or output of a call or a
// notification, and what the plug-in hands a host interface. The host's message-buffer
// library holds the record; the object holds its handle.
//
// What a host may rely on, and what it must not expect:
// - The plug-in reads two parts of a host's object and nothing else: the table pointer it
//   begins with (never called through) and the record's 16-byte handle right after it, at
//   byte 8. Every Windows compiler lays those out alike for a class whose only virtual
//   function is its destructor; whatever the host's class holds after the handle (its own
//   read cursors, for example) is never read or written, so any compiler's layout is safe.
// - The plug-in may add fields to the record (answers are put into the output's record) and
//   reads it through the library only. The host owns the object and its record; the plug-in
//   never destroys, frees or re-points either.
// - Reading repeated component records (notification 4116) the plug-in keeps its own read
//   cursor per object address and handle: a host that hands the same object again gets the
//   next record, and a new object at a reused address (a new handle) starts at the first.
//   Cursors are kept for the HostCursorTable::kCapacity objects read most recently; an
//   object read longer ago starts at its first record again.
// - The host's own cursors, if its class has any, are not advanced.
// - The plug-in's own message objects have the same beginning: a table of one slot, a
//   deleting destructor that takes a flag (bit 0 set = free the object), then the handle.
#pragma once
#include <cstddef>
#include <cstdint>

#include "host/message_library.h"

// The part of a message object that the plug-in reads, as a plain structure.
struct HostMessageLayout {
    const void* table;
    VELK_DataHandle handle;
};
static_assert(offsetof(HostMessageLayout, handle) == 8, "the handle follows the table pointer");

// A host's message class, as the reference host and the tests build their messages.
class HostMessageObject {
public:
    // An anonymous record, or one named nameId.
    explicit HostMessageObject(uint32_t nameId = 0) { VELK_Msg_CreateDataHandle(nameId, &handle); }
    // A second owner of an existing record.
    explicit HostMessageObject(VELK_DataHandle existing) {
        VELK_Msg_ShareDataHandle(existing, &handle);
    }
    HostMessageObject(const HostMessageObject&) = delete;
    HostMessageObject& operator=(const HostMessageObject&) = delete;
    virtual ~HostMessageObject() { VELK_Msg_DestroyDataHandle(&handle); }

    VELK_DataHandle handle{};
};
