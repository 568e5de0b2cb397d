// The store's index in memory: the editions by id, by path and by writer, the references to
// each content file, the purge history, and the purge itself. Each change costs a logarithm
// of the count, so an append stays cheap however many editions are kept. Not thread-safe:
// the store's lock guards it.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "reference/zef/edition_index.h"
#include "reference/zef/edition_log.h"

namespace zef {

// Purge limits. quotaBytes 0: no size limit; keepDays 0: no age limit, and then the newest
// edition of every file is kept whatever the quota.
struct StoreLimits {
    uint64_t quotaBytes = 1024ull << 20;
    uint32_t keepDays = 21;
};

using BlobKey = std::pair<Digest, uint32_t>;

class EditionSet {
public:
    // Applies one replayed record; false when it contradicts the set (an edition id that is 0,
    // or already used).
    bool Apply(const LogRecord& record);
    bool Add(const Edition& edition);
    // Takes an edition out; a purge is added to the path's purge history.
    bool Remove(uint32_t editionId, uint32_t now, bool purged, Edition* removed);
    // Takes editions out, oldest first: those past the age limit, then, while the content kept
    // is above the quota, those of the writer that holds the most. Never the edition keepId,
    // nor the newest edition of a file changed within the age limit.
    std::vector<Edition> Purge(const StoreLimits& limits, uint32_t now, uint32_t keepId);

    const Edition* Find(uint32_t editionId) const;
    const Edition* NewestOf(const std::u16string& path) const;
    // Searches: bounds inclusive, null open; newest first (time, then edition id).
    std::vector<Edition> OfPath(const std::u16string& path, const uint32_t* from,
                                const uint32_t* to) const;
    std::vector<Edition> OfProcess(uint32_t processId, const uint32_t* from, const uint32_t* to) const;
    std::vector<StoredFile> Files(const uint32_t* from, const uint32_t* to) const;
    std::vector<Edition> All() const;
    uint32_t CountOf(const std::u16string& path) const;
    PurgeRecord PurgesOf(const std::u16string& path) const;
    bool Referenced(const BlobKey& blob) const { return m_blobs.count(blob) != 0; }
    uint64_t StoredBytes() const { return m_storedBytes; }
    size_t Size() const { return m_byId.size(); }
    // Records that say what the set holds, for a compacted log.
    std::vector<LogRecord> Snapshot() const;

    uint32_t nextEditionId = 1;
    uint32_t nextUniqueId = 1;
    uint64_t deadRecords = 0;  // records of the log that a compaction would drop
    std::map<std::u16string, uint32_t> orphansSeen;  // content name, first seen

private:
    using Ordered = std::set<std::pair<uint32_t, uint32_t>>;  // (time, edition id)
    static std::u16string WriterOf(const Edition& edition);
    bool Protected(const Edition& edition, const StoreLimits& limits, uint32_t now,
                   uint32_t keepId) const;

    std::map<uint32_t, Edition> m_byId;
    std::unordered_map<std::u16string, Ordered> m_byPath;
    std::map<std::u16string, Ordered> m_byWriter;
    std::map<std::u16string, uint64_t> m_writerBytes;
    Ordered m_byTime;
    std::map<BlobKey, std::pair<uint32_t, uint64_t>> m_blobs;  // references, size
    std::map<std::u16string, PurgeRecord> m_purges;
    uint64_t m_storedBytes = 0;
};

}  // namespace zef
