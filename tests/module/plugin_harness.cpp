// Copying, loading and unloading the plug-in and its engine for one test.
#include "tests/module/plugin_harness.h"

#include "host/result_codes.h"
#include "tests/fakes/captured_log.h"

namespace fs = std::filesystem;

namespace {

platform::ModuleHandle Load(const fs::path& path) {
    return platform::LoadModuleByPath(path.u16string().c_str());
}

}  // namespace

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
    engineWanted_ = !options.engineVariant.empty();
    if (engineWanted_) {
        fs::copy_file(bin / ModuleFileName(options.engineVariant), EnginePath());
        // Loaded first and held, so that its script and call log outlive the plug-in's loads.
        engine_ = Load(EnginePath());
        if (engine_ != nullptr) {
            engineControl_ = std::make_unique<FakeZefControl>(engine_);
            if (engineControl_->IsComplete()) {
                engineControl_->Reset();
                engineControl_->SetCopyFolder(folder_.u16string());
            }
        }
    }
    plugin_ = Load(folder_ / ModuleFileName("PlugEngineZef"));
    exports_.Resolve(plugin_);
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
    const bool engineReady = !engineWanted_ || (engineControl_ && engineControl_->IsComplete());
    return plugin_ != nullptr && engineReady && exports_.Initialize && exports_.PostInitialize &&
           exports_.PreUninitialize && exports_.Uninitialize && exports_.QueryInterface &&
           exports_.CallFunc && exports_.OnNotify && exports_.GetModuleID &&
           exports_.GetModuleVersion && exports_.Release;
}

bool PluginHarness::Start() {
    return exports_.Initialize(&host_) == velk::kSuccess &&
           exports_.PostInitialize() == velk::kSuccess;
}
