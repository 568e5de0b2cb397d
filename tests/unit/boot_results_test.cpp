// Boot results: the records the host receives, read by offset, and what is freed and marked.
#include <gtest/gtest.h>

#include <cstring>

#include "host/feedback_records.h"
#include "tests/unit/restore_fixture.h"

namespace {

using Calls = std::vector<std::string>;
constexpr uint64_t kEpochAsFileTime = 116444736000000000ull;

template <typename T>
T At(const std::string& record, size_t offset) {
    T value{};
    std::memcpy(&value, record.data() + offset, sizeof value);
    return value;
}

class BootResultsTest : public RestoreTest {
protected:
    void OfferFeedback(uint32_t answer = 0x20FF0001) {
        host.AddInterface(velk::kFeedbackModule, velk::kFeedbackInterface,
                          [this, answer](uint32_t fn, void* in, void* out) {
                              EXPECT_EQ(fn, velk::kFnSendBootResults);
                              EXPECT_EQ(out, nullptr);
                              const auto* request = static_cast<velk::BootResultsRequest*>(in);
                              EXPECT_EQ(request->zero, 0u);
                              for (uint8_t byte : request->reserved) EXPECT_EQ(byte, 0);
                              const auto* bytes = reinterpret_cast<const char*>(request->records);
                              for (uint32_t i = 0; i < request->count; ++i) {
                                  records.emplace_back(bytes + i * 648, 648);
                              }
                              ++sends;
                              return answer;
                          });
    }
    uint32_t Ask(uint32_t functionId = velk::kFnHostRequest1) {
        uint32_t request[8] = {velk::kKindBootResults};
        return wrapper->CallFunc(functionId, request, nullptr);
    }
    std::vector<std::string> records;
    int sends = 0;
};

TEST_F(BootResultsTest, RecordsCarryEachResultAtItsOffset) {
    OfferFeedback();
    Started();
    const std::u16string longName(70, u'n');
    engine->AddBootResult(0, 0x1122334455667788ull, u"BootCheck", kEpochAsFileTime + 10000000ull * 1000);
    engine->AddBootResult(0x12345678, 7, longName.c_str(), 5);  // before 1970
    engine->AddBootResult(0xFFFF0001, 0, nullptr, kEpochAsFileTime);
    EXPECT_EQ(Ask(velk::kFnHostRequest3), 0x20FF0001u) << "the host's own answer";
    ASSERT_EQ(records.size(), 3u);
    const struct {
        uint64_t time;
        std::u16string name;
        uint64_t value;
        uint32_t status;
    } expected[] = {{1000, u"BootCheck", 0x1122334455667788ull, 0x20360001},
                    {0, std::u16string(64, u'n'), 7, 0xE0F05678},
                    {0, u"", 0, 0xE0F00001}};
    for (size_t i = 0; i < records.size(); ++i) {
        const std::string& r = records[i];
        // The name is cut to 64 units and terminated.
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(r.data() + 32)), expected[i].name) << i;
        EXPECT_EQ(At<char16_t>(r, 32 + 2 * 64), u'\0') << i;
        // The fields at 0, 8, 28, 304, 312, 444, 448, 452, 456, 460 (bit 0x20), 464, 484, 552,
        // 560 and 624.
        EXPECT_EQ((std::vector<uint64_t>{At<uint32_t>(r, 0), At<uint64_t>(r, 8), At<uint32_t>(r, 28),
                                         At<uint32_t>(r, 304), At<uint64_t>(r, 312), At<uint32_t>(r, 444),
                                         At<uint32_t>(r, 448), At<uint32_t>(r, 452), At<uint32_t>(r, 456),
                                         At<uint32_t>(r, 460) & 0x20u, At<uint64_t>(r, 464),
                                         At<uint32_t>(r, 484), At<uint64_t>(r, 552), At<uint64_t>(r, 560),
                                         At<uint32_t>(r, 624)}),
                  (std::vector<uint64_t>{2, expected[i].time, 100, 1, expected[i].value, 0x20360003, 3,
                                         expected[i].status, 15, 0x20, 0, 1, 0, 0, 648}))
            << i;
    }
    EXPECT_EQ(engine->CallsTo({"RmAllocDbeResults", "RmFreeDbeResults", "RmDeleteDbeResults"}),
              (Calls{"RmAllocDbeResults", "RmFreeDbeResults"}));
    engine->Reset();
    wrapper->StopEngine();
    EXPECT_EQ(engine->CallsTo({"RmDeleteDbeResults"}), (Calls{"RmDeleteDbeResults"}))
        << "sent results are deleted from the engine at stop";
}

