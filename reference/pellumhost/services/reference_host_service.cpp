// The reference host's components. An interface handle is the address of the component's
// entry in a fixed table, so nothing is allocated per request.
#include "reference/pellumhost/services/reference_host_service.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "host/call_records.h"
#include "host/result_codes.h"
#include "host/velk_data_handle_wrapper.h"
#include "platform/text.h"
#include "reference/pellumhost/services/event_message_writer.h"
#include "reference/pellumhost/services/file_change_watcher.h"
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
    {HostInterfaceId(velk::kFeedbackModule, velk::kFeedbackInterface), "feedback"},
    {HostInterfaceId(velk::kStorageModule, velk::kStorageInterface), "storage"},
    {HostInterfaceId(velk::kSystemInfoModule, velk::kSystemInfoInterface), "system information"},
};

std::string PairText(uint64_t id) {
    return std::to_string(id & 0xFFFFFFFFu) + "/" + std::to_string(id >> 32);
}

void LogProblems(const std::string& path, const std::vector<ConfigurationProblem>& problems) {
    for (const ConfigurationProblem& problem : problems)
        HostLog(3, __LINE__, HostConfiguration::Describe(path, problem));
}

std::string DetectorText(const DetectorSettings& settings) {
    char text[256];
    std::snprintf(text, sizeof text, "%u files within %u s destroyed, or a score of %.1f "
                  "(halving every %u s), flag an actor; random bytes from %.2f bits per byte in "
                  "%u bytes or more; %zu trusted",
                  settings.minFiles, settings.windowSeconds, settings.longScore,
                  settings.halfLifeSeconds, settings.minEntropy, settings.minBytes,
                  settings.trustedImages.size());
    return text;
}

}  // namespace

ReferenceHostService::ReferenceHostService(const HostSettings& settings)
    : ReferenceHostService(HostConfiguration(settings)) {}

ReferenceHostService::ReferenceHostService(HostConfiguration configuration)
    : m_configuration(std::move(configuration)),
      m_judge(m_configuration.Detector(), SystemJudge([](uint32_t level, const std::string& line) {
                  HostLog(level, __LINE__, line);
              })) {
    m_events.SetDelivery([this](uint32_t moduleId, uint32_t interfaceId, uint32_t functionId,
                                void* input, void* output) {
        return CallSubscriber(moduleId, interfaceId, functionId, input, output);
    });
    HostLog(2, __LINE__, "detector: " + DetectorText(m_configuration.Detector()));
}

ReferenceHostService::~ReferenceHostService() { StopWatchingConfiguration(); }

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
        case velk::kEventProcessorModule:
            if (functionId == velk::kFnRegisterEvents) return m_events.Register(input);
            if (functionId == velk::kFnUnregisterEvents) return m_events.Unregister(input);
            return velk::kNotHandled;
        case velk::kConfigurationModule: return Configuration(functionId, input, output);
        case velk::kFeedbackModule: {
            const uint32_t result = m_feedback.Record(functionId, input);
            if (static_cast<int32_t>(result) < 0)
                HostLog(3, __LINE__, "feedback: a request to function " + std::to_string(functionId) +
                                         " was refused, result " + std::to_string(result));
            return result;
        }
        case velk::kStorageModule: return m_storage.Call(functionId, input, output);
        case velk::kSystemInfoModule: return SystemInfo(functionId, input, output);
        default: return velk::kNotHandled;
    }
}

uint32_t ReferenceHostService::Configuration(uint32_t functionId, const void* input, void* output) {
    if (functionId != velk::kFnQueryConfiguration) return velk::kNotHandled;
    std::lock_guard<std::mutex> guard(m_lock);
    HostLog(2, __LINE__, "configuration query answered from " +
                             (m_configuration.Path().empty() ? std::string("the host's settings")
                                                             : m_configuration.Path()));
    return m_configuration.Engine().AnswerQuery(input, output);
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

void ReferenceHostService::AttachPlugin(const PluginExports* plugin) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_plugin = plugin;
}

uint32_t ReferenceHostService::CallSubscriber(uint32_t moduleId, uint32_t interfaceId,
                                              uint32_t functionId, void* input, void* output) {
    const PluginExports* plugin;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        plugin = m_plugin;
    }
    if (plugin == nullptr || plugin->GetModuleID() != moduleId) return velk::kNoHostInterface;
    ICommonPluginInterface* subscriber = plugin->QueryInterface(interfaceId);
    if (subscriber == nullptr) return velk::kNoHostInterface;
    return plugin->CallFunc(subscriber, functionId, input, output);
}

void ReferenceHostService::WatchConfiguration(std::chrono::milliseconds interval) {
    StopWatchingConfiguration();
    const std::string path = Configuration().Path();
    if (path.empty()) return;
    m_watcher = std::make_unique<FileChangeWatcher>(path, [this] { ReloadConfiguration(); });
    m_watcher->Start(interval);
    HostLog(2, __LINE__, "configuration: watching " + path + " for changes");
}

void ReferenceHostService::StopWatchingConfiguration() {
    if (m_watcher) m_watcher->Stop();
    m_watcher.reset();
}

HostConfiguration ReferenceHostService::Configuration() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_configuration;
}

std::vector<std::string> ReferenceHostService::ReloadConfiguration() {
    const HostConfiguration before = Configuration();
    if (before.Path().empty()) {
        HostLog(3, __LINE__, "configuration: no file to read again; the settings stay");
        return {};
    }
    std::vector<ConfigurationProblem> problems;
    HostConfiguration after = before.Reload(problems);
    LogProblems(after.Path(), problems);
    const std::vector<std::string> changed = before.Engine().ChangedNames(after.Engine());
    m_judge.Reconfigure(after.Detector());
    HostLog(2, __LINE__, "configuration: " + after.Path() + " read again; detector: " +
                             DetectorText(after.Detector()));
    VELK_DataHandleWrapper message;
    after.Engine().WriteChangeMessage(changed, message);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_configuration = std::move(after);
    }
    if (changed.empty()) return changed;
    std::string names, later;
    for (const std::string& name : changed) {
        names += (names.empty() ? "" : ", ") + name;
        if (!HostSettings::AppliedWhileRunning(name)) later += (later.empty() ? "" : ", ") + name;
    }
    HostLog(2, __LINE__, "configuration: changed " + names + "; sending the change message");
    if (!later.empty())
        HostLog(2, __LINE__, "configuration: " + later + " take effect when the engine starts again");
    velk::ConfigurationChangeRequest request{velk::kKindConfigurationChanged, 0, 0, message.Handle()};
    m_events.DeliverRequest(velk::kKindConfigurationChanged, &request);
    return changed;
}

FileActivityCallbacks ReferenceHostService::ActivityCallbacks(ActivityJudge::OnFlagged onFlagged) {
    FileActivityCallbacks callbacks = m_judge.Callbacks(std::move(onFlagged));
    callbacks.onOpen = [this, judge = callbacks.onOpen](uint32_t processId, const std::string& path,
                                                       const FileStart* start) {
        std::vector<uint8_t> message;
        WriteFileEventMessage(platform::FromUtf8(path), processId, 0, message);
        m_events.DeliverEvent(velk::kEventIntegration, message.data());
        judge(processId, path, start);
    };
    callbacks.log = [](const std::string& line) { HostLog(3, __LINE__, line); };
    return callbacks;
}

}  // namespace pellumhost
