// Test folders and the build's output folder.
#include "tests/fakes/test_folder.h"

#include <atomic>

#include "platform/module.h"
#include "platform/process.h"

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
#if defined(_WIN32)
    return baseName + ".dll";
#else
    return baseName + ".so";
#endif
}
