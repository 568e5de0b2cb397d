// The versions a fake engine holds, as a test scripts them. Shared by the fake engine module
// and the tests that steer it (tests/fakes/fake_zef_control.h), across the module boundary, so
// plain C records only.
#pragma once
#include <cstdint>

#include "engine_api/zef_records.h"

extern "C" {

// Where a version lies.
constexpr uint32_t kFakeInMemory = 0;
constexpr uint32_t kFakeInStorage = 1;

// Flags of a version: the engine cannot make a copy of it, cannot give its file path, writes
// its texts (file path, image) over the whole capacity it is given, unterminated, or says it
// made a copy of a version in memory but gives an empty path.
constexpr uint32_t kFakeNoCopy = 1;
constexpr uint32_t kFakeNoPath = 2;
constexpr uint32_t kFakeOverlongText = 4;
constexpr uint32_t kFakeEmptyCopyPath = 8;

// One version; versions of one place are found in the order they were added (newest first).
struct FakeZefVersion {
    uint32_t place;             // kFakeInMemory or kFakeInStorage
    uint32_t processId;         // the process that wrote it (walks by process)
    const char16_t* filePath;   // the backed-up file's own path
    uint32_t id;                // memory: the version id; storage: the edition id
    uint32_t time;              // seconds since 1970
    int32_t uniqueId;           // storage: what GetBackupFileUniqID answers for it
    uint32_t writerRecordId;    // storage: what GetBackupFileByID is asked for, 0 for none
    const char16_t* image;      // memory: the writer's image (may be null)
    uint32_t flags;             // kFakeNoCopy, kFakeNoPath
};

}  // extern "C"
