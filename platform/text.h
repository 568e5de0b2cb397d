// Conversions between the system's 8-bit text and UTF-16. Where the operating system wants
// UTF-8 (Linux file names and environment), the posix layer converts with ToUtf8/FromUtf8.
#pragma once
#include <string>
#include <string_view>

namespace platform {

// Converts srcUnits bytes of 8-bit text in the system ANSI code page (UTF-8 on Linux) as
// MultiByteToWideChar(CP_ACP, 0, ...) does. With dstCapacity 0 it only counts the units
// needed. Returns the units written or needed, or 0 on failure (also when dst is too small).
int AnsiToUtf16(const char* src, int srcUnits, char16_t* dst, int dstCapacity);

// UTF-8 <-> UTF-16. Ill-formed input becomes U+FFFD; never fails.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// Encodes UTF-16 as UTF-8 followed by a terminating zero into dst, as
// WideCharToMultiByte(CP_UTF8, 0, ...) does; an unpaired surrogate becomes U+FFFD. Returns the
// bytes written, the terminator included, or 0 when they do not fit in dstCapacity bytes.
int Utf16ToUtf8(std::u16string_view text, char* dst, int dstCapacity);

// Encodes UTF-16 as UTF-8 into dst (may be null when dstCapacity is 0), an unpaired surrogate
// as U+FFFD, and returns the bytes the whole input needs; writes at most dstCapacity bytes.
size_t EncodeUtf8(std::u16string_view text, char* dst, size_t dstCapacity);

// Decodes UTF-8 into dst (may be null when dstCapacity is 0) and returns the UTF-16 units
// the whole input needs; writes at most dstCapacity units.
size_t DecodeUtf8(std::string_view text, char16_t* dst, size_t dstCapacity);

}  // namespace platform
