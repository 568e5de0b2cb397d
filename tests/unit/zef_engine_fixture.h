// An engine of the reference module built in-process, configured on a test folder: database,
// log and pattern folders of its own, and a source folder for the files it versions.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "reference/zef/zef_engine.h"
#include "tests/fakes/test_folder.h"
#include "tests/fakes/zef_settings.h"

namespace zef_test {

namespace fs = std::filesystem;

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = MakeTestFolder("zef-engine");
        fs::create_directories(m_root / "files");
        m_engine = std::make_unique<zef::Engine>();
        Configure(*m_engine);
        ASSERT_EQ(0u, m_engine->Initialize());
        ASSERT_EQ(0u, m_engine->Start());
    }
    void TearDown() override {
        m_engine.reset();
        fs::remove_all(m_root);
    }
    void Configure(zef::Engine& engine) {
        SetText(engine, zef::kSettingDbPath, (m_root / "db").u16string());
        SetText(engine, zef::kSettingDebugLogPath, (m_root / "log").u16string());
        SetText(engine, zef::kSettingPatternPath, (m_root / "pattern").u16string());
    }
    std::u16string File(const std::string& name, const std::string& bytes) {
        WriteFileBytes(m_root / "files" / name, bytes);
        return (m_root / "files" / name).u16string();
    }
    std::u16string Path(const std::string& name) { return (m_root / "files" / name).u16string(); }
    // The texts of the engine's log file.
    std::string LogText() { return ReadFileBytes(m_root / "log" / "ZefEngine.log"); }

    fs::path m_root;
    std::unique_ptr<zef::Engine> m_engine;
};

}  // namespace zef_test
