// The host's integration-event message (event 0x10002016): a header with the message's size
// and the place of a FlatBuffers buffer, whose root table EventMessage carries the event.
// ReadEventMessage checks every offset, field table, union and vector against the size at
// byte 4 before it reads it, and never reads host memory outside the message. It allocates
// nothing, keeps no state and may be called on any thread at once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velk {

// Header of the event data: uint32 size at byte 4 (the whole message, header included), uint32
// start offset at byte 8, and at byte 188 the uint32 that, added to the start offset, gives the
// place of the buffer's root offset.
constexpr uint32_t kEventMessageSizeAt = 4;
constexpr uint32_t kEventMessageStartAt = 8;
constexpr uint32_t kEventMessageRootAt = 188;
constexpr uint32_t kEventMessageHeaderBytes = kEventMessageRootAt + 4;

// Fields of the tables (FlatBuffers field numbers).
constexpr uint16_t kFieldConfigId = 0;        // EventMessage: uint32
constexpr uint16_t kFieldWmi = 3;             // EventMessage: reference, presence only
constexpr uint16_t kFieldInfoType = 5;        // EventMessage: uint8 union type
constexpr uint16_t kFieldInfo = 6;            // EventMessage: union value
constexpr uint16_t kFieldAttributeInfo = 13;  // EventMessage: FileAttributeInfo
constexpr uint16_t kFieldPath = 0;            // FileEventInfo: vector of 16-bit units
constexpr uint16_t kFieldProcessId = 1;       // FileEventInfo: uint32
constexpr uint16_t kFieldAttributes = 0;      // FileAttributeInfo: uint32

constexpr uint8_t kInfoFileEvent = 11;  // union type of FileEventInfo
constexpr uint32_t kConfigFileEvent = 19;
constexpr uint32_t kAttributeReadOnly = 1;

// 16-bit units that lie inside the message, at any address (even an odd one).
class EventText {
public:
    EventText() = default;
    EventText(const unsigned char* bytes, uint32_t length) : m_bytes(bytes), m_length(length) {}

    uint32_t Length() const { return m_length; }  // in units
    char16_t At(uint32_t index) const {
        char16_t unit;
        std::memcpy(&unit, m_bytes + 2 * static_cast<size_t>(index), sizeof unit);
        return unit;
    }
    // Copies all Length() units to `out`, which must hold that many; adds no terminator.
    void CopyTo(char16_t* out) const {
        if (m_length != 0) std::memcpy(out, m_bytes, 2 * static_cast<size_t>(m_length));
    }

private:
    const unsigned char* m_bytes = nullptr;
    uint32_t m_length = 0;
};

// What an event message says, as far as the plug-in and the engines need it.
struct EventMessageView {
    bool hasConfigId = false;
    uint32_t configId = 0;
    bool hasWmi = false;        // EventMessage field 3 present
    bool hasFileEvent = false;  // union type 11 with a FileEventInfo value
    bool hasPath = false;       // FileEventInfo field 0 present
    EventText path;
    uint32_t processId = 0;     // FileEventInfo field 1, the writing process; 0 when absent
    bool hasAttributeInfo = false;  // EventMessage field 13 present
    bool hasAttributes = false;     // FileAttributeInfo field 0 present
    uint32_t attributes = 0;
};

// Reads the message at eventData (host memory that holds at least the size word; at least
// `size` bytes when the size is 12 or more). True with *view filled; false, with *view
// reset, when any check fails: a size too small for the header, a start offset not below the
// size, or an offset, field table, union value or vector that does not lie within the
// buffer. A null eventData is refused.
bool ReadEventMessage(const void* eventData, EventMessageView* view);

}  // namespace velk
