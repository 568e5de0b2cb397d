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
// A kept process's start is read again at most this often (a read per event would cost more
// than the lookups it saves).
constexpr double kStartCheckSeconds = 1.0;

}  // namespace

ProcessFacts SystemProcessFacts() {
    return ProcessFacts{platform::ParentProcessId, ProcessImage, platform::ProcessStartTime,
                        platform::CurrentProcessId()};
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
        Known& kept = known->second;
        bool same = true;
        if (kept.start != 0 && now - kept.startCheck >= kStartCheckSeconds) {
            // A process gone meanwhile (no start to read) keeps its actor: its events may
            // still be on their way.
            const uint64_t start = StartOf(processId);
            same = start == 0 || start == kept.start;
            kept.startCheck = now;
        }
        if (same) {
            kept.lastSeen = now;
            return kept.actor;
        }
        m_known.erase(known);  // the id names another process now
    }
    const uint64_t start = StartOf(processId);
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
    m_known[processId] = Known{actor, now, start, now};
    return actor;
}

uint64_t ProcessLineage::StartOf(uint32_t processId) const {
    return m_facts.startOf ? m_facts.startOf(processId) : 0;
}

}  // namespace pellumhost
