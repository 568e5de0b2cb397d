// The host's storage service (20001, 200011): the engine's database folders it protects
// (0xACB4 adds, 0xACB5 removes; a folder protected twice needs two removals) and the read of
// backup data (0xACBD). Refusing other processes' writes is the guard's work (the file
// activity source, where the platform has one); without a guard protection is advisory, and
// the log says so. Safe from any thread; the guard is called with no lock held.
//
// 0xACBD, as this host serves it: the request's 16 key bytes are the first 16 bytes of the
// SHA-1 under which the engine stored a content; the content is looked for in the "content"
// folder of each protected folder, as a file whose name begins with those bytes in
// hexadecimal. a and b are the offset to read from (low and high 32 bits), c the number of
// bytes the reply's buffer takes; bytesRead tells how many were copied (fewer at the end).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/call_records.h"

namespace pellumhost {

// Guards one folder (protect true) or stops guarding it; false with a reason when the
// platform cannot refuse writes there.
using FolderGuard = std::function<bool(const std::string& folder, bool protect, std::string& why)>;

class ProtectedStorage {
public:
    // 0xACB4, 0xACB5 and 0xACBD; 0xE0FF0002 for another function, 0xE0FF0007 for a malformed
    // request, 0xE0FF0001 for a release of a folder not protected or content not found.
    uint32_t Call(uint32_t functionId, const void* input, void* output);

    std::vector<std::string> Folders() const;
    // True when path lies inside a protected folder (or is one).
    bool IsProtected(const std::string& path) const;

    // Sets the guard and hands it every folder protected now; null removes it.
    void SetGuard(FolderGuard guard);

private:
    uint32_t Protect(const velk::DbProtectionRequest& request, bool adding);
    uint32_t ReadBackupData(const velk::BackupDataReadRequest& request,
                            velk::BackupDataReadReply& reply) const;

    mutable std::mutex m_lock;
    std::map<std::string, int> m_folders;  // folder, times protected
    FolderGuard m_guard;
};

}  // namespace pellumhost
