#include "reference/zef/fresh_files.h"

#include <utility>

#include "reference/zef/engine_text.h"

namespace zef {

namespace {

std::mt19937_64 UnpredictableStream() {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
}

std::u16string HexOf(uint64_t value) {
    static const char16_t kDigits[] = u"0123456789abcdef";
    std::u16string text(16, u'0');
    for (size_t i = text.size(); i-- > 0; value >>= 4) text[i] = kDigits[value & 0xF];
    return text;
}

}  // namespace

FreshFiles::FreshFiles(const FileTable& files) : m_files(files), m_names(UnpredictableStream()) {}

FreshFiles::~FreshFiles() { Clear(); }

bool FreshFiles::Take(Taken* taken) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_held.empty()) return false;
    *taken = std::move(m_held.front());
    m_held.pop_front();
    return true;
}

bool FreshFiles::Refill(const std::u16string& folder, size_t target, size_t most) {
    for (size_t made = 0; made < most && Held() < target; ++made) {
        Taken fresh;
        fresh.path = JoinPath(folder, Concat(u"f", HexOf(m_names()), u".tmp"));
        fresh.file = m_files.createForWriting(fresh.path.c_str());
        if (fresh.file == kInvalidFile) return false;
        std::lock_guard<std::mutex> guard(m_lock);
        m_held.push_back(std::move(fresh));
    }
    return true;
}

size_t FreshFiles::Held() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_held.size();
}

void FreshFiles::Clear() {
    std::deque<Taken> held;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        held.swap(m_held);
    }
    for (const Taken& t : held) {
        m_files.close(t.file);
        m_files.remove(t.path.c_str());
    }
}

}  // namespace zef
