// Records of the host's restore and version calls (CallFunc 0x23600001, 0x23600003,
// 0x23600007, 0x2360000D) and of the callbacks through which the host chooses a version.
// Host memory, natural alignment of 64-bit Windows; texts are terminated UTF-16. The callbacks
// run on the thread of the call that the host made and may take as long as they like.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

namespace velk {

// Decisions of a restore callback and actions of a version callback.
constexpr uint32_t kDecisionNone = 0;
constexpr uint32_t kDecisionRestore = 1;  // restore from this version
constexpr uint32_t kDecisionDelete = 2;   // not this one, and delete it

// 0x23600001: the callback answers non-zero to go on looking.
using ChooseVersionFn = int32_t (*)(void* context, const char16_t* versionPath, void* userData,
                                    uint32_t* decision);
struct RestoreFileRequest {
    void* context;                  // 0
    ChooseVersionFn chooseVersion;  // 8
    void* userData;                 // 16
    const char16_t* virusName;      // 24, may be null
    const char16_t* filePath;       // 32
    uint32_t virusType;             // 40
    uint32_t fileType;              // 44
    uint32_t restoreOption;         // 48, handed to the engine's restore unchanged
};
static_assert(offsetof(RestoreFileRequest, chooseVersion) == 8, "");
static_assert(offsetof(RestoreFileRequest, virusName) == 24, "");
static_assert(offsetof(RestoreFileRequest, filePath) == 32, "");
static_assert(offsetof(RestoreFileRequest, virusType) == 40, "");
static_assert(offsetof(RestoreFileRequest, restoreOption) == 48, "");

// What a version callback of 0x23600007 or 0x2360000D is shown; the image of the process that
// wrote the version is held inline (260 units for a file's versions, 261 for a process's).
template <size_t ImageUnits>
struct VersionInfoOf {
    uint64_t context;          // 0, the request's
    uint64_t parameter;        // 8, the request's
    const char16_t* path;      // 16
    uint32_t versionId;        // 24: 0 for a version in memory, else the edition id
    uint32_t time;             // 28: seconds since 1970
    char16_t image[ImageUnits];  // 32, empty when the engine gives none
};
using FileVersionInfo = VersionInfoOf<260>;
using ProcessVersionInfo = VersionInfoOf<261>;
static_assert(offsetof(FileVersionInfo, path) == 16, "");
static_assert(offsetof(FileVersionInfo, versionId) == 24, "");
static_assert(offsetof(FileVersionInfo, time) == 28, "");
static_assert(offsetof(FileVersionInfo, image) == 32, "");
static_assert(offsetof(ProcessVersionInfo, image) == 32, "");

// Given to an action's result callback after a restore or a delete of 0x2360000D.
struct VersionActionResult {
    uint64_t context;        // 0, the request's
    uint64_t resultContext;  // 8, the action's
    const char16_t* path;    // 16, the backed-up file's own path
    uint32_t versionId;      // 24
    uint32_t resultCode;     // 28
    uint32_t rebootFlag;     // 32: what the engine's restore left, 0 otherwise
};
static_assert(offsetof(VersionActionResult, versionId) == 24, "");
static_assert(offsetof(VersionActionResult, rebootFlag) == 32, "");
using ActionResultFn = void (*)(const VersionActionResult* result, uint64_t reserved);

// Filled by the callback of 0x2360000D; zeroed before each call.
struct VersionAction {
    uint32_t kind;                  // 0: kDecisionNone, kDecisionRestore or kDecisionDelete
    uint32_t restoreOption;         // 4
    const char16_t* virusName;      // 8, may be null
    ActionResultFn resultCallback;  // 16, may be null
    uint64_t resultContext;         // 24
};
static_assert(offsetof(VersionAction, virusName) == 8, "");
static_assert(offsetof(VersionAction, resultCallback) == 16, "");
static_assert(sizeof(VersionAction) == 32, "");

// Callbacks of the three walks; each answers 0 to stop the walk.
using FileCopyCallback = int32_t (*)(uint64_t context, const char16_t* copyPath,
                                     uint64_t parameter, uint32_t* action);          // 0x23600003
using FileInfoCallback = int32_t (*)(FileVersionInfo* info, uint32_t* action);     // 0x23600007
using ProcessVersionCallback = int32_t (*)(ProcessVersionInfo* info, VersionAction* action);

// 0x23600003 and 0x23600007: the callback has the shape its function id names.
struct FileVersionRequest {
    const char16_t* filePath;  // 0
    uint64_t context;          // 8
    void (*callback)();        // 16: FileCopyCallback or FileInfoCallback
    uint64_t parameter;        // 24
};
static_assert(offsetof(FileVersionRequest, callback) == 16, "");
static_assert(sizeof(FileVersionRequest) == 32, "");

// 0x2360000D. A time that converts to 0 bounds nothing.
struct ProcessVersionRequest {
    uint32_t processId;               // 0
    platform::SystemTime from;        // 4
    platform::SystemTime to;          // 20
    uint64_t context;                 // 40
    ProcessVersionCallback callback;  // 48
    uint64_t parameter;               // 56
};
static_assert(offsetof(ProcessVersionRequest, from) == 4, "");
static_assert(offsetof(ProcessVersionRequest, to) == 20, "");
static_assert(offsetof(ProcessVersionRequest, context) == 40, "");
static_assert(offsetof(ProcessVersionRequest, callback) == 48, "");
static_assert(offsetof(ProcessVersionRequest, parameter) == 56, "");

}  // namespace velk
