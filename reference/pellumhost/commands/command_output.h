// What a command prints: text for a person on standard output, or with --json one JSON
// document there and nothing else. Errors always go to standard error as one line; with
// --json the document also carries them, so a script reads every outcome from standard output.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "reference/pellumhost/commands/json_writer.h"
#include "reference/pellumhost/result_text.h"
#include "reference/pellumhost/utc_text.h"

// MinGW's stdio formats as C99 does (%zu, %llu) when its headers say so; the check follows.
#if defined(__MINGW_PRINTF_FORMAT)
#define PELLUMHOST_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define PELLUMHOST_PRINTF_FORMAT printf
#endif

namespace pellumhost {

class CommandOutput {
public:
    // Opens the document with {"command": command, ...}.
    CommandOutput(const std::string& command, bool json);
    CommandOutput(const CommandOutput&) = delete;
    CommandOutput& operator=(const CommandOutput&) = delete;

    bool Json() const { return m_json; }
    // The open document, for the command's own members (only used with --json).
    JsonWriter& Document() { return m_document; }
    // Text for a person; ignored with --json.
    void Print(const char* format, ...) __attribute__((format(PELLUMHOST_PRINTF_FORMAT, 2, 3)));

    // Says what went wrong and returns exitCode.
    int Fail(int exitCode, const std::string& message);
    // Closes the document with "exitCode" (and "error" after a Fail), prints it with --json,
    // and returns exitCode.
    int Finish(int exitCode);

private:
    bool m_json;
    JsonWriter m_document;
    std::string m_error;
};

}  // namespace pellumhost
