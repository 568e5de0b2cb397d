// Process images kept for a second per process id, under one lock.
#include "reference/pellumhost/protection/process_image.h"

#include <chrono>
#include <mutex>
#include <unordered_map>

#include "platform/process_image.h"
#include "platform/text.h"

namespace pellumhost {
namespace {

constexpr auto kKeep = std::chrono::seconds(1);
// Past this many, the entries older than kKeep go (one sweep per growth past it).
constexpr size_t kSweepAt = 1024;

struct Kept {
    std::string image;
    std::chrono::steady_clock::time_point read;
};

}  // namespace

std::string ProcessImage(uint32_t processId) {
    if (processId == 0) return {};
    static std::mutex lock;
    static std::unordered_map<uint32_t, Kept> kept;
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto found = kept.find(processId);
        if (found != kept.end() && now - found->second.read < kKeep) return found->second.image;
    }
    std::string image = platform::ToUtf8(platform::ProcessImagePath(processId));
    if (image.empty()) return image;  // gone, or not ours to ask: asked again next time
    std::lock_guard<std::mutex> guard(lock);
    if (kept.size() >= kSweepAt)
        for (auto it = kept.begin(); it != kept.end();)
            it = now - it->second.read >= kKeep ? kept.erase(it) : std::next(it);
    kept[processId] = Kept{image, now};
    return image;
}

}  // namespace pellumhost
