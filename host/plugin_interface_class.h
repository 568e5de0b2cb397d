// PluginInterfaceClass: one host interface, obtained when constructed and given back when
// destroyed. Made on the stack for the duration of one request; never copied or shared.
#pragma once
#include <cstdint>

#include "host/host_service.h"

class PluginInterfaceClass {
public:
    // Asks the host (when there is one) for the interface (moduleId, interfaceId).
    PluginInterfaceClass(IHostService* host, uint32_t moduleId, uint32_t interfaceId);
    PluginInterfaceClass(const PluginInterfaceClass&) = delete;
    PluginInterfaceClass& operator=(const PluginInterfaceClass&) = delete;
    // Gives the interface back when there is a host, also when none was obtained.
    virtual ~PluginInterfaceClass();

    bool IsValid() const { return m_bValid; }
    // The host's result, or 0xE0FF000D without a host or an interface.
    uint32_t Call(uint32_t functionId, void* input, void* output);

private:
    IHostService* m_pHost;
    void* m_hInterface = nullptr;
    bool m_bValid = false;
};
