// PluginInterfaceClass: the three host slots, and nothing called without a host.
#include "host/plugin_interface_class.h"

#include "host/result_codes.h"

PluginInterfaceClass::PluginInterfaceClass(IHostService* host, uint32_t moduleId,
                                           uint32_t interfaceId)
    : m_pHost(host) {
    if (m_pHost == nullptr) return;
    m_hInterface = m_pHost->QueryHostInterface(HostInterfaceId(moduleId, interfaceId));
    m_bValid = m_hInterface != nullptr;
}

PluginInterfaceClass::~PluginInterfaceClass() {
    if (m_pHost != nullptr) m_pHost->ReleaseHostInterface(m_hInterface);
}

uint32_t PluginInterfaceClass::Call(uint32_t functionId, void* input, void* output) {
    if (m_pHost == nullptr || m_hInterface == nullptr) return velk::kNoHostInterface;
    return m_pHost->CallHostInterface(m_hInterface, functionId, input, output);
}
