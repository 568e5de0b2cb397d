// Restores through a file beside the target, named after this process and a counter so that
// two restores of one file never share it.
#include "reference/zef/file_restore.h"

#include <atomic>

#include "platform/process.h"
#include "platform/storage_file.h"
#include "reference/zef/engine_text.h"

namespace zef {

uint32_t ReplaceWithCopy(const FileTable& files, const RestoreSource& source,
                         const std::u16string& target, CopyMethod* method) {
    static std::atomic<uint32_t> counter{0};
    *method = CopyMethod::kNone;
    const std::u16string folder = FolderOf(target);
    if (!folder.empty() && !platform::IsFolder(folder.c_str())) return kRestoreFolderMissing;
    const std::u16string beside = JoinPath(
        folder, Concat(u"~zef", platform::CurrentProcessId(), u"-", ++counter, u".tmp"));
    CopyRequest request;
    request.durable = true;
    request.hash = source.digest != nullptr;
    const CopyOutcome copy = CopyFileContent(files, source.path, beside, request);
    *method = copy.method;
    if (copy.status == CopyStatus::kSourceUnreadable) return kRestoreCopyUnreadable;
    if (copy.status != CopyStatus::kOk) return kRestoreWriteFailed;
    if (source.digest != nullptr && (copy.digest != *source.digest || copy.size != source.size)) {
        files.remove(beside.c_str());
        return kRestoreContentDamaged;
    }
    const std::u16string besideLong = platform::LongPathForm(beside.c_str());
    platform::CopyFileAttributes(target.c_str(), besideLong.c_str());
    // Windows replaces no read-only file: the target loses the attribute for the rename, and
    // gets it back from the file beside it should the rename fail (both calls fail harmlessly
    // when there is no target yet).
    platform::ClearReadOnly(target.c_str());
    // The content is on the disk before the rename; should the rename itself be lost in a
    // crash, the old file is there still and so is the version, so no folder flush is needed.
    if (!files.rename(beside.c_str(), target.c_str())) {
        platform::CopyFileAttributes(besideLong.c_str(), target.c_str());
        platform::ClearReadOnly(besideLong.c_str());
        files.remove(beside.c_str());
        return kRestoreReplaceFailed;
    }
    return 0;
}

const char16_t* RestoreFailureName(uint32_t code) {
    switch (code) {
        case 0: return u"restored";
        case kRestoreFolderMissing: return u"the target's folder is missing";
        case kRestoreCopyUnreadable: return u"the version's content cannot be read";
        case kRestoreWriteFailed: return u"the content cannot be written beside the target";
        case kRestoreReplaceFailed: return u"the target cannot be replaced";
        case kRestoreNoEdition: return u"no such edition";
        case kRestoreContentDamaged: return u"the version's content is damaged (its digest does not match)";
    }
    return u"failed";
}

}  // namespace zef
