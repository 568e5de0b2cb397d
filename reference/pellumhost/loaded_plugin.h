// A plug-in module loaded by the host: the module handle and its ten exports.
#pragma once
#include <string>

#include "host/common_plugin_interface.h"
#include "platform/dynamic_module.h"

namespace pellumhost {

class LoadedPlugin {
public:
    // Loads the module at path once it passes the trust rule the plug-in applies to the
    // engine; Error() tells what went wrong when it is not usable.
    explicit LoadedPlugin(const std::u16string& path);
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    bool Usable() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    // The module was not loaded because it failed the trust rule.
    bool Untrusted() const { return untrusted_; }

    const PluginExports& Exports() const { return exports_; }

private:
    platform::ModuleHandle module_ = nullptr;
    PluginExports exports_;
    std::string error_;
    bool untrusted_ = false;
};

}  // namespace pellumhost
