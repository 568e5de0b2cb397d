// Printing a command's outcome as text or as one JSON document.
#include "reference/pellumhost/commands/command_output.h"

#include <cstdarg>
#include <cstdio>

namespace pellumhost {

CommandOutput::CommandOutput(const std::string& command, bool json) : m_json(json) {
    m_document.BeginObject().Key("command").String(command);
}

void CommandOutput::Print(const char* format, ...) {
    if (m_json) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

int CommandOutput::Fail(int exitCode, const std::string& message) {
    std::fprintf(stderr, "Pellumhost: %s\n", message.c_str());
    if (m_error.empty()) m_error = message;
    return exitCode;
}

int CommandOutput::Finish(int exitCode) {
    if (!m_error.empty()) m_document.Key("error").String(m_error);
    m_document.Key("exitCode").Number(exitCode).EndObject();
    if (m_json) std::printf("%s\n", m_document.Text().c_str());
    std::fflush(stdout);
    return exitCode;
}

}  // namespace pellumhost
