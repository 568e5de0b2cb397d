// The layout of a message object that the host hands to the plug-in as the input or output
// of a call or notification: a table pointer, the record's handle, and the read cursors per
// name id. The plug-in reads the handle and advances the cursors in place, so a host must
// build its message objects with exactly this layout (the plug-in's VELK_DataHandleWrapper
// has it too). The host owns the object; the plug-in never destroys it.
#pragma once
#include <cstdint>
#include <map>

#include "host/message_library.h"

// The same layout as a plain structure, for code that reads or re-points the handle of a
// message object it did not make (the table is never called through).
struct HostMessageLayout {
    const void* table;
    VELK_DataHandle handle;
    std::map<uint32_t, uint32_t> cursors;
};

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
    std::map<uint32_t, uint32_t> cursors;
};
