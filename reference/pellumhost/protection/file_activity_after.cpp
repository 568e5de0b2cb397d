// The after-the-fact file activity source, the same on every platform: one thread reads the
// platform's directory changes and hands them to a ChangeReporter, which runs the callbacks and
// which it alone touches.
#include <atomic>
#include <memory>
#include <thread>

#include "platform/directory_changes.h"
#include "platform/text.h"
#include "reference/pellumhost/protection/change_reporter.h"
#include "reference/pellumhost/protection/file_activity.h"

namespace pellumhost {
namespace {

class AfterTheFactSource final : public FileActivitySource {
public:
    ~AfterTheFactSource() override { Stop(); }
    const char* Kind() const override { return "after-the-fact"; }

    bool Start(const std::string& folder, FileActivityCallbacks callbacks,
               std::string& error) override {
        std::u16string root = platform::FromUtf8(folder);
        const char16_t separator = platform::DirectoryChanges::Separator();
        while (root.size() > 1 && (root.back() == separator || root.back() == u'/')) root.pop_back();
        if (!m_changes.Open(root, error)) return false;
        m_root = root;
        m_reporter = std::make_unique<ChangeReporter>(root, std::move(callbacks));
        m_running = true;
        m_reader = std::thread([this] { ReadLoop(); });
        return true;
    }

    void Stop() override {
        if (!m_running.exchange(false)) return;
        m_changes.Wake();
        m_reader.join();
        m_changes.Close();
    }

private:
    void ReadLoop() {
        std::vector<platform::DirectoryChange> changes;
        while (m_running) {
            changes.clear();
            const platform::ChangesRead read =
                m_changes.Read(m_reporter->Settling() ? 20 : 1000, changes);
            const auto now = ChangeReporter::Clock::now();
            for (const platform::DirectoryChange& change : changes) m_reporter->Apply(change, now);
            if (read == platform::ChangesRead::kOverflow) m_reporter->Rescan(now);
            if (read == platform::ChangesRead::kGone)
                m_reporter->Log("the watched folder " + platform::ToUtf8(m_root) +
                                " is gone or cannot be read any more; nothing more is seen");
            m_reporter->ReportSettled(ChangeReporter::Clock::now());
        }
    }

    std::u16string m_root;
    platform::DirectoryChanges m_changes;
    std::unique_ptr<ChangeReporter> m_reporter;
    std::atomic<bool> m_running{false};
    std::thread m_reader;
};

}  // namespace

std::unique_ptr<FileActivitySource> MakeAfterTheFactSource() {
    return std::make_unique<AfterTheFactSource>();
}

}  // namespace pellumhost
