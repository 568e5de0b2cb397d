// The 20-byte SHA-1 by which the engine stores content once, and its text form.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/uuid/detail/sha1.hpp>

namespace zef {

using Digest = std::array<uint8_t, 20>;

class DigestBuilder {
public:
    void Add(const void* bytes, size_t count) { m_sha1.process_bytes(bytes, count); }
    Digest Finish();

private:
    boost::uuids::detail::sha1 m_sha1;
};

Digest DigestOf(const void* bytes, size_t count);
// Forty lower-case hexadecimal digits.
std::u16string DigestText(const Digest& digest);

}  // namespace zef
