// UTF-8 <-> UTF-16 conversion shared by both platforms; ill-formed input becomes U+FFFD,
// one replacement per maximal ill-formed subpart, as the Unicode standard recommends.
#include "platform/text.h"

#include <cstdint>

namespace platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Decodes one code point at text[i]; advances i past it (or past the ill-formed subpart).
char32_t NextCodePoint(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i++);
    if (lead < 0x80) return lead;

    int extra = 0;
    char32_t cp = 0;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1; cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2; cp = lead & 0x0Fu;
        if (lead == 0xE0) lo = 0xA0;  // no overlong forms
        if (lead == 0xED) hi = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3; cp = lead & 0x07u;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return kReplacement;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size()) return kReplacement;
        const uint8_t next = byte(i);
        if (next < lo || next > hi) return kReplacement;
        lo = 0x80; hi = 0xBF;
        cp = (cp << 6) | (next & 0x3Fu);
        ++i;
    }
    return cp;
}

}  // namespace

size_t DecodeUtf8(std::string_view text, char16_t* dst, size_t dstCapacity) {
    size_t needed = 0;
    const auto put = [&](char16_t unit) {
        if (needed < dstCapacity) dst[needed] = unit;
        ++needed;
    };
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        if (cp >= 0x10000) {
            put(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            put(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            put(static_cast<char16_t>(cp));
        }
    }
    return needed;
}

std::u16string FromUtf8(std::string_view text) {
    std::u16string out(DecodeUtf8(text, nullptr, 0), u'\0');
    DecodeUtf8(text, out.data(), out.size());
    return out;
}

size_t EncodeUtf8(std::u16string_view text, char* dst, size_t dstCapacity) {
    size_t needed = 0;
    const auto put = [&](uint32_t byte) {
        if (needed < dstCapacity) dst[needed] = static_cast<char>(byte);
        ++needed;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp < 0x80) {  // the common case first
            put(cp);
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;  // unpaired surrogate
        }
        if (cp < 0x800) {
            put(0xC0 | (cp >> 6));
            put(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            put(0xE0 | (cp >> 12));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        } else {
            put(0xF0 | (cp >> 18));
            put(0x80 | ((cp >> 12) & 0x3F));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        }
    }
    return needed;
}

std::string ToUtf8(std::u16string_view text) {
    std::string out(EncodeUtf8(text, nullptr, 0), '\0');
    EncodeUtf8(text, out.data(), out.size());
    return out;
}

}  // namespace platform
