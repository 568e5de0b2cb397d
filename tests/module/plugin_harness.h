// A plug-in as a host meets it: the real module copied with an engine beside it into a fresh
// folder, loaded by path, with the ten exports resolved and the fake engine under control.
#pragma once
#include <filesystem>
#include <memory>
#include <string>

#include "host/common_plugin_interface.h"
#include "platform/dynamic_module.h"
#include "tests/fakes/fake_zef_control.h"
#include "tests/fakes/scripted_host.h"
#include "tests/fakes/test_folder.h"

class PluginHarness {
public:
    struct Options {
        std::string engineVariant = "FakeZef";  // built module copied as the engine; "" = none
        bool releasePlugin = false;  // Windows: the shipped module, which refuses unsigned engines
        std::string pluginBuild;     // another build of the plug-in to copy (test variants)
    };
    PluginHarness();
    explicit PluginHarness(const Options& options);
    ~PluginHarness();
    PluginHarness(const PluginHarness&) = delete;
    PluginHarness& operator=(const PluginHarness&) = delete;

    // The plug-in's ten exports were found (and the engine, when one was asked for, loaded).
    bool Loaded() const;
    const PluginExports& Exports() const { return exports_; }
    // The fake engine; it makes its copies in Folder() unless told otherwise.
    const FakeZefControl& Engine() const { return *engineControl_; }
    ScriptedHost& Host() { return host_; }
    std::filesystem::path Folder() const { return folder_; }
    std::filesystem::path EnginePath() const { return folder_ / ModuleFileName("Zef"); }

    // Initialize with the scripted host, then PostInitialize; both results must be success.
    bool Start();
    // Loaded and started: the plug-in's interface, or null.
    ICommonPluginInterface* Running() {
        return Loaded() && Start() ? exports_.QueryInterface(kPluginInterfaceId) : nullptr;
    }

private:
    bool engineWanted_ = false;
    std::filesystem::path folder_;
    platform::ModuleHandle engine_ = nullptr;
    platform::ModuleHandle plugin_ = nullptr;
    std::unique_ptr<FakeZefControl> engineControl_;
    PluginExports exports_;
    ScriptedHost host_;
};
