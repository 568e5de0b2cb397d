// CZefEngineWrapper: the one object that owns the loaded engine and serves every host call.
// The host holds it as ICommonPluginInterface. Construction, LoadEngine, StartEngine,
// StopEngine and destruction run on the host's life-cycle thread, never during calls;
// CallFunc runs on any host thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "engine/engine_entry_points.h"
#include "engine_api/zef_records.h"
#include "host/call_records.h"
#include "host/common_plugin_interface.h"
#include "util/logger.h"
#include "util/striped_counter.h"

class IHostService;
namespace velk {
struct EventRecord;
struct ProcessEventRecord;
}  // namespace velk

// The host service object that every host interface of the wrapper is opened on. Set by the
// wrapper's constructor; the same value as the plug-in boundary's own host pointer.
extern IHostService* g_pEngineHost;

// Calls under way in the wrappers of the module, counted before the started flag is read, so
// that StopEngine can wait for them. One count for the module that outlives every wrapper: the
// plug-in's CallFunc export counts a call here once, and a call given the plug-in's own wrapper
// goes on through CallFuncCounted without a second count.
extern util::StripedCounter g_nInFlightCalls;

class CZefEngineWrapper final : public ICommonPluginInterface {
public:
    static constexpr uint32_t kEnginePathUnits = 260;

    // A path of 260 units or more is not kept, so that the engine load fails later. Report.log's
    // file calls and clock may be replaced (tests do).
    CZefEngineWrapper(const char16_t* enginePath, IHostService* hostService,
                      const platform::FileOps& reportFiles = platform::SystemFileOps(),
                      util::CLogger::TickSource reportTicks = platform::TickCount);
    CZefEngineWrapper(const CZefEngineWrapper&) = delete;
    CZefEngineWrapper& operator=(const CZefEngineWrapper&) = delete;

    // Slot 0: destroys the wrapper, and frees it when bit 0 of flags is set. Calls no engine
    // function: StopEngine has unloaded the engine before.
    void* DeletingDestructor(uint32_t flags) override;
    uint32_t GetModuleID() override;
    uint32_t GetInterfaceID() override;
    void GetModuleVersion(ModuleVersion* version) override;
    uint32_t CallFunc(uint32_t functionId, void* input, void* output) override;
    // Slot 4 for a caller that has itself counted in g_nInFlightCalls and holds the count until
    // this returns: the started test and the dispatch, without a second count.
    uint32_t CallFuncCounted(uint32_t functionId, void* input, void* output);

    // Loads the engine module and resolves its entry points; false when the module cannot be
    // loaded or a required entry point is missing (the module then stays loaded).
    bool LoadEngine();
    // 1 when the plug-in may go on (started, or disabled by the pattern), 0 on failure.
    uint32_t StartEngine();
    // Refuses new calls, waits for calls under way, stops and unloads the engine. Never from
    // inside a call (it would wait for itself): the plug-in's shut-down sees to that.
    void StopEngine();

    uint32_t IsEngineStarted() const { return IsStarted() ? 1u : 0u; }
    // True before the engine started; afterwards whether the engine finds its pattern valid.
    bool IsPatternUsable() const;

    const char16_t* EnginePath() const { return m_szEnginePath; }
    const EngineEntryPoints& EntryPoints() const { return m_entries; }

    // Configuration: the thirteen settings from the host's configuration service, their
    // built-in defaults, the hand-over to the engine, and changes while running.
    uint32_t QueryConfiguration();
    void UseDefaultConfiguration();
    void SetDefaultDbPath();
    void SetDefaultDebugLogPath();
    void SetDefaultPatternPath();
    void ConfigureEngine();
    uint32_t OnConfigurationChanged(const void* request, void* response);

    // The settings as they stand (for diagnostics and tests).
    struct Settings {
        int32_t debugLevel;
        int32_t dbSize;
        std::u16string dbPath;
        std::u16string patternPath;
        std::u16string debugLogPath;
        int32_t feedbackSwitch;
        int32_t historyKeepDays;
        int32_t securityLevel;
        bool enable;
        uint32_t workMode;
        uint32_t perProcessBackupQuota;
        uint32_t maxBackupFileSize;
        uint32_t maxBackupFileSizePidMode;
    };
    Settings CurrentSettings() const;
    bool IsEnabled() const { return (m_state.load() & kEnabledBit) != 0; }

private:
    ~CZefEngineWrapper();  // through DeletingDestructor only

