// Boot results: the records the host receives, read by offset, and what is freed and marked.
#include <gtest/gtest.h>

#include <cstring>

#include "host/feedback_records.h"
#include "tests/unit/wrapper_fixture.h"

namespace {

constexpr uint64_t kEpochAsFileTime = 116444736000000000ull;

template <typename T>
T At(const std::string& record, size_t offset) {
    T value{};
    std::memcpy(&value, record.data() + offset, sizeof value);
    return value;
}

class BootResultsTest : public EngineWrapperTest {
protected:
    void OfferFeedback() {
        host.AddInterface(velk::kFeedbackModule, velk::kFeedbackInterface, [this](uint32_t fn, void* in, void* out) {
            EXPECT_EQ(fn, velk::kFnSendBootResults);
            EXPECT_EQ(out, nullptr);
            const auto* request = static_cast<velk::BootResultsRequest*>(in);
            EXPECT_EQ(request->zero, 0u);
            for (uint8_t byte : request->reserved) EXPECT_EQ(byte, 0);
            const auto* bytes = reinterpret_cast<const char*>(request->records);
            for (uint32_t i = 0; i < request->count; ++i) records.emplace_back(bytes + i * 648, 648);
            ++sends;
            return 0x20FF0001u;
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

// Results that are not sent (a failed group A call ends as not handled) are not deleted at stop.
TEST_F(BootResultsTest, NothingSentIsNotMarked) {
    const Calls fetched{"RmAllocDbeResults", "RmFetchDbeResult(0,ptr,ptr,ptr,ptr,ptr,ptr)", "RmFreeDbeResults"};
    const struct {
        const char* why;
        const char* variant;  // the engine, or null for the plain fake
        uint64_t allocated;   // RmAllocDbeResults' answer (0: the scripted results' count)
        int results;
        bool withFeedback;
        uint32_t result;
        Calls engineCalls;
    } cases[] = {
        {"the engine has none: nothing to send, nothing to free", nullptr, 0, 0, true, velk::kSuccess,
         {"RmAllocDbeResults"}},
        {"the first fetch fails", nullptr, 2, 0, true, velk::kNotHandled, fetched},
        {"no feedback service", nullptr, 0, 1, false, velk::kNotHandled, fetched},
        {"an engine without RmFetchDbeResult", "FakeZefNoRmFetchDbeResult", 0, 1, true, velk::kNotHandled,
         {"RmAllocDbeResults", "RmFreeDbeResults"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        if (c.variant != nullptr) UseEngine(c.variant, folder / c.variant);
        if (c.withFeedback) OfferFeedback();
        Started();
        engine->Reset();
        engine->SetResult("RmAllocDbeResults", c.allocated);
        for (int i = 0; i < c.results; ++i) engine->AddBootResult(0, 0, u"x", 0);
        EXPECT_EQ(Ask(), c.result);
        EXPECT_EQ(sends, 0);
        EXPECT_EQ(engine->CallsTo({"RmAllocDbeResults", "RmFetchDbeResult", "RmFreeDbeResults"}), c.engineCalls);
        engine->Reset();
        Drop();
        EXPECT_TRUE(engine->CallsTo({"RmDeleteDbeResults"}).empty());
        host.RemoveInterface(velk::kFeedbackModule, velk::kFeedbackInterface);
    }
}

}  // namespace
