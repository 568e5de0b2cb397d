// The protocol-buffer writer: bytes of each field kind against the wire format's rules and the
// room checks. The restore feedback message itself is read back by libprotobuf (Linux) and by
// the reference host's decoder (every build).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/protobuf_serialize.h"
#include "engine/restore_report.h"

namespace {

using S = CProtocolBufferSerialize;
struct WriterCase {
    const char* why;
    bool (*write)(S&);
    bool written;
    std::vector<uint8_t> bytes;
};

// What each call writes, or refuses; a text whose UTF-8 form needs more than 519 bytes is left
// out, and that is success.
TEST(ProtocolBufferSerialize, FieldsAreWrittenAsTheWireFormatSaysOrRefused) {
    const WriterCase cases[] = {
        {"uint32 300", [](S& s) { return s.PutUInt32(1, 300); }, true, {0x08, 0xAC, 0x02}},
        {"int32 -3: ten bytes", [](S& s) { return s.PutInt32(2, -3); }, true,
         {0x10, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
        {"int32 5", [](S& s) { return s.PutInt32(3, 5); }, true, {0x18, 0x05}},
        {"uint32 0", [](S& s) { return s.PutUInt32(1, 0); }, true, {0x08, 0x00}},
        {"uint32 127 and 128", [](S& s) { return s.PutUInt32(1, 127) && s.PutUInt32(1, 128); }, true,
         {0x08, 0x7F, 0x08, 0x80, 0x01}},
        {"uint32 2^28-1, 2^32-1", [](S& s) { return s.PutUInt32(1, 0x0FFFFFFF) && s.PutUInt32(1, 0xFFFFFFFF); },
         true, {0x08, 0xFF, 0xFF, 0xFF, 0x7F, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
        {"field 16: a two-byte key", [](S& s) { return s.PutUInt32(16, 1); }, true, {0x80, 0x01, 0x01}},
        {"the last field number", [](S& s) { return s.PutUInt32(0x0FFFFFFF, 1); }, true,
         {0xF8, 0xFF, 0xFF, 0xFF, 0x07, 0x01}},
        {"a field number past it", [](S& s) { return s.PutUInt32(0x10000000, 1); }, false, {}},
        {"an empty text", [](S& s) { return s.PutWString(3, u""); }, true, {0x1A, 0x00}},
        {"a text beyond ASCII", [](S& s) { return s.PutWString(1, u"\u00E9\u4E2D"); }, true,
         {0x0A, 0x05, 0xC3, 0xA9, 0xE4, 0xB8, 0xAD}},
        {"no text", [](S& s) { return s.PutWString(1, static_cast<const char16_t*>(nullptr)); }, false, {}},
        {"522 text bytes", [](S& s) { return s.PutWString(1, std::u16string(174, u'\x4E2D')); }, true, {}},
        {"520 text bytes", [](S& s) { return s.PutWString(1, std::u16string(172, u'\x4E2D') + u"\u00e9ab"); },
         true, {}},
        {"bytes", [](S& s) { return s.PutBytes(3, "\x00\x01", 2); }, true, {0x1A, 0x02, 0x00, 0x01}},
        {"a varint64 of 2^63", [](S& s) { return s.WriteVarint64(uint64_t{1} << 63); }, true,
         {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}},
    };
    for (const WriterCase& c : cases) {
        S s;
        EXPECT_EQ(c.write(s), c.written) << c.why;
        EXPECT_EQ(std::vector<uint8_t>(s.Data(), s.Data() + s.Size()), c.bytes) << c.why;
        EXPECT_EQ(s.Remaining(), 4096u - c.bytes.size()) << c.why;
    }
    S s;  // 519 bytes of text fit
    EXPECT_TRUE(s.PutWString(1, std::u16string(173, u'\x4E2D').c_str()));
    EXPECT_EQ(s.Size(), 1u + 2u + 519u);
}

// Each write needs room for its widest form; a report that does not fit is refused; Reset gives
// back an empty, zeroed buffer.
TEST(ProtocolBufferSerialize, RoomIsCheckedBeforeWriting) {
    CProtocolBufferSerialize full;
    const std::vector<uint8_t> block(4090 - 3, 0xAB);  // 6 bytes remain
    ASSERT_TRUE(full.PutBytes(1, block.data(), static_cast<uint32_t>(block.size())));
    ASSERT_EQ(full.Remaining(), 6u);
    EXPECT_FALSE(full.WriteVarint64(1)) << "a 64-bit varint needs ten free bytes";
    EXPECT_FALSE(full.PutInt32(1, -1));
    EXPECT_TRUE(full.WriteVarint32(1)) << "a 32-bit varint needs five";
    EXPECT_FALSE(full.WriteVarint32(1));
    EXPECT_FALSE(full.PutBytes(1, "abc", 3));
    full.Reset();
    EXPECT_EQ(full.Size(), 0u);
    EXPECT_EQ(full.Remaining(), 4096u);
    for (uint32_t i = 0; i < CProtocolBufferSerialize::kCapacity; ++i) ASSERT_EQ(full.Data()[i], 0) << i;

    // Room for the header, the target and the outcome, not for the editions.
    const zef::RestoreReport r{};
    ASSERT_TRUE(full.PutBytes(9, block.data(), 4050));
    EXPECT_EQ(SerializeRestoreReport(&r, full), 0u);
    EXPECT_EQ(SerializeRestoreReport(nullptr, full), 0u);
}

}  // namespace
