// The engine wrapper in-process: where the engine is looked for, which engine paths it keeps,
// the entry points it resolves, and the pattern check before and after the start.
#include <gtest/gtest.h>

#include <string>

#include "host/plugin_interface_class.h"
#include "platform/module.h"
#include "plugin/engine_location.h"
#include "tests/unit/wrapper_fixture.h"

namespace {

const std::u16string kSep(1, platform::kPathSeparator);

// The engine lies beside the plug-in; a path without a separator is refused (the buffer kept);
// a folder longer than 259 units is cut.
TEST(EngineLocation, BuiltFromThePluginFolder) {
    const std::u16string folder = kSep + u"opt" + kSep + u"velk", longFolder = kSep + std::u16string(300, u'd');
    const struct {
        std::u16string pluginPath;  // empty: none
        bool built;
        std::u16string engine;
    } cases[] = {
        {folder + kSep + u"PlugEngineZef.x", true, folder + kSep + u"Zef" + platform::kModuleSuffix},
        {longFolder + kSep + u"p", true, longFolder.substr(0, 259)},
        {u"PlugEngineZef", false, u"x"},
        {u"", false, u"x"},
    };
    for (const auto& c : cases) {
        char16_t engine[plugin::kPathUnits] = {u'x'};
        EXPECT_EQ(plugin::BuildEnginePath(c.pluginPath.empty() ? nullptr : c.pluginPath.c_str(), engine), c.built);
        EXPECT_EQ(std::u16string(engine), c.engine);
    }
}

// A path of 259 units is kept, a longer one dropped (and nothing loads); slot 0 with flag 1
// frees the object (the sanitizers would see a leak or a double free). Without a host, no host
// interface is called.
TEST(EngineWrapperPath, KeepsPathsUpTo259UnitsAndSlotZeroFrees) {
    PluginInterfaceClass noHost(nullptr, 3, 31);
    EXPECT_FALSE(noHost.IsValid());
    EXPECT_EQ(noHost.Call(0x5E23, nullptr, nullptr), velk::kNoHostInterface);
    for (const size_t length : {259u, 260u}) {
        auto* w = new CZefEngineWrapper(std::u16string(length, u'a').c_str(), nullptr);
        EXPECT_EQ(std::u16string(w->EnginePath()), length == 259 ? std::u16string(259, u'a') : u"");
        EXPECT_FALSE(w->LoadEngine());  // no such engine, or no path at all
        w->StopEngine();
        void** table = *reinterpret_cast<void***>(static_cast<ICommonPluginInterface*>(w));
        reinterpret_cast<void* (*)(void*, uint32_t)>(table[0])(w, 1);
    }
}

// A missing required entry is named, and the look-ups go on past it.
TEST_F(EngineWrapperTest, MissingRequiredEntryIsNamed) {
    UseEngine("FakeZefNoQueryConfigure", folder / "other");
    EngineEntryPoints entries;
    entries.m_hEngineModule = held;
    const char* missing = nullptr;
    EXPECT_FALSE(engine_binding::ResolveEntryPoints(entries, &missing));
    EXPECT_STREQ(missing, "QueryConfigure");
    EXPECT_NE(entries.QueryPtnPolicy, nullptr);
}

// The pattern is usable until the engine starts; then the engine is asked each time.
TEST_F(EngineWrapperTest, PatternIsUsableBeforeTheEngineStarts) {
    engine->SetResult("IsPatternValid", 1);  // would be "corrupted" if it were asked
    CZefEngineWrapper& w = Make();
    EXPECT_TRUE(w.IsPatternUsable());
    ASSERT_EQ(w.StartEngine(), 1u);
    EXPECT_FALSE(w.IsPatternUsable());
    engine->SetResult("IsPatternValid", 0);
    EXPECT_TRUE(w.IsPatternUsable());
    EXPECT_EQ(w.StartEngine(), 1u) << "a second start changes nothing";
    const std::string pattern = "IsPatternValid(" + Utf8(folder / "Pattern") + ")";
    EXPECT_EQ(engine->CallsTo({"Initialize", "IsPatternValid"}), (Calls{"Initialize", pattern, pattern}));
}

}  // namespace
