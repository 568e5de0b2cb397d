// A plug-in module loaded by the host: the module handle and its ten exports.
#pragma once
#include <string>

#include "host/common_plugin_interface.h"
#include "platform/dynamic_module.h"

namespace pellumhost {

class LoadedPlugin {
public:
    // Loads the module at path; Error() tells what went wrong when it is not usable.
    explicit LoadedPlugin(const std::u16string& path);
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    bool Usable() const { return error_.empty(); }
    const std::string& Error() const { return error_; }

    PFN_Plugin_Interface_Initialize Initialize = nullptr;
    PFN_Plugin_Interface_PostInitialize PostInitialize = nullptr;
    PFN_Plugin_Interface_PreUninitialize PreUninitialize = nullptr;
    PFN_Plugin_Interface_Uninitialize Uninitialize = nullptr;
    PFN_Plugin_Interface_QueryInterface QueryInterface = nullptr;
    PFN_Plugin_Interface_CallFunc CallFunc = nullptr;
    PFN_Plugin_Interface_OnNotify OnNotify = nullptr;
    PFN_Plugin_Interface_GetModuleID GetModuleID = nullptr;
    PFN_Plugin_Interface_GetModuleVersion GetModuleVersion = nullptr;
    PFN_Plugin_Interface_Release Release = nullptr;

private:
    platform::ModuleHandle module_ = nullptr;
    std::string error_;
};

}  // namespace pellumhost
