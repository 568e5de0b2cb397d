// The text fields of a RestoreReport: 262 units each, of which the wrapper writes at most 260
// and a terminator. The engine fills some of them, so a reader never trusts a terminator.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine_api/zef_records.h"

namespace engine_report {

constexpr size_t kReportTextLimit = 260;

// The text of a field up to its terminator, or the whole field when it has none.
inline std::u16string_view ReportText(const char16_t (&field)[zef::kTextUnits]) {
    size_t length = 0;
    while (length < zef::kTextUnits && field[length] != u'\0') ++length;
    return {field, length};
}

// Copies at most 260 units of text and a terminator into a field; a null text leaves it as is.
inline void SetReportText(char16_t (&field)[zef::kTextUnits], const char16_t* text) {
    if (text == nullptr) return;
    size_t length = 0;
    while (length < kReportTextLimit && text[length] != u'\0') {
        field[length] = text[length];
        ++length;
    }
    field[length] = u'\0';
}

}  // namespace engine_report
