// The edition log's record format and its replay.
#include "reference/zef/edition_log.h"


#include "reference/zef/engine_text.h"
#include "reference/zef/record_codec.h"

namespace zef {

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
    SealFrame(bytes);
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
    LogRecord record;
    return ScanFrames(bytes, size, kLogMagic, u"an edition log",
                      [&](const uint8_t* payload, size_t length) {
                          if (!DecodePayload(payload, length, record)) return FrameVerdict::kMalformed;
                          return visit(record) ? FrameVerdict::kAccepted : FrameVerdict::kContradicts;
                      });
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
    const uint8_t* payload = nullptr;
    uint32_t length = 0;
    return ReadWholeFile(files, path, sizeof kLogMagic + kFrameBytes + kMaxPayloadBytes, bytes) &&
           SingleFrame(bytes, magic, &payload, &length) && DecodePayload(payload, length, record);
}

}  // namespace zef
