// Watching folders, backing up after-the-fact changes, and rolling back flagged writers.
#include "reference/pellumhost/protection/watch_service.h"

#include <algorithm>

#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/host_log.h"
#include "reference/pellumhost/protection/rogue_detector.h"

namespace pellumhost {
size_t Rollback::Restored() const {
    size_t restored = 0;
    for (const RolledBackFile& file : files) restored += file.result == velk::kSuccess ? 1 : 0;
    return restored;
}

WatchService::WatchService(ReferenceHostService& service, const PluginExports& plugin,
                           ICommonPluginInterface* wrapper, SourceChoice choice)
    : m_service(service),
      m_plugin(plugin),
      m_wrapper(wrapper),
      m_choice(choice),
      m_backups(plugin, wrapper,
                [](uint32_t level, const std::string& line) { HostLog(level, __LINE__, line); }) {
    m_backups.NoteBaseline([this](const std::string& path) { m_service.NoteExisting(path); });
}

WatchService::~WatchService() { Stop(); }

FileActivityCallbacks WatchService::CallbacksFor() {
    FileActivityCallbacks callbacks = m_service.ActivityCallbacks([this](const FlaggedActor& actor) {
        std::lock_guard<std::mutex> guard(m_lock);
        const double now = DetectorSeconds();
        // An actor flagged already comes again with each process that joins it.
        const auto known = m_flagged.find(actor.processIds.front());
        if (known == m_flagged.end())
            m_flagged.emplace(actor.processIds.front(), Flag{now, now, actor});
        else
            known->second.actor = actor;
    });
    callbacks.onOpen = [this, deliver = callbacks.onOpen](uint32_t processId, const std::string& path) {
        deliver(processId, path);
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_opens;
    };
    callbacks.onWritten = [this, judge = callbacks.onWritten](uint32_t processId,
                                                              const std::string& path,
                                                              const std::vector<uint8_t>& head) {
        judge(processId, path, head);
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_writes;
        m_lastWrite = DetectorSeconds();
        for (auto& flagged : m_flagged) {
            const std::vector<uint32_t>& pids = flagged.second.actor.processIds;
            if (std::find(pids.begin(), pids.end(), processId) != pids.end())
                flagged.second.lastWrite = m_lastWrite;
        }
    };
    // Changes seen after the fact are noted and backed up before they are judged, so that a
    // burst that flags its writer is in the journal whole; the changes a burst rollback's own
    // restores cause stop there.
    return m_backups.Watching(callbacks);
}

bool WatchService::Watch(const std::string& folder, WatchedFolder& watched, std::string& error) {
    // Until the kind is known, changes are not backed up; the baseline, taken afterwards,
    // covers them.
    std::unique_ptr<FileActivitySource> source =
        StartFileActivitySource(m_choice, folder, CallbacksFor(), watched.note, error);
    if (!source) return false;
    watched.folder = folder;
    watched.kind = source->Kind();
    if (!watched.note.empty()) HostLog(3, __LINE__, watched.note);
    HostLog(2, __LINE__, "watching " + folder + " (" + watched.kind + ")");
    m_sources.push_back(std::move(source));
    if (watched.AfterTheFact()) {
        m_backups.BackUpChanges(true);
        const double started = DetectorSeconds();
        watched.baseline = m_backups.Baseline(folder);
        watched.baselineSeconds = DetectorSeconds() - started;
        HostLog(2, __LINE__, "baseline of " + folder + ": " + std::to_string(watched.baseline) +
                                 " files backed up");
    }
    return true;
}

void WatchService::GuardProtectedFolders(const std::vector<std::string>& openToOthers) {
    m_guarding = true;
    for (const auto& source : m_sources) source->LetOthersOpen(openToOthers);
    m_service.Storage().SetGuard([this](const std::string& folder, bool protect, std::string& why) {
        bool guarded = false;
        for (const auto& source : m_sources) {
            guarded = source->Guard(folder, protect, why) || guarded;
            if (guarded && protect) break;  // one source refuses the opens
        }
        return guarded;
    });
}

void WatchService::Stop() {
    if (m_guarding) m_service.Storage().SetGuard(nullptr);
    m_guarding = false;
    for (const auto& source : m_sources) source->Stop();
}

bool WatchService::FlaggedAndQuiet(double quietSeconds) const {
    if (m_backups.Busy()) return false;  // changes still being noted or backed up
    std::lock_guard<std::mutex> guard(m_lock);
    return !m_flagged.empty() && DetectorSeconds() - m_lastWrite >= quietSeconds;
}

size_t WatchService::RollBackQuiet(double quietSeconds, const RollbackReport& report,
                                   const RollbackProgress& progress) {
    size_t done = 0;
    for (;;) {
        uint32_t writer = 0;
        Flag flag{};
        {
            std::lock_guard<std::mutex> guard(m_lock);
            const double now = DetectorSeconds();
            auto due = m_flagged.begin();
            while (due != m_flagged.end() && now - due->second.lastWrite < quietSeconds) ++due;
            if (due == m_flagged.end()) return done;
            writer = due->first;
            flag = due->second;
            m_flagged.erase(due);
        }
        const Rollback rollback = RollBack(writer, flag, progress);
        m_service.ForgetFlag(writer);
        ++done;
        if (report) report(rollback);
    }
}

Rollback WatchService::RollBack(uint32_t writer, const Flag& flag, const RollbackProgress& progress) {
    Rollback rollback;
    rollback.writer = writer;
    rollback.image = flag.actor.image;
    const double started = DetectorSeconds();
    if (writer != 0) {
        rollback.byProcess = true;
        for (uint32_t processId : flag.actor.processIds) {
            const std::vector<RolledBackFile> files =
                RollBackProcess(m_plugin, m_wrapper, processId, rollback.walkResult, progress);
            rollback.files.insert(rollback.files.end(), files.begin(), files.end());
        }
    } else {
        // From the actor's first counted action (a slow one's began long before its flag).
        const double window = std::max<double>(m_service.Configuration().Detector().windowSeconds,
                                               flag.flaggedAt - flag.actor.firstAction);
        const std::vector<BurstFile> burst = m_backups.BurstOf(writer, flag.flaggedAt, window);
        rollback.files = m_backups.RollBack(burst);
    }
    rollback.seconds = DetectorSeconds() - started;
    if (!rollback.byProcess) m_backups.EndOwnRestores();
    for (const RolledBackFile& file : rollback.files)
        HostLog(2, __LINE__, "rollback of " + std::to_string(writer) + ": " +
                                 platform::ToUtf8(file.path) + " from version " +
                                 std::to_string(file.versionId) + ", result " +
                                 std::to_string(file.result));
    return rollback;
}

uint64_t WatchService::Opens() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_opens;
}

uint64_t WatchService::Writes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_writes;
}

std::vector<double> WatchService::HoldMicroseconds() const {
    std::vector<double> holds;
    for (const auto& source : m_sources) {
        const std::vector<double> mine = source->HoldMicroseconds();
        holds.insert(holds.end(), mine.begin(), mine.end());
    }
    return holds;
}

}  // namespace pellumhost
