// The table of open searches under one lock.
#include "reference/zef/find_handles.h"

namespace zef {

void* FindHandles::Add(std::shared_ptr<SearchState> state) {
    std::lock_guard<std::mutex> guard(m_lock);
    const uintptr_t handle = m_next++;
    m_open.emplace(handle, std::move(state));
    return reinterpret_cast<void*>(handle);
}

std::shared_ptr<SearchState> FindHandles::Find(void* handle) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_open.find(reinterpret_cast<uintptr_t>(handle));
    return found == m_open.end() ? nullptr : found->second;
}

bool FindHandles::Remove(void* handle) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

void FindHandles::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_open.clear();
}

size_t FindHandles::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open.size();
}

}  // namespace zef
