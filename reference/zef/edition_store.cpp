// The edition store. Order of writes: content is flushed before the index names it, the index
// is replaced whole, and content that the index no longer names is removed after the index
// is saved, so that a crash at any point leaves an index whose every edition is readable.
#include "reference/zef/edition_store.h"

#include <algorithm>
#include <ctime>
#include <set>
#include <utility>

#include "platform/storage_file.h"
#include "reference/zef/engine_text.h"

namespace zef {
namespace {

uint32_t Now() { return static_cast<uint32_t>(std::time(nullptr)); }

bool Within(uint32_t time, const uint32_t* from, const uint32_t* to) {
    return (from == nullptr || time >= *from) && (to == nullptr || time <= *to);
}

bool NewestFirst(const Edition& a, const Edition& b) {
    return a.time != b.time ? a.time > b.time : a.editionId > b.editionId;
}

}  // namespace

EditionStore::EditionStore(const FileTable& files, EngineLog& log) : m_files(files), m_log(log) {}

EditionStore::~EditionStore() { Close(); }

OpenResult EditionStore::Open(const std::u16string& folder, const StoreLimits& limits) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_folderLock != kInvalidFile) {
        m_log.Write(LogLevel::kError, Concat(u"The store is open on ", m_folder, u" already."));
        return OpenResult::kLocked;
    }
    if (folder.empty()) {
        m_log.Write(LogLevel::kError, u"The database folder is not set; the store is not opened.");
        return OpenResult::kFolderUnusable;
    }
    m_folder = folder;
    m_content = JoinPath(folder, u"content");
    m_staging = JoinPath(folder, u"staging");
    m_indexPath = JoinPath(folder, u"index.zef");
    for (const std::u16string& needed : {m_folder, m_content, m_staging}) {
        const uint32_t made = m_files.createFolderTree(needed.c_str());
        if (made != platform::kFolderCreated && made != platform::kFolderExists) {
            m_log.Write(LogLevel::kError, Concat(u"The database folder ", needed,
                                                 u" cannot be created (error ", made, u")."));
            return OpenResult::kFolderUnusable;
        }
    }
    m_folderLock = platform::LockExclusively(JoinPath(folder, u"zef.lock").c_str());
    if (m_folderLock == kInvalidFile) {
        m_log.Write(LogLevel::kError, Concat(u"The database folder ", folder,
                                             u" is in use by another engine, or cannot be "
                                             u"written; the store is not opened."));
        return OpenResult::kLocked;
    }
    // What a killed instance may have left: an index never renamed, copies on their way in.
    m_files.remove((m_indexPath + u".new").c_str());
    RemoveFilesIn(m_files, m_staging);
    std::vector<uint8_t> bytes;
    m_index = IndexContent();
    std::vector<std::u16string> names;
    m_files.listFiles(m_folder.c_str(), names);
    const bool exists = std::find(names.begin(), names.end(), u"index.zef") != names.end();
    if (exists) {
        std::u16string reason = u"it cannot be read";
        if (!ReadWholeFile(m_files, m_indexPath, UINT32_MAX, bytes) ||
            !ParseIndex(bytes, m_index, reason)) {
            const std::u16string aside =
                Concat(m_indexPath, u".unreadable-", static_cast<uint32_t>(Now()));
            const bool kept = m_files.replace(m_indexPath.c_str(), aside.c_str());
            m_log.Write(LogLevel::kError,
                        Concat(u"The edition index ", m_indexPath, u" is refused: ", reason,
                               kept ? u". It is kept for inspection as " : u". It stays where it is",
                               kept ? aside : std::u16string(), u"; the store is not opened."));
            m_index = IndexContent();
            platform::ReleaseLock(m_folderLock);
            m_folderLock = kInvalidFile;
            return OpenResult::kIndexUnreadable;
        }
    }
    m_limits = limits;
    m_nextUniqueId.store(m_index.nextUniqueId);
    CollectOrphansLocked();
    const size_t count = m_index.editions.size();
    PurgeLocked(Now(), 0);
    if (m_index.editions.size() != count && !SaveLocked()) {
        m_log.Write(LogLevel::kWarning, u"The purge at opening cannot be saved; it is undone.");
        m_pendingRemoval.clear();
        ReadWholeFile(m_files, m_indexPath, UINT32_MAX, bytes);
        std::u16string ignored;
        ParseIndex(bytes, m_index, ignored);
    }
    m_log.Write(LogLevel::kInfo, Concat(u"The store in ", folder, u" is open with ",
                                        static_cast<uint32_t>(m_index.editions.size()),
                                        u" editions (", m_storedBytes, u" bytes)."));
    return OpenResult::kOk;
}

