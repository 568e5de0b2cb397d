// Actions worked out from the callbacks and what each file held, counted per actor; flagged
// actors stopped.
#include "reference/pellumhost/protection/activity_judge.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/process.h"
#include "platform/process_stop.h"
#include "platform/storage_file.h"
#include "platform/anchored_files.h"
#include "platform/text.h"

namespace pellumhost {
namespace {

// The key of the unknown writer's actor (process 0), and how long what it wrote is its own.
const char kUnknownActor[] = "0";
constexpr double kUnknownWriterOwnsSeconds = 1.0;

bool ReadStartOf(const std::string& path, size_t want, uint64_t& size, std::vector<uint8_t>& head) {
    const std::u16string wide = platform::FromUtf8(path);
    uint64_t writeTime = 0;
    head.clear();
    if (want == 0) return platform::FileStamp(wide.c_str(), &size, &writeTime);  // the size alone
    const platform::FileHandle file = platform::OpenForReadingWithoutLinks(wide.c_str(), nullptr);
    if (file == platform::kInvalidFile) return false;
    const bool read = platform::FileStamp(wide.c_str(), &size, &writeTime);
    head.resize(want);
    uint32_t held = 0, got = 0;
    while (read && held < want &&
           platform::ReadSome(file, head.data() + held, static_cast<uint32_t>(want - held), &got) &&
           got != 0)
        held += got;
    platform::CloseFile(file);
    head.resize(held);
    return read;
}

bool AllOneByte(const uint8_t* bytes, size_t count) {
    return count != 0 && std::all_of(bytes, bytes + count, [&](uint8_t b) { return b == bytes[0]; });
}

}  // namespace

JudgeSystem SystemJudge(std::function<void(uint32_t level, const std::string& line)> log) {
    JudgeSystem system;
    system.processes = SystemProcessFacts();
    system.readStart = ReadStartOf;
    system.stop = platform::TerminateProcessById;
    system.seconds = DetectorSeconds;
    system.unixMs = [] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count());
    };
    system.log = std::move(log);
    return system;
}

ActivityJudge::ActivityJudge(DetectorSettings settings, JudgeSystem system)
    : m_system(std::move(system)),
      m_detector(std::move(settings)),
      m_lineage(m_system.processes) {}

FileActivityCallbacks ActivityJudge::Callbacks(OnFlagged onFlagged) {
    FileActivityCallbacks callbacks;
    callbacks.onOpen = [this, onFlagged](uint32_t processId, const std::string& path,
                                         const FileStart* start) {
        OnOpen(processId, path, onFlagged, start);
    };
    callbacks.onWritten = [this, onFlagged](uint32_t processId, const std::string& path,
                                            const std::vector<uint8_t>& head) {
        OnWritten(processId, path, head, onFlagged);
    };
    callbacks.onCreated = [this, onFlagged](uint32_t processId, const std::string& path, bool folder) {
        OnCreated(processId, path, folder, onFlagged);
    };
    callbacks.onRemoved = [this, onFlagged](uint32_t processId, const std::string& path, bool folder) {
        OnRemoved(processId, path, folder, onFlagged);
    };
    callbacks.onRenamed = [this, onFlagged](uint32_t processId, const std::string& from,
                                            const std::string& to, bool folder) {
        OnRenamed(processId, from, to, folder, onFlagged);
    };
    return callbacks;
}

// The service's own restores are never judged (a restore overwrites what a rogue wrote).
bool ActivityJudge::Own(uint32_t processId) const {
    return processId != 0 && processId == m_system.processes.self;
}

bool ActivityJudge::Owns(const RememberedFile& file, const std::string& actor, double now) const {
    // What an actor wrote itself is its own to change for a while (journals, temporaries,
    // a file saved twice); not for ever. The unknown writer of after-the-fact changes is one
    // actor for every process, so what it wrote is its own only for a second (a journal made
    // and removed at once), else a copy made before an attack would shelter the copy from it.
    const double owned = actor == kUnknownActor ? kUnknownWriterOwnsSeconds
                                                : static_cast<double>(m_detector.Settings().halfLifeSeconds);
    return !file.writer.empty() && file.writer == actor && now - file.at < owned;
}

// Before-write: the content as it is while the open is held is what a write would destroy.
void ActivityJudge::OnOpen(uint32_t processId, const std::string& path, const OnFlagged& onFlagged,
                           const FileStart* start) {
    if (Own(processId)) return;
    uint64_t size = start != nullptr ? start->size : 0;
    std::vector<uint8_t> head = start != nullptr ? start->head : std::vector<uint8_t>();
    const bool read = start != nullptr || m_system.readStart(path, kFingerprintBytes, size, head);
    Outcome outcome;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const double now = m_system.seconds();
        const Actor actor = m_lineage.ActorOf(processId, now);
        if (m_detector.Join(actor.key, processId)) {
            outcome.verdict.joined = true;
            outcome.verdict.why = path + " opened by process " + std::to_string(processId) +
                                  ": its actor is flagged already; the process joins it";
            outcome.flagged = *m_detector.Flagged(actor.key);
            outcome.processId = processId;
            outcome.log = true;
        }
        if (read) {
            const ContentPrint print = PrintOf(head.data(), head.size(), size);
            const RememberedFile* known = m_memory.Find(path);
            // A file found empty that held content was cut by its path, which holds no open:
            // what it held is what the coming write destroys.
            const bool cutUnseen = known != nullptr && known->print.size > 0 && size == 0;
            if (!cutUnseen && (known == nullptr || !SamePrint(known->print, print)))
                m_memory.Note(path, print, "", now);
        }
    }
    Act(outcome, onFlagged);
}

