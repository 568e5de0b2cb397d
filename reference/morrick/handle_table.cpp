// Slots, generations and the tag word of message handles.
#include "reference/morrick/handle_table.h"

namespace morrick {
namespace {

// The high word of every handle this library makes: anything else is not ours.
constexpr uint64_t kTag = 0x4D6F727269636B31ull;  // "Morrick1"

}  // namespace

HandleTable& HandleTable::Instance() {
    static HandleTable* table = new HandleTable;  // never destroyed: handles may outlive main
    return *table;
}

VELK_DataHandle HandleTable::Add(std::shared_ptr<Record> record) {
    std::lock_guard<ReadBiasedLock> guard(lock_);
    uint32_t index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
    } else {
        index = static_cast<uint32_t>(slots_.size());
        slots_.emplace_back();
    }
    Slot& slot = slots_[index];
    slot.record = std::move(record);
    return VELK_DataHandle{(uint64_t{slot.generation} << 32) | (uint64_t{index} + 1), kTag};
}

HandleTable::Slot* HandleTable::LiveSlotLocked(VELK_DataHandle handle) {
    if (handle.hi != kTag) return nullptr;
    const uint64_t index = (handle.lo & 0xFFFFFFFFu);
    if (index == 0 || index > slots_.size()) return nullptr;
    Slot& slot = slots_[index - 1];
    if (slot.record == nullptr || slot.generation != (handle.lo >> 32)) return nullptr;
    return &slot;
}

std::shared_ptr<Record> HandleTable::Get(VELK_DataHandle handle) {
    const SharedReading reading(lock_);
    Slot* slot = LiveSlotLocked(handle);
    return slot != nullptr ? slot->record : nullptr;
}

bool HandleTable::Replace(VELK_DataHandle handle, std::shared_ptr<Record> record) {
    std::shared_ptr<Record> old;  // released outside the lock
    std::lock_guard<ReadBiasedLock> guard(lock_);
    Slot* slot = LiveSlotLocked(handle);
    if (slot == nullptr) return false;
    old.swap(slot->record);
    slot->record = std::move(record);
    return true;
}

bool HandleTable::Remove(VELK_DataHandle handle) {
    std::shared_ptr<Record> old;
    {
        std::lock_guard<ReadBiasedLock> guard(lock_);
        Slot* slot = LiveSlotLocked(handle);
        if (slot == nullptr) return false;
        old.swap(slot->record);
        ++slot->generation;
        if (slot->generation == 0) slot->generation = 1;
        free_.push_back(static_cast<uint32_t>(slot - slots_.data()));
    }
    return true;
}

}  // namespace morrick
