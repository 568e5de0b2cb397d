// The handles that the engine's searches hand out. A handle is a number, never a pointer, so
// that a handle given back twice, closed or made up is refused instead of followed. Each
// search's state has its own lock. Safe from any thread.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace zef {

struct SearchState {
    virtual ~SearchState() = default;
    std::mutex lock;
};

class FindHandles {
public:
    void* Add(std::shared_ptr<SearchState> state);
    // The search behind handle if it is open and of type T; null otherwise.
    template <typename T>
    std::shared_ptr<T> Get(void* handle) const {
        return std::dynamic_pointer_cast<T>(Find(handle));
    }
    bool Remove(void* handle);
    void Clear();
    size_t Count() const;

private:
    std::shared_ptr<SearchState> Find(void* handle) const;

    mutable std::mutex m_lock;
    uintptr_t m_next = 0x1000;
    std::unordered_map<uintptr_t, std::shared_ptr<SearchState>> m_open;
};

}  // namespace zef
