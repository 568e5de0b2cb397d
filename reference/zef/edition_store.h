// The backup database in one folder: content stored once by SHA-1 (bytes compared on a digest
// match) as plain files named by their digest, a descriptor of each edition beside it, the
// edition log, staged versions that outlive the process, the purge by age and by writer's
// share of the quota, and the folder's lock, so that one store at a time writes a folder.
// One lock guards the index; copies, hashing and flushes run outside it. A committer thread
// makes what was written durable every kCommitMilliseconds, and then gives each staged copy
// whose bytes the store holds already the stored file's blocks instead of its own. Safe from
// any thread.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "reference/zef/edition_set.h"
#include "reference/zef/engine_log.h"
#include "reference/zef/file_copy.h"
#include "reference/zef/file_table.h"
#include "reference/zef/fresh_files.h"
#include "reference/zef/staged_notes.h"

namespace zef {

// How long a finished edition or staged version may wait before it is on the disk itself: the
// window in which a power loss can take it.
constexpr uint32_t kCommitMilliseconds = 100;
// A content file that no edition names is removed only once it has been seen so this long.
constexpr uint32_t kOrphanGraceSeconds = 24 * 3600;

enum class OpenResult {
    kOk,
    kReadOnly,        // open for listings and restores; additions are refused
    kFolderUnusable,  // the folder is not set or cannot be made
    kLocked,          // another instance holds the folder
    kIndexDamaged,    // the edition log cannot be read, or is damaged before its end
    kIndexMissing,    // content is there but no edition log names it
};
enum class AddResult {
    kAdded, kUnchanged, kSourceUnreadable, kTooLarge, kStoreFailed, kReadOnly, kDiskFull
};

// What a new edition says about itself besides its content.
struct EditionOrigin {
    std::u16string path;
    std::u16string image;
    uint32_t processId = 0;
    uint32_t operation = kOperationBackup;
    uint32_t uniqueId = 0;  // 0: the store gives a fresh one
    uint32_t time = 0;      // 0: now
    // The source file's owner, group and mode as it was copied: a staged copy is the service's
    // own file, so an edition made from one takes these, not the copy's.
    bool ownershipKnown = false;
    platform::FileOwnership ownership;
};

// The folder's files, by name.
struct StoreLayout {
    explicit StoreLayout(const std::u16string& folder);
    std::u16string folder, content, descriptors, staging, notes, log, legacyIndex, lock;
    std::u16string ContentFile(const Digest& digest, uint32_t suffix) const;
    std::u16string DescriptorFile(uint32_t editionId) const;
};

// The SHA-1 and size of a file's content, read through files; false when it cannot be read.
bool DigestOfFile(const FileTable& files, const std::u16string& path, Digest* digest,
                  uint64_t* size);

class EditionStore {
public:
    EditionStore(const FileTable& files, EngineLog& log);
    EditionStore(const EditionStore&) = delete;
    EditionStore& operator=(const EditionStore&) = delete;
    ~EditionStore();

    // Opens the folder; when it can write, staged versions of a killed run become editions.
    // Nothing is purged here: purges come with additions. why (optional) says what is wrong.
    OpenResult Open(const std::u16string& folder, const StoreLimits& limits,
                    std::u16string* why = nullptr);
    // Makes everything durable, then lets the folder go.
    void Close();
    const std::u16string& Folder() const { return m_folder; }
    bool ReadOnly() const { return m_readOnly.load(); }

    // Copies path's content now and keeps it as an edition (unless the newest edition of the
    // path already holds the same bytes).
    AddResult AddFromFile(const EditionOrigin& origin, uint64_t limit, uint32_t* editionId);
    // Notes a staged copy (made by the caller in StagingFolder) so that it outlives this
    // process: the next Open keeps it as an edition if this one does not.
    void NoteStaged(const std::u16string& staged, const EditionOrigin& origin);
    // Keeps a staged copy as an edition; the copy and its note go.
    AddResult AddFromStaged(const std::u16string& staged, const EditionOrigin& origin,
                            uint32_t* editionId);
    // Drops a staged copy and its note.
    void DropStaged(const std::u16string& staged);
    bool Delete(uint32_t editionId);
    // The limits of the next purge (which comes with the next addition).
    void SetLimits(const StoreLimits& limits);
    // Makes everything written so far durable now (the committer does it on its own too).
    void Commit();

