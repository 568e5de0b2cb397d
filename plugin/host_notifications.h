// Host notifications 4104 to 4118: taking the plug-in out of service, answering its component
// locations, module information and component versions, and a replaced component's pattern
// check. Any host thread; writes only the running flag and the input's read cursor.
#pragma once
#include <cstdint>

namespace plugin_notifications {

// Answers one notification; 4118 asks the plug-in's own Plugin_Interface_QueryInterface.
uint32_t HandleNotification(int32_t notificationId, void* input, void* output);

}  // namespace plugin_notifications
