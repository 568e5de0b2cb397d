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

    const PluginExports& Exports() const { return exports_; }

private:
    platform::ModuleHandle module_ = nullptr;
    PluginExports exports_;
    std::string error_;
};

}  // namespace pellumhost
