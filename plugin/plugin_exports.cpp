// The ten exports through which the host loads, starts, calls and stops the plug-in. No
// exception leaves an export: each one answers a result code whatever happens inside.
#include <new>

#include "engine/zef_engine_wrapper.h"
#include "host/common_plugin_interface.h"
#include "host/module_export.h"
#include "host/result_codes.h"
#include "platform/module.h"
#include "platform/module_trust.h"
#include "platform/sleep.h"
#include "plugin/engine_location.h"
#include "plugin/event_registration.h"
#include "plugin/host_notifications.h"
#include "plugin/module_state.h"
#include "plugin/plugin_exports.h"
#include "plugin/plugin_diag.h"
#include "util/admission_delay.h"

#if !defined(PEZ_ACCEPT_UNSIGNED_ENGINE)
#error "the build must say whether an unsigned engine is accepted (test builds only)"
#endif
#if !defined(PEZ_CALL_DELAY_MS)
#define PEZ_CALL_DELAY_MS 0  // a test build may hold calls between the running test and the call
#endif

namespace {

using plugin_diag::kDiag;
constexpr bool kAcceptUnsignedEngine = PEZ_ACCEPT_UNSIGNED_ENGINE != 0;

constexpr uint32_t kDrainStepMs = 50;

// The running flag is cleared first, so that calls are refused before anything is torn down.
// A call that passed the running test just before may still be on its way into the wrapper:
// it counted itself in g_nInFlightCalls before it read the flag again, and StopEngine, after
// clearing the wrapper's started flag, and this shut-down, after clearing the running flag, both
// wait for that count, so the call either sees a cleared flag or is waited for. A notification
// that passed the test may be asking the engine about its pattern: the engine is stopped and
// unloaded only once none is left. Run from inside a call of the plug-in (a host callback), the
// shut-down would wait for itself: it only refuses new calls, and the first call to leave the
// plug-in with nothing else of its thread inside finishes it.
void ShutdownEngine() {
    g_nRunning.exchange(0);
    if (g_pEngineWrapper == nullptr) return;
    if (g_nInFlightCalls.CalledFromInside() || g_nNotificationsInExport.CalledFromInside()) {
        g_nShutdownPending.store(1);
        kDiag.Write(util::kDiagWarning, 451,
                    u"Plugin_Interface_PreUninitialize inside a call: the engine stops when the "
                    u"call returns.");
        return;
    }
    g_nShutdownPending.store(0);
    plugin_events::UnsubscribeEvents(g_pHostService);
    plugin_events::RegisterEventProcessor(g_pHostService, false);
    while (g_nNotificationsInExport.Total() > 0) platform::SleepMilliseconds(kDrainStepMs);
    g_pEngineWrapper->StopEngine();
    // Calls given another interface than the wrapper are counted too: none is left inside.
    while (g_nInFlightCalls.Total() > 0) platform::SleepMilliseconds(kDrainStepMs);
    g_pEngineWrapper->DeletingDestructor(1);
    g_pEngineWrapper = nullptr;
}

// The end of a shut-down asked for from inside a call, once the thread is out of every call.
[[gnu::noinline, gnu::cold]] void FinishPendingShutdown() {
    if (g_nInFlightCalls.CalledFromInside() || g_nNotificationsInExport.CalledFromInside()) return;
    if (g_nShutdownPending.exchange(0) != 0 && g_pEngineWrapper != nullptr) ShutdownEngine();
}

// The refusals of Plugin_Interface_CallFunc, kept out of its way: the diagnostic line's
// buffers would otherwise make every admitted call set up their stack frame.
[[gnu::noinline, gnu::cold]] uint32_t RefuseNullInterface() {
    kDiag.Write(util::kDiagWarning, 669, u"Null interface.");
    return velk::kBadArgument;
}
[[gnu::noinline, gnu::cold]] uint32_t RefuseNotRunning() {
    kDiag.Write(util::kDiagWarning, 674, u"ZEF is not running.");
    return velk::kZefNotRunning;
}

// Plugin_Interface_CallFunc while running: false when refused. Counted before the running flag
// is read again (see ShutdownEngine); calls refused at the first read never touch the count and
// cannot hold shut-down up. A call given the plug-in's own wrapper is counted once, here: the
// wrapper's started test comes after this count too, which StopEngine waits for. The wrapper
// pointer is read only after the second read found the plug-in running, when shut-down cannot
// have deleted it.
[[gnu::always_inline]] inline bool CallWhileRunning(ICommonPluginInterface* pluginInterface,
                                                    uint32_t functionId, void* input,
                                                    void* output, uint32_t& result) {
    if (g_nRunning.load() != 1) return false;
    util::HoldBeforeTheCount<PEZ_EXPORT_ADMISSION_DELAY_US>();  // test builds only
    const util::CountedCall counted(g_nInFlightCalls);
    if (g_nRunning.load() != 1) return false;
    if (PEZ_CALL_DELAY_MS != 0) platform::SleepMilliseconds(PEZ_CALL_DELAY_MS);
    // The interface given is the one called, not necessarily the plug-in's wrapper.
    result = pluginInterface == g_pEngineWrapper
                 ? g_pEngineWrapper->CallFuncCounted(functionId, input, output)
                 : pluginInterface->CallFunc(functionId, input, output);
    return true;
}

uint32_t Initialize(IHostService* hostService) {
    kDiag.Enter(379, u"Plugin_Interface_Initialize");
    g_pHostService = hostService;  // stored also when the call is refused below
    if (g_pEngineWrapper != nullptr) {
        kDiag.Write(util::kDiagWarning, 386, u"Duplicated initialization attempt");
        return velk::kDuplicatedInitialization;
    }

    char16_t ownPath[plugin::kPathUnits] = {};
    char16_t enginePath[plugin::kPathUnits] = {};
    platform::OwnModuleFileName(ownPath, plugin::kPathUnits);
    if (!plugin::BuildEnginePath(ownPath, enginePath)) {
        kDiag.Write(util::kDiagError, 395, u"Fail to access ZEF dll");
        return velk::kEngineUnavailable;
    }
    if (!platform::IsModuleTrusted(enginePath, kAcceptUnsignedEngine)) {
        kDiag.Write(util::kDiagError, 409, u"Failed to verify ZEF engine: ",
                    static_cast<const char16_t*>(enginePath));
        return velk::kEngineUntrusted;
    }
    kDiag.Leave(414, u"Plugin_Interface_Initialize");

    g_pEngineWrapper = new (std::nothrow) CZefEngineWrapper(enginePath, hostService);
    if (g_pEngineWrapper == nullptr) {
        kDiag.Write(util::kDiagError, 140, u"Fail to create ZEF engine instance");
        return velk::kEngineUnavailable;
    }
    return velk::kSuccess;
}

uint32_t PostInitialize() {
    kDiag.Enter(423, u"Plugin_Interface_PostInitialize");
    if (g_pEngineWrapper != nullptr && g_pEngineWrapper->StartEngine() != 0) {
        plugin_events::SubscribeEventManager(g_pHostService);
        plugin_events::SubscribeIntegrationEvents(g_pHostService);
        plugin_events::RegisterEventProcessor(g_pHostService, true);
        g_nRunning.exchange(1);
        kDiag.Leave(434, u"Plugin_Interface_PostInitialize");
        return velk::kSuccess;
    }
    kDiag.Write(util::kDiagError, 346, u"Fail to Start ZEF engine");
    kDiag.Write(util::kDiagError, 429, u"Fail to start ZEF");
    return velk::kEngineUnavailable;
}

}  // namespace

