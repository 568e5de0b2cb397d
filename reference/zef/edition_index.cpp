// The index's byte format: a magic, counts, the records, then a SHA-1 of all that.
#include "reference/zef/edition_index.h"

#include <cstring>

namespace zef {
namespace {

constexpr char kMagic[8] = {'Z', 'E', 'F', 'I', 'D', 'X', '0', '1'};
constexpr uint32_t kMaxTextUnits = 32767;

class Writer {
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

class Reader {
public:
    Reader(const uint8_t* bytes, size_t size) : m_bytes(bytes), m_size(size) {}
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

}  // namespace

std::vector<uint8_t> SerializeIndex(const IndexContent& index) {
    Writer out;
    out.Bytes(kMagic, sizeof kMagic);
    out.U32(index.nextEditionId);
    out.U32(index.nextUniqueId);
    out.U32(static_cast<uint32_t>(index.editions.size()));
    out.U32(static_cast<uint32_t>(index.purges.size()));
    for (const Edition& edition : index.editions) {
        out.U32(edition.editionId);
        out.U32(edition.uniqueId);
        out.U32(edition.time);
        out.U32(edition.processId);
        out.U32(edition.operation);
        out.U32(edition.blobSuffix);
        out.U64(edition.size);
        out.Bytes(edition.digest.data(), edition.digest.size());
        out.Text(edition.path);
        out.Text(edition.image);
    }
    for (const PurgeRecord& purge : index.purges) {
        out.Text(purge.path);
        out.U32(purge.count);
        out.U32(purge.firstCreateTime);
        out.U32(purge.firstPurgeTime);
        out.U32(purge.lastCreateTime);
        out.U32(purge.lastPurgeTime);
    }
    const Digest seal = DigestOf(out.Result().data(), out.Result().size());
    out.Bytes(seal.data(), seal.size());
    return std::move(out.Result());
}

bool ParseIndex(const std::vector<uint8_t>& bytes, IndexContent& index, std::u16string& reason) {
    index = IndexContent();
    Digest seal{};
    if (bytes.size() < sizeof kMagic + 16 + seal.size() ||
        std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        reason = u"it does not begin as an index";
        return false;
    }
    const size_t body = bytes.size() - seal.size();
    std::memcpy(seal.data(), bytes.data() + body, seal.size());
    if (DigestOf(bytes.data(), body) != seal) {
        reason = u"its checksum does not match its content";
        return false;
    }
    Reader in(bytes.data() + sizeof kMagic, body - sizeof kMagic);
    uint32_t editions = 0;
    uint32_t purges = 0;
    if (!in.U32(index.nextEditionId) || !in.U32(index.nextUniqueId) || !in.U32(editions) ||
        !in.U32(purges)) {
        reason = u"its header is cut short";
        return false;
    }
    for (uint32_t i = 0; i < editions; ++i) {
        Edition edition;
        if (!in.U32(edition.editionId) || !in.U32(edition.uniqueId) || !in.U32(edition.time) ||
            !in.U32(edition.processId) || !in.U32(edition.operation) ||
            !in.U32(edition.blobSuffix) || !in.U64(edition.size) ||
            !in.Bytes(edition.digest.data(), edition.digest.size()) || !in.Text(edition.path) ||
            !in.Text(edition.image) || edition.editionId == 0 ||
            edition.editionId >= index.nextEditionId) {
            reason = u"an edition record is malformed";
            return false;
        }
        index.editions.push_back(std::move(edition));
    }
    for (uint32_t i = 0; i < purges; ++i) {
        PurgeRecord purge;
        if (!in.Text(purge.path) || !in.U32(purge.count) || !in.U32(purge.firstCreateTime) ||
            !in.U32(purge.firstPurgeTime) || !in.U32(purge.lastCreateTime) ||
            !in.U32(purge.lastPurgeTime)) {
            reason = u"a purge record is malformed";
            return false;
        }
        index.purges.push_back(std::move(purge));
    }
    if (!in.AtEnd()) {
        reason = u"bytes follow the last record";
        return false;
    }
    return true;
}

}  // namespace zef
