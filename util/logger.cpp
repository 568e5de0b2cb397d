// CLogger: building a line without the lock, then rotating, reopening and appending under it.
#include "util/logger.h"

#include <algorithm>
#include <memory>
#include <new>

#include "platform/module.h"
#include "platform/process.h"
#include "util/utf16.h"

namespace util {
namespace {

constexpr char16_t kByteOrderMark[] = {u'\xFEFF'};
constexpr uint32_t kPathUnits = 261;

const char16_t* LevelName(uint32_t level) {
    static const char16_t* const kNames[] = {u"", u"Fatal", u"Error", u"Warning",
                                             u"Info", u"Debug", u"Detail"};
    return level < 7 ? kNames[level] : u"";
}

// The tick of the last size check, shared by every logger of the process. It starts at the
// first write of the process and is then read and written under the writing logger's lock.
std::atomic<uint32_t> g_lastCheck{0};
std::once_flag g_lastCheckStarted;

// The text after the last backslash, or after the last slash when there is no backslash.
std::u16string_view BaseName(std::u16string_view path) {
    size_t cut = path.rfind(u'\\');
    if (cut == std::u16string_view::npos) cut = path.rfind(u'/');
    return cut == std::u16string_view::npos ? path : path.substr(cut + 1);
}

// Appends one formatted piece, cut to the room left; returns the new length.
template <typename... Args>
size_t AppendPiece(char16_t* buffer, size_t capacity, size_t used, const char16_t* format,
                   const Args&... args) {
    if (used + 1 >= capacity) return used;
    FormatW(buffer + used, capacity - used, format, args...);
    return used + Utf16Length(buffer + used);
}

}  // namespace

CLogger::CLogger(const platform::FileOps& files, TickSource ticks)
    : m_files(files), m_ticks(ticks) {}

CLogger::~CLogger() { Close(); }

uint32_t CLogger::Open(uint32_t maxLevel, const char16_t* path) {
    if (path == nullptr || IsOpen()) return 0;
    char16_t full[kPathUnits] = {};
    if (m_files.fullPath(path, full, kPathUnits) == 0) return 0;
    std::u16string folder(full);
    const size_t cut = folder.rfind(platform::kPathSeparator);
    if (cut != std::u16string::npos) {
        folder.resize(cut);
        const uint32_t made = m_files.createFolderTree(folder.c_str());
        if (made != platform::kFolderCreated && made != platform::kFolderExists) return 0;
    }

    std::lock_guard<std::mutex> guard(m_lock);
    m_maxLevel = maxLevel;
    m_path = path;
    m_header.store(1);
    m_file = CreateLogFile();
    if (m_file == platform::kInvalidFile) return 0;
    m_open.store(1);
    return 1;
}

void CLogger::SetHeader(int32_t on) {
    if (!IsOpen()) return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_header.store(on != 0 ? 1 : 0);
}

void CLogger::Close() {
    if (!IsOpen()) return;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file != platform::kInvalidFile) m_files.close(m_file);
    m_file = platform::kInvalidFile;
    m_open.store(0);
}

platform::FileHandle CLogger::CreateLogFile() const {
    bool existed = false;
    const platform::FileHandle file = m_files.openAlways(m_path.c_str(), &existed);
    if (file != platform::kInvalidFile && !existed) {
        m_files.write(file, kByteOrderMark, sizeof kByteOrderMark);
    }
    return file;
}

size_t CLogger::BuildLine(char16_t* buffer, size_t capacity, const char16_t* sourceFile,
                          uint32_t line, uint32_t level, const char16_t* format,
                          const FormatArg* args, size_t argCount) const {
    size_t used = 0;
    if (m_header.load() != 0) {
        const platform::SystemTime now = platform::LocalTime();
        used = AppendPiece(
            buffer, capacity, used,
            u"[%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d(%3.3d)] [PID:%d] [TID:%d] [%s]\t", now.wYear,
            now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
            platform::CurrentProcessId(), platform::CurrentThreadId(), LevelName(level));
    }
    if (used + 1 < capacity) {
        FormatWArgs(buffer + used, capacity - used, format, args, argCount);
        used += Utf16Length(buffer + used);
    }
    if (sourceFile != nullptr && line != 0) {
        used = AppendPiece(buffer, capacity, used, u"[.\\%s(%d)]", BaseName(sourceFile), line);
    }
    return AppendPiece(buffer, capacity, used, u"\r\n");
}

void CLogger::WriteV(const char16_t* sourceFile, uint32_t line, uint32_t level,
                     const char16_t* format, const FormatArg* args, size_t argCount) {
    if (!IsOpen() || format == nullptr || level > m_maxLevel || level > kDefaultMaxLevel) return;

    const int count = std::max(FormattedLengthArgs(format, args, argCount), -1);
    const size_t needed = static_cast<size_t>(count + (m_header.load() != 0 ? 180 : 100));
    char16_t local[kStackLineUnits];
    std::unique_ptr<char16_t[]> heap;
    char16_t* buffer = local;
    size_t capacity = kStackLineUnits;
    if (needed > kStackLineUnits) {
        heap.reset(new (std::nothrow) char16_t[needed + 1]());
        if (!heap) return;
        buffer = heap.get();
        capacity = needed;
    }
    const size_t units = BuildLine(buffer, capacity, sourceFile, line, level, format, args,
                                   argCount);
    AppendUnderLock(buffer, units);
}

void CLogger::AppendUnderLock(const char16_t* text, size_t units) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!IsOpen()) return;  // closed while the line was being built
    std::call_once(g_lastCheckStarted, [this] { g_lastCheck.store(m_ticks()); });

    const uint32_t now = m_ticks();
    const bool checkDue = now - g_lastCheck.load() >= kCheckIntervalMs;
    if (checkDue && m_file != platform::kInvalidFile && m_files.sizeLow(m_file) > m_sizeLimit) {
        m_files.close(m_file);
        m_file = platform::kInvalidFile;
        char16_t rotated[kPathUnits] = {};
        FormatW(rotated, kPathUnits, u"%s.old", m_path);
        m_files.moveReplacing(m_path.c_str(), rotated);
    }
    if (m_file == platform::kInvalidFile) m_file = CreateLogFile();
    if (m_file != platform::kInvalidFile && m_files.seekToEnd(m_file)) {
        m_files.write(m_file, text, static_cast<uint32_t>(units * sizeof(char16_t)));
    }
    if (checkDue) {
        // Closing and reopening now and then lets another process rotate or remove the file.
        if (m_file != platform::kInvalidFile) m_files.close(m_file);
        m_file = CreateLogFile();
        g_lastCheck.store(now);
    }
}

}  // namespace util
