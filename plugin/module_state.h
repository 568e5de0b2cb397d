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
