// The host's own writer of the integration-event message (event 0x10002016) for a file event:
// the 192-byte header (size at byte 4, start offset at byte 8, root place at byte 188), then a
// FlatBuffers buffer whose root EventMessage carries ConfigID 19, a FileEventInfo with the path
// and the writing process, and a FileAttributeInfo. Writes into a vector the caller owns;
// keeps no state, so any thread may call it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace pellumhost {

void WriteFileEventMessage(const std::u16string& path, uint32_t processId, uint32_t attributes,
                           std::vector<uint8_t>& out);

}  // namespace pellumhost
