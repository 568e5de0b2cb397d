// Restores through a file created new beside the target, in a folder held open as it was
// reached without links, so that every name the restore uses is relative to that folder.
#include "reference/zef/file_restore.h"

#include "platform/anchored_files.h"
#include "reference/zef/engine_text.h"

namespace zef {
namespace {

constexpr char16_t kTemporarySuffix[] = u".tmp";
constexpr size_t kRandomDigits = 16;

// Closes a folder of OpenFolderWithoutLinks when the scope ends.
class HeldFolder {
public:
    explicit HeldFolder(platform::FolderHandle folder) : m_folder(folder) {}
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;
    ~HeldFolder() { platform::CloseFolder(m_folder); }
    platform::FolderHandle Get() const { return m_folder; }

private:
    platform::FolderHandle m_folder;
};

std::u16string NameOf(const std::u16string& path, const std::u16string& folder) {
    return folder.empty() ? path : path.substr(folder.size() + 1);
}

}  // namespace

uint32_t ReplaceWithCopy(const FileTable& files, const RestoreSource& source,
                         const std::u16string& target, CopyMethod* method,
                         std::u16string* refusal) {
    *method = CopyMethod::kNone;
    const std::u16string folderPath = FolderOf(target);
    const std::u16string name = NameOf(target, folderPath);
    const platform::OpenedFolder opened =
        platform::OpenFolderWithoutLinks(folderPath.empty() ? u"." : folderPath.c_str());
    if (opened.folder == platform::kInvalidFolder) {
        if (refusal != nullptr)
            *refusal = Concat(opened.where, u" ", platform::FolderRefusalText(opened.refusal));
        return opened.refusal == platform::FolderRefusal::kLink ? kRestoreThroughLink
                                                                : kRestoreFolderMissing;
    }
    const HeldFolder folder(opened.folder);
    std::u16string temporary;
    ScopedFile out(files, platform::CreateNewFileIn(folder.Get(), kRestoreTemporaryPrefix,
                                                    kTemporarySuffix, &temporary));
    if (!out.IsOpen()) return kRestoreWriteFailed;
    const auto discard = [&](uint32_t code) {
        out.Close();
        platform::RemoveFromFolder(folder.Get(), temporary.c_str());
        return code;
    };
    CopyRequest request;
    request.durable = true;
    request.hash = source.digest != nullptr;
    const CopyOutcome copy = CopyIntoFile(files, source.path, out.Get(), request);
    *method = copy.method;
    if (copy.status == CopyStatus::kSourceUnreadable) return discard(kRestoreCopyUnreadable);
    if (copy.status != CopyStatus::kOk) return discard(kRestoreWriteFailed);
    if (source.digest != nullptr && (copy.digest != *source.digest || copy.size != source.size))
        return discard(kRestoreContentDamaged);
    // The new file is the service's (root's), 0600, until it is given the recorded ownership
    // or the target's own; only then does it take the target's name.
    platform::FileOwnership targetOwnership;
    const platform::FileOwnership* ownership = source.ownership;
    if (ownership == nullptr &&
        platform::ReadOwnershipInFolder(folder.Get(), name.c_str(), &targetOwnership))
        ownership = &targetOwnership;
    if (ownership != nullptr && !platform::ApplyOwnership(out.Get(), *ownership))
        return discard(kRestoreWriteFailed);
    out.Close();
    // The content is on the disk before the rename; should the rename itself be lost in a
    // crash, the old file is there still and so is the version, so no folder flush is needed.
    if (!platform::RenameInFolder(folder.Get(), temporary.c_str(), name.c_str()))
        return discard(kRestoreReplaceFailed);
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
        case kRestoreThroughLink:
            return u"a link stands where a folder of the target's path should be; it is not "
                   u"followed and nothing was written";
    }
    return u"failed";
}

bool IsRestoreTemporaryName(const std::u16string& name) {
    const std::u16string prefix(kRestoreTemporaryPrefix);
    const std::u16string suffix(kTemporarySuffix);
    if (name.size() != prefix.size() + kRandomDigits + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    for (size_t i = prefix.size(); i < prefix.size() + kRandomDigits; ++i) {
        const char16_t unit = name[i];
        if (!((unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'f'))) return false;
    }
    return true;
}

bool RemoveRestoreTemporary(const std::u16string& folder, const std::u16string& name) {
    if (!IsRestoreTemporaryName(name)) return false;
    const platform::OpenedFolder opened = platform::OpenFolderWithoutLinks(folder.c_str());
    if (opened.folder == platform::kInvalidFolder) return false;
    const HeldFolder held(opened.folder);
    return platform::RemoveFromFolder(held.Get(), name.c_str());
}

}  // namespace zef
