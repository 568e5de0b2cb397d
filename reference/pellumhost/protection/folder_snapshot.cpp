// A folder's files with their stamps, and the comparison of two such snapshots.
#include "reference/pellumhost/protection/folder_snapshot.h"

#include <filesystem>

#include "platform/storage_file.h"

namespace pellumhost {

FolderSnapshot TakeSnapshot(const std::u16string& folder, std::set<std::u16string>* folders) {
    FolderSnapshot snapshot;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(std::filesystem::path(folder), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::filesystem::file_type type = it->symlink_status(ec).type();  // links not followed
        const std::u16string path = it->path().u16string();
        if (type == std::filesystem::file_type::directory && folders != nullptr) folders->insert(path);
        if (type != std::filesystem::file_type::regular) continue;
        SeenFile seen;
        if (platform::FileStamp(path.c_str(), &seen.size, &seen.writeTime)) snapshot[path] = seen;
    }
    return snapshot;
}

SnapshotDifference CompareSnapshots(const FolderSnapshot& seen, const FolderSnapshot& now) {
    SnapshotDifference difference;
    for (const auto& file : now) {
        const auto before = seen.find(file.first);
        if (before == seen.end() || !(before->second == file.second))
            difference.changed.push_back(file.first);
    }
    for (const auto& file : seen)
        if (now.count(file.first) == 0) difference.removed.push_back(file.first);
    return difference;
}

}  // namespace pellumhost
