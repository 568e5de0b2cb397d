// The restore results of this run and of the one before, in sealed record files.
#include "reference/zef/restore_results.h"

#include "reference/zef/engine_text.h"
#include "reference/zef/record_codec.h"

namespace zef {
namespace {

constexpr char kMagic[8] = {'Z', 'E', 'F', 'R', 'S', 'T', '0', '1'};
constexpr uint32_t kMaxResults = 10000;

}  // namespace

std::vector<uint8_t> SerializeRestoreResults(const std::vector<RestoreResult>& results) {
    RecordWriter out;
    out.Bytes(kMagic, sizeof kMagic);
    out.U32(static_cast<uint32_t>(results.size()));
    for (const RestoreResult& r : results) {
        out.U32(r.code);
        out.U64(r.value);
        out.U64(r.fileTime);
        out.Text(r.name);
    }
    return Sealed(out);
}

bool ParseRestoreResults(const std::vector<uint8_t>& bytes, std::vector<RestoreResult>& results,
                         std::u16string& reason) {
    results.clear();
    size_t body = 0;
    if (!CheckSealed(bytes, kMagic, &body, reason)) return false;
    RecordReader in(bytes.data() + kMagicBytes, body - kMagicBytes);
    uint32_t count = 0;
    if (!in.U32(count) || count > kMaxResults) {
        reason = u"its count is malformed";
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        RestoreResult r;
        if (!in.U32(r.code) || !in.U64(r.value) || !in.U64(r.fileTime) || !in.Text(r.name)) {
            reason = u"a result is malformed";
            results.clear();
            return false;
        }
        results.push_back(std::move(r));
    }
    return in.AtEnd();
}

void RestoreResults::Open(const std::u16string& folder) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_current = JoinPath(folder, u"restores.zef");
    m_previousPath = JoinPath(folder, u"restores.prev.zef");
    m_run.clear();
    m_previous.clear();
    std::vector<uint8_t> bytes;
    std::u16string reason = u"it cannot be read";
    if (ReadWholeFile(m_files, m_current, UINT32_MAX, bytes)) {
        if (ParseRestoreResults(bytes, m_previous, reason)) {
            m_files.replace(m_current.c_str(), m_previousPath.c_str());
        } else {
            m_log.Write(LogLevel::kWarning, Concat(u"The restore results of the last run are "
                                                   u"not reported: ", reason, u"."));
        }
        return;
    }
    if (ReadWholeFile(m_files, m_previousPath, UINT32_MAX, bytes))
        ParseRestoreResults(bytes, m_previous, reason);
}

void RestoreResults::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_current.clear();
    m_run.clear();
}

void RestoreResults::Record(const RestoreResult& result) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_current.empty() || m_run.size() >= kMaxResults) return;
    m_run.push_back(result);
    // Not flushed: a restore should not wait on the disk twice more for its report; a crash
    // may cost the results of this run, never a torn read (the file is sealed).
    if (!WriteFileAtomically(m_files, m_current, SerializeRestoreResults(m_run), false))
        m_log.Write(LogLevel::kWarning, Concat(u"The result of the restore of ", result.name,
                                               u" cannot be kept for the next run."));
}

uint32_t RestoreResults::Hold() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_held = m_previous;
    return static_cast<uint32_t>(m_held.size());
}

bool RestoreResults::Fetch(uint32_t index, uint32_t* code, uint64_t* value, const char16_t** name,
                           uint64_t* fileTime) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (index >= m_held.size()) return false;
    const RestoreResult& r = m_held[index];
    if (code != nullptr) *code = r.code;
    if (value != nullptr) *value = r.value;
    if (name != nullptr) *name = r.name.c_str();
    if (fileTime != nullptr) *fileTime = r.fileTime;
    return true;
}

void RestoreResults::Release() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_held.clear();
}

void RestoreResults::DeletePrevious() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_previous.clear();
    if (!m_previousPath.empty()) m_files.remove(m_previousPath.c_str());
}

}  // namespace zef
