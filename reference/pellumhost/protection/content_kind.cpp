// Content kinds by signature (magic numbers at fixed offsets) or by the look of plain text.
#include "reference/pellumhost/protection/content_kind.h"

#include <cmath>
#include <cstring>

namespace pellumhost {
namespace {

struct Signature {
    ContentKind kind;
    size_t offset;
    const char* bytes;
    size_t count;
};

#define PH_SIGNATURE(kind, offset, text) {ContentKind::kind, offset, text, sizeof(text) - 1}
const Signature kSignatures[] = {
    PH_SIGNATURE(kPdf, 0, "%PDF-"),
    PH_SIGNATURE(kPng, 0, "\x89PNG\r\n\x1a\n"),
    PH_SIGNATURE(kJpeg, 0, "\xFF\xD8\xFF"),
    PH_SIGNATURE(kGif, 0, "GIF8"),
    PH_SIGNATURE(kZip, 0, "PK\x03\x04"),
    PH_SIGNATURE(kZip, 0, "PK\x05\x06"),  // an empty archive
    PH_SIGNATURE(kGzip, 0, "\x1F\x8B"),
    PH_SIGNATURE(kBzip2, 0, "BZh"),
    PH_SIGNATURE(kXz, 0, "\xFD" "7zXZ"),
    PH_SIGNATURE(kSevenZip, 0, "7z\xBC\xAF\x27\x1C"),
    PH_SIGNATURE(kRar, 0, "Rar!\x1A\x07"),
    PH_SIGNATURE(kTar, 257, "ustar"),
    PH_SIGNATURE(kOle, 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"),
    PH_SIGNATURE(kSqlite, 0, "SQLite format 3"),
    PH_SIGNATURE(kElf, 0, "\x7F" "ELF"),
    PH_SIGNATURE(kPe, 0, "MZ"),
    PH_SIGNATURE(kRiff, 0, "RIFF"),
    PH_SIGNATURE(kOgg, 0, "OggS"),
    PH_SIGNATURE(kMp3, 0, "ID3"),
    PH_SIGNATURE(kMp4, 4, "ftyp"),
};
#undef PH_SIGNATURE

// Plain text has (almost) no control bytes but tabs, line ends and form feeds; random bytes
// have about one in eight. UTF-8 beyond ASCII passes as text.
bool LooksLikeText(const uint8_t* head, size_t count) {
    static const struct ControlBytes {
        uint8_t is[256] = {};
        ControlBytes() {
            for (int b = 0; b < 0x20; ++b) is[b] = 1;
            is[0x7F] = 1;
            is['\t'] = is['\n'] = is['\r'] = is['\f'] = 0;
        }
    } kControl;
    if (std::memchr(head, 0, count) != nullptr) return false;
    size_t control = 0;
    for (size_t i = 0; i < count; ++i) control += kControl.is[head[i]];
    return control * 100 <= count;
}

}  // namespace

ContentKind KindOf(const uint8_t* head, size_t count) {
    if (count == 0) return ContentKind::kUnknown;
    for (const Signature& s : kSignatures)
        if (count >= s.offset + s.count && std::memcmp(head + s.offset, s.bytes, s.count) == 0)
            return s.kind;
    return LooksLikeText(head, count) ? ContentKind::kText : ContentKind::kUnknown;
}

const char* KindName(ContentKind kind) {
    static const char* const kNames[] = {"unknown", "text", "pdf", "png", "jpeg", "gif", "zip",
                                         "gzip", "bzip2", "xz", "7z", "rar", "tar", "ole",
                                         "sqlite", "elf", "pe", "riff", "ogg", "mp3", "mp4"};
    const size_t at = static_cast<size_t>(kind);
    return at < sizeof kNames / sizeof kNames[0] ? kNames[at] : "unknown";
}

double EntropyOf(const uint8_t* bytes, size_t count) {
    if (count == 0) return 0;
    size_t counts[256] = {};
    for (size_t i = 0; i < count; ++i) ++counts[bytes[i]];
    double bits = 0;
    for (size_t c : counts) {
        if (c == 0) continue;
        const double p = static_cast<double>(c) / static_cast<double>(count);
        bits -= p * std::log2(p);
    }
    return bits;
}

}  // namespace pellumhost
