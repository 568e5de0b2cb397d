// The changes the host's own restores cause, told from other processes' changes: a source that
// sees changes after the fact does not say who made them, so while the host rolls back, the
// changes to the paths it is restoring (and for a quiet time after) are its own, counted and
// not taken for changes. Not locked: the caller serialises its calls.
#pragma once
#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace pellumhost {

class OwnRestores {
public:
    // The host begins restoring paths: changes to them are its own until Done's quiet time has
    // passed. A later call adds to the paths of one still under way.
    void Begin(const std::vector<std::string>& paths);
    // The restores are done; changes to their paths are still their own up to quietUntil.
    void Done(double quietUntil);
    // Whether a change to path seen at `at` (the detector's clock) is one of the host's own
    // restores; each one is counted.
    bool IsOwn(const std::string& path, double at);
    // Changes taken as the host's own since the last call; the count starts again.
    size_t TakeIgnoredCount();

private:
    std::set<std::string> m_restoring;  // paths of the host's own restores, under way or quiet
    bool m_underWay = false;
    double m_quietUntil = 0;
    size_t m_ignored = 0;
};

}  // namespace pellumhost
