// Copying, loading and unloading the plug-in and its engine for one test.
#include "tests/module/plugin_harness.h"

#include "host/call_records.h"
#include "host/message_object.h"
#include "host/result_codes.h"
#include "tests/fakes/captured_log.h"

namespace fs = std::filesystem;

PluginHarness::PluginHarness() : PluginHarness(Options{}) {}

PluginHarness::PluginHarness(const Options& options) : folder_(MakeTestFolder("plugin")) {
    StartLogCapture();
    const fs::path bin = BuildOutputFolder();
#if defined(_WIN32)
    std::string pluginBuild = options.releasePlugin ? "PlugEngineZef" : "PlugEngineZefUnsignedOk";
#else
    std::string pluginBuild = "PlugEngineZef";
#endif
    if (!options.pluginBuild.empty()) pluginBuild = options.pluginBuild;
    fs::copy_file(bin / ModuleFileName(pluginBuild), folder_ / ModuleFileName("PlugEngineZef"));
    if (!options.engineVariant.empty()) {
        fs::copy_file(bin / ModuleFileName(options.engineVariant), EnginePath());
    }
    fakeWanted_ = options.engineVariant.rfind("FakeZef", 0) == 0;
    if (fakeWanted_) {
        // Loaded first and held, so that its script and call log outlive the plug-in's loads.
        engine_ = platform::LoadModuleByPath(EnginePath().u16string().c_str());
        if (engine_ != nullptr) {
            engineControl_ = std::make_unique<FakeZefControl>(engine_);
            if (engineControl_->IsComplete()) engineControl_->Reset();
        }
    }
    plugin_ = platform::LoadModuleByPath((folder_ / ModuleFileName("PlugEngineZef")).u16string().c_str());
    allExports_ = plugin_ != nullptr && exports_.Resolve(plugin_) == nullptr;
}

PluginHarness::~PluginHarness() {
    if (plugin_ != nullptr) {
        if (exports_.PreUninitialize != nullptr) exports_.PreUninitialize();
        platform::UnloadModule(plugin_);
    }
    engineControl_.reset();
    platform::UnloadModule(engine_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

bool PluginHarness::Loaded() const {
    const bool engineReady = !fakeWanted_ || (engineControl_ && engineControl_->IsComplete());
    return allExports_ && engineReady;
}

bool PluginHarness::Start() {
    return exports_.Initialize(&host_) == velk::kSuccess &&
           exports_.PostInitialize() == velk::kSuccess;
}

void AnswerSettings(ScriptedHost& host, std::vector<std::pair<uint32_t, int32_t>> settings) {
    host.AddInterface(velk::kConfigurationModule, velk::kConfigurationInterface,
                      [settings](uint32_t, void*, void* out) {
        // One get command per key, appended to the reply's record: type 4, the key, a success
        // status, value type 5 (int32) and the value record.
        const VELK_DataHandle reply = static_cast<HostMessageLayout*>(out)->handle;
        for (const auto& [key, value] : settings) {
            VELK_DataHandle command{}, datum{};
            VELK_Msg_CreateDataHandle(0x70002, &command);
            VELK_Msg_PutInt32(command, 0x70006, 4);
            VELK_Msg_PutUInt32(command, 0x70004, key);
            VELK_Msg_PutInt32(command, 0x70008, static_cast<int32_t>(velk::kSuccess));
            VELK_Msg_PutInt32(command, 0x70007, 5);
            VELK_Msg_CreateDataHandle(0x70005, &datum);
            VELK_Msg_PutInt32(datum, 0x70005, value);
            VELK_Msg_PutData(command, datum);
            VELK_Msg_PutData(reply, command);
            VELK_Msg_DestroyDataHandle(&datum);
            VELK_Msg_DestroyDataHandle(&command);
        }
        return velk::kSuccess;
    });
}

void AddComponent(HostMessageObject& input, int32_t type) {
    VELK_DataHandle entry{};
    VELK_Msg_CreateDataHandle(0x100B5, &entry);
    VELK_Msg_PutUInt32(entry, 0x20001, 0);
    VELK_Msg_PutInt32(entry, 1, type);
    VELK_Msg_PutWString(entry, 18, u".\\pattern", 9);
    VELK_Msg_PutData(input.handle, entry);
    VELK_Msg_DestroyDataHandle(&entry);
}
