// The event processor's subscriptions, read from the registration records, and deliveries.
#include "reference/pellumhost/services/event_processor.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "host/call_records.h"
#include "host/message_object.h"
#include "host/result_codes.h"
#include "host/velk_data_handle_wrapper.h"
#include "reference/pellumhost/host_log.h"

namespace pellumhost {
namespace {

constexpr uint32_t kSubscriptionRecord = 0x10030;
constexpr uint32_t kEventIdField = 0x2070E;
constexpr uint32_t kFilterField = 0x20710;
constexpr uint32_t kModuleField = 0x207D1;
constexpr uint32_t kInterfaceField = 0x207D2;
constexpr uint32_t kMaxFilterBytes = 4096;

bool ReadSubscription(const void* input, Subscription& read) {
    if (input == nullptr) return false;
    const VELK_DataHandleWrapper request(static_cast<const HostMessageLayout*>(input)->handle);
    VELK_DataHandleWrapper nested(kSubscriptionRecord, false);
    int32_t value = 0;
    if (static_cast<int32_t>(request.ReadDataAt(kSubscriptionRecord, 0, nested)) < 0 ||
        static_cast<int32_t>(nested.GetInt32At(kEventIdField, value)) < 0)
        return false;
    read.eventClass = static_cast<uint32_t>(value);
    std::vector<uint8_t> filter(kMaxFilterBytes);
    uint32_t size = kMaxFilterBytes;
    if (static_cast<int32_t>(nested.GetBinaryAt(kFilterField, filter.data(), size)) >= 0) {
        filter.resize(std::min(size, kMaxFilterBytes));
        read.filter = std::move(filter);
    }
    uint32_t count = 0;
    request.GetSizeOf(kEventIdField, count);
    for (uint32_t i = 0; i < count; ++i) {
        if (static_cast<int32_t>(VELK_Msg_GetInt32At(request.Handle(), kEventIdField, i, &value)) >= 0)
            read.eventIds.push_back(static_cast<uint32_t>(value));
    }
    int32_t module = 0, interfaceId = 0;
    if (static_cast<int32_t>(request.GetInt32At(kModuleField, module)) < 0 ||
        static_cast<int32_t>(request.GetInt32At(kInterfaceField, interfaceId)) < 0)
        return false;
    read.moduleId = static_cast<uint32_t>(module);
    read.interfaceId = static_cast<uint32_t>(interfaceId);
    return true;
}

bool SameSubscription(const Subscription& a, const Subscription& b) {
    return a.eventClass == b.eventClass && a.moduleId == b.moduleId &&
           a.interfaceId == b.interfaceId && a.eventIds == b.eventIds;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

std::string DescribeSubscription(const Subscription& subscription) {
    std::string text = "class " + Hex(subscription.eventClass);
    if (!subscription.eventIds.empty()) {
        text += " and events";
        for (uint32_t id : subscription.eventIds) text += " " + Hex(id);
    }
    return text + " for " + std::to_string(subscription.moduleId) + "/" +
           std::to_string(subscription.interfaceId) + " (filter of " +
           std::to_string(subscription.filter.size()) + " bytes)";
}

uint32_t EventProcessor::Register(const void* input) {
    Subscription read;
    if (!ReadSubscription(input, read)) {
        HostLog(3, __LINE__, "event processor: a registration without its subscription record "
                             "or subscriber was refused");
        return velk::kBadArgument;
    }
    HostLog(2, __LINE__, "event processor: registered " + DescribeSubscription(read));
    std::lock_guard<std::mutex> guard(m_lock);
    m_subscriptions.push_back(std::move(read));
    return velk::kSuccess;
}

uint32_t EventProcessor::Unregister(const void* input) {
    Subscription read;
    if (!ReadSubscription(input, read)) {
        HostLog(3, __LINE__, "event processor: an unregistration without its subscription "
                             "record or subscriber was refused");
        return velk::kBadArgument;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                                    [&](const Subscription& s) { return SameSubscription(s, read); });
    if (found == m_subscriptions.end()) {
        HostLog(3, __LINE__, "event processor: nothing to unregister for " +
                                 DescribeSubscription(read));
        return velk::kNotDone;
    }
    m_subscriptions.erase(found);
    HostLog(2, __LINE__, "event processor: unregistered " + DescribeSubscription(read));
    return velk::kSuccess;
}

std::vector<Subscription> EventProcessor::Subscriptions() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_subscriptions;
}

size_t EventProcessor::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_subscriptions.size();
}

void EventProcessor::SetDelivery(SubscriberCall call) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_call = std::move(call);
}

std::vector<Subscription> EventProcessor::Matching(
    const std::function<bool(const Subscription&)>& wanted, SubscriberCall& call) const {
    std::lock_guard<std::mutex> guard(m_lock);
    call = m_call;
    std::vector<Subscription> matching;
    for (const Subscription& s : m_subscriptions)
        if (wanted(s)) matching.push_back(s);
    return matching;
}

size_t EventProcessor::DeliverRequest(uint32_t kind, void* request) {
    SubscriberCall call;
    const std::vector<Subscription> to = Matching(
        [kind](const Subscription& s) {
            return std::find(s.eventIds.begin(), s.eventIds.end(), kind) != s.eventIds.end();
        },
        call);
    if (to.empty() || !call) {
        HostLog(3, __LINE__, "event processor: no subscriber for " + Hex(kind) + "; not delivered");
        return 0;
    }
    for (const Subscription& s : to) {
        const uint32_t result = call(s.moduleId, s.interfaceId, velk::kFnHostRequest1, request, nullptr);
        HostLog(2, __LINE__, "event processor: " + Hex(kind) + " delivered to " +
                                 std::to_string(s.moduleId) + "/" + std::to_string(s.interfaceId) +
                                 ", result " + Hex(result));
    }
    return to.size();
}

size_t EventProcessor::DeliverEvent(uint32_t eventClass, const void* eventData) {
    SubscriberCall call;
    const std::vector<Subscription> to =
        Matching([eventClass](const Subscription& s) { return s.eventClass == eventClass; }, call);
    if (to.empty() || !call) return 0;
    auto record = std::make_unique<velk::EventRecord>();  // large; never on a worker's stack
    record->eventId = eventClass;
    record->eventData = eventData;
    for (const Subscription& s : to) {
        uint32_t response = 0;  // the answer to a process event
        const uint32_t result =
            call(s.moduleId, s.interfaceId, velk::kFnForwardEvent, record.get(), &response);
        if (static_cast<int32_t>(result) < 0)
            HostLog(3, __LINE__, "event processor: event " + Hex(eventClass) + " refused by " +
                                     std::to_string(s.moduleId) + ", result " + Hex(result));
    }
    return to.size();
}

}  // namespace pellumhost
