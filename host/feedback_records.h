// Records the plug-in hands to the host's feedback service (10, 101): boot results (0x98BD)
// and restore feedback (0x98BC). Little-endian, natural alignment of 64-bit Windows. The
// records and everything they point at belong to the caller and live only for the call.
#pragma once
#include <cstddef>
#include <cstdint>

#include "host/message_library.h"

namespace velk {

constexpr uint32_t kFnSendBootResults = 0x98BD;
constexpr uint32_t kFnPostRestoreFeedback = 0x98BC;

// One boot result of the engine. The host reads the fields below; the constants are its own.
struct BootResultRecord {
    uint32_t version = 2;              // 0
    uint32_t reserved4 = 0;
    uint64_t time = 0;                 // 8: seconds since 1970
    uint8_t reserved16[12] = {};
    uint32_t category = 0;             // 28: 100
    char16_t name[65] = {};            // 32: at most 64 units and a terminator
    uint8_t reserved162[142] = {};
    uint32_t one304 = 0;               // 304: 1
    uint32_t reserved308 = 0;
    uint64_t value = 0;                // 312
    uint8_t reserved320[124] = {};
    uint32_t source = 0;               // 444: 0x20360003
    uint32_t three = 0;                // 448: 3
    uint32_t status = 0;               // 452
    uint32_t fifteen = 0;              // 456: 15
    uint32_t flags = 0;                // 460: bit 0x20
    uint64_t zero464 = 0;              // 464
    uint8_t reserved472[12] = {};
    uint32_t one484 = 0;               // 484: 1
    uint8_t reserved488[64] = {};
    VELK_DataHandle message{};         // 552: null; a record that holds one destroys it
    uint8_t reserved568[56] = {};
    uint32_t recordSize = 648;         // 624
    uint8_t reserved628[20] = {};

    BootResultRecord() = default;
    BootResultRecord(const BootResultRecord&) = delete;
    BootResultRecord& operator=(const BootResultRecord&) = delete;
    ~BootResultRecord() {
        if (message.lo != 0 || message.hi != 0) VELK_Msg_DestroyDataHandle(&message);
    }
};
static_assert(sizeof(BootResultRecord) == 648, "a boot result record is 648 bytes");
static_assert(offsetof(BootResultRecord, time) == 8, "");
static_assert(offsetof(BootResultRecord, category) == 28, "");
static_assert(offsetof(BootResultRecord, name) == 32, "");
static_assert(offsetof(BootResultRecord, one304) == 304, "");
static_assert(offsetof(BootResultRecord, value) == 312, "");
static_assert(offsetof(BootResultRecord, source) == 444, "");
static_assert(offsetof(BootResultRecord, status) == 452, "");
static_assert(offsetof(BootResultRecord, flags) == 460, "");
static_assert(offsetof(BootResultRecord, zero464) == 464, "");
static_assert(offsetof(BootResultRecord, one484) == 484, "");
static_assert(offsetof(BootResultRecord, message) == 552, "");
static_assert(offsetof(BootResultRecord, recordSize) == 624, "");

// The input of 0x98BD; no reply.
struct BootResultsRequest {
    uint64_t zero;
    const BootResultRecord* records;
    uint32_t count;
    uint8_t reserved[12];
};
static_assert(sizeof(BootResultsRequest) == 32, "");
static_assert(offsetof(BootResultsRequest, count) == 16, "");

// The input of 0x98BC; no reply. The block is zeroed and 916 bytes long.
constexpr size_t kFeedbackBlockBytes = 916;
struct RestoreFeedbackRequest {
    void* block;
    uint64_t nine;                // 9
    const uint8_t* bytes;         // the encoded restore report
    uint64_t length;
    const char* tag;              // "ZEF_001"
    uint64_t zero;
};
static_assert(sizeof(RestoreFeedbackRequest) == 48, "");
static_assert(offsetof(RestoreFeedbackRequest, tag) == 32, "");

}  // namespace velk
