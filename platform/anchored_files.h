// Files in a user's folder, for a service that runs as root there: the folder is reached
// without following any link, and every file is created, opened, renamed and removed relative
// to that folder, so that nobody who can write a folder on the way can redirect the service
// to a file of their choice. Every call is safe from any thread.
#pragma once
#include <cstdint>
#include <string>

#include "platform/file_ops.h"
#include "platform/storage_file.h"

namespace platform {

// A folder held open as OpenFolderWithoutLinks found it; kInvalidFolder when none.
using FolderHandle = intptr_t;
constexpr FolderHandle kInvalidFolder = -1;

enum class FolderRefusal {
    kNone,
    kMissing,    // a part of the path does not exist
    kLink,       // a part is a link (a reparse point on Windows); it is not followed
    kNotFolder,  // a part is a file
    kDenied,     // a part cannot be opened (permissions, or the system refuses)
};

struct OpenedFolder {
    FolderHandle folder = kInvalidFolder;
    FolderRefusal refusal = FolderRefusal::kNone;
    std::u16string where;  // the path up to the part refused
};

// Opens a folder (absolute, or relative to the current folder) with no link on the way:
// Linux: openat2 with RESOLVE_NO_SYMLINKS, or, where the system lacks or refuses it, a walk
// of O_NOFOLLOW opens from the root; Windows: each part opened without following a reparse
// point and held open, undeletable, for as long as the folder is. CloseFolder ends it.
OpenedFolder OpenFolderWithoutLinks(const char16_t* path);
void CloseFolder(FolderHandle folder);
// What a refusal says, for a message ("is a link, which is not followed").
const char16_t* FolderRefusalText(FolderRefusal refusal);

// Creates a file that did not exist in folder, named prefix + 16 random hexadecimal digits +
// suffix (O_CREAT|O_EXCL|O_NOFOLLOW with mode 0600; CREATE_NEW), open for writing; its name
// goes to *name. Nothing planted under any name can be opened or overwritten this way.
FileHandle CreateNewFileIn(FolderHandle folder, const char16_t* prefix, const char16_t* suffix,
                           std::u16string* name);
// Opens name in folder for reading when it is a regular file and not a link; *isLink (may be
// null) tells that a link was refused.
FileHandle OpenFileInFolder(FolderHandle folder, const char16_t* name, bool* isLink);
// The ownership of name in folder, the entry itself and not what a link names; false when
// there is none (or it is a link).
bool ReadOwnershipInFolder(FolderHandle folder, const char16_t* name, FileOwnership* ownership);
// Replaces to by from, both names in folder, in one step; a link named to is replaced, not
// followed. A read-only target is replaced too (Windows refuses that otherwise).
bool RenameInFolder(FolderHandle folder, const char16_t* from, const char16_t* to);
// Removes name from folder; a link is removed, never what it names.
bool RemoveFromFolder(FolderHandle folder, const char16_t* name);

// Makes the folder name in folder, with the owner, group and mode of folder itself (so that a
// user's tree made again stays the user's); false when it exists or cannot be made.
bool CreateFolderIn(FolderHandle folder, const char16_t* name);
// Moves name (a file or a folder) from one folder to newName in another (or the same) on the
// same file system; never replaces: false when newName exists or the move cannot be done.
bool MoveBetweenFolders(FolderHandle from, const char16_t* name, FolderHandle to,
                        const char16_t* newName);

// Opens a file by path for reading with no link on the way or at its end; *isLink (may be
// null) tells that a link was refused.
FileHandle OpenForReadingWithoutLinks(const char16_t* path, bool* isLink);

}  // namespace platform
