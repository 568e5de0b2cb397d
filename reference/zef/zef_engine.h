// The reference engine: settings, the edition store of the database folder, the memory
// versions taken on file events, searches, restores, the pattern and the restore results. The
// module's 59 exports are thin calls into the one Engine of the process (TheEngine); tests
// make engines of their own. Every member function is safe from any thread.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine_api/zef_entry_points.h"
#include "reference/zef/edition_store.h"
#include "reference/zef/engine_log.h"
#include "reference/zef/file_restore.h"
#include "reference/zef/file_table.h"
#include "reference/zef/find_handles.h"
#include "reference/zef/memory_versions.h"
#include "reference/zef/pattern.h"
#include "reference/zef/pending_restores.h"
#include "reference/zef/restore_results.h"

namespace zef {

// Settings as ChangeConfigure hands them over. Units: DbSize in MiB, HistoryKeepDays in days,
// the two maximum file sizes in bytes (0: the pattern's), PerProcessBackupQuota in versions
// per process (0: no limit); WorkMode 0 takes no versions on events.
struct EngineSettings {
    std::u16string dbPath;
    std::u16string debugLogPath;
    std::u16string patternPath;
    std::u16string engineFolder;
    uint32_t dbSizeMb = 1024;
    uint32_t debugLevel = 4;
    uint32_t securityLevel = 1;
    uint32_t historyKeepDays = 21;
    uint32_t workMode = 1;
    uint32_t perProcessQuota = 6;
    uint32_t maxFileSize = 0;
    uint32_t maxFileSizePid = 0;
};

// What Start answers when it fails (0 is success): the store's folder is not set or cannot be
// made, another instance holds it, its edition log is damaged, or it is missing while content
// is kept. The engine's log says which file and where.
enum StartFailure : uint32_t {
    kStartFolderUnusable = 2,
    kStartDatabaseInUse = 3,
    kStartIndexDamaged = 4,
    kStartIndexMissing = 5,
};

// What BackupFile answers when it fails (0 is success).
enum BackupFailure : uint32_t {
    kBackupRefused = 1,         // the engine is stopped or the path is refused
    kBackupUnreadable = 2,      // the file cannot be read
    kBackupTooLarge = 3,        // the file is over the size limit (the log says the limit)
    kBackupStoreFailed = 4,     // the database cannot be written (no permission, ...)
    kBackupReadOnly = 5,        // the database is open read-only
    kBackupDiskFull = 6,        // the disk that holds the database is full
};

// Where a listing's EditionFindData says whether the edition's content is there: a 32-bit
// ContentState at this byte of engine104 (after the size and the writer's process id).
constexpr size_t kContentStateOffset = 12;

// How long Stop spends keeping staged versions as editions before it leaves the rest staged.
constexpr uint32_t kStopKeepingMilliseconds = 500;
// Empty staging files the store keeps ready for a burst of versions once the first is taken
// (each holds a descriptor open), so that taking a version creates no file while the writer
// waits.
constexpr size_t kFreshFiles = 256;

enum class VersionResult {
    kTaken, kNotRunning, kIgnoredByWorkMode, kBadPath, kFileMissing, kTooLarge, kAlreadyKept,
    kQuotaUsed, kCopyFailed, kChangedDuringCopy
};

class Engine {
public:
    explicit Engine(const FileTable& files = SystemFileTable());
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    ~Engine();

    // Life cycle and settings.
    uint32_t Initialize();
    uint32_t Start();
    uint32_t Stop();
    uint32_t Finalize();
    uint32_t ChangeConfigure(uint32_t settingId, const ConfigureParameter* parameter);
    uint32_t ChangeRunningConfigure(uint32_t settingId, const uint32_t* value);
    uint32_t QueryConfigure(uint32_t settingId, ConfigureParameter* parameter);
    EngineSettings Settings() const;

    // Pattern.
    uint32_t IsPatternValid(const char16_t* folder);
    uint32_t IsDisabledByPattern(const char16_t* folder);
    uint32_t QueryPtnPolicy(uint32_t type, uint32_t subtype, PatternPolicy* policy);
    void FreePtnPolicy(PatternPolicy* policy);
    uint32_t GetSupportFileMaxSize();

    // Versions taken on events, and editions made now.
    VersionResult TakeVersion(const char16_t* path, uint32_t processId);
    uint32_t NotifyEvent(void* eventData);
    uint32_t FlushEvents();
    uint32_t FlushValidEvents();
    uint32_t UpdateObjPidList(uint32_t operation, uint32_t processId);
    uint32_t BackupFile(const char16_t* path);
    // How the last version or restore copied its content (for the log and benchmarks).
    CopyMethod LastCopyMethod() const { return m_lastCopyMethod.load(); }

