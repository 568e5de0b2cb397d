// The host's event processor (3, 31): who subscribed to which events, and the delivery of
// events to them. A subscription (0x5E23) names an event class, optionally further event ids,
// and the subscriber's (module id, interface id); unsubscribing (0x5E24) removes the matching
// one. Delivery calls the subscriber back through CallFunc: request kinds (0x1000200D boot
// results, 0x40016002 configuration changed) with function 24101, system events of a class
// with 24105. Safe from any thread; no lock is held while a subscriber runs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace pellumhost {

struct Subscription {
    uint32_t eventClass = 0;            // of the nested subscription record
    std::vector<uint32_t> eventIds;     // further events delivered to the subscriber
    uint32_t moduleId = 0, interfaceId = 0;
    std::vector<uint8_t> filter;        // the subscription's filter block, kept as sent
};

// Reaches a subscriber: CallFunc of the interface (moduleId, interfaceId) with the function id,
// the input and the output (null where the call has none). Answers the call's result, or 0xE0FF000D when the subscriber is unreachable.
using SubscriberCall = std::function<uint32_t(uint32_t moduleId, uint32_t interfaceId,
                                              uint32_t functionId, void* input,
                                              void* output)>;

class EventProcessor {
public:
    // 0x5E23 and 0x5E24 with a host message object as input. 0xE0FF0007 for a malformed
    // request (no subscription record, no subscriber); 0xE0FF0001 to unregister what is not
    // registered.
    uint32_t Register(const void* input);
    uint32_t Unregister(const void* input);

    std::vector<Subscription> Subscriptions() const;
    size_t Count() const;

    // Where deliveries go; without it nothing is delivered.
    void SetDelivery(SubscriberCall call);

    // A request of that kind (its first 32 bits) to every subscriber that asked for the kind,
    // through 24101; the number of subscribers called.
    size_t DeliverRequest(uint32_t kind, void* request);
    // An event of a subscribed class to its subscribers, through 24105 with an event record;
    // the number of subscribers called.
    size_t DeliverEvent(uint32_t eventClass, const void* eventData);

private:
    std::vector<Subscription> Matching(const std::function<bool(const Subscription&)>& wanted,
                                       SubscriberCall& call) const;

    mutable std::mutex m_lock;
    std::vector<Subscription> m_subscriptions;
    SubscriberCall m_call;
};

// A subscription as one readable text, for the host's log.
std::string DescribeSubscription(const Subscription& subscription);

}  // namespace pellumhost
