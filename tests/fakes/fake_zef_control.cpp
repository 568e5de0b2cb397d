// Reading the fake engine's call record and counts.
#include "tests/fakes/fake_zef_control.h"

std::vector<std::string> FakeZefControl::Calls() const {
    std::vector<std::string> calls;
    const uint32_t count = Get<uint32_t (*)()>("FakeZef_CallCount")();
    const auto getCall = Get<int32_t (*)(uint32_t, char*, uint32_t)>("FakeZef_GetCall");
    for (uint32_t i = 0; i < count; ++i) {
        char text[2048];
        if (getCall(i, text, sizeof text) >= 0) calls.emplace_back(text);
    }
    return calls;
}

std::vector<std::string> FakeZefControl::CallsTo(const std::vector<std::string>& names) const {
    std::vector<std::string> picked;
    for (const std::string& call : Calls()) {
        for (const std::string& name : names) {
            if (call == name || call.rfind(name + "(", 0) == 0) {
                picked.push_back(call);
                break;
            }
        }
    }
    return picked;
}

bool FakeZefControl::NothingLeftBehind() const {
    return Count(kFakeOpenHandles) == 0 && Count(kFakeOpenConnections) == 0 &&
           Count(kFakeMemoryCopiesLeft) == 0 && Count(kFakeEditionCopiesLeft) == 0 &&
           Count(kFakeBadReturns) == 0;
}
