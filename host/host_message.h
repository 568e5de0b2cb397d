// Host message objects as the plug-in receives them (the input and output of a call or a
// notification): objects of the host's own class laid out like VELK_DataHandleWrapper. The
// plug-in never calls through their table; it reads their handle and advances their read
// cursors through this plain view of the layout.
#pragma once
#include <cstdint>
#include <map>

#include "host/message_library.h"
#include "host/message_object.h"

// The record handle of a host message object, or an all-zero handle for a null pointer.
VELK_DataHandle HostMessageHandle(const void* message);
// The read cursor of a name id inside a host message object, created as 0.
uint32_t& HostMessageCursor(void* message, uint32_t nameId);
