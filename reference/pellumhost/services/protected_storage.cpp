// The storage service's protected folders and its reads of stored content.
#include "reference/pellumhost/services/protected_storage.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/host_log.h"

namespace fs = std::filesystem;

namespace pellumhost {
namespace {

constexpr uint32_t kMaxReadBytes = 64u << 20;

std::string KeyText(const uint8_t (&key)[16]) {
    std::string text;
    char part[3];
    for (uint8_t byte : key) {
        std::snprintf(part, sizeof part, "%02x", byte);
        text += part;
    }
    return text;
}

bool Inside(const std::string& path, const std::string& folder) {
    if (path.compare(0, folder.size(), folder) != 0) return false;
    return path.size() == folder.size() || path[folder.size()] == '/' || path[folder.size()] == '\\';
}

}  // namespace

uint32_t ProtectedStorage::Call(uint32_t functionId, const void* input, void* output) {
    switch (functionId) {
        case velk::kFnAddDbProtection:
        case velk::kFnRemoveDbProtection: {
            const auto* request = static_cast<const velk::DbProtectionRequest*>(input);
            if (request == nullptr || (request->folder == nullptr && request->folderLength != 0)) {
                HostLog(3, __LINE__, "storage: a protection request without its folder was refused");
                return velk::kBadArgument;
            }
            return Protect(*request, functionId == velk::kFnAddDbProtection);
        }
        case velk::kFnReadBackupFileData:
            if (input == nullptr || output == nullptr) return velk::kBadArgument;
            return ReadBackupData(*static_cast<const velk::BackupDataReadRequest*>(input),
                                  *static_cast<velk::BackupDataReadReply*>(output));
        default: return velk::kNotHandled;
    }
}

uint32_t ProtectedStorage::Protect(const velk::DbProtectionRequest& request, bool adding) {
    const std::string folder =
        platform::ToUtf8(std::u16string(request.folder, request.folderLength));
    if (folder.empty()) {
        HostLog(3, __LINE__, "storage: an empty folder cannot be protected");
        return velk::kBadArgument;
    }
    FolderGuard guard;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto found = m_folders.find(folder);
        if (!adding && found == m_folders.end()) {
            HostLog(3, __LINE__, "storage: " + folder + " is not protected; nothing to remove");
            return velk::kNotDone;
        }
        const int count = m_folders[folder] += adding ? 1 : -1;
        if (count == 0) m_folders.erase(folder);
        if (adding ? count != 1 : count != 0) return velk::kSuccess;  // still protected
        guard = m_guard;
    }
    std::string why = "no file activity source guards it (yet)";
    const bool guarded = guard && guard(folder, adding, why);
    if (!adding) {
        HostLog(2, __LINE__, "storage: no longer protecting " + folder);
    } else if (guarded) {
        HostLog(2, __LINE__, "storage: protecting " + folder + "; opens by other processes are refused");
    } else {
        HostLog(2, __LINE__, "storage: protecting " + folder + " (advisory: " + why + ")");
    }
    return velk::kSuccess;
}

std::vector<std::string> ProtectedStorage::Folders() const {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<std::string> folders;
    for (const auto& entry : m_folders) folders.push_back(entry.first);
    return folders;
}

bool ProtectedStorage::IsProtected(const std::string& path) const {
    std::lock_guard<std::mutex> lock(m_lock);
    for (const auto& entry : m_folders)
        if (Inside(path, entry.first)) return true;
    return false;
}

void ProtectedStorage::SetGuard(FolderGuard guard) {
    std::vector<std::string> folders;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_guard = guard;
        for (const auto& entry : m_folders) folders.push_back(entry.first);
    }
    if (!guard) return;
    for (const std::string& folder : folders) {
        std::string why;
        if (guard(folder, true, why))
            HostLog(2, __LINE__, "storage: " + folder + " guarded; opens by other processes are refused");
        else
            HostLog(2, __LINE__, "storage: protection of " + folder + " is advisory: " + why);
    }
}

uint32_t ProtectedStorage::ReadBackupData(const velk::BackupDataReadRequest& request,
                                          velk::BackupDataReadReply& reply) const {
    if ((reply.buffer == nullptr && request.c != 0) || request.c > kMaxReadBytes) {
        HostLog(3, __LINE__, "storage: a read of backup data without room for it was refused");
        return velk::kBadArgument;
    }
    const std::string key = KeyText(request.key);
    const uint64_t offset = uint64_t{request.a} | (uint64_t{request.b} << 32);
    for (const std::string& folder : Folders()) {
        std::error_code ec;
        for (fs::directory_iterator it(fs::path(folder) / "content", ec), end; !ec && it != end;
             it.increment(ec)) {
            if (it->path().filename().string().compare(0, key.size(), key) != 0) continue;
            std::ifstream in(it->path(), std::ios::binary);
            in.seekg(static_cast<std::streamoff>(offset));
            in.read(static_cast<char*>(reply.buffer), request.c);
            reply.bytesRead = in.bad() ? 0 : static_cast<uint32_t>(in.gcount());
            HostLog(2, __LINE__, "storage: " + std::to_string(reply.bytesRead) + " bytes of " +
                                     key + " read from offset " + std::to_string(offset));
            return velk::kSuccess;
        }
    }
    reply.bytesRead = 0;
    HostLog(3, __LINE__, "storage: no protected folder holds content " + key);
    return velk::kNotDone;
}

}  // namespace pellumhost
