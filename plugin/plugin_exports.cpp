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
// the wrapper is deleted only once no call is left inside the export. A notification that
// passed the test may be asking the engine about its pattern: the engine is stopped and
// unloaded only once none is left.
void ShutdownEngine() {
    g_nRunning.exchange(0);
    if (g_pEngineWrapper == nullptr) return;
    plugin_events::UnsubscribeEvents(g_pHostService);
    plugin_events::RegisterEventProcessor(g_pHostService, false);
    while (g_nNotificationsInExport.Total() > 0) platform::SleepMilliseconds(kDrainStepMs);
    g_pEngineWrapper->StopEngine();
    while (g_nCallsInExport.Total() > 0) platform::SleepMilliseconds(kDrainStepMs);
    g_pEngineWrapper->DeletingDestructor(1);
    g_pEngineWrapper = nullptr;
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
        if (g_nRunning.load() == 1) {
            util::HoldBeforeTheCount<PEZ_EXPORT_ADMISSION_DELAY_US>();  // test builds only
            // Counted before the running flag is read again: shut-down clears the flag and then
            // waits for the count, so a call that still reads 1 is waited for. Calls refused at
            // the first read never touch the count and cannot hold shut-down up.
            const util::CountedCall counted(g_nCallsInExport);
            if (g_nRunning.load() == 1) {
                if (PEZ_CALL_DELAY_MS != 0) platform::SleepMilliseconds(PEZ_CALL_DELAY_MS);
                // The interface given is the one called, not necessarily the plug-in's wrapper.
                return pluginInterface->CallFunc(functionId, input, output);
            }
        }
        return RefuseNotRunning();
    } catch (...) {
        return velk::kNotDone;
    }
}

PEZ_EXPORT uint32_t Plugin_Interface_OnNotify(int32_t notificationId, void* input,
                                              void* output) noexcept {
    try {
        // Counted before any running test inside, as QueryInterface is: see ShutdownEngine.
        const util::CountedCall counted(g_nNotificationsInExport);
        return plugin_notifications::HandleNotification(notificationId, input, output);
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
