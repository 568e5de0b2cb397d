// Little-endian writing and bounds-checked reading of the engine's own record files.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "reference/zef/content_digest.h"

namespace zef {

constexpr uint32_t kMaxTextUnits = 32767;

class RecordWriter {
public:
    void U32(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) m_bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
    void U64(uint64_t value) {
        U32(static_cast<uint32_t>(value));
        U32(static_cast<uint32_t>(value >> 32));
    }
    void Bytes(const void* data, size_t count) {
        const uint8_t* first = static_cast<const uint8_t*>(data);
        m_bytes.insert(m_bytes.end(), first, first + count);
    }
    void Text(const std::u16string& text) {
        U32(static_cast<uint32_t>(text.size()));
        for (const char16_t unit : text) {
            m_bytes.push_back(static_cast<uint8_t>(unit));
            m_bytes.push_back(static_cast<uint8_t>(unit >> 8));
        }
    }
    std::vector<uint8_t>& Result() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

class RecordReader {
public:
    RecordReader(const uint8_t* bytes, size_t size) : m_bytes(bytes), m_size(size) {}
    bool U32(uint32_t& value) {
        if (m_size - m_at < 4) return false;
        value = 0;
        for (int i = 3; i >= 0; --i) value = (value << 8) | m_bytes[m_at + static_cast<size_t>(i)];
        m_at += 4;
        return true;
    }
    bool U64(uint64_t& value) {
        uint32_t low = 0;
        uint32_t high = 0;
        if (!U32(low) || !U32(high)) return false;
        value = (static_cast<uint64_t>(high) << 32) | low;
        return true;
    }
    bool Bytes(void* data, size_t count) {
        if (m_size - m_at < count) return false;
        std::memcpy(data, m_bytes + m_at, count);
        m_at += count;
        return true;
    }
    bool Text(std::u16string& text) {
        uint32_t units = 0;
        if (!U32(units) || units > kMaxTextUnits || (m_size - m_at) / 2 < units) return false;
        text.resize(units);
        for (uint32_t i = 0; i < units; ++i, m_at += 2)
            text[i] = static_cast<char16_t>(m_bytes[m_at] | (m_bytes[m_at + 1] << 8));
        return true;
    }
    bool AtEnd() const { return m_at == m_size; }

private:
    const uint8_t* m_bytes;
    size_t m_size;
    size_t m_at = 0;
};


constexpr size_t kMagicBytes = 8;

// CRC-32C (Castagnoli) of bytes, continuing from crc (0 to begin): the checksum of each
// record of the edition log.
inline uint32_t Crc32c(const uint8_t* bytes, size_t count, uint32_t crc = 0) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? (c >> 1) ^ 0x82F63B78u : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// The bytes written so far followed by their SHA-1, which lets a reader refuse a torn file.
inline std::vector<uint8_t> Sealed(RecordWriter& out) {
    const Digest seal = DigestOf(out.Result().data(), out.Result().size());
    out.Bytes(seal.data(), seal.size());
    return std::move(out.Result());
}

// Checks that bytes begin with the 8-byte magic and end with the SHA-1 of what precedes it;
// the records then lie between the magic and *bodyEnd.
inline bool CheckSealed(const std::vector<uint8_t>& bytes, const char* magic, size_t* bodyEnd,
                        std::u16string& reason) {
    Digest seal{};
    if (bytes.size() < kMagicBytes + seal.size() ||
        std::memcmp(bytes.data(), magic, kMagicBytes) != 0) {
        reason = u"it does not begin as expected";
        return false;
    }
    *bodyEnd = bytes.size() - seal.size();
    std::memcpy(seal.data(), bytes.data() + *bodyEnd, seal.size());
    if (DigestOf(bytes.data(), *bodyEnd) != seal) {
        reason = u"its checksum does not match its content";
        return false;
    }
    return true;
}

}  // namespace zef
