// What a host sees of the plug-in: the interface object it calls and the ten exports.
#pragma once
#include <cstdint>

#include "platform/dynamic_module.h"

class IHostService;

// The plug-in's identity.
constexpr uint32_t kPluginModuleId = 10012;
constexpr uint32_t kPluginInterfaceId = 100121;

struct ModuleVersion {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    uint32_t reserved;
};
static_assert(sizeof(ModuleVersion) == 16, "ModuleVersion is four 32-bit words");

// The interface that Plugin_Interface_QueryInterface hands out, laid out as a host built with
// a Windows compiler expects: slot 0 is a deleting destructor taking a flag (bit 0 set = free
// the object), then the four operations. Nobody deletes it with `delete`.
class ICommonPluginInterface {
public:
    virtual void* DeletingDestructor(uint32_t flags) = 0;
    virtual uint32_t GetModuleID() = 0;
    virtual uint32_t GetInterfaceID() = 0;
    virtual void GetModuleVersion(ModuleVersion* version) = 0;
    virtual uint32_t CallFunc(uint32_t functionId, void* input, void* output) = 0;

protected:
    ~ICommonPluginInterface() = default;
};

// The exports, as a host resolves them by name.
extern "C" {
typedef uint32_t (*PFN_Plugin_Interface_Initialize)(IHostService* hostService);
typedef uint32_t (*PFN_Plugin_Interface_PostInitialize)();
typedef uint32_t (*PFN_Plugin_Interface_PreUninitialize)();
typedef uint32_t (*PFN_Plugin_Interface_Uninitialize)();
typedef ICommonPluginInterface* (*PFN_Plugin_Interface_QueryInterface)(uint32_t interfaceId);
typedef uint32_t (*PFN_Plugin_Interface_CallFunc)(ICommonPluginInterface* pluginInterface,
                                                  uint32_t functionId, void* input,
                                                  void* output);
typedef uint32_t (*PFN_Plugin_Interface_OnNotify)(int32_t notificationId, void* input,
                                                  void* output);
typedef uint32_t (*PFN_Plugin_Interface_GetModuleID)();
typedef void (*PFN_Plugin_Interface_GetModuleVersion)(ModuleVersion* version);
typedef void (*PFN_Plugin_Interface_Release)(void* anything);
}

// The ten exports by name, in one list.
#define PLUGIN_INTERFACE_EXPORTS(X)                                                          \
    X(Initialize) X(PostInitialize) X(PreUninitialize) X(Uninitialize) X(QueryInterface)      \
    X(CallFunc) X(OnNotify) X(GetModuleID) X(GetModuleVersion) X(Release)

// A host's table of the ten exports.
struct PluginExports {
#define PLUGIN_EXPORT_MEMBER(name) PFN_Plugin_Interface_##name name = nullptr;
    PLUGIN_INTERFACE_EXPORTS(PLUGIN_EXPORT_MEMBER)
#undef PLUGIN_EXPORT_MEMBER

    // Fills every member from the loaded plug-in module; returns the first name not found, or
    // null when all ten were.
    const char* Resolve(platform::ModuleHandle module) {
        const char* missing = nullptr;
#define PLUGIN_EXPORT_RESOLVE(name)                                                          \
    name = platform::FindExportAs<PFN_Plugin_Interface_##name>(module,                       \
                                                               "Plugin_Interface_" #name);   \
    if (name == nullptr && missing == nullptr) missing = "Plugin_Interface_" #name;
        PLUGIN_INTERFACE_EXPORTS(PLUGIN_EXPORT_RESOLVE)
#undef PLUGIN_EXPORT_RESOLVE
        return missing;
    }
};
