// Records that cross between the host and the plug-in by pointer: the inputs of the host's
// calls to CallFunc, and the records the plug-in hands to host interfaces. Natural alignment of
// 64-bit Windows; texts are terminated UTF-16; every offset that is read is checked.
#pragma once
#include <cstddef>
#include <cstdint>

#include "host/message_library.h"
#include "platform/clock.h"

namespace velk {

// Function ids of CallFunc.
constexpr uint32_t kFnRestoreFile = 0x23600001;
constexpr uint32_t kFnListBackupFiles = 0x23600002;
constexpr uint32_t kFnEnumFileVersions = 0x23600003;
constexpr uint32_t kFnDeleteEdition = 0x23600004;
constexpr uint32_t kFnRestoreEdition = 0x23600005;
constexpr uint32_t kFnListBackupFilesInRange = 0x23600006;
constexpr uint32_t kFnEnumFileVersionInfo = 0x23600007;
constexpr uint32_t kFnBackupFile = 0x23600008;
constexpr uint32_t kFnFlushEvents = 0x23600009;
constexpr uint32_t kFnMaxFileSize = 0x2360000A;
constexpr uint32_t kFnFlushValidEvents = 0x2360000B;
constexpr uint32_t kFnUpdatePidList = 0x2360000C;
constexpr uint32_t kFnEnumProcessVersions = 0x2360000D;
constexpr uint32_t kFnQueryPatternPolicies = 0x2360000E;
constexpr uint32_t kFnHostRequest1 = 24101;  // request kind in the first 32 bits of the input
constexpr uint32_t kFnHostRequest2 = 24102;
constexpr uint32_t kFnHostRequest3 = 24103;
constexpr uint32_t kFnForwardEvent = 24105;

// Request kinds of 24101 to 24103.
constexpr uint32_t kKindBootResults = 0x1000200D;
constexpr uint32_t kKindConfigurationChanged = 0x40016002;

// A backed-up file handed to a listing callback: a pointer to zef::BackupFileInfo. The callback
// answers 0 to stop the listing.
using BackupFileCallback = uint32_t (*)(uint64_t context, const void* backupFile,
                                        uint64_t parameter, uint32_t reserved);

struct BackupFileListRequest {
    uint64_t context;
    BackupFileCallback callback;
    uint64_t parameter;
};
static_assert(sizeof(BackupFileListRequest) == 24, "");

struct BackupFileRangeRequest {
    platform::SystemTime from;  // 0
    platform::SystemTime to;    // 16
    uint64_t context;           // 32
    BackupFileCallback callback;
    uint64_t parameter;
};
static_assert(offsetof(BackupFileRangeRequest, context) == 32, "");
static_assert(sizeof(BackupFileRangeRequest) == 56, "");

struct EditionDeleteRequest {
    uint32_t editionId;
};

struct EditionRestoreRequest {
    const char16_t* virusName;  // may be null
    const char16_t* filePath;
    uint32_t virusType;
    uint32_t fileType;
    uint32_t restoreOption;
    uint32_t editionId;
};
static_assert(offsetof(EditionRestoreRequest, virusType) == 16, "");
static_assert(sizeof(EditionRestoreRequest) == 32, "");

struct BackupFileRequest {
    const char16_t* filePath;
};

struct PidListUpdateRequest {
    uint32_t first;
    uint32_t second;
};

struct PolicyQueryRequest {
    uint32_t subtypeMask;
    uint32_t typeMask;
};

// 24101-24103 with kind 0x40016002: the host's change message lies at byte 16.
struct ConfigurationChangeRequest {
    uint32_t kind;
    uint32_t reserved4;
    uint64_t reserved8;
    VELK_DataHandle message;  // 16
};
static_assert(offsetof(ConfigurationChangeRequest, message) == 16, "");

// 24105: the host's event record. Only the event id and the event data are the plug-in's
// business; the rest is the host's.
struct EventRecord {
    uint8_t hostFields[1008];
    uint32_t eventId;        // 1008
    uint8_t moreHostFields[28];
    const void* eventData;   // 1040: layout by event id; host memory, read in place
};
static_assert(offsetof(EventRecord, eventId) == 1008, "");
static_assert(offsetof(EventRecord, eventData) == 1040, "");

// Event ids of EventRecord.
constexpr uint32_t kEventProcess = 0x10002001;      // ProcessEventRecord
constexpr uint32_t kEventOpaque = 0x10002004;       // forwarded unchanged
constexpr uint32_t kEventIntegration = 0x10002016;  // event message (host/event_message.h)

// The event data of kEventProcess, fields the plug-in reads.
struct ProcessEventRecord {
    uint8_t hostFields0[12];
    uint32_t eventClass;           // 12: 1 for the process events acted on
    uint8_t hostFields16[24];
    uint8_t flags;                 // 40
    uint8_t hostFields41[103];
    uint32_t processId;            // 144
    uint32_t hostField148;
    const char16_t* imageName;     // 152: terminated, or null
    uint8_t hostFields160[8];
    uint32_t operation;            // 168
    uint32_t hostField172;
    char narrowImageName[260];     // 176: terminated, read when imageName is null
};
static_assert(offsetof(ProcessEventRecord, eventClass) == 12, "");
static_assert(offsetof(ProcessEventRecord, flags) == 40, "");
static_assert(offsetof(ProcessEventRecord, processId) == 144, "");
static_assert(offsetof(ProcessEventRecord, imageName) == 152, "");
static_assert(offsetof(ProcessEventRecord, operation) == 168, "");
static_assert(offsetof(ProcessEventRecord, narrowImageName) == 176, "");
constexpr uint8_t kProcessFlagAcknowledgeOnly = 4;
constexpr uint32_t kProcessClass = 1;
constexpr uint32_t kProcessTerminated = 9;
constexpr uint32_t kPidListTerminated = 2;  // UpdateObjPidList's operation for a terminated process

// The input of AddDBProtection (0xACB4) and RemoveDBProtection (0xACB5) on (20001, 200011).
struct DbProtectionRequest {
    uint64_t one;               // 1
    uint64_t three;             // 3
    const char16_t* folder;     // the database folder without a trailing separator
    uint32_t folderLength;      // in units
    uint32_t one32;             // 1
};
static_assert(sizeof(DbProtectionRequest) == 32, "");

// GetImagePath (0x23200001) on (40002, 400021).
struct ImagePathRequest {
    uint32_t processId;
    uint32_t one;  // 1
};
struct ImagePathReply {
    char16_t* buffer;     // 262 units, zeroed
    uint64_t capacity;    // 262
    void* details;        // a zeroed 56-byte block the host may fill
};
static_assert(sizeof(ImagePathReply) == 24, "");

// Host interfaces and their function ids.
constexpr uint32_t kEventProcessorModule = 3, kEventProcessorInterface = 31;
constexpr uint32_t kFnRegisterEvents = 0x5E23, kFnUnregisterEvents = 0x5E24;
constexpr uint32_t kConfigurationModule = 5, kConfigurationInterface = 51;
constexpr uint32_t kFnQueryConfiguration = 0x2011;
constexpr uint32_t kFeedbackModule = 10, kFeedbackInterface = 101;
constexpr uint32_t kStorageModule = 20001, kStorageInterface = 200011;
constexpr uint32_t kFnAddDbProtection = 0xACB4, kFnRemoveDbProtection = 0xACB5;
constexpr uint32_t kFnReadBackupFileData = 0xACBD;
constexpr uint32_t kSystemInfoModule = 40002, kSystemInfoInterface = 400021;
constexpr uint32_t kFnGetImagePath = 0x23200001, kFnIsCloudFile = 0x23200019;
constexpr uint32_t kImagePathFound = 0x20320001;

}  // namespace velk

namespace velk {

// IsCloudFile (0x23200019) on (40002, 400021): the output is one byte, non-zero for a cloud file.
struct CloudFileQuery {
    const void* file;  // as the engine gave it
    uint64_t zero;
};

// ReadBackupFileData (0xACBD) on (20001, 200011).
struct BackupDataReadRequest {
    uint8_t key[16];  // the first bytes of the file key, at most 16
    uint32_t a;
    uint32_t b;
    uint32_t c;
};
static_assert(sizeof(BackupDataReadRequest) == 28, "");
struct BackupDataReadReply {
    void* buffer;
    uint32_t bytesRead;
};
static_assert(sizeof(BackupDataReadReply) == 16, "");

}  // namespace velk
