// StartEngine and StopEngine: the engine from nothing to running, and back. Both run on the
// host's life-cycle thread; StopEngine waits for the calls that other threads have under way.
#include <algorithm>

#include "engine/wrapper_diag.h"
#include "engine/zef_engine_wrapper.h"
#include "host/call_records.h"
#include "host/result_codes.h"
#include "platform/module.h"
#include "platform/sleep.h"
#include "host/plugin_interface_class.h"
#include "util/format_w.h"

using engine_diag::kDiag;

namespace {

constexpr uint32_t kDrainStepMs = 50;
constexpr uint32_t kReportPathUnits = 262;

}  // namespace

uint32_t CZefEngineWrapper::StartEngine() {
    if (IsStarted()) return 1;
    if (!LoadEngine()) return 0;
    if (QueryConfiguration() != velk::kSuccess) UseDefaultConfiguration();

    if (m_entries.IsDisabledByPattern(PatternPath.c_str()) != 0) {
        kDiag.Write(util::kDiagTrace, 1122, u"ZEF is disabled according to pattern settings.",
                    DbPath);
        return 1;  // loaded, neither initialised nor started
    }
    if (m_entries.Initialize() != 0) return 0;
    ConfigureEngine();

    char16_t reportPath[kReportPathUnits] = {};
    util::FormatJoinedPath(reportPath, kReportPathUnits - 1, DebugLogPath, u"Report.log");
    m_Logger.Open(static_cast<uint32_t>(DebugLevel), reportPath);  // without it, no reports
    m_Logger.SetHeader(0);

    if (m_entries.Start() != 0) {
        m_entries.Finalize();
        return 0;
    }
    m_state.store(kStartedBit | (Enable.load() ? kEnabledBit : 0));

    const uint32_t added = CallDbProtection(velk::kFnAddDbProtection);
    if (velk::Failed(added)) {
        kDiag.Write(util::kDiagWarning, 1150, u"Failed: AddDBProtection ", DbPath);
    }
    return 1;
}

void CZefEngineWrapper::StopEngine() {
    m_state.store(0);  // both flags in one store: new calls are refused from here on
    // A call counted before it read the flags, the plug-in's export's included, is waited for.
    while (g_nInFlightCalls.Total() > 0) platform::SleepMilliseconds(kDrainStepMs);

    if (m_entries.m_hEngineModule == nullptr) return;
    if (m_nBootResultsSent != 0 && m_entries.RmDeleteDbeResults != nullptr) {
        m_entries.RmDeleteDbeResults();
    }
    // Stop and Finalize run whenever the module is loaded, even if it never started.
    if (m_entries.Stop != nullptr) m_entries.Stop();
    if (m_entries.Finalize != nullptr) m_entries.Finalize();
    m_Logger.Close();
    platform::UnloadModule(m_entries.m_hEngineModule);
    engine_binding::ClearEntryPoints(m_entries);

    const uint32_t removed = CallDbProtection(velk::kFnRemoveDbProtection);
    if (velk::Failed(removed)) {
        kDiag.Write(util::kDiagWarning, 1183, u"Failed: RemoveDBProtection ", DbPath);
    }
}

uint32_t CZefEngineWrapper::CallDbProtection(uint32_t functionId) const {
    std::u16string folder = DbPath;
    if (!folder.empty() && folder.back() == platform::kPathSeparator) folder.pop_back();
    velk::DbProtectionRequest request{1, 3, folder.c_str(),
                                      static_cast<uint32_t>(folder.size()), 1};
    PluginInterfaceClass storage(g_pEngineHost, velk::kStorageModule, velk::kStorageInterface);
    if (!storage.IsValid()) return velk::kNoHostInterface;
    return storage.Call(functionId, &request, nullptr);
}

void CZefEngineWrapper::SetEnabled(bool enabled) {
    // Only a started engine is enabled or disabled: after StopEngine both flags stay clear.
    uint64_t state = m_state.load();
    while ((state & kStartedBit) != 0) {
        const uint64_t wanted = enabled ? (state | kEnabledBit) : (state & ~kEnabledBit);
        if (m_state.compare_exchange_weak(state, wanted)) return;
    }
}
