// A host service object for tests: interfaces are added and removed by the test, each with a
// handler that answers its function calls; every query, give-back and call is logged.
// Safe to use from several threads.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/host_service.h"

class ScriptedHost final : public IHostService {
public:
    using Handler = std::function<uint32_t(uint32_t functionId, void* input, void* output)>;

    // Makes (moduleId, interfaceId) available; calls on it go to handler.
    void AddInterface(uint32_t moduleId, uint32_t interfaceId, Handler handler);
    void RemoveInterface(uint32_t moduleId, uint32_t interfaceId);

    // "query 3/31", "query 9/91 refused", "release 3/31", "release null", "call 3/31 0x5e23".
    std::vector<std::string> Log() const;
    void ClearLog();

    void* QueryHostInterface(uint64_t hostInterfaceId) override;
    void ReleaseHostInterface(void* hostInterface) override;
    uint32_t CallHostInterface(void* hostInterface, uint32_t functionId, void* input,
                               void* output) override;

private:
    struct Interface {
        uint64_t id;
        Handler handler;
    };
    static std::string Name(uint64_t id);
    void Append(std::string line);

    mutable std::mutex lock_;
    std::map<uint64_t, std::shared_ptr<Interface>> interfaces_;
    std::vector<std::string> log_;
};