    // Searches; bounds are inclusive, null means open; newest first (time, then edition id).
    // Each edition says whether its content is there at its size.
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
    // Present at the edition's size (a cheap look; the digest is checked on reads).
    ContentState LookAt(const Edition& edition) const;

    // A fresh name in the folder for copies on their way in.
    std::u16string NewStagingPath(const char16_t* prefix);
    // On the event path: an empty file made ahead of time in that folder, held open for
    // writing (the caller closes it, and keeps or removes it); false when none is held, and
    // then the caller makes its own.
    bool TakeFreshFile(FreshFiles::Taken* taken);
    // How many such files the committer keeps ready (0, the default: none); the engine asks
    // for them, a store opened for a command needs none.
    void HoldFreshFiles(size_t count) { m_freshTarget.store(count); }
    const std::u16string& StagingFolder() const { return m_staging; }
    // Whether a copy into the folder should try a block clone: not once its file system
    // refused one as unsupported (told by CloneUnsupported), until the store opens again.
    bool MayClone() const { return !m_cloneUnsupported.load(); }
    void CloneUnsupported();
    uint32_t NewUniqueId();

private:
    AddResult KeepStaged(const std::u16string& staged, const CopyOutcome& copy,
                         const EditionOrigin& origin, uint32_t* editionId);
    OpenResult OpenLocked(const std::u16string& folder, std::u16string& why);
    OpenResult ReadIndexLocked(std::u16string& why, bool* whole, bool* compact);
    bool AppendLocked(const LogRecord& record);
    bool CompactLocked();
    void FlushPendingLocked();
    void RemoveLocked(const std::vector<Edition>& gone, uint32_t reason);
    void AgeOrphansLocked(uint32_t now);
    void ReclaimLocked();
    void AdoptStaged();
    void RestageMovedCopy(const std::u16string& staged, const Edition& noted);
    std::u16string StagedName(const std::u16string& staged) const;
    void CommitLoop();
    void ShareStagedContent();
    void Refuse(const std::u16string& what);

    const FileTable& m_files;
    EngineLog& m_log;
    mutable std::mutex m_lock;
    std::u16string m_folder;
    std::u16string m_staging;
    StoreLayout m_layout{u""};
    FileHandle m_folderLock = kInvalidFile;
    FileHandle m_logFile = kInvalidFile;
    bool m_open = false;
    std::atomic<bool> m_readOnly{false};
    EditionSet m_set;
    StoreLimits m_limits;
    std::vector<std::u16string> m_unflushed;  // written, not yet flushed
    StagedNotes m_notes;
    std::mutex m_stagedLock;                   // guards m_stagedUnflushed alone
    std::vector<std::u16string> m_stagedUnflushed;  // staged copies noted, not yet flushed
    std::vector<std::u16string> m_stagedToShare;    // staged copies not yet compared with content
    std::vector<Edition> m_removals;          // removed in the log; content goes once durable
    bool m_logDirty = false;
    std::mutex m_commitLock;                  // one commit at a time
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_committer;
    std::atomic<uint32_t> m_stagingCounter{0};
    FreshFiles m_fresh;  // refilled by the committer up to m_freshTarget
    std::atomic<size_t> m_freshTarget{0};
    std::atomic<bool> m_cloneUnsupported{false};
    std::atomic<bool> m_closing{false};  // a close waits for no more sharing
    std::atomic<uint32_t> m_nextUniqueId{1};
};

}  // namespace zef
