// Watching folders, backing up after-the-fact changes, and rolling back flagged writers.
#include "reference/pellumhost/protection/watch_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "host/call_records.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/host_log.h"
#include "reference/pellumhost/protection/present_tree.h"
#include "reference/pellumhost/protection/process_image.h"
#include "reference/pellumhost/protection/rogue_detector.h"
#include "reference/pellumhost/result_text.h"
#include "reference/zef/store_check.h"

namespace pellumhost {
size_t Rollback::Done() const {
    size_t done = 0;
    for (const StepResult& step : steps) done += StepSucceeded(step) ? 1 : 0;
    return done;
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
    callbacks.onOpen = [this, deliver = callbacks.onOpen](uint32_t processId, const std::string& path,
                                                          const FileStart* start) {
        deliver(processId, path, start);
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_opens;
    };
    callbacks.onWritten = [this, judge = callbacks.onWritten](uint32_t processId,
                                                              const std::string& path,
                                                              const std::vector<uint8_t>& head) {
        // The image is read before the judgement: a flagged process is stopped at once.
        // (After the fact, the change went into the journal before its backup.)
        if (!m_backups.BacksUpChanges())
            Journal(ChangeKind::kWritten, false, processId, ImageOf(processId), path);
        judge(processId, path, head);
        std::lock_guard<std::mutex> guard(m_lock);
        NoteChangeDuringRollbackLocked(processId);
        ++m_writes;
        m_lastWrite = DetectorSeconds();
        for (auto& flagged : m_flagged) {
            const std::vector<uint32_t>& pids = flagged.second.actor.processIds;
            if (std::find(pids.begin(), pids.end(), processId) != pids.end())
                flagged.second.lastWrite = m_lastWrite;
        }
    };
    callbacks.onCreated = [this, next = callbacks.onCreated](uint32_t processId,
                                                             const std::string& path, bool folder) {
        Journal(ChangeKind::kCreated, folder, processId, ImageOf(processId), path);
        NoteChangeDuringRollback(processId);
        if (next) next(processId, path, folder);
    };
    callbacks.onRemoved = [this, next = callbacks.onRemoved](uint32_t processId,
                                                             const std::string& path, bool folder) {
        Journal(ChangeKind::kRemoved, folder, processId, ImageOf(processId), path);
        NoteChangeDuringRollback(processId);
        if (next) next(processId, path, folder);
    };
    callbacks.onRenamed = [this, next = callbacks.onRenamed](uint32_t processId,
                                                             const std::string& from,
                                                             const std::string& to, bool folder) {
        Journal(ChangeKind::kRenamed, folder, processId, ImageOf(processId), from, to);
        NoteChangeDuringRollback(processId);
        if (next) next(processId, from, to, folder);
    };
    // Changes seen after the fact are noted and backed up before they are judged, so that a
    // burst that flags its writer is in the journal whole; the changes a burst rollback's own
    // restores cause stop there.
    return m_backups.Watching(callbacks);
}

void WatchService::NoteChangeDuringRollback(uint32_t processId) {
    std::lock_guard<std::mutex> guard(m_lock);
    NoteChangeDuringRollbackLocked(processId);
}

void WatchService::NoteChangeDuringRollbackLocked(uint32_t processId) {
    if (std::find(m_rollingBack.begin(), m_rollingBack.end(), processId) == m_rollingBack.end())
        return;
    m_changedDuringRollback = true;
    m_lastChangeDuringRollback = DetectorSeconds();
}

bool WatchService::KeepJournal(const std::string& dbFolder, std::string& error) {
    m_dbFolder = dbFolder;
    m_backups.OnBackedUp([this](const std::string& path, uint64_t unixMs) {
        Journal(ChangeKind::kBackedUp, false, 0, {}, path, {}, unixMs);
    });
    m_backups.OnChangeSeen([this](const std::string& path) {
        Journal(ChangeKind::kWritten, false, 0, {}, path);
    });
    return m_journal.Open(platform::FromUtf8(dbFolder), error);
}

std::string WatchService::ImageOf(uint32_t processId) {
    return processId != 0 ? ProcessImage(processId) : std::string();
}

void WatchService::Journal(ChangeKind kind, bool folder, uint32_t processId,
                           const std::string& image, const std::string& path,
                           const std::string& to, uint64_t unixMs) {
    if (!m_journal.IsOpen()) return;
    ChangeEntry entry;
    entry.unixMs = unixMs != 0 ? unixMs : UnixMilliseconds();
    entry.kind = kind;
    entry.folder = folder;
    entry.processId = processId;
    entry.image = platform::FromUtf8(image);
    entry.path = platform::FromUtf8(path);
    entry.to = platform::FromUtf8(to);
    if (!m_journal.Append(entry))
        HostLog(3, __LINE__, "the change journal cannot be written any more (a full disk?); "
                             "changes are no longer journaled until the service starts again");
}

bool WatchService::Watch(const std::string& folder, WatchedFolder& watched, std::string& error) {
    // Until the kind is known, changes are not backed up; the baseline, taken afterwards,
    // covers them.
    std::unique_ptr<FileActivitySource> source =
        StartFileActivitySource(m_choice, folder, CallbacksFor(), watched.note, error);
    if (!source) return false;
    watched.folder = folder;
    m_folders.push_back(folder);
    watched.kind = source->Kind();
    if (!watched.note.empty()) HostLog(3, __LINE__, watched.note);
    HostLog(2, __LINE__, "watching " + folder + " (" + watched.kind + ")");
    m_sources.push_back(std::move(source));
    // Every file gets an edition when its folder is first protected (the store keeps unchanged
    // content once), so that one removed without ever being opened for writing comes back.
    if (watched.AfterTheFact()) m_backups.BackUpChanges(true);
    const double started = DetectorSeconds();
    watched.baseline = m_backups.Baseline(folder);
    watched.baselineSeconds = DetectorSeconds() - started;
    HostLog(2, __LINE__, "baseline of " + folder + ": " + std::to_string(watched.baseline) +
                             " files backed up");
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
    m_journal.Close();
}

bool WatchService::FlaggedAndQuiet(double quietSeconds) const {
    if (m_backups.Busy()) return false;  // changes still being noted or backed up
    std::lock_guard<std::mutex> guard(m_lock);
    return !m_flagged.empty() && DetectorSeconds() - m_lastWrite >= quietSeconds;
}

size_t WatchService::RollBackQuiet(double quietSeconds, const RollbackReport& report,
                                   const RollbackProgress& progress) {
    m_journal.FlushDue();
    // A change still being backed up (its copy may wait up to a second for the next one) is
    // not in the journal whole yet: a rollback waits for it, briefly even when stopping.
    for (int waited = 0; m_backups.Busy(); ++waited) {
        if (quietSeconds > 0 || waited == 150) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    size_t done = 0;
    std::map<uint32_t, int> passes;
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
            m_rollingBack = flag.actor.processIds;
            m_changedDuringRollback = false;
        }
        const Rollback rollback = RollBack(writer, flag, progress);
        bool again = false;
        {
            // A writer that went on while its rollback ran (an attacker paused past the quiet
            // second) stays flagged and is rolled back again once quiet: its plan was read
            // before those changes. Otherwise the detector forgets it. When stopping, a writer
            // that never stops gets a few passes, not an endless loop.
            std::lock_guard<std::mutex> guard(m_lock);
            m_rollingBack.clear();
            again = m_changedDuringRollback && (quietSeconds > 0 || ++passes[writer] < 3);
            if (again) {
                flag.lastWrite = m_lastChangeDuringRollback;
                m_flagged.emplace(writer, flag);
            }
        }
        if (!again) m_service.ForgetFlag(writer);
        ++done;
        if (report) report(rollback);
    }
}

