// Checked intake and bounded output of the texts that cross the engine's exports.
#include "reference/zef/engine_text.h"

#include "platform/module.h"

namespace zef {

TextCheck TakeText(const char16_t* source, uint32_t maxUnits, std::u16string& text) {
    text.clear();
    if (source == nullptr) return TextCheck::kNull;
    uint32_t length = 0;
    while (source[length] != u'\0') {
        if (length == maxUnits) return TextCheck::kTooLong;
        ++length;
    }
    if (length == 0) return TextCheck::kEmpty;
    for (uint32_t i = 0; i < length; ++i) {
        const char16_t unit = source[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == length || source[i + 1] < 0xDC00 || source[i + 1] > 0xDFFF)
                return TextCheck::kIllFormed;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return TextCheck::kIllFormed;
        }
    }
    text.assign(source, length);
    return TextCheck::kOk;
}

const char16_t* TextCheckName(TextCheck check) {
    switch (check) {
        case TextCheck::kOk: return u"well-formed";
        case TextCheck::kNull: return u"missing";
        case TextCheck::kEmpty: return u"empty";
        case TextCheck::kTooLong: return u"longer than 259 units";
        case TextCheck::kIllFormed: return u"not well-formed UTF-16";
    }
    return u"unknown";
}

bool PutText(const std::u16string& text, uint32_t capacity, char16_t* buffer) {
    if (buffer == nullptr || capacity == 0) return false;
    if (text.size() >= capacity) {
        buffer[0] = u'\0';
        return false;
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = u'\0';
    return true;
}

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
    if (folder.empty()) return name;
    if (folder.back() == platform::kPathSeparator) return folder + name;
    return folder + platform::kPathSeparator + name;
}

std::u16string FolderOf(const std::u16string& path) {
    const size_t separator = path.rfind(platform::kPathSeparator);
    return separator == std::u16string::npos ? std::u16string() : path.substr(0, separator);
}

std::u16string Decimal(uint64_t value) {
    char16_t digits[24];
    size_t at = sizeof digits / sizeof digits[0];
    do {
        digits[--at] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::u16string(digits + at, digits + sizeof digits / sizeof digits[0]);
}

}  // namespace zef
