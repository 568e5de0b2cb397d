// The table behind message handles. A handle names a slot and the slot's generation, plus a
// tag word; a destroyed slot gets a new generation, so stale and forged handles are refused.
// One mutex guards the table; lookups hand out a shared reference to the record.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "host/message_library.h"
#include "reference/morrick/record.h"

namespace morrick {

class HandleTable {
public:
    VELK_DataHandle Add(std::shared_ptr<Record> record);
    // The record of a live handle, or null.
    std::shared_ptr<Record> Get(VELK_DataHandle handle);
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

    std::mutex lock_;
    std::vector<Slot> slots_;
    std::vector<uint32_t> free_;
};

}  // namespace morrick
