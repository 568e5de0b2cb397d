// The index's byte format: a magic, counts, the records, then a SHA-1 of all that.
#include "reference/zef/edition_index.h"

#include <cstring>

#include "reference/zef/record_codec.h"

namespace zef {
namespace {

constexpr char kMagic[8] = {'Z', 'E', 'F', 'I', 'D', 'X', '0', '1'};
}  // namespace

std::vector<uint8_t> SerializeIndex(const IndexContent& index) {
    RecordWriter out;
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
    return Sealed(out);
}

bool ParseIndex(const std::vector<uint8_t>& bytes, IndexContent& index, std::u16string& reason) {
    index = IndexContent();
    size_t body = 0;
    if (!CheckSealed(bytes, kMagic, &body, reason)) return false;
    RecordReader in(bytes.data() + sizeof kMagic, body - sizeof kMagic);
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
