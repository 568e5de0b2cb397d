// The table behind message handles. A handle names a slot and the slot's generation, plus a
// tag word; a destroyed slot gets a new generation, so stale and forged handles are refused.
// One read-biased lock guards the table: lookups share it without writing any line that another
// thread's lookups write, so that reads from many threads neither wait for nor slow each other;
// adding, re-pointing and removing a handle take it alone.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "host/message_library.h"
#include "reference/morrick/read_biased_lock.h"
#include "reference/morrick/record.h"

namespace morrick {

class HandleTable {
public:
    VELK_DataHandle Add(std::shared_ptr<Record> record);
    // The record of a live handle, or null.
    std::shared_ptr<Record> Get(VELK_DataHandle handle);
    // visit(record) for a live handle, with the table shared so that the record stays while it
    // runs (no reference is taken); `dead` when the handle is not live. visit must not call the
    // table again.
    template <typename Visit>
    uint32_t WithRecord(VELK_DataHandle handle, uint32_t dead, Visit&& visit) {
        const SharedReading reading(lock_);
        Slot* slot = LiveSlotLocked(handle);
        return slot != nullptr ? visit(*slot->record) : dead;
    }
    // Points a live handle at another record; false when the handle is not live.
    bool Replace(VELK_DataHandle handle, std::shared_ptr<Record> record);
    // Releases a live handle's reference; false when it was not live.
    bool Remove(VELK_DataHandle handle);

    static HandleTable& Instance();

private:
    struct Slot {
        std::shared_ptr<Record> record;
        uint32_t generation = 1;
    };
    Slot* LiveSlotLocked(VELK_DataHandle handle);

    ReadBiasedLock lock_;
    std::vector<Slot> slots_;
    std::vector<uint32_t> free_;
};

}  // namespace morrick
