// ReadDirectoryChangesW over the whole tree, one overlapped read at a time; an event wakes the
// reader. A rename's old name is followed by its new one in the same read; an old name left
// alone at the end of a read was moved out. A folder moved in is told alone, so what it holds
// is read and reported as created; so is what a new folder holds when its creation is read,
// since files made in it at once may be told before the folder is watched, or not at all. A
// read that completes with no bytes, or with ERROR_NOTIFY_ENUM_DIR, lost changes: the system's
// buffer overflowed.
#include "platform/directory_changes.h"

#include <windows.h>

#include <filesystem>

#include "platform/text.h"

namespace platform {

namespace {

constexpr DWORD kFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
    FILE_NOTIFY_CHANGE_SIZE;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// A file or folder that appeared, and, for a folder, what it already holds (links are not
// followed). A file told again later is only a creation reported twice.
void Appeared(const std::u16string& path, std::vector<DirectoryChange>& changes) {
    changes.push_back({ChangeAction::kCreated, path, {}});
    std::error_code ec;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, ec))) return;
    for (auto it = std::filesystem::recursive_directory_iterator(std::filesystem::path(path), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::filesystem::file_type type = it->symlink_status(ec).type();
        if (type == std::filesystem::file_type::directory || type == std::filesystem::file_type::regular)
            changes.push_back({ChangeAction::kCreated, it->path().u16string(), {}});
    }
}

}  // namespace

struct DirectoryChanges::State {
    std::u16string root;
    HANDLE folder = INVALID_HANDLE_VALUE;
    HANDLE wake = nullptr;
    OVERLAPPED read{};
    bool reading = false;
    std::vector<DWORD> buffer;  // DWORD-aligned, as the notifications must be

    bool Issue() {
        ResetEvent(read.hEvent);
        reading = ReadDirectoryChangesW(folder, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof(DWORD)), TRUE,
                                        kFilter, nullptr, &read, nullptr) != 0;
        return reading;
    }

    void Collect(DWORD bytes, std::vector<DirectoryChange>& changes) {
        const auto* base = reinterpret_cast<const uint8_t*>(buffer.data());
        std::u16string oldName;
        for (DWORD at = 0; at + sizeof(FILE_NOTIFY_INFORMATION) <= bytes;) {
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + at);
            const std::u16string path =
                root + u"\\" +
                std::u16string(reinterpret_cast<const char16_t*>(info->FileName),
                               info->FileNameLength / sizeof(wchar_t));
            if (info->Action != FILE_ACTION_RENAMED_NEW_NAME && !oldName.empty()) {
                changes.push_back({ChangeAction::kRemoved, oldName, {}});
                oldName.clear();
            }
            switch (info->Action) {
                case FILE_ACTION_ADDED:
                    Appeared(path, changes);
                    break;
                case FILE_ACTION_MODIFIED:
                    changes.push_back({ChangeAction::kWritten, path, {}});
                    break;
                case FILE_ACTION_REMOVED:
                    changes.push_back({ChangeAction::kRemoved, path, {}});
                    break;
                case FILE_ACTION_RENAMED_OLD_NAME:
                    oldName = path;
                    break;
                case FILE_ACTION_RENAMED_NEW_NAME:
                    if (oldName.empty()) Appeared(path, changes);
                    else changes.push_back({ChangeAction::kRenamed, path, oldName});
                    oldName.clear();
                    break;
                default:
                    break;
            }
            if (info->NextEntryOffset == 0) break;
            at += info->NextEntryOffset;
        }
        if (!oldName.empty()) changes.push_back({ChangeAction::kRemoved, oldName, {}});
    }
};

DirectoryChanges::DirectoryChanges() : m_state(std::make_unique<State>()) {}
DirectoryChanges::~DirectoryChanges() { Close(); }

char16_t DirectoryChanges::Separator() { return u'\\'; }

bool DirectoryChanges::Open(const std::u16string& folder, std::string& error) {
    Close();
    State& s = *m_state;
    s.root = folder;
    s.folder = CreateFileW(Wide(folder), FILE_LIST_DIRECTORY,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (s.folder == INVALID_HANDLE_VALUE) return error = "cannot watch " + ToUtf8(folder), false;
    s.read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s.wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s.buffer.resize(65536 / sizeof(DWORD));
    if (s.read.hEvent == nullptr || s.wake == nullptr || !s.Issue()) {
        Close();
        return error = "cannot watch " + ToUtf8(folder) + " for changes", false;
    }
    return true;
}

ChangesRead DirectoryChanges::Read(uint32_t timeoutMs, std::vector<DirectoryChange>& changes) {
    State& s = *m_state;
    const HANDLE waits[] = {s.wake, s.read.hEvent};
    const DWORD woke = WaitForMultipleObjects(s.reading ? 2 : 1, waits, FALSE, timeoutMs);
    if (woke == WAIT_OBJECT_0) {
        ResetEvent(s.wake);
        return ChangesRead::kWoken;
    }
    if (woke != WAIT_OBJECT_0 + 1) return ChangesRead::kTimeout;
    DWORD bytes = 0;
    if (!GetOverlappedResult(s.folder, &s.read, &bytes, FALSE)) {
        if (GetLastError() == ERROR_NOTIFY_ENUM_DIR) return s.Issue() ? ChangesRead::kOverflow : ChangesRead::kGone;
        s.reading = false;
        return ChangesRead::kGone;
    }
    if (bytes == 0) return s.Issue() ? ChangesRead::kOverflow : ChangesRead::kGone;
    s.Collect(bytes, changes);
    if (!s.Issue()) return ChangesRead::kGone;
    return ChangesRead::kChanges;
}

void DirectoryChanges::Wake() {
    if (m_state->wake != nullptr) SetEvent(m_state->wake);
}

void DirectoryChanges::Close() {
    State& s = *m_state;
    if (s.folder != INVALID_HANDLE_VALUE) {
        CancelIo(s.folder);
        DWORD ignored = 0;
        if (s.read.hEvent != nullptr && s.reading) GetOverlappedResult(s.folder, &s.read, &ignored, TRUE);
        CloseHandle(s.folder);
        s.folder = INVALID_HANDLE_VALUE;
    }
    if (s.read.hEvent != nullptr) CloseHandle(s.read.hEvent);
    if (s.wake != nullptr) CloseHandle(s.wake);
    s.read.hEvent = nullptr;
    s.wake = nullptr;
    s.reading = false;
}

}  // namespace platform
