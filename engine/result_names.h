// The symbolic names of restore result codes, as the restore report prints them.
#pragma once
#include <cstdint>
#include <string>

namespace engine_results {

// The name of a code, or empty text for a code the table does not hold.
const std::u16string& GetResultName(int32_t code);

}  // namespace engine_results