struct NotSentCase {
    const char* why;
    uint64_t allocated;  // RmAllocDbeResults' answer (0: the scripted results' count)
    int results;
    bool withFeedback;
    uint32_t result;
    Calls engineCalls;
};

TEST_F(BootResultsTest, NothingSentIsNotMarked) {
    const NotSentCase cases[] = {
        {"the engine has none: nothing to send, nothing to free", 0, 0, true, velk::kSuccess,
         {"RmAllocDbeResults"}},
        {"the first fetch fails", 2, 0, true, velk::kNotHandled,
         {"RmAllocDbeResults", "RmFetchDbeResult(0,ptr,ptr,ptr,ptr,ptr,ptr)", "RmFreeDbeResults"}},
        {"no feedback service", 0, 1, false, velk::kNotHandled,
         {"RmAllocDbeResults", "RmFetchDbeResult(0,ptr,ptr,ptr,ptr,ptr,ptr)",
          "RmFreeDbeResults"}},
    };
    for (const NotSentCase& c : cases) {
        if (c.withFeedback) OfferFeedback();
        Started();
        engine->Reset();
        engine->SetResult("RmAllocDbeResults", c.allocated);
        for (int i = 0; i < c.results; ++i) engine->AddBootResult(0, 0, u"x", 0);
        EXPECT_EQ(Ask(), c.result) << c.why << " (a failed group A call ends as not handled)";
        EXPECT_EQ(sends, 0) << c.why;
        EXPECT_EQ(engine->CallsTo({"RmAllocDbeResults", "RmFetchDbeResult", "RmFreeDbeResults"}),
                  c.engineCalls)
            << c.why;
        engine->Reset();
        wrapper->StopEngine();
        EXPECT_TRUE(engine->CallsTo({"RmDeleteDbeResults"}).empty()) << c.why;
        wrapper->DeletingDestructor(1);
        wrapper = nullptr;
        host.RemoveInterface(velk::kFeedbackModule, velk::kFeedbackInterface);
    }
}

TEST_F(BootResultsTest, AnEngineWithoutFetchSendsNothing) {
    // The same fake without RmFetchDbeResult, as the engine of a second wrapper.
    const std::filesystem::path other = folder / "other";
    std::filesystem::create_directories(other);
    const std::filesystem::path otherEngine = other / ModuleFileName("Zef");
    std::filesystem::copy_file(BuildOutputFolder() / ModuleFileName("FakeZefNoRmFetchDbeResult"),
                               otherEngine);
    platform::ModuleHandle module = platform::LoadModuleByPath(otherEngine.u16string().c_str());
    ASSERT_NE(module, nullptr);
    {
        FakeZefControl otherControl(module);
        otherControl.Reset();
        otherControl.AddBootResult(0, 1, u"x", 0);
        OfferFeedback();
        auto* w = new CZefEngineWrapper(otherEngine.u16string().c_str(), &host);
        ASSERT_EQ(w->StartEngine(), 1u);
        uint32_t request[8] = {velk::kKindBootResults};
        EXPECT_EQ(w->CallFunc(velk::kFnHostRequest2, request, nullptr), velk::kNotHandled);
        EXPECT_EQ(sends, 0);
        EXPECT_EQ(otherControl.CallsTo({"RmAllocDbeResults", "RmFreeDbeResults"}),
                  (Calls{"RmAllocDbeResults", "RmFreeDbeResults"}));
        w->StopEngine();
        w->DeletingDestructor(1);
    }
    platform::UnloadModule(module);
}

}  // namespace
