// FormatW: conversions, widths and precision, truncation and the -1 result, bad formats.
// The log header's pattern is checked whole by the logger's tests.
#include "util/format_w.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using util::FormatW;

template <typename... Args>
std::u16string Format(const char16_t* format, const Args&... args) {
    char16_t buffer[256];
    const int written = FormatW(buffer, 256, format, args...);
    EXPECT_EQ(written, static_cast<int>(std::char_traits<char16_t>::length(buffer)));
    return buffer;
}

TEST(FormatW, IntegerConversionsFollowTheCLibrary) {
    const uint32_t all = 0xFFFFFFFFu;
    EXPECT_EQ(Format(u"%d", 42), u"42");
    EXPECT_EQ(Format(u"%d", -42), u"-42");
    EXPECT_EQ(Format(u"%d", all), u"-1");  // 32-bit unless told otherwise
    EXPECT_EQ(Format(u"%u", -1), u"4294967295");
    EXPECT_EQ(Format(u"%x", 0xE0FF0007u), u"e0ff0007");
    EXPECT_EQ(Format(u"%08X", 0x20FF0000u), u"20FF0000");
    EXPECT_EQ(Format(u"%08X", 0x1Au), u"0000001A");
    EXPECT_EQ(Format(u"%4.4d", 7), u"0007");
    EXPECT_EQ(Format(u"%2.2d", 5), u"05");
    EXPECT_EQ(Format(u"%3.3d", 12), u"012");
    EXPECT_EQ(Format(u"%5d|%-5d|", 12, 12), u"   12|12   |");
    EXPECT_EQ(Format(u"%05d", -12), u"-0012");
    EXPECT_EQ(Format(u"%+d % d", 3, 3), u"+3  3");
    EXPECT_EQ(Format(u"%#x", 255), u"0xff");
    EXPECT_EQ(Format(u"%.0d", 0), u"");
    EXPECT_EQ(Format(u"%d", INT32_MIN), u"-2147483648");
    EXPECT_EQ(Format(u"%lld", INT64_MIN), u"-9223372036854775808");
    EXPECT_EQ(Format(u"%I64u", UINT64_MAX), u"18446744073709551615");
    EXPECT_EQ(Format(u"%hd", 70000), u"4464");
    EXPECT_EQ(Format(u"%hhu", 300), u"44");
    EXPECT_EQ(Format(u"%*d|%-*d|", 4, 1, 3, 2), u"   1|2  |");
    EXPECT_EQ(Format(u"%*d", -3, 1), u"1  ");
    EXPECT_EQ(Format(u"%d", 1, 2, 3), u"1") << "extra arguments are ignored";
}

TEST(FormatW, TextConversions) {
    const std::u16string folder = u"C:\\Program Files\\VELK";
    EXPECT_EQ(Format(u"%s\\%s", folder, u"Zef.dll"), u"C:\\Program Files\\VELK\\Zef.dll");
    EXPECT_EQ(Format(u"%s.old", u"Report.log"), u"Report.log.old");
    EXPECT_EQ(Format(u"[%s]", static_cast<const char16_t*>(nullptr)), u"[(null)]");
    EXPECT_EQ(Format(u"[%.3s]", u"abcdef"), u"[abc]");
    EXPECT_EQ(Format(u"[%6s][%-6s]", u"ab", u"ab"), u"[    ab][ab    ]");
    EXPECT_EQ(Format(u"%c%c", u'\u00e9', 65), u"\u00e9A");
    EXPECT_EQ(Format(u"100%%"), u"100%");
    EXPECT_EQ(Format(u"[.\\%s(%d)]", u"pattern", 3), u"[.\\pattern(3)]");
    EXPECT_EQ(Format(u"\u4e2d\u6587 %s", u"\U0001F600"), u"\u4e2d\u6587 \U0001F600");
}

TEST(FormatW, TruncationKeepsWhatFitsAndAnswersMinusOne) {
    char16_t buffer[8];
    EXPECT_EQ(FormatW(buffer, 8, u"%s", u"1234567"), 7);  // exactly fits with the terminator
    EXPECT_EQ(std::u16string(buffer), u"1234567");
    EXPECT_EQ(FormatW(buffer, 8, u"%s", u"12345678"), -1);
    EXPECT_EQ(std::u16string(buffer), u"1234567");
    EXPECT_EQ(FormatW(buffer, 8, u"%08X%08X", 1u, 2u), -1);
    EXPECT_EQ(std::u16string(buffer), u"0000000");
    EXPECT_EQ(FormatW(buffer, 1, u"x"), -1);
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(FormatW(buffer, 1, u""), 0);
    buffer[0] = u'a';
    EXPECT_EQ(FormatW(buffer, 0, u"x"), -1);
    EXPECT_EQ(buffer[0], u'a') << "nothing written without room";
    EXPECT_EQ(FormatW(static_cast<char16_t*>(nullptr), 10, u"x"), -1);
}

TEST(FormatW, BadFormatsFailWithAnEmptyText) {
    const struct {
        const char* why;
        const char16_t* format;
    } cases[] = {
        {"unknown conversion", u"a%qb"},
        {"conversion cut off", u"abc%"},
        {"too few arguments", u"%d %d"},
        {"text asked, integer given", u"%s"},
        {"absurd width", u"%99999999d"},
        {"absurd precision", u"%.99999999d"},
        {"width star takes the only argument", u"%*s"},
    };
    for (const auto& c : cases) {
        char16_t buffer[32] = {u'z', u'z'};
        EXPECT_EQ(FormatW(buffer, 32, c.format, 5), -1) << c.why;
        EXPECT_EQ(std::u16string(buffer), u"") << c.why;
    }
    char16_t buffer[8] = {u'z'};
    EXPECT_EQ(FormatW(buffer, 8, u"%d", u"text"), -1);
    EXPECT_EQ(buffer[0], u'\0');
    buffer[0] = u'z';
    EXPECT_EQ(FormatW(buffer, 8, static_cast<const char16_t*>(nullptr)), -1);
    EXPECT_EQ(buffer[0], u'\0');
}

}  // namespace
