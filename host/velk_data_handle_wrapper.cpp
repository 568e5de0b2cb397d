// VELK_DataHandleWrapper: calls into the host's message-buffer library.
#include "host/velk_data_handle_wrapper.h"

#include <cstring>
#include <memory>
#include <new>

#include "host/result_codes.h"

namespace {

// Strings up to this many characters are read without touching the heap.
constexpr uint32_t kLocalTextUnits = 1025;

template <typename Unit, typename Getter>
uint32_t ReadText(VELK_DataHandle handle, uint32_t nameId, std::basic_string<Unit>& text,
                  Getter getter) {
    text.clear();
    uint32_t length = 0;
    const uint32_t asked = getter(handle, nameId, 0, nullptr, 0, &length);
    if (length == 0) return asked;

    Unit local[kLocalTextUnits];
    std::unique_ptr<Unit[]> heap;
    Unit* buffer = local;
    const uint64_t units = uint64_t{length} + 1;
    if (units > kLocalTextUnits) {
        heap.reset(new (std::nothrow) Unit[units]);
        if (!heap) return velk::kNoTextMemory;
        buffer = heap.get();
    }
    std::memset(buffer, 0, units * sizeof(Unit));
    const uint32_t result = getter(handle, nameId, 0, buffer, static_cast<uint32_t>(units), &length);
    buffer[units - 1] = Unit(0);  // whatever the library did, the text ends inside the buffer
    text.assign(buffer);
    return result;
}

}  // namespace

VELK_DataHandleWrapper::VELK_DataHandleWrapper() { VELK_Msg_CreateDataHandle(0, &m_handle); }

VELK_DataHandleWrapper::VELK_DataHandleWrapper(uint32_t nameId, bool create) {
    if (create) VELK_Msg_CreateDataHandle(nameId, &m_handle);
}

VELK_DataHandleWrapper::VELK_DataHandleWrapper(VELK_DataHandle existing) {
    VELK_Msg_ShareDataHandle(existing, &m_handle);
}

VELK_DataHandleWrapper::~VELK_DataHandleWrapper() { VELK_Msg_DestroyDataHandle(&m_handle); }

void* VELK_DataHandleWrapper::DeletingDestructor(uint32_t flags) {
    if (flags & 1u) {
        delete this;
    } else {
        this->~VELK_DataHandleWrapper();
    }
    return this;
}

uint32_t VELK_DataHandleWrapper::PutData(const VELK_DataHandleWrapper& child) {
    return VELK_Msg_PutData(m_handle, child.m_handle);
}

uint32_t VELK_DataHandleWrapper::PutInt32(uint32_t nameId, int32_t value) {
    return VELK_Msg_PutInt32(m_handle, nameId, value);
}

uint32_t VELK_DataHandleWrapper::PutUInt32(uint32_t nameId, uint32_t value) {
    return VELK_Msg_PutUInt32(m_handle, nameId, value);
}

uint32_t VELK_DataHandleWrapper::PutUInt64(uint32_t nameId, uint64_t value) {
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    return VELK_Msg_PutBinary(m_handle, nameId, bytes, 8);
}

uint32_t VELK_DataHandleWrapper::PutBinary(uint32_t nameId, const void* bytes,
                                           uint32_t byteCount) {
    return VELK_Msg_PutBinary(m_handle, nameId, bytes, byteCount);
}

uint32_t VELK_DataHandleWrapper::PutWString(uint32_t nameId, const std::u16string& text) {
    return VELK_Msg_PutWString(m_handle, nameId, text.data(), static_cast<uint32_t>(text.size()));
}

uint32_t VELK_DataHandleWrapper::GetInt32At(uint32_t nameId, int32_t& value) const {
    return VELK_Msg_GetInt32At(m_handle, nameId, 0, &value);
}

uint32_t VELK_DataHandleWrapper::GetUInt32At(uint32_t nameId, uint32_t& value) const {
    return VELK_Msg_GetUInt32At(m_handle, nameId, 0, &value);
}

uint32_t VELK_DataHandleWrapper::GetStringAt(uint32_t nameId, std::string& text) const {
    return ReadText(m_handle, nameId, text, VELK_Msg_GetStringAt);
}

uint32_t VELK_DataHandleWrapper::GetWStringAt(uint32_t nameId, std::u16string& text) const {
    return ReadText(m_handle, nameId, text, VELK_Msg_GetWStringAt);
}

uint32_t VELK_DataHandleWrapper::ReadDataAt(uint32_t nameId, uint32_t index,
                                            VELK_DataHandleWrapper& target) const {
    return VELK_Msg_ReadDataAt(m_handle, nameId, index, &target.m_handle);
}

uint32_t VELK_DataHandleWrapper::GetDataAt(uint32_t nameId, uint32_t index,
                                           VELK_DataHandleWrapper& target) const {
    return VELK_Msg_GetDataAt(m_handle, nameId, index, &target.m_handle);
}

uint32_t VELK_DataHandleWrapper::GetBinaryAt(uint32_t nameId, void* buffer, uint32_t& size) const {
    return VELK_Msg_GetBinaryAt(m_handle, nameId, 0, buffer, size, &size);
}

uint32_t VELK_DataHandleWrapper::GetNameId(uint32_t& nameId) const {
    return VELK_Msg_GetNameID(m_handle, &nameId);
}

uint32_t VELK_DataHandleWrapper::ShareFrom(const VELK_DataHandle& other) {
    return VELK_Msg_ShareDataHandle(other, &m_handle);
}

uint32_t VELK_DataHandleWrapper::GetSizeOf(uint32_t nameId, uint32_t& count) const {
    return VELK_Msg_GetSizeOf(m_handle, nameId, &count);
}

uint32_t& VELK_DataHandleWrapper::NextIndex(uint32_t nameId) { return m_cursors[nameId]; }

bool VELK_DataHandleWrapper::IsEmpty(const VELK_DataHandle& handle) {
    return handle.lo == 0 && handle.hi == 0;
}
