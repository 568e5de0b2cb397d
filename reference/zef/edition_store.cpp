// The edition store. Order of writes: a content file and the edition's descriptor are written,
// then the edition's record is appended to the log; the committer makes them durable in groups:
// where the system flushes a whole file system in one call (syncfs) it does that, else each file
// and then the log, so that a durable record names durable content. (A power loss during the
// one call may keep a record whose content did not reach the disk: its digest check shows it
// as damaged or missing, never as another content.) A removal's content
// and descriptor go only after its record is durable. Content that no record names is removed
// only when the log was read whole, and only once it has been an orphan for a grace period.
#include "reference/zef/edition_store.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <set>
#include <utility>

#include "platform/storage_file.h"
#include "reference/zef/edition_log.h"
#include "reference/zef/engine_text.h"

namespace zef {
namespace {

uint32_t Now() { return static_cast<uint32_t>(std::time(nullptr)); }

constexpr char kStagedMagic[8] = {'Z', 'E', 'F', 'S', 'T', 'G', '0', '1'};
constexpr char16_t kNoteSuffix[] = u".version";
constexpr char16_t kDescriptorSuffix[] = u".edition";

bool EndsWith(const std::u16string& text, const std::u16string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Why a file of the database could not be written, for a message.
const char16_t* WriteFailureText(platform::FileFailure failure) {
    switch (failure) {
        case platform::FileFailure::kDiskFull: return u"the disk that holds the database is full; free some space";
        case platform::FileFailure::kDenied: return u"the database may not be written (permission, or a read-only disk)";
        default: return u"the database cannot be written";
    }
}

const char16_t* ReadFailureText(platform::FileFailure failure) {
    switch (failure) {
        case platform::FileFailure::kMissing: return u"it does not exist";
        case platform::FileFailure::kDenied: return u"permission to read it is denied";
        default: return u"it cannot be read";
    }
}

bool WriteNew(const FileTable& files, const std::u16string& path, const std::vector<uint8_t>& bytes) {
    ScopedFile file(files, files.createForWriting(path.c_str()));
    return file.IsOpen() && files.write(file.Get(), bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// The note beside a staged version: what its edition will say, but the content's digest.
LogRecord StagedNote(const EditionOrigin& origin) {
    LogRecord note;
    note.edition.path = origin.path;
    note.edition.image = origin.image;
    note.edition.processId = origin.processId;
    note.edition.operation = kOperationBeforeWrite;
    note.edition.uniqueId = origin.uniqueId;
    note.edition.time = origin.time;
    note.edition.ownershipKnown = origin.ownershipKnown;
    note.edition.owner = origin.ownership.owner;
    note.edition.group = origin.ownership.group;
    note.edition.mode = origin.ownership.mode;
    return note;
}

// The origin a staged note gives back (the inverse of StagedNote).
EditionOrigin StagedOrigin(const Edition& noted) {
    EditionOrigin origin;
    origin.path = noted.path;
    origin.image = noted.image;
    origin.processId = noted.processId;
    origin.operation = kOperationBeforeWrite;
    origin.uniqueId = noted.uniqueId;
    origin.time = noted.time;
    origin.ownershipKnown = noted.ownershipKnown;
    origin.ownership = {noted.owner, noted.group, noted.mode};
    return origin;
}

}  // namespace

bool DigestOfFile(const FileTable& files, const std::u16string& path, Digest* digest,
                  uint64_t* size) {
    ScopedFile file(files, files.openForReading(path.c_str()));
    if (!file.IsOpen()) return false;
    constexpr uint32_t kChunk = 256u << 10;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
    DigestBuilder builder;
    *size = 0;
    for (;;) {
        uint32_t got = 0;
        if (!files.read(file.Get(), buffer.get(), kChunk, &got)) return false;
        if (got == 0) break;
        builder.Add(buffer.get(), got);
        *size += got;
    }
    *digest = builder.Finish();
    return true;
}

StoreLayout::StoreLayout(const std::u16string& root)
    : folder(root),
      content(JoinPath(root, u"content")),
      descriptors(JoinPath(root, u"editions")),
      staging(JoinPath(root, u"staging")),
      notes(JoinPath(root, u"staged.log")),
      log(JoinPath(root, u"editions.log")),
      legacyIndex(JoinPath(root, u"index.zef")),
      lock(JoinPath(root, u"zef.lock")) {}

std::u16string StoreLayout::ContentFile(const Digest& digest, uint32_t suffix) const {
    return JoinPath(content, Concat(DigestText(digest), u"-", suffix));
}

std::u16string StoreLayout::DescriptorFile(uint32_t editionId) const {
    return JoinPath(descriptors, Concat(editionId, kDescriptorSuffix));
}

EditionStore::EditionStore(const FileTable& files, EngineLog& log)
    : m_files(files), m_log(log), m_notes(files), m_fresh(files) {}

EditionStore::~EditionStore() { Close(); }

void EditionStore::Refuse(const std::u16string& what) {
    m_log.Write(LogLevel::kError, Concat(what, u" (database ", m_folder, u")."));
}

OpenResult EditionStore::Open(const std::u16string& folder, const StoreLimits& limits,
                              std::u16string* why) {
    std::u16string reason;
    OpenResult result;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_open) {
            m_log.Write(LogLevel::kError, Concat(u"The store is open on ", m_folder, u" already."));
            if (why != nullptr) *why = Concat(u"the store is open on ", m_folder, u" already");
            return OpenResult::kLocked;
        }
        m_limits = limits;
        result = OpenLocked(folder, reason);
        if (result != OpenResult::kOk && result != OpenResult::kReadOnly) {
            m_log.Write(LogLevel::kError, Concat(u"The store in ", folder, u" is not opened: ",
                                                 reason, u"."));
            if (m_folderLock != kInvalidFile) platform::ReleaseLock(m_folderLock);
            m_folderLock = kInvalidFile;
            m_set = EditionSet();
        }
    }
    if (why != nullptr) *why = reason;
    if (result != OpenResult::kOk && result != OpenResult::kReadOnly) return result;
    if (result == OpenResult::kOk) {
        m_closing = false;
        AdoptStaged();
        m_stopping = false;
        m_committer = std::thread([this] { CommitLoop(); });
    } else {
        m_log.Write(LogLevel::kWarning, Concat(u"The store in ", folder, u" is open read-only (",
                                               reason, u"): listings and restores work, new "
                                               u"editions are refused."));
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_log.Write(LogLevel::kInfo, Concat(u"The store in ", folder, u" is open with ",
                                        static_cast<uint32_t>(m_set.Size()), u" editions (",
                                        m_set.StoredBytes(), u" bytes)."));
    return result;
}

OpenResult EditionStore::OpenLocked(const std::u16string& folder, std::u16string& why) {
    if (folder.empty()) {
        why = u"the database folder is not set";
        return OpenResult::kFolderUnusable;
    }
    m_folder = folder;
    m_layout = StoreLayout(folder);
    m_cloneUnsupported = false;
    m_staging = m_layout.staging;
    m_set = EditionSet();
    m_readOnly = false;
    for (const std::u16string& needed :
         {m_layout.folder, m_layout.content, m_layout.descriptors, m_layout.staging}) {
        const uint32_t made = m_files.createFolderTree(needed.c_str());
        if (made == platform::kFolderCreated || made == platform::kFolderExists) continue;
        if (!platform::IsFolder(m_layout.folder.c_str()) || !platform::IsFolder(needed.c_str())) {
            why = Concat(u"the folder ", needed, u" cannot be created (error ", made,
                         u"); check that the path names a folder that can be written");
            return OpenResult::kFolderUnusable;
        }
        m_readOnly = true;
    }
    // The database holds users' data: no one but its owner may read or enter it.
    for (const std::u16string& part : {m_layout.folder, m_layout.content, m_layout.descriptors,
                                       m_layout.staging}) {
        bool changed = false;
        if (platform::MakeFolderPrivate(part.c_str(), &changed) && changed)
            m_log.Write(LogLevel::kWarning, Concat(u"The database folder ", part,
                                                   u" was open to other users; it is private now."));
    }
    bool held = false;
    m_folderLock = platform::LockExclusively(m_layout.lock.c_str(), &held);
    if (held) {
        why = u"another instance is using the database; stop it first";
        return OpenResult::kLocked;
    }
    if (m_folderLock == kInvalidFile) {
        // Held by another instance, or the folder cannot be written: a probe tells which.
        const std::u16string probe = Concat(m_layout.lock, u".probe");
        ScopedFile file(m_files, m_files.createForWriting(probe.c_str()));
        if (file.IsOpen()) {
            file.Close();
            m_files.remove(probe.c_str());
            why = u"another instance is using the database; stop it first";
            return OpenResult::kLocked;
        }
        m_readOnly = true;
    }
    bool whole = false;
    bool compact = false;
    const OpenResult read = ReadIndexLocked(why, &whole, &compact);
    if (read != OpenResult::kOk) return read;
    m_nextUniqueId.store(m_set.nextUniqueId);
    if (!m_readOnly) {
        if (compact && !CompactLocked()) m_readOnly = true;
        if (!m_readOnly) {
            m_logFile = m_files.openForAppending(m_layout.log.c_str());
            if (m_logFile == kInvalidFile) m_readOnly = true;
        }
    }
    m_open = true;
    if (!m_readOnly) ReclaimLocked();
    if (m_readOnly) {
        if (why.empty()) why = u"the database cannot be written";
        return OpenResult::kReadOnly;
    }
    if (whole) AgeOrphansLocked(Now());
    return OpenResult::kOk;
}

OpenResult EditionStore::ReadIndexLocked(std::u16string& why, bool* whole, bool* compact) {
    std::vector<std::u16string> names;
    m_files.listFiles(m_layout.folder.c_str(), names);
    const bool logThere = std::find(names.begin(), names.end(), u"editions.log") != names.end();
    if (!logThere && platform::IsFolder(m_layout.log.c_str())) {
        why = Concat(u"a folder stands where the edition log ", m_layout.log,
                     u" should be; move it away and run repair");
        return OpenResult::kIndexDamaged;
    }
    if (logThere) {
        std::vector<uint8_t> bytes;
        if (!ReadWholeFile(m_files, m_layout.log, kMaxLogBytes, bytes)) {
            why = Concat(u"the edition log ", m_layout.log, u" cannot be read, or is larger than ",
                         kMaxLogBytes >> 20, u" MiB; run repair");
            return OpenResult::kIndexDamaged;
        }
        const LogScan scan = ScanLog(bytes.data(), bytes.size(),
                                     [&](const LogRecord& record) { return m_set.Apply(record); });
        if (scan.state == LogState::kDamaged) {
            why = Concat(u"the edition log ", m_layout.log, u" is damaged: ", scan.reason,
                         u"; run repair, which rebuilds it from the descriptors");
            return OpenResult::kIndexDamaged;
        }
        if (scan.state == LogState::kTornTail) {
            m_log.Write(LogLevel::kWarning, Concat(u"The edition log ", m_layout.log, u": ",
                                                   scan.reason, u"; it is cut there."));
            *compact = true;
        }
        *whole = scan.state == LogState::kWhole;
        *compact = *compact || m_set.deadRecords > std::max<uint64_t>(4096, m_set.Size());
        return OpenResult::kOk;
    }
    // No log: a database of an earlier version is converted, a new one begins; content that
    // no log names is never taken for garbage.
    if (std::find(names.begin(), names.end(), u"index.zef") != names.end()) {
        std::vector<uint8_t> bytes;
        IndexContent index;
        std::u16string reason = u"it cannot be read or is too large";
        if (!ReadWholeFile(m_files, m_layout.legacyIndex, kMaxLogBytes, bytes) ||
            !ParseIndex(bytes, index, reason)) {
            why = Concat(u"the index ", m_layout.legacyIndex, u" of an earlier version is refused: ",
                         reason, u"; run repair");
            return OpenResult::kIndexDamaged;
        }
        for (const Edition& e : index.editions) m_set.Add(e);
        for (const PurgeRecord& p : index.purges) {
            LogRecord purge;
            purge.type = LogRecordType::kPurgeSummary;
            purge.purge = p;
            m_set.Apply(purge);
        }
        m_set.nextEditionId = std::max(m_set.nextEditionId, index.nextEditionId);
        m_set.nextUniqueId = std::max(m_set.nextUniqueId, index.nextUniqueId);
        if (m_readOnly) return OpenResult::kOk;
        for (const Edition& e : index.editions) {
            LogRecord record;
            record.edition = e;
            WriteNew(m_files, m_layout.DescriptorFile(e.editionId), FramedFile(kDescriptorMagic, record));
            m_unflushed.push_back(m_layout.DescriptorFile(e.editionId));
        }
        if (!CompactLocked()) {
            why = u"the index of an earlier version cannot be converted to an edition log";
            return OpenResult::kFolderUnusable;
        }
        m_files.rename(m_layout.legacyIndex.c_str(), (m_layout.legacyIndex + u".converted").c_str());
        m_log.Write(LogLevel::kInfo, Concat(u"The index of an earlier version was converted: ",
                                            static_cast<uint32_t>(index.editions.size()),
                                            u" editions."));
        return OpenResult::kOk;
    }
    std::vector<std::u16string> content;
    std::vector<std::u16string> descriptors;
    m_files.listFiles(m_layout.content.c_str(), content);
    m_files.listFiles(m_layout.descriptors.c_str(), descriptors);
    if (!content.empty() || !descriptors.empty()) {
        why = Concat(u"the edition log ", m_layout.log, u" is missing but ",
                     static_cast<uint32_t>(content.size()), u" content files are kept; run "
                     u"repair, which rebuilds the log from the descriptors");
        return OpenResult::kIndexMissing;
    }
    *whole = true;
    if (!m_readOnly && !CompactLocked()) m_readOnly = true;  // a new, empty log
    return OpenResult::kOk;
}

// Writes the set as a fresh log beside the old one and renames it over: the old log stays
// whole until the new one is.
bool EditionStore::CompactLocked() {
    FlushPendingLocked();
    std::vector<uint8_t> bytes(kLogMagic, kLogMagic + sizeof kLogMagic);
    for (const LogRecord& record : m_set.Snapshot()) {
        const std::vector<uint8_t> frame = EncodeRecord(record);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    const bool reopen = m_logFile != kInvalidFile;
    if (reopen) {
        m_files.close(m_logFile);
        m_logFile = kInvalidFile;
    }
    const bool written = WriteFileAtomically(m_files, m_layout.log, bytes);
    if (reopen) m_logFile = m_files.openForAppending(m_layout.log.c_str());
    if (!written) {
        m_log.Write(LogLevel::kError, Concat(u"The edition log ", m_layout.log,
                                             u" cannot be compacted (a full disk?); it is kept as it is."));
        return false;
    }
    m_set.deadRecords = 0;
    m_logDirty = false;
    return true;
}

bool EditionStore::AppendLocked(const LogRecord& record) {
    const std::vector<uint8_t> frame = EncodeRecord(record);
    if (m_logFile == kInvalidFile ||
        !m_files.write(m_logFile, frame.data(), static_cast<uint32_t>(frame.size())))
        return false;
    m_logDirty = true;
    return true;
}

void EditionStore::FlushPendingLocked() {
    std::vector<std::u16string> paths;
    paths.swap(m_unflushed);
    for (const std::u16string& path : paths) m_files.flushPath(path.c_str());
    if (!paths.empty()) {
        m_files.flushPath(m_layout.content.c_str());
        m_files.flushPath(m_layout.descriptors.c_str());
        m_files.flushPath(m_layout.staging.c_str());
    }
}

void EditionStore::Commit() {
    std::lock_guard<std::mutex> one(m_commitLock);
    std::vector<std::u16string> paths;
    std::vector<Edition> removals;
    bool logDirty = false;
    FileHandle logFile = kInvalidFile;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_open || m_readOnly) return;
        paths.swap(m_unflushed);
        removals.swap(m_removals);
        logDirty = m_logDirty;
        m_logDirty = false;
        logFile = m_logFile;
    }
    {
        std::lock_guard<std::mutex> staged(m_stagedLock);
        paths.insert(paths.end(), m_stagedUnflushed.begin(), m_stagedUnflushed.end());
        m_stagedUnflushed.clear();
    }
    // The journal of staged notes after the copies it names (already durable when the whole
    // file system was flushed; then this flush finds nothing to write).
    const auto commitNotes = [this] { m_notes.Commit(); };
    if (paths.empty() && !logDirty && removals.empty()) return commitNotes();
    // One flush of the file system where the system has one (content, descriptors, staged
    // copies and the log at once); else each file, then the folders, then the log.
    bool durable = m_files.flushFileSystem(m_layout.folder.c_str());
    if (!durable) {
        for (const std::u16string& path : paths) m_files.flushPath(path.c_str());
        if (!paths.empty()) {
            m_files.flushPath(m_layout.content.c_str());
            m_files.flushPath(m_layout.descriptors.c_str());
            m_files.flushPath(m_layout.staging.c_str());
        }
    }
    commitNotes();
    // A compaction replaces the log's handle under this lock, so the handle is flushed under
    // it too.
    std::lock_guard<std::mutex> guard(m_lock);
    durable = durable || !logDirty || (m_logFile == logFile && m_files.flush(m_logFile));
    if (!durable) {
        m_logDirty = true;
        m_removals.insert(m_removals.end(), removals.begin(), removals.end());
        return;
    }
    for (const Edition& e : removals) {
        if (!m_set.Referenced({e.digest, e.blobSuffix}))
            m_files.remove(m_layout.ContentFile(e.digest, e.blobSuffix).c_str());
        m_files.remove(m_layout.DescriptorFile(e.editionId).c_str());
    }
}

// Every kCommitMilliseconds: what was written made durable, staged copies shared; in
// between, the fresh files a burst of versions took are made again, a batch at a time.
void EditionStore::CommitLoop() {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(kCommitMilliseconds);
    auto nextCommit = Clock::now() + period;
    bool refillFailed = false;
    std::unique_lock<std::mutex> wait(m_commitLock);
    for (;;) {
        const size_t target = m_freshTarget.load();
        const bool low = !refillFailed && m_fresh.Held() < target / 2;
        m_wake.wait_until(wait, low ? Clock::now() : nextCommit);
        if (m_stopping) return;
        wait.unlock();
        if (Clock::now() >= nextCommit) {
            Commit();
            ShareStagedContent();
            nextCommit = Clock::now() + period;
            refillFailed = false;  // a full disk or a missing folder is tried again each period
        }
        if (target != 0 && !m_fresh.Refill(m_staging, target, target / 4)) refillFailed = true;
        wait.lock();
    }
}

bool EditionStore::TakeFreshFile(FreshFiles::Taken* taken) {
    return !m_readOnly.load() && m_fresh.Take(taken);
}

void EditionStore::Close() {
    m_closing = true;
    {
        std::lock_guard<std::mutex> one(m_commitLock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_committer.joinable()) m_committer.join();
    m_fresh.Clear();  // empty and unnoted: nothing of a version is in them
    Commit();
    m_notes.Close();
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_open) return;
    if (m_logFile != kInvalidFile) m_files.close(m_logFile);
    m_logFile = kInvalidFile;
    if (m_folderLock != kInvalidFile) platform::ReleaseLock(m_folderLock);
    m_folderLock = kInvalidFile;
    m_open = false;
    m_set = EditionSet();
    m_unflushed.clear();
    m_removals.clear();
}

// Content that no edition names: what a crash between storing it and logging its edition
// left. Each is noted when first seen and removed once it has stayed an orphan for the grace
// period; descriptors of editions the log removed are leftovers of a removal cut short.
void EditionStore::AgeOrphansLocked(uint32_t now) {
    std::set<std::u16string> named;
    for (const Edition& e : m_set.All()) named.insert(Concat(DigestText(e.digest), u"-", e.blobSuffix));
    std::vector<std::u16string> names;
    m_files.listFiles(m_layout.content.c_str(), names);
    std::map<std::u16string, uint32_t> seen;
    for (const std::u16string& name : names) {
        if (named.count(name) != 0) continue;
        const auto known = m_set.orphansSeen.find(name);
        if (known == m_set.orphansSeen.end()) {
            LogRecord record;
            record.type = LogRecordType::kOrphanSeen;
            record.name = name;
            record.time = now;
            AppendLocked(record);
            seen.emplace(name, now);
            m_log.Write(LogLevel::kWarning, Concat(u"The content file ", name, u" is named by no "
                                                   u"edition; it is removed if it still is in ",
                                                   kOrphanGraceSeconds / 3600, u" hours."));
        } else if (now > known->second && now - known->second >= kOrphanGraceSeconds) {
            m_files.remove(JoinPath(m_layout.content, name).c_str());
            m_log.Write(LogLevel::kInfo, Concat(u"The orphaned content file ", name, u" is removed."));
        } else {
            seen.insert(*known);
        }
    }
    m_set.deadRecords += m_set.orphansSeen.size() - std::min(m_set.orphansSeen.size(), seen.size());
    m_set.orphansSeen = seen;
    std::vector<std::u16string> descriptors;
    m_files.listFiles(m_layout.descriptors.c_str(), descriptors);
    for (const std::u16string& name : descriptors) {
        const uint32_t id = static_cast<uint32_t>(std::atoi(std::string(name.begin(), name.end()).c_str()));
        if (id != 0 && id < m_set.nextEditionId && m_set.Find(id) == nullptr)
            m_files.remove(JoinPath(m_layout.descriptors, name).c_str());
    }
}

// Editions whose content and descriptor reached the disk but whose record did not (the log's
// last write was torn): each is logged again once its content matches its digest.
void EditionStore::ReclaimLocked() {
    std::vector<std::u16string> names;
    m_files.listFiles(m_layout.descriptors.c_str(), names);
    std::vector<uint32_t> beyond;
    for (const std::u16string& name : names) {
        const uint32_t id = static_cast<uint32_t>(std::atoi(std::string(name.begin(), name.end()).c_str()));
        if (id >= m_set.nextEditionId) beyond.push_back(id);
    }
    std::sort(beyond.begin(), beyond.end());
    for (const uint32_t id : beyond) {
        LogRecord record;
        Digest digest{};
        uint64_t size = 0;
        if (!ReadFramedFile(m_files, m_layout.DescriptorFile(id), kDescriptorMagic, record) ||
            record.type != LogRecordType::kEdition || record.edition.editionId != id ||
            !DigestOfFile(m_files, ContentPath(record.edition), &digest, &size) ||
            digest != record.edition.digest || size != record.edition.size)
            continue;
        if (!AppendLocked(record) || !m_set.Add(record.edition)) continue;
        m_log.Write(LogLevel::kWarning, Concat(u"Edition ", id, u" of ", record.edition.path,
                                               u" was missing from the log; it is taken back "
                                               u"from its descriptor."));
    }
}

// A staged copy that a crash took away after it moved into the content folder and before its
// edition was logged: its note has the digest, and the content is copied back to be kept.
void EditionStore::RestageMovedCopy(const std::u16string& staged, const Edition& noted) {
    if (noted.digest == Digest{}) return;  // never hashed, so never moved
    for (const Edition& e : EditionsOfPath(noted.path, &noted.time, &noted.time))
        if (e.uniqueId == noted.uniqueId && e.digest == noted.digest) return;  // kept already
    for (uint32_t suffix = 0; suffix < 8; ++suffix) {
        const std::u16string blob = m_layout.ContentFile(noted.digest, suffix);
        Digest digest{};
        uint64_t size = 0;
        if (!DigestOfFile(m_files, blob, &digest, &size)) return;
        if (digest == noted.digest && size == noted.size) {
            CopyFileContent(m_files, blob, staged, CopyRequest());
            return;
        }
    }
}

// Staged versions of a run that ended before keeping them: each noted copy becomes an
// edition; a copy without its note was never finished and goes, unless the journal is damaged
// (then no copy is proved garbage). Notes of an earlier version, a file beside each copy, are
// taken into the journal first.
void EditionStore::AdoptStaged() {
    std::vector<std::u16string> names;
    m_files.listFiles(m_staging.c_str(), names);
    const std::set<std::u16string> present(names.begin(), names.end());
    std::vector<NotedCopy> noted;
    bool damaged = false;
    std::u16string why;
    if (!m_notes.Open(m_layout.notes, noted, &damaged, why)) {
        m_log.Write(LogLevel::kError, Concat(u"Versions staged from now on have no note (", why,
                                             u"); the staged copies of the last run are kept as they are."));
        return;
    }
    if (damaged)
        m_log.Write(LogLevel::kWarning, Concat(u"The journal of staged versions ", m_layout.notes,
                                               u" is damaged; the copies it may name are kept as they are."));
    std::set<std::u16string> keep;
    std::vector<std::u16string> earlierNotes;
    for (const std::u16string& name : names) {
        if (!EndsWith(name, kNoteSuffix)) continue;
        const std::u16string copyName = name.substr(0, name.size() - (std::size(kNoteSuffix) - 1));
        const std::u16string note = JoinPath(m_staging, name);
        NotedCopy taken{copyName, LogRecord()};
        if (!ReadFramedFile(m_files, note, kStagedMagic, taken.note) || !m_notes.Note(copyName, taken.note)) {
            m_log.Write(LogLevel::kWarning, Concat(u"The staged note ", note,
                                                   u" is damaged; its copy is kept as it is."));
            keep.insert(name);
            keep.insert(copyName);
            continue;
        }
        noted.push_back(taken);
        earlierNotes.push_back(note);
    }
    uint32_t adopted = 0;
    for (const NotedCopy& n : noted) {
        const std::u16string staged = JoinPath(m_staging, n.name);
        keep.insert(n.name);
        if (present.count(n.name) == 0) RestageMovedCopy(staged, n.note.edition);
        const AddResult added = AddFromStaged(staged, StagedOrigin(n.note.edition), nullptr);
        if (added == AddResult::kAdded || added == AddResult::kUnchanged) ++adopted;
    }
    m_notes.Commit();  // the earlier notes are in the journal before their files go
    for (const std::u16string& note : earlierNotes) m_files.remove(note.c_str());
    for (const std::u16string& name : names)
        if (!damaged && keep.count(name) == 0 && !EndsWith(name, kNoteSuffix))
            m_files.remove(JoinPath(m_staging, name).c_str());
    if (adopted != 0)
        m_log.Write(LogLevel::kInfo, Concat(u"Kept ", adopted, u" staged versions of the last run as editions."));
}

std::u16string EditionStore::NewStagingPath(const char16_t* prefix) {
    return JoinPath(m_staging, Concat(prefix, Now(), u"-", ++m_stagingCounter, u".tmp"));
}

void EditionStore::CloneUnsupported() {
    if (!m_cloneUnsupported.exchange(true))
        m_log.Write(LogLevel::kInfo, Concat(u"The file system of ", m_folder, u" cannot clone "
                                            u"blocks; content is copied into it from now on."));
}

// Taken on the event path, so without the lock that an index write holds.
uint32_t EditionStore::NewUniqueId() { return m_nextUniqueId.fetch_add(1); }

// A staged copy's name in the journal: its name in the staging folder.
std::u16string EditionStore::StagedName(const std::u16string& staged) const {
    const bool inside = staged.size() > m_staging.size() + 1 &&
                        staged.compare(0, m_staging.size(), m_staging) == 0;
    return inside ? staged.substr(m_staging.size() + 1) : staged;
}

// On the event path: one append to the open journal. The version outlives a killed process
// from here on (the append is in the system's hands), and a power loss after the committer's
// next flush, which makes the copy and the journal durable together.
void EditionStore::NoteStaged(const std::u16string& staged, const EditionOrigin& origin) {
    if (!m_notes.Note(StagedName(staged), StagedNote(origin))) {
        m_log.Write(LogLevel::kWarning, Concat(u"The staged version of ", origin.path,
                                               u" has no note; a crash before it is kept loses it."));
        return;
    }
    std::lock_guard<std::mutex> guard(m_stagedLock);
    m_stagedUnflushed.push_back(staged);
    m_stagedToShare.push_back(staged);
}

void EditionStore::DropStaged(const std::u16string& staged) {
    m_notes.Done(StagedName(staged));  // first: a copy no longer noted is never shared
    m_files.remove(staged.c_str());
}

// A staged copy (of a file a writer is about to change) very often holds bytes the store has
// already, the file's newest edition: its own blocks are then waste until the copy is kept.
// Once its bytes are proved the same (digest, then every byte), the stored file gets the
// copy's name (a hard link, renamed over it), and the copy's blocks go. The content file never
// changes, so the version reads the same bytes either way; where a link cannot be made the
// copy stays as it is. Runs on the committer, a bounded batch per round, off the event path.
void EditionStore::ShareStagedContent() {
    constexpr size_t kBatch = 256;
    std::vector<std::u16string> batch;
    {
        std::lock_guard<std::mutex> guard(m_stagedLock);
        const size_t n = std::min(kBatch, m_stagedToShare.size());
        batch.assign(m_stagedToShare.begin(), m_stagedToShare.begin() + static_cast<std::ptrdiff_t>(n));
        m_stagedToShare.erase(m_stagedToShare.begin(), m_stagedToShare.begin() + static_cast<std::ptrdiff_t>(n));
    }
    for (const std::u16string& staged : batch) {
        Digest digest{};
        uint64_t size = 0;
        if (m_closing.load()) return;  // what is left stays a copy of its own
        if (!DigestOfFile(m_files, staged, &digest, &size)) continue;  // kept or dropped
        std::u16string blob;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!m_open || m_readOnly || !m_set.Referenced({digest, 0})) continue;
            blob = m_layout.ContentFile(digest, 0);
        }
        if (!SameContent(m_files, staged, blob)) continue;
        const std::u16string shared = staged + u".shared";
        if (!m_files.link(blob.c_str(), shared.c_str())) continue;
        // Under the index lock (a keep moves or removes the copy under it) and while the copy
        // is still noted (a drop is noted done before the copy goes): the link never lands on
        // a name that was let go.
        bool replaced = false;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            ScopedFile still(m_files, m_files.openForReading(staged.c_str()));
            replaced = still.IsOpen() && m_notes.IfNoted(StagedName(staged), [&] {
                return m_files.rename(shared.c_str(), staged.c_str());
            });
        }
        if (!replaced) m_files.remove(shared.c_str());
    }
}

