// The host's debug-log library (Quastle.dll / Quastle.so): one diagnostic line per Log_Flush.
// All three functions may be called from any thread at any time.
#pragma once
#include <cstdint>

#include "host/module_export.h"

#if defined(QUASTLE_BUILDING)
#define QUASTLE_API PEZ_EXPORT
#elif defined(PEZ_FORWARDING_HOST_LIBRARIES)
#define QUASTLE_API  // a program's own definitions that call into the loaded library
#else
#define QUASTLE_API PEZ_IMPORT
#endif

extern "C" {

// Opaque, pointer-sized; null when the host offers no log.
typedef void* LogHandle;

// The process's log, or null when logging is off. The handle is owned by the library.
QUASTLE_API LogHandle Log_GetDefaultHandle();

// The level set for a module tag (terminated UTF-16); 0 means the tag is switched off.
// A line of level L is written only when L is at least this level.
QUASTLE_API uint32_t Log_GetLogLevel(LogHandle handle, const char16_t* moduleTag);

// Writes one line. moduleTag and sourceFile are terminated UTF-16; message points to
// messageBytes bytes of UTF-16 text (not terminated) or is null when the line is empty.
// The library copies what it keeps; the caller owns every argument.
QUASTLE_API void Log_Flush(LogHandle handle, const char16_t* moduleTag, uint32_t level,
                           const char16_t* sourceFile, uint32_t line, const void* message,
                           uint32_t messageBytes);

}  // extern "C"
