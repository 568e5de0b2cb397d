// The verified reader of the host's event message. Positions are 64-bit offsets from the
// buffer's first byte (its root offset), so no sum of two 32-bit values can wrap; each read
// is preceded by the check that its bytes lie below the buffer's end.
#include "host/event_message.h"

namespace velk {

namespace {

// The FlatBuffers buffer of one message: [begin, begin + size).
class MessageBuffer {
public:
    MessageBuffer(const unsigned char* begin, uint64_t size) : m_begin(begin), m_size(size) {}

    bool Holds(uint64_t at, uint64_t bytes) const { return at <= m_size && bytes <= m_size - at; }

    template <typename T>
    bool Read(uint64_t at, T* value) const {
        if (!Holds(at, sizeof(T))) return false;
        std::memcpy(value, m_begin + at, sizeof(T));
        return true;
    }

    // The target of the reference stored at `at` (unsigned, forward from where it is stored).
    bool Follow(uint64_t at, uint64_t* target) const {
        uint32_t offset;
        if (!Read(at, &offset)) return false;
        *target = at + offset;
        return true;
    }

    const unsigned char* At(uint64_t at) const { return m_begin + at; }

private:
    const unsigned char* m_begin;
    uint64_t m_size;
};

// One table: its position and its field table, both checked to lie within the buffer.
class Table {
public:
    // False when the table's own offset or its field table does not lie within the buffer.
    bool Open(const MessageBuffer& buffer, uint64_t at) {
        int32_t back;
        if (!buffer.Read(at, &back)) return false;
        // The field table lies at the table's position minus the signed offset stored there.
        const int64_t fields = static_cast<int64_t>(at) - back;
        if (fields < 0) return false;  // before the buffer: into the header or beyond
        uint16_t fieldsSize;
        if (!buffer.Read(static_cast<uint64_t>(fields), &fieldsSize)) return false;
        if (fieldsSize < 4 || !buffer.Holds(static_cast<uint64_t>(fields), fieldsSize)) return false;
        m_buffer = &buffer;
        m_at = at;
        m_fields = static_cast<uint64_t>(fields);
        m_fieldsSize = fieldsSize;
        return true;
    }

    // The field's position, or 0 when the field is absent.
    uint64_t Field(uint16_t field) const {
        const uint32_t entry = 4u + 2u * field;
        if (entry + 2u > m_fieldsSize) return 0;  // a field table written before the field existed
        uint16_t offset;
        std::memcpy(&offset, m_buffer->At(m_fields + entry), sizeof offset);
        return offset == 0 ? 0 : m_at + offset;
    }

    // A scalar field: true when absent (*present false) or read; false when it overruns.
    template <typename T>
    bool Scalar(uint16_t field, bool* present, T* value) const {
        const uint64_t at = Field(field);
        *present = at != 0;
        return at == 0 || m_buffer->Read(at, value);
    }

    // A reference field: *target is 0 when absent; false when the reference or its target's
    // first word lies outside the buffer.
    bool Reference(uint16_t field, uint64_t* target) const {
        *target = 0;
        const uint64_t at = Field(field);
        if (at == 0) return true;
        return m_buffer->Follow(at, target) && m_buffer->Holds(*target, 4);
    }

    // A sub-table field: *present false when absent; false when it cannot be opened.
    bool SubTable(uint16_t field, bool* present, Table* table) const {
        uint64_t target;
        if (!Reference(field, &target)) return false;
        *present = target != 0;
        return target == 0 || table->Open(*m_buffer, target);
    }

    // A vector of 16-bit units: its length word, then its units, all within the buffer.
    bool Units(uint16_t field, bool* present, EventText* text) const {
        uint64_t target;
        if (!Reference(field, &target)) return false;
        *present = target != 0;
        if (target == 0) return true;
        uint32_t length;
        if (!m_buffer->Read(target, &length)) return false;
        if (!m_buffer->Holds(target + 4, 2 * static_cast<uint64_t>(length))) return false;
        *text = EventText(m_buffer->At(target + 4), length);
        return true;
    }

private:
    const MessageBuffer* m_buffer = nullptr;
    uint64_t m_at = 0;
    uint64_t m_fields = 0;
    uint16_t m_fieldsSize = 0;
};

uint32_t HeaderWord(const unsigned char* data, uint32_t at) {
    uint32_t word;
    std::memcpy(&word, data + at, sizeof word);
    return word;
}

bool ReadFileEvent(const Table& message, EventMessageView* view) {
    uint8_t infoType = 0;
    bool typed = false;
    if (!message.Scalar(kFieldInfoType, &typed, &infoType)) return false;
    if (typed && infoType == kInfoFileEvent) {
        Table info;
        if (!message.SubTable(kFieldInfo, &view->hasFileEvent, &info)) return false;
        if (view->hasFileEvent) {
            if (!info.Units(kFieldPath, &view->hasPath, &view->path)) return false;
            bool hasProcessId = false;
            if (!info.Scalar(kFieldProcessId, &hasProcessId, &view->processId)) return false;
        }
    }
    Table attributeInfo;
    if (!message.SubTable(kFieldAttributeInfo, &view->hasAttributeInfo, &attributeInfo)) return false;
    return !view->hasAttributeInfo ||
           attributeInfo.Scalar(kFieldAttributes, &view->hasAttributes, &view->attributes);
}

bool Read(const unsigned char* data, EventMessageView* view) {
    const uint32_t size = HeaderWord(data, kEventMessageSizeAt);
    if (size < kEventMessageStartAt + 4) return false;  // not even the start offset inside
    const uint32_t start = HeaderWord(data, kEventMessageStartAt);
    if (start >= size || size < kEventMessageHeaderBytes) return false;
    const uint64_t root = uint64_t{start} + HeaderWord(data, kEventMessageRootAt);
    if (root >= size) return false;
    const MessageBuffer buffer(data + root, size - root);

    uint64_t messageAt;
    Table message;
    if (!buffer.Follow(0, &messageAt) || !message.Open(buffer, messageAt)) return false;
    if (!message.Scalar(kFieldConfigId, &view->hasConfigId, &view->configId)) return false;
    uint64_t wmi;
    if (!message.Reference(kFieldWmi, &wmi)) return false;
    view->hasWmi = wmi != 0;
    return ReadFileEvent(message, view);
}

}  // namespace

bool ReadEventMessage(const void* eventData, EventMessageView* view) {
    *view = EventMessageView{};
    if (eventData == nullptr) return false;
    if (Read(static_cast<const unsigned char*>(eventData), view)) return true;
    *view = EventMessageView{};
    return false;
}

}  // namespace velk
