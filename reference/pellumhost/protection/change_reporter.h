// What an after-the-fact source makes of the changes its directory reader gives. A written
// file is reported once it has been quiet for kSettle (Windows tells of a write while it
// happens, often more than once); a creation, a removal or a rename is reported at once, and a
// file renamed while it settles is reported under its new name. A file created is then written
// once it settles; one told created again (the reader may tell twice) is only written. The
// reporter keeps the size and write time of every file it saw and the folders it knows, so that
// a renamed folder is reported as a folder and then names its files, a removed folder names its
// files before itself and, when the system loses count of the changes, the folder read again
// tells what changed. The system does not tell the writer, so every change is reported for
// process 0. Not locked: one thread (the source's reader) calls it.
#pragma once
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/directory_changes.h"
#include "reference/pellumhost/protection/file_activity.h"
#include "reference/pellumhost/protection/folder_snapshot.h"

namespace pellumhost {

constexpr auto kSettle = std::chrono::milliseconds(100);

class ChangeReporter {
public:
    using Clock = std::chrono::steady_clock;

    // Watches root (no separator at its end); what it holds now is what was seen.
    ChangeReporter(std::u16string root, FileActivityCallbacks callbacks);

    void Apply(const platform::DirectoryChange& change, Clock::time_point now);
    // The system lost count of the changes: the folder is read again against what was seen,
    // a file or folder gone is reported removed, one new created, and a file new or changed is
    // reported written once settled.
    void Rescan(Clock::time_point now);
    // Reports each write quiet for kSettle at now.
    void ReportSettled(Clock::time_point now);
    // True while a write waits to settle.
    bool Settling() const { return !m_settling.empty() || !m_removing.empty(); }
    void Log(const std::string& line);

private:
    // Takes the files seen at path or below it out of what was seen, and returns them.
    FolderSnapshot Forget(const std::u16string& path);
    void Created(const std::u16string& path, Clock::time_point now);
    // A removal or a move out: the files seen at path or below it, then the folder.
    void RemovedTree(const std::u16string& path);
    void Removed(const std::u16string& path, bool folder);
    void Renamed(const std::u16string& from, const std::u16string& to, Clock::time_point now);
    void Report(const std::u16string& path);

    const std::u16string m_root;
    const FileActivityCallbacks m_callbacks;
    std::map<std::u16string, Clock::time_point> m_settling;  // written, reported once quiet
    // Files removed, reported once kSettle has passed: one made again under the same name
    // meanwhile (an archiver replaces a file so) is told as removed, created and written at
    // once, so that a judge sees each file's replacement whole before the next removal.
    std::map<std::u16string, Clock::time_point> m_removing;
    std::set<std::u16string> m_folders;  // below the root
    FolderSnapshot m_seen;  // a file created and not settled yet has no stamp
};

}  // namespace pellumhost
