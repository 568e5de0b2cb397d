// What each restore of a run came to, kept in "restores.zef" in the database folder so that
// the next run can report them as boot results. At opening, the file of the previous run is
// set aside as "restores.prev.zef" and served until it is deleted. Safe from any thread.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "reference/zef/engine_log.h"
#include "reference/zef/file_table.h"

namespace zef {

struct RestoreResult {
    uint32_t code = 0;       // 0 restored, else the reason it failed
    uint64_t value = 0;      // the edition restored, 0 for a copy
    uint64_t fileTime = 0;   // when, as a Windows file time
    std::u16string name;     // the restored path
};

// Reasons of RestoreResult::code.
enum RestoreFailure : uint32_t {
    kRestoreFolderMissing = 2,
    kRestoreCopyUnreadable = 3,
    kRestoreWriteFailed = 4,
    kRestoreReplaceFailed = 5,
    kRestoreNoEdition = 6,
    kRestoreContentDamaged = 7,
};

class RestoreResults {
public:
    RestoreResults(const FileTable& files, EngineLog& log) : m_files(files), m_log(log) {}
    void Open(const std::u16string& folder);
    void Close();
    void Record(const RestoreResult& result);

    // The previous run's results, held until Release; answers their number.
    uint32_t Hold();
    // Result index of the held ones; the name stays valid until Release.
    bool Fetch(uint32_t index, uint32_t* code, uint64_t* value, const char16_t** name,
               uint64_t* fileTime) const;
    void Release();
    void DeletePrevious();

private:
    const FileTable& m_files;
    EngineLog& m_log;
    mutable std::mutex m_lock;
    std::u16string m_current;
    std::u16string m_previousPath;
    std::vector<RestoreResult> m_run;
    std::vector<RestoreResult> m_previous;
    std::vector<RestoreResult> m_held;
};

std::vector<uint8_t> SerializeRestoreResults(const std::vector<RestoreResult>& results);
bool ParseRestoreResults(const std::vector<uint8_t>& bytes, std::vector<RestoreResult>& results,
                         std::u16string& reason);

}  // namespace zef
