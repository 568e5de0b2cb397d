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

namespace {

void Replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the input's size, so that a read past its end is caught.
    std::vector<uint8_t> input(bytes.begin(), bytes.end());
    input.shrink_to_fit();
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

}  // namespace

int main(int argc, char** argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path place(argv[i]);
        std::error_code error;
        if (std::filesystem::is_regular_file(place, error)) {
            Replay(place);
            ++replayed;
        } else if (std::filesystem::is_directory(place, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(place)) {
                if (!entry.is_regular_file()) continue;
                Replay(entry.path());
                ++replayed;
            }
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
