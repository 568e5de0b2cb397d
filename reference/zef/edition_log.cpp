// The edition log's record format and its replay.
#include "reference/zef/edition_log.h"

#include <cstring>

#include "reference/zef/engine_text.h"
#include "reference/zef/record_codec.h"

namespace zef {
namespace {

uint32_t ReadU32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// The CRC of a frame covers its length field and its payload.
uint32_t FrameCrc(const uint8_t* frame, uint32_t payloadBytes) {
    return Crc32c(frame + kFrameBytes, payloadBytes, Crc32c(frame, 4));
}

// Whether a good frame begins at offset: a sane length, all of it present, its CRC right.
bool GoodFrameAt(const uint8_t* bytes, size_t size, size_t offset, uint32_t* payloadBytes) {
    if (size - offset < kFrameBytes) return false;
    const uint32_t length = ReadU32(bytes + offset);
    if (length < 4 || length > kMaxPayloadBytes || size - offset - kFrameBytes < length) return false;
    if (FrameCrc(bytes + offset, length) != ReadU32(bytes + offset + 4)) return false;
    *payloadBytes = length;
    return true;
}

// Past this much, what follows a bad record is not searched for good ones: the log is then
// taken as damaged, which refuses rather than guesses.
constexpr size_t kMaxTailSearch = 64u << 20;

bool GoodFrameAfter(const uint8_t* bytes, size_t size, size_t offset) {
    if (size - offset > kMaxTailSearch) return true;
    uint32_t ignored = 0;
    for (size_t at = offset + 1; at + kFrameBytes <= size; ++at)
        if (GoodFrameAt(bytes, size, at, &ignored)) return true;
    return false;
}

}  // namespace

std::vector<uint8_t> EncodeRecord(const LogRecord& record) {
    RecordWriter out;
    out.U32(0);  // the length and the CRC, filled in below
    out.U32(0);
    out.U32(static_cast<uint32_t>(record.type));
    switch (record.type) {
        case LogRecordType::kEdition: {
            const Edition& e = record.edition;
            out.U32(e.editionId);
            out.U32(e.uniqueId);
            out.U32(e.time);
            out.U32(e.processId);
            out.U32(e.operation);
            out.U32(e.blobSuffix);
            out.U64(e.size);
            out.Bytes(e.digest.data(), e.digest.size());
            out.Text(e.path);
            out.Text(e.image);
            out.U32(e.ownershipKnown ? 1 : 0);
            out.U32(e.owner);
            out.U32(e.group);
            out.U32(e.mode);
            break;
        }
        case LogRecordType::kRemoval:
            out.U32(record.editionId);
            out.U32(record.reason);
            out.U32(record.time);
            break;
        case LogRecordType::kCounters:
            out.U32(record.nextEditionId);
            out.U32(record.nextUniqueId);
            break;
        case LogRecordType::kPurgeSummary:
            out.Text(record.purge.path);
            out.U32(record.purge.count);
            out.U32(record.purge.firstCreateTime);
            out.U32(record.purge.firstPurgeTime);
            out.U32(record.purge.lastCreateTime);
            out.U32(record.purge.lastPurgeTime);
            break;
        case LogRecordType::kOrphanSeen:
            out.Text(record.name);
            out.U32(record.time);
            break;
    }
    std::vector<uint8_t>& bytes = out.Result();
    const uint32_t length = static_cast<uint32_t>(bytes.size() - kFrameBytes);
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
    const uint32_t crc = FrameCrc(bytes.data(), length);
    for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(crc >> (8 * i));
    return std::move(bytes);
}

bool DecodePayload(const uint8_t* payload, size_t size, LogRecord& record) {
    record = LogRecord();
    RecordReader in(payload, size);
    uint32_t type = 0;
    if (!in.U32(type)) return false;
    record.type = static_cast<LogRecordType>(type);
    bool ok = false;
    switch (record.type) {
        case LogRecordType::kEdition: {
            Edition& e = record.edition;
            uint32_t known = 0;
            ok = in.U32(e.editionId) && in.U32(e.uniqueId) && in.U32(e.time) &&
                 in.U32(e.processId) && in.U32(e.operation) && in.U32(e.blobSuffix) &&
                 in.U64(e.size) && in.Bytes(e.digest.data(), e.digest.size()) && in.Text(e.path) &&
                 in.Text(e.image) && in.U32(known) && known <= 1 && in.U32(e.owner) &&
                 in.U32(e.group) && in.U32(e.mode);
            e.ownershipKnown = known == 1;
            break;
        }
        case LogRecordType::kRemoval:
            ok = in.U32(record.editionId) && in.U32(record.reason) && in.U32(record.time) &&
                 (record.reason == kRemovedByDelete || record.reason == kRemovedByPurge);
            break;
        case LogRecordType::kCounters:
            ok = in.U32(record.nextEditionId) && in.U32(record.nextUniqueId);
            break;
        case LogRecordType::kPurgeSummary:
            ok = in.Text(record.purge.path) && in.U32(record.purge.count) &&
                 in.U32(record.purge.firstCreateTime) && in.U32(record.purge.firstPurgeTime) &&
                 in.U32(record.purge.lastCreateTime) && in.U32(record.purge.lastPurgeTime);
            break;
        case LogRecordType::kOrphanSeen:
            ok = in.Text(record.name) && in.U32(record.time);
            break;
    }
    return ok && in.AtEnd();
}

LogScan ScanLog(const uint8_t* bytes, size_t size,
                const std::function<bool(const LogRecord&)>& visit) {
    LogScan scan;
    if (size < sizeof kLogMagic) {
        // A log whose magic never reached the disk whole holds no record yet.
        if (std::memcmp(bytes, kLogMagic, size) == 0) {
            scan.state = size == 0 ? LogState::kWhole : LogState::kTornTail;
            scan.reason = u"its first bytes were never written whole";
            return scan;
        }
        scan.state = LogState::kDamaged;
        scan.reason = u"it does not begin as an edition log (byte 0)";
        return scan;
    }
    if (std::memcmp(bytes, kLogMagic, sizeof kLogMagic) != 0) {
        scan.state = LogState::kDamaged;
        scan.reason = u"it does not begin as an edition log (byte 0)";
        return scan;
    }
    size_t at = sizeof kLogMagic;
    scan.goodEnd = at;
    LogRecord record;
    while (at < size) {
        uint32_t length = 0;
        if (!GoodFrameAt(bytes, size, at, &length) ||
            !DecodePayload(bytes + at + kFrameBytes, length, record)) {
            if (GoodFrameAfter(bytes, size, at)) {
                scan.state = LogState::kDamaged;
                scan.reason = Concat(u"the record at byte ", static_cast<uint64_t>(at),
                                     u" is damaged and good records follow it");
            } else {
                scan.state = LogState::kTornTail;
                scan.reason = Concat(u"its last write, from byte ", static_cast<uint64_t>(at),
                                     u" (", static_cast<uint64_t>(size - at),
                                     u" bytes), was never finished");
            }
            return scan;
        }
        if (!visit(record)) {
            scan.state = LogState::kDamaged;
            scan.reason = Concat(u"the record at byte ", static_cast<uint64_t>(at),
                                 u" contradicts the records before it");
            return scan;
        }
        at += kFrameBytes + length;
        scan.goodEnd = at;
        ++scan.records;
    }
    return scan;
}

std::vector<uint8_t> FramedFile(const char* magic, const LogRecord& record) {
    std::vector<uint8_t> bytes(magic, magic + sizeof kLogMagic);
    const std::vector<uint8_t> frame = EncodeRecord(record);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    return bytes;
}

bool ReadFramedFile(const FileTable& files, const std::u16string& path, const char* magic,
                    LogRecord& record) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(files, path, sizeof kLogMagic + kFrameBytes + kMaxPayloadBytes, bytes) ||
        bytes.size() < sizeof kLogMagic || std::memcmp(bytes.data(), magic, sizeof kLogMagic) != 0)
        return false;
    uint32_t length = 0;
    return GoodFrameAt(bytes.data(), bytes.size(), sizeof kLogMagic, &length) &&
           sizeof kLogMagic + kFrameBytes + length == bytes.size() &&
           DecodePayload(bytes.data() + sizeof kLogMagic + kFrameBytes, length, record);
}

}  // namespace zef
