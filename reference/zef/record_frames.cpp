// Framing, sealing and replay of framed record files.
#include "reference/zef/record_frames.h"

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

// Past this much, what follows a bad record is not searched for good ones: the file is then
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

void SealFrame(std::vector<uint8_t>& frame) {
    const uint32_t length = static_cast<uint32_t>(frame.size() - kFrameBytes);
    for (int i = 0; i < 4; ++i) frame[static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
    const uint32_t crc = FrameCrc(frame.data(), length);
    for (int i = 0; i < 4; ++i) frame[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(crc >> (8 * i));
}

LogScan ScanFrames(const uint8_t* bytes, size_t size, const char* magic, const char16_t* what,
                   const std::function<FrameVerdict(const uint8_t* payload, size_t size)>& visit) {
    LogScan scan;
    if (size < kMagicBytes) {
        // A file whose magic never reached the disk whole holds no record yet (an empty one
        // may come without a buffer at all).
        if (size == 0 || std::memcmp(bytes, magic, size) == 0) {
            scan.state = size == 0 ? LogState::kWhole : LogState::kTornTail;
            scan.reason = u"its first bytes were never written whole";
            return scan;
        }
        scan.state = LogState::kDamaged;
        scan.reason = Concat(u"it does not begin as ", what, u" (byte 0)");
        return scan;
    }
    if (std::memcmp(bytes, magic, kMagicBytes) != 0) {
        scan.state = LogState::kDamaged;
        scan.reason = Concat(u"it does not begin as ", what, u" (byte 0)");
        return scan;
    }
    size_t at = kMagicBytes;
    scan.goodEnd = at;
    while (at < size) {
        uint32_t length = 0;
        const FrameVerdict verdict = GoodFrameAt(bytes, size, at, &length)
                                         ? visit(bytes + at + kFrameBytes, length)
                                         : FrameVerdict::kMalformed;
        if (verdict == FrameVerdict::kMalformed) {
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
        if (verdict == FrameVerdict::kContradicts) {
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

bool SingleFrame(const std::vector<uint8_t>& bytes, const char* magic, const uint8_t** payload,
                 uint32_t* payloadSize) {
    uint32_t length = 0;
    if (bytes.size() < kMagicBytes || std::memcmp(bytes.data(), magic, kMagicBytes) != 0 ||
        !GoodFrameAt(bytes.data(), bytes.size(), kMagicBytes, &length) ||
        kMagicBytes + kFrameBytes + length != bytes.size())
        return false;
    *payload = bytes.data() + kMagicBytes + kFrameBytes;
    *payloadSize = length;
    return true;
}

}  // namespace zef
