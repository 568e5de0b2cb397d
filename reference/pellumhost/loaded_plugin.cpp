// Loading a plug-in module and resolving its exports.
#include "reference/pellumhost/loaded_plugin.h"

#include "platform/module_trust.h"
#include "platform/text.h"

namespace pellumhost {

// The reference plug-in carries no signature; Windows takes it as the plug-in's test build
// takes an unsigned engine.
constexpr bool kAcceptUnsignedPlugin = true;

LoadedPlugin::LoadedPlugin(const std::u16string& path) {
    const platform::ModuleDistrust distrust =
        platform::CheckModuleTrust(path.c_str(), kAcceptUnsignedPlugin);
    if (distrust == platform::ModuleDistrust::kMissing) {
        error_ = "cannot load the plug-in module " + platform::ToUtf8(path) + ": it does not exist";
        return;
    }
    if (distrust != platform::ModuleDistrust::kTrusted) {
        untrusted_ = true;
        error_ = "the plug-in module " + platform::ToUtf8(path) + " is not trusted: it " +
                 platform::ModuleDistrustText(distrust) + " (it must be owned by root or by the "
                 "service's user, and neither it nor its folder writable by anyone else)";
        return;
    }
    module_ = platform::LoadModuleByPath(path.c_str());
    if (module_ == nullptr) {
        error_ = "cannot load the plug-in module " + platform::ToUtf8(path);
        return;
    }
    const char* missing = exports_.Resolve(module_);
    if (missing != nullptr) error_ = std::string("the plug-in lacks ") + missing;
}

LoadedPlugin::~LoadedPlugin() { platform::UnloadModule(module_); }

}  // namespace pellumhost
