// The restore report: its header from a fixed clock, its times, and the Report.log summary
// compared character for character in two time zones.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/report_text.h"
#include "engine/restore_report.h"
#include "platform/text.h"
#include "tests/fakes/test_folder.h"
#include "tests/unit/wrapper_fixture.h"

namespace {

// A clock fixed at 2023-11-14 22:13:20 UTC in a zone chosen by the test.
int32_t g_bias = 0;
bool g_convertible = true;
int64_t FixedNow() { return 1700000000; }
int32_t FixedBias() { return g_bias; }
bool FixedToLocal(int64_t seconds, platform::SystemTime& local) {
    const std::time_t shifted = static_cast<std::time_t>(seconds - int64_t{g_bias} * 60);
    const std::tm* t = std::gmtime(&shifted);
    if (!g_convertible || t == nullptr) return false;
    const auto unit = [](int value) { return static_cast<uint16_t>(value); };
    local = {unit(t->tm_year + 1900), unit(t->tm_mon + 1), 0, unit(t->tm_mday),
             unit(t->tm_hour), unit(t->tm_min), unit(t->tm_sec), 0};
    return true;
}
const engine_report::ReportClock kFixedClock{FixedNow, FixedBias, FixedToLocal};

// The header's zone is whole hours east, rounded toward zero; request fields are cut and
// signed; times are local, or NULL for 0 and for a time that does not convert.
TEST(RestoreReport, HeaderRequestFieldsAndTimes) {
    for (auto [bias, timeZone] : {std::pair<int32_t, int32_t>{-330, 5}, {60, -1}, {210, -3}, {0, 0}, {-60, 1},
                                  {59, 0}, {-720, 12}}) {
        g_bias = bias;
        zef::RestoreReport report{};
        engine_report::FillReportHeader(report, kFixedClock);
        EXPECT_EQ(report.timeZone, timeZone) << bias;
        EXPECT_EQ(report.requestTime, 1700000000u);
        EXPECT_EQ(report.constant15, 15u);
        EXPECT_EQ(Text(report.zefVersion), "2.0.0.1045");
    }
    zef::RestoreReport report{};
    const std::u16string longPath(300, u'p');
    engine_report::FillRequestFields(report, longPath.c_str(), nullptr, 0xFFFFFFFFu, 12);
    EXPECT_EQ(Text(report.fileName) + "|" + Text(report.virusName) + "|" + Text(report.virusType) + "|" +
                  Text(report.fileType),
              std::string(260, 'p') + "||-1|12");

    g_bias = 210;
    char16_t buffer[261];
    const struct {
        uint32_t seconds;
        bool convertible;
        const char* text;
    } times[] = {{1700000000, true, "2023-11-14 18:43:20"}, {0, true, "NULL"}, {1700000000, false, "NULL"},
                 {86400, true, "1970-01-01 20:30:00"}};
    for (const auto& c : times) {
        g_convertible = c.convertible;
        EXPECT_EQ(engine_report::FormatReportTime(c.seconds, buffer, 261, kFixedClock), buffer);
        EXPECT_EQ(Text(buffer), c.text) << c.seconds;
    }
    g_convertible = true;
    EXPECT_EQ(engine_report::FormatReportTime(5, nullptr, 261, kFixedClock), nullptr);
}

class ReportLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = MakeTestFolder("report");
        path = folder / "Report.log";
        ASSERT_EQ(logger.Open(4, path.u16string().c_str()), 1u);
        logger.SetHeader(0);
    }
    void TearDown() override {
        logger.Close();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    // The whole file, byte-order mark checked and dropped, as UTF-8.
    std::string Contents() {
        logger.Close();
        return Utf8WithoutMark(path);
    }
    static zef::RestoreReport FullReport() {
        zef::RestoreReport r{};
        engine_report::FillReportHeader(r, kFixedClock);
        engine_report::FillRequestFields(r, u"C:\\docs\\a.txt", u"Eicar", 3, 7);
        r.result = 0x20FF0000;
        r.reboot = 1;
        r.timeConsumed = 42;
        r.validEditions = 3;
        r.skippedEditions = 1;
        r.indexFromNewToOld = 2;
        r.timeStamp = 1699990000;
        r.size = 4096;
        engine_report::SetReportText(r.signature, u"sig-77");
        engine_report::SetReportText(r.subject, u"subject");
        r.operation = 2;
        r.purgedEditions = 1;
        r.firstCreateTime = 1690000000;
        r.lastCreateTime = 1695000000;
        r.lastPurgeTime = 1696000000;
        return r;
    }

    std::filesystem::path folder;
    std::filesystem::path path;
    util::CLogger logger;
};

