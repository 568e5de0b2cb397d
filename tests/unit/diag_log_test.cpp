// The diagnostic gate and line: what reaches the host's log library, and what never does.
#include "util/diag_log.h"

#include <gtest/gtest.h>

#include <string>

#include "host/log_library_control.h"

namespace util {
namespace {

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
        Quastle_ResetLevels();
        Quastle_SetEnabled(1);
        Quastle_SinkToNothing();
        Quastle_SetCapture(1);
        Quastle_ResetCounters();
    }
    void TearDown() override {
        Quastle_SetCapture(0);
        Quastle_SetEnabled(1);
        Quastle_ResetLevels();
    }

    static QuastleLine Captured(uint32_t index) {
        QuastleLine line{};
        EXPECT_EQ(Quastle_GetCaptured(index, &line), 1);
        return line;
    }
    static std::u16string TextOf(const QuastleLine& line) {
        return line.text != nullptr ? std::u16string(line.text, line.textBytes / 2) : u"";
    }
};

TEST_F(DiagLogTest, HostLevelDecidesWhichLinesPass) {
    // host level -> which of the line levels 2, 3, 5 are written
    const struct {
        uint32_t hostLevel;
        bool passes[3];
    } cases[] = {
        {0, {false, false, false}}, {1, {true, true, true}},    {2, {true, true, true}},
        {3, {false, true, true}},   {4, {false, false, true}}, {5, {false, false, true}},
        {6, {false, false, false}}, {0xFFFFFFFF, {false, false, false}},
    };
    const uint32_t lineLevels[3] = {kDiagTrace, kDiagWarning, kDiagError};
    for (const auto& c : cases) {
        Quastle_SetLevel(kTag, c.hostLevel);
        for (int i = 0; i < 3; ++i) {
            Quastle_SetCapture(1);
            int builds = 0;
            kDiag.Write(lineLevels[i], 100, CountingPiece{&builds});
            const uint32_t expected = c.passes[i] ? 1u : 0u;
            EXPECT_EQ(Quastle_CapturedCount(), expected)
                << "host level " << c.hostLevel << ", line level " << lineLevels[i];
            EXPECT_EQ(builds, static_cast<int>(expected)) << "text built for a dropped line";
        }
    }
}

// Without the log library's handle no text is built, no level asked and nothing flushed.
TEST_F(DiagLogTest, NullHandleBuildsNoTextAndNeverFlushes) {
    Quastle_SetLevel(kTag, 1);
    Quastle_SetEnabled(0);
    int builds = 0;
    kDiag.Write(kDiagError, 7, CountingPiece{&builds}, u"x", 5u);
    DiagText text;
    text.AppendWide(u"x");
    DiagLine(nullptr, kTag, 5, u"PlugEngineZef", 1).Flush(text);
    QuastleCounters counters{};
    Quastle_GetCounters(&counters);
    EXPECT_EQ(builds, 0);
    EXPECT_EQ(counters.flush, 0u);
    EXPECT_EQ(counters.getLogLevel, 0u);
    EXPECT_EQ(counters.getDefaultHandle, 1u);
}

TEST_F(DiagLogTest, LevelIsAskedAgainForEveryLine) {
    Quastle_SetLevel(kTag, 5);
    kDiag.Write(kDiagWarning, 1, u"dropped");
    Quastle_SetLevel(kTag, 3);
    kDiag.Write(kDiagWarning, 2, u"written");
    Quastle_SetLevel(kTag, 0);
    kDiag.Write(kDiagError, 3, u"dropped");
    QuastleCounters counters{};
    Quastle_GetCounters(&counters);
    EXPECT_EQ(counters.getLogLevel, 3u);
    EXPECT_EQ(counters.getDefaultHandle, 3u);
    ASSERT_EQ(Quastle_CapturedCount(), 1u);
    EXPECT_EQ(Captured(0).line, 2u);
}

TEST_F(DiagLogTest, LineCarriesTagLevelSourceLineAndPiecesInOrderOrNull) {
    Quastle_SetLevel(kTag, 2);
    kDiag.Write(kDiagError, 409, u"Failed to verify ZEF engine: ", u"/opt/x/Zef.so", u" rc=",
                0xE0FF0015u, u" ", true);
    kDiag.Enter(379, u"Plugin_Interface_Initialize");
    kDiag.Leave(414, u"Plugin_Interface_Initialize");
    kDiag.Write(kDiagTrace, 12);
    kDiag.Write(kDiagTrace, 13, u"");
    ASSERT_EQ(Quastle_CapturedCount(), 5u);

    const QuastleLine error = Captured(0);
    EXPECT_EQ(std::u16string(error.moduleTag), kTag);
    EXPECT_EQ(std::u16string(error.sourceFile), u"PlugEngineZef");
    EXPECT_EQ(error.level, kDiagError);
    EXPECT_EQ(error.line, 409u);
    EXPECT_EQ(TextOf(error), u"Failed to verify ZEF engine: /opt/x/Zef.so rc=0xe0ff0015 1");

    EXPECT_EQ(TextOf(Captured(1)), u"==> Plugin_Interface_Initialize,");
    EXPECT_EQ(Captured(1).level, kDiagTrace);
    EXPECT_EQ(TextOf(Captured(2)), u"<== Plugin_Interface_Initialize,");
    EXPECT_EQ(Captured(2).line, 414u);
    EXPECT_EQ(Captured(2).messageWasNull, 0u);
    for (uint32_t i : {3u, 4u}) {  // an empty message is flushed as null with length 0
        EXPECT_EQ(Captured(i).messageWasNull, 1u);
        EXPECT_EQ(Captured(i).textBytes, 0u);
    }
}

TEST_F(DiagLogTest, OtherTagsKeepTheirOwnLevel) {
    constexpr DiagSite kUtil{u"Util COMMON", u"util_EnvironmentVar"};
    Quastle_SetLevel(kTag, 2);
    Quastle_SetLevel(u"Util COMMON", 0);
    kUtil.Write(kDiagError, 1, u"off");
    kDiag.Write(kDiagTrace, 2, u"on");
    ASSERT_EQ(Quastle_CapturedCount(), 1u);
    EXPECT_EQ(TextOf(Captured(0)), u"on");
}

}  // namespace
}  // namespace util