void ActivityJudge::OnWritten(uint32_t processId, const std::string& path,
                              const std::vector<uint8_t>& head, const OnFlagged& onFlagged) {
    if (Own(processId)) return;
    uint64_t size = 0;
    std::vector<uint8_t> none;
    if (!m_system.readStart(path, 0, size, none) || size < head.size()) size = head.size();
    Outcome outcome;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const double now = m_system.seconds();
        const DetectorSettings& settings = m_detector.Settings();
        const Actor actor = m_lineage.ActorOf(processId, now);
        ContentPrint print = PrintOf(head.data(), head.size(), size);
        // The start judged is the one fingerprinted: enough to tell random bytes, and the cost
        // stays the same for a source that hands over more.
        const size_t judged = std::min(head.size(), kFingerprintBytes);
        print.random = print.kind == ContentKind::kUnknown && judged >= settings.minBytes &&
                       EntropyOf(head.data(), judged) >= settings.minEntropy;
        const RememberedFile* before = m_memory.Find(path);
        Damage damage = Damage::kNone;
        Signal signal = Signal::kNone;
        if (before != nullptr && before->print.size > 0 && !Owns(*before, actor.key, now) &&
            !KeepsContent(before->print, head.data(), head.size(), size)) {
            damage = size < before->print.size ? Damage::kTruncated : Damage::kOverwritten;
            if (before->print.kind != ContentKind::kUnknown) {
                if (print.random)
                    signal = Signal::kEncrypted;
                else if (AllOneByte(head.data(), judged))
                    signal = Signal::kWiped;
            }
        }
        // A removal undone by the same actor soon after: the same bytes again (an archiver
        // that unlinks first), or a new version of the same kind (a checkout replaces each
        // file so) lost nothing; random bytes or one repeated byte in its place did.
        ContentPrint removed;
        double removedAt = 0;
        if (damage == Damage::kNone &&
            m_memory.TakeRemoval(path, actor.key, now, removed, removedAt) &&
            (SamePrint(removed, print) ||
             (!print.random && print.kind == removed.kind && !AllOneByte(head.data(), judged))))
            m_detector.Refund(actor.key, path, removedAt, now);
        // A file becomes the writer's own only when it held nothing of anybody else's: bytes
        // rewritten as they were or appended to leave it its owner's (or nobody's).
        const bool takesOver = before == nullptr || before->print.size == 0 ||
                               damage != Damage::kNone || Owns(*before, actor.key, now);
        m_memory.Note(path, print, takesOver ? actor.key : before->writer,
                      takesOver ? now : before->at);
        outcome = CountLocked(actor, processId, ActionKind::kWrite, path, damage, signal, now);
    }
    Act(outcome, onFlagged);
}

void ActivityJudge::OnCreated(uint32_t processId, const std::string& path, bool folder,
                              const OnFlagged& onFlagged) {
    if (Own(processId)) return;
    Outcome outcome;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const double now = m_system.seconds();
        const Actor actor = m_lineage.ActorOf(processId, now);
        const RememberedFile* known = m_memory.Find(path);
        // A creation reported after the creator's first write keeps what the write noted.
        if (!folder && (known == nullptr || known->writer != actor.key))
            m_memory.Note(path, PrintOf(nullptr, 0, 0), actor.key, now);
        outcome = CountLocked(actor, processId, ActionKind::kCreate, path, Damage::kNone,
                              Signal::kNone, now);
    }
    Act(outcome, onFlagged);
}

void ActivityJudge::OnRemoved(uint32_t processId, const std::string& path, bool folder,
                              const OnFlagged& onFlagged) {
    if (folder || Own(processId)) return;  // a folder's files were reported before it
    Outcome outcome;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const double now = m_system.seconds();
        const Actor actor = m_lineage.ActorOf(processId, now);
        RememberedFile gone;
        const bool known = m_memory.Take(path, gone);
        // A file never seen had content nobody watched being made: its removal counts.
        const bool lost = !known || (gone.print.size > 0 && !Owns(gone, actor.key, now));
        Damage damage = lost ? Damage::kRemoved : Damage::kNone;
        Signal signal = Signal::kNone;
        if (lost && known && gone.movedBy == actor.key) {
            // Renamed away by this actor, and now a new version of its own under the old name:
            // saved (an editor's backup removed), or replaced by its ciphertext.
            const RememberedFile* version = m_memory.Find(gone.movedFrom);
            if (version != nullptr && Owns(*version, actor.key, now)) {
                if (version->print.random && gone.print.kind != ContentKind::kUnknown)
                    signal = Signal::kEncrypted;
                else if (!version->print.random && version->print.kind == gone.print.kind)
                    damage = Damage::kNone;
            }
        }
        if (known && damage != Damage::kNone)
            m_memory.NoteRemoval(path, gone.print, actor.key, now, kRecreateSeconds);
        outcome = CountLocked(actor, processId, ActionKind::kRemove, path, damage, signal, now);
    }
    Act(outcome, onFlagged);
}

