// Destruction scored per actor in a short window and a decaying score, and the line that says
// why an actor is flagged.
#include "reference/pellumhost/protection/rogue_detector.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace pellumhost {
namespace {

// A content signal counts as much again as the destruction it comes with.
constexpr double kDestroyWeight = 1.0;
constexpr double kSignalWeight = 1.0;
// Below this the score is spent: the actor's next destruction starts a new first action.
constexpr double kSpentScore = 0.01;
// Actors whose score is spent are dropped this often, so that the actors kept stay few.
constexpr double kSweepSeconds = 60;

const char* DamageText(Damage damage) {
    static const char* const kTexts[] = {"nothing lost", "overwritten", "truncated", "removed",
                                         "replaced by a rename"};
    return kTexts[static_cast<size_t>(damage)];
}

const char* SignalText(Signal signal) {
    static const char* const kTexts[] = {"", "turned from a known kind into random bytes",
                                         "turned from a known kind into one repeated byte"};
    return kTexts[static_cast<size_t>(signal)];
}

const char* KindText(ActionKind kind) {
    static const char* const kTexts[] = {"written", "created", "removed", "renamed"};
    return kTexts[static_cast<size_t>(kind)];
}

}  // namespace

double DetectorSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool IsTrustedImage(const DetectorSettings& settings, const std::string& image) {
    const size_t cut = image.find_last_of("/\\");
    const std::string name = cut == std::string::npos ? image : image.substr(cut + 1);
    for (const std::string& trusted : settings.trustedImages) {
        const bool byPath = trusted.find_first_of("/\\") != std::string::npos;
        if (!trusted.empty() && (byPath ? trusted == image : trusted == name)) return true;
    }
    return false;
}

double RogueDetector::WeightOf(const Action& action) {
    if (action.damage == Damage::kNone) return 0;
    return kDestroyWeight + (action.signal != Signal::kNone ? kSignalWeight : 0);
}

void RogueDetector::Decay(ActorState& state, double now) const {
    if (now > state.scoreAt)
        state.score *= std::exp2(-(now - state.scoreAt) / std::max(1u, m_settings.halfLifeSeconds));
    state.scoreAt = std::max(state.scoreAt, now);
}

size_t RogueDetector::RecentFiles(ActorState& state, double now) const {
    while (!state.recent.empty() && state.recent.front().at < now - m_settings.windowSeconds) {
        const auto file = state.recentFiles.find(state.recent.front().path);
        if (file != state.recentFiles.end() && --file->second == 0) state.recentFiles.erase(file);
        state.recent.pop_front();
    }
    return state.recentFiles.size();
}

void RogueDetector::Sweep(double now) {
    if (now - m_lastSweep < kSweepSeconds) return;
    m_lastSweep = now;
    for (auto it = m_actors.begin(); it != m_actors.end();) {
        ActorState& state = it->second;
        Decay(state, now);
        const bool spent = !state.flagged && state.score < kSpentScore &&
                           RecentFiles(state, now) == 0;
        it = spent ? m_actors.erase(it) : std::next(it);
    }
}

std::string RogueDetector::Figures(const ActorState& state, size_t recentFiles) const {
    char line[256];
    std::snprintf(line, sizeof line,
                  "%zu files destroyed within %u s (flags at %u); score %.1f (flags at %.1f, "
                  "halves every %u s)",
                  recentFiles, m_settings.windowSeconds, m_settings.minFiles, state.score,
                  m_settings.longScore, m_settings.halfLifeSeconds);
    return line;
}

