// DiagText's appenders.
#include "util/diag_text.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/text.h"

namespace util {
namespace {

constexpr std::u16string_view kNullText = u"(NULL)";
// Narrow texts up to this many UTF-16 units are converted without touching the heap.
constexpr int kLocalNarrowUnits = 512;

}  // namespace

void DiagText::AppendBytes(const void* bytes, uint32_t count) {
    if (count == 0) return;
    const uint64_t needed = uint64_t{used_} + count;
    if (needed > storage_.size()) storage_.resize(static_cast<size_t>(needed * 2));
    std::memcpy(storage_.data() + used_, bytes, count);
    used_ = static_cast<uint32_t>(needed);
}

DiagText& DiagText::AppendWide(const char16_t* text) {
    if (text == nullptr) return AppendWide(kNullText);
    return AppendWide(std::u16string_view(text));
}

DiagText& DiagText::AppendWide(std::u16string_view text) {
    AppendBytes(text.data(), static_cast<uint32_t>(text.size() * sizeof(char16_t)));
    return *this;
}

DiagText& DiagText::AppendNarrow(const char* text) {
    if (text == nullptr) return AppendWide(kNullText);
    const int narrowBytes = static_cast<int>(std::strlen(text));
    const int needed = platform::AnsiToUtf16(text, narrowBytes, nullptr, 0);
    if (needed < 1) {
        AppendBytes(text, static_cast<uint32_t>(narrowBytes));
        return *this;
    }
    char16_t local[kLocalNarrowUnits];
    std::unique_ptr<char16_t[]> heap;
    char16_t* target = local;
    if (needed > kLocalNarrowUnits) {
        heap.reset(new (std::nothrow) char16_t[static_cast<size_t>(needed)]());
        if (!heap) return *this;
        target = heap.get();
    }
    const int converted = platform::AnsiToUtf16(text, narrowBytes, target, needed);
    if (converted < 1) {
        AppendBytes(text, static_cast<uint32_t>(narrowBytes));
    } else {
        AppendBytes(target, static_cast<uint32_t>(converted) * sizeof(char16_t));
    }
    return *this;
}

DiagText& DiagText::AppendNumber(uint64_t value) {
    if (value == 0) return AppendWide(u"0");
    char16_t digits[18];
    size_t n = sizeof digits / sizeof digits[0];
    for (; value != 0; value >>= 4) digits[--n] = u"0123456789abcdef"[value & 0xF];
    digits[--n] = u'x';
    digits[--n] = u'0';
    return AppendWide(std::u16string_view(digits + n, sizeof digits / sizeof digits[0] - n));
}

DiagText& DiagText::AppendDigit(uint8_t value) {
    const char16_t unit = static_cast<char16_t>(u'0' + value);
    AppendBytes(&unit, sizeof unit);
    return *this;
}

DiagText& DiagText::AppendBool(bool value) { return AppendWide(value ? u"1" : u"0"); }

}  // namespace util
