// The scenario suite's attacker classes, each a function over the regular files it finds under
// a folder (links skipped, in name order). Each class destroys what it reaches in its own way
// and reports every file it could not change on stderr, then carries on with the next one.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace attacker {

struct AttackOptions {
    uint32_t pauseMs = 10;     // between two files
    size_t limit = SIZE_MAX;   // at most this many files
    std::string self;          // this program's own path, for the classes that relaunch it
};

// Every regular file under folder, in name order.
std::vector<std::filesystem::path> FilesUnder(const std::filesystem::path& folder);

// A class's work over folder; returns the files it could not change.
using Attack = size_t (*)(const std::filesystem::path& folder, const AttackOptions& options);

struct AttackClass {
    const char* name;
    const char* what;
    Attack run;
};

// The classes by name, for the command line and its help.
const std::vector<AttackClass>& AttackClasses();

// The owner's benign change: file encrypted in place. false when it could not be.
bool EncryptInPlace(const std::filesystem::path& file);

}  // namespace attacker
