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

// Every field set, in the record's order; the texts a case varies are copied in after.
zef::RestoreReport Report(int32_t timeZone, const std::u16string& virusName,
                          const std::u16string& subject) {
    zef::RestoreReport r{0xFEDCBA98, timeZone, 15, u"2.0.0.1045", {}, u"-2147483648", u"7",
                         u"C:\\Users\\\u00E9l\u00E8ve\\\u6587\u4EF6.docx \U0001F600",
                         0xE0360004, 1, 1234567, 9, 3, 4, 1699990000, 0x7FFFFFFF, {}, u"SIG:00ff", {},
                         0x80, 2, 1, 0, 0x10000000, 0xFFFFFFFF};
    for (uint8_t i = 0; i < 20; ++i) r.editionValue[i] = static_cast<uint8_t>(i * 13);
    engine_report::SetReportText(r.virusName, virusName.c_str());
    engine_report::SetReportText(r.subject, subject.c_str());
    return r;
}

// The message libprotobuf makes of the report's fields, every field present (an empty text and
// a zero too), as the host expects it.
feedback_check::RestoreFeedback Expected(const zef::RestoreReport& r) {
    feedback_check::RestoreFeedback m;
    auto* header = m.mutable_header();
    header->set_request_time(r.requestTime), header->set_time_zone(r.timeZone), header->set_constant(15);
    header->set_zef_version("2.0.0.1045");
    auto* target = m.mutable_target();
    target->set_file_name(Utf8(r.fileName)), target->set_file_type("7");
    target->set_virus_name(Utf8(r.virusName)), target->set_virus_type("-2147483648");
    auto* outcome = m.mutable_outcome();
    outcome->set_result(r.result), outcome->set_reboot(1), outcome->set_time_consumed(r.timeConsumed);
    auto* editions = m.mutable_editions();
    editions->set_valid_editions(9), editions->set_skipped_editions(3);
    auto* used = editions->mutable_edition_used();
    used->set_index_from_new_to_old(4), used->set_signature("SIG:00ff");
    used->set_value(std::string(reinterpret_cast<const char*>(r.editionValue), 20)), used->set_size(0x7FFFFFFF);
    used->set_subject(Utf8(r.subject)), used->set_operation(0x80), used->set_time_stamp(r.timeStamp);
    auto* purged = editions->mutable_purge_stat();
    purged->set_purged_editions(2), purged->set_first_create_time(1), purged->set_first_purge_time(0);
    purged->set_last_create_time(0x10000000), purged->set_last_purge_time(0xFFFFFFFF);
    return m;
}

// The plug-in's bytes are, byte for byte, what libprotobuf writes of the same message: every
// field under its number and type, in order, with its value.
TEST(FeedbackProtobuf, LibprotobufWritesTheSameBytes) {
    const struct {
        const char* why;
        zef::RestoreReport report;
    } cases[] = {
        {"a negative time zone and empty texts", Report(-3, u"", u"")},
        {"the most negative time zone", Report(INT32_MIN, u"Eicar", u"x")},
        {"a positive time zone and a text of 260 units", Report(5, u"W32/Test", std::u16string(260, u's'))},
    };
    for (const auto& c : cases) {
        CProtocolBufferSerialize out;
        ASSERT_EQ(SerializeRestoreReport(&c.report, out), 1u) << c.why;
        feedback_check::RestoreFeedback decoded;
        ASSERT_TRUE(decoded.ParseFromArray(out.Data(), static_cast<int>(out.Size()))) << c.why;
        EXPECT_EQ(Expected(c.report).SerializeAsString(), std::string(reinterpret_cast<const char*>(out.Data()), out.Size()))
            << c.why << ": read back as " << decoded.ShortDebugString();
    }
}

}  // namespace
