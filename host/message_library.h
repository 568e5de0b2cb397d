// The host's message-buffer library (Morrick.dll / Morrick.so). A message record has a name
// id and an ordered list of typed fields, found by field name id and occurrence index (0 for
// the first field of a name). A nested record is a field under the nested record's own name id.
//
// Records are held by 16-byte handles passed by value; all zero means "no record". Each
// handle is one reference: VELK_Msg_ShareDataHandle makes another, VELK_Msg_DestroyDataHandle
// releases one, and the record lives while any handle to it does. Every function may be
// called from any thread; one record should not be changed from two threads at once.
// Every function answers a result code: bit 31 set means failure.
#pragma once
#include <cstdint>

#include "host/module_export.h"

#if defined(MORRICK_BUILDING)
#define MORRICK_API PEZ_EXPORT
#elif defined(PEZ_FORWARDING_HOST_LIBRARIES)
#define MORRICK_API  // a program's own definitions that call into the loaded library
#else
#define MORRICK_API PEZ_IMPORT
#endif

extern "C" {

struct VELK_DataHandle {
    uint64_t lo;
    uint64_t hi;
};
static_assert(sizeof(VELK_DataHandle) == 16, "a message handle is 16 bytes");

// Failure codes of the reference library (callers test bit 31 only).
constexpr uint32_t MORRICK_E_BAD_HANDLE = 0xE0FE0001;      // all-zero, destroyed or forged handle
constexpr uint32_t MORRICK_E_NOT_FOUND = 0xE0FE0002;       // no field of that name and occurrence
constexpr uint32_t MORRICK_E_WRONG_TYPE = 0xE0FE0003;      // the field has another type
constexpr uint32_t MORRICK_E_NULL_ARGUMENT = 0xE0FE0004;
constexpr uint32_t MORRICK_E_BUFFER_TOO_SMALL = 0xE0FE0005;
constexpr uint32_t MORRICK_E_NO_MEMORY = 0xE0FE0006;

// Creation, sharing and release of handles (these three take the handle variable's address).
MORRICK_API uint32_t VELK_Msg_CreateDataHandle(uint32_t nameId, VELK_DataHandle* handle);
// A target that holds a live record is re-pointed at the source's record (its old reference is
// released); any other target value is overwritten with a new handle.
MORRICK_API uint32_t VELK_Msg_ShareDataHandle(VELK_DataHandle source, VELK_DataHandle* target);
// Releases the reference and clears *handle; an all-zero handle is a failure, not a crash.
MORRICK_API uint32_t VELK_Msg_DestroyDataHandle(VELK_DataHandle* handle);

// Appending fields. PutData nests a copy of the child's current content under its name id.
MORRICK_API uint32_t VELK_Msg_PutData(VELK_DataHandle parent, VELK_DataHandle child);
MORRICK_API uint32_t VELK_Msg_PutInt32(VELK_DataHandle handle, uint32_t nameId, int32_t value);
MORRICK_API uint32_t VELK_Msg_PutUInt32(VELK_DataHandle handle, uint32_t nameId, uint32_t value);
MORRICK_API uint32_t VELK_Msg_PutBinary(VELK_DataHandle handle, uint32_t nameId,
                                        const void* bytes, uint32_t byteCount);
MORRICK_API uint32_t VELK_Msg_PutString(VELK_DataHandle handle, uint32_t nameId,
                                        const char* text, uint32_t charCount);
MORRICK_API uint32_t VELK_Msg_PutWString(VELK_DataHandle handle, uint32_t nameId,
                                         const char16_t* text, uint32_t unitCount);

// Reading one occurrence of a field. A 32-bit integer field reads as signed or unsigned alike.
MORRICK_API uint32_t VELK_Msg_GetInt32At(VELK_DataHandle handle, uint32_t nameId,
                                         uint32_t index, int32_t* value);
MORRICK_API uint32_t VELK_Msg_GetUInt32At(VELK_DataHandle handle, uint32_t nameId,
                                          uint32_t index, uint32_t* value);
// Copies the bytes and stores their count; a buffer too small stores the count needed and
// fails with MORRICK_E_BUFFER_TOO_SMALL.
MORRICK_API uint32_t VELK_Msg_GetBinaryAt(VELK_DataHandle handle, uint32_t nameId,
                                          uint32_t index, void* buffer, uint32_t bufferBytes,
                                          uint32_t* byteCount);
// With a null buffer and size 0: stores the length only. Otherwise copies the text with a
// terminator (needs length + 1 characters) and stores the length.
MORRICK_API uint32_t VELK_Msg_GetStringAt(VELK_DataHandle handle, uint32_t nameId,
                                          uint32_t index, char* buffer, uint32_t bufferChars,
                                          uint32_t* length);
MORRICK_API uint32_t VELK_Msg_GetWStringAt(VELK_DataHandle handle, uint32_t nameId,
                                           uint32_t index, char16_t* buffer,
                                           uint32_t bufferUnits, uint32_t* length);
// Delivers a copy of the nested record into *target, which is re-pointed or given a new
// handle as with VELK_Msg_ShareDataHandle.
MORRICK_API uint32_t VELK_Msg_GetDataAt(VELK_DataHandle handle, uint32_t nameId,
                                        uint32_t index, VELK_DataHandle* target);
MORRICK_API uint32_t VELK_Msg_ReadDataAt(VELK_DataHandle handle, uint32_t nameId,
                                         uint32_t index, VELK_DataHandle* target);
MORRICK_API uint32_t VELK_Msg_GetSizeOf(VELK_DataHandle handle, uint32_t nameId,
                                        uint32_t* count);
MORRICK_API uint32_t VELK_Msg_GetNameID(VELK_DataHandle handle, uint32_t* nameId);

}  // extern "C"
