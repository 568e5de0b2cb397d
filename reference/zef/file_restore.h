// Puts content back in place of a file without ever leaving it half written, and without
// letting anyone who can write the target's folder redirect the service: the target's folder
// is reached without following any link, the content is written to a file created new there
// under an unpredictable name, flushed, given the ownership the edition recorded (or the
// target's own), and renamed over the target relative to that same folder.
#pragma once
#include <string>

#include "reference/zef/file_copy.h"
#include "reference/zef/file_table.h"
#include "reference/zef/restore_results.h"

namespace zef {

// A link (a reparse point on Windows) stands where a folder of the target's path should be;
// it is not followed and nothing is written.
constexpr uint32_t kRestoreThroughLink = 8;

// The restore temporaries are named kRestoreTemporaryPrefix + 16 random hexadecimal digits +
// ".tmp"; one left by a killed restore is found by that name and removed with
// RemoveRestoreTemporary.
constexpr char16_t kRestoreTemporaryPrefix[] = u"~zef-";

// What a restore puts back: a content file and, when known, what its bytes must be.
struct RestoreSource {
    std::u16string path;
    // When set, the bytes copied must be size bytes with this digest, or nothing reaches the
    // target (kRestoreContentDamaged).
    const Digest* digest = nullptr;
    uint64_t size = 0;
    // When set, the restored file is given this owner, group and mode (attributes on
    // Windows); otherwise it keeps the target's.
    const platform::FileOwnership* ownership = nullptr;
};

// 0 when target now holds source's content, else a RestoreFailure or kRestoreThroughLink.
// *method tells how the content was written. When the target's folder is refused, *refusal
// (may be null) names the part of the path refused and why ("/srv/a/b is a link, ...").
uint32_t ReplaceWithCopy(const FileTable& files, const RestoreSource& source,
                         const std::u16string& target, CopyMethod* method,
                         std::u16string* refusal = nullptr);
const char16_t* RestoreFailureName(uint32_t code);

// Whether name has the form of a restore temporary.
bool IsRestoreTemporaryName(const std::u16string& name);
// Removes the restore temporary name from folder, reached without following a link; false
// when name is not a restore temporary's or cannot be removed.
bool RemoveRestoreTemporary(const std::u16string& folder, const std::u16string& name);

}  // namespace zef
