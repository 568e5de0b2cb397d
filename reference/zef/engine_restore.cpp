// Restores by copy and by edition, the completion of the restore report, and the boot results
// from what the previous run restored. Restores of one file are one at a time (a lock per
// stripe of paths); the edition restored is kept.
#include <cstring>
#include <ctime>
#include <functional>

#include "reference/zef/engine_text.h"
#include "reference/zef/file_restore.h"
#include "reference/zef/zef_engine.h"

namespace zef {
namespace {

constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

}  // namespace

std::mutex& Engine::RestoreLock(const std::u16string& target) {
    return m_restoreLocks[std::hash<std::u16string>()(target) % std::size(m_restoreLocks)];
}

uint32_t Engine::Restore(const std::u16string& target, const RestoreSource& source,
                         uint64_t editionId, uint32_t* reboot) {
    if (reboot != nullptr) *reboot = 0;  // a rename over the file needs no reboot
    uint32_t code = 0;
    CopyMethod method = CopyMethod::kNone;
    std::u16string refusal;
    {
        std::lock_guard<std::mutex> guard(RestoreLock(target));
        const std::u16string note = m_pendingRestores.Begin(FolderOf(target));
        code = ReplaceWithCopy(m_files, source, target, &method, &refusal);
        m_pendingRestores.End(note);
    }
    m_lastCopyMethod.store(method);
    RestoreResult result;
    result.code = code;
    result.value = editionId;
    result.fileTime = static_cast<uint64_t>(std::time(nullptr)) * 10000000u + kUnixEpochAsFileTime;
    result.name = target;
    m_results.Record(result);
    const bool lost = code == kRestoreCopyUnreadable && editionId != 0;
    m_log.Write(code == 0 ? LogLevel::kInfo : LogLevel::kError,
                Concat(u"Restore of ", target, editionId != 0 ? u" from edition " : u"",
                       editionId != 0 ? Decimal(editionId) : std::u16string(), u": ",
                       lost ? u"the edition's content is missing" : RestoreFailureName(code),
                       refusal.empty() ? u"" : u": ", refusal, u" (", CopyMethodName(method),
                       u")."));
    return code == 0 ? 1 : 0;
}

uint32_t Engine::RestoreByCopy(const char16_t* path, const char16_t* copyPath,
                               const char16_t* virusName, uint32_t option, uint32_t* reboot) {
    if (reboot != nullptr) *reboot = 0;
    std::u16string target;
    std::u16string source;
    if (!Store() || !TakePath(path, u"restore target", target) ||
        !TakePath(copyPath, u"copy to restore", source))
        return 0;
    std::u16string virus;
    if (virusName != nullptr && TakeText(virusName, kMaxPathUnits, virus) == TextCheck::kOk)
        m_log.Write(LogLevel::kInfo, Concat(u"Restore for ", virus, u", option ", option, u"."));
    return Restore(target, RestoreSource{source, nullptr, 0, nullptr}, 0, reboot);
}

uint32_t Engine::RestoreByEdition(const char16_t* path, uint32_t editionId,
                                  const char16_t* virusName, uint32_t option, uint32_t* reboot) {
    if (reboot != nullptr) *reboot = 0;
    std::u16string target;
    const auto store = Store();
    if (!store || !TakePath(path, u"restore target", target)) return 0;
    Edition edition;
    if (!store->Find(editionId, edition)) {
        m_log.Write(LogLevel::kError, Concat(u"Restore of ", target, u": edition ", editionId,
                                             u" is not stored."));
        return 0;
    }
    std::u16string virus;
    if (virusName != nullptr && TakeText(virusName, kMaxPathUnits, virus) == TextCheck::kOk)
        m_log.Write(LogLevel::kInfo, Concat(u"Restore for ", virus, u", option ", option, u"."));
    // The content is checked against the digest it is stored under on its way to the target,
    // and the target gets the owner, group and mode the edition's source had.
    platform::FileOwnership ownership{edition.owner, edition.group, edition.mode};
    const RestoreSource source{store->ContentPath(edition), &edition.digest, edition.size,
                               edition.ownershipKnown ? &ownership : nullptr};
    return Restore(target, source, editionId, reboot);
}

uint32_t Engine::FbCompleteAdvanceData(const EditionFindData* found, RestoreReport* report) {
    const auto store = Store();
    if (report == nullptr || !store) return 0;
    std::u16string path;
    TakeText(report->fileName, kTextUnits - 1, path);
    report->validEditions = path.empty() ? 0 : store->CountOf(path);
    Edition edition;
    if (found != nullptr && found->editionId != 0 && store->Find(found->editionId, edition)) {
        report->timeStamp = edition.time;
        report->size = static_cast<uint32_t>(std::min<uint64_t>(edition.size, UINT32_MAX));
        std::memcpy(report->editionValue, edition.digest.data(), edition.digest.size());
        PutText(DigestText(edition.digest), kTextUnits, report->signature);
        PutText(edition.image, kTextUnits, report->subject);
        report->operation = edition.operation;
    }
    const PurgeRecord purges = path.empty() ? PurgeRecord{} : store->PurgesOf(path);
    report->purgedEditions = purges.count;
    report->firstCreateTime = purges.firstCreateTime;
    report->firstPurgeTime = purges.firstPurgeTime;
    report->lastCreateTime = purges.lastCreateTime;
    report->lastPurgeTime = purges.lastPurgeTime;
    return 1;
}

uint32_t Engine::RmAllocDbeResults() { return m_results.Hold(); }

uint32_t Engine::RmFetchDbeResult(uint32_t index, uint32_t* kind, uint32_t* code, uint64_t* value,
                                  uint32_t* detail, const char16_t** name, uint64_t* fileTime) {
    if (kind != nullptr) *kind = 1;
    if (detail != nullptr) *detail = 0;
    return m_results.Fetch(index, code, value, name, fileTime) ? 1 : 0;
}

uint32_t Engine::RmFreeDbeResults() {
    m_results.Release();
    return 0;
}

uint32_t Engine::RmDeleteDbeResults() {
    m_results.DeletePrevious();
    return 0;
}

}  // namespace zef
