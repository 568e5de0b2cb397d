// SHA-1 through Boost's header-only implementation, laid out as the 20 bytes of the standard.
#include "reference/zef/content_digest.h"

namespace zef {

Digest DigestBuilder::Finish() {
    boost::uuids::detail::sha1::digest_type words;
    m_sha1.get_digest(words);
    Digest digest{};
    for (size_t i = 0; i < 5; ++i) {
        const uint32_t word = static_cast<uint32_t>(words[i]);
        digest[i * 4] = static_cast<uint8_t>(word >> 24);
        digest[i * 4 + 1] = static_cast<uint8_t>(word >> 16);
        digest[i * 4 + 2] = static_cast<uint8_t>(word >> 8);
        digest[i * 4 + 3] = static_cast<uint8_t>(word);
    }
    return digest;
}

Digest DigestOf(const void* bytes, size_t count) {
    DigestBuilder builder;
    builder.Add(bytes, count);
    return builder.Finish();
}

std::u16string DigestText(const Digest& digest) {
    static const char16_t kDigits[] = u"0123456789abcdef";
    std::u16string text;
    for (const uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

}  // namespace zef
