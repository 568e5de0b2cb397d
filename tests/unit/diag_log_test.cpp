// Diagnostic lines: the exact text of each piece, the gate of the host's level, and what
// reaches the host's log library (and what never does).
#include "util/diag_log.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "host/log_library_control.h"
#include "tests/fakes/captured_log.h"
#include "util/diag_text.h"

namespace util {
namespace {

template <typename Piece>
std::u16string Render(const Piece& piece) {
    DiagText text;
    AppendPiece(text, piece);
    return std::u16string(text.View());
}

TEST(DiagText, EachPieceHasItsText) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {Render(0u), u"0"}, {Render(0x20FF0000u), u"0x20ff0000"}, {Render(1u), u"0x1"},
        {Render(-1), u"0xffffffff"},  // a negative int shows its 32-bit pattern
        {Render(uint64_t{0}), u"0"}, {Render(UINT64_MAX), u"0xffffffffffffffff"},
        {Render(uint64_t{0x100000000}), u"0x100000000"}, {Render(uint16_t{0xABC}), u"0xabc"},
        {Render(DiagDigit{0}), u"0"}, {Render(DiagDigit{9}), u"9"}, {Render(DiagDigit{10}), u":"},
        {Render(true), u"1"}, {Render(false), u"0"}, {Render("plain"), u"plain"},
        {Render(static_cast<const char16_t*>(nullptr)), u"(NULL)"}, {Render(static_cast<const char*>(nullptr)), u"(NULL)"},
        {Render(u"Null interface."), u"Null interface."}, {Render(std::u16string(u"C:\\x")), u"C:\\x"},
#if !defined(_WIN32)
        {Render("caf\xC3\xA9"), u"caf\u00e9"},  // the Linux code page is UTF-8
#endif
    };
    for (const auto& [rendered, expected] : cases) EXPECT_EQ(rendered, expected);
    DiagText empty;
    empty.AppendWide(u"").AppendNarrow("").AppendWide(std::u16string_view());
    EXPECT_EQ(empty.UsedBytes(), 0u);
    EXPECT_EQ(empty.Data(), nullptr);
}

// Texts beyond the local conversion buffer and the first storage are appended whole, after
// what the text held.
TEST(DiagText, LongTextsAreAppendedWhole) {
    for (size_t length : {511u, 512u, 513u, 600u, 5000u}) {
        std::string narrow(length, 'n');
        narrow[length - 1] = 'Z';
        DiagText text;
        text.AppendWide(u"==> ").AppendNarrow(narrow.c_str()).AppendWide(std::u16string(length, u'w'));
        const std::u16string expected = u"==> " + std::u16string(length - 1, u'n') + u"Z" + std::u16string(length, u'w');
        EXPECT_EQ(text.View(), expected) << length;
        EXPECT_EQ(text.UsedBytes(), expected.size() * 2);
    }
}

constexpr char16_t kTag[] = u"Plugin ZEF Wrapper";
constexpr DiagSite kDiag{kTag, u"PlugEngineZef"};

// A piece that counts how often text was built from it.
struct CountingPiece {
    int* builds;
};
void AppendPiece(DiagText& text, const CountingPiece& piece) {
    ++*piece.builds;
    text.AppendWide(u"counted");
}

class DiagLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        StartLogCapture();
        Quastle_ResetCounters();
    }
    void TearDown() override {
        Quastle_SetCapture(0);
        Quastle_SetEnabled(1);
        Quastle_ResetLevels();
    }
};

// The host's level decides which lines pass, asked again (with the handle) for every line and
// never remembered; no text is built for a dropped line. Without the log library's handle no
// text is built, no level asked and nothing flushed.
TEST_F(DiagLogTest, HostLevelDecidesWhichLinesPass) {
    const uint32_t lineLevels[3] = {kDiagTrace, kDiagWarning, kDiagError};
    const struct {
        uint32_t hostLevel;
        bool passes[3];  // of each of the line levels
        bool handle = true;
    } cases[] = {
        {0, {false, false, false}}, {1, {true, true, true}},    {2, {true, true, true}},
        {3, {false, true, true}},   {4, {false, false, true}}, {5, {false, false, true}},
        {6, {false, false, false}}, {0xFFFFFFFF, {false, false, false}}, {1, {false, false, false}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "host level " << c.hostLevel << (c.handle ? "" : " without a handle"));
        Quastle_SetLevel(kTag, c.hostLevel);
        Quastle_SetEnabled(c.handle ? 1 : 0);
        Quastle_ResetCounters();
        for (int i = 0; i < 3; ++i) {
            Quastle_SetCapture(1);
            int builds = 0;
            kDiag.Write(lineLevels[i], 100, CountingPiece{&builds});
            EXPECT_EQ(Quastle_CapturedCount(), c.passes[i] ? 1u : 0u) << "line level " << lineLevels[i];
            EXPECT_EQ(builds, c.passes[i] ? 1 : 0) << "text built for a dropped line";
        }
        DiagText text;
        if (!c.handle) DiagLine(nullptr, kTag, 5, u"PlugEngineZef", 1).Flush(text.AppendWide(u"x"));
        QuastleCounters counters{};
        Quastle_GetCounters(&counters);
        EXPECT_EQ(counters.getLogLevel, c.handle ? 3u : 0u);
        EXPECT_EQ(counters.getDefaultHandle, 3u);
        EXPECT_EQ(counters.flush, static_cast<uint64_t>(c.passes[0] + c.passes[1] + c.passes[2]));
    }
}

// A line carries its tag, source, level, number and pieces in order; an empty message is
// flushed as null with length 0; other tags keep their own level. (Entry and exit lines, and
// the lines of every export, are checked whole by the module tests.)
TEST_F(DiagLogTest, LineCarriesItsPiecesInOrderOrNull) {
    constexpr DiagSite kUtil{u"Util COMMON", u"util_EnvironmentVar"};
    Quastle_SetLevel(u"Util COMMON", 0);
    kUtil.Write(kDiagError, 1, u"off");
    Quastle_SetLevel(kTag, 2);
    kDiag.Write(kDiagError, 409, u"Failed to verify ZEF engine: ", u"/opt/x/Zef.so", u" rc=", 0xE0FF0015u, u" ", true);
    kDiag.Write(kDiagTrace, 12);
    kDiag.Write(kDiagTrace, 13, u"");
    EXPECT_EQ(CapturedLines(kTag), (std::vector<CapturedLine>{
                                       {kDiagError, 409, "PlugEngineZef", "Failed to verify ZEF engine: /opt/x/Zef.so rc=0xe0ff0015 1"},
                                       {kDiagTrace, 12, "PlugEngineZef", ""}, {kDiagTrace, 13, "PlugEngineZef", ""}}));
    ASSERT_EQ(Quastle_CapturedCount(), 3u);
    for (uint32_t i : {1u, 2u}) {
        QuastleLine line{};
        Quastle_GetCaptured(i, &line);
        EXPECT_EQ(std::make_pair(line.messageWasNull, line.textBytes), std::make_pair(1u, 0u));
    }
}

}  // namespace
}  // namespace util
