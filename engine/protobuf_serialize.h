// CProtocolBufferSerialize: a protocol-buffer message written into a fixed buffer of 4096
// bytes, and SerializeRestoreReport, the restore feedback in that form. A writer that does not
// find room fails and writes nothing; the caller then drops the whole message. One thread uses
// a serializer at a time; it allocates nothing.
#pragma once
#include <cstdint>
#include <string_view>

#include "engine_api/zef_records.h"

class CProtocolBufferSerialize {
public:
    static constexpr uint32_t kCapacity = 4096;
    static constexpr uint32_t kMaxFieldNumber = 0x0FFFFFFF;
    // A text converts into 520 bytes at most, its terminator included.
    static constexpr int kTextBytes = 520;

    CProtocolBufferSerialize();
    CProtocolBufferSerialize(const CProtocolBufferSerialize&) = delete;
    CProtocolBufferSerialize& operator=(const CProtocolBufferSerialize&) = delete;
    virtual ~CProtocolBufferSerialize();

    // Back to an empty, zeroed buffer.
    void Reset();

    // Varint fields (wire type 0). A negative int32 is written as its 64-bit sign extension.
    bool PutUInt32(uint32_t field, uint32_t value);
    bool PutInt32(uint32_t field, int32_t value);
    // Length-delimited fields (wire type 2).
    bool PutBytes(uint32_t field, const void* data, uint32_t length);
    // The text as UTF-8 without its terminator; false for a null text. A text whose UTF-8
    // form does not fit 520 bytes is left out, and that still counts as success.
    bool PutWString(uint32_t field, const char16_t* text);
    bool PutWString(uint32_t field, std::u16string_view text);
    bool PutMessage(uint32_t field, const CProtocolBufferSerialize& child);

    // 7 bits a byte, lowest first; they need 5 and 10 free bytes whatever the value.
    bool WriteVarint32(uint32_t value);
    bool WriteVarint64(uint64_t value);

    const uint8_t* Data() const { return m_buffer; }
    uint32_t Size() const { return m_position; }
    uint32_t Remaining() const { return m_remaining; }

private:
    bool WriteKey(uint32_t field, uint32_t wireType);
    // Fails unless room bytes are free, whatever the value needs.
    bool WriteVarint(uint64_t value, uint32_t room);
    void Advance(uint32_t bytes) {
        m_position += bytes;
        m_remaining -= bytes;
    }

    uint8_t m_buffer[kCapacity];
    uint32_t m_position = 0;
    uint32_t m_remaining = kCapacity;
};

// The restore feedback message of a report, appended to out. 1 when the whole message was
// encoded, 0 when it does not fit (out then holds a part that must not be sent).
uint32_t SerializeRestoreReport(const zef::RestoreReport* report, CProtocolBufferSerialize& out);
