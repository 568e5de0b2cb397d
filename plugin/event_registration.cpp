// Event registration requests: an anonymous record holding the subscription (event class,
// kind 2, filter block), the extra event ids of the event-manager subscription, and the
// plug-in's identity, sent with 0x5E23 to register and 0x5E24 to unregister.
#include "plugin/event_registration.h"

#include <cstdint>
#include <vector>

#include "host/call_records.h"
#include "host/common_plugin_interface.h"
#include "host/result_codes.h"
#include "host/plugin_interface_class.h"
#include "host/velk_data_handle_wrapper.h"
#include "plugin/plugin_diag.h"

namespace plugin_events {
namespace {

using plugin_diag::kDiag;

constexpr uint32_t kSubscription = 0x10030;
constexpr uint32_t kEventId = 0x2070E;
constexpr uint32_t kFilter = 0x20710;
constexpr uint32_t kSubscriptionKind = 0x20711;
constexpr uint32_t kSubscriberModule = 0x207D1;
constexpr uint32_t kSubscriberInterface = 0x207D2;

// The filter blocks are the host's formats, sent word for word (little-endian).
constexpr uint32_t kEventManagerFilter[18] = {1, 0x00FFFFFF, 46, 0, 48, 0, 0, 0, 3, 0x00FFFFFF,
                                              49, 0x00FFFFFF, 47, 0x00FFFFFF, 115, 0, 116,
                                              0x00FFFFFF};
constexpr uint32_t kIntegrationFilter[12] = {48, 32, 19, 1, 0, 0, 0, 0, 1, 0, 0, 0};
constexpr uint32_t kEventProcessorFilter[2] = {27, 0x0000FFFF};

struct Subscription {
    int32_t eventClass;
    const uint32_t* filter;
    uint32_t filterWords;
    bool withDeliveredEvents;
};
constexpr Subscription kEventManager{0x10002004, kEventManagerFilter, 18, true};
constexpr Subscription kIntegration{0x10002016, kIntegrationFilter, 12, false};
constexpr Subscription kEventProcessor{0x10002001, kEventProcessorFilter, 2, false};

void BuildRequest(const Subscription& subscription, VELK_DataHandleWrapper& request) {
    uint8_t filter[18 * 4];
    for (uint32_t i = 0; i < subscription.filterWords; ++i) {
        for (uint32_t b = 0; b < 4; ++b) {
            filter[4 * i + b] = static_cast<uint8_t>(subscription.filter[i] >> (8 * b));
        }
    }
    VELK_DataHandleWrapper nested(kSubscription, true);
    nested.PutInt32(kEventId, subscription.eventClass);
    nested.PutInt32(kSubscriptionKind, 2);
    nested.PutBinary(kFilter, filter, subscription.filterWords * 4);
    request.PutData(nested);
    if (subscription.withDeliveredEvents) {
        request.PutInt32(kEventId, static_cast<int32_t>(velk::kKindBootResults));
        request.PutInt32(kEventId, static_cast<int32_t>(velk::kKindConfigurationChanged));
    }
    request.PutInt32(kSubscriberModule, static_cast<int32_t>(kPluginModuleId));
    request.PutInt32(kSubscriberInterface, static_cast<int32_t>(kPluginInterfaceId));
}

// Sends one request; false when the event processor is not there.
bool Send(IHostService* host, const Subscription& subscription, uint32_t functionId,
          uint32_t& result) {
    VELK_DataHandleWrapper request;
    BuildRequest(subscription, request);
    PluginInterfaceClass processor(host, velk::kEventProcessorModule, velk::kEventProcessorInterface);
    if (!processor.IsValid()) return false;
    result = processor.Call(functionId, &request, nullptr);
    return true;
}

}  // namespace

uint32_t SubscribeEventManager(IHostService* host) {
    uint32_t result = velk::kSuccess;
    if (!Send(host, kEventManager, velk::kFnRegisterEvents, result)) {
        kDiag.Write(util::kDiagError, 287, u"Event manager is not ready");
        return velk::kSuccess;
    }
    return result;
}

uint32_t SubscribeIntegrationEvents(IHostService* host) {
    uint32_t result = velk::kNotDone;
    if (!Send(host, kIntegration, velk::kFnRegisterEvents, result)) {
        kDiag.Write(util::kDiagError, 217, u"Integration Event manager is not ready");
        return velk::kNotDone;
    }
    return result;
}

uint32_t RegisterEventProcessor(IHostService* host, bool registering) {
    uint32_t result = velk::kNotDone;
    const uint32_t functionId = velk::kFnRegisterEvents + (registering ? 0 : 1);
    if (!Send(host, kEventProcessor, functionId, result)) {
        kDiag.Write(util::kDiagError, 181, u"ID_INTERFACE_EVENT_PROCESSOR is not ready");
        return velk::kNotDone;
    }
    kDiag.Write(util::kDiagTrace, 177, registering ? u"register" : u"unregister",
                u" event, result: ", result);
    return result;
}

void UnsubscribeEvents(IHostService* host) {
    uint32_t ignored = 0;
    Send(host, kEventManager, velk::kFnUnregisterEvents, ignored);
    Send(host, kIntegration, velk::kFnUnregisterEvents, ignored);
}

}  // namespace plugin_events
