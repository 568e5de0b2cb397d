// The reference host's components. An interface handle is the address of the component's
// entry in a fixed table, so nothing is allocated per request.
#include "reference/pellumhost/reference_host_service.h"

#include <string>

#include "host/call_records.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/file_activity.h"
#include "reference/pellumhost/host_log.h"

namespace pellumhost {
namespace {

struct Component {
    uint64_t id;
    const char* name;
};
const Component kComponents[] = {
    {HostInterfaceId(velk::kEventProcessorModule, velk::kEventProcessorInterface), "event processor"},
    {HostInterfaceId(velk::kConfigurationModule, velk::kConfigurationInterface), "configuration"},
    {HostInterfaceId(velk::kStorageModule, velk::kStorageInterface), "storage"},
    {HostInterfaceId(velk::kSystemInfoModule, velk::kSystemInfoInterface), "system information"},
};

std::string PairText(uint64_t id) {
    return std::to_string(id & 0xFFFFFFFFu) + "/" + std::to_string(id >> 32);
}

}  // namespace

void* ReferenceHostService::QueryHostInterface(uint64_t hostInterfaceId) {
    for (const Component& component : kComponents) {
        if (component.id == hostInterfaceId) return const_cast<Component*>(&component);
    }
    HostLog(3, __LINE__, "no component offers interface " + PairText(hostInterfaceId));
    return nullptr;
}

void ReferenceHostService::ReleaseHostInterface(void* /*hostInterface*/) {}

uint32_t ReferenceHostService::CallHostInterface(void* hostInterface, uint32_t functionId,
                                                 void* input, void* output) {
    const auto* component = static_cast<const Component*>(hostInterface);
    if (component == nullptr) return velk::kNoHostInterface;
    switch (component->id & 0xFFFFFFFFu) {
        case velk::kEventProcessorModule: return EventProcessor(functionId);
        case velk::kConfigurationModule:
            if (functionId != velk::kFnQueryConfiguration) return velk::kNotHandled;
            HostLog(2, __LINE__, "configuration query answered from the host's settings");
            return m_settings.AnswerQuery(input, output);
        case velk::kStorageModule: return Storage(functionId, input);
        case velk::kSystemInfoModule: return SystemInfo(functionId, input, output);
        default: return velk::kNotHandled;
    }
}

uint32_t ReferenceHostService::EventProcessor(uint32_t functionId) {
    if (functionId == velk::kFnRegisterEvents) {
        ++m_registrations;
    } else if (functionId == velk::kFnUnregisterEvents) {
        --m_registrations;
    } else {
        return velk::kNotHandled;
    }
    HostLog(2, __LINE__, functionId == velk::kFnRegisterEvents ? "events registered"
                                                                : "events unregistered");
    return velk::kSuccess;
}

uint32_t ReferenceHostService::Storage(uint32_t functionId, const void* input) {
    if (functionId != velk::kFnAddDbProtection && functionId != velk::kFnRemoveDbProtection) {
        return velk::kNotHandled;  // reading backup data through the host is not offered
    }
    const auto* request = static_cast<const velk::DbProtectionRequest*>(input);
    if (request == nullptr || (request->folder == nullptr && request->folderLength != 0)) {
        return velk::kBadArgument;
    }
    const std::u16string folder(request->folder, request->folderLength);
    const bool adding = functionId == velk::kFnAddDbProtection;
    m_protected += adding ? 1 : -1;
    HostLog(2, __LINE__, std::string(adding ? "protecting " : "no longer protecting ") +
                             platform::ToUtf8(folder));
    return velk::kSuccess;
}

// A process's image path from the system, and the cloud test: no file of this host is a
// cloud placeholder, so the answer is always "not a cloud file".
uint32_t ReferenceHostService::SystemInfo(uint32_t functionId, const void* input, void* output) {
    if (functionId == velk::kFnIsCloudFile) {
        if (output == nullptr) return velk::kBadArgument;
        *static_cast<uint8_t*>(output) = 0;
        return velk::kSuccess;
    }
    if (functionId != velk::kFnGetImagePath) return velk::kNotHandled;
    const auto* request = static_cast<const velk::ImagePathRequest*>(input);
    auto* reply = static_cast<velk::ImagePathReply*>(output);
    if (request == nullptr || reply == nullptr || reply->buffer == nullptr || reply->capacity == 0)
        return velk::kBadArgument;
    const std::u16string image = platform::FromUtf8(ProcessImage(request->processId));
    if (image.empty() || image.size() >= reply->capacity) {
        HostLog(2, __LINE__, "no image path for process " + std::to_string(request->processId));
        return velk::kNotHandled;
    }
    image.copy(reply->buffer, image.size());
    reply->buffer[image.size()] = u'\0';
    return velk::kImagePathFound;
}

}  // namespace pellumhost
