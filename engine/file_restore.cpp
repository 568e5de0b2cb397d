// RestoreFile (0x23600001): one file restored from the version its caller chooses, newest
// first, from memory and then from the backup storage, ending with the restore report in
// Report.log and the restore feedback. Runs on the caller's thread; every copy, handle and the
// storage connection are given back before it returns.
#include "engine/restore_report.h"
#include "engine/result_names.h"
#include "engine/version_walk.h"
#include "engine/zef_engine_wrapper.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "platform/clock.h"

using engine_walk::EditionCopy;
using engine_walk::LastMemoryVersion;
using engine_walk::MemoryCopy;
using engine_walk::ScopedFind;
using engine_walk::StorageConnection;

namespace {

using engine_results::kNoBackup;
using engine_results::kNoValidBackup;
using engine_results::kOnlyPurgedBackups;
using engine_results::kRestoreFailed;

// The state of one restore as it walks the versions.
struct RestoreWalk {
    const velk::RestoreFileRequest& request;
    const EngineEntryPoints& engine;
    zef::RestoreReport& report;
    uint32_t& reboot;
    uint32_t result = kNoBackup;

    // Offers one version, through its temporary copy, to the caller. Restores it when chosen;
    // deleteEdition, when given, runs on decision 2. Returns false when the walk is over.
    template <typename DeleteEdition>
    bool Offer(const char16_t* copyPath, DeleteEdition deleteEdition) {
        uint32_t decision = velk::kDecisionNone;
        const int32_t goOn =
            request.chooseVersion(request.context, copyPath, request.userData, &decision);
        if (decision == velk::kDecisionRestore) {
            result = kRestoreFailed;
            uint32_t flag = 0;
            if (engine.RestoreByCopy(request.filePath, copyPath, request.virusName,
                                     request.restoreOption, &flag) != 0) {
                result = velk::kSuccess;
                reboot = flag;
            }
        } else {
            if (decision == velk::kDecisionDelete) deleteEdition();
            ++report.skippedEditions;
        }
        return goOn != 0 && decision != velk::kDecisionRestore;
    }
};

}  // namespace

uint32_t CZefEngineWrapper::RestoreFile(const void* input, void* output) {
    const auto* request = static_cast<const velk::RestoreFileRequest*>(input);
    auto* reboot = static_cast<uint32_t*>(output);
    if (request == nullptr || reboot == nullptr || request->chooseVersion == nullptr ||
        request->filePath == nullptr) {
        return velk::kBadArgument;
    }
    zef::RestoreReport report{};
    zef::EditionFindData edition{};
    const uint32_t start = engine_report::BeginRestoreReport(
        report, request->filePath, request->virusName, request->virusType, request->fileType);
    *reboot = 0;
    const EngineEntryPoints& e = m_entries;
    RestoreWalk walk{*request, e, report, *reboot};
    LastMemoryVersion last;
    bool goOn = true;

    ScopedFind memory(e.MemFindFirstFile(request->filePath), e.MemFindFileClose);
    if (memory) {
        walk.result = kNoValidBackup;
        MemoryCopy copy;
        do {
            ++report.indexFromNewToOld;
            if (!copy.Make(e.MemGetFindVersionPath, memory.get())) continue;
            goOn = walk.Offer(copy.path(), [] {});  // a version in memory is never deleted
            copy.Delete();
            if (!goOn) break;
        } while (e.MemFindNextFile(memory.get()) != 0);
        last = {e.MemGetFindVersionID(memory.get()), e.MemGetFindVersionTime(memory.get())};
        memory.Close();
    }

    if (goOn) {
        const bool overlapCheck = last.id != 0;
        uint32_t timeLimit = overlapCheck ? last.time
                                          : static_cast<uint32_t>(platform::UnixTimeNow());
        StorageConnection connected(e);
        ScopedFind stored(e.FindFirstFileEditionEx(request->filePath, 1, nullptr, &timeLimit,
                                                   &edition),
                          e.FindFileEditionClose);
        if (stored) {
            walk.result = kNoValidBackup;
            EditionCopy copy(e);
            do {
                ++report.indexFromNewToOld;
                if (engine_walk::RepeatsMemoryVersion(e, last, request->filePath, edition)) {
                    continue;
                }
                if (!copy.Get(edition.editionId)) continue;
                const uint32_t editionId = edition.editionId;
                const bool next =
                    walk.Offer(copy.path(), [&] { e.DeleteEditionByEditionID(editionId); });
                copy.Free();
                if (!next) break;
            } while (e.FindNextFileEdition(stored.get(), &edition) != 0);
            stored.Close();
        }
        if (walk.result != velk::kSuccess) edition = zef::EditionFindData{};
        e.FbCompleteAdvanceData(&edition, &report);
    }

    if (walk.result == kNoBackup && report.purgedEditions > 0) walk.result = kOnlyPurgedBackups;
    FinishRestore(report, walk.result, *reboot, start);
    return walk.result;
}
