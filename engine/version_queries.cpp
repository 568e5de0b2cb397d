// The version walks of a file (0x23600003, 0x23600007) and of one process (0x2360000D): the
// versions in memory first, newest first, then the stored editions up to the time of the last
// version in memory, without the edition that repeats it. Every copy, handle and storage
// connection is given back before a walk returns, on every path. Runs on the caller's thread.
#include <string>

#include "engine/result_names.h"
#include "engine/version_walk.h"
#include "engine/zef_engine_wrapper.h"
#include "engine/zef_time.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "platform/clock.h"

using engine_walk::EditionCopy;
using engine_walk::LastMemoryVersion;
using engine_walk::MemoryCopy;
using engine_walk::ScopedFind;
using engine_walk::StorageConnection;

namespace {

using engine_results::kDeleteFailed;
using engine_results::kNoValidBackup;
using engine_results::kRestoreFailed;

// Walks the versions a memory search found, calling visit for each until it answers false;
// records the version the search stands at and closes the search. True when visit stopped.
template <typename Visit>
bool WalkMemory(ScopedFind& find, uint32_t (*next)(zef::FindHandle),
                uint32_t (*versionId)(zef::FindHandle), uint32_t (*versionTime)(zef::FindHandle),
                LastMemoryVersion& last, Visit visit) {
    bool stopped = false;
    do {
        if (!visit(find.get())) {
            stopped = true;
            break;
        }
    } while (next(find.get()) != 0);
    last = {versionId(find.get()), versionTime(find.get())};
    find.Close();
    return stopped;
}

// Walks the editions a storage search found, calling visit for each until it answers false.
template <typename Data, typename Visit>
void WalkEditions(const ScopedFind& find, uint32_t (*next)(zef::FindHandle, Data*), Data& data,
                  Visit visit) {
    while (visit() && next(find.get(), &data) != 0) {
    }
}

// The image of the process that wrote a stored edition, or empty text.
template <size_t Units>
void EditionImage(const EngineEntryPoints& entries, uint32_t writerRecordId,
                  char16_t (&image)[Units]) {
    if (writerRecordId != 0) entries.GetBackupFileByID(writerRecordId, Units, image);
    image[Units - 1] = u'\0';
}

// How the two walks of a file differ.
enum class FileWalk {
    kCopies,  // 0x23600003: the storage searched up to the last memory version (or now);
              // action 2 purges a memory version
    kInfo,    // 0x23600007: the storage searched without a bound; memory is never purged
};

// The walk of a file's versions. showMemory(find, copyPath, action) and
// showEdition(edition, copyPath, action) call the host's callback and answer its result;
// action 2 deletes (see FileWalk). Copies are given back before the action is carried out.
template <typename ShowMemory, typename ShowEdition>
void WalkFileVersions(const EngineEntryPoints& e, const char16_t* filePath, FileWalk kind,
                      ShowMemory showMemory, ShowEdition showEdition) {
    LastMemoryVersion last;
    ScopedFind memory(e.MemFindFirstFile(filePath), e.MemFindFileClose);
    if (memory) {
        MemoryCopy copy;
        const bool stopped = WalkMemory(
            memory, e.MemFindNextFile, e.MemGetFindVersionID, e.MemGetFindVersionTime, last,
            [&](zef::FindHandle find) {
                if (!copy.Make(e.MemGetFindVersionPath, find)) return true;
                uint32_t action = velk::kDecisionNone;
                const int32_t goOn = showMemory(find, copy.path(), action);
                copy.Delete();
                if (kind == FileWalk::kCopies && action == velk::kDecisionDelete) {
                    e.MemPurgeVersion(find);
                }
                return goOn != 0;
            });
        if (stopped) return;
    }

    StorageConnection connected(e);
    zef::EditionFindData data{};
    uint32_t upper = last.id != 0 ? last.time : static_cast<uint32_t>(platform::UnixTimeNow());
    ScopedFind stored(kind == FileWalk::kCopies
                          ? e.FindFirstFileEditionEx(filePath, 1, nullptr, &upper, &data)
                          : e.FindFirstFileEdition(filePath, &data),
                      e.FindFileEditionClose);
    if (!stored) return;
    EditionCopy copy(e);
    WalkEditions(stored, e.FindNextFileEdition, data, [&] {
        if (engine_walk::RepeatsMemoryVersion(e, last, filePath, data)) return true;
        if (!copy.Get(data.editionId)) return true;
        uint32_t action = velk::kDecisionNone;
        const int32_t goOn = showEdition(data, copy.path(), action);
        copy.Free();
        if (action == velk::kDecisionDelete) e.DeleteEditionByEditionID(data.editionId);
        return goOn != 0;
    });
}

}  // namespace

uint32_t CZefEngineWrapper::EnumFileVersions(const void* input) {
    const auto* request = static_cast<const velk::FileVersionRequest*>(input);
    if (request == nullptr || request->callback == nullptr || request->filePath == nullptr) {
        return velk::kBadArgument;
    }
    const auto callback = reinterpret_cast<velk::FileCopyCallback>(request->callback);
    const auto show = [&](const char16_t* copyPath, uint32_t& action) {
        return callback(request->context, copyPath, request->parameter, &action);
    };
    WalkFileVersions(
        m_entries, request->filePath, FileWalk::kCopies,
        [&](zef::FindHandle, const char16_t* copyPath, uint32_t& action) {
            return show(copyPath, action);
        },
        [&](const zef::EditionFindData&, const char16_t* copyPath, uint32_t& action) {
            return show(copyPath, action);
        });
    return velk::kSuccess;
}

