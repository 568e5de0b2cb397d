// ReadDirectoryChangesW as the after-the-fact file activity source: one overlapped read over the
// watched folder and everything under it. Windows reports a write while it happens, often more
// than once, so a changed file is reported only once it has been quiet for kSettle. One thread
// reads the changes and runs the callbacks. The notification does not tell the writer, so every
// change is reported for process 0.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "reference/pellumhost/file_activity.h"

namespace pellumhost {
namespace {

constexpr DWORD kHeadBytes = 65536;
constexpr auto kSettle = std::chrono::milliseconds(100);
constexpr DWORD kFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

class DirectoryChangesSource final : public FileActivitySource {
public:
    ~DirectoryChangesSource() override { Stop(); }
    const char* Kind() const override { return "after-the-fact"; }

    bool Start(const std::string& folder, FileActivityCallbacks callbacks,
               std::string& error) override {
        m_root = platform::FromUtf8(folder);
        m_folder = CreateFileW(Wide(m_root), FILE_LIST_DIRECTORY,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                               nullptr);
        if (m_folder == INVALID_HANDLE_VALUE) return error = "cannot watch " + folder, false;
        m_read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_buffer.resize(65536 / sizeof(DWORD));
        if (m_read.hEvent == nullptr || m_stop == nullptr || !Issue()) {
            Close();
            return error = "cannot watch " + folder + " for changes", false;
        }
        m_callbacks = std::move(callbacks);
        m_running = true;
        m_reader = std::thread([this] { ReadLoop(); });
        return true;
    }

    void Stop() override {
        if (!m_running.exchange(false)) return;
        SetEvent(m_stop);
        m_reader.join();
        Close();
    }

private:
    bool Issue() {
        ResetEvent(m_read.hEvent);
        return ReadDirectoryChangesW(m_folder, m_buffer.data(),
                                     static_cast<DWORD>(m_buffer.size() * sizeof(DWORD)), TRUE,
                                     kFilter, nullptr, &m_read, nullptr) != 0;
    }

    void Close() {
        if (m_folder != INVALID_HANDLE_VALUE) {
            CancelIo(m_folder);
            DWORD ignored = 0;
            if (m_read.hEvent != nullptr) GetOverlappedResult(m_folder, &m_read, &ignored, TRUE);
            CloseHandle(m_folder);
            m_folder = INVALID_HANDLE_VALUE;
        }
        if (m_read.hEvent != nullptr) CloseHandle(m_read.hEvent);
        if (m_stop != nullptr) CloseHandle(m_stop);
        m_read.hEvent = nullptr;
        m_stop = nullptr;
    }

    void Log(const std::string& line) {
        if (m_callbacks.log) m_callbacks.log(line);
    }

    void ReadLoop() {
        const HANDLE waits[] = {m_read.hEvent, m_stop};
        bool reading = true;
        while (m_running) {
            const DWORD woke = WaitForMultipleObjects(reading ? 2 : 1, reading ? waits : &m_stop,
                                                      FALSE, m_quiet.empty() ? 1000 : 20);
            if (reading && woke == WAIT_OBJECT_0) {
                DWORD bytes = 0;
                if (!GetOverlappedResult(m_folder, &m_read, &bytes, FALSE)) {
                    Log("the watched folder " + platform::ToUtf8(m_root) +
                        " cannot be read any more; nothing more is seen");
                    reading = false;
                } else {
                    if (bytes == 0) Log("too many changes at once: some were not seen and are not backed up");
                    else Collect(bytes);
                    reading = Issue();
                }
            } else if (woke == (reading ? WAIT_OBJECT_0 + 1 : WAIT_OBJECT_0)) {
                break;
            }
            ReportSettled();
        }
    }

    // Notes every file the notifications name, with the time of its latest notification.
    void Collect(DWORD bytes) {
        const auto now = std::chrono::steady_clock::now();
        const auto* base = reinterpret_cast<const uint8_t*>(m_buffer.data());
        for (DWORD at = 0; at + sizeof(FILE_NOTIFY_INFORMATION) <= bytes;) {
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + at);
            if (info->Action == FILE_ACTION_ADDED || info->Action == FILE_ACTION_MODIFIED ||
                info->Action == FILE_ACTION_RENAMED_NEW_NAME) {
                const std::u16string name(reinterpret_cast<const char16_t*>(info->FileName),
                                          info->FileNameLength / sizeof(wchar_t));
                m_quiet[m_root + u"\\" + name] = now;
            }
            if (info->NextEntryOffset == 0) break;
            at += info->NextEntryOffset;
        }
    }

    void ReportSettled() {
        const auto now = std::chrono::steady_clock::now();
        for (auto it = m_quiet.begin(); it != m_quiet.end();) {
            if (now - it->second < kSettle) {
                ++it;
                continue;
            }
            Report(it->first);
            it = m_quiet.erase(it);
        }
    }

    void Report(const std::u16string& path) {
        const DWORD attributes = GetFileAttributesW(Wide(path));
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
        const HANDLE file = CreateFileW(Wide(path), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;  // gone again, or locked: nothing to back up
        std::vector<uint8_t> head(kHeadBytes);
        DWORD got = 0;
        if (!ReadFile(file, head.data(), kHeadBytes, &got, nullptr)) got = 0;
        CloseHandle(file);
        head.resize(got);
        m_callbacks.onWritten(0, platform::ToUtf8(path), head);
    }

    std::u16string m_root;
    HANDLE m_folder = INVALID_HANDLE_VALUE;
    HANDLE m_stop = nullptr;
    OVERLAPPED m_read{};
    std::vector<DWORD> m_buffer;  // DWORD-aligned, as the notifications must be
    std::atomic<bool> m_running{false};
    std::thread m_reader;
    std::map<std::u16string, std::chrono::steady_clock::time_point> m_quiet;  // the reader's
    FileActivityCallbacks m_callbacks;
};

}  // namespace

std::unique_ptr<FileActivitySource> MakeAfterTheFactSource() {
    return std::make_unique<DirectoryChangesSource>();
}

}  // namespace pellumhost
