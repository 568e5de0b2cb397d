// The reference host's service object: the components a plug-in reaches through it. It offers
// the event processor (3, 31) that keeps subscriptions and delivers events to subscribers,
// the configuration service (5, 51) that answers from the configuration file (and sends a
// change message when the file changes), the feedback service (10, 101) that writes a decoded
// feedback log, the storage service (20001, 200011) with the protected database folders, and
// system information (40002, 400021: a process's image path, the cloud test). Any other
// interface is refused with a null handle. Beside them it hands the file activity that sources
// report to the activity judge, which stops the processes of an actor it flags. Every request
// is noted in the host's log.
//
// Threads: the plug-in calls the components from any thread; the configuration is read and
// replaced under one lock, the judge has its own; no lock is held while the plug-in runs.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/common_plugin_interface.h"
#include "host/host_service.h"
#include "reference/pellumhost/services/event_processor.h"
#include "reference/pellumhost/services/feedback_log.h"
#include "reference/pellumhost/protection/activity_judge.h"
#include "reference/pellumhost/protection/file_activity.h"
#include "reference/pellumhost/services/host_configuration.h"
#include "reference/pellumhost/services/host_settings.h"
#include "reference/pellumhost/services/protected_storage.h"

namespace pellumhost {

class FileChangeWatcher;

class ReferenceHostService final : public IHostService {
public:
    // A service with these engine settings, the detector's defaults and no file to watch.
    explicit ReferenceHostService(const HostSettings& settings);
    // A service configured from a file (HostConfiguration::Load, with its overrides).
    explicit ReferenceHostService(HostConfiguration configuration);
    ~ReferenceHostService();
    ReferenceHostService(const ReferenceHostService&) = delete;
    ReferenceHostService& operator=(const ReferenceHostService&) = delete;

    void* QueryHostInterface(uint64_t hostInterfaceId) override;
    void ReleaseHostInterface(void* hostInterface) override;
    uint32_t CallHostInterface(void* hostInterface, uint32_t functionId, void* input,
                               void* output) override;

    // The loaded plug-in through which subscribers are called back (its QueryInterface and
    // CallFunc); null detaches. The exports must outlive the service or be detached first.
    void AttachPlugin(const PluginExports* plugin);

    // Looks at the configuration file every interval while the service lives; a change is
    // read as ReloadConfiguration does.
    void WatchConfiguration(std::chrono::milliseconds interval = std::chrono::seconds(1));
    void StopWatchingConfiguration();
    // Reads the configuration file again: its problems are logged, the detector takes its new
    // thresholds, and the engine settings that changed are sent to the plug-in in a change
    // message (24101, kind 0x40016002). Returns the names of those settings.
    std::vector<std::string> ReloadConfiguration();
    HostConfiguration Configuration() const;

    // Callbacks for a file activity source: an open is delivered to the subscribers of
    // integration events (the plug-in takes its version) and then judged, as is every other
    // action; the processes of an actor flagged are stopped and the actor handed to onFlagged
    // (ActivityJudge::Callbacks).
    FileActivityCallbacks ActivityCallbacks(ActivityJudge::OnFlagged onFlagged);
    // The judge's memory of a file whose content existed when watching started.
    void NoteExisting(const std::string& path) { m_judge.NoteExisting(path); }
    // Judges the actor of processId afresh from now on, once it is rolled back.
    void ForgetFlag(uint32_t processId) { m_judge.ForgetActorOf(processId); }

    EventProcessor& Events() { return m_events; }
    ProtectedStorage& Storage() { return m_storage; }
    FeedbackLog& Feedback() { return m_feedback; }

    // Subscriptions held now (each registration adds one, its unregistration removes it).
    int32_t Registrations() const { return static_cast<int32_t>(m_events.Count()); }
    int32_t ProtectedFolders() const { return static_cast<int32_t>(m_storage.Folders().size()); }

private:
    uint32_t Configuration(uint32_t functionId, const void* input, void* output);
    uint32_t SystemInfo(uint32_t functionId, const void* input, void* output);
    uint32_t CallSubscriber(uint32_t moduleId, uint32_t interfaceId, uint32_t functionId,
                            void* input, void* output);

    mutable std::mutex m_lock;  // m_configuration, m_plugin
    HostConfiguration m_configuration;
    const PluginExports* m_plugin = nullptr;

    ActivityJudge m_judge;

    EventProcessor m_events;
    ProtectedStorage m_storage;
    FeedbackLog m_feedback;
    std::unique_ptr<FileChangeWatcher> m_watcher;
};

}  // namespace pellumhost
