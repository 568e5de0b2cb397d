// CLogger: a log file of the plug-in's own (Report.log), in UTF-16LE. Lines above the maximum
// level are dropped; each line may carry a time, process and thread header; the file is
// closed and reopened at most every 2000 ms, and then rotated to "<path>.old" when it has
// grown past the size limit. Any thread may write; one lock per logger keeps every line whole.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/file_ops.h"
#include "util/format_w.h"

namespace util {

class CLogger {
public:
    using TickSource = uint32_t (*)();

    static constexpr uint32_t kDefaultMaxLevel = 6;
    static constexpr uint32_t kSizeLimit = 0x200000;
    static constexpr uint32_t kCheckIntervalMs = 2000;
    static constexpr uint32_t kStackLineUnits = 2000;

    // Opens nothing. The file calls and the clock may be replaced (tests do).
    explicit CLogger(const platform::FileOps& files = platform::SystemFileOps(),
                     TickSource ticks = platform::TickCount);
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;
    virtual ~CLogger();

    // Creates the file's folder and opens the file; 1 on success, 0 on failure (also when
    // already open or without a path).
    uint32_t Open(uint32_t maxLevel, const char16_t* path);
    // Header on (non-zero) or off; ignored unless open.
    void SetHeader(int32_t on);
    void Close();

    // One line formatted with FormatW's conversions, without a source suffix.
    template <typename... Args>
    void Write(uint32_t level, const char16_t* format, const Args&... args) {
        const FormatArg list[] = {FormatArg(args)..., FormatArg()};
        WriteV(nullptr, 0, level, format, list, sizeof...(Args));
    }
    // The general form: a source suffix "[.\name(line)]" is added when sourceFile is given
    // and line is not 0.
    void WriteV(const char16_t* sourceFile, uint32_t line, uint32_t level, const char16_t* format,
                const FormatArg* args, size_t argCount);

    bool IsOpen() const { return m_open.load() != 0; }

private:
    // Opens the file for appending; a file it creates starts with the byte-order mark.
    platform::FileHandle CreateLogFile() const;
    // Builds the whole line into buffer (capacity units); returns the units used.
    size_t BuildLine(char16_t* buffer, size_t capacity, const char16_t* sourceFile,
                     uint32_t line, uint32_t level, const char16_t* format, const FormatArg* args,
                     size_t argCount) const;
    void AppendUnderLock(const char16_t* text, size_t units);

    const platform::FileOps& m_files;
    const TickSource m_ticks;
    std::mutex m_lock;
    std::u16string m_path;
    uint32_t m_maxLevel = kDefaultMaxLevel;
    platform::FileHandle m_file = platform::kInvalidFile;
    std::atomic<int32_t> m_open{0};
    std::atomic<int32_t> m_header{1};
    uint32_t m_sizeLimit = kSizeLimit;
};

}  // namespace util