uint32_t CZefEngineWrapper::EnumFileVersionInfo(const void* input) {
    const auto* request = static_cast<const velk::FileVersionRequest*>(input);
    if (request == nullptr || request->callback == nullptr || request->filePath == nullptr) {
        return velk::kBadArgument;
    }
    const auto callback = reinterpret_cast<velk::FileInfoCallback>(request->callback);
    const EngineEntryPoints& e = m_entries;
    velk::FileVersionInfo info{};
    WalkFileVersions(
        e, request->filePath, FileWalk::kInfo,
        [&](zef::FindHandle find, const char16_t* copyPath, uint32_t& action) {
            info = velk::FileVersionInfo{request->context, request->parameter, copyPath, 0,
                                         e.MemGetFindVersionTime(find), {}};
            e.MemGetSubjectProcessImage(find, 259, info.image);
            info.image[259] = u'\0';
            return callback(&info, &action);
        },
        [&](const zef::EditionFindData& data, const char16_t* copyPath, uint32_t& action) {
            info = velk::FileVersionInfo{request->context, request->parameter, copyPath,
                                         data.editionId, data.time, {}};
            EditionImage(e, data.writerRecordId, info.image);
            return callback(&info, &action);
        });
    return velk::kSuccess;
}

uint32_t CZefEngineWrapper::EnumProcessVersions(const void* input) {
    const auto* request = static_cast<const velk::ProcessVersionRequest*>(input);
    if (request == nullptr || request->callback == nullptr || request->processId == 0) {
        return velk::kBadArgument;
    }
    const EngineEntryPoints& e = m_entries;
    uint32_t from = engine_time::ZefTimeFromSystemTime(&request->from);
    uint32_t to = engine_time::ZefTimeFromSystemTime(&request->to);
    uint32_t* const fromBound = from != 0 ? &from : nullptr;
    uint32_t* const toBound = to != 0 ? &to : nullptr;
    LastMemoryVersion last;
    velk::ProcessVersionInfo info{};

    // Tells the action's result callback, when there is one, how a restore or delete went.
    const auto report = [&](const velk::VersionAction& action, const char16_t* path,
                            uint32_t versionId, uint32_t code, uint32_t reboot) {
        if (action.resultCallback == nullptr) return;
        const velk::VersionActionResult result{request->context, action.resultContext, path,
                                               versionId, code, reboot};
        action.resultCallback(&result, 0);
    };

    ScopedFind memory(e.MemFindFirstFileByPid(request->processId, from, to),
                      e.MemFindFileCloseByPid);
    if (memory) {
        char16_t path[engine_walk::kCopyUnits];
        const bool stopped = WalkMemory(
            memory, e.MemFindNextFileByPid, e.MemGetFindVersionIDByPid,
            e.MemGetFindVersionTimeByPid, last, [&](zef::FindHandle find) {
                std::char_traits<char16_t>::assign(path, engine_walk::kCopyUnits, u'\0');
                const bool named = e.MemGetFindFilePathByPid(find, 261, path) != 0;
                path[261] = u'\0';
                if (!named) return true;
                info = velk::ProcessVersionInfo{request->context, request->parameter, path, 0,
                                                e.MemGetFindVersionTimeByPid(find), {}};
                e.MemGetSubjectProcessImageByPid(find, 260, info.image);
                info.image[260] = u'\0';
                velk::VersionAction action{};
                const int32_t goOn = request->callback(&info, &action);
                if (action.kind == velk::kDecisionDelete) {
                    const bool purged = e.MemPurgeVersionByPid(find) != 0;
                    report(action, path, 0, purged ? velk::kSuccess : kDeleteFailed, 0);
                } else if (action.kind == velk::kDecisionRestore) {
                    uint32_t reboot = 0;
                    uint32_t code = kNoValidBackup;
                    MemoryCopy copy;
                    if (copy.Make(e.MemGetBackupVersionByPid, find) && !copy.empty()) {
                        const bool restored = e.RestoreByCopy(path, copy.path(), action.virusName,
                                                              action.restoreOption, &reboot) != 0;
                        copy.Delete();
                        code = restored ? velk::kSuccess : kRestoreFailed;
                    }
                    report(action, path, 0, code, reboot);
                }
                return goOn != 0;
            });
        if (stopped) return velk::kSuccess;
    }

    uint32_t* const upper = last.id != 0 ? &last.time : toBound;
    zef::EditionFindDataByPid data{};
    StorageConnection connected(e);
    ScopedFind stored(e.FindFirstFileEditionByPid(request->processId, 1, fromBound, upper, &data),
                      e.FindFileEditionClose);
    if (!stored) return velk::kSuccess;
    WalkEditions(stored, e.FindNextFileEditionByPid, data, [&] {
        data.filePath[zef::kTextUnits - 1] = u'\0';
        if (engine_walk::RepeatsMemoryVersion(e, last, data.filePath, data.edition)) return true;
        const uint32_t editionId = data.edition.editionId;
        info = velk::ProcessVersionInfo{request->context, request->parameter, data.filePath,
                                        editionId, data.edition.time, {}};
        EditionImage(e, data.edition.writerRecordId, info.image);
        velk::VersionAction action{};
        const int32_t goOn = request->callback(&info, &action);
        if (action.kind == velk::kDecisionDelete) {
            const bool deleted = e.DeleteEditionByEditionID(editionId) != 0;
            report(action, data.filePath, editionId, deleted ? velk::kSuccess : kDeleteFailed, 0);
        } else if (action.kind == velk::kDecisionRestore) {
            uint32_t reboot = 0;
            const bool restored = e.RestoreByEdition(data.filePath, editionId, action.virusName,
                                                     action.restoreOption, &reboot) != 0;
            report(action, data.filePath, editionId, restored ? velk::kSuccess : kRestoreFailed,
                   reboot);
        }
        return goOn != 0;
    });
    return velk::kSuccess;
}
