// Records exchanged with the engine module, little-endian with the natural alignment of 64-bit
// Windows. Every offset that the plug-in reads is checked below; the rest belongs to the engine.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zef {

// A text field of 262 UTF-16 units; writers put at most 260 units and a terminator.
constexpr uint32_t kTextUnits = 262;

// One edition of a file in the backup database; zeroed by the caller before the first call.
struct EditionFindData {
    uint32_t editionId;          // 0
    uint32_t engine4;            // 4
    uint32_t time;               // 8: seconds since 1970
    uint8_t engine12[8];         // 12
    uint32_t writerRecordId;     // 20: 0 = none, else a key for GetBackupFileByID
    uint8_t engine24[32];        // 24
    uint8_t keyArea[48];         // 56: read by GetBackupFileUniqID
    uint8_t engine104[1000];     // 104
};
static_assert(sizeof(EditionFindData) == 1104, "EditionFindData is 1104 bytes");
static_assert(offsetof(EditionFindData, time) == 8, "time at byte 8");
static_assert(offsetof(EditionFindData, writerRecordId) == 20, "writer record at byte 20");
static_assert(offsetof(EditionFindData, keyArea) == 56, "key area at byte 56");

// An edition found by process: the edition followed by the backed-up file's path.
struct EditionFindDataByPid {
    EditionFindData edition;     // 0
    char16_t filePath[kTextUnits];  // 1104
};
static_assert(sizeof(EditionFindDataByPid) == 1628, "EditionFindDataByPid is 1628 bytes");
static_assert(offsetof(EditionFindDataByPid, filePath) == 1104, "path at byte 1104");

// One backed-up file. A host listing callback receives a pointer to byte 4 (BackupFileInfo).
struct BackupFileInfo {
    char16_t filePath[kTextUnits];  // the file's own path
    uint32_t editionCount;          // editions held in the database
    uint32_t newestTime;            // time of the newest edition, seconds since 1970
    uint32_t newestSizeLow;         // size in bytes of the newest edition, in two words
    uint32_t newestSizeHigh;        // so that the record stays 4-aligned from byte 4
};
static_assert(sizeof(BackupFileInfo) == 540, "BackupFileInfo is 540 bytes");
struct BackupFileFindData {
    uint32_t engineCursor;  // the engine's own; not shown to the host
    BackupFileInfo info;    // 4
};
static_assert(offsetof(BackupFileFindData, info) == 4, "the host sees everything after byte 4");
static_assert(sizeof(BackupFileFindData) == 544, "BackupFileFindData is 544 bytes");

// The summary of one restore, shared with the engine's FbCompleteAdvanceData.
struct RestoreReport {
    uint32_t requestTime;                  // 0
    int32_t timeZone;                      // 4
    uint32_t constant15;                   // 8
    char16_t zefVersion[kTextUnits];       // 12
    char16_t virusName[kTextUnits];        // 536
    char16_t virusType[kTextUnits];        // 1060
    char16_t fileType[kTextUnits];         // 1584
    char16_t fileName[kTextUnits];         // 2108
    uint32_t result;                       // 2632
    uint32_t reboot;                       // 2636
    uint32_t timeConsumed;                 // 2640
    uint32_t validEditions;                // 2644
    uint32_t skippedEditions;              // 2648
    uint32_t indexFromNewToOld;            // 2652
    uint32_t timeStamp;                    // 2656
    uint32_t size;                         // 2660
    uint8_t editionValue[20];              // 2664
    char16_t signature[kTextUnits];        // 2684
    char16_t subject[kTextUnits];          // 3208
    uint32_t operation;                    // 3732
    uint32_t purgedEditions;               // 3736
    uint32_t firstCreateTime;              // 3740
    uint32_t firstPurgeTime;               // 3744
    uint32_t lastCreateTime;               // 3748
    uint32_t lastPurgeTime;                // 3752
};
static_assert(sizeof(RestoreReport) == 3756, "RestoreReport is 3756 bytes");
static_assert(offsetof(RestoreReport, zefVersion) == 12, "");
static_assert(offsetof(RestoreReport, virusName) == 536, "");
static_assert(offsetof(RestoreReport, virusType) == 1060, "");
static_assert(offsetof(RestoreReport, fileType) == 1584, "");
static_assert(offsetof(RestoreReport, fileName) == 2108, "");
static_assert(offsetof(RestoreReport, result) == 2632, "");
static_assert(offsetof(RestoreReport, validEditions) == 2644, "");
static_assert(offsetof(RestoreReport, timeStamp) == 2656, "");
static_assert(offsetof(RestoreReport, editionValue) == 2664, "");
static_assert(offsetof(RestoreReport, signature) == 2684, "");
static_assert(offsetof(RestoreReport, subject) == 3208, "");
static_assert(offsetof(RestoreReport, operation) == 3732, "");
static_assert(offsetof(RestoreReport, lastPurgeTime) == 3752, "");

// One pattern policy as the engine's QueryPtnPolicy fills it; released with FreePtnPolicy.
struct PatternPolicy {
    uint32_t valueType;        // 4 and 8 are numeric: count holds the number
    uint32_t present;          // non-zero when the pattern holds the policy
    uint32_t count;            // the number, or the number of texts
    uint32_t unused;
    const char16_t** texts;    // 16: count text pointers, entries may be null
};
static_assert(sizeof(PatternPolicy) == 24, "PatternPolicy is 24 bytes");
static_assert(offsetof(PatternPolicy, texts) == 16, "texts at byte 16");

// The parameter record of ChangeConfigure; one shape per kind of setting.
struct NumericParameter {
    uint32_t value;
};
struct TextParameter {
    char16_t* buffer;   // 260 units holding a terminated text
    void* self;         // points at the third member
    uint64_t capacity;  // 260
};
static_assert(sizeof(TextParameter) == 24, "TextParameter is three 64-bit members");
struct CallbackParameter {
    void* function;
};
union ConfigureParameter {
    NumericParameter numeric;
    TextParameter text;
    CallbackParameter callback;
};
static_assert(sizeof(ConfigureParameter) == 24, "one record serves every setting");

// Engine setting ids: the first argument of ChangeConfigure and ChangeRunningConfigure.
enum SettingId : uint32_t {
    kSettingDbSize = 0,
    kSettingDbPath = 1,
    kSettingDebugLevel = 2,
    kSettingDebugLogPath = 3,
    kSettingPatternPath = 4,
    kSettingEngineFolder = 5,
    kSettingSecurityLevel = 6,
    kSettingHistoryKeepDays = 7,
    kSettingWorkMode = 8,
    kSettingPerProcessBackupQuota = 9,
    kSettingMaxBackupFileSize = 10,
    kSettingMaxBackupFileSizePidMode = 11,
    kSettingReadBackupFileData = 12,
    kSettingGetImagePath = 13,
};

}  // namespace zef