// One section of a Report.log summary: "[name]", then a line per label, padded to 18 columns.
std::string Section(const char* name, std::initializer_list<std::pair<std::string, std::string>> rows) {
    std::string text = std::string("[") + name + "]\n";
    for (const auto& [label, value] : rows) {
        text += "\t " + label + std::string(18 - label.size(), ' ') + ": " + value + "\n";
    }
    return text;
}

// The summary of FullReport() written 3.5 hours west of UTC.
const std::string kWestSummary =
    "=========================================================\n" +
    Section("Summary", {{"ZEFVersion", "2.0.0.1045"}, {"RequestTime", "2023-11-14 18:43:20 (1700000000)"},
                        {"TimeZone", "-3"}, {"FileName", "C:\\docs\\a.txt"}, {"FileType", "7"},
                        {"VirusName", "Eicar"}, {"VirusType", "3"}, {"Result", "Success"},
                        {"ErrorCode", "VELK_SUCCESS (20FF0000)"}, {"Reboot", "Need"},
                        {"TimeConsumed(ms)", "42"}}) + "\n" +
    Section("Edition used to restore", {{"IndexFromNewToOld", "2"}, {"Signature", "sig-77"}, {"Size", "4096"},
                                        {"Subject", "subject"}, {"Operation", "2"},
                                        {"TimeStamp", "2023-11-14 15:56:40 (1699990000)"}}) + "\n" +
    Section("Edition Stat", {{"ValidEditions", "3"}, {"SkippedEditions", "1"}}) + "\n" +
    Section("Purged Edition Stat", {{"PurgedEditions", "1"},
                                    {"FirstCreateTime", "2023-07-22 00:56:40 (1690000000)"},
                                    {"FirstPurgeTime", "NULL (0)"},
                                    {"LastCreateTime", "2023-09-17 21:50:00 (1695000000)"},
                                    {"LastPurgeTime", "2023-09-29 11:36:40 (1696000000)"}}) +
    "\n\n\n\r\n";

// text with each (from, to) replaced once; a from that is absent fails the test.
std::string Replaced(std::string text, const std::vector<std::pair<std::string, std::string>>& edits) {
    for (const auto& [from, to] : edits) {
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
    }
    return text;
}

TEST_F(ReportLogTest, SummaryWestOfUtcWithAHalfHourBias) {
    g_bias = 210;
    const zef::RestoreReport report = FullReport();
    engine_report::WriteRestoreReport(logger, &report, kFixedClock);
    EXPECT_EQ(Contents(), kWestSummary);
}

TEST_F(ReportLogTest, SummaryEastOfUtcForAFailedRestore) {
    g_bias = -330;
    zef::RestoreReport report = FullReport();
    report.result = 0xE0360005;  // no name in the table
    report.reboot = 0;
    report.virusName[0] = u'\0';
    report.signature[zef::kTextUnits - 1] = u'!';  // an engine text may come unterminated
    std::char_traits<char16_t>::assign(report.subject, zef::kTextUnits, u's');
    engine_report::WriteRestoreReport(logger, &report, kFixedClock);
    EXPECT_EQ(Contents(),
              Replaced(kWestSummary,
                       {{"2023-11-14 18:43:20", "2023-11-15 03:43:20"},
                        {"TimeZone          : -3", "TimeZone          : 5"},
                        {": Eicar", ": "},
                        {"Success", "Failure"},
                        {"VELK_SUCCESS (20FF0000)", " (E0360005)"},
                        {": Need\n", ": Need not\n"},
                        {": subject", ": " + std::string(262, 's')},
                        {"2023-11-14 15:56:40", "2023-11-15 00:56:40"},
                        {"2023-07-22 00:56:40", "2023-07-22 09:56:40"},
                        {"2023-09-17 21:50:00", "2023-09-18 06:50:00"},
                        {"2023-09-29 11:36:40", "2023-09-29 20:36:40"}}));
}

TEST_F(ReportLogTest, NothingIsWrittenForANullReportOrBelowInfo) {
    engine_report::WriteRestoreReport(logger, nullptr, kFixedClock);
    util::CLogger quiet;
    const std::filesystem::path other = folder / "Quiet.log";
    ASSERT_EQ(quiet.Open(3, other.u16string().c_str()), 1u);
    const zef::RestoreReport report = FullReport();
    engine_report::WriteRestoreReport(quiet, &report, kFixedClock);
    quiet.Close();
    EXPECT_EQ(Contents(), "");
    EXPECT_EQ(std::filesystem::file_size(other), 2u) << "only the byte-order mark";
}

}  // namespace
