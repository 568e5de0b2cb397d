// The host's own restores, told from other changes.
#include "reference/pellumhost/protection/own_restores.h"

namespace pellumhost {

void OwnRestores::Begin(const std::vector<std::string>& paths) {
    if (!m_underWay) m_restoring.clear();
    m_restoring.insert(paths.begin(), paths.end());
    m_underWay = true;
}

void OwnRestores::Done(double quietUntil) {
    m_underWay = false;
    m_quietUntil = quietUntil;
}

bool OwnRestores::IsOwn(const std::string& path, double at) {
    if (m_restoring.count(path) == 0) return false;
    if (!m_underWay && at > m_quietUntil) {
        m_restoring.clear();
        return false;
    }
    ++m_ignored;
    return true;
}

size_t OwnRestores::TakeIgnoredCount() {
    const size_t ignored = m_ignored;
    m_ignored = 0;
    return ignored;
}

}  // namespace pellumhost
