// HostCursorTable: a fixed array searched in full, so nothing is allocated per host object.
// Every member below runs under m_lock.
#include "host/host_cursor_table.h"

namespace {

bool SameHandle(const VELK_DataHandle& a, const VELK_DataHandle& b) {
    return a.lo == b.lo && a.hi == b.hi;
}

bool SameKey(const HostCursorTable::Key& a, const HostCursorTable::Key& b) {
    return a.object == b.object && a.nameId == b.nameId && SameHandle(a.handle, b.handle);
}

}  // namespace

uint32_t HostCursorTable::Cursor(const Key& key) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return CursorLocked(key);
}

uint32_t HostCursorTable::CursorLocked(const Key& key) const {
    for (const Entry& entry : m_entries) {
        if (entry.lastUse != 0 && SameKey(entry.key, key)) return entry.next;
    }
    return 0;
}

void HostCursorTable::StoreLocked(const Key& key, uint32_t next) {
    // The key's own entry; else one left by an object that lay at this address before (its
    // handle differs, so it is gone); else a free entry; else the least recently used.
    Entry* chosen = nullptr;
    Entry* stale = nullptr;
    Entry* oldest = &m_entries[0];
    for (Entry& entry : m_entries) {
        if (entry.lastUse == 0) {
            if (stale == nullptr) stale = &entry;
            continue;
        }
        if (SameKey(entry.key, key)) {
            chosen = &entry;
            break;
        }
        if (entry.key.object == key.object && !SameHandle(entry.key.handle, key.handle)) {
            stale = &entry;
        }
        if (oldest->lastUse != 0 && entry.lastUse < oldest->lastUse) oldest = &entry;
    }
    if (chosen == nullptr) chosen = stale != nullptr ? stale : oldest;
    chosen->key = key;
    chosen->next = next;
    chosen->lastUse = ++m_useClock;
}
