// The notes of restores under way: the target's folder as a record text, one file each.
#include "reference/zef/pending_restores.h"

#include "platform/process.h"
#include "platform/storage_file.h"
#include "reference/zef/engine_text.h"
#include "reference/zef/file_restore.h"
#include "reference/zef/record_codec.h"

namespace zef {

void PendingRestores::Open(const std::u16string& dbFolder) {
    m_folder = JoinPath(dbFolder, u"restoring");
    m_files.createFolderTree(m_folder.c_str());
    std::vector<std::u16string> notes;
    m_files.listFiles(m_folder.c_str(), notes);
    for (const std::u16string& note : notes) {
        const std::u16string path = JoinPath(m_folder, note);
        std::vector<uint8_t> bytes;
        std::u16string folder;
        if (ReadWholeFile(m_files, path, 4 + 2u * kMaxTextUnits, bytes) &&
            RecordReader(bytes.data(), bytes.size()).Text(folder)) {
            std::vector<std::u16string> names;
            m_files.listFiles(folder.c_str(), names);
            for (const std::u16string& name : names) {
                if (!IsRestoreTemporaryName(name)) continue;
                const bool removed = RemoveRestoreTemporary(folder, name);
                m_log.Write(removed ? LogLevel::kInfo : LogLevel::kWarning,
                            Concat(u"A restore killed half-way left ", JoinPath(folder, name),
                                   removed ? u"; it is removed." : u"; it cannot be removed."));
            }
        }
        m_files.remove(path.c_str());
    }
}

std::u16string PendingRestores::Begin(const std::u16string& targetFolder) {
    if (m_folder.empty()) return {};
    const std::u16string note = JoinPath(
        m_folder, Concat(platform::CurrentProcessId(), u"-", ++m_counter, u".restore"));
    RecordWriter bytes;
    bytes.Text(targetFolder);
    // Not flushed: a killed process's writes survive it; a power loss may lose the note and
    // with it one temporary's clean-up, never content.
    if (!WriteFileAtomically(m_files, note, bytes.Result(), false)) {
        m_log.Write(LogLevel::kWarning, Concat(u"The restore into ", targetFolder,
                                               u" is not noted in the database; a temporary it "
                                               u"might leave if killed would stay."));
        return {};
    }
    return note;
}

void PendingRestores::End(const std::u16string& note) {
    if (!note.empty()) m_files.remove(note.c_str());
}

}  // namespace zef
