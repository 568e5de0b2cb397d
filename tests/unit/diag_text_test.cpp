// DiagText appenders: the exact text each piece type produces.
#include "util/diag_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using util::AppendPiece;
using util::DiagText;

template <typename Piece>
std::u16string Render(const Piece& piece) {
    DiagText text;
    AppendPiece(text, piece);
    return std::u16string(text.View());
}

TEST(DiagText, NumbersAreLowerCaseHexWithZeroAsZero) {
    EXPECT_EQ(Render(0u), u"0");
    EXPECT_EQ(Render(0x20FF0000u), u"0x20ff0000");
    EXPECT_EQ(Render(0xE0FF0007u), u"0xe0ff0007");
    EXPECT_EQ(Render(1u), u"0x1");
    EXPECT_EQ(Render(-1), u"0xffffffff");  // a negative int shows its 32-bit pattern
    EXPECT_EQ(Render(uint64_t{0}), u"0");
    EXPECT_EQ(Render(UINT64_MAX), u"0xffffffffffffffff");
    EXPECT_EQ(Render(uint64_t{0x100000000}), u"0x100000000");
    EXPECT_EQ(Render(uint16_t{0xABC}), u"0xabc");
}

TEST(DiagText, DigitsAndBools) {
    EXPECT_EQ(Render(util::DiagDigit{0}), u"0");
    EXPECT_EQ(Render(util::DiagDigit{9}), u"9");
    EXPECT_EQ(Render(util::DiagDigit{10}), u":");  // '0' + 10, as the appender is defined
    EXPECT_EQ(Render(true), u"1");
    EXPECT_EQ(Render(false), u"0");
}

TEST(DiagText, WideAndNarrowTexts) {
    EXPECT_EQ(Render(static_cast<const char16_t*>(nullptr)), u"(NULL)");
    EXPECT_EQ(Render(static_cast<const char*>(nullptr)), u"(NULL)");
    EXPECT_EQ(Render(u"Null interface."), u"Null interface.");
    EXPECT_EQ(Render(std::u16string(u"C:\\x")), u"C:\\x");
    EXPECT_EQ(Render("plain"), u"plain");
#if !defined(_WIN32)
    EXPECT_EQ(Render("caf\xC3\xA9"), u"caf\u00e9");  // the Linux code page is UTF-8
#endif
}

TEST(DiagText, EmptyPiecesLeaveNoBytes) {
    DiagText text;
    text.AppendWide(u"").AppendNarrow("").AppendWide(std::u16string_view());
    EXPECT_EQ(text.UsedBytes(), 0u);
    EXPECT_EQ(text.Data(), nullptr);
}

TEST(DiagText, PiecesChainInOrderAndGrow) {
    DiagText text;
    std::u16string expected;
    for (int i = 0; i < 1000; ++i) {
        text.AppendWide(u"==> ").AppendNumber(static_cast<uint32_t>(i)).AppendBool(i % 2 == 0);
        expected += u"==> ";
        expected += Render(static_cast<uint32_t>(i));
        expected += i % 2 == 0 ? u"1" : u"0";
    }
    EXPECT_EQ(text.View(), expected);
    EXPECT_EQ(text.UsedBytes(), expected.size() * 2);
}

TEST(DiagText, NarrowTextBeyondTheLocalBufferIsConvertedWhole) {
    for (size_t length : {511u, 512u, 513u, 600u, 5000u}) {
        std::string narrow(length, 'n');
        narrow[length - 1] = 'Z';
        const std::u16string wide = Render(narrow.c_str());
        ASSERT_EQ(wide.size(), length);
        EXPECT_EQ(wide.back(), u'Z');
        EXPECT_EQ(wide.find_first_not_of(u'n'), length - 1);
    }
}

}  // namespace
