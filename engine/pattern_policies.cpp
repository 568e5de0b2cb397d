// QueryPatternPolicies: the policies the engine's pattern carries, written into the caller's
// message as one list record. Served whenever the engine is started, even while disabled.
#include <list>
#include <string>
#include <vector>

#include "engine/zef_engine_wrapper.h"
#include "host/call_records.h"
#include "host/result_codes.h"
#include "host/host_message.h"
#include "host/velk_data_handle_wrapper.h"

namespace {

constexpr uint32_t kPolicyList = 0x1028B;
constexpr uint32_t kPolicyItem = 0x1028C;
constexpr uint32_t kFirstField = 0x20001;
constexpr uint32_t kIndexField = 0x20A99;

struct PolicyItem {
    uint32_t subtype;
    uint32_t type;
    uint32_t present;
    uint32_t value;
    std::vector<std::u16string> texts;
};

// Queries one policy and appends its item; 0, or the engine's failure (no item then).
uint32_t AppendPatternPolicy(const EngineEntryPoints& engine, uint32_t type, uint32_t subtype,
                             std::list<PolicyItem>& items) {
    zef::PatternPolicy policy{};
    const uint32_t queried = engine.QueryPtnPolicy(type, subtype, &policy);
    if (queried != 0) return queried;
    PolicyItem item{subtype, type, policy.present, 0, {}};
    if (policy.present != 0) {
        if (policy.valueType == 4 || policy.valueType == 8) {
            item.value = policy.count;
        } else if (policy.texts != nullptr) {
            for (uint32_t i = 0; i < policy.count; ++i) {
                if (policy.texts[i] != nullptr) item.texts.emplace_back(policy.texts[i]);
            }
        }
    }
    items.push_back(std::move(item));
    engine.FreePtnPolicy(&policy);
    return 0;
}

void PutPolicyItems(VELK_DataHandleWrapper& output, const std::list<PolicyItem>& items) {
    VELK_DataHandleWrapper list(kPolicyList, true);
    list.PutUInt32(kFirstField, 0);
    uint64_t index = 0;
    for (const PolicyItem& item : items) {
        list.PutUInt64(kIndexField, index++);
        VELK_DataHandleWrapper record(kPolicyItem, true);
        record.PutUInt32(kFirstField, 0);
        record.PutInt32(1, static_cast<int32_t>(item.subtype));
        record.PutInt32(2, static_cast<int32_t>(item.type));
        record.PutInt32(4, static_cast<int32_t>(item.present));
        record.PutUInt32(3, item.value);
        for (uint32_t j = 0; j < item.texts.size(); ++j) {
            record.PutUInt64(kIndexField, j);
            record.PutWString(25 + 20 * j, item.texts[j]);
        }
        list.PutData(record);
    }
    output.PutData(list);
}

}  // namespace

uint32_t CZefEngineWrapper::QueryPatternPolicies(const void* input, void* output) {
    if (input == nullptr || output == nullptr) return velk::kBadArgument;
    const auto* request = static_cast<const velk::PolicyQueryRequest*>(input);
    std::list<PolicyItem> items;
    for (uint32_t type : {1u, 2u}) {
        if ((request->typeMask & type) == 0) continue;
        for (uint32_t subtype : {1u, 2u, 4u}) {
            if (request->subtypeMask & subtype) AppendPatternPolicy(m_entries, type, subtype, items);
        }
    }
    if (request->subtypeMask & 8u) AppendPatternPolicy(m_entries, 1, 8, items);
    // The caller's message is written through a second owner of its record.
    VELK_DataHandleWrapper message(HostMessageHandle(output));
    PutPolicyItems(message, items);
    return velk::kSuccess;
}
