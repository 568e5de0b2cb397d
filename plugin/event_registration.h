// The plug-in's subscriptions with the host's event processor (3, 31): three at start, their
// removal at stop. Each step opens the event processor on the host object for itself and gives
// it back before returning. Results are returned for tests; the life cycle ignores them.
#pragma once
#include <cstdint>

class IHostService;

namespace plugin_events {

uint32_t SubscribeEventManager(IHostService* host);
uint32_t SubscribeIntegrationEvents(IHostService* host);
uint32_t RegisterEventProcessor(IHostService* host, bool registering);
void UnsubscribeEvents(IHostService* host);

}  // namespace plugin_events