RogueDetector::Verdict RogueDetector::Count(const Action& action) {
    Verdict verdict;
    Sweep(action.at);
    ActorState& state = m_actors[action.actor];
    if (state.image.empty()) state.image = action.image;
    const bool newProcess = std::find(state.processIds.begin(), state.processIds.end(),
                                      action.processId) == state.processIds.end();
    if (newProcess) state.processIds.push_back(action.processId);
    if (newProcess && state.flagged) state.flag.processIds.push_back(action.processId);
    const std::string who = "process " + std::to_string(action.processId) + " (" +
                            (action.image.empty() ? std::string("image unknown") : action.image) + ")";
    const std::string what = action.path + " " + KindText(action.kind) + " by " + who;
    if (IsTrustedImage(m_settings, action.image)) {
        verdict.trusted = true;
        verdict.why = who + " is trusted; " + action.path + " " + KindText(action.kind) +
                      ", not counted";
        return verdict;
    }
    if (state.flagged) {
        verdict.joined = newProcess;
        verdict.why = what + ": its actor is flagged already" +
                      (newProcess ? "; the process joins it" : "");
        return verdict;
    }
    if (action.kind == ActionKind::kCreate) ++state.created;
    if (action.kind == ActionKind::kRename) ++state.renamed;
    ++state.damage[static_cast<size_t>(action.damage)];
    Decay(state, action.at);
    const double weight = WeightOf(action);
    if (weight > 0) {
        if (state.score < kSpentScore || state.firstAction < 0) state.firstAction = action.at;
        state.score += weight;
        state.recent.push_back(Hit{action.at, action.path});
        ++state.recentFiles[action.path];
        if (action.signal != Signal::kNone) {
            ++state.signal[static_cast<size_t>(action.signal)];
            state.lastSignalPath = action.path;
        }
    }
    const size_t recentFiles = RecentFiles(state, action.at);
    verdict.why = what + ": " + DamageText(action.damage);
    if (action.signal != Signal::kNone) verdict.why += std::string(", ") + SignalText(action.signal);
    if (weight == 0) return verdict;
    verdict.why += "; " + Figures(state, recentFiles);
    if (recentFiles < m_settings.minFiles && state.score < m_settings.longScore) return verdict;

    state.flagged = true;
    std::string pids;
    for (uint32_t pid : state.processIds) pids += (pids.empty() ? "" : " ") + std::to_string(pid);
    std::string why = verdict.why + "; process flagged as rogue with its actor " + action.actor +
                      " (processes " + pids + "); since its first counted action " +
                      std::to_string(static_cast<long long>(action.at - state.firstAction)) +
                      " s ago:";
    const Damage kinds[] = {Damage::kOverwritten, Damage::kTruncated, Damage::kRemoved,
                            Damage::kReplaced};
    for (Damage damage : kinds)
        if (state.damage[static_cast<size_t>(damage)] != 0)
            why += " " + std::to_string(state.damage[static_cast<size_t>(damage)]) + " " +
                   DamageText(damage) + ",";
    for (Signal signal : {Signal::kEncrypted, Signal::kWiped})
        if (state.signal[static_cast<size_t>(signal)] != 0)
            why += " " + std::to_string(state.signal[static_cast<size_t>(signal)]) + " " +
                   SignalText(signal) + ",";
    why += " " + std::to_string(state.created) + " created, " + std::to_string(state.renamed) +
           " renamed";
    if (!state.lastSignalPath.empty()) why += "; last signal: " + state.lastSignalPath;
    state.flag = FlaggedActor{state.processIds, state.image, state.firstAction, 0, why};
    verdict.flagged = true;
    verdict.why = why;
    return verdict;
}

bool RogueDetector::Refund(const std::string& actor, const std::string& path, double removedAt,
                           double now) {
    const auto found = m_actors.find(actor);
    if (found == m_actors.end() || found->second.flagged) return false;
    ActorState& state = found->second;
    for (auto hit = state.recent.rbegin(); hit != state.recent.rend(); ++hit) {
        if (hit->path != path) continue;
        const auto file = state.recentFiles.find(path);
        if (file != state.recentFiles.end() && --file->second == 0) state.recentFiles.erase(file);
        state.recent.erase(std::next(hit).base());
        break;
    }
    Decay(state, now);
    state.score = std::max(0.0, state.score - kDestroyWeight * std::exp2(-(now - removedAt) /
                                                   std::max(1u, m_settings.halfLifeSeconds)));
    size_t& removed = state.damage[static_cast<size_t>(Damage::kRemoved)];
    if (removed != 0) --removed;
    return true;
}

bool RogueDetector::Join(const std::string& actor, uint32_t processId) {
    const auto found = m_actors.find(actor);
    if (found == m_actors.end() || !found->second.flagged) return false;
    std::vector<uint32_t>& pids = found->second.processIds;
    if (std::find(pids.begin(), pids.end(), processId) != pids.end()) return false;
    pids.push_back(processId);
    found->second.flag.processIds.push_back(processId);
    return true;
}

const FlaggedActor* RogueDetector::Flagged(const std::string& actor) const {
    const auto found = m_actors.find(actor);
    return found != m_actors.end() && found->second.flagged ? &found->second.flag : nullptr;
}

std::string RogueDetector::ActorOfProcess(uint32_t processId) const {
    for (const auto& entry : m_actors) {
        const std::vector<uint32_t>& pids = entry.second.processIds;
        if (std::find(pids.begin(), pids.end(), processId) != pids.end()) return entry.first;
    }
    return {};
}

}  // namespace pellumhost
