// One open registry key, closed when the holder is destroyed. Linux has no registry: every key
// is missing there (error 2), so callers take their documented fallback.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

enum class RegistryRoot { kLocalMachine };

constexpr int32_t kRegistryKeyNotFound = 2;  // ERROR_FILE_NOT_FOUND

// The calls that open and close a key under HKEY_LOCAL_MACHINE, as one table that a test can
// replace. openKey answers 0 and the key, or the error code; Linux's table answers
// kRegistryKeyNotFound.
struct RegistryCalls {
    int32_t (*openKey)(const char16_t* subkey, uint32_t access, void** key);
    void (*closeKey)(void* key);
};
const RegistryCalls& SystemRegistryCalls();

class RegKey {
public:
    explicit RegKey(const RegistryCalls& calls = SystemRegistryCalls()) : m_calls(calls) {}
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { Close(); }

    // Opens subkey in the 64-bit view first, then in the plain view; 0 on success (the key held
    // before is closed), else the error code (the key held before is kept).
    int32_t Open(RegistryRoot root, const char16_t* subkey, uint32_t access);
    // The value's text up to its first terminator; 0 on success, else the error code.
    int32_t QueryValue(const char16_t* name, std::u16string& text) const;
    void Close();
    bool IsOpen() const { return m_key != nullptr; }

private:
    const RegistryCalls& m_calls;
    void* m_key = nullptr;
};

}  // namespace platform
