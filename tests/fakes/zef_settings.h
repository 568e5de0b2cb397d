// Settings handed to an in-process reference engine the way the plug-in hands them over.
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>

#include "reference/zef/zef_engine.h"

namespace zef_test {

// A text setting: a 260-unit buffer with its capacity, at most 259 units of text.
inline uint32_t SetText(zef::Engine& engine, uint32_t id, const std::u16string& text) {
    char16_t buffer[260] = {};
    text.copy(buffer, std::min<size_t>(text.size(), 259));
    zef::ConfigureParameter parameter{};
    parameter.text.buffer = buffer;
    parameter.text.self = &parameter.text.capacity;
    parameter.text.capacity = 260;
    return engine.ChangeConfigure(id, &parameter);
}

inline uint32_t SetNumber(zef::Engine& engine, uint32_t id, uint32_t value) {
    zef::ConfigureParameter parameter{};
    parameter.numeric.value = value;
    return engine.ChangeConfigure(id, &parameter);
}

}  // namespace zef_test
