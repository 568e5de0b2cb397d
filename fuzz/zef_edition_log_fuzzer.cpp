// The reference engine's edition log replayed from any bytes (half of the inputs get the log's
// magic in front, so the fuzzer reaches the records): the replay must never crash, every
// record it accepts must encode back to the very bytes it was read from, and a log called
// whole must have been read to its last byte.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "reference/zef/edition_log.h"
#include "reference/zef/edition_set.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> magic(zef::kLogMagic, zef::kLogMagic + sizeof zef::kLogMagic);
    const bool withMagic = size != 0 && data[0] % 2 == 0;
    std::vector<uint8_t> bytes = withMagic ? magic : std::vector<uint8_t>();
    bytes.insert(bytes.end(), data + (withMagic ? 1 : 0), data + size);
    std::vector<uint8_t> again = magic;
    zef::EditionSet set;
    const zef::LogScan scan = zef::ScanLog(bytes.data(), bytes.size(), [&](const zef::LogRecord& record) {
        if (!set.Apply(record)) return false;
        const std::vector<uint8_t> frame = zef::EncodeRecord(record);
        again.insert(again.end(), frame.begin(), frame.end());
        return true;
    });
    if (scan.goodEnd > bytes.size()) __builtin_trap();
    if (scan.goodEnd >= sizeof zef::kLogMagic &&
        (again.size() != scan.goodEnd || std::memcmp(again.data(), bytes.data(), again.size()) != 0))
        __builtin_trap();
    if (scan.state == zef::LogState::kWhole && scan.goodEnd != bytes.size() && !bytes.empty())
        __builtin_trap();
    // What the set holds writes out as a log that replays whole.
    std::vector<uint8_t> compacted = magic;
    for (const zef::LogRecord& record : set.Snapshot()) {
        const std::vector<uint8_t> frame = zef::EncodeRecord(record);
        compacted.insert(compacted.end(), frame.begin(), frame.end());
    }
    zef::EditionSet replayed;
    const zef::LogScan second = zef::ScanLog(compacted.data(), compacted.size(),
                                             [&](const zef::LogRecord& r) { return replayed.Apply(r); });
    if (second.state != zef::LogState::kWhole || replayed.Size() != set.Size() ||
        replayed.StoredBytes() != set.StoredBytes())
        __builtin_trap();
    return 0;
}
