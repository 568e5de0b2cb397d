// The event message reader with any event data. The data is copied into a block exactly as
// large as the message says it is (the host never claims more than it holds: a size word
// beyond the input is lowered to the input's size; a size below 12 leaves only the size word
// to read), at an odd address when the first byte is odd, so that AddressSanitizer catches
// any read outside the message and misaligned reads are exercised.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "host/event_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8 || size > 0xFFFFFFFFu) return 0;
    uint32_t declared;
    std::memcpy(&declared, data + 4, sizeof declared);
    size_t length = declared;
    if (declared < 12) {
        length = 8;
    } else if (declared > size) {
        length = size;
        declared = static_cast<uint32_t>(size);
    }
    const size_t shift = data[0] & 1;
    const std::unique_ptr<uint8_t[]> block(new uint8_t[length + shift]);
    uint8_t* message = block.get() + shift;
    std::memcpy(message, data, length);
    std::memcpy(message + 4, &declared, sizeof declared);

    velk::EventMessageView view;
    if (!velk::ReadEventMessage(message, &view)) {
        if (view.hasConfigId || view.hasFileEvent || view.hasPath || view.path.Length() != 0) {
            __builtin_trap();  // a refused message leaves nothing half read
        }
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
