// The service loop's watching, the same for `run` and the demo: a file activity source per
// watched folder, wired to the host service (an open is delivered to the plug-in, which takes
// its version; a finished write is judged by the detector) and to the change journal. Every
// folder is backed up whole when watching starts; one whose source sees changes only after the
// fact has each change backed up once written. A flagged writer (an actor: one or more
// processes, or the unknown writer of after-the-fact changes, process 0) is rolled back once it has gone quiet:
// what it changed since its first change is undone from the database's editions and the change
// journal (rollback_plan.h) and its new files quarantined;
// each rollback is handed to a callback.
//
// Threads: the sources' worker threads run the callbacks; the flagged writers, the counters and
// the content of the service's own restores are kept under one lock, never held while the
// plug-in runs; a callback waits while a burst is being restored. Watch, GuardProtectedFolders,
// RollBackQuiet and Stop belong to the thread that owns the service.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/common_plugin_interface.h"
#include "reference/pellumhost/protection/after_the_fact_backup.h"
#include "reference/pellumhost/protection/change_log.h"
#include "reference/pellumhost/protection/file_activity.h"
#include "reference/pellumhost/protection/process_rollback.h"
#include "reference/pellumhost/protection/rollback_steps.h"
#include "reference/pellumhost/protection/rogue_detector.h"
#include "reference/pellumhost/services/reference_host_service.h"

namespace pellumhost {

// One watched folder, as Watch started it.
struct WatchedFolder {
    std::string folder;
    std::string kind;              // "before-write" or "after-the-fact"
    std::string note;              // why the best source is not the before-write one; often empty
    size_t baseline = 0;           // the files the engine holds once watching starts
    double baselineSeconds = 0;
    bool AfterTheFact() const { return kind == "after-the-fact"; }
};

// One rollback of a flagged writer: what it changed since its first change, undone
// (rollback_plan.h), its new files quarantined.
struct Rollback {
    uint32_t writer = 0;       // the flagged process; 0: the unknown writer of a burst
    std::string image;         // its image when it was flagged; empty when not known
    uint64_t fromUnixMs = 0;   // its first change: what is undone began then
    std::vector<StepResult> steps;
    std::string problem;       // why nothing could be planned (the journal or the database)
    double seconds = 0;        // the time the steps took
    size_t Done() const;       // the steps that succeeded
};

class WatchService {
public:
    using RollbackReport = std::function<void(const Rollback& rollback)>;

    // The plug-in must be started (wrapper from its QueryInterface) and outlive the service.
    WatchService(ReferenceHostService& service, const PluginExports& plugin,
                 ICommonPluginInterface* wrapper, SourceChoice choice);
    ~WatchService();
    WatchService(const WatchService&) = delete;
    WatchService& operator=(const WatchService&) = delete;

    // Journals every change the sources report into dbFolder's change journal (change_log.h)
    // from now until Stop. Call before Watch; false with the reason when it cannot be opened.
    bool KeepJournal(const std::string& dbFolder, std::string& error);
    // Starts a source of the chosen kind on folder; after the fact, backs up every file in it
    // before it returns. false with the reason in error when no source starts.
    bool Watch(const std::string& folder, WatchedFolder& watched, std::string& error);
    // A check that ends a baseline early when a stop is requested (AfterTheFactBackup::StopWhen).
    void StopWhen(std::function<bool()> requested) { m_backups.StopWhen(std::move(requested)); }
    // Has the sources refuse other processes' opens in the folders the plug-in protects (the
    // storage service's guard) until Stop, but for openToOthers (FileActivitySource::
    // LetOthersOpen). Call after every Watch.
    void GuardProtectedFolders(const std::vector<std::string>& openToOthers = {});

    // True once a writer is flagged and nobody has written for quietSeconds.
    bool FlaggedAndQuiet(double quietSeconds) const;
    // Rolls back every flagged writer that has written nothing for quietSeconds (none while a
    // change is still being backed up), each handed to report once done; the detector then
    // judges the writer afresh. Returns how many.
    size_t RollBackQuiet(double quietSeconds, const RollbackReport& report,
                         const RollbackProgress& progress = {});

    // Stops guarding and watching; flagged writers may still be rolled back afterwards.
    void Stop();

    uint64_t Opens() const;
    uint64_t Writes() const;
    // Every source's held opens, in microseconds (FileActivitySource::HoldMicroseconds); after Stop.
    std::vector<double> HoldMicroseconds() const;

private:
    struct Flag {
        double flaggedAt;
        double lastWrite;
        FlaggedActor actor;
    };

    // The one place where a source's callbacks are wired to the service.
    FileActivityCallbacks CallbacksFor();
    // Notes a change by processId while a rollback of its actor runs (Locked: m_lock held).
    void NoteChangeDuringRollback(uint32_t processId);
    void NoteChangeDuringRollbackLocked(uint32_t processId);
    Rollback RollBack(uint32_t writer, const Flag& flag, const RollbackProgress& progress);
    // The unix time of the actor's first change: what its rollback undoes began then.
    uint64_t FirstChangeOf(const Flag& flag, const std::vector<ChangeEntry>& journal) const;
    static std::string ImageOf(uint32_t processId);
    void Journal(ChangeKind kind, bool folder, uint32_t processId, const std::string& image,
                 const std::string& path, const std::string& to = {}, uint64_t unixMs = 0);

    ReferenceHostService& m_service;
    const PluginExports& m_plugin;
    ICommonPluginInterface* const m_wrapper;
    const SourceChoice m_choice;
    AfterTheFactBackup m_backups;
    ChangeLog m_journal;
    std::string m_dbFolder;
    std::vector<std::string> m_folders;
    std::vector<std::unique_ptr<FileActivitySource>> m_sources;
    bool m_guarding = false;

    mutable std::mutex m_lock;  // the members below
    std::map<uint32_t, Flag> m_flagged;  // by the actor's first process
    uint64_t m_opens = 0, m_writes = 0;
    double m_lastWrite = 0;  // of any writer
    // The actor being rolled back, and whether it changed something meanwhile (and when): what
    // it did after the plan was read is undone by another pass.
    std::vector<uint32_t> m_rollingBack;
    bool m_changedDuringRollback = false;
    double m_lastChangeDuringRollback = 0;
};

// The sample at the given fraction (0.5: the median) of samples, 0 when there are none.
double Percentile(std::vector<double> samples, double fraction);

}  // namespace pellumhost
