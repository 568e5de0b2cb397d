// Host message objects as the plug-in receives them (the input and output of a call or a
// notification). The plug-in reads their record handle and nothing else of them
// (host/message_object.h says what a host may rely on); read cursors for repeated nested
// records are kept on the plug-in's side.
#pragma once
#include <cstdint>

#include "host/host_cursor_table.h"
#include "host/message_library.h"
#include "host/velk_data_handle_wrapper.h"

// The record handle of a host message object, or an all-zero handle for a null pointer.
VELK_DataHandle HostMessageHandle(const void* message);

// The plug-in's read cursors for every host message object it reads.
HostCursorTable& HostMessageCursors();

// Reads the next occurrence of the nested record nameId of a host message object into target,
// at the plug-in's own cursor for that object and handle, and advances the cursor when the
// library delivered a record. Returns the library's result. Any thread may call.
uint32_t ReadNextHostRecord(const void* message, uint32_t nameId, VELK_DataHandleWrapper& target);
