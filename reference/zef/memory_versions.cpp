// The list of memory versions under one lock.
#include "reference/zef/memory_versions.h"

#include <algorithm>

namespace zef {
namespace {

bool NewestFirst(const MemoryVersion& a, const MemoryVersion& b) {
    return a.time != b.time ? a.time > b.time : a.uniqueId > b.uniqueId;
}

}  // namespace

Admission MemoryVersions::AdmitLocked(const std::u16string& path, uint32_t processId,
                                      uint64_t size, uint64_t writeTime, uint32_t quota) const {
    const auto stamps = m_stamps.find(path);
    if (stamps != m_stamps.end() &&
        std::find(stamps->second.begin(), stamps->second.end(), std::make_pair(size, writeTime)) !=
            stamps->second.end())
        return Admission::kAlreadyKept;
    const auto held = m_perProcess.find(processId);
    return quota != 0 && held != m_perProcess.end() && held->second >= quota ? Admission::kQuotaUsed
                                                                              : Admission::kTake;
}

void MemoryVersions::IndexLocked(const MemoryVersion& version) {
    m_stamps[version.path].emplace_back(version.size, version.writeTime);
    ++m_perProcess[version.processId];
}

void MemoryVersions::UnindexLocked(const MemoryVersion& version) {
    const auto stamps = m_stamps.find(version.path);
    if (stamps != m_stamps.end()) {
        auto& list = stamps->second;
        const auto one = std::find(list.begin(), list.end(), std::make_pair(version.size, version.writeTime));
        if (one != list.end()) list.erase(one);
        if (list.empty()) m_stamps.erase(stamps);
    }
    const auto held = m_perProcess.find(version.processId);
    if (held != m_perProcess.end() && --held->second == 0) m_perProcess.erase(held);
}

Admission MemoryVersions::Admit(const std::u16string& path, uint32_t processId, uint64_t size,
                                uint64_t writeTime, uint32_t quota) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return AdmitLocked(path, processId, size, writeTime, quota);
}

Admission MemoryVersions::Add(const MemoryVersion& version, uint32_t quota) {
    std::lock_guard<std::mutex> guard(m_lock);
    const Admission admission =
        AdmitLocked(version.path, version.processId, version.size, version.writeTime, quota);
    if (admission == Admission::kTake) {
        m_versions.push_back(version);
        IndexLocked(version);
    }
    return admission;
}

std::vector<MemoryVersion> MemoryVersions::OfPath(const std::u16string& path) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<MemoryVersion> found;
    for (const MemoryVersion& v : m_versions)
        if (v.path == path) found.push_back(v);
    std::sort(found.begin(), found.end(), NewestFirst);
    return found;
}

std::vector<MemoryVersion> MemoryVersions::OfProcess(uint32_t processId, uint32_t from,
                                                     uint32_t to) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<MemoryVersion> found;
    for (const MemoryVersion& v : m_versions)
        if (v.processId == processId && (from == 0 || v.time >= from) && (to == 0 || v.time <= to))
            found.push_back(v);
    std::sort(found.begin(), found.end(), NewestFirst);
    return found;
}

bool MemoryVersions::Remove(uint32_t uniqueId, MemoryVersion* removed) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = std::find_if(m_versions.begin(), m_versions.end(),
                                    [&](const MemoryVersion& v) { return v.uniqueId == uniqueId; });
    if (found == m_versions.end()) return false;
    if (removed != nullptr) *removed = *found;
    UnindexLocked(*found);
    m_versions.erase(found);
    return true;
}

std::vector<MemoryVersion> MemoryVersions::TakeIf(
    const std::function<bool(const MemoryVersion&)>& match) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<MemoryVersion> taken;
    std::vector<MemoryVersion> kept;
    for (MemoryVersion& v : m_versions) {
        if (!match(v)) {
            kept.push_back(std::move(v));
            continue;
        }
        UnindexLocked(v);
        taken.push_back(std::move(v));
    }
    m_versions.swap(kept);
    return taken;
}

size_t MemoryVersions::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_versions.size();
}

}  // namespace zef
