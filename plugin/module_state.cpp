// The plug-in module's global state.
#include "plugin/module_state.h"

IHostService* g_pHostService = nullptr;
CZefEngineWrapper* g_pEngineWrapper = nullptr;
std::atomic<int32_t> g_nRunning{0};
util::StripedCounter g_nNotificationsInExport;
std::atomic<int32_t> g_nShutdownPending{0};
