// A fixed layout of the file event's FlatBuffers buffer, written front to back: every
// reference points forward, every field table lies before its table.
#include "reference/pellumhost/services/event_message_writer.h"

#include <cstring>

#include "host/event_message.h"

namespace pellumhost {
namespace {

// Places in the buffer (bytes from its start; every word 4-aligned).
constexpr uint32_t kRootFieldTable = 4;    // EventMessage: 14 fields, 32 bytes
constexpr uint32_t kRoot = 36;             // offset back, ConfigID, info, attributes, info type
constexpr uint32_t kFileFieldTable = 56;   // FileEventInfo: 2 fields, 8 bytes
constexpr uint32_t kFile = 64;             // offset back, path, process id
constexpr uint32_t kAttrFieldTable = 76;   // FileAttributeInfo: 1 field, 6 bytes and padding
constexpr uint32_t kAttr = 84;             // offset back, attributes
constexpr uint32_t kPath = 92;             // unit count, then the units

class Writer {
public:
    explicit Writer(std::vector<uint8_t>& out, size_t base) : m_out(out), m_base(base) {}
    void U16(uint32_t at, uint16_t value) { Put(at, &value, 2); }
    void U32(uint32_t at, uint32_t value) { Put(at, &value, 4); }
    void Ref(uint32_t at, uint32_t target) { U32(at, target - at); }
    void Put(uint32_t at, const void* bytes, size_t count) {
        std::memcpy(m_out.data() + m_base + at, bytes, count);
    }

private:
    std::vector<uint8_t>& m_out;
    size_t m_base;
};

}  // namespace

void WriteFileEventMessage(const std::u16string& path, uint32_t processId, uint32_t attributes,
                           std::vector<uint8_t>& out) {
    const uint32_t pathBytes = static_cast<uint32_t>(path.size() * 2);
    const uint32_t bufferBytes = (kPath + 4 + pathBytes + 3) & ~3u;
    const uint32_t total = velk::kEventMessageHeaderBytes + bufferBytes;
    out.assign(total, 0);

    Writer header(out, 0);
    header.U32(velk::kEventMessageSizeAt, total);
    header.U32(velk::kEventMessageStartAt, velk::kEventMessageHeaderBytes);
    header.U32(velk::kEventMessageRootAt, 0);  // the root offset opens the buffer

    Writer b(out, velk::kEventMessageHeaderBytes);
    b.Ref(0, kRoot);
    // EventMessage's field table: its size, the table's size, then one entry per field.
    b.U16(kRootFieldTable, 32);
    b.U16(kRootFieldTable + 2, 20);
    b.U16(kRootFieldTable + 4 + 2 * velk::kFieldConfigId, 4);
    b.U16(kRootFieldTable + 4 + 2 * velk::kFieldInfo, 8);
    b.U16(kRootFieldTable + 4 + 2 * velk::kFieldAttributeInfo, 12);
    b.U16(kRootFieldTable + 4 + 2 * velk::kFieldInfoType, 16);
    b.U32(kRoot, kRoot - kRootFieldTable);
    b.U32(kRoot + 4, velk::kConfigFileEvent);
    b.Ref(kRoot + 8, kFile);
    b.Ref(kRoot + 12, kAttr);
    const uint8_t infoType = velk::kInfoFileEvent;
    b.Put(kRoot + 16, &infoType, 1);

    b.U16(kFileFieldTable, 8);
    b.U16(kFileFieldTable + 2, 12);
    b.U16(kFileFieldTable + 4 + 2 * velk::kFieldPath, 4);
    b.U16(kFileFieldTable + 4 + 2 * velk::kFieldProcessId, 8);
    b.U32(kFile, kFile - kFileFieldTable);
    b.Ref(kFile + 4, kPath);
    b.U32(kFile + 8, processId);

    b.U16(kAttrFieldTable, 6);
    b.U16(kAttrFieldTable + 2, 8);
    b.U16(kAttrFieldTable + 4 + 2 * velk::kFieldAttributes, 4);
    b.U32(kAttr, kAttr - kAttrFieldTable);
    b.U32(kAttr + 4, attributes);

    b.U32(kPath, static_cast<uint32_t>(path.size()));
    if (pathBytes != 0) b.Put(kPath + 4, path.data(), pathBytes);
}

}  // namespace pellumhost
