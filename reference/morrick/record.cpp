// Field look-up by name id and occurrence.
#include "reference/morrick/record.h"

namespace morrick {

const Field* Record::Find(uint32_t fieldNameId, uint32_t index) const {
    for (const Field& field : fields) {
        if (field.nameId == fieldNameId && index-- == 0) return &field;
    }
    return nullptr;
}

uint32_t Record::Count(uint32_t fieldNameId) const {
    uint32_t count = 0;
    for (const Field& field : fields) count += field.nameId == fieldNameId ? 1 : 0;
    return count;
}

}  // namespace morrick