AddResult EditionStore::AddFromFile(const EditionOrigin& origin, uint64_t limit,
                                    uint32_t* editionId) {
    if (m_readOnly) {
        Refuse(Concat(u"No edition of ", origin.path, u": the database is open read-only"));
        return AddResult::kReadOnly;
    }
    const std::u16string staged = NewStagingPath(u"b");
    CopyRequest request;
    request.hash = true;
    request.limit = limit;
    request.clone = MayClone();
    const CopyOutcome copy = CopyFileContent(m_files, origin.path, staged, request);
    const platform::FileFailure failure = m_files.lastFailure();
    if (copy.cloneUnsupported) CloneUnsupported();
    if (copy.status == CopyStatus::kTooLarge) {
        m_log.Write(LogLevel::kWarning, Concat(u"No edition of ", origin.path, u": its ",
                                               copy.size, u" bytes are over the limit of ",
                                               limit, u" bytes."));
        return AddResult::kTooLarge;
    }
    if (copy.status == CopyStatus::kSourceUnreadable) {
        m_log.Write(LogLevel::kWarning, Concat(u"No edition of ", origin.path, u": ",
                                               ReadFailureText(failure), u"."));
        return AddResult::kSourceUnreadable;
    }
    if (copy.status != CopyStatus::kOk) {
        Refuse(Concat(u"No edition of ", origin.path, u": ", WriteFailureText(failure)));
        return failure == platform::FileFailure::kDiskFull ? AddResult::kDiskFull
                                                           : AddResult::kStoreFailed;
    }
    return KeepStaged(staged, copy, origin, editionId);
}

