// Event messages (event 0x10002016) as a host sends them, written with the FlatBuffers
// library from the tests' schema: the header with the size at byte 4, the start offset at
// byte 8 and the root's place at byte 188, then the buffer. Shared by the reader's tests, the
// forwarding tests, the benchmark and the fuzz seeds.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct EventMessageSpec {
    std::optional<uint32_t> configId;      // absent when empty; written even when 0
    bool wmi = false;                      // field 3
    std::optional<uint8_t> infoType;       // field 5: 11 FileEventInfo, 1 another table
    bool infoValue = true;                 // field 6 written when infoType is set
    bool otherValue = false;               // field 6 an OtherEventInfo whatever the type says
    uint32_t otherNumber = 5;              // the OtherEventInfo's one field
    bool hasPath = false;                  // FileEventInfo field 0 written
    std::u16string path;
    std::optional<uint32_t> processId;     // FileEventInfo field 1
    bool attributeInfo = false;            // field 13
    std::optional<uint32_t> attributes;    // FileAttributeInfo field 0
};

// A file event (ConfigID 19, FileEventInfo with the path, FileAttributeInfo with the bits).
EventMessageSpec FileEvent(const std::u16string& path, uint32_t attributes);

// Just the FlatBuffers buffer the description asks for (finished, root offset first).
std::vector<uint8_t> EventMessageBuffer(const EventMessageSpec& spec);

// Where the buffer goes in the event data: at start + rootAt, after a header of `start` bytes
// (at least 192; the word at 188 holds rootAt).
struct EventMessageLayout {
    uint32_t start = 192;
    uint32_t rootAt = 0;
};

// The whole event data: header, the gap up to start + rootAt, then the buffer.
std::vector<uint8_t> EventMessageData(const std::vector<uint8_t>& buffer,
                                      EventMessageLayout layout = {});
std::vector<uint8_t> EventMessageData(const EventMessageSpec& spec, EventMessageLayout layout = {});

// Writes a little-endian 32-bit word into event data (to break a header or an offset).
void PutWord(std::vector<uint8_t>& data, size_t at, uint32_t value);
uint32_t GetWord(const std::vector<uint8_t>& data, size_t at);