extern "C" {

PEZ_EXPORT uint32_t Plugin_Interface_Initialize(IHostService* hostService) noexcept {
    try {
        return Initialize(hostService);
    } catch (...) {
        return velk::kEngineUnavailable;
    }
}

PEZ_EXPORT uint32_t Plugin_Interface_PostInitialize() noexcept {
    try {
        return PostInitialize();
    } catch (...) {
        return velk::kEngineUnavailable;
    }
}

PEZ_EXPORT uint32_t Plugin_Interface_PreUninitialize() noexcept {
    try {
        kDiag.Enter(442, u"Plugin_Interface_PreUninitialize");
        if (g_pEngineWrapper != nullptr) ShutdownEngine();
        kDiag.Leave(449, u"Plugin_Interface_PreUninitialize");
    } catch (...) {
    }
    return velk::kSuccess;
}

PEZ_EXPORT uint32_t Plugin_Interface_Uninitialize() noexcept { return velk::kSuccess; }

PEZ_EXPORT ICommonPluginInterface* Plugin_Interface_QueryInterface(uint32_t interfaceId) noexcept {
    if (interfaceId != kPluginInterfaceId) return nullptr;
    try {
        const util::CountedCall counted(g_nNotificationsInExport);  // before the running test
        if (g_nRunning.load() == 1 && g_pEngineWrapper != nullptr &&
            g_pEngineWrapper->IsEngineStarted() != 0) {
            return g_pEngineWrapper;
        }
        kDiag.Write(util::kDiagTrace, 475, u"Return  NULL interface.");
    } catch (...) {
    }
    return nullptr;
}

PEZ_EXPORT uint32_t Plugin_Interface_CallFunc(ICommonPluginInterface* pluginInterface,
                                              uint32_t functionId, void* input,
                                              void* output) noexcept {
    try {
        if (pluginInterface == nullptr) return RefuseNullInterface();
        uint32_t result = 0;
        if (!CallWhileRunning(pluginInterface, functionId, input, output, result)) {
            return RefuseNotRunning();
        }
        if (g_nShutdownPending.load(std::memory_order_relaxed) != 0) FinishPendingShutdown();
        return result;
    } catch (...) {
        return velk::kNotDone;
    }
}

PEZ_EXPORT uint32_t Plugin_Interface_OnNotify(int32_t notificationId, void* input,
                                              void* output) noexcept {
    try {
        uint32_t result = 0;
        {
            // Counted before any running test inside, as QueryInterface is: see ShutdownEngine.
            const util::CountedCall counted(g_nNotificationsInExport);
            result = plugin_notifications::HandleNotification(notificationId, input, output);
        }
        if (g_nShutdownPending.load(std::memory_order_relaxed) != 0) FinishPendingShutdown();
        return result;
    } catch (...) {
        return velk::kNotDone;
    }
}

PEZ_EXPORT uint32_t Plugin_Interface_GetModuleID() noexcept { return kPluginModuleId; }

PEZ_EXPORT void Plugin_Interface_GetModuleVersion(ModuleVersion* version) noexcept {
    if (version != nullptr) *version = ModuleVersion{2, 0, 1045, 0};
}

PEZ_EXPORT void Plugin_Interface_Release(void* /*anything*/) noexcept {}

}  // extern "C"
