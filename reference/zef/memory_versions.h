// Versions taken on file events and not yet turned into editions: the content of a file as it
// was before a process wrote it, held as a staged copy in the store's folder. One lock guards
// the list and its two indexes (by path, and a count by process), which keep the admission of
// an event constant in time however many versions are held; safe from any thread.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/storage_file.h"

namespace zef {

struct MemoryVersion {
    uint32_t uniqueId = 0;
    uint32_t time = 0;        // seconds since 1970, when it was taken
    uint32_t processId = 0;   // the process about to write, 0 when unknown
    uint64_t size = 0;        // the file's size and write time when it was taken
    uint64_t writeTime = 0;
    std::u16string path;
    std::u16string image;
    std::u16string copyPath;  // the staged copy
    bool ownershipKnown = false;  // the file's owner, group and mode as it was copied
    platform::FileOwnership ownership;
};

enum class Admission { kTake, kAlreadyKept, kQuotaUsed };

class MemoryVersions {
public:
    // Whether a version of this content should be taken: not when a version of the path with
    // the same size and write time is held, nor when the process holds quota versions (0: no
    // limit).
    Admission Admit(const std::u16string& path, uint32_t processId, uint64_t size,
                    uint64_t writeTime, uint32_t quota) const;
    // Adds a version unless, meanwhile, Admit would refuse it; answers what it decided.
    Admission Add(const MemoryVersion& version, uint32_t quota);
    // Newest first.
    std::vector<MemoryVersion> OfPath(const std::u16string& path) const;
    // Newest first; a bound of 0 is open, others are inclusive.
    std::vector<MemoryVersion> OfProcess(uint32_t processId, uint32_t from, uint32_t to) const;
    bool Remove(uint32_t uniqueId, MemoryVersion* removed);
    // Takes out the versions that match.
    std::vector<MemoryVersion> TakeIf(const std::function<bool(const MemoryVersion&)>& match);
    size_t Count() const;

private:
    Admission AdmitLocked(const std::u16string& path, uint32_t processId, uint64_t size,
                          uint64_t writeTime, uint32_t quota) const;
    void IndexLocked(const MemoryVersion& version);
    void UnindexLocked(const MemoryVersion& version);

    mutable std::mutex m_lock;
    std::vector<MemoryVersion> m_versions;  // in the order taken
    // Size and write time of each version held, by path; versions held, by process.
    std::unordered_map<std::u16string, std::vector<std::pair<uint64_t, uint64_t>>> m_stamps;
    std::unordered_map<uint32_t, uint32_t> m_perProcess;
};

}  // namespace zef
