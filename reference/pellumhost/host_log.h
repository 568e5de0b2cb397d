// The reference host's own diagnostic lines (tag "Pellumhost"), through the same log library.
#pragma once
#include <cstdint>
#include <string>

namespace pellumhost {

void HostLog(uint32_t level, uint32_t line, const std::string& utf8Text);

}  // namespace pellumhost
