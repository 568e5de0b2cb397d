// The 20-byte SHA-1 by which the engine stores content once, and its text form. Every read of
// stored content is checked against it, so it is computed a block at a time.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zef {

using Digest = std::array<uint8_t, 20>;

class DigestBuilder {
public:
    // The processor's SHA instructions are used where it has them unless portable is asked
    // for (tests compare the two).
    explicit DigestBuilder(bool portable = false);
    void Add(const void* bytes, size_t count);
    Digest Finish();

private:
    void Block(const uint8_t* block);

    bool m_shaInstructions;
    uint32_t m_state[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    uint8_t m_pending[64] = {};
    size_t m_pendingBytes = 0;
    uint64_t m_totalBytes = 0;
};

Digest DigestOf(const void* bytes, size_t count);
// Forty lower-case hexadecimal digits.
std::u16string DigestText(const Digest& digest);

}  // namespace zef
