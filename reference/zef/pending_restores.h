// Restores under way, noted in the database ("restoring" folder, a small file per restore that
// names the target's folder) before anything is written beside a target and removed once the
// restore is over. A restore killed half-way leaves its note, so the next start finds the
// temporary it left beside the target and removes it. Safe from any thread.
#pragma once
#include <atomic>
#include <string>

#include "reference/zef/engine_log.h"
#include "reference/zef/file_table.h"

namespace zef {

class PendingRestores {
public:
    PendingRestores(const FileTable& files, EngineLog& log) : m_files(files), m_log(log) {}

    // Takes the notes of dbFolder: every restore a killed run left has its temporaries
    // removed from its target's folder (without following a link), and its note goes.
    void Open(const std::u16string& dbFolder);
    // Notes a restore into targetFolder; answers the note to End, empty when none could be
    // written (the restore goes on: only its clean-up after a crash is lost).
    std::u16string Begin(const std::u16string& targetFolder);
    void End(const std::u16string& note);

private:
    const FileTable& m_files;
    EngineLog& m_log;
    std::u16string m_folder;  // set by Open before any restore, read-only afterwards
    std::atomic<uint32_t> m_counter{0};
};

}  // namespace zef
