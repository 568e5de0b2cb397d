// The protocol-buffer wire format of the restore feedback: keys, varints, length-delimited
// fields and embedded messages, written in the field order the host's decoder expects.
#include "engine/protobuf_serialize.h"

#include <cstring>

#include "engine/report_text.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kWireVarint = 0;
constexpr uint32_t kWireLengthDelimited = 2;
constexpr uint32_t kVarint32Room = 5;
constexpr uint32_t kVarint64Room = 10;

}  // namespace

CProtocolBufferSerialize::CProtocolBufferSerialize() { std::memset(m_buffer, 0, kCapacity); }

CProtocolBufferSerialize::~CProtocolBufferSerialize() = default;

void CProtocolBufferSerialize::Reset() {
    // Nothing past the write position was ever written, so this zeroes the whole buffer.
    std::memset(m_buffer, 0, m_position);
    m_position = 0;
    m_remaining = kCapacity;
}

bool CProtocolBufferSerialize::WriteVarint(uint64_t value, uint32_t room) {
    if (m_remaining < room) return false;
    uint8_t* out = m_buffer + m_position;
    uint32_t used = 0;
    while (value >= 0x80) {
        out[used++] = static_cast<uint8_t>(value | 0x80);
        value >>= 7;
    }
    out[used++] = static_cast<uint8_t>(value);
    Advance(used);
    return true;
}

bool CProtocolBufferSerialize::WriteVarint32(uint32_t value) {
    return WriteVarint(value, kVarint32Room);
}

bool CProtocolBufferSerialize::WriteVarint64(uint64_t value) {
    return WriteVarint(value, kVarint64Room);
}

bool CProtocolBufferSerialize::WriteKey(uint32_t field, uint32_t wireType) {
    if (field > kMaxFieldNumber) return false;
    return WriteVarint32(field * 8 + wireType);
}

bool CProtocolBufferSerialize::PutUInt32(uint32_t field, uint32_t value) {
    return WriteKey(field, kWireVarint) && WriteVarint32(value);
}

bool CProtocolBufferSerialize::PutInt32(uint32_t field, int32_t value) {
    if (!WriteKey(field, kWireVarint)) return false;
    if (value >= 0) return WriteVarint32(static_cast<uint32_t>(value));
    return WriteVarint64(static_cast<uint64_t>(static_cast<int64_t>(value)));
}

bool CProtocolBufferSerialize::PutBytes(uint32_t field, const void* data, uint32_t length) {
    if (!WriteKey(field, kWireLengthDelimited) || !WriteVarint32(length)) return false;
    if (m_remaining < length) return false;
    if (length != 0) std::memcpy(m_buffer + m_position, data, length);
    Advance(length);
    return true;
}

bool CProtocolBufferSerialize::PutWString(uint32_t field, const char16_t* text) {
    if (text == nullptr) return false;
    return PutWString(field, std::u16string_view(text));
}

bool CProtocolBufferSerialize::PutWString(uint32_t field, std::u16string_view text) {
    char utf8[kTextBytes + 1];
    const int converted = platform::Utf16ToUtf8(text, utf8, kTextBytes);
    if (converted <= 0) return true;  // too long for the field: left out
    return PutBytes(field, utf8, static_cast<uint32_t>(converted - 1));
}

bool CProtocolBufferSerialize::PutMessage(uint32_t field, const CProtocolBufferSerialize& child) {
    return PutBytes(field, child.m_buffer, child.m_position);
}

uint32_t SerializeRestoreReport(const zef::RestoreReport* report, CProtocolBufferSerialize& out) {
    if (report == nullptr) return 0;
    using engine_report::ReportText;
    const zef::RestoreReport& r = *report;
    CProtocolBufferSerialize work;
    CProtocolBufferSerialize inner;

    const bool header = work.PutUInt32(1, r.requestTime) && work.PutInt32(2, r.timeZone) &&
                        work.PutUInt32(3, r.constant15) &&
                        work.PutWString(4, ReportText(r.zefVersion)) && out.PutMessage(1, work);
    if (!header) return 0;
    work.Reset();

    const bool target = work.PutWString(1, ReportText(r.fileName)) &&
                        work.PutWString(2, ReportText(r.fileType)) &&
                        work.PutWString(3, ReportText(r.virusName)) &&
                        work.PutWString(4, ReportText(r.virusType)) && out.PutMessage(2, work);
    if (!target) return 0;
    work.Reset();

    const bool outcome = work.PutUInt32(1, r.result) && work.PutUInt32(2, r.reboot) &&
                         work.PutUInt32(3, r.timeConsumed) && out.PutMessage(3, work);
    if (!outcome) return 0;
    work.Reset();

    const bool editionUsed =
        inner.PutUInt32(1, r.indexFromNewToOld) && inner.PutWString(2, ReportText(r.signature)) &&
        inner.PutBytes(3, r.editionValue, sizeof r.editionValue) && inner.PutUInt32(4, r.size) &&
        inner.PutWString(5, ReportText(r.subject)) && inner.PutUInt32(6, r.operation) &&
        inner.PutUInt32(7, r.timeStamp);
    const bool editions = editionUsed && work.PutUInt32(1, r.validEditions) &&
                          work.PutUInt32(2, r.skippedEditions) && work.PutMessage(3, inner);
    if (!editions) return 0;
    inner.Reset();
    const bool purgeStat = inner.PutUInt32(1, r.purgedEditions) &&
                           inner.PutUInt32(2, r.firstCreateTime) &&
                           inner.PutUInt32(3, r.firstPurgeTime) &&
                           inner.PutUInt32(4, r.lastCreateTime) &&
                           inner.PutUInt32(5, r.lastPurgeTime) && work.PutMessage(4, inner);
    return purgeStat && out.PutMessage(4, work) ? 1 : 0;
}