    // Database searches.
    uint32_t ConnectBackupStorage();
    uint32_t DisconnectBackupStorage();
    FindHandle FindFirstFileEdition(const char16_t* path, EditionFindData* data);
    FindHandle FindFirstFileEditionEx(const char16_t* path, uint32_t flags, const uint32_t* from,
                                      const uint32_t* to, EditionFindData* data);
    uint32_t FindNextFileEdition(FindHandle find, EditionFindData* data);
    void FindFileEditionClose(FindHandle find);
    FindHandle FindFirstFileEditionByPid(uint32_t processId, uint32_t flags, const uint32_t* from,
                                         const uint32_t* to, EditionFindDataByPid* data);
    uint32_t FindNextFileEditionByPid(FindHandle find, EditionFindDataByPid* data);
    FindHandle FindFirstBackupFile(const uint32_t* from, const uint32_t* to,
                                   BackupFileFindData* data);
    uint32_t FindNextBackupFile(FindHandle find, BackupFileFindData* data);
    void FindBackupFileClose(FindHandle find);
    int32_t GetBackupFileUniqID(const char16_t* path, const void* keyArea);
    uint32_t GetBackupFileByID(uint32_t id, uint32_t capacity, char16_t* buffer);
    uint32_t GetFileEdition(uint32_t editionId, uint32_t capacity, char16_t* copy);
    uint32_t FreeFileEdition(const char16_t* copyPath);
    uint32_t DeleteEditionByEditionID(uint32_t editionId);

    // Memory searches.
    FindHandle MemFindFirstFile(const char16_t* path);
    FindHandle MemFindFirstFileByPid(uint32_t processId, uint32_t from, uint32_t to);
    uint32_t MemFindNext(FindHandle find);
    void MemFindClose(FindHandle find);
    uint32_t MemGetTime(FindHandle find);
    uint32_t MemGetId(FindHandle find);
    uint32_t MemGetCopy(FindHandle find, uint32_t capacity, char16_t* copy);
    uint32_t MemGetFilePath(FindHandle find, uint32_t capacity, char16_t* path);
    uint32_t MemGetImage(FindHandle find, uint32_t capacity, char16_t* image);
    uint32_t MemPurge(FindHandle find);

    // Restores and their results.
    uint32_t RestoreByCopy(const char16_t* path, const char16_t* copyPath,
                           const char16_t* virusName, uint32_t option, uint32_t* reboot);
    uint32_t RestoreByEdition(const char16_t* path, uint32_t editionId,
                              const char16_t* virusName, uint32_t option, uint32_t* reboot);
    uint32_t FbCompleteAdvanceData(const EditionFindData* edition, RestoreReport* report);
    uint32_t RmAllocDbeResults();
    uint32_t RmFetchDbeResult(uint32_t index, uint32_t* kind, uint32_t* code, uint64_t* value,
                              uint32_t* detail, const char16_t** name, uint64_t* fileTime);
    uint32_t RmFreeDbeResults();
    uint32_t RmDeleteDbeResults();

    EngineLog& Log() { return m_log; }
    size_t OpenSearches() const { return m_handles.Count(); }
    size_t MemoryVersionCount() const { return m_memory.Count(); }

private:
    std::shared_ptr<EditionStore> Store() const;
    bool TakePath(const char16_t* source, const char16_t* what, std::u16string& path);
    std::u16string ImageOf(uint32_t processId);
    // Keeps staged versions as editions until deadline; the rest stay staged for the next start.
    uint32_t KeepAsEditions(std::vector<MemoryVersion> versions,
                            std::chrono::steady_clock::time_point deadline =
                                std::chrono::steady_clock::time_point::max());
    uint32_t Restore(const std::u16string& target, const RestoreSource& source,
                     uint64_t editionId, uint32_t* reboot);
    std::u16string NewCopyPath();
    bool MakeCopy(const std::u16string& source, uint32_t capacity, char16_t* buffer,
                  const Edition* edition = nullptr);
    Pattern CurrentPattern() const;
    void ApplyLimits();
    std::mutex& RestoreLock(const std::u16string& target);

    const FileTable& m_files;
    EngineLog m_log;
    mutable std::mutex m_lock;  // settings, store, pattern, images, policies
    EngineSettings m_settings;
    std::shared_ptr<EditionStore> m_store;
    Pattern m_pattern;
    std::u16string m_copies;
    std::map<uint32_t, std::u16string> m_images;
    std::map<const char16_t**, std::unique_ptr<std::vector<std::u16string>>> m_policyTexts;
    std::map<const char16_t**, std::unique_ptr<const char16_t*[]>> m_policyArrays;
    std::atomic<GetImagePathFn> m_getImagePath{nullptr};
    std::atomic<ReadBackupFileDataFn> m_readBackupFileData{nullptr};
    std::atomic<bool> m_running{false};
    std::atomic<uint32_t> m_copyCounter{0};
    std::atomic<CopyMethod> m_lastCopyMethod{CopyMethod::kNone};
    std::atomic<bool> m_methodLogged{false};
    MemoryVersions m_memory;
    FindHandles m_handles;
    RestoreResults m_results;
    PendingRestores m_pendingRestores{m_files, m_log};
    std::mutex m_restoreLocks[16];
};

// The engine that the module's exports serve.
Engine& TheEngine();

}  // namespace zef
