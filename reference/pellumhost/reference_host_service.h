// The reference host's service object: the door through which a plug-in reaches the host's
// components. It offers no component yet; every request is answered with a null interface
// and noted in the host's diagnostic log.
#pragma once
#include "host/host_service.h"

namespace pellumhost {

class ReferenceHostService final : public IHostService {
public:
    void* QueryHostInterface(uint64_t hostInterfaceId) override;
    void ReleaseHostInterface(void* hostInterface) override;
    uint32_t CallHostInterface(void* hostInterface, uint32_t functionId, void* input,
                               void* output) override;
};

}  // namespace pellumhost
