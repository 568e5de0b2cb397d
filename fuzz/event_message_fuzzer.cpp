// The event message reader with any event data, copied into a block exactly as large as the
// message says (a size word beyond the input is lowered to it, as a host never claims more than
// it holds; below 12 only the size word is there to read), at an odd address when the first byte
// is odd: AddressSanitizer catches any read outside the message; misaligned reads are exercised.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "host/event_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8 || size > 0xFFFFFFFFu) return 0;
    uint32_t declared;
    std::memcpy(&declared, data + 4, sizeof declared);
    if (declared > size) declared = static_cast<uint32_t>(size);
    const size_t length = declared < 12 ? 8 : declared;
    const size_t shift = data[0] & 1;
    const std::unique_ptr<uint8_t[]> block(new uint8_t[length + shift]);
    uint8_t* message = block.get() + shift;
    std::memcpy(message, data, length);
    std::memcpy(message + 4, &declared, sizeof declared);

    velk::EventMessageView view;
    if (!velk::ReadEventMessage(message, &view)) {  // a refused message leaves nothing half read
        if (view.hasConfigId || view.hasFileEvent || view.hasPath || view.path.Length() > 0) __builtin_trap();
        return 0;
    }
    uint32_t sum = view.configId + view.processId + view.attributes;
    for (uint32_t i = 0; i < view.path.Length(); ++i) sum += view.path.At(i);
    if (view.hasPath && !view.hasFileEvent) __builtin_trap();
    if (view.hasAttributes && !view.hasAttributeInfo) __builtin_trap();
    volatile uint32_t keep = sum;
    (void)keep;
    return 0;
}
