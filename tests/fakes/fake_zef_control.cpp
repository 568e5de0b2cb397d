// Reading the fake engine's call record.
#include "tests/fakes/fake_zef_control.h"

std::vector<std::string> FakeZefControl::Calls() const {
    const auto getCalls = Get<uint32_t (*)(char*, uint32_t)>("FakeZef_GetCalls");
    std::string text(getCalls(nullptr, 0), '\0');
    getCalls(text.data(), static_cast<uint32_t>(text.size()));  // a call made meanwhile is cut off
    std::vector<std::string> calls;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        calls.push_back(text.substr(at, end - at));
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
