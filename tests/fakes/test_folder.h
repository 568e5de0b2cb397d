// Where tests find the build's modules and make folders of their own.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

// The folder that holds this test program and every module of the build.
std::filesystem::path BuildOutputFolder();
// A new empty folder for one test, removed by its owner.
std::filesystem::path MakeTestFolder(const std::string& purpose);
// "<name>.so" or "<name>.dll".
std::string ModuleFileName(const std::string& baseName);

// A file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);
// Replaces a file's contents (creating it) with bytes.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
// size bytes drawn from a generator seeded with seed.
std::string RandomBytes(size_t size, uint64_t seed);
// A UTF-16LE file as its units, a byte-order mark included.
std::u16string ReadUtf16File(const std::filesystem::path& path);
