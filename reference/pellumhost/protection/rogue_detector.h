// The detector of rogue writers: a process that rewrites many files with high-entropy content
// in a short time is flagged once, and every decision is explained in one line. A trusted
// image is never flagged. Callers serialise their calls (one lock is held by the caller).
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace pellumhost {

struct DetectorSettings {
    uint32_t minFiles = 5;          // high-entropy rewrites that flag a process
    uint32_t windowSeconds = 10;    // within this many seconds
    double minEntropy = 7.0;        // bits per byte of the written content
    uint32_t minBytes = 512;        // a smaller write is not judged
    // Processes never flagged: a full image path, or an image's file name that matches in any
    // folder.
    std::vector<std::string> trustedImages;
};

// True when image is one of the trusted entries (by full path, or by file name for an entry
// without a folder).
bool IsTrustedImage(const DetectorSettings& settings, const std::string& image);

// Shannon entropy of bytes, in bits per byte (0 for no bytes).
double EntropyOf(const uint8_t* bytes, size_t count);

// The detector's clock, on which writes, flags and bursts are timed: the steady clock, in
// seconds.
double DetectorSeconds();

class RogueDetector {
public:
    explicit RogueDetector(DetectorSettings settings) : m_settings(std::move(settings)) {}

    // A write by processId to path has finished; true when this write flags the process (once).
    // why receives the decision in words. bytes is the size of what was judged.
    bool OnWrite(uint32_t processId, const std::string& image, const std::string& path,
                 double entropy, double nowSeconds, std::string& why, size_t bytes = SIZE_MAX);

    // New thresholds and trusted processes; what was counted so far stays counted.
    void Reconfigure(DetectorSettings settings) { m_settings = std::move(settings); }
    const DetectorSettings& Settings() const { return m_settings; }

    bool Flagged(uint32_t processId) const { return m_flagged.count(processId) != 0; }
    // Judges processId afresh, as if it had written nothing yet (after its rollback: the
    // writer of changes seen after the fact, process 0, can then be flagged for a later burst).
    void Forget(uint32_t processId) {
        m_flagged.erase(processId);
        m_recent.erase(processId);
    }

private:
    DetectorSettings m_settings;
    std::map<uint32_t, std::deque<std::pair<double, std::string>>> m_recent;
    std::set<uint32_t> m_flagged;
};

}  // namespace pellumhost