AddResult EditionStore::AddFromStaged(const std::u16string& staged, const EditionOrigin& origin,
                                      uint32_t* editionId) {
    if (m_readOnly) return AddResult::kReadOnly;
    CopyOutcome copy;
    {
        ScopedFile file(m_files, m_files.openForReading(staged.c_str()));
        if (!file.IsOpen()) {
            m_log.Write(LogLevel::kError, Concat(u"The staged version of ", origin.path,
                                                 u" is gone; no edition."));
            m_notes.Done(StagedName(staged));
            return AddResult::kSourceUnreadable;
        }
        // A note of an earlier format does not say the source's ownership: the copy's is the
        // best there is.
        copy.ownershipKnown = origin.ownershipKnown;
        copy.ownership = origin.ownership;
        if (!origin.ownershipKnown)
            copy.ownershipKnown = platform::ReadOwnership(file.Get(), &copy.ownership);
    }
    if (!DigestOfFile(m_files, staged, &copy.digest, &copy.size)) {
        m_log.Write(LogLevel::kError, Concat(u"The staged version of ", origin.path,
                                             u" cannot be read; it is kept for the next start."));
        return AddResult::kSourceUnreadable;
    }
    // The note learns the digest before the copy moves into the content folder, so that a crash
    // after the move finds the content by it (see AdoptStaged).
    LogRecord note = StagedNote(origin);
    note.edition.size = copy.size;
    note.edition.digest = copy.digest;
    m_notes.Note(StagedName(staged), note);
    copy.status = CopyStatus::kOk;
    const AddResult added = KeepStaged(staged, copy, origin, editionId);
    if (added == AddResult::kAdded || added == AddResult::kUnchanged) m_notes.Done(StagedName(staged));
    return added;
}

