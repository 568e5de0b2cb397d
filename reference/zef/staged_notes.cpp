// The staged versions' journal: its records, its replay, its appends and its rewrite.
#include "reference/zef/staged_notes.h"

#include <algorithm>

#include "reference/zef/engine_text.h"
#include "reference/zef/record_codec.h"

namespace zef {
namespace {

constexpr char kNotesMagic[8] = {'Z', 'E', 'F', 'S', 'T', 'J', '0', '1'};
constexpr uint32_t kNoted = 1;
constexpr uint32_t kDone = 2;
// The journal is rewritten with its live notes alone once it is this large and four times
// their size: the rewrite's cost stays a small share of the appends that made it due.
constexpr uint64_t kRewriteBytes = 1u << 20;

// A record: the copy's name, noted or done, and for a note the edition record's own payload.
std::vector<uint8_t> Frame(const std::u16string& name, const LogRecord* note) {
    RecordWriter out;
    out.U32(0);  // the length and the CRC, sealed below
    out.U32(0);
    out.Text(name);
    out.U32(note != nullptr ? kNoted : kDone);
    std::vector<uint8_t>& bytes = out.Result();
    if (note != nullptr) {
        const std::vector<uint8_t> inner = EncodeRecord(*note);
        bytes.insert(bytes.end(), inner.begin() + kFrameBytes, inner.end());
    }
    SealFrame(bytes);
    return std::move(bytes);
}

}  // namespace

bool StagedNotes::Open(const std::u16string& path, std::vector<NotedCopy>& live, bool* damaged,
                       std::u16string& why) {
    std::lock_guard<std::mutex> guard(m_lock);
    live.clear();
    *damaged = false;
    m_path = path;
    m_live.clear();
    std::vector<uint8_t> bytes;
    bool isLink = false;
    const FileHandle probe = m_files.openSource(path.c_str(), &isLink);
    if (isLink) return why = Concat(path, u" is a link; move it away"), false;
    if (probe != kInvalidFile) {
        m_files.close(probe);
        if (!ReadWholeFile(m_files, path, kMaxLogBytes, bytes))
            return why = Concat(path, u" cannot be read; move it away"), false;
    }
    std::vector<std::u16string> order;
    std::unordered_map<std::u16string, LogRecord> notes;
    const LogScan scan = ScanFrames(
        bytes.data(), bytes.size(), kNotesMagic, u"a journal of staged versions",
        [&](const uint8_t* payload, size_t size) {
            RecordReader in(payload, size);
            std::u16string name;
            uint32_t kind = 0;
            if (!in.Text(name) || name.empty() || !in.U32(kind)) return FrameVerdict::kMalformed;
            const size_t head = 4 + 2 * name.size() + 4;
            if (kind == kDone && in.AtEnd()) {
                notes.erase(name);
                m_live.erase(name);
                return FrameVerdict::kAccepted;
            }
            LogRecord note;
            if (kind != kNoted || !DecodePayload(payload + head, size - head, note) ||
                note.type != LogRecordType::kEdition)
                return FrameVerdict::kMalformed;
            if (notes.find(name) == notes.end()) order.push_back(name);
            notes[name] = note;
            m_live[name] = Frame(name, &note);
            return FrameVerdict::kAccepted;
        });
    *damaged = scan.state == LogState::kDamaged;
    for (const std::u16string& name : order) {
        const auto found = notes.find(name);
        if (found != notes.end()) live.push_back(NotedCopy{name, found->second});
        notes.erase(name);  // a name noted again after done is listed once
    }
    // A fresh journal of the live notes alone: later appends never follow a torn write, and
    // the old journal stays whole until the new one is.
    if (!RewriteLocked()) return why = Concat(u"cannot write ", path), false;
    return true;
}

bool StagedNotes::Note(const std::u16string& name, const LogRecord& note) {
    std::lock_guard<std::mutex> guard(m_lock);
    return AppendLocked(name, &note);
}

void StagedNotes::Done(const std::u16string& name) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_live.find(name) != m_live.end()) AppendLocked(name, nullptr);
}

bool StagedNotes::IfNoted(const std::u16string& name, const std::function<bool()>& act) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_live.find(name) != m_live.end() && act();
}

bool StagedNotes::AppendLocked(const std::u16string& name, const LogRecord* note) {
    if (m_file == kInvalidFile) return false;
    const std::vector<uint8_t> frame = Frame(name, note);
    if (!m_files.write(m_file, frame.data(), static_cast<uint32_t>(frame.size()))) return false;
    m_bytes += frame.size();
    m_dirty = true;
    const auto known = m_live.find(name);
    if (known != m_live.end()) {
        m_liveBytes -= known->second.size();
        m_live.erase(known);
    }
    if (note != nullptr) {
        m_liveBytes += frame.size();
        m_live.emplace(name, frame);
    }
    return true;
}

bool StagedNotes::RewriteLocked() {
    std::vector<uint8_t> bytes(kNotesMagic, kNotesMagic + sizeof kNotesMagic);
    for (const auto& live : m_live) bytes.insert(bytes.end(), live.second.begin(), live.second.end());
    if (m_file != kInvalidFile) m_files.close(m_file);
    m_file = kInvalidFile;
    const bool written = WriteFileAtomically(m_files, m_path, bytes);
    m_file = m_files.openForAppending(m_path.c_str());
    if (!written || m_file == kInvalidFile) return false;
    m_bytes = bytes.size();
    m_liveBytes = bytes.size() - sizeof kNotesMagic;
    m_dirty = false;
    return true;
}

void StagedNotes::Commit() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file == kInvalidFile) return;
    if (m_bytes >= kRewriteBytes && m_bytes >= 4 * m_liveBytes) {
        RewriteLocked();  // durable (flushed and renamed durably), so nothing is left dirty
        return;
    }
    if (m_dirty && m_files.flush(m_file)) m_dirty = false;
}

void StagedNotes::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file == kInvalidFile) return;
    // What stays for the next start is the live notes alone: the done ones are left behind
    // once, here, rather than carried in the database until then.
    if (m_bytes > m_liveBytes + sizeof kNotesMagic && RewriteLocked()) {
        m_files.close(m_file);
        m_file = kInvalidFile;
        return;
    }
    if (m_dirty) m_files.flush(m_file);
    m_files.close(m_file);
    m_file = kInvalidFile;
    m_dirty = false;
}

size_t StagedNotes::LiveCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_live.size();
}

}  // namespace zef
