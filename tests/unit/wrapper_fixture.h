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
#include "host/result_codes.h"
#include "platform/dynamic_module.h"
#include "platform/text.h"
#include "tests/fakes/captured_log.h"
#include "tests/fakes/fake_zef_control.h"
#include "tests/fakes/scripted_host.h"
#include "tests/fakes/test_folder.h"
#include "util/path_variables.h"

class EngineWrapperTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = MakeTestFolder("wrapper");
        enginePath = folder / ModuleFileName("Zef");
        std::filesystem::copy_file(BuildOutputFolder() / ModuleFileName("FakeZef"), enginePath);
        held = platform::LoadModuleByPath(enginePath.u16string().c_str());
        ASSERT_NE(held, nullptr);
        engine = std::make_unique<FakeZefControl>(held);
        ASSERT_TRUE(engine->IsComplete());
        engine->Reset();
        StartLogCapture();
    }
    void TearDown() override {
        if (wrapper != nullptr) {
            wrapper->StopEngine();
            wrapper->DeletingDestructor(1);
        }
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

    // Disables the engine as a host's configuration change does (Enable = false).
    static void Disable(CZefEngineWrapper& w) {
        velk::ConfigurationChangeRequest disable{velk::kKindConfigurationChanged, 0, 0, {}};
        config::CConfigBatchCommands batch(1);
        batch.AddCommand(4, 0x03610009, false);
        VELK_DataHandleWrapper message;
        batch.Serialize(message);
        disable.message = message.Handle();
        ASSERT_EQ(w.CallFunc(velk::kFnHostRequest1, &disable, nullptr), velk::kSuccess);
    }

    std::string Utf8(const std::filesystem::path& path) const {
        return platform::ToUtf8(path.u16string());
    }
    std::u16string Folder(const char* leaf) const { return (folder / leaf).u16string(); }
    std::vector<std::string> Lines() const {
        std::vector<std::string> texts;
        for (const CapturedLine& line : CapturedLines()) texts.push_back(line.text);
        return texts;
    }

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