AddResult EditionStore::KeepStaged(const std::u16string& staged, const CopyOutcome& copy,
                                   const EditionOrigin& origin, uint32_t* editionId) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_open || m_readOnly) {
        m_log.Write(LogLevel::kError, Concat(u"No edition of ", origin.path,
                                             u": the store is closed or read-only."));
        return AddResult::kReadOnly;
    }
    // Unchanged content: the newest edition of the path already holds these bytes, taken the
    // same way for the same writer. Another writer's version of the same bytes is an edition
    // of its own (sharing the content), so that the writer's versions still list it.
    const Edition* newest = m_set.NewestOf(origin.path);
    if (newest != nullptr && newest->digest == copy.digest && newest->size == copy.size &&
        newest->processId == origin.processId && newest->operation == origin.operation &&
        SameContent(m_files, staged, m_layout.ContentFile(newest->digest, newest->blobSuffix))) {
        m_files.remove(staged.c_str());
        if (editionId != nullptr) *editionId = newest->editionId;
        return AddResult::kUnchanged;
    }
    // Content stored once: on a digest match the bytes decide; a crafted collision gets a
    // content file of its own under the next suffix.
    uint32_t suffix = 0;
    bool shared = false;
    for (;; ++suffix) {
        const std::u16string blob = m_layout.ContentFile(copy.digest, suffix);
        if (!m_set.Referenced({copy.digest, suffix})) {
            ScopedFile existing(m_files, m_files.openForReading(blob.c_str()));
            if (!existing.IsOpen()) break;
        }
        if (SameContent(m_files, staged, blob)) {
            shared = true;
            break;
        }
        m_log.Write(LogLevel::kWarning, Concat(u"Two contents share the digest ",
                                               DigestText(copy.digest), u"; stored apart."));
    }
    const std::u16string blob = m_layout.ContentFile(copy.digest, suffix);
    if (shared) {
        m_files.remove(staged.c_str());
    } else if (!m_files.rename(staged.c_str(), blob.c_str())) {
        const platform::FileFailure failure = m_files.lastFailure();
        m_files.remove(staged.c_str());
        Refuse(Concat(u"No edition of ", origin.path, u": its content cannot be stored in ",
                      m_layout.content, u": ", WriteFailureText(failure)));
        return failure == platform::FileFailure::kDiskFull ? AddResult::kDiskFull
                                                           : AddResult::kStoreFailed;
    }
    LogRecord record;
    Edition& edition = record.edition;
    edition.editionId = m_set.nextEditionId;
    edition.uniqueId = origin.uniqueId != 0 ? origin.uniqueId : NewUniqueId();
    edition.time = origin.time != 0 ? origin.time : Now();
    edition.processId = origin.processId;
    edition.operation = origin.operation;
    edition.blobSuffix = suffix;
    edition.size = copy.size;
    edition.digest = copy.digest;
    edition.path = origin.path;
    edition.image = origin.image;
    edition.ownershipKnown = copy.ownershipKnown;
    edition.owner = copy.ownership.owner;
    edition.group = copy.ownership.group;
    edition.mode = copy.ownership.mode;
    const std::u16string descriptor = m_layout.DescriptorFile(edition.editionId);
    if (!WriteNew(m_files, descriptor, FramedFile(kDescriptorMagic, record)) || !AppendLocked(record)) {
        const platform::FileFailure failure = m_files.lastFailure();
        m_files.remove(descriptor.c_str());
        if (!shared) m_files.remove(blob.c_str());
        Refuse(Concat(u"No edition of ", origin.path, u": its record cannot be written: ",
                      WriteFailureText(failure)));
        return failure == platform::FileFailure::kDiskFull ? AddResult::kDiskFull
                                                           : AddResult::kStoreFailed;
    }
    m_set.Add(edition);
    if (!shared) m_unflushed.push_back(blob);
    m_unflushed.push_back(descriptor);
    RemoveLocked(m_set.Purge(m_limits, Now(), edition.editionId), kRemovedByPurge);
    if (m_set.deadRecords > std::max<uint64_t>(4096, m_set.Size())) CompactLocked();
    if (editionId != nullptr) *editionId = edition.editionId;
    m_log.Write(LogLevel::kTrace, Concat(u"Edition ", edition.editionId, u" of ", edition.path,
                                         u": ", edition.size, u" bytes, ",
                                         DigestText(edition.digest),
                                         shared ? u" (content shared)" : u""));
    return AddResult::kAdded;
}

