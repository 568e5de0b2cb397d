// Append-only files of framed records, as the store's edition log and the host's change journal
// keep them: an 8-byte magic, then records, each framed as its payload's length (32 bits), a
// CRC-32C of the length and the payload, and the payload. A reader replays the frames in order
// and tells a torn last write (which a crash leaves, and which is cut) from damage in the middle
// (good frames after a bad one), which is refused rather than guessed at.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zef {

constexpr uint32_t kFrameBytes = 8;
// No payload is larger: two texts of at most 32767 units and the fixed fields.
constexpr uint32_t kMaxPayloadBytes = 1u << 18;

enum class LogState {
    kWhole,     // every byte is a good record
    kTornTail,  // good records, then an unfinished or bad last write: cut at goodEnd
    kDamaged,   // a bad record with good ones after it, or a record that makes no sense
};

struct LogScan {
    LogState state = LogState::kWhole;
    uint64_t goodEnd = 0;   // offset after the last good record of the unbroken run
    uint64_t records = 0;   // good records replayed
    std::u16string reason;  // for kTornTail and kDamaged, with the offset
};

// Fills in the length and the CRC of a frame whose first kFrameBytes were left for them and
// whose payload follows.
void SealFrame(std::vector<uint8_t>& frame);

// What a visit makes of one payload.
enum class FrameVerdict { kAccepted, kMalformed, kContradicts };

// Replays the frames of a whole file that begins with magic (8 bytes); what names the file in
// a reason ("an edition log"). Replay stops at the first bad frame, a payload the visit finds
// malformed, or one that contradicts what came before.
LogScan ScanFrames(const uint8_t* bytes, size_t size, const char* magic, const char16_t* what,
                   const std::function<FrameVerdict(const uint8_t* payload, size_t size)>& visit);

// The one frame of a whole file that begins with magic and holds exactly one; false when the
// bytes are anything else. *payload and *payloadSize point into bytes.
bool SingleFrame(const std::vector<uint8_t>& bytes, const char* magic, const uint8_t** payload,
                 uint32_t* payloadSize);

}  // namespace zef
