// The judge of file activity: it takes every callback of a file activity source, works out what
// each action destroyed (from what the file held before: read at the open while it is held, or
// remembered from the last write or the baseline), counts it for the actor behind the process,
// and stops every process of an actor the detector flags. One lock guards the memory, the
// lineage and the detector; files are read, processes stopped and flags handed on outside it.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "reference/pellumhost/protection/content_memory.h"
#include "reference/pellumhost/protection/file_activity.h"
#include "reference/pellumhost/protection/process_lineage.h"
#include "reference/pellumhost/protection/rogue_detector.h"

namespace pellumhost {

// What the judge asks of the system; tests hand in their own.
struct JudgeSystem {
    ProcessFacts processes;
    // The size of the file at path and up to `want` bytes of its start (no link followed);
    // false when it cannot be read (gone, a link, a folder, locked).
    std::function<bool(const std::string& path, size_t want, uint64_t& size,
                       std::vector<uint8_t>& head)>
        readStart;
    std::function<bool(uint32_t processId)> stop;  // false when it cannot be stopped
    std::function<double()> seconds;               // the detector's clock
    std::function<uint64_t()> unixMs;              // the wall clock, ms since 1970
    std::function<void(uint32_t level, const std::string& line)> log;
};
JudgeSystem SystemJudge(std::function<void(uint32_t level, const std::string& line)> log);

// A removal that the same actor undoes with the same bytes within this time lost nothing.
constexpr double kRecreateSeconds = 60;

class ActivityJudge {
public:
    using OnFlagged = std::function<void(const FlaggedActor& actor)>;
    ActivityJudge(DetectorSettings settings, JudgeSystem system);

    // A source's callbacks (onOpen, onWritten, onCreated, onRemoved, onRenamed) wired to the
    // judge. onFlagged takes an actor once its processes are stopped, and again, grown, each
    // time another process of it acts. The judge must outlive the source.
    FileActivityCallbacks Callbacks(OnFlagged onFlagged);

    // start: what the source read of the file through the open it holds; null: read it here.
    void OnOpen(uint32_t processId, const std::string& path, const OnFlagged& onFlagged,
                const FileStart* start = nullptr);
    void OnWritten(uint32_t processId, const std::string& path, const std::vector<uint8_t>& head,
                   const OnFlagged& onFlagged);
    void OnCreated(uint32_t processId, const std::string& path, bool folder,
                   const OnFlagged& onFlagged);
    void OnRemoved(uint32_t processId, const std::string& path, bool folder,
                   const OnFlagged& onFlagged);
    void OnRenamed(uint32_t processId, const std::string& from, const std::string& to,
                   bool folder, const OnFlagged& onFlagged);

    // A file as it is now, backed up when watching started: its content existed before any
    // actor. A file known already keeps its record.
    void NoteExisting(const std::string& path);
    // Judges the actor of processId afresh (after its rollback).
    void ForgetActorOf(uint32_t processId);
    void Reconfigure(DetectorSettings settings);
    DetectorSettings Settings() const;

private:
    // What Count found, acted on outside the lock.
    struct Outcome {
        RogueDetector::Verdict verdict;
        FlaggedActor flagged;  // when verdict.flagged or verdict.joined
        uint32_t processId = 0;
        bool log = false;
    };
    Outcome CountLocked(const Actor& actor, uint32_t processId, ActionKind kind,
                        const std::string& path, Damage damage, Signal signal, double now);
    void Act(const Outcome& outcome, const OnFlagged& onFlagged);
    void Stop(uint32_t processId);
    bool Own(uint32_t processId) const;
    bool Owns(const RememberedFile& file, const std::string& actor, double now) const;

    JudgeSystem m_system;
    mutable std::mutex m_lock;  // the members below
    RogueDetector m_detector;
    ContentMemory m_memory;
    ProcessLineage m_lineage;
};

}  // namespace pellumhost
