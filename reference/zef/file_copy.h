// Copies one file's content into a new file: by sharing blocks where the file system can
// (FICLONE), else by reading and writing; optionally hashing and flushing on the way. The
// source is opened without following any link, on its way or at its end: a link in a user's
// folder never makes the service (root) read a file of the link's choosing.
#pragma once
#include <cstdint>
#include <string>

#include "platform/storage_file.h"
#include "reference/zef/content_digest.h"
#include "reference/zef/file_table.h"

namespace zef {

enum class CopyMethod { kNone, kClone, kCopy };
enum class CopyStatus { kOk, kSourceUnreadable, kTooLarge, kTargetFailed };

struct CopyRequest {
    bool hash = false;     // compute the SHA-1 of the content
    bool durable = false;  // flush the target to the disk before answering
    bool clone = true;     // try a block clone first (false: the file system refused one)
    uint64_t limit = UINT64_MAX;  // larger sources are refused with kTooLarge
};

struct CopyOutcome {
    CopyStatus status = CopyStatus::kSourceUnreadable;
    CopyMethod method = CopyMethod::kNone;
    uint64_t size = 0;
    Digest digest{};
    bool ownershipKnown = false;  // the source's owner, group and mode, read as it was opened
    platform::FileOwnership ownership;
    bool sourceIsLink = false;  // kSourceUnreadable because a link was not followed
    bool cloneUnsupported = false;  // the target's file system cannot clone: ask no more
};

// Copies source into target (created or emptied); on failure the target is removed.
CopyOutcome CopyFileContent(const FileTable& files, const std::u16string& source,
                            const std::u16string& target, const CopyRequest& request);
// Copies source into out, a file open for writing and empty, which the caller created (and
// closes, and removes on failure).
CopyOutcome CopyIntoFile(const FileTable& files, const std::u16string& source, FileHandle out,
                         const CopyRequest& request);
// Whether two files hold the same bytes; false when either cannot be read.
bool SameContent(const FileTable& files, const std::u16string& first,
                 const std::u16string& second);
const char16_t* CopyMethodName(CopyMethod method);
const char16_t* CopyStatusName(CopyStatus status);

}  // namespace zef
