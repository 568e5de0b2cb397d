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

CapturedLine Line(uint32_t level, uint32_t line, const std::string& text) {
    return {level, line, "PlugEngineZef", text};
}

const std::vector<std::string> kLifeCycle = {"IsDisabledByPattern", "Initialize", "Start",
                                             "Stop", "Finalize"};

// The pattern veto's call as the fake engine records it: without a configuration service the
// pattern folder is the default one beside the engine.
std::string Veto(const PluginHarness& plugin) {
    return "IsDisabledByPattern(" + platform::ToUtf8((plugin.Folder() / "Pattern").u16string()) + ")";
}
std::vector<uint32_t> Fields(const ModuleVersion& v) { return {v.major, v.minor, v.build, v.reserved}; }

// An interface of the host's own, to see what Plugin_Interface_CallFunc forwards.
class RecordingInterface final : public ICommonPluginInterface {
public:
    void* DeletingDestructor(uint32_t) override { return this; }
    uint32_t GetModuleID() override { return 1; }
    uint32_t GetInterfaceID() override { return 2; }
    void GetModuleVersion(ModuleVersion*) override {}
    uint32_t CallFunc(uint32_t functionId, void* input, void* output) override {
        ++calls;
        last = {functionId, input, output};
        return 0x20FF1234;
    }
    int calls = 0;
    struct {
        uint32_t function;
        void *input, *output;
    } last{};
};

class PluginLifecycle : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(plugin.Loaded()); }
    PluginHarness plugin;
    const PluginExports& api = plugin.Exports();
};

// Identity answers at any time and silently; before the start only refusals, each logged.
TEST_F(PluginLifecycle, IdentityAndRefusalsBeforeStart) {
    EXPECT_EQ(api.GetModuleID(), 10012u);
    api.GetModuleVersion(nullptr);
    ModuleVersion version{9, 9, 9, 9};
    api.GetModuleVersion(&version);
    EXPECT_EQ(Fields(version), (std::vector<uint32_t>{2, 0, 1045, 0}));
    api.Release(&version);
    api.Release(nullptr);
    EXPECT_EQ(api.Uninitialize(), velk::kSuccess);
    EXPECT_EQ(api.QueryInterface(1), nullptr);  // another id is refused silently
    EXPECT_EQ(api.QueryInterface(kPluginInterfaceId), nullptr);

    RecordingInterface other;
    EXPECT_EQ(api.CallFunc(nullptr, 0x23600009, nullptr, nullptr), velk::kBadArgument);
    EXPECT_EQ(api.CallFunc(&other, 0x23600009, nullptr, nullptr), velk::kZefNotRunning);
    EXPECT_EQ(other.calls, 0);
    EXPECT_EQ(api.PostInitialize(), velk::kEngineUnavailable) << "no wrapper without Initialize";
    EXPECT_EQ(CapturedLines(), (Lines{Line(2, 475, "Return  NULL interface."),
                                      Line(3, 669, "Null interface."),
                                      Line(3, 674, "ZEF is not running."),
                                      Line(2, 423, "==> Plugin_Interface_PostInitialize,"),
                                      Line(5, 346, "Fail to Start ZEF engine"),
                                      Line(5, 429, "Fail to start ZEF")}));
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
    // The interface's table in the Windows slot order, called as a host of another compiler.
    void** table = *reinterpret_cast<void***>(wrapper);
    using IdSlot = uint32_t (*)(void*);
    using VersionSlot = void (*)(void*, ModuleVersion*);
    using CallSlot = uint32_t (*)(void*, uint32_t, void*, void*);
    EXPECT_EQ(reinterpret_cast<IdSlot>(table[1])(wrapper), 10012u);
    EXPECT_EQ(reinterpret_cast<IdSlot>(table[2])(wrapper), 100121u);
    ModuleVersion version{};
    reinterpret_cast<VersionSlot>(table[3])(wrapper, &version);
    reinterpret_cast<VersionSlot>(table[3])(wrapper, nullptr);
    EXPECT_EQ(Fields(version), (std::vector<uint32_t>{2, 0, 1045, 0}));
    EXPECT_EQ(reinterpret_cast<CallSlot>(table[4])(wrapper, 0x7FFFFFFF, nullptr, nullptr),
              velk::kNotHandled);

    // Another interface is called as given while the plug-in runs.
    RecordingInterface other;
    int input = 0, output = 0;
    EXPECT_EQ(api.CallFunc(&other, 0x23600009, &input, &output), 0x20FF1234u);
    EXPECT_TRUE(other.last.function == 0x23600009u && other.last.input == &input && other.last.output == &output);

    EXPECT_EQ(api.PreUninitialize(), velk::kSuccess);
    EXPECT_EQ(plugin.Engine().CallsTo(kLifeCycle),
              (Calls{Veto(plugin), "Initialize", "Start", "Stop", "Finalize"}));
    EXPECT_EQ(api.CallFunc(&other, 0x23600009, nullptr, nullptr), velk::kZefNotRunning);
    EXPECT_EQ(api.QueryInterface(kPluginInterfaceId), nullptr);
    EXPECT_EQ(api.Uninitialize(), velk::kSuccess);
    const std::pair<uint32_t, const char*> traces[] = {
        {379, "==> Plugin_Interface_Initialize,"}, {414, "<== Plugin_Interface_Initialize,"},
        {423, "==> Plugin_Interface_PostInitialize,"}, {434, "<== Plugin_Interface_PostInitialize,"},
        {442, "==> Plugin_Interface_PreUninitialize,"}, {449, "<== Plugin_Interface_PreUninitialize,"}};
    for (const auto& [line, text] : traces) EXPECT_EQ(CapturedAt(line), (Lines{Line(2, line, text)}));

    // After shut-down the plug-in may be initialised again.
    EXPECT_EQ(api.Initialize(&plugin.Host()), velk::kSuccess);
}