void EditionStore::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_folderLock == kInvalidFile) return;
    RemoveFilesIn(m_files, m_staging);
    platform::ReleaseLock(m_folderLock);
    m_folderLock = kInvalidFile;
    m_index = IndexContent();
    m_storedBytes = 0;
}

std::u16string EditionStore::NewStagingPath(const char16_t* prefix) {
    return JoinPath(m_staging, Concat(prefix, ++m_stagingCounter, u".tmp"));
}

// Taken on the event path, so without the lock that an index write holds.
uint32_t EditionStore::NewUniqueId() { return m_nextUniqueId.fetch_add(1); }

AddResult EditionStore::AddFromFile(const EditionOrigin& origin, uint64_t limit,
                                    uint32_t* editionId) {
    const std::u16string staged = NewStagingPath(u"b");
    CopyRequest request;
    request.hash = true;
    request.durable = true;
    request.limit = limit;
    const CopyOutcome copy = CopyFileContent(m_files, origin.path, staged, request);
    if (copy.status != CopyStatus::kOk) {
        m_log.Write(LogLevel::kWarning, Concat(u"No edition of ", origin.path, u": ",
                                               CopyStatusName(copy.status), u"."));
        if (copy.status == CopyStatus::kTooLarge) return AddResult::kTooLarge;
        return copy.status == CopyStatus::kSourceUnreadable ? AddResult::kSourceUnreadable
                                                            : AddResult::kStoreFailed;
    }
    return KeepStaged(staged, copy, origin, editionId);
}

AddResult EditionStore::AddFromStaged(const std::u16string& staged, const EditionOrigin& origin,
                                      uint32_t* editionId) {
    CopyOutcome copy;
    {
        ScopedFile file(m_files, m_files.openForReading(staged.c_str()));
        if (!file.IsOpen()) {
            m_log.Write(LogLevel::kError, Concat(u"The staged version of ", origin.path,
                                                 u" is gone; no edition."));
            return AddResult::kSourceUnreadable;
        }
        std::vector<uint8_t> buffer(1u << 20);
        DigestBuilder digest;
        for (;;) {
            uint32_t got = 0;
            if (!m_files.read(file.Get(), buffer.data(), static_cast<uint32_t>(buffer.size()), &got)) {
                m_files.remove(staged.c_str());
                return AddResult::kSourceUnreadable;
            }
            if (got == 0) break;
            digest.Add(buffer.data(), got);
            copy.size += got;
        }
        copy.digest = digest.Finish();
    }
    // The staged copy was written without a flush; it must be on the disk before the index
    // names it.
    if (!m_files.flushPath(staged.c_str())) {
        m_files.remove(staged.c_str());
        m_log.Write(LogLevel::kError, Concat(u"The staged version of ", origin.path,
                                             u" cannot be flushed; no edition."));
        return AddResult::kStoreFailed;
    }
    copy.status = CopyStatus::kOk;
    return KeepStaged(staged, copy, origin, editionId);
}

