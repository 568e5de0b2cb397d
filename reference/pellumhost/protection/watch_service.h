// The service loop's watching, the same for `run` and the demo: a file activity source per
// watched folder, wired to the host service (an open is delivered to the plug-in, which takes
// its version; a finished write is judged by the detector). A folder whose source sees changes
// only after the fact is backed up whole when watching starts, and each change once written.
// A flagged writer (an actor: one or more processes) is rolled back once it has gone quiet:
// each known process through the plug-in's process walk (0x2360000D), the unknown writer of
// after-the-fact changes (process 0) as a burst from its first counted action, each file from
// its edition before the burst; each rollback is handed to a callback.
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
#include "reference/pellumhost/protection/file_activity.h"
#include "reference/pellumhost/protection/process_rollback.h"
#include "reference/pellumhost/protection/rogue_detector.h"
#include "reference/pellumhost/services/reference_host_service.h"

namespace pellumhost {

// One watched folder, as Watch started it.
struct WatchedFolder {
    std::string folder;
    std::string kind;              // "before-write" or "after-the-fact"
    std::string note;              // why the best source is not the before-write one; often empty
    size_t baseline = 0;           // after the fact: the files the engine holds once watching starts
    double baselineSeconds = 0;
    bool AfterTheFact() const { return kind == "after-the-fact"; }
};

// One rollback of a flagged writer.
struct Rollback {
    uint32_t writer = 0;       // the flagged process; 0: the unknown writer of a burst
    std::string image;         // its image when it was flagged; empty when not known
    bool byProcess = false;    // through the process walk; else a burst restored by edition
    uint32_t walkResult = 0;   // the process walk's listing result (byProcess only)
    std::vector<RolledBackFile> files;  // one entry per file, in walk or burst order
    double seconds = 0;        // the time the restores took
    size_t Restored() const;   // the files restored with success
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
    // Rolls back every flagged writer that has written nothing for quietSeconds, each handed
    // to report once done; the detector then judges the writer afresh. Returns how many.
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
    Rollback RollBack(uint32_t writer, const Flag& flag, const RollbackProgress& progress);

    ReferenceHostService& m_service;
    const PluginExports& m_plugin;
    ICommonPluginInterface* const m_wrapper;
    const SourceChoice m_choice;
    AfterTheFactBackup m_backups;
    std::vector<std::unique_ptr<FileActivitySource>> m_sources;
    bool m_guarding = false;

    mutable std::mutex m_lock;  // the members below
    std::map<uint32_t, Flag> m_flagged;  // by the actor's first process
    uint64_t m_opens = 0, m_writes = 0;
    double m_lastWrite = 0;  // of any writer
};

}  // namespace pellumhost
