// The protocol-buffer writer: bytes of each field kind against the wire format's rules, the
// room checks, and the restore feedback message read back with an independent reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/protobuf_serialize.h"
#include "engine/report_text.h"
#include "engine/restore_report.h"
#include "platform/text.h"
#include "tests/unit/wire_reader.h"

namespace {

std::vector<uint8_t> Bytes(const CProtocolBufferSerialize& s) {
    return {s.Data(), s.Data() + s.Size()};
}

struct WriterCase {
    const char* why;
    bool (*write)(CProtocolBufferSerialize&);
    std::vector<uint8_t> bytes;
};

TEST(ProtocolBufferSerialize, FieldsAreWrittenAsTheWireFormatSays) {
    const WriterCase cases[] = {
        {"uint32 300", [](CProtocolBufferSerialize& s) { return s.PutUInt32(1, 300); },
         {0x08, 0xAC, 0x02}},
        {"int32 -1: ten bytes", [](CProtocolBufferSerialize& s) { return s.PutInt32(2, -1); },
         {0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
        {"int32 -3", [](CProtocolBufferSerialize& s) { return s.PutInt32(2, -3); },
         {0x10, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
        {"int32 5", [](CProtocolBufferSerialize& s) { return s.PutInt32(3, 5); }, {0x18, 0x05}},
        {"uint32 0", [](CProtocolBufferSerialize& s) { return s.PutUInt32(1, 0); }, {0x08, 0x00}},
        {"uint32 127 and 128", [](CProtocolBufferSerialize& s) {
             return s.PutUInt32(1, 127) && s.PutUInt32(1, 128);
         }, {0x08, 0x7F, 0x08, 0x80, 0x01}},
        {"uint32 2^28 - 1 and 2^32 - 1", [](CProtocolBufferSerialize& s) {
             return s.PutUInt32(1, 0x0FFFFFFF) && s.PutUInt32(1, 0xFFFFFFFF);
         }, {0x08, 0xFF, 0xFF, 0xFF, 0x7F, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
        {"field 16: a two-byte key", [](CProtocolBufferSerialize& s) { return s.PutUInt32(16, 1); },
         {0x80, 0x01, 0x01}},
        {"the version text", [](CProtocolBufferSerialize& s) { return s.PutWString(4, u"2.0.0.1045"); },
         {0x22, 0x0A, '2', '.', '0', '.', '0', '.', '1', '0', '4', '5'}},
        {"an empty text", [](CProtocolBufferSerialize& s) { return s.PutWString(3, u""); },
         {0x1A, 0x00}},
        {"a text beyond ASCII", [](CProtocolBufferSerialize& s) { return s.PutWString(1, u"\u00E9\u4E2D"); },
         {0x0A, 0x05, 0xC3, 0xA9, 0xE4, 0xB8, 0xAD}},
        {"bytes", [](CProtocolBufferSerialize& s) { return s.PutBytes(3, "\x00\x01", 2); },
         {0x1A, 0x02, 0x00, 0x01}},
        {"a varint64 of 2^63", [](CProtocolBufferSerialize& s) {
             return s.WriteVarint64(uint64_t{1} << 63);
         }, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}},
    };
    for (const WriterCase& c : cases) {
        CProtocolBufferSerialize s;
        EXPECT_TRUE(c.write(s)) << c.why;
        EXPECT_EQ(Bytes(s), c.bytes) << c.why;
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
    EXPECT_TRUE(s.PutWString(1, tooLong.c_str()));
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
    for (uint32_t i = 0; i < CProtocolBufferSerialize::kCapacity; ++i) {
        ASSERT_EQ(full.Data()[i], 0) << i;
    }
}

TEST(ProtocolBufferSerialize, RestoreReportReadsBackFieldByField) {
    zef::RestoreReport r{};
    r.requestTime = 1700000000;
    r.timeZone = -3;
    r.constant15 = 15;
    engine_report::SetReportText(r.zefVersion, u"2.0.0.1045");
    engine_report::SetReportText(r.fileName, u"C:\\a\u00E9.txt");
    engine_report::SetReportText(r.fileType, u"7");
    engine_report::SetReportText(r.virusType, u"-2");
    r.result = 0xE0360004;
    r.reboot = 1;
    r.timeConsumed = 12;
    r.validEditions = 4;
    r.skippedEditions = 2;
    r.indexFromNewToOld = 3;
    engine_report::SetReportText(r.signature, u"sig");
    for (uint8_t i = 0; i < 20; ++i) r.editionValue[i] = static_cast<uint8_t>(0xE0 + i);
    r.size = 300;
    r.operation = 6;
    r.timeStamp = 1699990000;
    r.purgedEditions = 5;
    r.firstCreateTime = 1;
    r.lastPurgeTime = 0xFFFFFFFF;

    CProtocolBufferSerialize out;
    ASSERT_EQ(SerializeRestoreReport(&r, out), 1u);
    bool ok = false;
    const std::string bytes(reinterpret_cast<const char*>(out.Data()), out.Size());
    const std::vector<WireField> root = ReadWire(bytes, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(root.size(), 4u);
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(root[i].number, i + 1) << "messages in order";

    const auto numbers = [](const std::vector<WireField>& fields) {
        std::vector<uint32_t> n;
        for (const WireField& f : fields) n.push_back(f.number);
        return n;
    };
    const std::vector<WireField> header = ReadWire(root[0].bytes);
    EXPECT_EQ(numbers(header), (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(header[0].varint, 1700000000u);
    EXPECT_EQ(header[1].varint, static_cast<uint64_t>(int64_t{-3}));
    EXPECT_EQ(header[2].varint, 15u);
    EXPECT_EQ(header[3].bytes, "2.0.0.1045");

    const std::vector<WireField> target = ReadWire(root[1].bytes);
    EXPECT_EQ(numbers(target), (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(target[0].bytes, "C:\\a\xC3\xA9.txt");
    EXPECT_EQ(target[1].bytes, "7");
    EXPECT_EQ(target[2].wireType, 2u);
    EXPECT_EQ(target[2].bytes, "") << "an empty virus name is a field of length 0";
    EXPECT_EQ(target[3].bytes, "-2");

    const std::vector<WireField> outcome = ReadWire(root[2].bytes);
    EXPECT_EQ(numbers(outcome), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(outcome[0].varint, 0xE0360004u);

    const std::vector<WireField> editions = ReadWire(root[3].bytes);
    EXPECT_EQ(numbers(editions), (std::vector<uint32_t>{1, 2, 3, 4}));
    const std::vector<WireField> used = ReadWire(editions[2].bytes);
    EXPECT_EQ(numbers(used), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(used[2].bytes.size(), 20u);
    EXPECT_EQ(static_cast<uint8_t>(used[2].bytes[19]), 0xE0 + 19);
    EXPECT_EQ(used[4].bytes, "") << "an empty subject";
    const std::vector<WireField> purged = ReadWire(editions[3].bytes);
    EXPECT_EQ(numbers(purged), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(purged[4].varint, 0xFFFFFFFFu);
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
