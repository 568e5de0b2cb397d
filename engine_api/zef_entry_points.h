// The engine module's 59 entry points, in the order of the wrapper's table, as one list:
//     X(name, required, result type, (parameters))
// The list generates the wrapper's table, its look-up loop and its required-entry check, and
// the engine modules declare their exports from it, so a changed shape cannot go unnoticed.
//
// Conventions: Initialize, Start, BackupFile, UpdateObjPidList, IsPatternValid and
// QueryPtnPolicy answer 0 on success; restores, deletes, searches and copies answer non-zero
// on success. A find handle is null when nothing was found. Entry points may be called from
// several threads at once. Texts are terminated UTF-16; times are seconds since 1970.
#pragma once
#include <cstdint>
#include <string>

#include "engine_api/zef_records.h"

namespace zef {

using FindHandle = void*;

// Callbacks that the wrapper lends to the engine as settings 12 and 13; the engine may call
// them from any thread once they are set.
using ReadBackupFileDataFn = uint32_t (*)(const uint8_t* fileKey, uint32_t keyLength,
                                          const void* file, void* buffer, uint64_t reserved,
                                          uint32_t a, uint32_t b, uint32_t c,
                                          uint32_t* bytesRead);
// Writes the image path of a process into *imagePath; 1 on success, 0 otherwise.
using GetImagePathFn = uint32_t (*)(uint32_t processId, std::u16string* imagePath);

}  // namespace zef

