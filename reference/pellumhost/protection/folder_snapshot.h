// What an after-the-fact source saw of each file under its folder (size and last-write time),
// and what differs when it reads the folder again after the system lost count of the changes.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace pellumhost {

struct SeenFile {
    uint64_t size = 0;
    uint64_t writeTime = 0;  // platform units
    bool operator==(const SeenFile& other) const {
        return size == other.size && writeTime == other.writeTime;
    }
};

// By full path, in the platform's separators.
using FolderSnapshot = std::map<std::u16string, SeenFile>;

// Every regular file under folder as it is now, and with folders every folder below it; what
// cannot be listed or read is left out.
FolderSnapshot TakeSnapshot(const std::u16string& folder,
                            std::set<std::u16string>* folders = nullptr);

struct SnapshotDifference {
    std::vector<std::u16string> changed;  // new, or another size or write time
    std::vector<std::u16string> removed;  // seen before, not there now
};

SnapshotDifference CompareSnapshots(const FolderSnapshot& seen, const FolderSnapshot& now);

}  // namespace pellumhost
