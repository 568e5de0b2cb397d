// Path expansion of any text: the result is 0 or 1, a text without "%" is kept, and a failed
// tokenisation leaves the text as it was.
#include <cstddef>
#include <cstdint>
#include <string>

#include "util/path_variables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char16_t kPieces[] = u"%TEMP%velk_data_path%x%%\\ab";
    std::u16string input;
    for (size_t i = 0; i < size; ++i) {
        input += data[i] < 128 ? kPieces[data[i] % (sizeof kPieces / 2 - 1)]
                               : static_cast<char16_t>(0x100 + data[i]);
    }
    std::u16string output;
    const int result = util::ExpandPathVariables(input, output, (size & 1) != 0);
    if (result != 0 && result != 1) __builtin_trap();
    if (input.find(u'%') == std::u16string::npos && (output != input || result != 1)) __builtin_trap();
    std::u16string inPlace = input;
    if (util::ExpandPathVariables(inPlace, inPlace, (size & 1) != 0) != result || inPlace != output) {
        __builtin_trap();
    }
    return 0;
}
