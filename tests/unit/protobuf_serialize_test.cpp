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
    std::vector<uint8_t> bytes;
};

TEST(ProtocolBufferSerialize, FieldsAreWrittenAsTheWireFormatSays) {
    const WriterCase cases[] = {
        {"uint32 300", [](S& s) { return s.PutUInt32(1, 300); }, {0x08, 0xAC, 0x02}},
        {"int32 -3: ten bytes", [](S& s) { return s.PutInt32(2, -3); }, {0x10, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
        {"int32 5", [](S& s) { return s.PutInt32(3, 5); }, {0x18, 0x05}},
        {"uint32 0", [](S& s) { return s.PutUInt32(1, 0); }, {0x08, 0x00}},
        {"uint32 127 and 128", [](S& s) { return s.PutUInt32(1, 127) && s.PutUInt32(1, 128); }, {0x08, 0x7F, 0x08, 0x80, 0x01}},
        {"uint32 2^28 - 1 and 2^32 - 1", [](S& s) { return s.PutUInt32(1, 0x0FFFFFFF) && s.PutUInt32(1, 0xFFFFFFFF); },
         {0x08, 0xFF, 0xFF, 0xFF, 0x7F, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
        {"field 16: a two-byte key", [](S& s) { return s.PutUInt32(16, 1); }, {0x80, 0x01, 0x01}},
        {"the version text", [](S& s) { return s.PutWString(4, u"2.0.0.1045"); },
         {0x22, 0x0A, '2', '.', '0', '.', '0', '.', '1', '0', '4', '5'}},
        {"an empty text", [](S& s) { return s.PutWString(3, u""); }, {0x1A, 0x00}},
        {"a text beyond ASCII", [](S& s) { return s.PutWString(1, u"\u00E9\u4E2D"); }, {0x0A, 0x05, 0xC3, 0xA9, 0xE4, 0xB8, 0xAD}},
        {"bytes", [](S& s) { return s.PutBytes(3, "\x00\x01", 2); }, {0x1A, 0x02, 0x00, 0x01}},
        {"a varint64 of 2^63", [](S& s) { return s.WriteVarint64(uint64_t{1} << 63); },
         {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}},
    };
    for (const WriterCase& c : cases) {
        S s;
        EXPECT_TRUE(c.write(s)) << c.why;
        EXPECT_EQ(std::vector<uint8_t>(s.Data(), s.Data() + s.Size()), c.bytes) << c.why;
        EXPECT_EQ(s.Remaining(), 4096u - c.bytes.size()) << c.why;
    }
}

TEST(ProtocolBufferSerialize, RefusalsAndRoom) {
    CProtocolBufferSerialize s;
    EXPECT_FALSE(s.PutUInt32(0x10000000, 1)) << "field numbers stop at 0x0FFFFFFF";
    EXPECT_TRUE(s.PutUInt32(0x0FFFFFFF, 1));
    EXPECT_FALSE(s.PutWString(1, static_cast<const char16_t*>(nullptr)));
    s.Reset();

    // A text whose UTF-8 form needs more than 519 bytes is left out, and that is success.
    const std::u16string fits(173, u'\x4E2D');
    const std::u16string tooLong(174, u'\x4E2D');
    const std::u16string oneByteOver = std::u16string(172, u'\x4E2D') + u"\u00e9ab";  // 520 bytes
    EXPECT_TRUE(s.PutWString(1, tooLong.c_str()));
    EXPECT_TRUE(s.PutWString(1, oneByteOver.c_str()));
    EXPECT_EQ(s.Size(), 0u);
    EXPECT_TRUE(s.PutWString(1, fits.c_str()));
    EXPECT_EQ(s.Size(), 1u + 2u + 519u);

    // Fill to 4090 bytes: 6 remain.
    CProtocolBufferSerialize full;
    const std::vector<uint8_t> block(4090 - 3, 0xAB);
    ASSERT_TRUE(full.PutBytes(1, block.data(), static_cast<uint32_t>(block.size())));
    ASSERT_EQ(full.Remaining(), 6u);
    EXPECT_FALSE(full.WriteVarint64(1)) << "a 64-bit varint needs ten free bytes";
    EXPECT_FALSE(full.PutInt32(1, -1));
    EXPECT_TRUE(full.WriteVarint32(1)) << "a 32-bit varint needs five";
    EXPECT_FALSE(full.WriteVarint32(1));
    EXPECT_FALSE(full.PutBytes(1, "abc", 3));

    // Reset gives back an empty, zeroed buffer.
    full.Reset();
    EXPECT_EQ(full.Size(), 0u);
    EXPECT_EQ(full.Remaining(), 4096u);
    for (uint32_t i = 0; i < CProtocolBufferSerialize::kCapacity; ++i) ASSERT_EQ(full.Data()[i], 0) << i;
}

TEST(ProtocolBufferSerialize, AReportThatDoesNotFitIsRefused) {
    zef::RestoreReport r{};
    CProtocolBufferSerialize out;
    const std::vector<uint8_t> block(4050, 1);
    ASSERT_TRUE(out.PutBytes(9, block.data(), static_cast<uint32_t>(block.size())));
    EXPECT_EQ(SerializeRestoreReport(&r, out), 0u);
    EXPECT_EQ(SerializeRestoreReport(nullptr, out), 0u);
}

}  // namespace
