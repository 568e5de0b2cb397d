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
// Calls inside Plugin_Interface_CallFunc, counted before the running flag is tested, so that
// shut-down can wait for a call that passed the test before it deletes the wrapper.
extern util::StripedCounter g_nCallsInExport;
// Calls inside Plugin_Interface_OnNotify and Plugin_Interface_QueryInterface, counted before they
// read the running flag: notification 4116 asks the engine about its pattern and 4118 reads the
// wrapper, so shut-down waits for them before it stops the engine and deletes the wrapper.
extern util::StripedCounter g_nNotificationsInExport;
