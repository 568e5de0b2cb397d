// `policies`: the pattern's policies through the policy query (0x2360000E), read back from the
// list record the plug-in writes into the host's message.
#include <vector>

#include "host/call_records.h"
#include "host/message_object.h"
#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/commands/commands.h"
#include "reference/pellumhost/commands/exit_codes.h"
#include "reference/pellumhost/commands/plugin_session.h"

namespace pellumhost {
namespace {

constexpr uint32_t kPolicyList = 0x1028B;
constexpr uint32_t kPolicyItem = 0x1028C;
constexpr uint32_t kSubtype = 1, kType = 2, kValue = 3, kPresent = 4;
constexpr uint32_t kFirstText = 25, kTextStep = 20;
constexpr uint32_t kEverySubtype = 1 | 2 | 4 | 8, kEveryType = 1 | 2;

struct Policy {
    int32_t subtype = 0, type = 0, present = 0;
    uint32_t value = 0;
    std::vector<std::string> texts;
};

// One owned handle of a nested record.
struct Record {
    VELK_DataHandle handle{};
    ~Record() {
        if (handle.lo != 0 || handle.hi != 0) VELK_Msg_DestroyDataHandle(&handle);
    }
};

std::vector<Policy> ReadPolicies(const HostMessageObject& answer) {
    std::vector<Policy> policies;
    Record list;
    if (velk::Failed(VELK_Msg_GetDataAt(answer.handle, kPolicyList, 0, &list.handle))) return policies;
    for (uint32_t i = 0;; ++i) {
        Record item;
        if (velk::Failed(VELK_Msg_GetDataAt(list.handle, kPolicyItem, i, &item.handle))) break;
        Policy policy;
        VELK_Msg_GetInt32At(item.handle, kSubtype, 0, &policy.subtype);
        VELK_Msg_GetInt32At(item.handle, kType, 0, &policy.type);
        VELK_Msg_GetInt32At(item.handle, kPresent, 0, &policy.present);
        VELK_Msg_GetUInt32At(item.handle, kValue, 0, &policy.value);
        for (uint32_t j = 0;; ++j) {
            const uint32_t nameId = kFirstText + kTextStep * j;
            uint32_t length = 0;
            if (velk::Failed(VELK_Msg_GetWStringAt(item.handle, nameId, 0, nullptr, 0, &length))) break;
            std::u16string text(length + 1, u'\0');
            VELK_Msg_GetWStringAt(item.handle, nameId, 0, text.data(), length + 1, &length);
            text.resize(length);
            policy.texts.push_back(platform::ToUtf8(text));
        }
        policies.push_back(policy);
    }
    return policies;
}

}  // namespace

int RunPoliciesCommand(const HostOptions& options) {
    CommandOutput output("policies", options.json);
    PluginSession session(options);
    const int started = session.Start(output);
    if (started != kExitOk) return output.Finish(started);

    velk::PolicyQueryRequest request{kEverySubtype, kEveryType};
    HostMessageObject answer;
    const uint32_t result = session.Call(velk::kFnQueryPatternPolicies, &request, &answer);
    if (velk::Failed(result))
        return output.Finish(output.Fail(kExitFailed, "the policy query failed: " + ResultText(result)));
    const std::vector<Policy> policies = ReadPolicies(answer);
    JsonWriter& json = output.Document();
    json.Key("pattern").String(session.PatternFolder()).Key("policies").BeginArray();
    output.Print("policies of the pattern in %s:\n", session.PatternFolder().c_str());
    output.Print("  %4s %7s  %-7s %10s  %s\n", "type", "subtype", "present", "value", "texts");
    for (const Policy& p : policies) {
        json.BeginObject()
            .Key("type").Number(p.type)
            .Key("subtype").Number(p.subtype)
            .Key("present").Bool(p.present != 0)
            .Key("value").Unsigned(p.value)
            .Key("texts").BeginArray();
        std::string joined;
        for (const std::string& text : p.texts) {
            json.String(text);
            joined += (joined.empty() ? "" : " | ") + text;
        }
        json.EndArray().EndObject();
        output.Print("  %4d %7d  %-7s %10u  %s\n", p.type, p.subtype, p.present != 0 ? "yes" : "no",
                     p.value, joined.c_str());
    }
    json.EndArray();
    if (policies.empty()) output.Print("  (none)\n");
    return output.Finish(kExitOk);
}

}  // namespace pellumhost