uint64_t WatchService::FirstChangeOf(const Flag& flag, const std::vector<ChangeEntry>& journal) const {
    // From the window before the flag, or the actor's first counted action when that is older
    // (a slow one's began long before its flag), less a second: the detector may count an
    // actor's first changes late, or not at all.
    const double window = m_service.Configuration().Detector().windowSeconds;
    const uint64_t nowMs = UnixMilliseconds();
    const double agoMs = (DetectorSeconds() - flag.flaggedAt + window) * 1000;
    uint64_t earliest = agoMs >= static_cast<double>(nowMs) ? 0 : nowMs - static_cast<uint64_t>(agoMs);
    if (flag.actor.firstActionUnixMs != 0)
        earliest = std::min(earliest, flag.actor.firstActionUnixMs -
                                          std::min<uint64_t>(flag.actor.firstActionUnixMs, 1000));
    const std::vector<uint32_t>& pids = flag.actor.processIds;
    for (const ChangeEntry& entry : journal)
        if (entry.unixMs >= earliest && !entry.folder && entry.kind != ChangeKind::kBackedUp &&
            std::find(pids.begin(), pids.end(), entry.processId) != pids.end())
            return entry.unixMs;
    return earliest;
}

Rollback WatchService::RollBack(uint32_t writer, const Flag& flag, const RollbackProgress& progress) {
    Rollback rollback;
    rollback.writer = writer;
    rollback.image = flag.actor.image;
    const double started = DetectorSeconds();
    // The versions held in memory become editions first, so that the plan sees every one.
    m_plugin.CallFunc(m_wrapper, velk::kFnFlushEvents, nullptr, nullptr);
    m_journal.FlushDue();
    const std::u16string db = platform::FromUtf8(m_dbFolder);
    std::vector<ChangeEntry> journal;
    std::string note;
    if (!ReadChangeLog(db, journal, note)) rollback.problem = note;
    else if (!note.empty()) HostLog(3, __LINE__, note);
    rollback.fromUnixMs = FirstChangeOf(flag, journal);
    std::vector<RollbackStep> steps;
    for (const std::string& folder : m_folders) {
        RollbackQuestion question;
        question.folder = platform::FromUtf8(folder);
        question.toUnixMs = rollback.fromUnixMs;
        question.processIds.insert(flag.actor.processIds.begin(), flag.actor.processIds.end());
        question.quarantine = true;
        std::vector<zef::Edition> editions;
        if (!zef::EditionsUnder(db, question.folder, editions)) {
            rollback.problem = "the database's edition log cannot be read";
            continue;
        }
        const std::vector<RollbackStep> planned =
            PlanRollback(question, editions, journal, PresentTreeOf(folder, m_dbFolder));
        steps.insert(steps.end(), planned.begin(), planned.end());
    }
    const StepProgress stepProgress = [&progress](size_t done, size_t total) {
        if (progress) progress(done, total);
    };
    rollback.steps = m_backups.AsOwnRestores(steps, [&] {
        return RunRollbackSteps(m_plugin, m_wrapper, steps,
                                QuarantineFolder(db, UnixMilliseconds()), stepProgress);
    });
    rollback.seconds = DetectorSeconds() - started;
    if (writer == 0) m_backups.EndOwnRestores();
    for (const StepResult& step : rollback.steps)
        HostLog(2, __LINE__, "rollback of " + std::to_string(writer) + ": " +
                                 StepActionName(step.step.action) + " " +
                                 platform::ToUtf8(step.step.path) +
                                 (step.step.editionId != 0 ? " from edition " + std::to_string(step.step.editionId) : "") +
                                 " (" + step.step.why + "), result " + ResultText(step.result) +
                                 (step.detail.empty() ? "" : " (" + step.detail + ")"));
    if (!rollback.problem.empty())
        HostLog(3, __LINE__, "rollback of " + std::to_string(writer) + ": " + rollback.problem);
    char summary[96];
    std::snprintf(summary, sizeof summary, ": %zu of %zu steps done in %.3f s", rollback.Done(),
                  rollback.steps.size(), rollback.seconds);
    HostLog(2, __LINE__, "rollback of " + std::to_string(writer) + " finished" + summary);
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

double Percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1))];
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
