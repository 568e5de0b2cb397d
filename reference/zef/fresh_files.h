// Empty files made ahead of time in the staging folder, each held open for writing. Taking a
// version then writes into one of them instead of creating a file while a writer waits: on a
// busy file system, creating a file costs many times what writing a small one does. Each file
// is made new (never reused) under an unpredictable name, and is taken at most once. What is
// left at a close, or by a killed run, is empty and unnoted: the store removes it.
#pragma once
#include <cstddef>
#include <deque>
#include <mutex>
#include <random>
#include <string>

#include "reference/zef/file_table.h"

namespace zef {

class FreshFiles {
public:
    struct Taken {
        std::u16string path;
        FileHandle file = kInvalidFile;
    };

    explicit FreshFiles(const FileTable& files);
    ~FreshFiles();
    FreshFiles(const FreshFiles&) = delete;
    FreshFiles& operator=(const FreshFiles&) = delete;

    // On the event path: one held file, the caller's to close and keep or remove; false when
    // none is left.
    bool Take(Taken* taken);
    // Off the event path: makes files in `folder` until `target` are held or `most` were
    // made; false when one could not be made (the disk is full, the folder gone).
    bool Refill(const std::u16string& folder, size_t target, size_t most);
    size_t Held() const;
    // Closes and removes every held file.
    void Clear();

private:
    const FileTable& m_files;
    mutable std::mutex m_lock;
    std::deque<Taken> m_held;
    std::mt19937_64 m_names;  // touched by the refilling thread alone
};

}  // namespace zef
