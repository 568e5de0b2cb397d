// Identity of the running process and thread.
#pragma once
#include <cstdint>

namespace platform {

uint32_t CurrentProcessId();
uint32_t CurrentThreadId();

}  // namespace platform
