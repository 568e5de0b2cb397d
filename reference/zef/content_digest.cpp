// SHA-1 (FIPS 180-4) over 64-byte blocks, whole blocks straight from the caller's buffer; with
// the processor's SHA instructions where it has them (some ten times faster), else portably.
#include "reference/zef/content_digest.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace zef {
namespace {

bool HasShaInstructions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || (c & bit_SSE4_1) == 0 || (c & bit_SSSE3) == 0)
        return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA) != 0;
}

// Twenty groups of four rounds; the message schedule runs three groups ahead of its use.
__attribute__((target("sha,sse4.1,ssse3"))) void ShaBlocks(uint32_t state[5], const uint8_t* data,
                                                         size_t blocks) {
    const __m128i order = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (; blocks != 0; --blocks, data += 64) {
        const __m128i abcdBefore = abcd;
        const __m128i eBefore = e0;
        __m128i m[4];
        __m128i e1;
#pragma GCC unroll 20
        for (int g = 0; g < 20; ++g) {
            __m128i& w = m[g % 4];
            if (g < 4)
                w = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * g)), order);
            __m128i& in = g % 2 == 0 ? e0 : e1;
            __m128i& out = g % 2 == 0 ? e1 : e0;
            in = g == 0 ? _mm_add_epi32(e0, w) : _mm_sha1nexte_epu32(in, w);
            out = abcd;
            if (g >= 3 && g <= 18) m[(g + 1) % 4] = _mm_sha1msg2_epu32(m[(g + 1) % 4], w);
            switch (g / 5) {
                case 0: abcd = _mm_sha1rnds4_epu32(abcd, in, 0); break;
                case 1: abcd = _mm_sha1rnds4_epu32(abcd, in, 1); break;
                case 2: abcd = _mm_sha1rnds4_epu32(abcd, in, 2); break;
                default: abcd = _mm_sha1rnds4_epu32(abcd, in, 3); break;
            }
            if (g >= 1 && g <= 16) m[(g + 3) % 4] = _mm_sha1msg1_epu32(m[(g + 3) % 4], w);
            if (g >= 2 && g <= 17) m[(g + 2) % 4] = _mm_xor_si128(m[(g + 2) % 4], w);
        }
        e0 = _mm_sha1nexte_epu32(e0, eBefore);
        abcd = _mm_add_epi32(abcd, abcdBefore);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

const bool kShaInstructions = HasShaInstructions();

inline uint32_t Rotate(uint32_t value, int bits) { return (value << bits) | (value >> (32 - bits)); }

inline uint32_t BigEndian(const uint8_t* bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3];
}

}  // namespace

DigestBuilder::DigestBuilder(bool portable) : m_shaInstructions(kShaInstructions && !portable) {}

void DigestBuilder::Block(const uint8_t* block) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) w[i] = BigEndian(block + 4 * i);
    for (int i = 16; i < 80; ++i) w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3], e = m_state[4];
    const auto round = [&](uint32_t f, uint32_t k, uint32_t word) {
        const uint32_t next = Rotate(a, 5) + f + e + k + word;
        e = d;
        d = c;
        c = Rotate(b, 30);
        b = a;
        a = next;
    };
    for (int i = 0; i < 20; ++i) round((b & c) | (~b & d), 0x5A827999u, w[i]);
    for (int i = 20; i < 40; ++i) round(b ^ c ^ d, 0x6ED9EBA1u, w[i]);
    for (int i = 40; i < 60; ++i) round((b & c) | (b & d) | (c & d), 0x8F1BBCDCu, w[i]);
    for (int i = 60; i < 80; ++i) round(b ^ c ^ d, 0xCA62C1D6u, w[i]);
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
}

void DigestBuilder::Add(const void* bytes, size_t count) {
    const uint8_t* at = static_cast<const uint8_t*>(bytes);
    m_totalBytes += count;
    if (m_pendingBytes != 0) {
        const size_t taken = std::min(count, sizeof m_pending - m_pendingBytes);
        std::memcpy(m_pending + m_pendingBytes, at, taken);
        m_pendingBytes += taken;
        at += taken;
        count -= taken;
        if (m_pendingBytes < sizeof m_pending) return;
        if (m_shaInstructions) ShaBlocks(m_state, m_pending, 1);
        else Block(m_pending);
        m_pendingBytes = 0;
    }
    if (m_shaInstructions && count >= 64) {
        ShaBlocks(m_state, at, count / 64);
        at += count / 64 * 64;
        count %= 64;
    }
    for (; count >= 64; at += 64, count -= 64) Block(at);
    std::memcpy(m_pending, at, count);
    m_pendingBytes = count;
}

Digest DigestBuilder::Finish() {
    const uint64_t bits = m_totalBytes * 8;
    const uint8_t one = 0x80;
    Add(&one, 1);
    const uint8_t zeros[64] = {};
    Add(zeros, (m_pendingBytes <= 56 ? 56 : 120) - m_pendingBytes);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Add(length, sizeof length);
    Digest digest{};
    for (size_t i = 0; i < 5; ++i) {
        digest[i * 4] = static_cast<uint8_t>(m_state[i] >> 24);
        digest[i * 4 + 1] = static_cast<uint8_t>(m_state[i] >> 16);
        digest[i * 4 + 2] = static_cast<uint8_t>(m_state[i] >> 8);
        digest[i * 4 + 3] = static_cast<uint8_t>(m_state[i]);
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