AddResult EditionStore::KeepStaged(const std::u16string& staged, const CopyOutcome& copy,
                                   const EditionOrigin& origin, uint32_t* editionId) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_folderLock == kInvalidFile) {
        m_files.remove(staged.c_str());
        return AddResult::kStoreFailed;
    }
    // Unchanged content: the newest edition of the path already holds these bytes.
    const Edition* newest = nullptr;
    for (const Edition& edition : m_index.editions)
        if (edition.path == origin.path && (newest == nullptr || NewestFirst(edition, *newest)))
            newest = &edition;
    if (newest != nullptr && newest->digest == copy.digest && newest->size == copy.size &&
        SameContent(m_files, staged, BlobPath(newest->digest, newest->blobSuffix))) {
        m_files.remove(staged.c_str());
        if (editionId != nullptr) *editionId = newest->editionId;
        return AddResult::kUnchanged;
    }
    // Content stored once: on a digest match the bytes decide; a crafted collision gets a
    // blob of its own under the next suffix.
    uint32_t suffix = 0;
    bool shared = false;
    for (;; ++suffix) {
        const std::u16string blob = BlobPath(copy.digest, suffix);
        ScopedFile existing(m_files, m_files.openForReading(blob.c_str()));
        if (!existing.IsOpen()) break;
        existing.Close();
        if (SameContent(m_files, staged, blob)) {
            shared = true;
            break;
        }
        m_log.Write(LogLevel::kWarning, Concat(u"Two contents share the digest ",
                                               DigestText(copy.digest), u"; stored apart."));
    }
    const std::u16string blob = BlobPath(copy.digest, suffix);
    if (shared) {
        m_files.remove(staged.c_str());
    } else {
        if (!m_files.replace(staged.c_str(), blob.c_str())) {
            m_files.remove(staged.c_str());
            m_log.Write(LogLevel::kError, Concat(u"No edition of ", origin.path,
                                                 u": its content cannot be stored in ",
                                                 m_content, u"."));
            return AddResult::kStoreFailed;
        }
    }
    Edition edition;
    edition.editionId = m_index.nextEditionId;
    edition.uniqueId = origin.uniqueId != 0 ? origin.uniqueId : NewUniqueId();
    edition.time = origin.time != 0 ? origin.time : Now();
    edition.processId = origin.processId;
    edition.operation = origin.operation;
    edition.blobSuffix = suffix;
    edition.size = copy.size;
    edition.digest = copy.digest;
    edition.path = origin.path;
    edition.image = origin.image;
    const IndexContent before = m_index;
    ++m_index.nextEditionId;
    m_index.editions.push_back(edition);
    PurgeLocked(Now(), edition.editionId);
    if (!SaveLocked()) {
        m_index = before;
        m_pendingRemoval.clear();
        if (!ReferencedLocked(edition.digest, suffix)) m_files.remove(blob.c_str());
        m_log.Write(LogLevel::kError, Concat(u"No edition of ", edition.path,
                                             u": the index cannot be saved."));
        return AddResult::kStoreFailed;
    }
    if (editionId != nullptr) *editionId = edition.editionId;
    m_log.Write(LogLevel::kTrace, Concat(u"Edition ", edition.editionId, u" of ", edition.path,
                                         u": ", edition.size, u" bytes, ",
                                         DigestText(edition.digest),
                                         shared ? u" (content shared)" : u""));
    return AddResult::kAdded;
}

bool EditionStore::Delete(uint32_t editionId) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = std::find_if(m_index.editions.begin(), m_index.editions.end(),
                                    [&](const Edition& e) { return e.editionId == editionId; });
    if (found == m_index.editions.end()) {
        m_log.Write(LogLevel::kWarning, Concat(u"Edition ", editionId, u" is not stored; nothing deleted."));
        return false;
    }
    const Edition gone = *found;
    const IndexContent before = m_index;
    m_index.editions.erase(found);
    if (!SaveLocked()) {
        m_index = before;
        m_log.Write(LogLevel::kError, Concat(u"Edition ", editionId,
                                             u" is kept: the index cannot be saved."));
        return false;
    }
    RemoveUnreferencedLocked({gone});
    m_log.Write(LogLevel::kInfo, Concat(u"Edition ", editionId, u" of ", gone.path, u" deleted."));
    return true;
}