// Logs the removal of editions taken out of the set; their content and descriptors go once
// the records are durable.
void EditionStore::RemoveLocked(const std::vector<Edition>& gone, uint32_t reason) {
    if (gone.empty()) return;
    const uint32_t now = Now();
    for (const Edition& e : gone) {
        LogRecord record;
        record.type = LogRecordType::kRemoval;
        record.editionId = e.editionId;
        record.reason = reason;
        record.time = now;
        if (AppendLocked(record)) {
            ++m_set.deadRecords;
            m_removals.push_back(e);
        } else {
            m_set.Add(e);  // not logged: it stays
        }
    }
    if (reason == kRemovedByPurge)
        m_log.Write(LogLevel::kInfo, Concat(u"Purged ", static_cast<uint32_t>(gone.size()),
                                            u" editions, oldest first (quota ", m_limits.quotaBytes,
                                            u" bytes, ", m_limits.keepDays, u" days)."));
}

bool EditionStore::Delete(uint32_t editionId) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_readOnly) {
            Refuse(Concat(u"Edition ", editionId, u" is kept: the database is open read-only"));
            return false;
        }
        Edition gone;
        if (!m_set.Remove(editionId, Now(), false, &gone)) {
            m_log.Write(LogLevel::kWarning, Concat(u"Edition ", editionId, u" is not stored; nothing deleted."));
            return false;
        }
        const size_t before = m_removals.size();
        RemoveLocked({gone}, kRemovedByDelete);
        if (m_removals.size() == before) {
            Refuse(Concat(u"Edition ", editionId, u" is kept: the edition log cannot be written"));
            return false;
        }
        m_log.Write(LogLevel::kInfo, Concat(u"Edition ", editionId, u" of ", gone.path, u" deleted."));
    }
    Commit();
    return true;
}

