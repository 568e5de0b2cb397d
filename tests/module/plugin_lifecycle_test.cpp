// The plug-in module as a host drives it: identity, the life cycle of the ten exports, their
// refusals and diagnostic lines, the interface's table, and which engines it accepts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/result_codes.h"
#include "platform/text.h"
#include "tests/fakes/captured_log.h"
#include "tests/module/plugin_harness.h"

namespace {

using Lines = std::vector<CapturedLine>;
using Calls = std::vector<std::string>;

CapturedLine Trace(uint32_t line, const std::string& text) {
    return {2, line, "PlugEngineZef", text};
}
CapturedLine Warning(uint32_t line, const std::string& text) {
    return {3, line, "PlugEngineZef", text};
}
CapturedLine Error(uint32_t line, const std::string& text) {
    return {5, line, "PlugEngineZef", text};
}

const std::vector<std::string> kLifeCycle = {"IsDisabledByPattern", "Initialize", "Start",
                                             "Stop", "Finalize"};

// The pattern veto's call as the fake engine records it: without a configuration service the
// pattern folder is the default one beside the engine.
std::string Veto(const PluginHarness& plugin) {
    return "IsDisabledByPattern(" + platform::ToUtf8((plugin.Folder() / "Pattern").u16string()) + ")";
}
std::string Path(const std::filesystem::path& path) { return platform::ToUtf8(path.u16string()); }

// An interface of the host's own, to see what Plugin_Interface_CallFunc forwards.
class RecordingInterface final : public ICommonPluginInterface {
public:
    void* DeletingDestructor(uint32_t) override { return this; }
    uint32_t GetModuleID() override { return 1; }
    uint32_t GetInterfaceID() override { return 2; }
    void GetModuleVersion(ModuleVersion*) override {}
    uint32_t CallFunc(uint32_t functionId, void* input, void* output) override {
        ++calls;
        lastFunction = functionId;
        lastInput = input;
        lastOutput = output;
        return 0x20FF1234;
    }
    int calls = 0;
    uint32_t lastFunction = 0;
    void* lastInput = nullptr;
    void* lastOutput = nullptr;
};

class PluginLifecycle : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(plugin.Loaded()); }
    PluginHarness plugin;
    const PluginExports& api = plugin.Exports();
};

TEST_F(PluginLifecycle, IdentityAnswersAtAnyTime) {
    EXPECT_EQ(api.GetModuleID(), 10012u);
    api.GetModuleVersion(nullptr);
    ModuleVersion version{9, 9, 9, 9};
    api.GetModuleVersion(&version);
    EXPECT_EQ(version.major, 2u);
    EXPECT_EQ(version.minor, 0u);
    EXPECT_EQ(version.build, 1045u);
    EXPECT_EQ(version.reserved, 0u);
    api.Release(&version);
    api.Release(nullptr);
    EXPECT_EQ(api.Uninitialize(), velk::kSuccess);
    EXPECT_TRUE(CapturedLines().empty());
}

TEST_F(PluginLifecycle, RefusalsBeforeStart) {
    EXPECT_EQ(api.QueryInterface(1), nullptr);
    EXPECT_TRUE(CapturedLines().empty()) << "another id is refused silently";
    EXPECT_EQ(api.QueryInterface(kPluginInterfaceId), nullptr);

    RecordingInterface other;
    EXPECT_EQ(api.CallFunc(nullptr, 0x23600009, nullptr, nullptr), velk::kBadArgument);
    EXPECT_EQ(api.CallFunc(&other, 0x23600009, nullptr, nullptr), velk::kZefNotRunning);
    EXPECT_EQ(other.calls, 0);
    EXPECT_EQ(CapturedLines(), (Lines{Trace(475, "Return  NULL interface."),
                                      Warning(669, "Null interface."),
                                      Warning(674, "ZEF is not running.")}));
    EXPECT_EQ(api.PreUninitialize(), velk::kSuccess);  // nothing to shut down
    EXPECT_TRUE(plugin.Engine().Calls().empty());
}

