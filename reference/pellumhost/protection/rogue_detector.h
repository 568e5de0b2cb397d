// The detector of rogue writers: it scores destruction, not activity. Existing content
// overwritten with other bytes, truncated, removed or replaced by a rename counts; creating
// files and renaming them counts nothing towards a flag (archives, copies and builds are not
// rogue). Actions add up per actor (process_lineage.h) in two windows: the files destroyed
// within windowSeconds, and a score that halves every halfLifeSeconds, so that a slow
// destroyer is flagged too. A content signal (a known kind of file turned into random bytes of
// no known kind, or into one repeated byte) adds to the score. An actor is flagged once, with
// the figures in one line; a trusted image never is. Callers serialise their calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace pellumhost {

struct DetectorSettings {
    uint32_t minFiles = 5;           // files destroyed within windowSeconds that flag an actor
    uint32_t windowSeconds = 10;
    double longScore = 10;           // the decaying score that flags an actor
    uint32_t halfLifeSeconds = 3600; // the score halves in this time
    double minEntropy = 7.0;         // new content of no known kind this random is "encrypted"
    uint32_t minBytes = 512;         // new content under this size gives no entropy signal
    // Processes never flagged: a full image path, or an image's file name that matches in any
    // folder.
    std::vector<std::string> trustedImages;
};

// True when image is one of the trusted entries (by full path, or by file name for an entry
// without a folder).
bool IsTrustedImage(const DetectorSettings& settings, const std::string& image);

// The detector's clock, on which actions, flags and bursts are timed: the steady clock, in
// seconds.
double DetectorSeconds();

// What an action did to existing content.
enum class Damage : uint8_t {
    kNone,         // nothing existing was lost: created, renamed, same bytes, appended, own
    kOverwritten,  // other bytes in its place
    kTruncated,    // shorter, its start changed or gone
    kRemoved,      // its name and content gone
    kReplaced,     // another file renamed over it
};
// What the new content looks like, beside the damage.
enum class Signal : uint8_t {
    kNone,
    kEncrypted,  // a known kind (or plain text) became random bytes of no known kind
    kWiped,      // a known kind (or plain text) became one repeated byte
};
enum class ActionKind : uint8_t { kWrite, kCreate, kRemove, kRename };

struct Action {
    std::string actor;  // Actor::key
    std::string image;
    uint32_t processId = 0;
    ActionKind kind = ActionKind::kWrite;
    std::string path;
    Damage damage = Damage::kNone;
    Signal signal = Signal::kNone;
    double at = 0;  // the detector's clock
};

// A flagged actor as the watch service takes it: every process of the actor (each one
// stopped, but the system's first and this service), when its first counted action was, and
// why it was flagged.
struct FlaggedActor {
    std::vector<uint32_t> processIds;
    std::string image;
    double firstAction = 0;          // the detector's clock
    uint64_t firstActionUnixMs = 0;
    std::string why;
};

class RogueDetector {
public:
    explicit RogueDetector(DetectorSettings settings) : m_settings(std::move(settings)) {}

    struct Verdict {
        bool flagged = false;  // this action flags its actor (once)
        bool joined = false;   // a process new to an actor flagged already
        bool trusted = false;  // the image is trusted: nothing counted
        std::string why;       // the decision in words
    };
    // Counts one action.
    Verdict Count(const Action& action);
    // Takes back the removal of path that actor counted (the same bytes came back under the
    // same name); false when none is counted any more.
    bool Refund(const std::string& actor, const std::string& path, double removedAt, double now);

    // processId joins actor when the actor is flagged and the process is new to it: true then.
    bool Join(const std::string& actor, uint32_t processId);
    // The flagged actor as it stands (its processes so far); null when actor is not flagged.
    const FlaggedActor* Flagged(const std::string& actor) const;
    // The actor one of whose processes is processId; empty when none.
    std::string ActorOfProcess(uint32_t processId) const;
    // Judges actor afresh, as if it had done nothing yet (after its rollback).
    void Forget(const std::string& actor) { m_actors.erase(actor); }

    // New thresholds and trusted processes; what was counted so far stays counted.
    void Reconfigure(DetectorSettings settings) { m_settings = std::move(settings); }
    const DetectorSettings& Settings() const { return m_settings; }

private:
    struct Hit {
        double at;
        std::string path;
    };
    struct ActorState {
        std::vector<uint32_t> processIds;
        std::string image;
        std::deque<Hit> recent;  // destructions within the short window, oldest first
        std::map<std::string, size_t> recentFiles;  // the hits in recent, by file
        double score = 0, scoreAt = 0;
        double firstAction = -1;
        size_t created = 0, renamed = 0;
        size_t damage[5] = {};  // by Damage
        size_t signal[3] = {};  // by Signal
        std::string lastSignalPath;
        bool flagged = false;
        FlaggedActor flag;
    };
    static double WeightOf(const Action& action);
    void Decay(ActorState& state, double now) const;
    size_t RecentFiles(ActorState& state, double now) const;
    void Sweep(double now);
    std::string Figures(const ActorState& state, size_t recentFiles) const;

    DetectorSettings m_settings;
    std::map<std::string, ActorState> m_actors;
    double m_lastSweep = 0;
};

}  // namespace pellumhost
