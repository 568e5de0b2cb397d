// Result codes as the host prints them: always in hexadecimal, with their meaning in words where
// it is known.
#pragma once
#include <cstdint>
#include <string>

namespace pellumhost {

// A result code as "0x%08X".
std::string ResultText(uint32_t result);

// A restore result in words, with its symbolic name where it has one.
std::string RestoreResultText(uint32_t result);

}  // namespace pellumhost
