// Times as the host's logs and its command line print them.
#pragma once
#include <cstdint>
#include <string>

namespace pellumhost {

// Seconds since 1970 as "YYYY-MM-DD hh:mm:ss UTC", on any thread (no shared C library state).
std::string UtcText(uint64_t seconds);

}  // namespace pellumhost
