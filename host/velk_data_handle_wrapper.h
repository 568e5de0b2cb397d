// VELK_DataHandleWrapper: the owner of one reference to a host message record, and the only
// way the plug-in builds and reads records. It is a message object as a host expects one
// (host/message_object.h): a table of one slot, then the handle at byte 8, so the plug-in
// may hand it to host interfaces as input or output.
// One thread uses a wrapper at a time; results are the library's unless stated.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "host/message_library.h"

class VELK_DataHandleWrapper final {
public:
    // An anonymous record.
    VELK_DataHandleWrapper();
    // A record named nameId, or (create false) an all-zero handle with no record.
    VELK_DataHandleWrapper(uint32_t nameId, bool create);
    // A second owner of an existing record.
    explicit VELK_DataHandleWrapper(VELK_DataHandle existing);
    VELK_DataHandleWrapper(const VELK_DataHandleWrapper&) = delete;
    VELK_DataHandleWrapper& operator=(const VELK_DataHandleWrapper&) = delete;
    // Releases the reference, also for an all-zero handle. Not virtual: the table's one slot
    // is the deleting destructor below, as a host's compiler lays it out (GCC would give a
    // virtual destructor two slots).
    ~VELK_DataHandleWrapper();
    // Slot 0: destroys the object, and frees it when bit 0 of flags is set (an object made
    // with new). Returns the object's address.
    virtual void* DeletingDestructor(uint32_t flags);

    // Nests the child's current content under the child's name id.
    uint32_t PutData(const VELK_DataHandleWrapper& child);
    uint32_t PutInt32(uint32_t nameId, int32_t value);
    uint32_t PutUInt32(uint32_t nameId, uint32_t value);
    // Eight bytes, little-endian, as a binary field.
    uint32_t PutUInt64(uint32_t nameId, uint64_t value);
    uint32_t PutBinary(uint32_t nameId, const void* bytes, uint32_t byteCount);
    uint32_t PutWString(uint32_t nameId, const std::u16string& text);

    // Occurrence 0 of the field.
    uint32_t GetInt32At(uint32_t nameId, int32_t& value) const;
    uint32_t GetUInt32At(uint32_t nameId, uint32_t& value) const;
    // Two-step reads: the length first, then the text through a local buffer of 1025 units,
    // or the heap beyond; 0xE0190016 when the heap has no room.
    uint32_t GetStringAt(uint32_t nameId, std::string& text) const;
    uint32_t GetWStringAt(uint32_t nameId, std::u16string& text) const;
    // The nested record of that name and occurrence, delivered into target's handle.
    uint32_t ReadDataAt(uint32_t nameId, uint32_t index, VELK_DataHandleWrapper& target) const;
    // The nested record of that name and occurrence, delivered into target's existing record.
    uint32_t GetDataAt(uint32_t nameId, uint32_t index, VELK_DataHandleWrapper& target) const;
    // Exactly `size` bytes at most; size is set to the bytes read.
    uint32_t GetBinaryAt(uint32_t nameId, void* buffer, uint32_t& size) const;
    uint32_t GetSizeOf(uint32_t nameId, uint32_t& count) const;
    uint32_t GetNameId(uint32_t& nameId) const;

    // Makes this wrapper a second owner of another record, releasing the one it held.
    uint32_t ShareFrom(const VELK_DataHandle& other);

    // The read cursor of a name id, created as 0.
    uint32_t& NextIndex(uint32_t nameId);

    static bool IsEmpty(const VELK_DataHandle& handle);
    const VELK_DataHandle& Handle() const { return m_handle; }

private:
    VELK_DataHandle m_handle{};
    std::map<uint32_t, uint32_t> m_cursors;
};