void ActivityJudge::OnRenamed(uint32_t processId, const std::string& from, const std::string& to,
                              bool folder, const OnFlagged& onFlagged) {
    if (Own(processId)) return;
    Outcome outcome;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const double now = m_system.seconds();
        const Actor actor = m_lineage.ActorOf(processId, now);
        Damage damage = Damage::kNone;
        Signal signal = Signal::kNone;
        if (folder) {
            m_memory.MoveFolder(from, to);
        } else {
            // The files of a renamed folder are reported after it: their records moved with it
            // already, and nothing is known at their old paths.
            RememberedFile moved;
            if (m_memory.Take(from, moved)) {
                const RememberedFile* target = m_memory.Find(to);
                if (target != nullptr && target->print.size > 0 && !Owns(*target, actor.key, now) &&
                    !SamePrint(target->print, moved.print)) {
                    // A new version the actor wrote, renamed over the old one (a save), loses
                    // nothing; random bytes over a known kind are its ciphertext.
                    const bool newVersion = Owns(moved, actor.key, now) && !moved.print.random &&
                                            moved.print.kind == target->print.kind;
                    if (!newVersion) damage = Damage::kReplaced;
                    if (!newVersion && moved.print.random && target->print.kind != ContentKind::kUnknown)
                        signal = Signal::kEncrypted;
                }
                moved.movedFrom = from;
                moved.movedBy = actor.key;
                m_memory.Put(to, std::move(moved));
            }
        }
        outcome = CountLocked(actor, processId, ActionKind::kRename, folder ? from : to, damage,
                              signal, now);
    }
    Act(outcome, onFlagged);
}

ActivityJudge::Outcome ActivityJudge::CountLocked(const Actor& actor, uint32_t processId,
                                                  ActionKind kind, const std::string& path,
                                                  Damage damage, Signal signal, double now) {
    Outcome outcome;
    Action action;
    action.actor = actor.key;
    action.image = actor.image;
    action.processId = processId;
    action.kind = kind;
    action.path = path;
    action.damage = damage;
    action.signal = signal;
    action.at = now;
    outcome.verdict = m_detector.Count(action);
    outcome.processId = processId;
    outcome.log = damage != Damage::kNone || outcome.verdict.flagged || outcome.verdict.joined ||
                  (outcome.verdict.trusted && kind != ActionKind::kCreate);
    if (outcome.verdict.flagged || outcome.verdict.joined) {
        outcome.flagged = *m_detector.Flagged(actor.key);
        const double since = std::max(0.0, now - outcome.flagged.firstAction);
        outcome.flagged.firstActionUnixMs = m_system.unixMs() - static_cast<uint64_t>(since * 1000);
    }
    return outcome;
}

void ActivityJudge::Act(const Outcome& outcome, const OnFlagged& onFlagged) {
    if (outcome.log && m_system.log) m_system.log(2, "detector: " + outcome.verdict.why);
    if (outcome.verdict.flagged) {
        for (uint32_t processId : outcome.flagged.processIds) Stop(processId);
    } else if (outcome.verdict.joined) {
        Stop(outcome.processId);
    } else {
        return;
    }
    if (onFlagged) onFlagged(outcome.flagged);
}

void ActivityJudge::Stop(uint32_t processId) {
    const auto log = [this](uint32_t level, const std::string& line) {
        if (m_system.log) m_system.log(level, "detector: process " + line);
    };
    if (processId <= 1 || processId == m_system.processes.self)
        log(3, std::to_string(processId) + " is not stopped: it is this service, the system's "
                                           "first, or the unknown writer of changes seen after the fact");
    else if (m_system.stop(processId))
        log(2, std::to_string(processId) + " stopped before its files are rolled back");
    else
        log(3, std::to_string(processId) + " could not be stopped (gone already, or not ours to stop)");
}

void ActivityJudge::NoteExisting(const std::string& path) {
    uint64_t size = 0;
    std::vector<uint8_t> head;
    if (!m_system.readStart(path, kFingerprintBytes, size, head)) return;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_memory.Find(path) == nullptr)
        m_memory.Note(path, PrintOf(head.data(), head.size(), size), "", m_system.seconds());
}

void ActivityJudge::ForgetActorOf(uint32_t processId) {
    std::lock_guard<std::mutex> guard(m_lock);
    const std::string actor = processId == 0 ? "0" : m_detector.ActorOfProcess(processId);
    if (actor.empty()) return;
    m_detector.Forget(actor);
    m_memory.ForgetWriter(actor);
}

void ActivityJudge::Reconfigure(DetectorSettings settings) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_detector.Reconfigure(std::move(settings));
}

DetectorSettings ActivityJudge::Settings() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_detector.Settings();
}

}  // namespace pellumhost
