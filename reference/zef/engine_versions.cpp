// Versions taken on file events, kept in memory until a flush turns them into editions, and
// the searches over them. Taking a version is the hot path: a stat, a clone or copy into the
// store's staging folder, a second stat to catch a write during the copy, and no flush.
#include <chrono>
#include <ctime>

#include "platform/storage_file.h"
#include "reference/zef/engine_text.h"
#include "reference/zef/zef_engine.h"

namespace zef {
namespace {

uint32_t Now() { return static_cast<uint32_t>(std::time(nullptr)); }

// What an edition of a version taken before a write says of where it came from.
EditionOrigin OriginOf(const MemoryVersion& version) {
    EditionOrigin origin;
    origin.path = version.path;
    origin.image = version.image;
    origin.processId = version.processId;
    origin.operation = kOperationBeforeWrite;
    origin.uniqueId = version.uniqueId;
    origin.time = version.time;
    origin.ownershipKnown = version.ownershipKnown;
    origin.ownership = version.ownership;
    return origin;
}

struct MemorySearch : SearchState {
    std::vector<MemoryVersion> versions;  // newest first
    size_t at = 0;
};

const char16_t* VersionResultName(VersionResult result) {
    switch (result) {
        case VersionResult::kTaken: return u"taken";
        case VersionResult::kNotRunning: return u"the engine is not running";
        case VersionResult::kIgnoredByWorkMode: return u"the work mode takes no versions";
        case VersionResult::kBadPath: return u"the path is refused";
        case VersionResult::kFileMissing: return u"the file is gone";
        case VersionResult::kTooLarge: return u"the file is larger than the bound";
        case VersionResult::kAlreadyKept: return u"this content is kept already";
        case VersionResult::kQuotaUsed: return u"the process has used its quota";
        case VersionResult::kCopyFailed: return u"the file cannot be copied";
        case VersionResult::kChangedDuringCopy: return u"the file changed during the copy";
    }
    return u"?";
}

}  // namespace

std::u16string Engine::ImageOf(uint32_t processId) {
    if (processId == 0) return {};
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const auto known = m_images.find(processId);
        if (known != m_images.end()) return known->second;
    }
    const GetImagePathFn getImagePath = m_getImagePath.load();
    if (getImagePath == nullptr) return {};
    std::u16string image;
    if (getImagePath(processId, &image) != 1) return {};
    std::u16string checked;
    if (TakeText(image.c_str(), kMaxPathUnits, checked) != TextCheck::kOk) return {};
    std::lock_guard<std::mutex> guard(m_lock);
    m_images[processId] = checked;
    return checked;
}

