// Drawing the progress bar in place with a carriage return.
#include "reference/pellumhost/commands/progress_bar.h"

#include <cstdio>

#include "platform/console.h"

namespace pellumhost {

ProgressBar::ProgressBar(const std::string& label, size_t total)
    : m_label(label), m_total(total),
      m_shown(total > kFew && platform::StandardErrorIsTerminal()) {
    Update(0);
}

ProgressBar::~ProgressBar() {
    if (m_shown) std::fputc('\n', stderr);
}

void ProgressBar::Update(size_t done) {
    if (!m_shown) return;
    std::fprintf(stderr, "\r%s", Line(m_label, done, m_total).c_str());
    std::fflush(stderr);
}

std::string ProgressBar::Line(const std::string& label, size_t done, size_t total) {
    constexpr size_t kWidth = 30;
    if (done > total) done = total;
    const size_t filled = total == 0 ? kWidth : done * kWidth / total;
    return label + " [" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] " +
           std::to_string(done) + "/" + std::to_string(total);
}

}  // namespace pellumhost
