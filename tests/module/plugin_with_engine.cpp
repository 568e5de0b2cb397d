#include "tests/module/plugin_with_engine.h"

#include <string>

#include "host/call_records.h"
#include "host/message_object.h"
#include "host/result_codes.h"
#include "tests/fakes/test_folder.h"

namespace fs = std::filesystem;


PluginWithEngine::PluginWithEngine(const fs::path& folder, const Prepare& prepare) {
    const fs::path bin = BuildOutputFolder();
#if defined(_WIN32)
    const std::string pluginBuild = "PlugEngineZefUnsignedOk";
#else
    const std::string pluginBuild = "PlugEngineZef";
#endif
    // A module that the system keeps mapped after its unload must never be written over, so a
    // restart in the same folder loads the copies already there.
    fs::copy_file(bin / ModuleFileName(pluginBuild), folder / ModuleFileName("PlugEngineZef"),
                  fs::copy_options::skip_existing);
    fs::copy_file(bin / ModuleFileName("Zef"), folder / ModuleFileName("Zef"),
                  fs::copy_options::skip_existing);
    if (prepare) prepare(m_host);
    m_plugin = platform::LoadModuleByPath((folder / ModuleFileName("PlugEngineZef")).u16string().c_str());
    if (m_plugin == nullptr) return;
    if (m_exports.Resolve(m_plugin) != nullptr) return;
    m_initialized = m_exports.Initialize(&m_host) == velk::kSuccess;
    if (!m_initialized || m_exports.PostInitialize() != velk::kSuccess) return;
    m_wrapper = m_exports.QueryInterface(kPluginInterfaceId);
}

PluginWithEngine::~PluginWithEngine() {
    if (m_initialized) m_exports.PreUninitialize();
    platform::UnloadModule(m_plugin);
}

uint32_t PluginWithEngine::Call(uint32_t functionId, void* input, void* output) {
    return m_exports.CallFunc(m_wrapper, functionId, input, output);
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
