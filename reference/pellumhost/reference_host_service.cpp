// The reference host's service object.
#include "reference/pellumhost/reference_host_service.h"

#include <string>

#include "host/result_codes.h"
#include "reference/pellumhost/host_log.h"

namespace pellumhost {

void* ReferenceHostService::QueryHostInterface(uint64_t hostInterfaceId) {
    HostLog(3, __LINE__,
            "no component offers interface " + std::to_string(hostInterfaceId & 0xFFFFFFFFu) +
                "/" + std::to_string(hostInterfaceId >> 32));
    return nullptr;
}

void ReferenceHostService::ReleaseHostInterface(void* /*hostInterface*/) {}

uint32_t ReferenceHostService::CallHostInterface(void* /*hostInterface*/, uint32_t /*functionId*/,
                                                 void* /*input*/, void* /*output*/) {
    return velk::kNoHostInterface;
}

}  // namespace pellumhost
