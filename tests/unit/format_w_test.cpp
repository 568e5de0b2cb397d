// FormatW: conversions, widths and precision, truncation and the -1 result, bad formats.
// The log header's pattern, a source suffix and a rotated name are checked whole by the
// logger's tests.
#include "util/format_w.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using util::FormatW;

template <typename... Args>
std::u16string Format(const char16_t* format, const Args&... args) {
    char16_t buffer[256];
    const int written = FormatW(buffer, 256, format, args...);
    EXPECT_EQ(written, static_cast<int>(std::char_traits<char16_t>::length(buffer)));
    return buffer;
}

// Integer conversions agree with the C library's; then what C has no portable form for, and texts.
TEST(FormatW, ConversionsFollowTheCLibrary) {
    for (const char* format : {"%d", "%u", "%x", "%X", "%08X", "%4.4d", "%5d|", "%-5d|", "%05d", "%+d", "% d",
                               "%#x", "%.0d", "%.3x", "%-+6d|", "%hd", "%hhu", "%hx"}) {
        for (int value : {0, 1, 7, 12, -12, 42, 255, 300, 70000, INT32_MIN, INT32_MAX, -1}) {
            char expected[64];
            std::snprintf(expected, sizeof expected, format, value);
            EXPECT_EQ(Format(std::u16string(format, format + std::strlen(format)).c_str(), value),
                      std::u16string(expected, expected + std::strlen(expected))) << format << " " << value;
        }
    }
    EXPECT_EQ(Format(u"%d", 0xFFFFFFFFu), u"-1");  // 32-bit unless told otherwise
    EXPECT_EQ(Format(u"%lld", INT64_MIN), u"-9223372036854775808");
    EXPECT_EQ(Format(u"%I64u", UINT64_MAX), u"18446744073709551615");
    EXPECT_EQ(Format(u"%*d|%-*d|", 4, 1, 3, 2), u"   1|2  |");
    EXPECT_EQ(Format(u"%*d", -3, 1), u"1  ");
    EXPECT_EQ(Format(u"%d", 1, 2, 3), u"1") << "extra arguments are ignored";
    const std::u16string folder = u"C:\\Program Files\\VELK";
    EXPECT_EQ(Format(u"%s\\%s", folder, u"Zef.dll"), u"C:\\Program Files\\VELK\\Zef.dll");
    EXPECT_EQ(Format(u"[%s]", static_cast<const char16_t*>(nullptr)), u"[(null)]");
    EXPECT_EQ(Format(u"[%.3s]", u"abcdef"), u"[abc]");
    EXPECT_EQ(Format(u"[%6s][%-6s]", u"ab", u"ab"), u"[    ab][ab    ]");
    EXPECT_EQ(Format(u"%c%c", u'\u00e9', 65), u"\u00e9A");
    EXPECT_EQ(Format(u"100%%"), u"100%");
    EXPECT_EQ(Format(u"\u4e2d\u6587 %s", u"\U0001F600"), u"\u4e2d\u6587 \U0001F600");
}

// What a format leaves in a buffer of `capacity` units, and its result: what fits of a cut
// text with -1; a bad format fails with an empty text. The arguments are exactly those given.
TEST(FormatW, CutsWhatDoesNotFitAndFailsBadFormatsWithAnEmptyText) {
    const struct {
        const char* why;
        size_t capacity;
        const char16_t* format;
        std::vector<util::FormatArg> args;
        int result;
        std::u16string text;
    } cases[] = {
        {"exactly fits with the terminator", 8, u"%s", {u"1234567"}, 7, u"1234567"},
        {"one unit too many", 8, u"%s", {u"12345678"}, -1, u"1234567"},
        {"cut inside a conversion", 8, u"%08X%08X", {1u, 2u}, -1, u"0000000"},
        {"room for the terminator only", 1, u"x", {}, -1, u""},
        {"an empty text in that room", 1, u"", {}, 0, u""},
        {"unknown conversion", 32, u"a%qb", {5}, -1, u""},
        {"conversion cut off", 32, u"abc%", {5}, -1, u""},
        {"too few arguments", 32, u"%d %d", {5}, -1, u""},
        {"text asked, integer given", 32, u"%s", {5}, -1, u""},
        {"integer asked, text given", 8, u"%d", {u"text"}, -1, u""},
        {"absurd width", 32, u"%99999999d", {5}, -1, u""},
        {"absurd precision", 32, u"%.99999999d", {5}, -1, u""},
        {"width star takes the only argument", 32, u"%*s", {5}, -1, u""},
        {"width star without any argument", 32, u"%*d", {}, -1, u""},
        {"no format", 8, nullptr, {}, -1, u""},
    };
    for (const auto& c : cases) {
        char16_t buffer[32] = {u'z', u'z'};
        EXPECT_EQ(util::FormatWArgs(buffer, c.capacity, c.format, c.args.data(), c.args.size()), c.result) << c.why;
        EXPECT_EQ(std::u16string(buffer), c.text) << c.why;
    }
    char16_t buffer[1] = {u'a'};
    EXPECT_EQ(FormatW(buffer, 0, u"x"), -1);
    EXPECT_EQ(buffer[0], u'a') << "nothing written without room";
    EXPECT_EQ(FormatW(static_cast<char16_t*>(nullptr), 10, u"x"), -1);
}

}  // namespace
