// What a file's first bytes say about its content: a known format by its signature, plain
// text, or neither; and how random the bytes look. The detector's content signals read them.
#pragma once
#include <cstddef>
#include <cstdint>

namespace pellumhost {

// kUnknown: no signature this host knows and not plain text (random bytes, ciphertext, or a
// format not listed).
enum class ContentKind : uint8_t {
    kUnknown, kText, kPdf, kPng, kJpeg, kGif, kZip, kGzip, kBzip2, kXz, kSevenZip, kRar, kTar,
    kOle, kSqlite, kElf, kPe, kRiff, kOgg, kMp3, kMp4
};

// The kind of content that starts with these bytes; an empty head is kUnknown.
ContentKind KindOf(const uint8_t* head, size_t count);
// "pdf", "text", ...; "unknown" for kUnknown.
const char* KindName(ContentKind kind);

// Shannon entropy of bytes, in bits per byte (0 for no bytes).
double EntropyOf(const uint8_t* bytes, size_t count);

}  // namespace pellumhost
