// Resolving and reading the fake engine's control exports.
#include "tests/fakes/fake_zef_control.h"

FakeZefControl::FakeZefControl(platform::ModuleHandle fake) {
    reset_ = platform::FindExportAs<decltype(reset_)>(fake, "FakeZef_Reset");
    setQuiet_ = platform::FindExportAs<decltype(setQuiet_)>(fake, "FakeZef_SetQuiet");
    setResult_ = platform::FindExportAs<decltype(setResult_)>(fake, "FakeZef_SetResult");
    setDelay_ = platform::FindExportAs<decltype(setDelay_)>(fake, "FakeZef_SetDelay");
    callCount_ = platform::FindExportAs<decltype(callCount_)>(fake, "FakeZef_CallCount");
    getCall_ = platform::FindExportAs<decltype(getCall_)>(fake, "FakeZef_GetCall");
    getCallback_ = platform::FindExportAs<decltype(getCallback_)>(fake, "FakeZef_GetCallback");
    setPolicy_ = platform::FindExportAs<decltype(setPolicy_)>(fake, "FakeZef_SetPolicy");
    lateCalls_ = platform::FindExportAs<decltype(lateCalls_)>(fake, "FakeZef_LateCalls");
}

bool FakeZefControl::IsComplete() const {
    return reset_ && setQuiet_ && setResult_ && setDelay_ && callCount_ && getCall_ && getCallback_ &&
           setPolicy_ && lateCalls_;
}

std::vector<std::string> FakeZefControl::Calls() const {
    std::vector<std::string> calls;
    const uint32_t count = callCount_();
    for (uint32_t i = 0; i < count; ++i) {
        char text[2048];
        if (getCall_(i, text, sizeof text) >= 0) calls.emplace_back(text);
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
