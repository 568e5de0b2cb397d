// The in-memory index and the purge's choice of editions.
#include "reference/zef/edition_set.h"

#include <algorithm>

#include "reference/zef/engine_text.h"

namespace zef {
namespace {

bool Within(uint32_t time, const uint32_t* from, const uint32_t* to) {
    return (from == nullptr || time >= *from) && (to == nullptr || time <= *to);
}

bool NewestFirst(const Edition& a, const Edition& b) {
    return a.time != b.time ? a.time > b.time : a.editionId > b.editionId;
}

}  // namespace

std::u16string EditionSet::WriterOf(const Edition& edition) {
    if (!edition.image.empty()) return edition.image;
    return edition.processId != 0 ? Concat(u"process ", edition.processId) : std::u16string();
}

bool EditionSet::Apply(const LogRecord& record) {
    switch (record.type) {
        case LogRecordType::kEdition: return Add(record.edition);
        case LogRecordType::kRemoval:
            ++deadRecords;
            // A removal of an edition that is gone already (repeated by a crash) changes nothing.
            Remove(record.editionId, record.time, record.reason == kRemovedByPurge, nullptr);
            nextEditionId = std::max(nextEditionId, record.editionId + 1);
            return true;
        case LogRecordType::kCounters:
            nextEditionId = std::max(nextEditionId, record.nextEditionId);
            nextUniqueId = std::max(nextUniqueId, record.nextUniqueId);
            return true;
        case LogRecordType::kPurgeSummary: m_purges[record.purge.path] = record.purge; return true;
        case LogRecordType::kOrphanSeen:
            orphansSeen.emplace(record.name, record.time);
            return true;
    }
    return false;
}

bool EditionSet::Add(const Edition& edition) {
    if (edition.editionId == 0 || !m_byId.emplace(edition.editionId, edition).second) return false;
    nextEditionId = std::max(nextEditionId, edition.editionId + 1);
    nextUniqueId = std::max(nextUniqueId, edition.uniqueId + 1);
    const std::pair<uint32_t, uint32_t> key{edition.time, edition.editionId};
    m_byPath[edition.path].insert(key);
    const std::u16string writer = WriterOf(edition);
    m_byWriter[writer].insert(key);
    m_writerBytes[writer] += edition.size;
    m_byTime.insert(key);
    auto& blob = m_blobs[{edition.digest, edition.blobSuffix}];
    if (blob.first++ == 0) {
        blob.second = edition.size;
        m_storedBytes += edition.size;
    }
    return true;
}

bool EditionSet::Remove(uint32_t editionId, uint32_t now, bool purged, Edition* removed) {
    const auto found = m_byId.find(editionId);
    if (found == m_byId.end()) return false;
    const Edition e = found->second;
    const std::pair<uint32_t, uint32_t> key{e.time, e.editionId};
    auto path = m_byPath.find(e.path);
    path->second.erase(key);
    if (path->second.empty()) m_byPath.erase(path);
    const std::u16string writer = WriterOf(e);
    auto byWriter = m_byWriter.find(writer);
    byWriter->second.erase(key);
    if (byWriter->second.empty()) m_byWriter.erase(byWriter);
    m_writerBytes[writer] -= e.size;
    if (m_writerBytes[writer] == 0) m_writerBytes.erase(writer);
    m_byTime.erase(key);
    const auto blob = m_blobs.find({e.digest, e.blobSuffix});
    if (--blob->second.first == 0) {
        m_storedBytes -= blob->second.second;
        m_blobs.erase(blob);
    }
    m_byId.erase(found);
    if (purged) {
        auto record = m_purges.find(e.path);
        if (record == m_purges.end()) {
            PurgeRecord fresh;
            fresh.path = e.path;
            fresh.firstCreateTime = e.time;
            fresh.firstPurgeTime = now;
            record = m_purges.emplace(e.path, fresh).first;
        }
        ++record->second.count;
        record->second.firstCreateTime = std::min(record->second.firstCreateTime, e.time);
        record->second.lastCreateTime = std::max(record->second.lastCreateTime, e.time);
        record->second.lastPurgeTime = now;
    }
    if (removed != nullptr) *removed = e;
    return true;
}

bool EditionSet::Protected(const Edition& e, const StoreLimits& limits, uint32_t now,
                           uint32_t keepId) const {
    if (e.editionId == keepId) return true;
    const bool recent = limits.keepDays == 0 || now <= e.time ||
                        now - e.time <= static_cast<uint64_t>(limits.keepDays) * 86400u;
    return recent && NewestOf(e.path)->editionId == e.editionId;
}

std::vector<Edition> EditionSet::Purge(const StoreLimits& limits, uint32_t now, uint32_t keepId) {
    std::vector<Edition> gone;
    const uint64_t keepSeconds = static_cast<uint64_t>(limits.keepDays) * 86400u;
    if (limits.keepDays != 0) {
        for (auto at = m_byTime.begin(); at != m_byTime.end();) {
            if (now <= at->first || now - at->first <= keepSeconds) break;
            const uint32_t id = (at++)->second;
            if (id == keepId) continue;
            Edition e;
            Remove(id, now, true, &e);
            gone.push_back(e);
        }
    }
    while (limits.quotaBytes != 0 && m_storedBytes > limits.quotaBytes) {
        // The writer that holds the most gives up its oldest edition that is not protected.
        std::vector<std::pair<uint64_t, std::u16string>> writers;
        for (const auto& entry : m_writerBytes) writers.emplace_back(entry.second, entry.first);
        std::sort(writers.rbegin(), writers.rend());
        uint32_t victim = 0;
        for (const auto& writer : writers) {
            for (const auto& key : m_byWriter[writer.second]) {
                if (!Protected(m_byId.at(key.second), limits, now, keepId)) {
                    victim = key.second;
                    break;
                }
            }
            if (victim != 0) break;
        }
        if (victim == 0) break;  // what is left is protected
        Edition e;
        Remove(victim, now, true, &e);
        gone.push_back(e);
    }
    return gone;
}

const Edition* EditionSet::Find(uint32_t editionId) const {
    const auto found = m_byId.find(editionId);
    return found == m_byId.end() ? nullptr : &found->second;
}

const Edition* EditionSet::NewestOf(const std::u16string& path) const {
    const auto found = m_byPath.find(path);
    if (found == m_byPath.end() || found->second.empty()) return nullptr;
    return &m_byId.at(found->second.rbegin()->second);
}

std::vector<Edition> EditionSet::OfPath(const std::u16string& path, const uint32_t* from,
                                        const uint32_t* to) const {
    std::vector<Edition> found;
    const auto editions = m_byPath.find(path);
    if (editions == m_byPath.end()) return found;
    for (auto at = editions->second.rbegin(); at != editions->second.rend(); ++at)
        if (Within(at->first, from, to)) found.push_back(m_byId.at(at->second));
    return found;
}

std::vector<Edition> EditionSet::OfProcess(uint32_t processId, const uint32_t* from,
                                           const uint32_t* to) const {
    std::vector<Edition> found;
    for (const auto& entry : m_byId)
        if (entry.second.processId == processId && Within(entry.second.time, from, to))
            found.push_back(entry.second);
    std::sort(found.begin(), found.end(), NewestFirst);
    return found;
}

std::vector<StoredFile> EditionSet::Files(const uint32_t* from, const uint32_t* to) const {
    std::vector<StoredFile> files;
    for (const auto& path : m_byPath) {
        StoredFile file{path.first, 0, 0, 0};
        for (const auto& key : path.second) {
            if (!Within(key.first, from, to)) continue;
            ++file.editionCount;
            file.newestTime = key.first;
            file.newestSize = m_byId.at(key.second).size;
        }
        if (file.editionCount != 0) files.push_back(file);
    }
    std::sort(files.begin(), files.end(), [](const StoredFile& a, const StoredFile& b) {
        return a.newestTime != b.newestTime ? a.newestTime > b.newestTime : a.path < b.path;
    });
    return files;
}

std::vector<Edition> EditionSet::All() const {
    std::vector<Edition> all;
    all.reserve(m_byId.size());
    for (const auto& entry : m_byId) all.push_back(entry.second);
    return all;
}

uint32_t EditionSet::CountOf(const std::u16string& path) const {
    const auto found = m_byPath.find(path);
    return found == m_byPath.end() ? 0 : static_cast<uint32_t>(found->second.size());
}

PurgeRecord EditionSet::PurgesOf(const std::u16string& path) const {
    const auto found = m_purges.find(path);
    return found == m_purges.end() ? PurgeRecord{} : found->second;
}

std::vector<LogRecord> EditionSet::Snapshot() const {
    std::vector<LogRecord> records;
    LogRecord counters;
    counters.type = LogRecordType::kCounters;
    counters.nextEditionId = nextEditionId;
    counters.nextUniqueId = nextUniqueId;
    records.push_back(counters);
    for (const auto& entry : m_purges) {
        LogRecord purge;
        purge.type = LogRecordType::kPurgeSummary;
        purge.purge = entry.second;
        records.push_back(purge);
    }
    for (const auto& entry : orphansSeen) {
        LogRecord orphan;
        orphan.type = LogRecordType::kOrphanSeen;
        orphan.name = entry.first;
        orphan.time = entry.second;
        records.push_back(orphan);
    }
    for (const auto& entry : m_byId) {
        LogRecord edition;
        edition.edition = entry.second;
        edition.edition.state = kContentIntact;
        records.push_back(edition);
    }
    return records;
}

}  // namespace zef
