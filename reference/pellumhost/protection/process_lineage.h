// The actor behind a process: actions add up per actor, so that a parent that starts one child
// per file, or a program that runs itself again, is judged as one. A process's actor is
// (parent, image): its parent's when the parent runs the same image, else its own parent with
// its image, or the process alone when its parent is the system's first process, this service
// or unknown. The parent is read when the process is first seen (before-write: at its open,
// while it is alive) and kept a while, with the process's start: a kept process id whose start
// differs (checked at most once a second) was reused by another process, which is resolved
// anew. The unknown writer of after-the-fact changes (process
// 0) is one actor. Not thread-safe: the activity judge holds its lock around every call.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

namespace pellumhost {

struct Actor {
    std::string key;    // equal for the processes of one actor
    std::string image;  // empty when the system does not tell it
};

// What the lineage asks the system; tests hand in their own.
struct ProcessFacts {
    std::function<uint32_t(uint32_t processId)> parentOf;      // 0: unknown
    std::function<std::string(uint32_t processId)> imageOf;    // empty: unknown
    std::function<uint64_t(uint32_t processId)> startOf;       // 0 or none: unknown
    uint32_t self = 0;                                         // this service's process
};
ProcessFacts SystemProcessFacts();

class ProcessLineage {
public:
    explicit ProcessLineage(ProcessFacts facts) : m_facts(std::move(facts)) {}

    // The actor of processId, seen at `now` on the detector's clock.
    Actor ActorOf(uint32_t processId, double now);

private:
    struct Known {
        Actor actor;
        double lastSeen;
        uint64_t start;      // 0: unknown
        double startCheck;   // when start was last read
    };
    uint64_t StartOf(uint32_t processId) const;
    Actor Resolve(uint32_t processId, double now, int depth);

    ProcessFacts m_facts;
    std::unordered_map<uint32_t, Known> m_known;
    double m_lastSweep = 0;
};

}  // namespace pellumhost
