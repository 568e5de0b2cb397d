// The 59 entry points of the engine module, each a call into the process's one engine. No
// exception leaves the module: each entry answers its failure value instead.
#include "engine_api/zef_entry_points.h"
#include "host/module_export.h"
#include "reference/zef/zef_engine.h"

extern "C" {
ZEF_ENTRY_POINTS(ZEF_DECLARE_EXPORT)
}

namespace {

// Runs call; anything thrown (memory exhaustion) becomes failure.
template <typename Result, typename Call>
Result Guarded(Result failure, Call&& call) noexcept {
    try {
        return call();
    } catch (...) {
        return failure;
    }
}

template <typename Call>
void GuardedVoid(Call&& call) noexcept {
    try {
        call();
    } catch (...) {
    }
}

zef::Engine& E() { return zef::TheEngine(); }

}  // namespace

using zef::FindHandle;

extern "C" {

uint32_t ConnectBackupStorage() { return Guarded(0u, [] { return E().ConnectBackupStorage(); }); }
uint32_t DisconnectBackupStorage() { return Guarded(0u, [] { return E().DisconnectBackupStorage(); }); }
FindHandle FindFirstFileEdition(const char16_t* filePath, zef::EditionFindData* data) {
    return Guarded<FindHandle>(nullptr, [&] { return E().FindFirstFileEdition(filePath, data); });
}
uint32_t FindNextFileEdition(FindHandle find, zef::EditionFindData* data) {
    return Guarded(0u, [&] { return E().FindNextFileEdition(find, data); });
}
void FindFileEditionClose(FindHandle find) { GuardedVoid([&] { E().FindFileEditionClose(find); }); }
uint32_t GetFileEdition(uint32_t editionId, uint32_t capacity, char16_t* copy) {
    return Guarded(0u, [&] { return E().GetFileEdition(editionId, capacity, copy); });
}
uint32_t FreeFileEdition(const char16_t* copyPath) {
    return Guarded(0u, [&] { return E().FreeFileEdition(copyPath); });
}
uint32_t ChangeConfigure(uint32_t settingId, zef::ConfigureParameter* param) {
    return Guarded(1u, [&] { return E().ChangeConfigure(settingId, param); });
}
uint32_t ChangeRunningConfigure(uint32_t settingId, uint32_t* value) {
    return Guarded(1u, [&] { return E().ChangeRunningConfigure(settingId, value); });
}
uint32_t QueryConfigure(uint32_t settingId, zef::ConfigureParameter* param) {
    return Guarded(1u, [&] { return E().QueryConfigure(settingId, param); });
}
uint32_t Initialize() { return Guarded(1u, [] { return E().Initialize(); }); }
uint32_t Start() { return Guarded(1u, [] { return E().Start(); }); }
uint32_t Stop() { return Guarded(1u, [] { return E().Stop(); }); }
uint32_t Finalize() { return Guarded(1u, [] { return E().Finalize(); }); }
uint32_t NotifyEvent(void* eventData) { return Guarded(1u, [&] { return E().NotifyEvent(eventData); }); }
uint32_t RestoreByCopy(const char16_t* filePath, const char16_t* copyPath, const char16_t* virusName,
                       uint32_t restoreOption, uint32_t* reboot) {
    return Guarded(0u, [&] { return E().RestoreByCopy(filePath, copyPath, virusName, restoreOption, reboot); });
}
uint32_t RmAllocDbeResults() { return Guarded(0u, [] { return E().RmAllocDbeResults(); }); }
uint32_t RmFreeDbeResults() { return Guarded(0u, [] { return E().RmFreeDbeResults(); }); }
uint32_t RmFetchDbeResult(uint32_t index, uint32_t* kind, uint32_t* code, uint64_t* value,
                          uint32_t* detail, const char16_t** name, uint64_t* fileTime) {
    return Guarded(0u, [&] { return E().RmFetchDbeResult(index, kind, code, value, detail, name, fileTime); });
}
uint32_t RmDeleteDbeResults() { return Guarded(0u, [] { return E().RmDeleteDbeResults(); }); }
uint32_t RestoreByEdition(const char16_t* filePath, uint32_t editionId, const char16_t* virusName,
                          uint32_t restoreOption, uint32_t* reboot) {
    return Guarded(0u, [&] { return E().RestoreByEdition(filePath, editionId, virusName, restoreOption, reboot); });
}
FindHandle FindFirstBackupFile(zef::BackupFileFindData* data) {
    return Guarded<FindHandle>(nullptr, [&] { return E().FindFirstBackupFile(nullptr, nullptr, data); });
}
FindHandle FindFirstBackupFileEx(uint32_t* fromTime, uint32_t* toTime, zef::BackupFileFindData* data) {
    return Guarded<FindHandle>(nullptr, [&] { return E().FindFirstBackupFile(fromTime, toTime, data); });
}
uint32_t FindNextBackupFile(FindHandle find, zef::BackupFileFindData* data) {
    return Guarded(0u, [&] { return E().FindNextBackupFile(find, data); });
}
void FindBackupFileClose(FindHandle find) { GuardedVoid([&] { E().FindBackupFileClose(find); }); }
uint32_t FbCompleteAdvanceData(zef::EditionFindData* edition, zef::RestoreReport* report) {
    return Guarded(0u, [&] { return E().FbCompleteAdvanceData(edition, report); });
}
uint32_t FlushEvents() { return Guarded(1u, [] { return E().FlushEvents(); }); }
uint32_t DeleteEditionByEditionID(uint32_t editionId) {
    return Guarded(0u, [&] { return E().DeleteEditionByEditionID(editionId); });
}
uint32_t BackupFile(const char16_t* filePath) { return Guarded(1u, [&] { return E().BackupFile(filePath); }); }
uint32_t IsPatternValid(const char16_t* patternFolder) {
    return Guarded(1u, [&] { return E().IsPatternValid(patternFolder); });
}
uint32_t GetBackupFileByID(uint32_t id, uint32_t capacity, char16_t* buffer) {
    return Guarded(0u, [&] { return E().GetBackupFileByID(id, capacity, buffer); });
}
// Statistics are not kept apart from the log; nothing is filled.
uint32_t GetStatInfo(void*) { return 0; }
uint32_t IsDisabledByPattern(const char16_t* patternFolder) {
    return Guarded(1u, [&] { return E().IsDisabledByPattern(patternFolder); });
}
uint32_t GetSupportFileMaxSize() { return Guarded(0u, [] { return E().GetSupportFileMaxSize(); }); }
FindHandle FindFirstFileEditionEx(const char16_t* filePath, uint32_t flags, uint32_t* fromTime,
                                  uint32_t* toTime, zef::EditionFindData* data) {
    return Guarded<FindHandle>(nullptr, [&] { return E().FindFirstFileEditionEx(filePath, flags, fromTime, toTime, data); });
}
FindHandle MemFindFirstFile(const char16_t* filePath) {
    return Guarded<FindHandle>(nullptr, [&] { return E().MemFindFirstFile(filePath); });
}
uint32_t MemFindNextFile(FindHandle find) { return Guarded(0u, [&] { return E().MemFindNext(find); }); }
void MemFindFileClose(FindHandle find) { GuardedVoid([&] { E().MemFindClose(find); }); }
uint32_t MemGetFindVersionTime(FindHandle find) { return Guarded(0u, [&] { return E().MemGetTime(find); }); }
uint32_t MemGetFindVersionPath(FindHandle find, uint32_t capacity, char16_t* copy) {
    return Guarded(0u, [&] { return E().MemGetCopy(find, capacity, copy); });
}
uint32_t MemGetFindVersionID(FindHandle find) { return Guarded(0u, [&] { return E().MemGetId(find); }); }
int32_t GetBackupFileUniqID(const char16_t* filePath, const void* keyArea) {
    return Guarded(-1, [&] { return E().GetBackupFileUniqID(filePath, keyArea); });
}
uint32_t FlushValidEvents() { return Guarded(1u, [] { return E().FlushValidEvents(); }); }
uint32_t MemGetSubjectProcessImage(FindHandle find, uint32_t capacity, char16_t* image) {
    return Guarded(0u, [&] { return E().MemGetImage(find, capacity, image); });
}
uint32_t MemPurgeVersion(FindHandle find) { return Guarded(0u, [&] { return E().MemPurge(find); }); }
uint32_t UpdateObjPidList(uint32_t operation, uint32_t processId) {
    return Guarded(1u, [&] { return E().UpdateObjPidList(operation, processId); });
}
FindHandle FindFirstFileEditionByPid(uint32_t processId, uint32_t flags, uint32_t* fromTime,
                                     uint32_t* toTime, zef::EditionFindDataByPid* data) {
    return Guarded<FindHandle>(nullptr, [&] { return E().FindFirstFileEditionByPid(processId, flags, fromTime, toTime, data); });
}
uint32_t FindNextFileEditionByPid(FindHandle find, zef::EditionFindDataByPid* data) {
    return Guarded(0u, [&] { return E().FindNextFileEditionByPid(find, data); });
}
FindHandle MemFindFirstFileByPid(uint32_t processId, uint32_t fromTime, uint32_t toTime) {
    return Guarded<FindHandle>(nullptr, [&] { return E().MemFindFirstFileByPid(processId, fromTime, toTime); });
}
uint32_t MemFindNextFileByPid(FindHandle find) { return Guarded(0u, [&] { return E().MemFindNext(find); }); }
void MemFindFileCloseByPid(FindHandle find) { GuardedVoid([&] { E().MemFindClose(find); }); }
uint32_t MemGetFindVersionTimeByPid(FindHandle find) { return Guarded(0u, [&] { return E().MemGetTime(find); }); }
uint32_t MemGetFindFilePathByPid(FindHandle find, uint32_t capacity, char16_t* path) {
    return Guarded(0u, [&] { return E().MemGetFilePath(find, capacity, path); });
}
uint32_t MemGetFindVersionIDByPid(FindHandle find) { return Guarded(0u, [&] { return E().MemGetId(find); }); }
uint32_t MemGetSubjectProcessImageByPid(FindHandle find, uint32_t capacity, char16_t* image) {
    return Guarded(0u, [&] { return E().MemGetImage(find, capacity, image); });
}
uint32_t MemPurgeVersionByPid(FindHandle find) { return Guarded(0u, [&] { return E().MemPurge(find); }); }
uint32_t MemGetBackupVersionByPid(FindHandle find, uint32_t capacity, char16_t* copy) {
    return Guarded(0u, [&] { return E().MemGetCopy(find, capacity, copy); });
}
uint32_t QueryPtnPolicy(uint32_t type, uint32_t subtype, zef::PatternPolicy* policy) {
    return Guarded(1u, [&] { return E().QueryPtnPolicy(type, subtype, policy); });
}
void FreePtnPolicy(zef::PatternPolicy* policy) { GuardedVoid([&] { E().FreePtnPolicy(policy); }); }

}  // extern "C"
