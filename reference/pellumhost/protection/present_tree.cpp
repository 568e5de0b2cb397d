// The present tree of a rollback, from the file system.
#include "reference/pellumhost/protection/present_tree.h"

#include <filesystem>

#include "platform/anchored_files.h"
#include "platform/storage_file.h"
#include "platform/text.h"
#include "reference/zef/content_digest.h"

namespace pellumhost {
namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::u16string& path) { return fs::path(path); }

PresentFile LookAt(const std::u16string& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(PathOf(path), ec);
    PresentFile file;
    if (ec || status.type() == fs::file_type::not_found) return file;
    if (fs::is_regular_file(status)) {
        file.kind = PresentFile::kFile;
        file.size = fs::file_size(PathOf(path), ec);
    } else {
        file.kind = fs::is_directory(status) ? PresentFile::kFolder : PresentFile::kOther;
    }
    return file;
}

bool DigestOfPresent(const std::u16string& path, zef::Digest& digest) {
    const platform::FileHandle file = platform::OpenForReadingWithoutLinks(path.c_str(), nullptr);
    if (file == platform::kInvalidFile) return false;
    zef::DigestBuilder builder;
    std::vector<uint8_t> buffer(1 << 16);
    uint32_t got = 0;
    bool read = true;
    while ((read = platform::ReadSome(file, buffer.data(), static_cast<uint32_t>(buffer.size()), &got)) &&
           got != 0)
        builder.Add(buffer.data(), got);
    platform::CloseFile(file);
    digest = builder.Finish();
    return read;
}

std::vector<std::u16string> FilesUnder(const std::u16string& folder, const std::u16string& db) {
    std::vector<std::u16string> files;
    std::error_code ec;
    const fs::path skip = PathOf(db).lexically_normal();
    for (auto it = fs::recursive_directory_iterator(PathOf(folder), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().lexically_normal() == skip) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_symlink(ec)) continue;
        if (it->is_regular_file(ec)) files.push_back(it->path().u16string());
    }
    return files;
}

}  // namespace

PresentTree PresentTreeOfFiles(const std::vector<std::u16string>& files) {
    PresentTree present{&LookAt, &DigestOfPresent, {}};
    for (const std::u16string& file : files)
        if (LookAt(file).kind == PresentFile::kFile) present.files.push_back(file);
    return present;
}

PresentTree PresentTreeOf(const std::string& folder, const std::string& dbFolder) {
    return PresentTree{&LookAt, &DigestOfPresent,
                       FilesUnder(platform::FromUtf8(folder), platform::FromUtf8(dbFolder))};
}

}  // namespace pellumhost
