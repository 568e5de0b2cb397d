// A rollback's steps on the file system and through the plug-in.
#include "reference/pellumhost/protection/rollback_steps.h"

#include <cstdio>
#include <filesystem>

#include "host/call_records.h"
#include "host/result_codes.h"
#include "platform/anchored_files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "reference/pellumhost/utc_text.h"

namespace pellumhost {
namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// path split at its last separator: the folder (the root keeps its separator) and the name.
void Split(const std::u16string& path, std::u16string& folder, std::u16string& name) {
    size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
    name = path.substr(cut);
    const bool root = cut == 1 || (cut == 3 && path[1] == u':');  // "/" or "C:\"
    folder = cut == 0 ? u"." : path.substr(0, root ? cut : cut - 1);
}

// A folder held open for the length of a step.
class Folder {
public:
    Folder() = default;
    ~Folder() {
        if (m_handle != platform::kInvalidFolder) platform::CloseFolder(m_handle);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // Opens path without links, making it and the folders above it that are missing.
    bool Reach(const std::u16string& path, bool make, std::string& why) {
        platform::OpenedFolder opened = platform::OpenFolderWithoutLinks(path.c_str());
        if (opened.folder == platform::kInvalidFolder && make &&
            opened.refusal == platform::FolderRefusal::kMissing) {
            std::u16string parentPath, name;
            Split(path, parentPath, name);
            Folder parent;
            if (parentPath == path || !parent.Reach(parentPath, true, why)) return false;
            if (!platform::CreateFolderIn(parent.m_handle, name.c_str()) &&
                platform::OpenFolderWithoutLinks(path.c_str()).refusal != platform::FolderRefusal::kNone) {
                why = "the folder " + platform::ToUtf8(path) + " cannot be made";
                return false;
            }
            opened = platform::OpenFolderWithoutLinks(path.c_str());
        }
        if (opened.folder == platform::kInvalidFolder) {
            why = platform::ToUtf8(opened.where) + " " +
                  platform::ToUtf8(platform::FolderRefusalText(opened.refusal));
            return false;
        }
        m_handle = opened.folder;
        return true;
    }
    platform::FolderHandle Handle() const { return m_handle; }

private:
    platform::FolderHandle m_handle = platform::kInvalidFolder;
};

bool Move(const std::u16string& from, const std::u16string& to, std::string& why) {
    std::u16string fromFolder, fromName, toFolder, toName;
    Split(from, fromFolder, fromName);
    Split(to, toFolder, toName);
    Folder source, target;
    if (!source.Reach(fromFolder, false, why) || !target.Reach(toFolder, true, why)) return false;
    if (platform::MoveBetweenFolders(source.Handle(), fromName.c_str(), target.Handle(), toName.c_str()))
        return true;
    why = platform::ToUtf8(from) + " cannot be moved to " + platform::ToUtf8(to) +
          " (the name is taken, or they lie on different file systems)";
    return false;
}

uint32_t Restore(const PluginExports& plugin, ICommonPluginInterface* wrapper,
                 const RollbackStep& step, std::string& why) {
    std::u16string folder, name;
    Split(step.path, folder, name);
    Folder parent;
    if (!parent.Reach(folder, true, why)) return velk::kNotDone;
    velk::EditionRestoreRequest request{nullptr, step.path.c_str(), 0, 0, 0, step.editionId};
    uint32_t reboot = 0;
    return plugin.CallFunc(wrapper, velk::kFnRestoreEdition, &request, &reboot);
}

// Copies the file into the quarantine folder, then removes it from the tree; its first name
// goes into the folder's list.
bool Quarantine(const RollbackStep& step, const std::u16string& quarantine, size_t number,
                std::string& detail) {
    std::u16string folder, name;
    Split(step.from, folder, name);
    Folder parent;
    if (!parent.Reach(folder, false, detail)) return false;
    bool isLink = false;
    const platform::FileHandle source = platform::OpenFileInFolder(parent.Handle(), name.c_str(), &isLink);
    if (source == platform::kInvalidFile) {
        detail = platform::ToUtf8(step.from) + (isLink ? " is a link; left alone" : " cannot be read");
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(platform::ToUtf8(quarantine)), ec);
    const std::u16string kept = quarantine + u"/" + platform::FromUtf8(std::to_string(number)) + u"-" + name;
    const platform::FileHandle target = platform::CreateForWriting(kept.c_str());
    bool copied = target != platform::kInvalidFile;
    uint64_t bytes = 0, size = 0;
    std::vector<uint8_t> buffer(1 << 16);
    for (uint32_t got = 0; copied;) {
        copied = platform::ReadSome(source, buffer.data(), static_cast<uint32_t>(buffer.size()), &got);
        if (!copied || got == 0) break;
        copied = platform::WriteAll(target, buffer.data(), got);
        bytes += got;
    }
    copied = copied && platform::FileSize(source, &size) && size == bytes &&
             platform::FlushToDisk(target);
    platform::CloseFile(source);
    if (target != platform::kInvalidFile) platform::CloseFile(target);
    if (!copied) {
        platform::RemoveFile(kept.c_str());
        detail = platform::ToUtf8(step.from) + " could not be copied into " +
                 platform::ToUtf8(quarantine) + "; left alone";
        return false;
    }
    if (FILE* list = std::fopen(platform::ToUtf8(quarantine + u"/quarantine.list").c_str(), "a")) {
        std::fprintf(list, "%zu-%s\t%s\n", number, platform::ToUtf8(name).c_str(),
                     platform::ToUtf8(step.from).c_str());
        std::fclose(list);
    }
    if (!platform::RemoveFromFolder(parent.Handle(), name.c_str())) {
        detail = "copied into " + platform::ToUtf8(kept) + " but " + platform::ToUtf8(step.from) +
                 " cannot be removed";
        return false;
    }
    detail = "moved to " + platform::ToUtf8(kept);
    return true;
}

}  // namespace

std::u16string QuarantineFolder(const std::u16string& dbFolder, uint64_t unixMs) {
    std::string stamp = UtcText(unixMs / 1000).substr(0, 19);  // without " UTC"
    for (char& c : stamp)
        if (c == ':' || c == ' ') c = c == ' ' ? 'T' : '-';
    return dbFolder + u"/quarantine/" + platform::FromUtf8(stamp) + u"-" +
           platform::FromUtf8(std::to_string(platform::CurrentProcessId()));
}

std::vector<StepResult> RunRollbackSteps(const PluginExports& plugin,
                                         ICommonPluginInterface* wrapper,
                                         const std::vector<RollbackStep>& steps,
                                         const std::u16string& quarantine,
                                         const StepProgress& progress) {
    std::vector<StepResult> results;
    size_t quarantined = 0;
    for (const RollbackStep& step : steps) {
        StepResult done{step, velk::kSuccess, {}};
        switch (step.action) {
            case StepAction::kRenameFolderBack:
            case StepAction::kRenameBack:
                if (!Move(step.from, step.path, done.detail)) done.result = velk::kNotDone;
                break;
            case StepAction::kRestore:
                done.result = Restore(plugin, wrapper, step, done.detail);
                break;
            case StepAction::kQuarantine:
                if (!Quarantine(step, quarantine, ++quarantined, done.detail)) done.result = velk::kNotDone;
                break;
            case StepAction::kLeaveCreated:
                done.detail = "left as it is";
                break;
            case StepAction::kNoContent:
                done.result = velk::kNotDone;
                done.detail = step.why;
                break;
        }
        results.push_back(std::move(done));
        if (progress) progress(results.size(), steps.size());
    }
    return results;
}

bool StepSucceeded(const StepResult& result) { return result.result == velk::kSuccess; }

}  // namespace pellumhost
