// The words for a folder refused on the way to a user's file, the same on every platform.
#include "platform/anchored_files.h"

namespace platform {

const char16_t* FolderRefusalText(FolderRefusal refusal) {
    switch (refusal) {
        case FolderRefusal::kNone: return u"is usable";
        case FolderRefusal::kMissing: return u"does not exist";
        case FolderRefusal::kLink: return u"is a link, which is not followed";
        case FolderRefusal::kNotFolder: return u"is not a folder";
        case FolderRefusal::kDenied: return u"cannot be opened";
    }
    return u"cannot be used";
}

}  // namespace platform
