// The edition log ("editions.log"): the store's index as an append-only file of framed
// records (record_frames.h). Reading replays the records in order; the same frame holds an
// edition's descriptor beside its content and a staged version's note, so each of them can be
// read back on its own.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "reference/zef/edition_index.h"
#include "reference/zef/file_table.h"
#include "reference/zef/record_frames.h"

namespace zef {

enum class LogRecordType : uint32_t {
    kEdition = 1,       // an edition made (or, in a staged note, a version waiting)
    kRemoval = 2,       // an edition deleted or purged
    kCounters = 3,      // the next edition and unique ids (at the head of a compacted log)
    kPurgeSummary = 4,  // what purges took from one path (a compacted log)
    kOrphanSeen = 5,    // a content file that no edition names, first seen at a time
};

enum RemovalReason : uint32_t { kRemovedByDelete = 1, kRemovedByPurge = 2 };

struct LogRecord {
    LogRecordType type = LogRecordType::kEdition;
    Edition edition;             // kEdition
    uint32_t editionId = 0;      // kRemoval
    uint32_t reason = 0;         // kRemoval
    uint32_t time = 0;           // kRemoval, kOrphanSeen
    uint32_t nextEditionId = 0;  // kCounters
    uint32_t nextUniqueId = 0;   // kCounters
    PurgeRecord purge;           // kPurgeSummary
    std::u16string name;         // kOrphanSeen: the content file's name
};

constexpr char kLogMagic[8] = {'Z', 'E', 'F', 'L', 'O', 'G', '0', '1'};
constexpr char kDescriptorMagic[8] = {'Z', 'E', 'F', 'D', 'S', 'C', '0', '1'};
// A log is read whole into memory, so a larger one is refused before it is read.
constexpr uint64_t kMaxLogBytes = 256ull << 20;

// One framed record.
std::vector<uint8_t> EncodeRecord(const LogRecord& record);
// The payload of one record; false when it is malformed.
bool DecodePayload(const uint8_t* payload, size_t size, LogRecord& record);

// Replays the records of a whole log (magic included). visit answers false for a record that
// makes no sense where it stands (an edition id used twice); the log is then damaged there.
// Replay stops at the first bad record; whether good records follow tells a torn tail from
// damage in the middle.
LogScan ScanLog(const uint8_t* bytes, size_t size,
                const std::function<bool(const LogRecord&)>& visit);

// A whole file in the frame of magic: the magic then one record. False when it is missing,
// cut short or altered.
bool ReadFramedFile(const FileTable& files, const std::u16string& path, const char* magic,
                    LogRecord& record);
std::vector<uint8_t> FramedFile(const char* magic, const LogRecord& record);

}  // namespace zef
