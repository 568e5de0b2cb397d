// The engine wrapper in-process: where the engine is looked for, the identity slots, which
// engine paths it keeps, and the entry points it resolves from real fake-engine modules.
#include <gtest/gtest.h>

#include <string>

#include "engine/zef_engine_wrapper.h"
#include "platform/module.h"
#include "platform/text.h"
#include "plugin/engine_location.h"
#include "tests/fakes/fake_zef_control.h"

namespace {

std::u16string Sep() { return std::u16string(1, platform::kPathSeparator); }
std::u16string EngineName() { return std::u16string(u"Zef") + platform::kModuleSuffix; }

std::u16string BinFolder() {
    char16_t own[1024] = {};
    platform::OwnModuleFileName(own, 1024);
    const std::u16string path(own);
    return path.substr(0, path.rfind(platform::kPathSeparator));
}

std::u16string FakeEnginePath(const char* variant) {
    const std::string name = std::string(variant);
    return BinFolder() + Sep() + std::u16string(name.begin(), name.end()) + platform::kModuleSuffix;
}

// The engine lies beside the plug-in; a path without a separator is refused (the buffer kept);
// a folder longer than 259 units is cut.
TEST(EngineLocation, BuiltFromThePluginFolder) {
    const std::u16string folder = Sep() + u"opt" + Sep() + u"velk";
    const std::u16string longFolder = Sep() + std::u16string(300, u'd');
    const struct {
        std::u16string pluginPath;  // empty: none
        bool built;
        std::u16string engine;
    } cases[] = {
        {folder + Sep() + u"PlugEngineZef.x", true, folder + Sep() + EngineName()},
        {longFolder + Sep() + u"p", true, longFolder.substr(0, 259)},
        {u"PlugEngineZef", false, u"x"},
        {u"", false, u"x"},
    };
    for (const auto& c : cases) {
        char16_t engine[plugin::kPathUnits] = {u'x'};
        const char16_t* pluginPath = c.pluginPath.empty() ? nullptr : c.pluginPath.c_str();
        EXPECT_EQ(plugin::BuildEnginePath(pluginPath, engine), c.built) << c.engine.size();
        EXPECT_EQ(std::u16string(engine), c.engine);
    }
}

class WrapperTest : public ::testing::Test {
protected:
    static CZefEngineWrapper* Make(const std::u16string& path) {
        return new CZefEngineWrapper(path.c_str(), nullptr);
    }
};

TEST_F(WrapperTest, KeepsPathsUpTo259Units) {
    const std::u16string fits(259, u'a');
    CZefEngineWrapper* kept = Make(fits);
    EXPECT_EQ(std::u16string(kept->EnginePath()), fits);
    kept->DeletingDestructor(1);

    CZefEngineWrapper* dropped = Make(std::u16string(260, u'a'));
    EXPECT_EQ(std::u16string(dropped->EnginePath()), u"");
    EXPECT_FALSE(dropped->LoadEngine());
    dropped->StopEngine();
    dropped->DeletingDestructor(1);
}

// Slot 0 with flag 1 frees the object (the sanitizers would see a leak or a double free); the
// other slots are called through the table by the plug-in's module tests.
TEST_F(WrapperTest, SlotZeroWithFlagOneFreesTheWrapper) {
    CZefEngineWrapper* wrapper = Make(u"x");
    void** table = *reinterpret_cast<void***>(static_cast<ICommonPluginInterface*>(wrapper));
    reinterpret_cast<void* (*)(void*, uint32_t)>(table[0])(wrapper, 1);
}

TEST_F(WrapperTest, LoadsEveryEntryPointOfACompleteEngine) {
    CZefEngineWrapper* wrapper = Make(FakeEnginePath("FakeZef"));
    ASSERT_TRUE(wrapper->LoadEngine());
    const EngineEntryPoints& entries = wrapper->EntryPoints();
    EXPECT_NE(entries.ConnectBackupStorage, nullptr);
    EXPECT_NE(entries.RestoreByEdition, nullptr);
    EXPECT_NE(entries.RmFetchDbeResult, nullptr);
    EXPECT_NE(entries.GetStatInfo, nullptr);
    EXPECT_NE(entries.FreePtnPolicy, nullptr);
    wrapper->StopEngine();
    EXPECT_EQ(wrapper->EntryPoints().m_hEngineModule, nullptr);
    EXPECT_EQ(wrapper->EntryPoints().FreePtnPolicy, nullptr);
    wrapper->DeletingDestructor(1);
}

TEST_F(WrapperTest, MissingRequiredEntryIsNamed) {
    EngineEntryPoints entries;
    entries.m_hEngineModule = platform::LoadModuleByPath(FakeEnginePath("FakeZefNoQueryConfigure").c_str());
    ASSERT_NE(entries.m_hEngineModule, nullptr);
    const char* missing = nullptr;
    EXPECT_FALSE(engine_binding::ResolveEntryPoints(entries, &missing));
    ASSERT_NE(missing, nullptr);
    EXPECT_STREQ(missing, "QueryConfigure");
    EXPECT_NE(entries.QueryPtnPolicy, nullptr) << "the look-ups go on past a missing entry";
    platform::UnloadModule(entries.m_hEngineModule);
}

TEST_F(WrapperTest, PatternIsUsableBeforeTheEngineStarts) {
    const std::u16string path = FakeEnginePath("FakeZef");
    platform::ModuleHandle held = platform::LoadModuleByPath(path.c_str());
    ASSERT_NE(held, nullptr);
    FakeZefControl engine(held);
    engine.Reset();
    engine.SetResult("IsPatternValid", 1);  // would be "corrupted" if it were asked

    CZefEngineWrapper* wrapper = Make(path);
    EXPECT_TRUE(wrapper->IsPatternUsable());
    ASSERT_EQ(wrapper->StartEngine(), 1u);
    EXPECT_FALSE(wrapper->IsPatternUsable());
    engine.SetResult("IsPatternValid", 0);
    EXPECT_TRUE(wrapper->IsPatternUsable());
    EXPECT_EQ(wrapper->StartEngine(), 1u) << "a second start changes nothing";
    const std::string pattern =
        "IsPatternValid(" + platform::ToUtf8(BinFolder() + Sep() + u"Pattern") + ")";
    EXPECT_EQ(engine.CallsTo({"Initialize", "IsPatternValid"}),
              (std::vector<std::string>{"Initialize", pattern, pattern}));
    wrapper->StopEngine();
    wrapper->DeletingDestructor(1);
    platform::UnloadModule(held);
}

}  // namespace
