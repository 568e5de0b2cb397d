// What each watched file held, as far as the detector knows: its size and a fingerprint of
// its start, its kind, and which actor wrote or created it last. Recent removals are kept a
// short while, so that a file removed and then created again with the same bytes (an archiver
// that unlinks before it extracts) is known to have lost nothing. Not thread-safe: the
// activity judge holds its lock around every call.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "reference/pellumhost/protection/content_kind.h"

namespace pellumhost {

// The bytes of a file's start that are fingerprinted (a small file is fingerprinted whole).
constexpr size_t kFingerprintBytes = 4096;

// A file's content in brief.
struct ContentPrint {
    uint64_t size = 0;
    uint64_t fingerprint = 0;  // of the first `hashed` bytes
    uint32_t hashed = 0;       // min(size, kFingerprintBytes), or fewer when fewer were read
    ContentKind kind = ContentKind::kUnknown;
    bool random = false;  // random bytes of no known kind (where a write was measured)
};

// The print of a file of size bytes whose first bytes are head.
ContentPrint PrintOf(const uint8_t* head, size_t count, uint64_t size);
// True when content that starts with head (size bytes in all) still holds before whole: the
// same bytes again, or before with more appended.
bool KeepsContent(const ContentPrint& before, const uint8_t* head, size_t count, uint64_t size);
bool SamePrint(const ContentPrint& a, const ContentPrint& b);

struct RememberedFile {
    ContentPrint print;
    std::string writer;  // the actor that created or wrote it last; empty: none seen
    double at = 0;       // when, on the detector's clock
    // The name it had before its last rename, and the actor that renamed it: a file renamed
    // away and removed once a new version is under its old name was saved, not lost.
    std::string movedFrom, movedBy;
};

class ContentMemory {
public:
    // The file's record; null when none is known.
    const RememberedFile* Find(const std::string& path) const;
    void Note(const std::string& path, const ContentPrint& print, const std::string& writer,
              double at);
    void Put(const std::string& path, RememberedFile file);
    // Takes the file's record away (its name is gone); false when none was known.
    bool Take(const std::string& path, RememberedFile& taken);
    // Every record below folder moves below to (a folder renamed).
    void MoveFolder(const std::string& folder, const std::string& to);
    // No record keeps writer as its writer (the actor is judged afresh).
    void ForgetWriter(const std::string& writer);

    // A removal by actor at `at`, kept for RecentRemoval until `keepSeconds` later.
    void NoteRemoval(const std::string& path, const ContentPrint& print, const std::string& actor,
                     double at, double keepSeconds);
    // The removal of path by actor still kept at `now`, taken away (what the file held and
    // when it was removed); false when none.
    bool TakeRemoval(const std::string& path, const std::string& actor, double now,
                     ContentPrint& print, double& removedAt);

    size_t Files() const { return m_files.size(); }

private:
    struct Removal {
        std::string actor;
        ContentPrint print;
        double at, until;
    };
    std::map<std::string, RememberedFile> m_files;  // ordered: a folder's files are a range
    std::map<std::string, Removal> m_removals;       // the latest removal of each path
    std::deque<std::pair<double, std::string>> m_expiry;  // (until, path), oldest first
};

}  // namespace pellumhost
