// Reading back the diagnostic lines that the reference log library captured.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct CapturedLine {
    uint32_t level;
    uint32_t line;
    std::string source;  // UTF-8
    std::string text;    // UTF-8

    bool operator==(const CapturedLine& other) const {
        return level == other.level && line == other.line && source == other.source &&
               text == other.text;
    }
};
std::ostream& operator<<(std::ostream& out, const CapturedLine& line);

// Starts capturing every tag's lines at every level (previous capture discarded).
void StartLogCapture();
// The captured lines of one module tag, oldest first.
std::vector<CapturedLine> CapturedLines(const char16_t* moduleTag = u"Plugin ZEF Wrapper");
// Only the lines with this line number.
std::vector<CapturedLine> CapturedAt(uint32_t line,
                                     const char16_t* moduleTag = u"Plugin ZEF Wrapper");
