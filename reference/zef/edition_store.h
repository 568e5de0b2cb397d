// The backup database in one folder: content stored once by SHA-1 (bytes compared on a digest
// match), the edition index, the purge by quota and age, and the folder's lock, so that only
// one store uses a folder at a time. One lock guards the index; copies and hashing run
// outside it. Safe from any thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "reference/zef/edition_index.h"
#include "reference/zef/engine_log.h"
#include "reference/zef/file_copy.h"
#include "reference/zef/file_table.h"

namespace zef {

enum class OpenResult { kOk, kFolderUnusable, kLocked, kIndexUnreadable };
enum class AddResult { kAdded, kUnchanged, kSourceUnreadable, kTooLarge, kStoreFailed };

struct StoreLimits {
    uint64_t quotaBytes = 1024ull << 20;  // DbSize, in MiB
    uint32_t keepDays = 21;               // HistoryKeepDays; 0 keeps editions of any age
};

// What a new edition says about itself besides its content.
struct EditionOrigin {
    std::u16string path;
    std::u16string image;
    uint32_t processId = 0;
    uint32_t operation = kOperationBackup;
    uint32_t uniqueId = 0;  // 0: the store gives a fresh one
    uint32_t time = 0;      // 0: now
};

// One backed-up file as the listings show it.
struct StoredFile {
    std::u16string path;
    uint32_t editionCount = 0;
    uint32_t newestTime = 0;
    uint64_t newestSize = 0;
};

class EditionStore {
public:
    EditionStore(const FileTable& files, EngineLog& log);
    EditionStore(const EditionStore&) = delete;
    EditionStore& operator=(const EditionStore&) = delete;
    ~EditionStore();

    OpenResult Open(const std::u16string& folder, const StoreLimits& limits);
    void Close();
    const std::u16string& Folder() const { return m_folder; }

    // Copies path's content now and keeps it as an edition (unless the newest edition of the
    // path already holds the same bytes).
    AddResult AddFromFile(const EditionOrigin& origin, uint64_t limit, uint32_t* editionId);
    // Keeps a staged copy (made by the caller in StagingFolder) as an edition; the staged file
    // is moved into the store or removed.
    AddResult AddFromStaged(const std::u16string& staged, const EditionOrigin& origin,
                            uint32_t* editionId);
    bool Delete(uint32_t editionId);
    void SetLimits(const StoreLimits& limits, uint32_t now);

    // Searches; bounds are inclusive, null means open; newest first (time, then edition id).
    std::vector<Edition> EditionsOfPath(const std::u16string& path, const uint32_t* from,
                                        const uint32_t* to) const;
    std::vector<Edition> EditionsOfProcess(uint32_t processId, const uint32_t* from,
                                           const uint32_t* to) const;
    std::vector<StoredFile> StoredFiles(const uint32_t* from, const uint32_t* to) const;
    bool Find(uint32_t editionId, Edition& edition) const;
    PurgeRecord PurgesOf(const std::u16string& path) const;
    uint32_t CountOf(const std::u16string& path) const;
    uint64_t StoredBytes() const;
    // The stored content of an edition, a file that must not be changed.
    std::u16string ContentPath(const Edition& edition) const;

    // A fresh name in the folder for copies on their way in.
    std::u16string NewStagingPath(const char16_t* prefix);
    const std::u16string& StagingFolder() const { return m_staging; }
    uint32_t NewUniqueId();

private:
    AddResult KeepStaged(const std::u16string& staged, const CopyOutcome& copy,
                         const EditionOrigin& origin, uint32_t* editionId);
    bool SaveLocked();
    void PurgeLocked(uint32_t now, uint32_t keepEditionId);
    void RemoveUnreferencedLocked(const std::vector<Edition>& gone);
    bool ReferencedLocked(const Digest& digest, uint32_t suffix) const;
    std::u16string BlobPath(const Digest& digest, uint32_t suffix) const;
    void CollectOrphansLocked();

    const FileTable& m_files;
    EngineLog& m_log;
    mutable std::mutex m_lock;
    std::u16string m_folder;
    std::u16string m_content;
    std::u16string m_staging;
    std::u16string m_indexPath;
    FileHandle m_folderLock = kInvalidFile;
    IndexContent m_index;
    std::vector<Edition> m_pendingRemoval;  // purged, removed once the saved index drops them
    StoreLimits m_limits;
    uint64_t m_storedBytes = 0;
    std::atomic<uint32_t> m_stagingCounter{0};
    std::atomic<uint32_t> m_nextUniqueId{1};
};

}  // namespace zef
