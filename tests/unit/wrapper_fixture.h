// An engine wrapper in-process: the fake engine copied into a fresh folder as the engine, a
// scripted host, and helpers to answer the host's configuration query.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/config_batch.h"
#include "engine/zef_engine_wrapper.h"
#include "host/call_records.h"
#include "host/message_object.h"
#include "host/restore_records.h"
#include "host/result_codes.h"
#include "platform/dynamic_module.h"
#include "platform/text.h"
#include "tests/fakes/captured_log.h"
#include "tests/fakes/fake_zef_control.h"
#include "tests/fakes/scripted_host.h"
#include "tests/fakes/test_folder.h"
#include "util/path_variables.h"

using Calls = std::vector<std::string>;

inline std::string Text(const char16_t* text) { return platform::ToUtf8(text); }

// A UTF-16LE file that starts with a byte-order mark, as UTF-8 without the mark; a file
// without the mark reads as "(no byte-order mark)".
inline std::string Utf8WithoutMark(const std::filesystem::path& path) {
    const std::u16string units = ReadUtf16File(path);
    if (units.empty() || units[0] != u'\uFEFF') return "(no byte-order mark)";
    return platform::ToUtf8(units.substr(1));
}

class EngineWrapperTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = MakeTestFolder("wrapper");
        UseEngine("FakeZef", folder);
        StartLogCapture();
    }
    // The build's fake engine variant copied into a folder as the engine of the wrappers Make
    // builds, loaded and under control (the one before unloaded).
    void UseEngine(const char* variant, const std::filesystem::path& into) {
        engine.reset();
        platform::UnloadModule(held);
        std::filesystem::create_directories(into);
        enginePath = into / ModuleFileName("Zef");
        std::filesystem::copy_file(BuildOutputFolder() / ModuleFileName(variant), enginePath);
        held = platform::LoadModuleByPath(enginePath.u16string().c_str());
        ASSERT_NE(held, nullptr);
        engine = std::make_unique<FakeZefControl>(held);
        ASSERT_TRUE(engine->IsComplete());
        engine->Reset();
    }
    void TearDown() override {
        if (wrapper != nullptr) Drop();
        engine.reset();
        platform::UnloadModule(held);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    CZefEngineWrapper& Make() {
        wrapper = new CZefEngineWrapper(enginePath.u16string().c_str(), &host, *reportFiles,
                                        reportTicks);
        return *wrapper;
    }
    // Builds, starts and checks the start of a wrapper.
    CZefEngineWrapper& Started() {
        CZefEngineWrapper& made = Make();
        EXPECT_EQ(made.StartEngine(), 1u);
        EXPECT_EQ(made.IsEngineStarted(), 1u);
        return made;
    }
    // Stops and deletes the wrapper, for a test that makes another.
    void Drop() {
        wrapper->StopEngine();
        wrapper->DeletingDestructor(1);
        wrapper = nullptr;
    }

    // The host's configuration service answers with the batch that fill builds (and keeps the
    // request it got for inspection).
    void AnswerConfiguration(std::function<void(config::CConfigBatchCommands&)> fill,
                             uint32_t result = 0x20FF0000) {
        host.AddInterface(5, 51, [this, fill, result](uint32_t fn, void* in, void* out) {
            EXPECT_EQ(fn, 0x2011u);
            lastQuery = std::make_shared<config::CConfigBatchCommands>(
                *static_cast<const VELK_DataHandleWrapper*>(in));
            config::CConfigBatchCommands reply(2);
            fill(reply);
            VELK_DataHandleWrapper built;
            reply.Serialize(built);
            // The host re-points the reply message it was handed at its answer.
            VELK_Msg_ShareDataHandle(built.Handle(), &static_cast<HostMessageLayout*>(out)->handle);
            return result;
        });
    }

    // A host's configuration change carrying the batch that fill builds.
    struct Change {
        explicit Change(std::function<void(config::CConfigBatchCommands&)> fill) {
            config::CConfigBatchCommands batch(1);
            fill(batch);
            batch.Serialize(message);
            request = {velk::kKindConfigurationChanged, 0, 0, message.Handle()};
        }
        VELK_DataHandleWrapper message;
        velk::ConfigurationChangeRequest request;
    };
    // Disables the engine as a host's configuration change does (Enable = false).
    static void Disable(CZefEngineWrapper& w) {
        Change disable([](config::CConfigBatchCommands& batch) { batch.AddCommand(4, 0x03610009, false); });
        ASSERT_EQ(w.CallFunc(velk::kFnHostRequest1, &disable.request, nullptr), velk::kSuccess);
    }

    std::string Utf8(const std::filesystem::path& path) const {
        return platform::ToUtf8(path.u16string());
    }
    std::u16string Folder(const char* leaf) const { return (folder / leaf).u16string(); }
    // The wrapper's captured texts, of one line number or (0) of all.
    std::vector<std::string> Lines(uint32_t at = 0) const {
        std::vector<std::string> texts;
        for (const CapturedLine& line : at != 0 ? CapturedAt(at) : CapturedLines()) texts.push_back(line.text);
        return texts;
    }
    // Report.log of the default configuration, as UTF-8 (without the byte-order mark).
    std::string ReportLog() const { return Utf8WithoutMark(folder / "Log" / "Report.log"); }

    std::filesystem::path folder;
    std::filesystem::path enginePath;
    platform::ModuleHandle held = nullptr;
    std::unique_ptr<FakeZefControl> engine;
    ScriptedHost host;
    CZefEngineWrapper* wrapper = nullptr;
    // Report.log's file calls and clock, for the wrappers Make builds.
    const platform::FileOps* reportFiles = &platform::SystemFileOps();
    util::CLogger::TickSource reportTicks = platform::TickCount;
    std::shared_ptr<config::CConfigBatchCommands> lastQuery;
};
