// An export of the reference message-buffer library beyond the host's own set: the fields of a
// record in the order they were put, with their kinds, so that a test can pin a wire form field
// by field (the host's functions find fields by name only). Any thread may call.
#pragma once
#include <cstdint>

#include "host/message_library.h"

extern "C" {

// Field kinds as Morrick_GetFieldAt reports them.
constexpr uint32_t MORRICK_FIELD_INT32 = 0;
constexpr uint32_t MORRICK_FIELD_UINT32 = 1;
constexpr uint32_t MORRICK_FIELD_BINARY = 2;
constexpr uint32_t MORRICK_FIELD_STRING = 3;
constexpr uint32_t MORRICK_FIELD_WSTRING = 4;
constexpr uint32_t MORRICK_FIELD_RECORD = 5;

// The name id and kind of the field at `position` (0 for the first put), and for a binary,
// string or wide-string field its size in bytes (0 for the others); MORRICK_E_NOT_FOUND past
// the last field.
MORRICK_API uint32_t Morrick_GetFieldAt(VELK_DataHandle handle, uint32_t position,
                                        uint32_t* nameId, uint32_t* kind, uint32_t* bytes);

}  // extern "C"
