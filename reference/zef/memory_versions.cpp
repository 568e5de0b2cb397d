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
    uint32_t held = 0;
    for (const MemoryVersion& v : m_versions) {
        if (v.path == path && v.size == size && v.writeTime == writeTime)
            return Admission::kAlreadyKept;
        if (v.processId == processId) ++held;
    }
    return quota != 0 && held >= quota ? Admission::kQuotaUsed : Admission::kTake;
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
    if (admission == Admission::kTake) m_versions.push_back(version);
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
    m_versions.erase(found);
    return true;
}

std::vector<MemoryVersion> MemoryVersions::TakeIf(
    const std::function<bool(const MemoryVersion&)>& match) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<MemoryVersion> taken;
    std::vector<MemoryVersion> kept;
    for (MemoryVersion& v : m_versions) (match(v) ? taken : kept).push_back(std::move(v));
    m_versions.swap(kept);
    return taken;
}

size_t MemoryVersions::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_versions.size();
}

}  // namespace zef
