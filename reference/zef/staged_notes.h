// The notes of staged versions ("staged.log" in the database folder): one append-only journal
// of framed records, one record per note, instead of a note file beside each staged copy, so
// that noting a version on the event path is one write to an open file (no file created,
// renamed or removed). A record names a staged copy and holds what its edition will say (the
// digest once it is known), or says that the copy is done with (kept or dropped). The store's
// committer makes the journal durable with what it names. One lock; safe from any thread.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "reference/zef/edition_log.h"
#include "reference/zef/file_table.h"

namespace zef {

// A staged copy's name (in the staging folder) and its note.
struct NotedCopy {
    std::u16string name;
    LogRecord note;
};

class StagedNotes {
public:
    explicit StagedNotes(const FileTable& files) : m_files(files) {}
    StagedNotes(const StagedNotes&) = delete;
    StagedNotes& operator=(const StagedNotes&) = delete;
    ~StagedNotes() { Close(); }

    // Reads the journal at path (none yet is an empty one) and keeps it open for appends.
    // live: the copies noted and not done with, in the order first noted. A torn last write
    // is cut; damage in the middle keeps the records before it, and sets *damaged (the copies
    // it may have named are then no proof of garbage). False with why when it cannot be
    // written.
    bool Open(const std::u16string& path, std::vector<NotedCopy>& live, bool* damaged,
              std::u16string& why);
    // Notes a staged copy, or notes it again (with its digest): the last note counts.
    bool Note(const std::u16string& name, const LogRecord& note);
    // The copy is kept as an edition or dropped: its note no longer counts.
    void Done(const std::u16string& name);
    // Runs act while name's note counts, so that Done waits for it; false when it does not.
    bool IfNoted(const std::u16string& name, const std::function<bool()>& act);
    // Pushes what was appended to the disk, and rewrites the journal with the live notes alone
    // once most of it is done with (written beside and renamed over, durably).
    void Commit();
    // Leaves the journal durable, holding the live notes alone.
    void Close();
    size_t LiveCount() const;

private:
    bool AppendLocked(const std::u16string& name, const LogRecord* note);
    bool RewriteLocked();

    const FileTable& m_files;
    mutable std::mutex m_lock;
    std::u16string m_path;
    FileHandle m_file = kInvalidFile;
    // The frame of each live note, by copy name, and the journal's bytes against theirs.
    std::unordered_map<std::u16string, std::vector<uint8_t>> m_live;
    uint64_t m_bytes = 0;
    uint64_t m_liveBytes = 0;
    bool m_dirty = false;
};

}  // namespace zef
