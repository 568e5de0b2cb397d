// Reading host message objects through their layout.
#include "host/host_message.h"

#include "host/velk_data_handle_wrapper.h"

static_assert(sizeof(HostMessageLayout) == sizeof(VELK_DataHandleWrapper),
              "host message objects and wrappers share one layout");
static_assert(sizeof(HostMessageLayout) == sizeof(HostMessageObject),
              "the host's message class has the wrappers' layout");

VELK_DataHandle HostMessageHandle(const void* message) {
    if (message == nullptr) return VELK_DataHandle{0, 0};
    return static_cast<const HostMessageLayout*>(message)->handle;
}

uint32_t& HostMessageCursor(void* message, uint32_t nameId) {
    return static_cast<HostMessageLayout*>(message)->cursors[nameId];
}
