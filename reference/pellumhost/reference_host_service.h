// The reference host's service object: the components a plug-in reaches through it. It offers
// the event processor (3, 31), the configuration service (5, 51) with the host's settings, and
// the storage service (20001, 200011) that protects the engine's database folder, and system
// information (40002, 400021: a process's image path, the cloud test). Any other
// interface is refused with a null handle. Every request is noted in the host's log.
#pragma once
#include <atomic>
#include <cstdint>

#include "host/host_service.h"
#include "reference/pellumhost/host_settings.h"

namespace pellumhost {

class ReferenceHostService final : public IHostService {
public:
    explicit ReferenceHostService(const HostSettings& settings) : m_settings(settings) {}

    void* QueryHostInterface(uint64_t hostInterfaceId) override;
    void ReleaseHostInterface(void* hostInterface) override;
    uint32_t CallHostInterface(void* hostInterface, uint32_t functionId, void* input,
                               void* output) override;

    // Registrations the event processor holds now (each register adds one, unregister removes).
    int32_t Registrations() const { return m_registrations.load(); }
    int32_t ProtectedFolders() const { return m_protected.load(); }

private:
    uint32_t EventProcessor(uint32_t functionId);
    uint32_t Storage(uint32_t functionId, const void* input);
    uint32_t SystemInfo(uint32_t functionId, const void* input, void* output);

    const HostSettings& m_settings;
    std::atomic<int32_t> m_registrations{0};
    std::atomic<int32_t> m_protected{0};
};

}  // namespace pellumhost
