// A progress bar on standard error for work on more than a few files, drawn only when standard
// error is a terminal (a log file or a pipe gets nothing).
#pragma once
#include <cstddef>
#include <string>

namespace pellumhost {

class ProgressBar {
public:
    // Work on at most kFew files is quick enough to need no bar.
    static constexpr size_t kFew = 3;

    ProgressBar(const std::string& label, size_t total);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Update(size_t done);
    bool Shown() const { return m_shown; }

    // The bar's line for done of total, without the carriage return (for tests and drawing).
    static std::string Line(const std::string& label, size_t done, size_t total);

private:
    std::string m_label;
    size_t m_total;
    bool m_shown;
};

}  // namespace pellumhost
