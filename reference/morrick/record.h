// A message record of the reference message-buffer library: a name id and typed fields.
// Nested records are immutable snapshots shared between copies; only a record reached
// through its own handle is ever changed, under its own lock, which readers share.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "reference/morrick/read_biased_lock.h"

namespace morrick {

enum class FieldKind : uint8_t { kInt32, kUInt32, kBinary, kString, kWString, kRecord };

struct Record;

struct Field {
    uint32_t nameId = 0;
    FieldKind kind = FieldKind::kInt32;
    uint32_t number = 0;                    // kInt32 (as its bits) and kUInt32
    std::string bytes;                      // kBinary and kString
    std::u16string wide;                    // kWString
    std::shared_ptr<const Record> nested;   // kRecord
};

struct Record {
    explicit Record(uint32_t name) : nameId(name) {}
    Record(const Record& other) : nameId(other.nameId), fields(other.fields) {}

    // The occurrence `index` of fields named nameId, or null.
    const Field* Find(uint32_t fieldNameId, uint32_t index) const;
    uint32_t Count(uint32_t fieldNameId) const;

    const uint32_t nameId;
    std::vector<Field> fields;
    mutable ReadBiasedLock lock;  // guards fields while the record is reachable by handle
};

}  // namespace morrick
