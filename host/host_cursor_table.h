// The plug-in's read cursors for host message objects: which occurrence of a repeated nested
// record the next read takes. A host object is known only by its address and its record's
// handle (a new object at a reused address has a new handle), so the cursors live here and
// not in the host's object. The table is bounded: it remembers the objects read most recently
// and forgets the least recently used one when it is full, so a host cannot grow it.
// Any thread may call; one lock guards the table and is held across the read it is given.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "host/message_library.h"
#include "host/result_codes.h"

class HostCursorTable {
public:
    // Objects whose cursors are remembered at once.
    static constexpr size_t kCapacity = 64;

    struct Key {
        const void* object;
        VELK_DataHandle handle;
        uint32_t nameId;
    };

    // Calls read(index) with the key's cursor (0 for a key not remembered) and advances the
    // cursor when read answers success; returns read's result. Holding the lock across the
    // read makes two threads reading one object take successive records, never the same one.
    // read must not call back into this table.
    template <typename Read>
    uint32_t ReadNext(const Key& key, Read&& read) {
        std::lock_guard<std::mutex> guard(m_lock);
        const uint32_t index = CursorLocked(key);
        const uint32_t result = read(index);
        if (velk::Succeeded(result)) StoreLocked(key, index + 1);
        return result;
    }

    // The key's cursor: what the next ReadNext would read.
    uint32_t Cursor(const Key& key) const;

private:
    struct Entry {
        Key key;
        uint32_t next;
        uint64_t lastUse;  // 0: the entry is free
    };

    uint32_t CursorLocked(const Key& key) const;
    void StoreLocked(const Key& key, uint32_t next);

    mutable std::mutex m_lock;
    std::array<Entry, kCapacity> m_entries{};
    uint64_t m_useClock = 0;
};
