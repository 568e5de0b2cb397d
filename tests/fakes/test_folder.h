// Where tests find the build's modules and make folders of their own.
#pragma once
#include <filesystem>
#include <string>

// The folder that holds this test program and every module of the build.
std::filesystem::path BuildOutputFolder();
// A new empty folder for one test, removed by its owner.
std::filesystem::path MakeTestFolder(const std::string& purpose);
// "<name>.so" or "<name>.dll".
std::string ModuleFileName(const std::string& baseName);
