// UTF-8 <-> UTF-16 conversion and the system code-page conversion.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace {

TEST(Utf8, RoundTripsEveryPlane) {
    const std::u16string samples[] = {
        u"", u"ascii", u"caf\u00e9", u"\u4e2d\u6587", u"\U0001F600 \U0010FFFF", u"a\u0000b",
    };
    for (const std::u16string& text : samples) {
        EXPECT_EQ(platform::FromUtf8(platform::ToUtf8(text)), text);
    }
    EXPECT_EQ(platform::ToUtf8(u"\u00e9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(Utf8, IllFormedInputBecomesReplacementCharacters) {
    const struct {
        const char* why;
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"lone continuation", "a\x80z", u"a\uFFFDz"},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"truncated at end", "x\xE4\xB8", u"x\uFFFD"},
        {"truncated before ASCII", "\xF0\x9F" "A", u"\uFFFD" u"A"},
        {"invalid lead", "\xFF", u"\uFFFD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::FromUtf8(c.utf8), c.utf16) << c.why;
    }
}

TEST(Utf8, UnpairedSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(platform::ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(platform::ToUtf8(std::u16string{char16_t(0xDC00), u'a'}), "\xEF\xBF\xBD" "a");
}

TEST(Utf16ToUtf8, ConvertsWithTheTerminatorOrNotAtAll) {
    const struct {
        const char* why;
        std::u16string text;
        int capacity;
        int result;
        std::string bytes;
    } cases[] = {
        {"fits exactly", u"\u4e2d\u00e9", 6, 6, "\xE4\xB8\xAD\xC3\xA9"},
        {"one byte short of the terminator", u"\u4e2d\u00e9", 5, 0, ""},
        {"empty text: the terminator alone", u"", 1, 1, ""},
        {"a pair of surrogates", u"\U0001F600", 5, 5, "\xF0\x9F\x98\x80"},
        {"no room at all", u"a", 0, 0, ""},
    };
    for (const auto& c : cases) {
        char out[16] = {'#'};
        EXPECT_EQ(platform::Utf16ToUtf8(c.text, out, c.capacity), c.result) << c.why;
        if (c.result > 0) {
            EXPECT_EQ(std::string(out), c.bytes) << c.why;
        }
    }
    EXPECT_EQ(platform::Utf16ToUtf8(u"a", nullptr, 4), 0);
}

TEST(AnsiToUtf16, CountsThenConverts) {
    const char* text = "Report";
    EXPECT_EQ(platform::AnsiToUtf16(text, 6, nullptr, 0), 6);
    char16_t out[8] = {};
    EXPECT_EQ(platform::AnsiToUtf16(text, 6, out, 8), 6);
    EXPECT_EQ(std::u16string(out), u"Report");
    EXPECT_EQ(platform::AnsiToUtf16(text, 6, out, 3), 0);  // too small: nothing converted
    EXPECT_EQ(platform::AnsiToUtf16(text, -1, nullptr, 0), 7);  // with the terminator
    EXPECT_EQ(platform::AnsiToUtf16(nullptr, 3, out, 8), 0);
    EXPECT_EQ(platform::AnsiToUtf16(text, 0, out, 8), 0);
}

}  // namespace
