// The durable change journal: its record, its replay and its appends.
#include "reference/pellumhost/protection/change_log.h"

#include <chrono>

#include "platform/text.h"
#include "reference/zef/edition_log.h"
#include "reference/zef/record_codec.h"
#include "reference/zef/record_frames.h"

namespace pellumhost {
namespace {

constexpr char kChangeLogMagic[8] = {'P', 'H', 'C', 'H', 'G', 'L', '0', '1'};
// Above this, the journal keeps its newest half when the service opens it.
constexpr uint64_t kMaxChangeLogBytes = 64ull << 20;
constexpr uint64_t kFlushEveryMs = 1000;

void ScanChanges(const std::vector<uint8_t>& bytes, std::vector<ChangeEntry>& entries,
                 zef::LogScan& scan) {
    ChangeEntry entry;
    scan = zef::ScanFrames(bytes.data(), bytes.size(), kChangeLogMagic, u"a change journal",
                           [&](const uint8_t* payload, size_t size) {
                               if (!DecodeChange(payload, size, entry))
                                   return zef::FrameVerdict::kMalformed;
                               entries.push_back(entry);
                               return zef::FrameVerdict::kAccepted;
                           });
}

}  // namespace

uint64_t UnixMilliseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

std::u16string ChangeLogPath(const std::u16string& dbFolder) {
    std::u16string path = dbFolder;
    if (!path.empty() && path.back() != u'/' && path.back() != u'\\') path += u'/';
    return path + u"changes.log";
}

std::vector<uint8_t> EncodeChange(const ChangeEntry& entry) {
    zef::RecordWriter out;
    out.U32(0);  // the length and the CRC, sealed below
    out.U32(0);
    out.U32(static_cast<uint32_t>(entry.kind));
    out.U64(entry.unixMs);
    out.U32(entry.folder ? 1 : 0);
    out.U32(entry.processId);
    out.Text(entry.image.substr(0, zef::kMaxTextUnits));
    out.Text(entry.path.substr(0, zef::kMaxTextUnits));
    out.Text(entry.to.substr(0, zef::kMaxTextUnits));
    std::vector<uint8_t>& bytes = out.Result();
    zef::SealFrame(bytes);
    return std::move(bytes);
}

bool DecodeChange(const uint8_t* payload, size_t size, ChangeEntry& entry) {
    zef::RecordReader in(payload, size);
    uint32_t kind = 0, folder = 0;
    entry = ChangeEntry();
    if (!in.U32(kind) || kind < 1 || kind > 5 || !in.U64(entry.unixMs) || !in.U32(folder) ||
        folder > 1 || !in.U32(entry.processId) || !in.Text(entry.image) || !in.Text(entry.path) ||
        !in.Text(entry.to) || !in.AtEnd() || entry.path.empty())
        return false;
    entry.kind = static_cast<ChangeKind>(kind);
    entry.folder = folder == 1;
    return entry.kind != ChangeKind::kRenamed || !entry.to.empty();
}

bool ReadChangeLog(const std::u16string& dbFolder, std::vector<ChangeEntry>& entries,
                   std::string& note, const zef::FileTable& files) {
    entries.clear();
    note.clear();
    const std::u16string path = ChangeLogPath(dbFolder);
    bool isLink = false;
    const zef::FileHandle probe = files.openSource(path.c_str(), &isLink);
    if (probe == zef::kInvalidFile) {
        if (isLink) return note = platform::ToUtf8(path) + " is a link; it is not read", false;
        return true;  // no journal yet
    }
    files.close(probe);
    std::vector<uint8_t> bytes;
    if (!zef::ReadWholeFile(files, path, kMaxChangeLogBytes * 2, bytes))
        return note = platform::ToUtf8(path) + " cannot be read, or is larger than " +
                      std::to_string(kMaxChangeLogBytes * 2 >> 20) + " MiB",
               false;
    zef::LogScan scan;
    ScanChanges(bytes, entries, scan);
    if (scan.state == zef::LogState::kDamaged)
        note = "the change journal " + platform::ToUtf8(path) + " is damaged: " +
               platform::ToUtf8(scan.reason) + "; the " + std::to_string(entries.size()) +
               " records before it are used";
    return true;
}

bool ChangeLog::Open(const std::u16string& dbFolder, std::string& error) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_path = ChangeLogPath(dbFolder);
    std::vector<uint8_t> bytes;
    bool isLink = false;
    const zef::FileHandle probe = m_files.openSource(m_path.c_str(), &isLink);
    if (isLink) return error = platform::ToUtf8(m_path) + " is a link; remove it", false;
    if (probe != zef::kInvalidFile) {
        m_files.close(probe);
        if (!zef::ReadWholeFile(m_files, m_path, kMaxChangeLogBytes * 2, bytes))
            return error = platform::ToUtf8(m_path) + " cannot be read; move it away", false;
    }
    std::vector<ChangeEntry> entries;
    zef::LogScan scan;
    if (!bytes.empty()) ScanChanges(bytes, entries, scan);
    const bool rewrite = bytes.empty() || scan.state != zef::LogState::kWhole ||
                         bytes.size() > kMaxChangeLogBytes;
    if (rewrite) {
        std::vector<uint8_t> fresh(kChangeLogMagic, kChangeLogMagic + sizeof kChangeLogMagic);
        const size_t keepFrom = bytes.size() > kMaxChangeLogBytes ? entries.size() / 2 : 0;
        for (size_t i = keepFrom; i < entries.size(); ++i) {
            const std::vector<uint8_t> frame = EncodeChange(entries[i]);
            fresh.insert(fresh.end(), frame.begin(), frame.end());
        }
        if (!zef::WriteFileAtomically(m_files, m_path, fresh))
            return error = "cannot write " + platform::ToUtf8(m_path), false;
    }
    m_file = m_files.openForAppending(m_path.c_str());
    if (m_file == zef::kInvalidFile) return error = "cannot append to " + platform::ToUtf8(m_path), false;
    m_lastFlushMs = UnixMilliseconds();
    return true;
}

bool ChangeLog::Append(const ChangeEntry& entry) {
    const std::vector<uint8_t> frame = EncodeChange(entry);
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file == zef::kInvalidFile) return false;
    if (!m_files.write(m_file, frame.data(), static_cast<uint32_t>(frame.size()))) {
        m_files.close(m_file);
        m_file = zef::kInvalidFile;
        return false;
    }
    m_dirty = true;
    FlushLocked(false);
    return true;
}

void ChangeLog::FlushDue() {
    std::lock_guard<std::mutex> guard(m_lock);
    FlushLocked(false);
}

void ChangeLog::FlushLocked(bool now) {
    const uint64_t at = UnixMilliseconds();
    if (m_file == zef::kInvalidFile || !m_dirty || (!now && at - m_lastFlushMs < kFlushEveryMs)) return;
    m_files.flush(m_file);
    m_dirty = false;
    m_lastFlushMs = at;
}

void ChangeLog::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file == zef::kInvalidFile) return;
    FlushLocked(true);
    m_files.close(m_file);
    m_file = zef::kInvalidFile;
    m_dirty = false;
}

bool ChangeLog::IsOpen() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_file != zef::kInvalidFile;
}

}  // namespace pellumhost
