// How the reference log library renders one line for a human reader.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace quastle {

// "2026-12-05 14:33:39.123 [Plugin ZEF Wrapper] 2 PlugEngineZef(379): text\n" in UTF-8.
std::string RenderLine(const platform::SystemTime& when, std::u16string_view moduleTag,
                       uint32_t level, std::u16string_view sourceFile, uint32_t line,
                       std::u16string_view text);

}  // namespace quastle
