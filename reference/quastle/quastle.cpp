// The reference debug-log library: levels per module tag, a file or standard-error sink,
// and a capture that tests read back. One mutex guards the levels, the sink and the capture;
// the call counters are atomics.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/log_library_control.h"
#include "platform/clock.h"
#include "platform/stdio_file.h"
#include "reference/quastle/line_renderer.h"

namespace {

struct CapturedLine {
    std::u16string moduleTag;
    std::u16string sourceFile;
    std::u16string text;
    uint32_t level;
    uint32_t line;
    uint32_t textBytes;
    bool messageWasNull;
};

enum class Sink { kNothing, kStderr, kFile };

struct State {
    std::mutex lock;
    // A handful of tags at most, so a linear search beats hashing a copied key.
    std::vector<std::pair<std::u16string, uint32_t>> levels;
    uint32_t defaultLevel = 0;
    Sink sink = Sink::kStderr;
    std::FILE* file = nullptr;
    bool capturing = false;
    std::deque<CapturedLine> captured;  // a deque keeps elements in place as it grows

    std::atomic<int32_t> enabled{1};
    std::atomic<uint64_t> getDefaultHandleCalls{0};
    std::atomic<uint64_t> getLogLevelCalls{0};
    std::atomic<uint64_t> flushCalls{0};

    ~State() {
        if (file != nullptr) std::fclose(file);
    }
};

State& TheState() {
    static State state;
    return state;
}

std::u16string_view TextOrEmpty(const char16_t* text) {
    return text != nullptr ? std::u16string_view(text) : std::u16string_view();
}

void CloseFileLocked(State& state) {
    if (state.file != nullptr) std::fclose(state.file);
    state.file = nullptr;
}

}  // namespace

extern "C" {

LogHandle Log_GetDefaultHandle() {
    State& state = TheState();
    state.getDefaultHandleCalls.fetch_add(1, std::memory_order_relaxed);
    return state.enabled.load() != 0 ? &state : nullptr;
}

uint32_t Log_GetLogLevel(LogHandle handle, const char16_t* moduleTag) {
    State& state = TheState();
    state.getLogLevelCalls.fetch_add(1, std::memory_order_relaxed);
    if (handle != &state || moduleTag == nullptr) return 0;
    const std::u16string_view tag(moduleTag);
    std::lock_guard<std::mutex> guard(state.lock);
    for (const auto& entry : state.levels) {
        if (entry.first == tag) return entry.second;
    }
    return state.defaultLevel;
}

void Log_Flush(LogHandle handle, const char16_t* moduleTag, uint32_t level,
               const char16_t* sourceFile, uint32_t line, const void* message,
               uint32_t messageBytes) {
    State& state = TheState();
    state.flushCalls.fetch_add(1, std::memory_order_relaxed);
    if (handle != &state) return;

    std::u16string text;
    if (message != nullptr) {
        text.resize(messageBytes / 2);
        std::memcpy(text.data(), message, text.size() * 2);
    }
    const platform::SystemTime now = platform::LocalTime();

    std::lock_guard<std::mutex> guard(state.lock);
    if (state.capturing) {
        state.captured.push_back({std::u16string(TextOrEmpty(moduleTag)),
                                  std::u16string(TextOrEmpty(sourceFile)), text, level, line,
                                  messageBytes, message == nullptr});
    }
    if (state.sink == Sink::kNothing) return;
    std::FILE* out = state.sink == Sink::kFile ? state.file : stderr;
    const std::string rendered = quastle::RenderLine(now, TextOrEmpty(moduleTag), level,
                                                     TextOrEmpty(sourceFile), line, text);
    std::fwrite(rendered.data(), 1, rendered.size(), out);
    std::fflush(out);
}

void Quastle_SetLevel(const char16_t* moduleTag, uint32_t level) {
    if (moduleTag == nullptr) return;
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    for (auto& entry : state.levels) {
        if (entry.first == moduleTag) {
            entry.second = level;
            return;
        }
    }
    state.levels.emplace_back(moduleTag, level);
}

void Quastle_SetDefaultLevel(uint32_t level) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.defaultLevel = level;
}

void Quastle_ResetLevels() {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.levels.clear();
    state.defaultLevel = 0;
}

void Quastle_SetEnabled(int32_t enabled) { TheState().enabled.store(enabled != 0 ? 1 : 0); }

int32_t Quastle_SinkToFile(const char16_t* path) {
    if (path == nullptr) return 0;
    std::FILE* file = platform::OpenStdioFile(path, "ab");
    if (file == nullptr) return 0;
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    CloseFileLocked(state);
    state.file = file;
    state.sink = Sink::kFile;
    return 1;
}

void Quastle_SinkToStderr() {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    CloseFileLocked(state);
    state.sink = Sink::kStderr;
}

void Quastle_SinkToNothing() {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    CloseFileLocked(state);
    state.sink = Sink::kNothing;
}

void Quastle_SetCapture(int32_t enabled) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.captured.clear();
    state.capturing = enabled != 0;
}

uint32_t Quastle_CapturedCount() {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    return static_cast<uint32_t>(state.captured.size());
}

int32_t Quastle_GetCaptured(uint32_t index, QuastleLine* out) {
    if (out == nullptr) return 0;
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (index >= state.captured.size()) return 0;
    const CapturedLine& line = state.captured[index];
    out->moduleTag = line.moduleTag.c_str();
    out->level = line.level;
    out->line = line.line;
    out->sourceFile = line.sourceFile.c_str();
    out->text = line.messageWasNull ? nullptr : line.text.c_str();
    out->textBytes = line.textBytes;
    out->messageWasNull = line.messageWasNull ? 1 : 0;
    return 1;
}

void Quastle_GetCounters(QuastleCounters* out) {
    if (out == nullptr) return;
    State& state = TheState();
    out->getDefaultHandle = state.getDefaultHandleCalls.load();
    out->getLogLevel = state.getLogLevelCalls.load();
    out->flush = state.flushCalls.load();
}

void Quastle_ResetCounters() {
    State& state = TheState();
    state.getDefaultHandleCalls.store(0);
    state.getLogLevelCalls.store(0);
    state.flushCalls.store(0);
}

}  // extern "C"
