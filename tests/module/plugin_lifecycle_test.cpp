// The plug-in module as a host drives it: identity, the life cycle of the ten exports, their
// refusals and diagnostic lines, the interface's table, and one table of runs (load, start,
// one step with a fault or a race, shut-down) in which the engine's answers, its missing
// exports, its trust, host services that go away and calls racing the shut-down each end with
// their documented results, and the engine stopped and finalised once, never called after its
// stop, with everything it lent given back.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/call_records.h"
#include "host/message_object.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "tests/fakes/captured_log.h"
#include "tests/module/plugin_harness.h"

namespace {

namespace fs = std::filesystem;
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

// The event processor and the storage service, answering success.
void AnswerEverything(PluginHarness& plugin) {
    const auto success = [](uint32_t, void*, void*) { return velk::kSuccess; };
    plugin.Host().AddInterface(velk::kEventProcessorModule, velk::kEventProcessorInterface, success);
    plugin.Host().AddInterface(velk::kStorageModule, velk::kStorageInterface, success);
}

// A step that takes a host service away: the host answers null at its next use.
template <uint32_t kModule, uint32_t kInterface>
uint32_t RemoveService(PluginHarness& plugin) {
    plugin.Host().RemoveInterface(kModule, kInterface);
    return 0;
}

// A host whose walk callback shuts the plug-in down: PreUninitialize cannot wait for the call it
// runs in, nor stop the engine under it. It answers at once, new calls are refused, the walk goes
// on through every version, and the plug-in is shut down by the time the walk's CallFunc returns.
struct ShutdownFromCallback {
    static int32_t ShowCopy(uint64_t, const char16_t* copyPath, uint64_t, uint32_t* action) {
        if (copyPath != nullptr && ++shown == 1) {
            shutdownResult = plugin->Exports().PreUninitialize();
            refusedMeanwhile = plugin->Call(velk::kFnFlushEvents, nullptr, nullptr);
        }
        *action = velk::kDecisionNone;
        return 1;
    }
    static uint32_t Run(PluginHarness& harness) {
        constexpr char16_t kFile[] = u"/srv/share/report.docx";
        for (uint32_t id = 1; id <= 3; ++id) harness.Engine().AddMemory(kFile, id, 100 * id);
        plugin = &harness;
        shown = 0;
        velk::FileVersionRequest walk{kFile, 0, reinterpret_cast<void (*)()>(&ShowCopy), 0};
        EXPECT_EQ(harness.Call(velk::kFnEnumFileVersions, &walk, nullptr), velk::kSuccess);
        EXPECT_EQ(shutdownResult, velk::kSuccess);
        EXPECT_EQ(refusedMeanwhile, velk::kZefNotRunning);
        EXPECT_EQ(shown, 3) << "the walk was cut short";
        EXPECT_EQ(CapturedAt(451).size(), 1u);
        EXPECT_EQ(harness.Engine().CallsTo({"Stop"}).size(), 1u) << "not shut down on return";
        EXPECT_EQ(harness.Exports().QueryInterface(kPluginInterfaceId), nullptr);
        return harness.Call(velk::kFnFlushEvents, nullptr, nullptr);
    }
    static inline PluginHarness* plugin = nullptr;
    static inline int shown = 0;
    static inline uint32_t shutdownResult = 0, refusedMeanwhile = 0;
};

// One run: load (with the engine variant and plug-in build), prepare (spoil the engine, offer
// host services), Initialize, PostInitialize, the step while running, PreUninitialize; then
// the engine's life-cycle calls ("veto": IsDisabledByPattern), nothing late and nothing lent
// left, and the line the run must write (its text's start; level 0: none).
TEST(PluginRuns, EachRunEndsWithItsResultsAndTheEngineStoppedOnce) {
    const uint32_t kOk = velk::kSuccess, kDown = velk::kEngineUnavailable, kUntrusted = velk::kEngineUntrusted;
    const Calls full{"veto", "Initialize", "Start", "Stop", "Finalize"};
    using Step = uint32_t (*)(PluginHarness&);
    const CapturedLine untrusted{5, 409, "PlugEngineZef", "Failed to verify ZEF engine: @engine"};
    const struct {
        const char* why;
        PluginHarness::Options options;
        const char* failing;  // scripted to answer 1
        void (*prepare)(PluginHarness&);
        uint32_t initialize, postInitialize;
        bool served;
        Step step;
        uint32_t stepResult;
        Calls lifeCycle;
        CapturedLine line;
    } cases[] = {
        // How the engine's answers during start, and the exports it lacks, decide the outcome.
        // A module that fails to bind never reaches the engine's life cycle, but is still
        // stopped and finalised through what could be resolved.
        {"pattern vetoes", {}, "IsDisabledByPattern", nullptr, kOk, kOk, false, nullptr, 0, {"veto", "Stop", "Finalize"},
         {2, 1122, "ZefEngineWrapper", "ZEF is disabled according to pattern settings.@data"}},
        {"Initialize fails", {}, "Initialize", nullptr, kOk, kDown, false, nullptr, 0, {"veto", "Initialize", "Stop", "Finalize"}, {}},
        {"Start fails", {}, "Start", nullptr, kOk, kDown, false, nullptr, 0,
         {"veto", "Initialize", "Start", "Finalize", "Stop", "Finalize"}, {}},
        {"no QueryConfigure", {"FakeZefNoQueryConfigure"}, "", nullptr, kOk, kDown, false, nullptr, 0, {"Stop", "Finalize"}, {}},
        {"no Start", {"FakeZefNoStart"}, "", nullptr, kOk, kDown, false, nullptr, 0, {"Stop", "Finalize"}, {}},
        {"no RmFetchDbeResult", {"FakeZefNoRmFetchDbeResult"}, "", nullptr, kOk, kOk, true, nullptr, 0, full, {}},
        {"no GetStatInfo", {"FakeZefNoGetStatInfo"}, "", nullptr, kOk, kOk, true, nullptr, 0, full, {}},
        {"no optional entries", {"FakeZefNoOptionalEntries"}, "", nullptr, kOk, kOk, true, nullptr, 0, full, {}},
        // Engines the plug-in must not load: none at all; on Windows an unsigned one for the
        // shipped module; on Linux one that others may write or that is not a regular file.
        // Each is refused with its line (the first on a retry too) and never called.
        {"no engine", {""}, "", nullptr, kUntrusted, kDown, false,
         [](PluginHarness& p) { return p.Exports().Initialize(&p.Host()); }, kUntrusted, {}, untrusted},
#if defined(_WIN32)
        {"unsigned, for the shipped module", {"FakeZef", true}, "", nullptr, kUntrusted, kDown, false, nullptr, 0, {},
         untrusted},
#else
        {"group-writable", {}, "",
         [](PluginHarness& p) { fs::permissions(p.EnginePath(), fs::perms::group_write, fs::perm_options::add); },
         kUntrusted, kDown, false, nullptr, 0, {}, untrusted},
        {"world-writable", {}, "",
         [](PluginHarness& p) { fs::permissions(p.EnginePath(), fs::perms::others_write, fs::perm_options::add); },
         kUntrusted, kDown, false, nullptr, 0, {}, untrusted},
        {"a folder", {}, "",
         [](PluginHarness& p) {
             fs::remove(p.EnginePath());
             fs::create_directory(p.EnginePath());
         },
         kUntrusted, kDown, false, nullptr, 0, {}, untrusted},
#endif
        // Host services there at start and gone (the host answers null) at their next use.
        {"database protection gone at stop", {}, "", AnswerEverything, kOk, kOk, true,
         RemoveService<velk::kStorageModule, velk::kStorageInterface>, 0, full,
         {3, 1183, "ZefEngineWrapper", "Failed: RemoveDBProtection "}},
        {"event processor gone at stop", {}, "", AnswerEverything, kOk, kOk, true,
         RemoveService<velk::kEventProcessorModule, velk::kEventProcessorInterface>, 0, full,
         {5, 181, "PlugEngineZef", "ID_INTERFACE_EVENT_PROCESSOR is not ready"}},
        // Shut-downs that race calls. A call held 300 ms between the running test and the
        // wrapper reaches a stopped wrapper, not a deleted one, and not the engine.
        {"a call held while the plug-in shuts down", {"FakeZef", false, "PlugEngineZefCallDelay"}, "", nullptr, kOk, kOk,
         true,
         [](PluginHarness& p) {
             std::atomic<uint32_t> result{0};
             std::thread caller([&] { result = p.Call(velk::kFnFlushEvents, nullptr, nullptr); });
             std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the call is being held
             EXPECT_EQ(p.Exports().PreUninitialize(), velk::kSuccess);
             caller.join();
             EXPECT_TRUE(p.Engine().CallsTo({"FlushEvents"}).empty());
             return result.load();
         }, velk::kZefNotRunning, full, {}},
        {"a shut-down asked for from inside a walk", {}, "", nullptr, kOk, kOk, true, &ShutdownFromCallback::Run,
         velk::kZefNotRunning, full, {}},
        // A notification asking the engine about a replaced pattern while the host shuts the
        // plug-in down: the engine is stopped only after it has answered.
        {"a notification asking the engine while the plug-in shuts down", {}, "", nullptr, kOk, kOk, true,
         [](PluginHarness& p) {
             p.Engine().SetResult("IsPatternValid", 1);
             p.Engine().SetDelay("IsPatternValid", 300);
             HostMessageObject input;
             AddComponent(input, 3);
             std::atomic<uint32_t> result{0};
             std::atomic<bool> answered{false};
             std::thread notifier([&] {
                 result = p.Exports().OnNotify(4116, &input, nullptr);
                 answered = true;
             });
             for (int i = 0; i < 5000 && p.Engine().CallsTo({"IsPatternValid"}).empty(); ++i) {
                 std::this_thread::sleep_for(std::chrono::milliseconds(2));
             }
             EXPECT_EQ(p.Engine().CallsTo({"IsPatternValid"}).size(), 1u) << "inside the engine";
             EXPECT_EQ(p.Exports().PreUninitialize(), velk::kSuccess);
             EXPECT_TRUE(answered.load()) << "the engine was stopped under a notification";
             notifier.join();
             return result.load();
         }, 0xE0360008u, full, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        PluginHarness plugin(c.options);
        ASSERT_TRUE(plugin.Loaded());
        const bool fake = !c.options.engineVariant.empty();
        if (fake) plugin.Engine().SetResult(c.failing, 1);
        if (c.prepare != nullptr) c.prepare(plugin);
        const PluginExports& api = plugin.Exports();
        EXPECT_EQ(api.Initialize(&plugin.Host()), c.initialize);
        EXPECT_EQ(api.PostInitialize(), c.postInitialize);
        EXPECT_EQ(plugin.Interface() != nullptr, c.served);
        if (c.step != nullptr) { EXPECT_EQ(c.step(plugin), c.stepResult); }
        EXPECT_EQ(api.PreUninitialize(), velk::kSuccess);
        if (c.line.level != 0) {
            const Lines lines = CapturedAt(c.line.line);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines[0].level, c.line.level);
            EXPECT_EQ(lines[0].source, c.line.source);
            std::string text = c.line.text;  // "@engine" and "@data" stand for the run's paths
            const size_t at = text.find('@');
            if (at != std::string::npos) {
                const fs::path path = text.substr(at) == "@engine" ? plugin.EnginePath() : plugin.Folder() / "Data";
                text.replace(at, std::string::npos, platform::ToUtf8(path.u16string()));
            }
            EXPECT_EQ(lines[0].text.substr(0, text.size()), text);
        }
        if (!fake) continue;
        Calls expected = c.lifeCycle;
        if (!expected.empty() && expected[0] == "veto") expected[0] = Veto(plugin);
        EXPECT_EQ(plugin.Engine().CallsTo(kLifeCycle), expected);
        EXPECT_EQ(plugin.Engine().LateCalls(), 0u);
        EXPECT_TRUE(plugin.Engine().NothingLeftBehind());
    }
}

}  // namespace
