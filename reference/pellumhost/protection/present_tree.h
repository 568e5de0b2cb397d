// What a rollback plan compares the editions with: the files under a folder as they are now,
// read without following links.
#pragma once
#include <string>

#include "reference/pellumhost/protection/rollback_plan.h"

namespace pellumhost {

// The present of folder (UTF-8): a look at any path, the digest of a file's content, and every
// regular file below it (links neither listed nor followed; the database folder left out when
// it lies inside).
PresentTree PresentTreeOf(const std::string& folder, const std::string& dbFolder);
// The same present, but with files named rather than found by walking a folder (those of the
// list that are regular files now).
PresentTree PresentTreeOfFiles(const std::vector<std::u16string>& files);

}  // namespace pellumhost
