// Result codes shared by the host, the plug-in and the engine wrapper. Bit 31 set = failure.
#pragma once
#include <cstdint>

namespace velk {

constexpr uint32_t kSuccess = 0x20FF0000;                 // VELK_SUCCESS
constexpr uint32_t kDuplicatedInitialization = 0x20FF000E;
constexpr uint32_t kOutOfService = 0x60FF0013;            // notification acknowledged, plug-in suspended
constexpr uint32_t kNotDone = 0xE0FF0001;
constexpr uint32_t kNotHandled = 0xE0FF0002;
constexpr uint32_t kEngineUnavailable = 0xE0FF0005;
constexpr uint32_t kBadArgument = 0xE0FF0007;
constexpr uint32_t kNoHostInterface = 0xE0FF000D;
constexpr uint32_t kEngineUntrusted = 0xE0FF0015;
constexpr uint32_t kNoTextMemory = 0xE0190016;
constexpr uint32_t kZefNotRunning = 0xE0360009;

// A host result is a success when it is non-negative as a signed 32-bit value.
constexpr bool Succeeded(uint32_t result) { return (result & 0x80000000u) == 0; }
constexpr bool Failed(uint32_t result) { return !Succeeded(result); }

}  // namespace velk
