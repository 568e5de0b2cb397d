// The plug-in driving the reference engine through the engine's exports, as the demo runs
// them: backing up, listing (all and by time), deleting editions, the maximum file size,
// flushes and the process list, and the database kept across a restart of both modules.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine_api/zef_records.h"
#include "host/call_records.h"
#include "host/result_codes.h"
#include "tests/fakes/test_folder.h"
#include "tests/module/plugin_with_engine.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kEngineBackupFailed = 0xE0360006;
constexpr uint32_t kEngineDeleteFailed = 0xE0360007;

struct Listed {
    std::u16string path;
    uint32_t editionCount;
};

uint32_t Collect(uint64_t context, const void* backupFile, uint64_t, uint32_t) {
    const auto* info = static_cast<const zef::BackupFileInfo*>(backupFile);
    reinterpret_cast<std::vector<Listed>*>(context)->push_back({info->filePath, info->editionCount});
    return 1;
}

platform::SystemTime Day(uint16_t year) { return platform::SystemTime{year, 1, 0, 1, 0, 0, 0, 0}; }

class ZefModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = MakeTestFolder("zef-module");
        fs::create_directories(m_folder / "files");
    }
    void TearDown() override { fs::remove_all(m_folder); }
    std::u16string File(const std::string& name, const std::string& bytes) {
        WriteFileBytes(m_folder / "files" / name, bytes);
        return (m_folder / "files" / name).u16string();
    }
    uint32_t Backup(PluginWithEngine& plugin, const std::u16string& path) {
        velk::BackupFileRequest request{path.c_str()};
        return plugin.Call(velk::kFnBackupFile, &request, nullptr);
    }
    std::vector<Listed> List(PluginWithEngine& plugin) {
        std::vector<Listed> listed;
        velk::BackupFileListRequest request{reinterpret_cast<uint64_t>(&listed), Collect, 0};
        EXPECT_EQ(velk::kSuccess, plugin.Call(velk::kFnListBackupFiles, &request, nullptr));
        return listed;
    }
    std::vector<Listed> ListRange(PluginWithEngine& plugin, uint16_t fromYear, uint16_t toYear) {
        std::vector<Listed> listed;
        velk::BackupFileRangeRequest request{Day(fromYear), Day(toYear), reinterpret_cast<uint64_t>(&listed),
                                             Collect, 0};
        EXPECT_EQ(velk::kSuccess, plugin.Call(velk::kFnListBackupFilesInRange, &request, nullptr));
        return listed;
    }

    fs::path m_folder;
};

TEST_F(ZefModuleTest, ThePlugInBacksUpListsAndDeletesThroughTheRealEngine) {
    PluginWithEngine plugin(m_folder);
    ASSERT_TRUE(plugin.Running());
    const std::u16string report = File("report.txt", "quarterly numbers");
    const std::u16string notes = File("notes.txt", "meeting notes");
    EXPECT_EQ(velk::kSuccess, Backup(plugin, report));
    EXPECT_EQ(velk::kSuccess, Backup(plugin, notes));
    File("report.txt", "quarterly numbers, revised");
    EXPECT_EQ(velk::kSuccess, Backup(plugin, report));
    EXPECT_EQ(kEngineBackupFailed, Backup(plugin, (m_folder / "files" / "missing").u16string()));

    std::vector<Listed> listed = List(plugin);
    ASSERT_EQ(2u, listed.size());
    uint32_t reportEditions = 0;
    for (const Listed& file : listed)
        if (file.path == report) reportEditions = file.editionCount;
    EXPECT_EQ(2u, reportEditions);
    EXPECT_EQ(2u, ListRange(plugin, 2000, 2100).size());
    EXPECT_EQ(0u, ListRange(plugin, 1990, 1999).size());

    // Editions are numbered from 1 in a new database: the second is the notes'.
    velk::EditionDeleteRequest remove{2};
    EXPECT_EQ(velk::kSuccess, plugin.Call(velk::kFnDeleteEdition, &remove, nullptr));
    EXPECT_EQ(kEngineDeleteFailed, plugin.Call(velk::kFnDeleteEdition, &remove, nullptr));
    listed = List(plugin);
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ(report, listed[0].path);

    uint32_t maxSize = 0;
    EXPECT_EQ(velk::kSuccess, plugin.Call(velk::kFnMaxFileSize, nullptr, &maxSize));
    EXPECT_EQ(256u << 20, maxSize);
    EXPECT_EQ(velk::kSuccess, plugin.Call(velk::kFnFlushEvents, nullptr, nullptr));
    EXPECT_EQ(velk::kSuccess, plugin.Call(velk::kFnFlushValidEvents, nullptr, nullptr));
    velk::PidListUpdateRequest ended{2, 1234};
    EXPECT_EQ(velk::kSuccess, plugin.Call(velk::kFnUpdatePidList, &ended, nullptr));
    velk::PidListUpdateRequest unknown{9, 1234};
    EXPECT_EQ(kEngineBackupFailed, plugin.Call(velk::kFnUpdatePidList, &unknown, nullptr));

    // The engine keeps its database and its own log in the folders the plug-in gave it.
    EXPECT_TRUE(fs::exists(m_folder / "Data" / "editions.log"));
    EXPECT_TRUE(fs::exists(m_folder / "Log" / "ZefEngine.log"));
}

TEST_F(ZefModuleTest, EditionsOutliveARestartOfBothModules) {
    const std::u16string path = File("kept.txt", "kept across restarts");
    {
        PluginWithEngine plugin(m_folder);
        ASSERT_TRUE(plugin.Running());
        ASSERT_EQ(velk::kSuccess, Backup(plugin, path));
    }
    PluginWithEngine again(m_folder);
    ASSERT_TRUE(again.Running());
    const std::vector<Listed> listed = List(again);
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ(path, listed[0].path);
    EXPECT_EQ(1u, listed[0].editionCount);
}

TEST_F(ZefModuleTest, ASecondPlugInOnTheSameDatabaseDoesNotStartItsEngine) {
    PluginWithEngine first(m_folder);
    ASSERT_TRUE(first.Running());
    const fs::path other = m_folder / "other";
    fs::create_directories(other);
    // The second copy finds its engine beside itself, but the database of that engine is its
    // own folder; share it through a link to the first one's.
    std::error_code linked;
    fs::create_directory_symlink(m_folder / "Data", other / "Data", linked);
    if (linked) GTEST_SKIP() << "this system makes no folder links: " << linked.message();
    PluginWithEngine second(other);
    EXPECT_FALSE(second.Running());
}

}  // namespace
