// The detector's memory of file contents: prints by path, moved with renames, and recent
// removals.
#include "reference/pellumhost/protection/content_memory.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace pellumhost {
namespace {

// Four multiply-xor lanes over 8-byte words, then FNV-1a over the tail: cheap (a 4 KiB start
// in well under a microsecond), and only ever compared with prints of the same file.
uint64_t Fingerprint(const uint8_t* bytes, size_t count) {
    constexpr uint64_t kPrime = 0x100000001b3ull;
    uint64_t lanes[4] = {0xcbf29ce484222325ull, 0x9e3779b97f4a7c15ull, 0xc2b2ae3d27d4eb4full,
                         0x165667b19e3779f9ull};
    size_t at = 0;
    for (; at + 32 <= count; at += 32) {
        for (size_t lane = 0; lane < 4; ++lane) {
            uint64_t word;
            std::memcpy(&word, bytes + at + 8 * lane, 8);
            lanes[lane] = (lanes[lane] ^ word) * kPrime;
            lanes[lane] ^= lanes[lane] >> 29;
        }
    }
    uint64_t hash = lanes[0] ^ (lanes[1] * 3) ^ (lanes[2] * 5) ^ (lanes[3] * 7) ^ count;
    for (; at < count; ++at) hash = (hash ^ bytes[at]) * kPrime;
    return hash;
}

bool Below(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (path[folder.size()] == '/' || path[folder.size()] == '\\');
}

}  // namespace

ContentPrint PrintOf(const uint8_t* head, size_t count, uint64_t size) {
    ContentPrint print;
    print.size = size;
    print.hashed = static_cast<uint32_t>(std::min<uint64_t>({count, size, kFingerprintBytes}));
    print.fingerprint = Fingerprint(head, print.hashed);
    print.kind = KindOf(head, std::min<size_t>(count, kFingerprintBytes));
    return print;
}

bool KeepsContent(const ContentPrint& before, const uint8_t* head, size_t count, uint64_t size) {
    return size >= before.size && count >= before.hashed &&
           Fingerprint(head, before.hashed) == before.fingerprint;
}

bool SamePrint(const ContentPrint& a, const ContentPrint& b) {
    return a.size == b.size && a.hashed == b.hashed && a.fingerprint == b.fingerprint;
}

const RememberedFile* ContentMemory::Find(const std::string& path) const {
    const auto found = m_files.find(path);
    return found == m_files.end() ? nullptr : &found->second;
}

void ContentMemory::Note(const std::string& path, const ContentPrint& print,
                         const std::string& writer, double at) {
    m_files[path] = RememberedFile{print, writer, at, {}, {}};
}

void ContentMemory::Put(const std::string& path, RememberedFile file) {
    m_files[path] = std::move(file);
}

bool ContentMemory::Take(const std::string& path, RememberedFile& taken) {
    const auto found = m_files.find(path);
    if (found == m_files.end()) return false;
    taken = std::move(found->second);
    m_files.erase(found);
    return true;
}

void ContentMemory::MoveFolder(const std::string& folder, const std::string& to) {
    std::vector<std::pair<std::string, RememberedFile>> moved;
    auto it = m_files.upper_bound(folder);
    while (it != m_files.end() && it->first.compare(0, folder.size(), folder) == 0) {
        if (Below(it->first, folder)) {
            moved.emplace_back(to + it->first.substr(folder.size()), std::move(it->second));
            it = m_files.erase(it);
        } else {
            ++it;  // "folder2/x" sorts among "folder/..." and is not below it
        }
    }
    for (auto& entry : moved) m_files[entry.first] = std::move(entry.second);
}

void ContentMemory::ForgetWriter(const std::string& writer) {
    for (auto& entry : m_files)
        if (entry.second.writer == writer) entry.second.writer.clear();
}

void ContentMemory::NoteRemoval(const std::string& path, const ContentPrint& print,
                                const std::string& actor, double at, double keepSeconds) {
    while (!m_expiry.empty() && m_expiry.front().first < at) {
        const auto old = m_removals.find(m_expiry.front().second);
        if (old != m_removals.end() && old->second.until < at) m_removals.erase(old);
        m_expiry.pop_front();
    }
    m_removals[path] = Removal{actor, print, at, at + keepSeconds};
    m_expiry.emplace_back(at + keepSeconds, path);
}

bool ContentMemory::TakeRemoval(const std::string& path, const std::string& actor, double now,
                                ContentPrint& print, double& removedAt) {
    const auto found = m_removals.find(path);
    if (found == m_removals.end() || found->second.actor != actor || found->second.until < now)
        return false;
    print = found->second.print;
    removedAt = found->second.at;
    m_removals.erase(found);
    return true;
}

}  // namespace pellumhost