    // m_nStarted and m_nEnabled share one atomic word, so that stop clears both in one store.
    static constexpr uint64_t kStartedBit = 1;
    static constexpr uint64_t kEnabledBit = uint64_t{1} << 32;
    bool IsStarted() const { return (m_state.load() & kStartedBit) != 0; }
    void SetEnabled(bool enabled);

    // The engine module's folder: the engine path cut at its last separator.
    std::u16string EngineFolder() const;
    void SetDefaultPath(std::u16string& member, const char16_t* leaf) const;
    // The database folder as protected: DbPath without one trailing separator.
    uint32_t CallDbProtection(uint32_t functionId) const;

    // Call handlers (group A whenever started, group B while also enabled).
    static bool IsGroupA(uint32_t functionId) {
        return functionId == velk::kFnQueryPatternPolicies || functionId == velk::kFnHostRequest1 ||
               functionId == velk::kFnHostRequest2 || functionId == velk::kFnHostRequest3;
    }
    // Only for the ids of group A.
    uint32_t DispatchGroupA(uint32_t functionId, void* input, void* output);
    uint32_t DispatchGroupB(uint32_t functionId, void* input, void* output);
    uint32_t ListBackupFiles(const void* input, bool inRange);
    uint32_t QueryPatternPolicies(const void* input, void* output);
    // 24105: host events to the engine (event_forwarding.cpp).
    uint32_t ForwardEvent(const velk::EventRecord* request, uint32_t* response);
    uint32_t ForwardProcessEvent(const velk::ProcessEventRecord& event, uint32_t* response);
    uint32_t ForwardEventMessage(void* eventData);

    // Versions and restores: each handler checks its own input and answers 0xE0FF0007 for a
    // null request, callback or path before it calls the engine.
    uint32_t EnumFileVersions(const void* input);     // 0x23600003
    uint32_t EnumFileVersionInfo(const void* input);  // 0x23600007
    uint32_t EnumProcessVersions(const void* input);  // 0x2360000D
    uint32_t RestoreFile(const void* input, void* output);     // 0x23600001
    uint32_t RestoreEdition(const void* input, void* output);  // 0x23600005
    // The end of every restore: Result, Reboot and TimeConsumed into the report, its summary
    // into Report.log, then the restore feedback.
    void FinishRestore(zef::RestoreReport& report, uint32_t result, uint32_t reboot,
                       uint32_t startTick);
    // The restore report to the host's feedback service, when FeedbackSwitch is above 0.
    void PostRestoreFeedback(const zef::RestoreReport* report) const;
    // 24101 to 24103 with kind 0x1000200D: the engine's boot results to the host.
    uint32_t SendBootResults(const void* request, void* response);

    EngineEntryPoints m_entries;
    std::atomic<uint64_t> m_state{0};  // m_nStarted (low word), m_nEnabled (high word)
    char16_t m_szEnginePath[kEnginePathUnits] = {};
    std::atomic<uint32_t> m_nBootResultsSent{0};  // boot results went to the host

    // Engine settings, with the constructor's values; the host's configuration settles them
    // at start. The five that a configuration change may set while calls run are atomic.
    int32_t DebugLevel = 0;
    std::atomic<int32_t> DbSize{1024};
    std::u16string DbPath;
    std::u16string PatternPath;
    std::u16string DebugLogPath;
    int32_t FeedbackSwitch = 0;
    int32_t HistoryKeepDays = 0;
    int32_t SecurityLevel = 0;
    std::atomic<bool> Enable{true};
    std::atomic<uint32_t> WorkMode{1};
    std::atomic<uint32_t> PerProcessBackupQuota{6};
    std::atomic<uint32_t> MaxBackupFileSize{0};
    std::atomic<uint32_t> MaxBackupFileSizePidMode{0};
    util::CLogger m_Logger;  // Report.log
};

namespace engine_callbacks {

// Setting 13: the image path of a process, from the host's system-information service.
uint32_t GetImagePathByUtilSysInfo(uint32_t processId, std::u16string* imagePath);

// Setting 12: backup file data read through the host, refused for cloud files.
uint32_t ReadBackupFileData(const uint8_t* fileKey, uint32_t keyLength, const void* file,
                            void* buffer, uint64_t reserved, uint32_t a, uint32_t b, uint32_t c,
                            uint32_t* bytesRead);

}  // namespace engine_callbacks
