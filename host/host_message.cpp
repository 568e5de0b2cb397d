// Reading host message objects: the handle at its fixed place, and the plug-in's own cursors.
#include "host/host_message.h"

#include "host/message_object.h"

VELK_DataHandle HostMessageHandle(const void* message) {
    if (message == nullptr) return VELK_DataHandle{0, 0};
    return static_cast<const HostMessageLayout*>(message)->handle;
}

HostCursorTable& HostMessageCursors() {
    static HostCursorTable cursors;
    return cursors;
}

uint32_t ReadNextHostRecord(const void* message, uint32_t nameId, VELK_DataHandleWrapper& target) {
    const VELK_DataHandle handle = HostMessageHandle(message);
    const VELK_DataHandleWrapper received(handle);
    return HostMessageCursors().ReadNext({message, handle, nameId}, [&](uint32_t index) {
        return received.ReadDataAt(nameId, index, target);
    });
}