void EditionStore::SetLimits(const StoreLimits& limits, uint32_t now) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_limits = limits;
    if (m_folderLock == kInvalidFile) return;
    const size_t count = m_index.editions.size();
    const IndexContent before = m_index;
    PurgeLocked(now, 0);
    if (m_index.editions.size() != count && !SaveLocked()) {
        m_index = before;
        m_pendingRemoval.clear();
    }
}

// Takes editions away, oldest first: those older than the age limit, then while the stored
// content is above the quota. The edition just made is never taken. Changes the index only in
// memory; the caller saves it, and content is removed once the saved index no longer names it.
void EditionStore::PurgeLocked(uint32_t now, uint32_t keepEditionId) {
    std::vector<Edition> ordered = m_index.editions;
    std::sort(ordered.begin(), ordered.end(),
              [](const Edition& a, const Edition& b) { return NewestFirst(b, a); });
    std::vector<Edition> gone;
    std::set<uint32_t> goneIds;
    const uint64_t keepSeconds = static_cast<uint64_t>(m_limits.keepDays) * 86400u;
    std::set<std::pair<Digest, uint32_t>> blobs;
    std::vector<std::pair<std::pair<Digest, uint32_t>, uint64_t>> sizes;
    uint64_t stored = 0;
    for (const Edition& e : ordered)
        if (blobs.insert({e.digest, e.blobSuffix}).second) stored += e.size;
    for (const Edition& e : ordered) {
        if (e.editionId == keepEditionId) continue;
        const bool tooOld = m_limits.keepDays != 0 && now > e.time && now - e.time > keepSeconds;
        if (!tooOld && stored <= m_limits.quotaBytes) break;
        gone.push_back(e);
        goneIds.insert(e.editionId);
        const bool lastUse = std::none_of(ordered.begin(), ordered.end(), [&](const Edition& o) {
            return goneIds.count(o.editionId) == 0 && o.digest == e.digest &&
                   o.blobSuffix == e.blobSuffix;
        });
        if (lastUse) stored -= e.size;
    }
    m_storedBytes = stored;
    if (gone.empty()) return;
    m_index.editions.erase(std::remove_if(m_index.editions.begin(), m_index.editions.end(),
                                          [&](const Edition& e) { return goneIds.count(e.editionId) != 0; }),
                           m_index.editions.end());
    for (const Edition& e : gone) {
        auto record = std::find_if(m_index.purges.begin(), m_index.purges.end(),
                                   [&](const PurgeRecord& p) { return p.path == e.path; });
        if (record == m_index.purges.end()) {
            PurgeRecord fresh;
            fresh.path = e.path;
            fresh.firstCreateTime = e.time;
            fresh.firstPurgeTime = now;
            m_index.purges.push_back(fresh);
            record = m_index.purges.end() - 1;
        }
        ++record->count;
        record->firstCreateTime = std::min(record->firstCreateTime, e.time);
        record->lastCreateTime = std::max(record->lastCreateTime, e.time);
        record->lastPurgeTime = now;
    }
    m_log.Write(LogLevel::kInfo, Concat(u"Purged ", static_cast<uint32_t>(gone.size()),
                                        u" editions, oldest first (quota ", m_limits.quotaBytes,
                                        u" bytes, ", m_limits.keepDays, u" days)."));
    m_pendingRemoval.insert(m_pendingRemoval.end(), gone.begin(), gone.end());
}

bool EditionStore::SaveLocked() {
    m_index.nextUniqueId = m_nextUniqueId.load();
    if (!WriteFileAtomically(m_files, m_indexPath, SerializeIndex(m_index))) return false;
    std::vector<Edition> gone;
    gone.swap(m_pendingRemoval);
    RemoveUnreferencedLocked(gone);
    return true;
}

