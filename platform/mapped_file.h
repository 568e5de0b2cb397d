// Changing a file's bytes through a shared memory map of it, so that the change reaches the
// file without a write call (the system writes the pages back itself).
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// Maps the whole of the existing file at path for reading and writing, hands its bytes to
// change, then flushes the pages to the file and unmaps it. false with the reason in error when
// the file cannot be opened or mapped (an empty file cannot be mapped: nothing is changed).
bool ChangeThroughMap(const std::u16string& path,
                      const std::function<void(uint8_t* bytes, size_t count)>& change,
                      std::string& error);

}  // namespace platform