#define ZEF_ENTRY_POINTS(X)                                                                    \
    X(ConnectBackupStorage, true, uint32_t, ())                                               \
    X(DisconnectBackupStorage, true, uint32_t, ())                                            \
    X(FindFirstFileEdition, true, zef::FindHandle,                                            \
      (const char16_t* filePath, zef::EditionFindData* data))                                 \
    X(FindNextFileEdition, true, uint32_t, (zef::FindHandle find, zef::EditionFindData* data)) \
    X(FindFileEditionClose, true, void, (zef::FindHandle find))                               \
    X(GetFileEdition, true, uint32_t, (uint32_t editionId, uint32_t capacity, char16_t* copy)) \
    X(FreeFileEdition, true, uint32_t, (const char16_t* copyPath))                            \
    X(ChangeConfigure, true, uint32_t, (uint32_t settingId, zef::ConfigureParameter* param))  \
    X(ChangeRunningConfigure, true, uint32_t, (uint32_t settingId, uint32_t* value))          \
    X(QueryConfigure, true, uint32_t, (uint32_t settingId, zef::ConfigureParameter* param))   \
    X(Initialize, true, uint32_t, ())                                                         \
    X(Start, true, uint32_t, ())                                                              \
    X(Stop, true, uint32_t, ())                                                               \
    X(Finalize, true, uint32_t, ())                                                           \
    X(NotifyEvent, true, uint32_t, (void* eventData))                                         \
    X(RestoreByCopy, true, uint32_t,                                                          \
      (const char16_t* filePath, const char16_t* copyPath, const char16_t* virusName,         \
       uint32_t restoreOption, uint32_t* reboot))                                             \
    X(RmAllocDbeResults, true, uint32_t, ())                                                  \
    X(RmFreeDbeResults, true, uint32_t, ())                                                   \
    X(RmFetchDbeResult, false, uint32_t,                                                      \
      (uint32_t index, uint32_t* kind, uint32_t* code, uint64_t* value, uint32_t* detail,     \
       const char16_t** name, uint64_t* fileTime))                                            \
    X(RmDeleteDbeResults, true, uint32_t, ())                                                 \
    X(RestoreByEdition, true, uint32_t,                                                       \
      (const char16_t* filePath, uint32_t editionId, const char16_t* virusName,               \
       uint32_t restoreOption, uint32_t* reboot))                                             \
    X(FindFirstBackupFile, true, zef::FindHandle, (zef::BackupFileFindData* data))            \
    X(FindFirstBackupFileEx, true, zef::FindHandle,                                           \
      (uint32_t* fromTime, uint32_t* toTime, zef::BackupFileFindData* data))                  \
    X(FindNextBackupFile, true, uint32_t, (zef::FindHandle find, zef::BackupFileFindData* data)) \
    X(FindBackupFileClose, true, void, (zef::FindHandle find))                                \
    X(FbCompleteAdvanceData, true, uint32_t,                                                  \
      (zef::EditionFindData* edition, zef::RestoreReport* report))                            \
    X(FlushEvents, true, uint32_t, ())                                                        \
    X(DeleteEditionByEditionID, true, uint32_t, (uint32_t editionId))                         \
    X(BackupFile, true, uint32_t, (const char16_t* filePath))                                 \
    X(IsPatternValid, true, uint32_t, (const char16_t* patternFolder))                        \
    X(GetBackupFileByID, true, uint32_t, (uint32_t id, uint32_t capacity, char16_t* buffer))  \
    X(GetStatInfo, false, uint32_t, (void* info))                                             \
    X(IsDisabledByPattern, true, uint32_t, (const char16_t* patternFolder))                   \
    X(GetSupportFileMaxSize, true, uint32_t, ())                                              \
    X(FindFirstFileEditionEx, true, zef::FindHandle,                                          \
      (const char16_t* filePath, uint32_t flags, uint32_t* fromTime, uint32_t* toTime,        \
       zef::EditionFindData* data))                                                           \
    X(MemFindFirstFile, true, zef::FindHandle, (const char16_t* filePath))                    \
    X(MemFindNextFile, true, uint32_t, (zef::FindHandle find))                                \
    X(MemFindFileClose, true, void, (zef::FindHandle find))                                   \
    X(MemGetFindVersionTime, true, uint32_t, (zef::FindHandle find))                          \
    X(MemGetFindVersionPath, true, uint32_t,                                                  \
      (zef::FindHandle find, uint32_t capacity, char16_t* copy))                              \
    X(MemGetFindVersionID, true, uint32_t, (zef::FindHandle find))                            \
    X(GetBackupFileUniqID, true, int32_t, (const char16_t* filePath, const void* keyArea))    \
    X(FlushValidEvents, true, uint32_t, ())                                                   \
    X(MemGetSubjectProcessImage, true, uint32_t,                                              \
      (zef::FindHandle find, uint32_t capacity, char16_t* image))                             \
    X(MemPurgeVersion, true, uint32_t, (zef::FindHandle find))                                \
    X(UpdateObjPidList, true, uint32_t, (uint32_t operation, uint32_t processId))             \
    X(FindFirstFileEditionByPid, true, zef::FindHandle,                                       \
      (uint32_t processId, uint32_t flags, uint32_t* fromTime, uint32_t* toTime,              \
       zef::EditionFindDataByPid* data))                                                      \
    X(FindNextFileEditionByPid, true, uint32_t,                                               \
      (zef::FindHandle find, zef::EditionFindDataByPid* data))                                \
    X(MemFindFirstFileByPid, true, zef::FindHandle,                                           \
      (uint32_t processId, uint32_t fromTime, uint32_t toTime))                               \
    X(MemFindNextFileByPid, true, uint32_t, (zef::FindHandle find))                           \
    X(MemFindFileCloseByPid, true, void, (zef::FindHandle find))                              \
    X(MemGetFindVersionTimeByPid, true, uint32_t, (zef::FindHandle find))                     \
    X(MemGetFindFilePathByPid, true, uint32_t,                                                \
      (zef::FindHandle find, uint32_t capacity, char16_t* path))                              \
    X(MemGetFindVersionIDByPid, true, uint32_t, (zef::FindHandle find))                       \
    X(MemGetSubjectProcessImageByPid, true, uint32_t,                                         \
      (zef::FindHandle find, uint32_t capacity, char16_t* image))                             \
    X(MemPurgeVersionByPid, true, uint32_t, (zef::FindHandle find))                           \
    X(MemGetBackupVersionByPid, true, uint32_t,                                               \
      (zef::FindHandle find, uint32_t capacity, char16_t* copy))                              \
    X(QueryPtnPolicy, true, uint32_t,                                                         \
      (uint32_t type, uint32_t subtype, zef::PatternPolicy* policy))                          \
    X(FreePtnPolicy, true, void, (zef::PatternPolicy* policy))

// Declares every entry point with C linkage and the export decoration an engine module needs.
#define ZEF_DECLARE_EXPORT(name, required, result, params) PEZ_EXPORT result name params;
