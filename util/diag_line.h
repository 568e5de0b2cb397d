// DiagLine: the metadata of one diagnostic line, and the hand-over of its text to the host.
#pragma once
#include <cstdint>
#include <string>

#include "host/log_library.h"
#include "util/diag_text.h"

namespace util {

class DiagLine {
public:
    // The module tag is copied; sourceFile must outlive the line (it is a constant).
    DiagLine(LogHandle handle, const char16_t* moduleTag, uint32_t level,
             const char16_t* sourceFile, uint32_t line);

    // Calls Log_Flush with the text bytes (null when empty) when the handle is non-null.
    void Flush(const DiagText& text) const;

private:
    LogHandle handle_;
    std::u16string moduleTag_;
    uint32_t level_;
    const char16_t* sourceFile_;
    uint32_t line_;
};

}  // namespace util
