// The host service object handed to Plugin_Interface_Initialize: the plug-in's door to other
// host components. The plug-in calls its first three table slots, in this order. A host may
// be called on them from several threads at once.
#pragma once
#include <cstdint>

// (module id, interface id) as one 64-bit value: module id in the low half.
constexpr uint64_t HostInterfaceId(uint32_t moduleId, uint32_t interfaceId) {
    return uint64_t{moduleId} | (uint64_t{interfaceId} << 32);
}

class IHostService {
public:
    // Slot 0: an interface handle for the pair, or null when the host cannot give it.
    virtual void* QueryHostInterface(uint64_t hostInterfaceId) = 0;
    // Slot 1: gives an interface back; called also with a null handle.
    virtual void ReleaseHostInterface(void* hostInterface) = 0;
    // Slot 2: calls a function of an interface with host message objects (output may be null).
    virtual uint32_t CallHostInterface(void* hostInterface, uint32_t functionId, void* input,
                                       void* output) = 0;

protected:
    ~IHostService() = default;  // the host owns the object; nobody deletes it through this
};