VersionResult Engine::TakeVersion(const char16_t* source, uint32_t processId) {
    VersionResult result = VersionResult::kTaken;
    std::u16string path;
    const EngineSettings settings = Settings();
    const std::shared_ptr<EditionStore> store = Store();
    uint64_t size = 0;
    uint64_t writeTime = 0;
    const uint64_t limit = settings.maxFileSizePid != 0 ? settings.maxFileSizePid
                                                        : CurrentPattern().maxFileSizePid;
    if (!m_running.load() || !store) {
        result = VersionResult::kNotRunning;
    } else if (settings.workMode == 0) {
        result = VersionResult::kIgnoredByWorkMode;
    } else if (!TakePath(source, u"path of a file event", path)) {
        result = VersionResult::kBadPath;
    } else if (!platform::FileStamp(path.c_str(), &size, &writeTime)) {
        result = VersionResult::kFileMissing;
    } else if (size > limit) {
        result = VersionResult::kTooLarge;
    } else {
        const Admission admission =
            m_memory.Admit(path, processId, size, writeTime, settings.perProcessQuota);
        if (admission == Admission::kAlreadyKept) result = VersionResult::kAlreadyKept;
        if (admission == Admission::kQuotaUsed) result = VersionResult::kQuotaUsed;
    }
    if (result != VersionResult::kTaken) {
        if (result != VersionResult::kAlreadyKept && result != VersionResult::kNotRunning)
            m_log.Write(LogLevel::kTrace, Concat(u"No version of ", path, u" for process ",
                                                 processId, u": ", VersionResultName(result), u"."));
        return result;
    }
    MemoryVersion version;
    CopyRequest request;
    request.limit = limit;
    request.clone = store->MayClone();
    // Into a file made ahead of time where one is held: creating one here would hold the
    // writer for what can be the longest step of the copy. The store makes them once versions
    // are asked for (a service that watches after the fact never asks).
    CopyOutcome copy;
    FreshFiles::Taken fresh;
    store->HoldFreshFiles(kFreshFiles);
    if (store->TakeFreshFile(&fresh)) {
        version.copyPath = fresh.path;
        copy = CopyIntoFile(m_files, path, fresh.file, request);
        m_files.close(fresh.file);
        if (copy.status != CopyStatus::kOk) m_files.remove(fresh.path.c_str());
    } else {
        version.copyPath = store->NewStagingPath(u"m");
        copy = CopyFileContent(m_files, path, version.copyPath, request);
    }
    m_lastCopyMethod.store(copy.method);
    if (copy.cloneUnsupported) store->CloneUnsupported();
    uint64_t sizeAfter = 0;
    uint64_t writeTimeAfter = 0;
    if (copy.status != CopyStatus::kOk) {
        m_log.Write(LogLevel::kWarning, Concat(u"No version of ", path, u": ",
                                               CopyStatusName(copy.status), u"."));
        return VersionResult::kCopyFailed;
    }
    if (!platform::FileStamp(path.c_str(), &sizeAfter, &writeTimeAfter) || sizeAfter != size ||
        writeTimeAfter != writeTime || copy.size != size) {
        m_files.remove(version.copyPath.c_str());
        m_log.Write(LogLevel::kWarning, Concat(u"No version of ", path,
                                               u": it changed or went while it was copied."));
        return VersionResult::kChangedDuringCopy;
    }
    if (!m_methodLogged.exchange(true))
        m_log.Write(LogLevel::kInfo, Concat(u"The first version was taken as ",
                                            CopyMethodName(copy.method), u"."));
    version.uniqueId = store->NewUniqueId();
    version.time = Now();
    version.processId = processId;
    version.size = size;
    version.writeTime = writeTime;
    version.path = path;
    version.image = ImageOf(processId);
    version.ownershipKnown = copy.ownershipKnown;
    version.ownership = copy.ownership;
    // The note lets the version outlive this process: the next start keeps it as an edition.
    store->NoteStaged(version.copyPath, OriginOf(version));
    const Admission admission = m_memory.Add(version, settings.perProcessQuota);
    if (admission != Admission::kTake) {
        store->DropStaged(version.copyPath);
        return admission == Admission::kQuotaUsed ? VersionResult::kQuotaUsed
                                                  : VersionResult::kAlreadyKept;
    }
    return VersionResult::kTaken;
}

uint32_t Engine::KeepAsEditions(std::vector<MemoryVersion> versions,
                                std::chrono::steady_clock::time_point deadline) {
    const std::shared_ptr<EditionStore> store = Store();
    uint32_t kept = 0;
    uint32_t left = 0;
    for (const MemoryVersion& v : versions) {
        // Past the deadline, or with no store, a version stays staged with its note: the next
        // start keeps it.
        if (!store || std::chrono::steady_clock::now() > deadline) {
            ++left;
            continue;
        }
        const AddResult added = store->AddFromStaged(v.copyPath, OriginOf(v), nullptr);
        if (added == AddResult::kAdded || added == AddResult::kUnchanged) ++kept;
    }
    if (left != 0)
        m_log.Write(LogLevel::kInfo, Concat(left, u" staged versions stay staged; the next start "
                                                  u"keeps them as editions."));
    return kept;
}

uint32_t Engine::FlushEvents() {
    const auto versions = m_memory.TakeIf([](const MemoryVersion&) { return true; });
    const uint32_t kept = KeepAsEditions(versions);
    m_log.Write(LogLevel::kInfo, Concat(u"Flushed ", static_cast<uint32_t>(versions.size()),
                                        u" versions; ", kept, u" kept as editions."));
    return 0;
}

// The versions whose file was written after they were taken are worth keeping; the others
// hold what the file still holds and are dropped.
uint32_t Engine::FlushValidEvents() {
    const auto versions = m_memory.TakeIf([](const MemoryVersion&) { return true; });
    std::vector<MemoryVersion> changed;
    for (const MemoryVersion& v : versions) {
        uint64_t size = 0;
        uint64_t writeTime = 0;
        if (!platform::FileStamp(v.path.c_str(), &size, &writeTime) || size != v.size ||
            writeTime != v.writeTime)
            changed.push_back(v);
        else if (const auto store = Store())
            store->DropStaged(v.copyPath);
    }
    const uint32_t kept = KeepAsEditions(changed);
    m_log.Write(LogLevel::kInfo, Concat(u"Flushed ", static_cast<uint32_t>(versions.size()),
                                        u" versions; ", kept, u" of changed files kept as editions."));
    return 0;
}

