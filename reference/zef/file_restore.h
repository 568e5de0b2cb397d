// Puts content back in place of a file without ever leaving it half written: the content is
// written beside the target, flushed, given the target's attributes, and renamed over it.
#pragma once
#include <string>

#include "reference/zef/file_copy.h"
#include "reference/zef/file_table.h"
#include "reference/zef/restore_results.h"

namespace zef {

// 0 when target now holds source's content, else a RestoreFailure. *method tells how the
// content was written.
uint32_t ReplaceWithCopy(const FileTable& files, const std::u16string& source,
                         const std::u16string& target, CopyMethod* method);
const char16_t* RestoreFailureName(uint32_t code);

}  // namespace zef
