// Captured diagnostic lines through the reference log library's controls.
#include "tests/fakes/captured_log.h"

#include "host/log_library_control.h"
#include "platform/text.h"

std::ostream& operator<<(std::ostream& out, const CapturedLine& line) {
    return out << "{" << line.level << ", " << line.line << ", " << line.source << ", \""
               << line.text << "\"}";
}

void StartLogCapture() {
    Quastle_SetEnabled(1);
    Quastle_ResetLevels();
    Quastle_SetDefaultLevel(1);
    Quastle_SinkToNothing();
    Quastle_SetCapture(1);
}

std::vector<CapturedLine> CapturedLines(const char16_t* moduleTag) {
    std::vector<CapturedLine> lines;
    const uint32_t count = Quastle_CapturedCount();
    for (uint32_t i = 0; i < count; ++i) {
        QuastleLine captured{};
        if (Quastle_GetCaptured(i, &captured) == 0) break;
        if (std::u16string(captured.moduleTag) != moduleTag) continue;
        const std::u16string text =
            captured.text != nullptr ? std::u16string(captured.text, captured.textBytes / 2) : u"";
        lines.push_back({captured.level, captured.line, platform::ToUtf8(captured.sourceFile),
                         platform::ToUtf8(text)});
    }
    return lines;
}

std::vector<CapturedLine> CapturedAt(uint32_t line, const char16_t* moduleTag) {
    std::vector<CapturedLine> picked;
    for (const CapturedLine& captured : CapturedLines(moduleTag)) {
        if (captured.line == line) picked.push_back(captured);
    }
    return picked;
}
