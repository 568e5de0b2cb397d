// The reference message-buffer library's exported functions. Each one looks its handle up,
// locks that record for the field operation, and turns every failure, memory exhaustion
// included, into a result code.
#include <cstring>
#include <new>
#include <string>

#include "host/message_library.h"
#include "reference/morrick/handle_table.h"
#include "reference/morrick/morrick_inspection.h"

namespace morrick {
namespace {

constexpr uint32_t kOk = 0x20FF0000;

// Runs body and maps an escaping allocation failure to a result code.
template <typename Body>
uint32_t Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return MORRICK_E_NO_MEMORY;
    } catch (...) {
        return MORRICK_E_NO_MEMORY;
    }
}

HandleTable& Table() { return HandleTable::Instance(); }

// 32-bit integer fields read as either signedness: the same 32 bits.
bool IsInteger(FieldKind kind) { return kind == FieldKind::kInt32 || kind == FieldKind::kUInt32; }

uint32_t Append(VELK_DataHandle handle, Field field) {
    const std::shared_ptr<Record> record = Table().Get(handle);
    if (!record) return MORRICK_E_BAD_HANDLE;
    std::lock_guard<ReadBiasedLock> guard(record->lock);
    record->fields.push_back(std::move(field));
    return kOk;
}

// Finds the field and runs read(field) with the record's lock shared; read must not call the
// table.
template <typename Read>
uint32_t ReadField(VELK_DataHandle handle, uint32_t nameId, uint32_t index, FieldKind kind,
                   Read&& read) {
    return Table().WithRecord(handle, MORRICK_E_BAD_HANDLE, [&](const Record& record) {
        const SharedReading reading(record.lock);
        const Field* field = record.Find(nameId, index);
        if (field == nullptr) return MORRICK_E_NOT_FOUND;
        if (field->kind != kind && !(IsInteger(field->kind) && IsInteger(kind))) {
            return MORRICK_E_WRONG_TYPE;
        }
        return read(*field);
    });
}

template <typename Unit, typename Text>
uint32_t CopyText(const Text& text, Unit* buffer, uint32_t bufferUnits, uint32_t* length) {
    const uint32_t size = static_cast<uint32_t>(text.size());
    *length = size;
    if (buffer == nullptr && bufferUnits == 0) return kOk;
    if (buffer == nullptr) return MORRICK_E_NULL_ARGUMENT;
    if (bufferUnits < size + 1) return MORRICK_E_BUFFER_TOO_SMALL;
    std::memcpy(buffer, text.data(), size * sizeof(Unit));
    buffer[size] = Unit(0);
    return kOk;
}

uint32_t DeliverNested(VELK_DataHandle handle, uint32_t nameId, uint32_t index,
                       VELK_DataHandle* target) {
    if (target == nullptr) return MORRICK_E_NULL_ARGUMENT;
    std::shared_ptr<Record> copy;
    const uint32_t found = ReadField(handle, nameId, index, FieldKind::kRecord,
                                     [&](const Field& field) {
                                         copy = std::make_shared<Record>(*field.nested);
                                         return kOk;
                                     });
    if (found != kOk) return found;
    if (!Table().Replace(*target, copy)) *target = Table().Add(std::move(copy));
    return kOk;
}

}  // namespace
}  // namespace morrick

using namespace morrick;

