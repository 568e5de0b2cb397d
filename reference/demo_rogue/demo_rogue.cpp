// DemoRogue: the rogue writer of Pellumhost's rollback demo and of the end-to-end tests, a
// program of its own so that the shipped host has no command that destroys files. It
// overwrites every file under a folder with random bytes of the same length, then renames one
// of them to NAME.locked and deletes another. It is built beside the host for the demo and
// the tests and never shipped with it.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: DemoRogue FOLDER (scrambles every file under FOLDER)\n");
        return 2;
    }
    std::mt19937 random(static_cast<unsigned>(platform::CurrentProcessId()));
    std::error_code ec;
    std::vector<fs::path> scrambled;
    for (auto it = fs::recursive_directory_iterator(fs::u8path(argv[1]), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec)) scrambled.push_back(it->path());
    }
    for (const fs::path& path : scrambled) {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        if (!file) continue;
        std::string content((std::istreambuf_iterator<char>(file)), {});
        for (char& c : content) c = static_cast<char>(random());
        file.seekp(0);
        file.write(content.data(), static_cast<std::streamsize>(content.size()));
        file.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Then it takes two files away: one renamed as ransom, one deleted.
    if (scrambled.size() >= 2) {
        fs::rename(scrambled[0], fs::path(scrambled[0]) += ".locked", ec);
        fs::remove(scrambled[1], ec);
    }
    return 0;
}