TEST_F(PluginLifecycle, FullLifeCycle) {
    ASSERT_EQ(api.Initialize(&plugin.Host()), velk::kSuccess);
    EXPECT_TRUE(plugin.Engine().Calls().empty()) << "the engine is loaded only at start";
    ASSERT_EQ(api.PostInitialize(), velk::kSuccess);
    EXPECT_EQ(plugin.Engine().CallsTo(kLifeCycle), (Calls{Veto(plugin), "Initialize", "Start"}));

    ICommonPluginInterface* wrapper = api.QueryInterface(kPluginInterfaceId);
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(api.CallFunc(wrapper, 0x7FFFFFFF, nullptr, nullptr), velk::kNotHandled);

    // Another interface is called as given while the plug-in runs.
    RecordingInterface other;
    int input = 0, output = 0;
    EXPECT_EQ(api.CallFunc(&other, 0x23600009, &input, &output), 0x20FF1234u);
    EXPECT_EQ(other.lastFunction, 0x23600009u);
    EXPECT_EQ(other.lastInput, &input);
    EXPECT_EQ(other.lastOutput, &output);

    EXPECT_EQ(api.PreUninitialize(), velk::kSuccess);
    EXPECT_EQ(plugin.Engine().CallsTo(kLifeCycle),
              (Calls{Veto(plugin), "Initialize", "Start", "Stop", "Finalize"}));
    EXPECT_EQ(api.CallFunc(&other, 0x23600009, nullptr, nullptr), velk::kZefNotRunning);
    EXPECT_EQ(api.QueryInterface(kPluginInterfaceId), nullptr);
    EXPECT_EQ(api.Uninitialize(), velk::kSuccess);

    EXPECT_EQ(CapturedAt(379), (Lines{Trace(379, "==> Plugin_Interface_Initialize,")}));
    EXPECT_EQ(CapturedAt(414), (Lines{Trace(414, "<== Plugin_Interface_Initialize,")}));
    EXPECT_EQ(CapturedAt(423), (Lines{Trace(423, "==> Plugin_Interface_PostInitialize,")}));
    EXPECT_EQ(CapturedAt(434), (Lines{Trace(434, "<== Plugin_Interface_PostInitialize,")}));
    EXPECT_EQ(CapturedAt(442), (Lines{Trace(442, "==> Plugin_Interface_PreUninitialize,")}));
    EXPECT_EQ(CapturedAt(449), (Lines{Trace(449, "<== Plugin_Interface_PreUninitialize,")}));

    // After shut-down the plug-in may be initialised again.
    EXPECT_EQ(api.Initialize(&plugin.Host()), velk::kSuccess);
}

TEST_F(PluginLifecycle, InterfaceTableHasTheWindowsSlotOrder) {
    ASSERT_TRUE(plugin.Start());
    ICommonPluginInterface* wrapper = api.QueryInterface(kPluginInterfaceId);
    ASSERT_NE(wrapper, nullptr);
    // Call through the raw table as a host built with another compiler would.
    void** table = *reinterpret_cast<void***>(wrapper);
    using IdSlot = uint32_t (*)(void*);
    using VersionSlot = void (*)(void*, ModuleVersion*);
    using CallSlot = uint32_t (*)(void*, uint32_t, void*, void*);
    EXPECT_EQ(reinterpret_cast<IdSlot>(table[1])(wrapper), 10012u);
    EXPECT_EQ(reinterpret_cast<IdSlot>(table[2])(wrapper), 100121u);
    ModuleVersion version{};
    reinterpret_cast<VersionSlot>(table[3])(wrapper, &version);
    reinterpret_cast<VersionSlot>(table[3])(wrapper, nullptr);
    EXPECT_EQ(version.build, 1045u);
    EXPECT_EQ(reinterpret_cast<CallSlot>(table[4])(wrapper, 0x7FFFFFFF, nullptr, nullptr),
              velk::kNotHandled);
}

TEST_F(PluginLifecycle, SecondInitializeIsRefusedButKeepsTheNewHost) {
    ASSERT_TRUE(plugin.Start());
    ScriptedHost otherHost;
    otherHost.AddInterface(3, 31, nullptr);
    EXPECT_EQ(api.Initialize(&otherHost), velk::kDuplicatedInitialization);
    EXPECT_EQ(CapturedAt(386), (Lines{Warning(386, "Duplicated initialization attempt")}));
    EXPECT_NE(api.QueryInterface(kPluginInterfaceId), nullptr) << "still running";
    // The stored host pointer is the new one: shut-down unregisters through it.
    EXPECT_EQ(api.PreUninitialize(), velk::kSuccess);
    const std::vector<std::string> log = otherHost.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "call 3/31 0x5e24"), 3);
}

TEST_F(PluginLifecycle, PostInitializeWithoutWrapperFails) {
    EXPECT_EQ(api.PostInitialize(), velk::kEngineUnavailable);
    EXPECT_EQ(CapturedLines(), (Lines{Trace(423, "==> Plugin_Interface_PostInitialize,"),
                                      Error(346, "Fail to Start ZEF engine"),
                                      Error(429, "Fail to start ZEF")}));
}

// How the engine's answers during start decide the outcome.
TEST(PluginStart, EngineAnswersDecideTheStart) {
    const struct {
        const char* why;
        const char* entryPoint;  // scripted to answer 1
        uint32_t postInitialize;
        bool served;             // QueryInterface hands out the wrapper
        Calls lifeCycle;         // IsDisabledByPattern, Initialize, Start, Stop, Finalize seen
    } cases[] = {
        {"pattern vetoes", "IsDisabledByPattern", velk::kSuccess, false, {"Stop", "Finalize"}},
        {"Initialize fails", "Initialize", velk::kEngineUnavailable, false,
         {"Initialize", "Stop", "Finalize"}},
        {"Start fails", "Start", velk::kEngineUnavailable, false,
         {"Initialize", "Start", "Finalize", "Stop", "Finalize"}},
    };
    for (const auto& c : cases) {
        PluginHarness plugin;
        ASSERT_TRUE(plugin.Loaded());
        const PluginExports& api = plugin.Exports();
        plugin.Engine().SetResult(c.entryPoint, 1);
        ASSERT_EQ(api.Initialize(&plugin.Host()), velk::kSuccess) << c.why;
        EXPECT_EQ(api.PostInitialize(), c.postInitialize) << c.why;
        EXPECT_EQ(api.QueryInterface(kPluginInterfaceId) != nullptr, c.served) << c.why;
        EXPECT_EQ(api.PreUninitialize(), velk::kSuccess) << c.why;
        Calls expected = c.lifeCycle;
        expected.insert(expected.begin(), Veto(plugin));
        EXPECT_EQ(plugin.Engine().CallsTo(kLifeCycle), expected) << c.why;
    }
}

