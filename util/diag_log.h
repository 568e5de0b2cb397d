// Diagnostic lines through the host's log library. Each source file declares one DiagSite
// with its module tag and source name, and writes a line with one statement:
//
//     constexpr util::DiagSite kDiag{u"Plugin ZEF Wrapper", u"PlugEngineZef"};
//     kDiag.Write(kDiagError, 395, u"Fail to access ZEF dll");
//
// The host's handle and level are asked for every line, before any text is built, so a
// line the host does not want costs two calls and nothing else.
#pragma once
#include <cstdint>

#include "host/log_library.h"
#include "util/diag_line.h"
#include "util/diag_text.h"

namespace util {

constexpr uint32_t kDiagTrace = 2;
constexpr uint32_t kDiagWarning = 3;
constexpr uint32_t kDiagError = 5;

class DiagSite {
public:
    constexpr DiagSite(const char16_t* moduleTag, const char16_t* sourceFile)
        : moduleTag_(moduleTag), sourceFile_(sourceFile) {}

    // The host's handle when it wants a line of this level for this tag, otherwise null:
    // no handle, level 0 (tag off) or a level above the line's.
    LogHandle Gate(uint32_t level) const {
        const LogHandle handle = Log_GetDefaultHandle();
        if (handle == nullptr) return nullptr;
        const uint32_t hostLevel = Log_GetLogLevel(handle, moduleTag_);
        if (hostLevel == 0 || hostLevel > level) return nullptr;
        return handle;
    }

    // Writes one line made of the pieces in order (see AppendPiece for the forms).
    template <typename... Pieces>
    void Write(uint32_t level, uint32_t line, const Pieces&... pieces) const {
        const LogHandle handle = Gate(level);
        if (handle == nullptr) return;
        DiagText text;
        (AppendPiece(text, pieces), ...);
        DiagLine(handle, moduleTag_, level, sourceFile_, line).Flush(text);
    }

    // The trace pair of an exported function: "==> " or "<== ", the name and ",".
    void Enter(uint32_t line, const char16_t* function) const {
        Write(kDiagTrace, line, u"==> ", function, u",");
    }
    void Leave(uint32_t line, const char16_t* function) const {
        Write(kDiagTrace, line, u"<== ", function, u",");
    }

    const char16_t* moduleTag() const { return moduleTag_; }
    const char16_t* sourceFile() const { return sourceFile_; }

private:
    const char16_t* moduleTag_;
    const char16_t* sourceFile_;
};

}  // namespace util
