// Times as the host's logs and its command line print them.
#pragma once
#include <cstdint>
#include <string>

namespace pellumhost {

// Seconds since 1970 as "YYYY-MM-DD hh:mm:ss UTC", on any thread (no shared C library state).
std::string UtcText(uint64_t seconds);

// A moment as the command line gives it, in milliseconds since 1970: "YYYY-MM-DD hh:mm:ss"
// (UTC; a 'T' may stand for the space, seconds may carry ".mmm", " UTC" or "Z" may end it),
// "@SECONDS" since 1970, or a time before nowMs such as "-90s", "-10m", "-2h", "-1d". False
// with the reason for anything else.
bool ParseMoment(const std::string& text, uint64_t nowMs, uint64_t& unixMs, std::string& error);

}  // namespace pellumhost
