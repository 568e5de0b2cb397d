// Resolving and reading the fake engine's control exports.
#include "tests/fakes/fake_zef_control.h"

namespace {

template <typename Function>
void Resolve(platform::ModuleHandle fake, const char* name, Function& function) {
    function = reinterpret_cast<Function>(platform::FindExport(fake, name));
}

}  // namespace

FakeZefControl::FakeZefControl(platform::ModuleHandle fake) {
    Resolve(fake, "FakeZef_Reset", reset_);
    Resolve(fake, "FakeZef_SetQuiet", setQuiet_);
    Resolve(fake, "FakeZef_SetResult", setResult_);
    Resolve(fake, "FakeZef_SetDelay", setDelay_);
    Resolve(fake, "FakeZef_CallCount", callCount_);
    Resolve(fake, "FakeZef_GetCall", getCall_);
    Resolve(fake, "FakeZef_GetCallback", getCallback_);
    Resolve(fake, "FakeZef_SetPolicy", setPolicy_);
}

bool FakeZefControl::IsComplete() const {
    return reset_ && setQuiet_ && setResult_ && setDelay_ && callCount_ && getCall_ && getCallback_ &&
           setPolicy_;
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
