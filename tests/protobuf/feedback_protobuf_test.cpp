// The restore feedback bytes decoded by libprotobuf with a .proto of the message, compared
// field by field with the report they were made from: an independent check of the encoder.
#include <gtest/gtest.h>

#include <string>

#include "engine/protobuf_serialize.h"
#include "engine/report_text.h"
#include "platform/text.h"
#include "restore_feedback.pb.h"

namespace {

std::string Utf8(const char16_t* text) { return platform::ToUtf8(text); }

void SetText(char16_t (&field)[zef::kTextUnits], const std::u16string& text) {
    engine_report::SetReportText(field, text.c_str());
}

zef::RestoreReport Report(int32_t timeZone, const std::u16string& virusName,
                          const std::u16string& subject) {
    zef::RestoreReport r{};
    r.requestTime = 0xFEDCBA98;
    r.timeZone = timeZone;
    r.constant15 = 15;
    SetText(r.zefVersion, u"2.0.0.1045");
    SetText(r.virusName, virusName);
    SetText(r.virusType, u"-2147483648");
    SetText(r.fileType, u"7");
    SetText(r.fileName, u"C:\\Users\\\u00E9l\u00E8ve\\\u6587\u4EF6.docx \U0001F600");
    r.result = 0xE0360004;
    r.reboot = 1;
    r.timeConsumed = 1234567;
    r.validEditions = 9;
    r.skippedEditions = 3;
    r.indexFromNewToOld = 4;
    r.timeStamp = 1699990000;
    r.size = 0x7FFFFFFF;
    for (uint8_t i = 0; i < 20; ++i) r.editionValue[i] = static_cast<uint8_t>(i * 13);
    SetText(r.signature, u"SIG:00ff");
    SetText(r.subject, subject);
    r.operation = 0x80;
    r.purgedEditions = 2;
    r.firstCreateTime = 1;
    r.firstPurgeTime = 0;
    r.lastCreateTime = 0x10000000;
    r.lastPurgeTime = 0xFFFFFFFF;
    return r;
}

TEST(FeedbackProtobuf, LibprotobufReadsEveryFieldBack) {
    const struct {
        const char* why;
        zef::RestoreReport report;
    } cases[] = {
        {"a negative time zone and empty texts", Report(-3, u"", u"")},
        {"the most negative time zone", Report(INT32_MIN, u"Eicar", u"x")},
        {"a positive time zone and a text of 260 units",
         Report(5, u"W32/Test", std::u16string(260, u's'))},
    };
    for (const auto& c : cases) {
        const zef::RestoreReport& r = c.report;
        CProtocolBufferSerialize out;
        ASSERT_EQ(SerializeRestoreReport(&r, out), 1u) << c.why;
        feedback_check::RestoreFeedback decoded;
        ASSERT_TRUE(decoded.ParseFromArray(out.Data(), static_cast<int>(out.Size()))) << c.why;

        const auto& header = decoded.header();
        EXPECT_EQ(header.request_time(), r.requestTime) << c.why;
        EXPECT_EQ(header.time_zone(), r.timeZone) << c.why;
        EXPECT_EQ(header.constant(), 15u) << c.why;
        EXPECT_EQ(header.zef_version(), "2.0.0.1045") << c.why;

        const auto& target = decoded.target();
        EXPECT_EQ(target.file_name(), Utf8(r.fileName)) << c.why;
        EXPECT_EQ(target.file_type(), "7") << c.why;
        EXPECT_TRUE(target.has_virus_name()) << c.why << ": an empty text is still a field";
        EXPECT_EQ(target.virus_name(), Utf8(r.virusName)) << c.why;
        EXPECT_EQ(target.virus_type(), "-2147483648") << c.why;

        const auto& outcome = decoded.outcome();
        EXPECT_EQ(outcome.result(), r.result) << c.why;
        EXPECT_EQ(outcome.reboot(), 1u) << c.why;
        EXPECT_EQ(outcome.time_consumed(), r.timeConsumed) << c.why;

        const auto& editions = decoded.editions();
        EXPECT_EQ(editions.valid_editions(), 9u) << c.why;
        EXPECT_EQ(editions.skipped_editions(), 3u) << c.why;
        const auto& used = editions.edition_used();
        EXPECT_EQ(used.index_from_new_to_old(), 4u) << c.why;
        EXPECT_EQ(used.signature(), "SIG:00ff") << c.why;
        EXPECT_EQ(used.value(), std::string(reinterpret_cast<const char*>(r.editionValue), 20))
            << c.why;
        EXPECT_EQ(used.size(), 0x7FFFFFFFu) << c.why;
        EXPECT_TRUE(used.has_subject()) << c.why;
        EXPECT_EQ(used.subject(), Utf8(r.subject)) << c.why;
        EXPECT_EQ(used.operation(), 0x80u) << c.why;
        EXPECT_EQ(used.time_stamp(), r.timeStamp) << c.why;
        const auto& purged = editions.purge_stat();
        EXPECT_EQ(purged.purged_editions(), 2u) << c.why;
        EXPECT_EQ(purged.first_create_time(), 1u) << c.why;
        EXPECT_TRUE(purged.has_first_purge_time()) << c.why << ": a zero is written too";
        EXPECT_EQ(purged.first_purge_time(), 0u) << c.why;
        EXPECT_EQ(purged.last_create_time(), 0x10000000u) << c.why;
        EXPECT_EQ(purged.last_purge_time(), 0xFFFFFFFFu) << c.why;

        // libprotobuf writes the same message, field for field in the same order, byte for byte.
        EXPECT_EQ(decoded.SerializeAsString(),
                  std::string(reinterpret_cast<const char*>(out.Data()), out.Size()))
            << c.why;
    }
}

}  // namespace
