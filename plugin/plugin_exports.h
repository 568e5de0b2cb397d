// The ten exports, declared for the plug-in's own code that calls one of them.
#pragma once
#include <cstdint>

#include "host/common_plugin_interface.h"
#include "host/module_export.h"

extern "C" {
PEZ_EXPORT uint32_t Plugin_Interface_Initialize(IHostService* hostService) noexcept;
PEZ_EXPORT uint32_t Plugin_Interface_PostInitialize() noexcept;
PEZ_EXPORT uint32_t Plugin_Interface_PreUninitialize() noexcept;
PEZ_EXPORT uint32_t Plugin_Interface_Uninitialize() noexcept;
PEZ_EXPORT ICommonPluginInterface* Plugin_Interface_QueryInterface(uint32_t interfaceId) noexcept;
PEZ_EXPORT uint32_t Plugin_Interface_CallFunc(ICommonPluginInterface* pluginInterface,
                                              uint32_t functionId, void* input,
                                              void* output) noexcept;
PEZ_EXPORT uint32_t Plugin_Interface_OnNotify(int32_t notificationId, void* input,
                                              void* output) noexcept;
PEZ_EXPORT uint32_t Plugin_Interface_GetModuleID() noexcept;
PEZ_EXPORT void Plugin_Interface_GetModuleVersion(ModuleVersion* version) noexcept;
PEZ_EXPORT void Plugin_Interface_Release(void* anything) noexcept;
}