extern "C" {

uint32_t VELK_Msg_CreateDataHandle(uint32_t nameId, VELK_DataHandle* handle) {
    if (handle == nullptr) return MORRICK_E_NULL_ARGUMENT;
    return Guarded([&] {
        *handle = Table().Add(std::make_shared<Record>(nameId));
        return kOk;
    });
}

uint32_t VELK_Msg_ShareDataHandle(VELK_DataHandle source, VELK_DataHandle* target) {
    if (target == nullptr) return MORRICK_E_NULL_ARGUMENT;
    return Guarded([&] {
        std::shared_ptr<Record> record = Table().Get(source);
        if (!record) return MORRICK_E_BAD_HANDLE;
        // A target that holds a record is re-pointed (its old reference released); any other
        // target gets a handle of its own.
        if (!Table().Replace(*target, record)) *target = Table().Add(std::move(record));
        return kOk;
    });
}

uint32_t VELK_Msg_DestroyDataHandle(VELK_DataHandle* handle) {
    if (handle == nullptr) return MORRICK_E_NULL_ARGUMENT;
    const bool live = Table().Remove(*handle);
    *handle = VELK_DataHandle{0, 0};
    return live ? kOk : MORRICK_E_BAD_HANDLE;
}

uint32_t VELK_Msg_PutData(VELK_DataHandle parent, VELK_DataHandle child) {
    return Guarded([&] {
        const std::shared_ptr<Record> source = Table().Get(child);
        if (!source) return MORRICK_E_BAD_HANDLE;
        Field field;
        {
            const SharedReading reading(source->lock);
            field.nameId = source->nameId;
            field.nested = std::make_shared<const Record>(*source);
        }
        field.kind = FieldKind::kRecord;
        return Append(parent, std::move(field));
    });
}

uint32_t VELK_Msg_PutInt32(VELK_DataHandle handle, uint32_t nameId, int32_t value) {
    return Guarded([&] {
        Field field;
        field.nameId = nameId;
        field.kind = FieldKind::kInt32;
        field.number = static_cast<uint32_t>(value);
        return Append(handle, std::move(field));
    });
}

uint32_t VELK_Msg_PutUInt32(VELK_DataHandle handle, uint32_t nameId, uint32_t value) {
    return Guarded([&] {
        Field field;
        field.nameId = nameId;
        field.kind = FieldKind::kUInt32;
        field.number = value;
        return Append(handle, std::move(field));
    });
}

uint32_t VELK_Msg_PutBinary(VELK_DataHandle handle, uint32_t nameId, const void* bytes,
                            uint32_t byteCount) {
    if (bytes == nullptr && byteCount != 0) return MORRICK_E_NULL_ARGUMENT;
    return Guarded([&] {
        Field field;
        field.nameId = nameId;
        field.kind = FieldKind::kBinary;
        if (byteCount != 0) field.bytes.assign(static_cast<const char*>(bytes), byteCount);
        return Append(handle, std::move(field));
    });
}

uint32_t VELK_Msg_PutString(VELK_DataHandle handle, uint32_t nameId, const char* text,
                            uint32_t charCount) {
    if (text == nullptr && charCount != 0) return MORRICK_E_NULL_ARGUMENT;
    return Guarded([&] {
        Field field;
        field.nameId = nameId;
        field.kind = FieldKind::kString;
        if (charCount != 0) field.bytes.assign(text, charCount);
        return Append(handle, std::move(field));
    });
}

uint32_t VELK_Msg_PutWString(VELK_DataHandle handle, uint32_t nameId, const char16_t* text,
                             uint32_t unitCount) {
    if (text == nullptr && unitCount != 0) return MORRICK_E_NULL_ARGUMENT;
    return Guarded([&] {
        Field field;
        field.nameId = nameId;
        field.kind = FieldKind::kWString;
        if (unitCount != 0) field.wide.assign(text, unitCount);
        return Append(handle, std::move(field));
    });
}

uint32_t VELK_Msg_GetInt32At(VELK_DataHandle handle, uint32_t nameId, uint32_t index,
                             int32_t* value) {
    if (value == nullptr) return MORRICK_E_NULL_ARGUMENT;
    return Guarded([&] {
        return ReadField(handle, nameId, index, FieldKind::kInt32, [&](const Field& field) {
            *value = static_cast<int32_t>(field.number);
            return kOk;
        });
    });
}

uint32_t VELK_Msg_GetUInt32At(VELK_DataHandle handle, uint32_t nameId, uint32_t index,
                              uint32_t* value) {
    if (value == nullptr) return MORRICK_E_NULL_ARGUMENT;
    return Guarded([&] {
        return ReadField(handle, nameId, index, FieldKind::kUInt32, [&](const Field& field) {
            *value = field.number;
            return kOk;
        });
    });
}

uint32_t VELK_Msg_GetBinaryAt(VELK_DataHandle handle, uint32_t nameId, uint32_t index,
                              void* buffer, uint32_t bufferBytes, uint32_t* byteCount) {
    if (byteCount == nullptr) return MORRICK_E_NULL_ARGUMENT;
    return Guarded([&] {
        return ReadField(handle, nameId, index, FieldKind::kBinary, [&](const Field& field) {
            const uint32_t size = static_cast<uint32_t>(field.bytes.size());
            *byteCount = size;
            if (size == 0) return kOk;
            if (buffer == nullptr) return MORRICK_E_NULL_ARGUMENT;
            if (bufferBytes < size) return MORRICK_E_BUFFER_TOO_SMALL;
            std::memcpy(buffer, field.bytes.data(), size);
            return kOk;
        });
    });
}

uint32_t VELK_Msg_GetStringAt(VELK_DataHandle handle, uint32_t nameId, uint32_t index,
                              char* buffer, uint32_t bufferChars, uint32_t* length) {
    if (length == nullptr) return MORRICK_E_NULL_ARGUMENT;
    return Guarded([&] {
        return ReadField(handle, nameId, index, FieldKind::kString, [&](const Field& field) {
            return CopyText(field.bytes, buffer, bufferChars, length);
        });
    });
}

uint32_t VELK_Msg_GetWStringAt(VELK_DataHandle handle, uint32_t nameId, uint32_t index,
                               char16_t* buffer, uint32_t bufferUnits, uint32_t* length) {
    if (length == nullptr) return MORRICK_E_NULL_ARGUMENT;
    return Guarded([&] {
        return ReadField(handle, nameId, index, FieldKind::kWString, [&](const Field& field) {
            return CopyText(field.wide, buffer, bufferUnits, length);
        });
    });
}

uint32_t VELK_Msg_GetDataAt(VELK_DataHandle handle, uint32_t nameId, uint32_t index,
                            VELK_DataHandle* target) {
    return Guarded([&] { return DeliverNested(handle, nameId, index, target); });
}

uint32_t VELK_Msg_ReadDataAt(VELK_DataHandle handle, uint32_t nameId, uint32_t index,
                             VELK_DataHandle* target) {
    return Guarded([&] { return DeliverNested(handle, nameId, index, target); });
}

uint32_t VELK_Msg_GetSizeOf(VELK_DataHandle handle, uint32_t nameId, uint32_t* count) {
    if (count == nullptr) return MORRICK_E_NULL_ARGUMENT;
    return Guarded([&] {
        const std::shared_ptr<Record> record = Table().Get(handle);
        if (!record) return MORRICK_E_BAD_HANDLE;
        const SharedReading reading(record->lock);
        *count = record->Count(nameId);
        return kOk;
    });
}

uint32_t VELK_Msg_GetNameID(VELK_DataHandle handle, uint32_t* nameId) {
    if (nameId == nullptr) return MORRICK_E_NULL_ARGUMENT;
    const std::shared_ptr<Record> record = Table().Get(handle);
    if (!record) return MORRICK_E_BAD_HANDLE;
    *nameId = record->nameId;
    return kOk;
}

static_assert(static_cast<uint32_t>(FieldKind::kInt32) == MORRICK_FIELD_INT32 &&
                  static_cast<uint32_t>(FieldKind::kWString) == MORRICK_FIELD_WSTRING &&
                  static_cast<uint32_t>(FieldKind::kRecord) == MORRICK_FIELD_RECORD,
              "the kinds reported are the record's own");

uint32_t Morrick_GetFieldAt(VELK_DataHandle handle, uint32_t position, uint32_t* nameId,
                            uint32_t* kind, uint32_t* bytes) {
    if (nameId == nullptr || kind == nullptr || bytes == nullptr) return MORRICK_E_NULL_ARGUMENT;
    const std::shared_ptr<Record> record = Table().Get(handle);
    if (!record) return MORRICK_E_BAD_HANDLE;
    const SharedReading reading(record->lock);
    if (position >= record->fields.size()) return MORRICK_E_NOT_FOUND;
    const Field& field = record->fields[position];
    *nameId = field.nameId;
    *kind = static_cast<uint32_t>(field.kind);
    *bytes = static_cast<uint32_t>(field.kind == FieldKind::kWString ? 2 * field.wide.size()
                                                                    : field.bytes.size());
    return kOk;
}

}  // extern "C"
