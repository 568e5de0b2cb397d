// Controls of the reference log library that only a host (Pellumhost) and tests call:
// levels per module tag, where lines go, and a capture of lines to read them back exactly.
// Every function is safe to call from any thread.
#pragma once
#include <cstdint>

#include "host/log_library.h"

extern "C" {

// Sets the level of one module tag (0 switches it off). Tags never set get the default level.
QUASTLE_API void Quastle_SetLevel(const char16_t* moduleTag, uint32_t level);
QUASTLE_API void Quastle_SetDefaultLevel(uint32_t level);
// Forgets every per-tag level and sets the default level to 0.
QUASTLE_API void Quastle_ResetLevels();

// With enabled 0, Log_GetDefaultHandle answers null, as a host without a log does.
QUASTLE_API void Quastle_SetEnabled(int32_t enabled);

// Where rendered lines go. A file is opened for appending in UTF-8 (path is UTF-16);
// returns 0 when it cannot be opened (the sink is then unchanged).
QUASTLE_API int32_t Quastle_SinkToFile(const char16_t* path);
QUASTLE_API void Quastle_SinkToStderr();
QUASTLE_API void Quastle_SinkToNothing();

// Starts (clearing anything captured before) or stops keeping every flushed line in memory.
QUASTLE_API void Quastle_SetCapture(int32_t enabled);
QUASTLE_API uint32_t Quastle_CapturedCount();

// One captured line. The strings are terminated UTF-16 owned by the library and stay valid
// until the capture is restarted or cleared. text is null when the line was flushed empty.
struct QuastleLine {
    const char16_t* moduleTag;
    uint32_t level;
    uint32_t line;
    const char16_t* sourceFile;
    const char16_t* text;
    uint32_t textBytes;      // as given to Log_Flush
    uint32_t messageWasNull;  // 1 when Log_Flush got a null message pointer
};

// Copies line `index` (0 = oldest) into out; returns 0 when there is no such line.
QUASTLE_API int32_t Quastle_GetCaptured(uint32_t index, QuastleLine* out);

// How often each function of the log library was called since the last reset.
struct QuastleCounters {
    uint64_t getDefaultHandle;
    uint64_t getLogLevel;
    uint64_t flush;
};
QUASTLE_API void Quastle_GetCounters(QuastleCounters* out);
QUASTLE_API void Quastle_ResetCounters();

}  // extern "C"
