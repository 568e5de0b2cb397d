// Loading a plug-in module and resolving its exports.
#include "reference/pellumhost/loaded_plugin.h"

#include "platform/text.h"

namespace pellumhost {

LoadedPlugin::LoadedPlugin(const std::u16string& path)
    : module_(platform::LoadModuleByPath(path.c_str())) {
    if (module_ == nullptr) {
        error_ = "cannot load the plug-in module " + platform::ToUtf8(path);
        return;
    }
    const auto resolve = [this](const char* name, auto& function) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
            platform::FindExport(module_, name));
        if (function == nullptr && error_.empty()) error_ = std::string("the plug-in lacks ") + name;
    };
    resolve("Plugin_Interface_Initialize", Initialize);
    resolve("Plugin_Interface_PostInitialize", PostInitialize);
    resolve("Plugin_Interface_PreUninitialize", PreUninitialize);
    resolve("Plugin_Interface_Uninitialize", Uninitialize);
    resolve("Plugin_Interface_QueryInterface", QueryInterface);
    resolve("Plugin_Interface_CallFunc", CallFunc);
    resolve("Plugin_Interface_OnNotify", OnNotify);
    resolve("Plugin_Interface_GetModuleID", GetModuleID);
    resolve("Plugin_Interface_GetModuleVersion", GetModuleVersion);
    resolve("Plugin_Interface_Release", Release);
}

LoadedPlugin::~LoadedPlugin() { platform::UnloadModule(module_); }

}  // namespace pellumhost