// Operation 1 adds a process to the watched objects (nothing to do here); 2 says that it
// ended: its versions become editions and its image is forgotten.
uint32_t Engine::UpdateObjPidList(uint32_t operation, uint32_t processId) {
    if (operation == 1) return 0;
    if (operation != 2) {
        m_log.Write(LogLevel::kWarning, Concat(u"Process list operation ", operation, u" is unknown."));
        return 1;
    }
    KeepAsEditions(m_memory.TakeIf([&](const MemoryVersion& v) { return v.processId == processId; }));
    std::lock_guard<std::mutex> guard(m_lock);
    m_images.erase(processId);
    return 0;
}

uint32_t Engine::BackupFile(const char16_t* source) {
    std::u16string path;
    const std::shared_ptr<EditionStore> store = Store();
    if (!store || !TakePath(source, u"path to back up", path)) return kBackupRefused;
    EditionOrigin origin;
    origin.path = path;
    uint32_t editionId = 0;
    const AddResult added = store->AddFromFile(origin, GetSupportFileMaxSize(), &editionId);
    if (added == AddResult::kAdded || added == AddResult::kUnchanged) {
        m_log.Write(LogLevel::kInfo, Concat(u"Backed up ", path, u" as edition ", editionId,
                                            added == AddResult::kUnchanged ? u" (unchanged)." : u"."));
        return 0;
    }
    switch (added) {
        case AddResult::kSourceUnreadable: return kBackupUnreadable;
        case AddResult::kTooLarge: return kBackupTooLarge;
        case AddResult::kReadOnly: return kBackupReadOnly;
        case AddResult::kDiskFull: return kBackupDiskFull;
        default: return kBackupStoreFailed;
    }
}

FindHandle Engine::MemFindFirstFile(const char16_t* source) {
    std::u16string path;
    if (!TakePath(source, u"path to search", path)) return nullptr;
    auto search = std::make_shared<MemorySearch>();
    search->versions = m_memory.OfPath(path);
    if (search->versions.empty()) return nullptr;
    return m_handles.Add(search);
}

FindHandle Engine::MemFindFirstFileByPid(uint32_t processId, uint32_t from, uint32_t to) {
    auto search = std::make_shared<MemorySearch>();
    search->versions = m_memory.OfProcess(processId, from, to);
    if (search->versions.empty()) return nullptr;
    return m_handles.Add(search);
}

// A search stays on its last version when there is no next one.
uint32_t Engine::MemFindNext(FindHandle find) {
    const auto search = m_handles.Get<MemorySearch>(find);
    if (!search) return 0;
    std::lock_guard<std::mutex> guard(search->lock);
    if (search->at + 1 >= search->versions.size()) return 0;
    ++search->at;
    return 1;
}

void Engine::MemFindClose(FindHandle find) { m_handles.Remove(find); }

namespace {

template <typename Read>
auto WithVersion(FindHandles& handles, FindHandle find, Read&& read) -> decltype(read(std::declval<const MemoryVersion&>())) {
    const auto search = handles.Get<MemorySearch>(find);
    if (!search) return {};
    std::lock_guard<std::mutex> guard(search->lock);
    return read(search->versions[search->at]);
}

}  // namespace

uint32_t Engine::MemGetTime(FindHandle find) {
    return WithVersion(m_handles, find, [](const MemoryVersion& v) { return v.time; });
}

uint32_t Engine::MemGetId(FindHandle find) {
    return WithVersion(m_handles, find, [](const MemoryVersion& v) { return v.uniqueId; });
}

uint32_t Engine::MemGetFilePath(FindHandle find, uint32_t capacity, char16_t* path) {
    return WithVersion(m_handles, find, [&](const MemoryVersion& v) {
        return static_cast<uint32_t>(PutText(v.path, capacity, path));
    });
}

uint32_t Engine::MemGetImage(FindHandle find, uint32_t capacity, char16_t* image) {
    return WithVersion(m_handles, find, [&](const MemoryVersion& v) {
        return static_cast<uint32_t>(PutText(v.image, capacity, image));
    });
}

uint32_t Engine::MemGetCopy(FindHandle find, uint32_t capacity, char16_t* copy) {
    const std::u16string staged =
        WithVersion(m_handles, find, [](const MemoryVersion& v) { return v.copyPath; });
    return !staged.empty() && MakeCopy(staged, capacity, copy) ? 1 : 0;
}

uint32_t Engine::MemPurge(FindHandle find) {
    const uint32_t uniqueId = MemGetId(find);
    MemoryVersion removed;
    if (uniqueId == 0 || !m_memory.Remove(uniqueId, &removed)) return 0;
    if (const auto store = Store())
        store->DropStaged(removed.copyPath);
    else
        m_files.remove(removed.copyPath.c_str());
    m_log.Write(LogLevel::kInfo, Concat(u"Memory version ", uniqueId, u" of ", removed.path, u" purged."));
    return 1;
}

}  // namespace zef
