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
    const char* missing = exports_.Resolve(module_);
    if (missing != nullptr) error_ = std::string("the plug-in lacks ") + missing;
}

LoadedPlugin::~LoadedPlugin() { platform::UnloadModule(module_); }

}  // namespace pellumhost
