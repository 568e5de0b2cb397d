// Actors from parents and images, kept per process id while it acts.
#include "reference/pellumhost/protection/process_lineage.h"

#include "platform/process.h"
#include "platform/process_parent.h"
#include "reference/pellumhost/protection/process_image.h"

namespace pellumhost {
namespace {

// A process id unseen this long may name another process now: it is read again.
constexpr double kForgetUnseenSeconds = 600;
// Same-image parents followed at most this far up.
constexpr int kMaxSameImageDepth = 8;

}  // namespace

ProcessFacts SystemProcessFacts() {
    return ProcessFacts{platform::ParentProcessId, ProcessImage, platform::CurrentProcessId()};
}

Actor ProcessLineage::ActorOf(uint32_t processId, double now) {
    if (now - m_lastSweep > kForgetUnseenSeconds) {
        for (auto it = m_known.begin(); it != m_known.end();)
            it = now - it->second.lastSeen > kForgetUnseenSeconds ? m_known.erase(it) : std::next(it);
        m_lastSweep = now;
    }
    return Resolve(processId, now, 0);
}

Actor ProcessLineage::Resolve(uint32_t processId, double now, int depth) {
    if (processId == 0) return Actor{"0", ""};
    const auto known = m_known.find(processId);
    if (known != m_known.end()) {
        known->second.lastSeen = now;
        return known->second.actor;
    }
    Actor actor;
    actor.image = m_facts.imageOf(processId);
    const uint32_t parent = m_facts.parentOf(processId);
    const bool alone = parent <= 1 || parent == m_facts.self || parent == processId;
    if (!alone && depth < kMaxSameImageDepth && !actor.image.empty() &&
        m_facts.imageOf(parent) == actor.image) {
        actor = Resolve(parent, now, depth + 1);
    } else {
        actor.key = std::to_string(alone ? processId : parent) + ":" + actor.image;
    }
    m_known[processId] = Known{actor, now};
    return actor;
}

}  // namespace pellumhost