void EditionStore::SetLimits(const StoreLimits& limits) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_limits = limits;
}

ContentState EditionStore::LookAt(const Edition& edition) const {
    ScopedFile file(m_files, m_files.openForReading(ContentPath(edition).c_str()));
    uint64_t size = 0;
    if (!file.IsOpen() || !m_files.size(file.Get(), &size)) return kContentMissing;
    return size == edition.size ? kContentIntact : kContentDamaged;
}

std::u16string EditionStore::ContentPath(const Edition& edition) const {
    return m_layout.ContentFile(edition.digest, edition.blobSuffix);
}

std::vector<Edition> EditionStore::EditionsOfPath(const std::u16string& path,
                                                  const uint32_t* from, const uint32_t* to) const {
    std::vector<Edition> found;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        found = m_set.OfPath(path, from, to);
    }
    for (Edition& e : found) e.state = LookAt(e);
    return found;
}

std::vector<Edition> EditionStore::EditionsOfProcess(uint32_t processId, const uint32_t* from,
                                                     const uint32_t* to) const {
    std::vector<Edition> found;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        found = m_set.OfProcess(processId, from, to);
    }
    for (Edition& e : found) e.state = LookAt(e);
    return found;
}

std::vector<StoredFile> EditionStore::StoredFiles(const uint32_t* from, const uint32_t* to) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_set.Files(from, to);
}

bool EditionStore::Find(uint32_t editionId, Edition& edition) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const Edition* found = m_set.Find(editionId);
    if (found == nullptr) return false;
    edition = *found;
    return true;
}

PurgeRecord EditionStore::PurgesOf(const std::u16string& path) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_set.PurgesOf(path);
}

uint32_t EditionStore::CountOf(const std::u16string& path) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_set.CountOf(path);
}

uint64_t EditionStore::StoredBytes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_set.StoredBytes();
}

}  // namespace zef