TEST_F(PluginLifecycle, SecondInitializeIsRefusedButKeepsTheNewHost) {
    ASSERT_TRUE(plugin.Start());
    ScriptedHost otherHost;
    otherHost.AddInterface(3, 31, nullptr);
    EXPECT_EQ(api.Initialize(&otherHost), velk::kDuplicatedInitialization);
    EXPECT_EQ(CapturedAt(386), (Lines{Line(3, 386, "Duplicated initialization attempt")}));
    EXPECT_NE(api.QueryInterface(kPluginInterfaceId), nullptr) << "still running";
    // The stored host pointer is the new one: shut-down unregisters through it.
    EXPECT_EQ(api.PreUninitialize(), velk::kSuccess);
    const std::vector<std::string> log = otherHost.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "call 3/31 0x5e24"), 3);
}

// How the engine's answers during start, and the exports it lacks, decide the outcome.
TEST(PluginStart, EngineAnswersAndMissingExportsDecideTheStart) {
    const struct {
        const char* why;
        const char* variant;
        const char* failing;  // scripted to answer 1
        uint32_t postInitialize;
        Calls lifeCycle;  // the life-cycle calls seen ("veto": IsDisabledByPattern)
    } cases[] = {
        {"pattern vetoes", "FakeZef", "IsDisabledByPattern", velk::kSuccess, {"veto", "Stop", "Finalize"}},
        {"Initialize fails", "FakeZef", "Initialize", velk::kEngineUnavailable,
         {"veto", "Initialize", "Stop", "Finalize"}},
        {"Start fails", "FakeZef", "Start", velk::kEngineUnavailable,
         {"veto", "Initialize", "Start", "Finalize", "Stop", "Finalize"}},
        // A module that fails to bind never reaches the engine's life cycle, but is still
        // stopped and finalised through what could be resolved.
        {"no QueryConfigure", "FakeZefNoQueryConfigure", "", velk::kEngineUnavailable,
         {"Stop", "Finalize"}},
        {"no Start", "FakeZefNoStart", "", velk::kEngineUnavailable, {"Stop", "Finalize"}},
        {"no RmFetchDbeResult", "FakeZefNoRmFetchDbeResult", "", velk::kSuccess,
         {"veto", "Initialize", "Start", "Stop", "Finalize"}},
        {"no GetStatInfo", "FakeZefNoGetStatInfo", "", velk::kSuccess,
         {"veto", "Initialize", "Start", "Stop", "Finalize"}},
        {"no optional entries", "FakeZefNoOptionalEntries", "", velk::kSuccess,
         {"veto", "Initialize", "Start", "Stop", "Finalize"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        PluginHarness plugin({c.variant, false, ""});
        ASSERT_TRUE(plugin.Loaded());
        const PluginExports& api = plugin.Exports();
        plugin.Engine().SetResult(c.failing, 1);
        ASSERT_EQ(api.Initialize(&plugin.Host()), velk::kSuccess);
        EXPECT_EQ(api.PostInitialize(), c.postInitialize);
        const bool served = api.QueryInterface(kPluginInterfaceId) != nullptr;
        EXPECT_EQ(served, c.postInitialize == velk::kSuccess && c.failing[0] == '\0');
        EXPECT_EQ(api.PreUninitialize(), velk::kSuccess);
        Calls expected = c.lifeCycle;
        if (!expected.empty() && expected[0] == "veto") expected[0] = Veto(plugin);
        EXPECT_EQ(plugin.Engine().CallsTo(kLifeCycle), expected);
        if (std::string(c.failing) == "IsDisabledByPattern") {
            EXPECT_EQ(CapturedAt(1122),
                      (Lines{{2, 1122, "ZefEngineWrapper",
                              "ZEF is disabled according to pattern settings." +
                                  platform::ToUtf8((plugin.Folder() / "Data").u16string())}}));
        }
    }
}

// Engines the plug-in must not load: none at all; on Windows an unsigned one for the shipped
// module; on Linux one that others may write or that is not a regular file. Each is refused
// with its line and never called, and the plug-in stays loaded and uninitialised.
TEST(PluginTrust, UntrustedEnginesAreRefused) {
    namespace fs = std::filesystem;
    const struct {
        const char* what;
        const char* variant;
        bool release;
        void (*spoil)(const fs::path& engine);
    } cases[] = {
        {"no engine", "", false, nullptr},
#if defined(_WIN32)
        {"unsigned, for the shipped module", "FakeZef", true, nullptr},
#else
        {"group-writable", "FakeZef", false,
         [](const fs::path& e) { fs::permissions(e, fs::perms::group_write, fs::perm_options::add); }},
        {"world-writable", "FakeZef", false,
         [](const fs::path& e) { fs::permissions(e, fs::perms::others_write, fs::perm_options::add); }},
        {"a folder", "FakeZef", false,
         [](const fs::path& e) {
             fs::remove(e);
             fs::create_directory(e);
         }},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PluginHarness plugin({c.variant, c.release, ""});
        ASSERT_TRUE(plugin.Loaded());
        if (c.spoil != nullptr) c.spoil(plugin.EnginePath());
        EXPECT_EQ(plugin.Exports().Initialize(&plugin.Host()), velk::kEngineUntrusted);
        EXPECT_EQ(CapturedAt(409), (Lines{Line(5, 409, "Failed to verify ZEF engine: " +
                                                           platform::ToUtf8(plugin.EnginePath().u16string()))}));
        EXPECT_EQ(plugin.Exports().PostInitialize(), velk::kEngineUnavailable);
        EXPECT_EQ(plugin.Exports().Initialize(&plugin.Host()), velk::kEngineUntrusted) << "a retry";
        if (c.variant[0] != '\0') {
            EXPECT_TRUE(plugin.Engine().Calls().empty());
        }
    }
}

}  // namespace
