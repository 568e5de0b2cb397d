// The plug-in module's global state. g_pHostService and g_pEngineWrapper are written only by
// initialisation and shut-down, which the host never runs during calls; g_nRunning is the
// one word that changes while calls run, always by atomic exchange.
#pragma once
#include <atomic>
#include <cstdint>

#include "util/striped_counter.h"

class IHostService;
class CZefEngineWrapper;

extern IHostService* g_pHostService;
extern CZefEngineWrapper* g_pEngineWrapper;
extern std::atomic<int32_t> g_nRunning;
// (Calls inside Plugin_Interface_CallFunc are counted in the wrappers' g_nInFlightCalls, which
// outlives the wrapper, before the running flag is tested again.)

// Calls inside Plugin_Interface_OnNotify and Plugin_Interface_QueryInterface, counted before they
// read the running flag: notification 4116 asks the engine about its pattern and 4118 reads the
// wrapper, so shut-down waits for them before it stops the engine and deletes the wrapper.
extern util::StripedCounter g_nNotificationsInExport;
// 1 when Plugin_Interface_PreUninitialize came from inside a call of the plug-in (a host
// callback of a walk or restore): the shut-down is left to the first call that leaves the
// plug-in while the thread has no other call inside it.
extern std::atomic<int32_t> g_nShutdownPending;
