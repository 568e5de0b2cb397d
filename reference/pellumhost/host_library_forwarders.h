// The functions of Morrick and Quastle that Pellumhost calls, as one list. Pellumhost is not
// linked with the two libraries (the loader would map and run them before any check); it
// defines each function itself, calling through a pointer bound from the library it loaded
// after the trust check. A function the host starts to call must be added here, or the
// program does not link.
#pragma once
#include "platform/dynamic_module.h"

// X(return type, name, (parameters), (arguments))
#define PELLUMHOST_MORRICK_FUNCTIONS(X)                                                         \
    X(uint32_t, VELK_Msg_CreateDataHandle, (uint32_t nameId, VELK_DataHandle* handle),          \
      (nameId, handle))                                                                         \
    X(uint32_t, VELK_Msg_ShareDataHandle, (VELK_DataHandle source, VELK_DataHandle* target),    \
      (source, target))                                                                         \
    X(uint32_t, VELK_Msg_DestroyDataHandle, (VELK_DataHandle* handle), (handle))                \
    X(uint32_t, VELK_Msg_PutData, (VELK_DataHandle parent, VELK_DataHandle child),              \
      (parent, child))                                                                          \
    X(uint32_t, VELK_Msg_PutInt32, (VELK_DataHandle handle, uint32_t nameId, int32_t value),    \
      (handle, nameId, value))                                                                  \
    X(uint32_t, VELK_Msg_PutUInt32, (VELK_DataHandle handle, uint32_t nameId, uint32_t value),  \
      (handle, nameId, value))                                                                  \
    X(uint32_t, VELK_Msg_PutBinary,                                                             \
      (VELK_DataHandle handle, uint32_t nameId, const void* bytes, uint32_t byteCount),         \
      (handle, nameId, bytes, byteCount))                                                       \
    X(uint32_t, VELK_Msg_PutString,                                                             \
      (VELK_DataHandle handle, uint32_t nameId, const char* text, uint32_t charCount),          \
      (handle, nameId, text, charCount))                                                        \
    X(uint32_t, VELK_Msg_PutWString,                                                            \
      (VELK_DataHandle handle, uint32_t nameId, const char16_t* text, uint32_t unitCount),      \
      (handle, nameId, text, unitCount))                                                        \
    X(uint32_t, VELK_Msg_GetInt32At,                                                            \
      (VELK_DataHandle handle, uint32_t nameId, uint32_t index, int32_t* value),                \
      (handle, nameId, index, value))                                                           \
    X(uint32_t, VELK_Msg_GetUInt32At,                                                           \
      (VELK_DataHandle handle, uint32_t nameId, uint32_t index, uint32_t* value),               \
      (handle, nameId, index, value))                                                           \
    X(uint32_t, VELK_Msg_GetBinaryAt,                                                           \
      (VELK_DataHandle handle, uint32_t nameId, uint32_t index, void* buffer,                   \
       uint32_t bufferBytes, uint32_t* byteCount),                                              \
      (handle, nameId, index, buffer, bufferBytes, byteCount))                                  \
    X(uint32_t, VELK_Msg_GetStringAt,                                                           \
      (VELK_DataHandle handle, uint32_t nameId, uint32_t index, char* buffer,                   \
       uint32_t bufferChars, uint32_t* length),                                                 \
      (handle, nameId, index, buffer, bufferChars, length))                                     \
    X(uint32_t, VELK_Msg_GetWStringAt,                                                          \
      (VELK_DataHandle handle, uint32_t nameId, uint32_t index, char16_t* buffer,               \
       uint32_t bufferUnits, uint32_t* length),                                                 \
      (handle, nameId, index, buffer, bufferUnits, length))                                     \
    X(uint32_t, VELK_Msg_GetDataAt,                                                             \
      (VELK_DataHandle handle, uint32_t nameId, uint32_t index, VELK_DataHandle* target),       \
      (handle, nameId, index, target))                                                          \
    X(uint32_t, VELK_Msg_ReadDataAt,                                                            \
      (VELK_DataHandle handle, uint32_t nameId, uint32_t index, VELK_DataHandle* target),       \
      (handle, nameId, index, target))                                                          \
    X(uint32_t, VELK_Msg_GetSizeOf, (VELK_DataHandle handle, uint32_t nameId, uint32_t* count), \
      (handle, nameId, count))                                                                  \
    X(uint32_t, VELK_Msg_GetNameID, (VELK_DataHandle handle, uint32_t* nameId), (handle, nameId))

#define PELLUMHOST_QUASTLE_FUNCTIONS(X)                                                         \
    X(LogHandle, Log_GetDefaultHandle, (), ())                                                  \
    X(uint32_t, Log_GetLogLevel, (LogHandle handle, const char16_t* moduleTag),                 \
      (handle, moduleTag))                                                                      \
    X(void, Log_Flush,                                                                          \
      (LogHandle handle, const char16_t* moduleTag, uint32_t level, const char16_t* sourceFile, \
       uint32_t line, const void* message, uint32_t messageBytes),                              \
      (handle, moduleTag, level, sourceFile, line, message, messageBytes))                      \
    X(void, Quastle_SetDefaultLevel, (uint32_t level), (level))                                 \
    X(int32_t, Quastle_SinkToFile, (const char16_t* path), (path))                              \
    X(void, Quastle_SinkToNothing, (), ())

namespace pellumhost {

// Binds every function of the lists to its export in the loaded morrick and quastle modules.
// Returns null when all are bound, else the name of the first export missing (nothing is
// bound then). Call once, before anything calls the functions.
const char* BindHostLibraryFunctions(platform::ModuleHandle morrick,
                                     platform::ModuleHandle quastle);

}  // namespace pellumhost
