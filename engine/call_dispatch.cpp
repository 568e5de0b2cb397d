// CallFunc: every host call counted while under way, refused unless the engine is started,
// then dispatched by function id (group A whenever started, group B only while enabled).
#include "engine/zef_engine_wrapper.h"
#include "host/result_codes.h"

uint32_t CZefEngineWrapper::CallFunc(uint32_t /*functionId*/, void* /*input*/, void* /*output*/) {
    uint32_t result = velk::kZefNotRunning;
    m_nInFlightCalls.fetch_add(1);
    if (IsStarted()) {
        // No group A handler is served yet: every id falls through to group B.
        result = velk::kBadArgument;
        if (IsEnabled()) result = velk::kNotHandled;  // no group B handler is served yet
    }
    m_nInFlightCalls.fetch_sub(1);
    return result;
}
