// The shipped plug-in and the reference engine copied side by side into one folder and loaded
// by path, as the demo runs them, with a scripted host that the test prepares before the start.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "host/common_plugin_interface.h"
#include "platform/dynamic_module.h"
#include "tests/fakes/scripted_host.h"

class PluginWithEngine {
public:
    using Prepare = std::function<void(ScriptedHost&)>;
    // prepare adds the host interfaces the test wants before the plug-in starts.
    explicit PluginWithEngine(const std::filesystem::path& folder, const Prepare& prepare = {});
    ~PluginWithEngine();
    PluginWithEngine(const PluginWithEngine&) = delete;
    PluginWithEngine& operator=(const PluginWithEngine&) = delete;

    bool Running() const { return m_wrapper != nullptr; }
    uint32_t Call(uint32_t functionId, void* input, void* output);
    ScriptedHost& Host() { return m_host; }

private:
    platform::ModuleHandle m_plugin = nullptr;
    PluginExports m_exports;
    ScriptedHost m_host;
    bool m_initialized = false;
    ICommonPluginInterface* m_wrapper = nullptr;
};

// The host's configuration service (5, 51) answering each key with its int32 value; keys it
// is not given are answered with nothing, so the plug-in takes their defaults.
void AnswerSettings(ScriptedHost& host, std::vector<std::pair<uint32_t, int32_t>> settings);
