// Puts content back in place of a file without ever leaving it half written: the content is
// written beside the target, flushed, given the target's attributes, and renamed over it.
#pragma once
#include <string>

#include "reference/zef/file_copy.h"
#include "reference/zef/file_table.h"
#include "reference/zef/restore_results.h"

namespace zef {

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

// 0 when target now holds source's content, else a RestoreFailure. *method tells how the
// content was written.
uint32_t ReplaceWithCopy(const FileTable& files, const RestoreSource& source,
                         const std::u16string& target, CopyMethod* method);
const char16_t* RestoreFailureName(uint32_t code);

}  // namespace zef
