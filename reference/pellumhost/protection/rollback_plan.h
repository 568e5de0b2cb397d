// What a rollback must do to bring the files under a folder back as they were at a moment:
// worked out from the database's editions and the change journal, before anything is touched,
// so that `rollback --dry-run` shows exactly what a rollback does. Limited to a writer (some
// process ids, or an image), it undoes only what that writer changed after the moment.
//
// The content a file had at the moment is its newest edition taken by then. A version taken
// before a write (the before-write source) holds the content before that write, so the first
// such version of the writer being rolled back is the last one that counts, even within the
// moment's second; a copy taken after a change (the after-the-fact source) counts only when it
// was taken in an earlier second, or in the moment's own second when no writer is named.
// Nothing in a plan empties or half-writes a file: a file the writer created is left alone or
// quarantined, never restored to the empty content it had when it was created.
#pragma once
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "reference/pellumhost/protection/change_log.h"
#include "reference/zef/edition_index.h"

namespace pellumhost {

enum class StepAction {
    kRenameFolderBack,  // a folder renamed since: from -> path
    kRenameBack,        // a file renamed since, its content unchanged: from -> path
    kRestore,           // path gets edition's content (its folders made when missing)
    kQuarantine,        // a file created since: moved out of the tree into the database
    kLeaveCreated,      // a file created since: left as it is
    kNoContent,         // the file had content then, but its edition cannot be read
};

struct RollbackStep {
    StepAction action = StepAction::kRestore;
    std::u16string path;
    std::u16string from;     // the current name, for the renames
    uint32_t editionId = 0;  // kRestore, kNoContent
    std::string why;         // one phrase: "changed since", "removed since", "created since"...
};

// What a file under the folder is now.
struct PresentFile {
    enum Kind { kMissing, kFile, kFolder, kOther } kind = kMissing;
    uint64_t size = 0;
};

struct RollbackQuestion {
    std::u16string folder;        // the tree; no separator at its end; empty: every file
    uint64_t toUnixMs = 0;        // the moment
    std::set<uint32_t> processIds;  // limit to these writers (empty: every writer)
    std::u16string image;         // limit to this writer's image (empty: any)
    bool quarantine = false;      // move files created since into the database
};

// Reads the present: what is at path now, and the digest of its content when asked.
struct PresentTree {
    std::function<PresentFile(const std::u16string& path)> look;
    std::function<bool(const std::u16string& path, zef::Digest& digest)> digestOf;
    std::vector<std::u16string> files;  // every regular file under the folder now
};

// The steps, in the order they must run: folders renamed back, files renamed back, restores,
// then what to do with files created since. editions: every edition under the folder (any
// order); journal: the change journal in the order written.
std::vector<RollbackStep> PlanRollback(const RollbackQuestion& question,
                                       const std::vector<zef::Edition>& editions,
                                       const std::vector<ChangeEntry>& journal,
                                       const PresentTree& present);

// A step's action in a word ("restore", "rename back", ...).
const char* StepActionName(StepAction action);

}  // namespace pellumhost
