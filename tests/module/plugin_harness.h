// A plug-in as a host meets it: the real module copied with an engine beside it into a fresh
// folder, loaded by path, with the ten exports resolved and, for a fake engine, the fake under
// control.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/common_plugin_interface.h"
#include "host/message_object.h"
#include "platform/dynamic_module.h"
#include "tests/fakes/fake_zef_control.h"
#include "tests/fakes/scripted_host.h"
#include "tests/fakes/test_folder.h"

class PluginHarness {
public:
    struct Options {
        std::string engineVariant = "FakeZef";  // built module copied as the engine; "" = none
        bool releasePlugin = false;  // Windows: the shipped module, which refuses unsigned engines
        std::string pluginBuild = "";  // another build of the plug-in to copy (test variants)
    };
    PluginHarness();
    explicit PluginHarness(const Options& options);
    ~PluginHarness();
    PluginHarness(const PluginHarness&) = delete;
    PluginHarness& operator=(const PluginHarness&) = delete;

    // The plug-in's ten exports were found (and a fake engine, when one was asked for, loaded).
    bool Loaded() const;
    const PluginExports& Exports() const { return exports_; }
    // The fake engine (it makes its temporary copies in Folder(), beside itself).
    const FakeZefControl& Engine() const { return *engineControl_; }
    ScriptedHost& Host() { return host_; }
    std::filesystem::path Folder() const { return folder_; }
    std::filesystem::path EnginePath() const { return folder_ / ModuleFileName("Zef"); }

    // Initialize with the scripted host, then PostInitialize; both results must be success.
    bool Start();
    // Loaded and started: the plug-in's interface (kept for Call), or null.
    ICommonPluginInterface* Running() { return Loaded() && Start() ? Interface() : nullptr; }
    // The plug-in's interface as QueryInterface gives it now (kept for Call).
    ICommonPluginInterface* Interface() { return wrapper_ = exports_.QueryInterface(kPluginInterfaceId); }
    uint32_t Call(uint32_t functionId, void* input, void* output) {
        return exports_.CallFunc(wrapper_, functionId, input, output);
    }

private:

    bool fakeWanted_ = false;
    bool allExports_ = false;
    std::filesystem::path folder_;
    platform::ModuleHandle engine_ = nullptr;
    platform::ModuleHandle plugin_ = nullptr;
    std::unique_ptr<FakeZefControl> engineControl_;
    PluginExports exports_;
    ScriptedHost host_;
    ICommonPluginInterface* wrapper_ = nullptr;
};

// The host's configuration service (5, 51) answering each key with its int32 value; keys it
// is not given are answered with nothing, so the plug-in takes their defaults.
void AnswerSettings(ScriptedHost& host, std::vector<std::pair<uint32_t, int32_t>> settings);

// Appends a received component record of the given type (pattern ".\pattern") to a host
// message, as notification 4116 brings them.
void AddComponent(HostMessageObject& input, int32_t type);
