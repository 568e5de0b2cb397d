// The scripted host service object.
#include "tests/fakes/scripted_host.h"

#include <cstdio>

void ScriptedHost::AddInterface(uint32_t moduleId, uint32_t interfaceId, Handler handler) {
    const uint64_t id = HostInterfaceId(moduleId, interfaceId);
    std::lock_guard<std::mutex> guard(lock_);
    interfaces_[id] = std::make_shared<Interface>(Interface{id, std::move(handler)});
}

void ScriptedHost::RemoveInterface(uint32_t moduleId, uint32_t interfaceId) {
    std::lock_guard<std::mutex> guard(lock_);
    interfaces_.erase(HostInterfaceId(moduleId, interfaceId));
}

std::vector<std::string> ScriptedHost::Log() const {
    std::lock_guard<std::mutex> guard(lock_);
    return log_;
}

void ScriptedHost::ClearLog() {
    std::lock_guard<std::mutex> guard(lock_);
    log_.clear();
}

std::string ScriptedHost::Name(uint64_t id) {
    return std::to_string(id & 0xFFFFFFFFu) + "/" + std::to_string(id >> 32);
}

void ScriptedHost::Append(std::string line) {
    std::lock_guard<std::mutex> guard(lock_);
    log_.push_back(std::move(line));
}

void* ScriptedHost::QueryHostInterface(uint64_t hostInterfaceId) {
    std::shared_ptr<Interface> found;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto it = interfaces_.find(hostInterfaceId);
        if (it != interfaces_.end()) found = it->second;
    }
    Append("query " + Name(hostInterfaceId) + (found ? "" : " refused"));
    if (!found) return nullptr;
    // The handle keeps the interface alive until it is given back.
    return new std::shared_ptr<Interface>(found);
}

void ScriptedHost::ReleaseHostInterface(void* hostInterface) {
    if (hostInterface == nullptr) {
        Append("release null");
        return;
    }
    auto* held = static_cast<std::shared_ptr<Interface>*>(hostInterface);
    Append("release " + Name((*held)->id));
    delete held;
}

uint32_t ScriptedHost::CallHostInterface(void* hostInterface, uint32_t functionId, void* input,
                                         void* output) {
    if (hostInterface == nullptr) return 0xE0FF000D;
    const auto& held = *static_cast<std::shared_ptr<Interface>*>(hostInterface);
    char id[16];
    std::snprintf(id, sizeof id, "0x%x", functionId);
    Append("call " + Name(held->id) + " " + id);
    return held->handler ? held->handler(functionId, input, output) : 0x20FF0000;
}
