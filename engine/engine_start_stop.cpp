// StartEngine and StopEngine: the engine from nothing to running, and back. Both run on the
// host's life-cycle thread; StopEngine waits for the calls that other threads have under way.
#include "engine/wrapper_diag.h"
#include "engine/zef_engine_wrapper.h"
#include "platform/sleep.h"

using engine_diag::kDiag;

namespace {

constexpr uint32_t kDrainStepMs = 50;

}  // namespace

uint32_t CZefEngineWrapper::StartEngine() {
    if (IsStarted()) return 1;
    if (!LoadEngine()) return 0;

    if (m_entries.IsDisabledByPattern(PatternPath.c_str()) != 0) {
        kDiag.Write(util::kDiagTrace, 1122, u"ZEF is disabled according to pattern settings.",
                    DbPath);
        return 1;  // loaded, neither initialised nor started
    }
    if (m_entries.Initialize() != 0) return 0;
    if (m_entries.Start() != 0) {
        m_entries.Finalize();
        return 0;
    }
    m_state.store(kStartedBit | (Enable ? kEnabledBit : 0));
    return 1;
}

void CZefEngineWrapper::StopEngine() {
    m_state.store(0);  // new calls are refused from here on
    while (m_nInFlightCalls.load() > 0) platform::SleepMilliseconds(kDrainStepMs);
    m_nInFlightCalls.store(0);

    if (m_entries.m_hEngineModule == nullptr) return;
    if (m_nBootResultsSent != 0 && m_entries.RmDeleteDbeResults != nullptr) {
        m_entries.RmDeleteDbeResults();
    }
    // Stop and Finalize run whenever the module is loaded, even if it never started.
    if (m_entries.Stop != nullptr) m_entries.Stop();
    if (m_entries.Finalize != nullptr) m_entries.Finalize();
    platform::UnloadModule(m_entries.m_hEngineModule);
    engine_binding::ClearEntryPoints(m_entries);
}
