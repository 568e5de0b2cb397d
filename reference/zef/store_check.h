// Checking, repairing and diagnosing a backup database from outside the engine: what the
// host's `check` and `repair` commands, and its explanation of a failed start, call. Each
// function takes the database folder and answers a StoreHealth with one sentence that says
// what is wrong and what to do; none of them throws. Safe from any thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "reference/zef/edition_index.h"
#include "reference/zef/file_table.h"

namespace zef {

enum class StoreHealth : uint32_t {
    kHealthy = 0,
    kInUse = 1,           // another instance holds the folder
    kIndexDamaged = 2,    // the edition log cannot be read, or is damaged (the sentence says where)
    kIndexMissing = 3,    // content is kept but no edition log names it
    kReadOnly = 4,        // the folder cannot be written: listings and restores only
    kContentDamaged = 5,  // a content file's bytes do not match its digest (problems name editions)
    kContentMissing = 6,  // a content file is gone (problems name the editions)
    kFolderUnusable = 7,  // not set, not a folder, or cannot be made
};

struct StoreReport {
    StoreHealth health = StoreHealth::kHealthy;
    std::u16string summary;               // one sentence: what is wrong, what to do
    std::vector<std::u16string> problems; // one line per edition or file at fault
    uint32_t editions = 0;                // editions the database names
    uint32_t intact = 0;                  // of those, content read and digest matched
    uint32_t orphans = 0;                 // content files that no edition names
};

// Reads the edition log and every content file, and checks each against its digest. Changes
// nothing, so it may run while the service holds the database. The worst finding decides the
// health (damaged index, then damaged content, then missing content).
StoreHealth CheckStore(const std::u16string& folder, StoreReport& report,
                       const FileTable& files = SystemFileTable());

// Rebuilds the edition log from what survives: the good records of the old log and the
// descriptor beside every edition's content (each content's digest verified). Needs the
// folder to itself (kInUse otherwise). A damaged old log is kept as editions.log.damaged-TIME;
// editions whose content is missing or damaged stay, marked in the problems. Nothing is deleted.
StoreHealth RepairStore(const std::u16string& folder, StoreReport& report,
                        const FileTable& files = SystemFileTable());

// Why a store cannot be opened (in use, damaged or missing index and where, read-only,
// unusable folder), found by opening it as the engine would, without changing it beyond what
// an engine's open does; kHealthy when it opens for writing.
StoreHealth DiagnoseStore(const std::u16string& folder, StoreReport& report,
                          const FileTable& files = SystemFileTable());

// The editions of one file that the database's log names, newest first, each with its
// content checked against its digest (Edition::state). Reads without the lock, so it may run
// beside the engine; false when the log cannot be read.
bool EditionsOfFile(const std::u16string& folder, const std::u16string& path,
                    std::vector<Edition>& editions, const FileTable& files = SystemFileTable());

// Every edition the database's log names whose path lies in folder `under` (or is it), in no
// particular order and without reading their content; reads without the lock, like
// EditionsOfFile. False when the log cannot be read.
bool EditionsUnder(const std::u16string& folder, const std::u16string& under,
                   std::vector<Edition>& editions, const FileTable& files = SystemFileTable());

const char16_t* StoreHealthName(StoreHealth health);

}  // namespace zef