void EditionStore::RemoveUnreferencedLocked(const std::vector<Edition>& gone) {
    for (const Edition& e : gone)
        if (!ReferencedLocked(e.digest, e.blobSuffix))
            m_files.remove(BlobPath(e.digest, e.blobSuffix).c_str());
    std::set<std::pair<Digest, uint32_t>> blobs;
    uint64_t stored = 0;
    for (const Edition& e : m_index.editions)
        if (blobs.insert({e.digest, e.blobSuffix}).second) stored += e.size;
    m_storedBytes = stored;
}

bool EditionStore::ReferencedLocked(const Digest& digest, uint32_t suffix) const {
    return std::any_of(m_index.editions.begin(), m_index.editions.end(), [&](const Edition& e) {
        return e.digest == digest && e.blobSuffix == suffix;
    });
}

std::u16string EditionStore::BlobPath(const Digest& digest, uint32_t suffix) const {
    return JoinPath(m_content, Concat(DigestText(digest), u"-", suffix));
}

std::u16string EditionStore::ContentPath(const Edition& edition) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return BlobPath(edition.digest, edition.blobSuffix);
}

// Content that no edition names is what a crash between storing it and saving the index left.
void EditionStore::CollectOrphansLocked() {
    std::set<std::u16string> named;
    for (const Edition& e : m_index.editions) named.insert(Concat(DigestText(e.digest), u"-", e.blobSuffix));
    std::vector<std::u16string> names;
    m_files.listFiles(m_content.c_str(), names);
    for (const std::u16string& name : names)
        if (named.count(name) == 0) m_files.remove(JoinPath(m_content, name).c_str());
    RemoveUnreferencedLocked({});
}

std::vector<Edition> EditionStore::EditionsOfPath(const std::u16string& path,
                                                  const uint32_t* from, const uint32_t* to) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<Edition> found;
    for (const Edition& e : m_index.editions)
        if (e.path == path && Within(e.time, from, to)) found.push_back(e);
    std::sort(found.begin(), found.end(), NewestFirst);
    return found;
}

std::vector<Edition> EditionStore::EditionsOfProcess(uint32_t processId, const uint32_t* from,
                                                     const uint32_t* to) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<Edition> found;
    for (const Edition& e : m_index.editions)
        if (e.processId == processId && Within(e.time, from, to)) found.push_back(e);
    std::sort(found.begin(), found.end(), NewestFirst);
    return found;
}

std::vector<StoredFile> EditionStore::StoredFiles(const uint32_t* from, const uint32_t* to) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<StoredFile> files;
    for (const Edition& e : m_index.editions) {
        if (!Within(e.time, from, to)) continue;
        auto file = std::find_if(files.begin(), files.end(),
                                 [&](const StoredFile& f) { return f.path == e.path; });
        if (file == files.end()) {
            files.push_back(StoredFile{e.path, 0, 0, 0});
            file = files.end() - 1;
        }
        ++file->editionCount;
        if (e.time >= file->newestTime) {
            file->newestTime = e.time;
            file->newestSize = e.size;
        }
    }
    std::sort(files.begin(), files.end(), [](const StoredFile& a, const StoredFile& b) {
        return a.newestTime != b.newestTime ? a.newestTime > b.newestTime : a.path < b.path;
    });
    return files;
}

bool EditionStore::Find(uint32_t editionId, Edition& edition) const {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const Edition& e : m_index.editions)
        if (e.editionId == editionId) {
            edition = e;
            return true;
        }
    return false;
}

PurgeRecord EditionStore::PurgesOf(const std::u16string& path) const {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const PurgeRecord& p : m_index.purges)
        if (p.path == path) return p;
    return PurgeRecord{};
}

uint32_t EditionStore::CountOf(const std::u16string& path) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<uint32_t>(std::count_if(m_index.editions.begin(), m_index.editions.end(),
                                               [&](const Edition& e) { return e.path == path; }));
}

uint64_t EditionStore::StoredBytes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_storedBytes;
}

}  // namespace zef
