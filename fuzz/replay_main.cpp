// Replays saved inputs through a fuzz target without libFuzzer, so that every build (GCC, the
// sanitizer presets) runs the findings and seeds as a test. Usage: <replay> <folder|file>...
// A finding that still fails traps or is reported by the sanitizer; missing folders count 0.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (fs::is_regular_file(argv[i], error)) files.emplace_back(argv[i]);
        if (!fs::is_directory(argv[i], error)) continue;
        for (const auto& entry : fs::directory_iterator(argv[i])) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
    }
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        // A copy of exactly the input's size, so that a read past its end is caught.
        std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        input.shrink_to_fit();
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
