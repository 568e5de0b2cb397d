// The reference engine's record files (the edition index and the restore results) read from
// any bytes: the input is sealed first, as a file the engine wrote would be, so the fuzzer
// reaches the record parsers; whatever they accept must write back to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "reference/zef/edition_index.h"
#include "reference/zef/record_codec.h"
#include "reference/zef/restore_results.h"

namespace {

std::vector<uint8_t> SealedFile(const char* magic, const uint8_t* data, size_t size) {
    zef::RecordWriter out;
    out.Bytes(magic, zef::kMagicBytes);
    out.Bytes(data, size);
    return zef::Sealed(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::u16string reason;
    const bool isIndex = data[0] % 2 == 0;
    const std::vector<uint8_t> bytes = SealedFile(isIndex ? "ZEFIDX01" : "ZEFRST01", data + 1, size - 1);
    zef::IndexContent content;
    std::vector<zef::RestoreResult> results;
    const bool parsed = isIndex ? zef::ParseIndex(bytes, content, reason)
                                : zef::ParseRestoreResults(bytes, results, reason);
    if (parsed && (isIndex ? zef::SerializeIndex(content) : zef::SerializeRestoreResults(results)) != bytes)
        __builtin_trap();
    // A changed byte anywhere is refused by the seal.
    std::vector<uint8_t> damaged = SealedFile("ZEFIDX01", data, size);
    damaged[8 + (data[0] % size)] ^= 1;
    if (zef::ParseIndex(damaged, content, reason)) __builtin_trap();
    return 0;
}
