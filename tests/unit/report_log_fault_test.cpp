// Report.log under file faults while restores run: a full disk, a write that reaches the disk
// only in part, a failed two-second reopen and a failed rotation. The restore answers what it
// did, nothing is logged about the file, summaries written before the fault stay whole, and the
// first summary after the fault clears is written whole again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/fakes/faulty_file_ops.h"
#include "tests/unit/wrapper_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace pez_test;

// Report.log's clock; each case moves it far past the last, so its first write is a check.
uint32_t g_reportNow = 50000000;
uint32_t ReportTicks() { return g_reportNow; }

int32_t ChooseRestore(void*, const char16_t*, void*, uint32_t* decision) {
    *decision = velk::kDecisionRestore;
    return 0;
}

// The file names of the whole summaries in a log, in order: a summary runs from its
// "=====...[Summary]" opening to the "\n\n\n\n\r\n" that closes it; a torn one has no close.
std::vector<std::string> WholeSummaries(const std::string& log) {
    static const std::string kOpening =
        "=========================================================\n[Summary]";
    static const std::string kClose = "\n\n\n\n\r\n";
    static const std::string kFileName = "\t FileName          : ";
    std::vector<std::string> names;
    size_t from = 0;
    for (size_t end = log.find(kClose); end != std::string::npos;
         from = end + kClose.size(), end = log.find(kClose, from)) {
        const size_t opening = log.rfind(kOpening, end);
        if (opening == std::string::npos || opening < from) continue;
        const size_t name = log.find(kFileName, opening);
        if (name == std::string::npos || name > end) continue;
        const size_t start = name + kFileName.size();
        names.push_back(log.substr(start, log.find('\n', start) - start));
    }
    return names;
}

class ReportLogFaultTest : public EngineWrapperTest {
protected:
    void SetUp() override {
        EngineWrapperTest::SetUp();
        reportFiles = &FaultyFileOps();
        reportTicks = ReportTicks;
    }
    void TearDown() override {
        SetFileFaults(0);
        EngineWrapperTest::TearDown();
    }
    fs::path LogPath() const { return folder / "Log" / "Report.log"; }
    std::string Log(const fs::path& path) const {
        return fs::exists(path) ? Utf8WithoutMark(path) : std::string();
    }
};

TEST_F(ReportLogFaultTest, RestoresAnswerAndLaterSummariesAreWrittenWhole) {
    const struct {
        const char* what;
        uint32_t faults;
        int faulted;           // restores made while the faults hold
        uint32_t ticksBefore;  // ms the clock moves before the first of them
        bool grown;            // Report.log pushed past 2 MiB before them
        uint32_t ticksAfter;   // ms the clock moves before the restore after the faults
        const char* where;     // per restore: L Report.log, O Report.log.old, - lost, ? torn
    } cases[] = {
        {"full disk", kDiskFull, 2, 0, false, 0, "L--L"},
        {"full disk on the two-second reopen", kDiskFull, 1, 2000, false, 0, "L-L"},
        {"short write", kShortWrite, 1, 0, false, 0, "L?L"},
        {"reopen fails", kOpenFails, 2, 2000, false, 0, "LL-L"},
        {"rotation's rename fails", kRenameFails, 1, 2000, true, 2000, "OOL"},
        {"rotation without a fault", 0, 1, 2000, true, 2000, "OLL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_reportNow += 100000;
        const int restores = c.faulted + 2;
        std::vector<std::u16string> paths;
        for (int i = 0; i < restores; ++i) {
            paths.push_back(u"/srv/share/r" + std::u16string(1, static_cast<char16_t>(u'1' + i)));
            engine->AddEdition(paths.back().c_str(), 10 + static_cast<uint32_t>(i), 100);
        }
        Started();
        engine->SetResult("RestoreByCopy", 1);
        StartLogCapture();
        uint32_t failed = 0;
        for (int i = 0; i < restores; ++i) {
            if (i == 1) {
                if (c.grown) fs::resize_file(LogPath(), util::CLogger::kSizeLimit + 2);
                g_reportNow += c.ticksBefore;
                SetFileFaults(c.faults);
            }
            if (i == restores - 1) {
                failed = FailedFileCalls();
                SetFileFaults(0);
                g_reportNow += c.ticksAfter;
            }
            velk::RestoreFileRequest request{nullptr, ChooseRestore, nullptr, nullptr,
                                             paths[static_cast<size_t>(i)].c_str(), 0, 0, 0};
            uint32_t reboot = 0x5A5A;
            EXPECT_EQ(wrapper->CallFunc(velk::kFnRestoreFile, &request, &reboot),
                      velk::kSuccess) << i;
        }
        if (c.faults != 0) {
            EXPECT_GT(failed, 0u) << "the fault was never met";
        }

        std::vector<std::string> inLog, inOld;
        for (int i = 0; i < restores; ++i) {
            const std::string name = platform::ToUtf8(paths[static_cast<size_t>(i)]);
            if (c.where[i] == 'L') inLog.push_back(name);
            if (c.where[i] == 'O') inOld.push_back(name);
        }
        EXPECT_EQ(WholeSummaries(Log(LogPath())), inLog);
        EXPECT_EQ(Log(LogPath()).find("\xEF\xBB\xBF"), std::string::npos)
            << "the byte-order mark at the start only";
        EXPECT_EQ(WholeSummaries(Log(LogPath().u16string() + u".old")), inOld);
        for (const CapturedLine& line : CapturedLines()) {
            EXPECT_NE(line.source, "ZefEngineWrapper") << line;
        }

        Drop();
        EXPECT_EQ(engine->CallsTo({"Stop"}).size(), 1u);
        EXPECT_EQ(engine->CallsTo({"Finalize"}).size(), 1u);
        EXPECT_EQ(engine->LateCalls(), 0u);
        engine->Reset();
        fs::remove_all(folder / "Log");
    }
}

// Report.log cannot be created at all: the engine starts all the same, and every restore
// reaches it and answers what the engine made of it.
TEST_F(ReportLogFaultTest, RestoresAnswerWhenTheLogCannotBeCreated) {
    SetFileFaults(kOpenFails);
    Started();
    for (const uint64_t restored : {uint64_t{1}, uint64_t{0}}) {
        engine->SetResult("RestoreByEdition", restored);
        velk::EditionRestoreRequest request{nullptr, u"/srv/share/report.docx", 1, 2, 0, 9};
        uint32_t reboot = 0x5A5A;
        EXPECT_EQ(wrapper->CallFunc(velk::kFnRestoreEdition, &request, &reboot),
                  restored != 0 ? velk::kSuccess : 0xE0360004u);
    }
    EXPECT_EQ(engine->CallsTo({"RestoreByEdition"}).size(), 2u);
    EXPECT_GT(FailedFileCalls(), 0u);
    EXPECT_FALSE(fs::exists(LogPath()));
}

}  // namespace
