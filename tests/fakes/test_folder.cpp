// Test folders and the build's output folder.
#include "tests/fakes/test_folder.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/module.h"
#include "platform/process.h"
#include "platform/text.h"

namespace fs = std::filesystem;

fs::path BuildOutputFolder() {
    char16_t own[4096] = {};
    platform::OwnModuleFileName(own, 4096);
    return fs::path(std::u16string(own)).parent_path();
}

fs::path MakeTestFolder(const std::string& purpose) {
    static std::atomic<int> counter{0};
    const fs::path folder = fs::temp_directory_path() /
                            ("pez-" + purpose + "-" + std::to_string(platform::CurrentProcessId()) +
                             "-" + std::to_string(counter++));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::string ModuleFileName(const std::string& baseName) {
    return baseName + platform::ToUtf8(platform::kModuleSuffix);
}

std::string ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string RandomBytes(size_t size, uint64_t seed) {
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

std::u16string ReadUtf16File(const fs::path& path) {
    const std::string bytes = ReadFileBytes(path);
    std::u16string units(bytes.size() / 2, u'\0');
    // Both targets are little-endian.
    std::memcpy(units.data(), bytes.data(), units.size() * sizeof(char16_t));
    return units;
}