TEST(PluginStart, PatternVetoIsLoggedAndCallsAreRefused) {
    PluginHarness plugin;
    ASSERT_TRUE(plugin.Loaded());
    plugin.Engine().SetResult("IsDisabledByPattern", 1);
    ASSERT_TRUE(plugin.Start());
    EXPECT_EQ(CapturedAt(1122),
              (Lines{{2, 1122, "ZefEngineWrapper",
                      "ZEF is disabled according to pattern settings." + Path(plugin.Folder() / "Data")}}));
    EXPECT_EQ(plugin.Exports().QueryInterface(kPluginInterfaceId), nullptr);
}

// Which missing exports keep the engine from starting.
TEST(PluginStart, MissingExportsDecideWhetherTheEngineLoads) {
    const struct {
        const char* variant;
        bool starts;
    } cases[] = {
        {"FakeZefNoQueryConfigure", false},   {"FakeZefNoStart", false},
        {"FakeZefNoRmFetchDbeResult", true},  {"FakeZefNoGetStatInfo", true},
        {"FakeZefNoOptionalEntries", true},
    };
    for (const auto& c : cases) {
        PluginHarness::Options options;
        options.engineVariant = c.variant;
        PluginHarness plugin(options);
        ASSERT_TRUE(plugin.Loaded()) << c.variant;
        ASSERT_EQ(plugin.Exports().Initialize(&plugin.Host()), velk::kSuccess) << c.variant;
        EXPECT_EQ(plugin.Exports().PostInitialize() == velk::kSuccess, c.starts) << c.variant;
        // A module that failed to bind never reaches the engine's life cycle, but it is still
        // stopped and finalised through what could be resolved.
        const Calls calls = plugin.Engine().CallsTo({"Initialize", "Start"});
        EXPECT_EQ(calls.empty(), !c.starts) << c.variant;
    }
}

TEST(PluginTrust, MissingEngineIsRefused) {
    PluginHarness::Options options;
    options.engineVariant = "";
    PluginHarness plugin(options);
    ASSERT_TRUE(plugin.Loaded());
    EXPECT_EQ(plugin.Exports().Initialize(&plugin.Host()), velk::kEngineUntrusted);
    const std::string path = platform::ToUtf8(plugin.EnginePath().u16string());
    EXPECT_EQ(CapturedAt(409), (Lines{Error(409, "Failed to verify ZEF engine: " + path)}));
    EXPECT_EQ(plugin.Exports().PostInitialize(), velk::kEngineUnavailable);
    // The refusal leaves the plug-in loaded and uninitialised: a retry is allowed.
    EXPECT_EQ(plugin.Exports().Initialize(&plugin.Host()), velk::kEngineUntrusted);
}

#if defined(_WIN32)
TEST(PluginTrust, ShippedModuleRefusesAnUnsignedEngine) {
    PluginHarness::Options options;
    options.releasePlugin = true;
    PluginHarness plugin(options);
    ASSERT_TRUE(plugin.Loaded());
    EXPECT_EQ(plugin.Exports().Initialize(&plugin.Host()), velk::kEngineUntrusted);
    const std::string path = platform::ToUtf8(plugin.EnginePath().u16string());
    EXPECT_EQ(CapturedAt(409), (Lines{Error(409, "Failed to verify ZEF engine: " + path)}));
    EXPECT_TRUE(plugin.Engine().Calls().empty());
}
#else
TEST(PluginTrust, EngineWritableByOthersIsRefused) {
    namespace fs = std::filesystem;
    for (const fs::perms extra : {fs::perms::group_write, fs::perms::others_write}) {
        PluginHarness plugin;
        ASSERT_TRUE(plugin.Loaded());
        fs::permissions(plugin.EnginePath(), extra, fs::perm_options::add);
        EXPECT_EQ(plugin.Exports().Initialize(&plugin.Host()), velk::kEngineUntrusted);
        EXPECT_EQ(CapturedAt(409).size(), 1u);
        EXPECT_TRUE(plugin.Engine().Calls().empty());
    }
}

TEST(PluginTrust, EngineThatIsNotARegularFileIsRefused) {
    PluginHarness plugin;
    ASSERT_TRUE(plugin.Loaded());
    std::filesystem::remove(plugin.EnginePath());
    std::filesystem::create_directory(plugin.EnginePath());
    EXPECT_EQ(plugin.Exports().Initialize(&plugin.Host()), velk::kEngineUntrusted);
}
#endif

}  // namespace
