// Host notifications and the component records they answer with.
#include "plugin/host_notifications.h"

#include <string>
#include <vector>

#include "engine/zef_engine_wrapper.h"
#include "host/result_codes.h"
#include "host/host_message.h"
#include "plugin/module_state.h"
#include "plugin/plugin_exports.h"
#include "host/velk_data_handle_wrapper.h"
#include "plugin/plugin_diag.h"
#include "util/format_w.h"

namespace plugin_notifications {
namespace {

using plugin_diag::kDiag;

constexpr uint32_t kComponentLocations = 0x10017;
constexpr uint32_t kModuleInformation = 0x10018;
constexpr uint32_t kReceivedComponent = 0x100B5;
constexpr uint32_t kComponent = 0x100BD;
constexpr uint32_t kComponentList = 0x100BE;
constexpr uint32_t kFirstField = 0x20001;
constexpr uint32_t kPositionField = 0x20A99;

struct ComponentEntry {
    int32_t type = 0;
    int32_t componentId = 0;
    int32_t further[4] = {};
    uint32_t number7 = 0;
    int32_t number8 = 0;
    std::u16string version;
    std::u16string path;
    uint32_t last = 0;
};

// The two components: the module itself and its pattern (type 3 marks the pattern).
ComponentEntry ModuleEntry() {
    ComponentEntry entry;
    entry.type = 2;
    entry.componentId = 0x48000014;
    entry.number8 = 2;
    entry.path = u".\\";
    return entry;
}
ComponentEntry PatternEntry() {
    ComponentEntry entry;
    entry.type = 3;
    entry.componentId = 0x48040053;
    entry.number8 = 1;
    entry.path = u".\\pattern";
    return entry;
}

uint32_t AnswerLocations(void* output) {
    if (output == nullptr) return velk::kBadArgument;
    ComponentEntry entries[2] = {ModuleEntry(), PatternEntry()};
    entries[0].last = 1;
    VELK_DataHandleWrapper record(kComponentLocations, true);
    record.PutUInt32(kFirstField, 0);
    record.PutUInt32(1, 2);
    for (uint32_t i = 1; i <= 2; ++i) {
        const ComponentEntry& entry = entries[i - 1];
        const uint32_t b = 30 * i;
        record.PutInt32(b + 1, entry.type);
        record.PutInt32(b + 2, entry.componentId);
        for (uint32_t k = 0; k < 4; ++k) record.PutInt32(b + 3 + k, entry.further[k]);
        record.PutUInt32(b + 7, entry.number7);
        record.PutInt32(b + 8, entry.number8);
        record.PutWString(b + 15, entry.path);
        record.PutUInt32(b + 16, entry.last);
    }
    VELK_DataHandleWrapper(HostMessageHandle(output)).PutData(record);
    return velk::kSuccess;
}

uint32_t AnswerModuleInformation(void* output) {
    if (output == nullptr) return velk::kBadArgument;
    VELK_DataHandleWrapper record(kModuleInformation, true);
    const uint32_t unsignedFields[] = {0, kPluginModuleId, 2, 0, 0, 1045};
    record.PutUInt32(kFirstField, unsignedFields[0]);
    for (uint32_t id = 1; id <= 5; ++id) record.PutUInt32(id, unsignedFields[id]);
    record.PutInt32(6, 2);
    record.PutInt32(7, 0);
    VELK_DataHandleWrapper(HostMessageHandle(output)).PutData(record);
    return velk::kSuccess;
}

uint32_t AnswerVersions(void* output) {
    if (output == nullptr) return velk::kBadArgument;
    std::vector<ComponentEntry> entries;
    if (ICommonPluginInterface* self = Plugin_Interface_QueryInterface(kPluginInterfaceId)) {
        ModuleVersion version{};
        self->GetModuleVersion(&version);
        char16_t text[50] = {};
        util::FormatW(text, 50, u"%d.%d.%d", version.major, version.minor, version.build);
        entries = {ModuleEntry(), PatternEntry()};
        entries[0].version = text;
        entries[1].version = u"0";
        for (ComponentEntry& entry : entries) entry.number7 = kPluginModuleId;
    }
    VELK_DataHandleWrapper list(kComponentList, true);
    list.PutUInt32(kFirstField, 0);
    for (uint32_t position = 0; position < entries.size(); ++position) {
        const ComponentEntry& entry = entries[position];
        list.PutUInt32(kPositionField, position);
        VELK_DataHandleWrapper record(kComponent, true);
        record.PutUInt32(kFirstField, 0);
        record.PutInt32(1, entry.type);
        record.PutInt32(2, entry.componentId);
        for (uint32_t k = 0; k < 4; ++k) record.PutInt32(3 + k, entry.further[k]);
        record.PutWString(17, entry.version);
        record.PutWString(18, entry.path);
        record.PutUInt32(7, entry.number7);
        record.PutInt32(8, entry.number8);
        list.PutData(record);
    }
    VELK_DataHandleWrapper(HostMessageHandle(output)).PutData(list);
    return velk::kSuccess;
}

uint32_t ComponentReplaced(void* input) {
    if (input == nullptr) return velk::kSuccess;
    ComponentEntry entry;
    {
        // The cursor is the plug-in's own: nothing of the host's object but its handle is read.
        VELK_DataHandleWrapper target;
        if (velk::Succeeded(ReadNextHostRecord(input, kReceivedComponent, target))) {
            uint32_t unused = 0;
            target.GetUInt32At(kFirstField, unused);
            target.GetInt32At(1, entry.type);
            target.GetInt32At(2, entry.componentId);
            for (uint32_t k = 0; k < 4; ++k) target.GetInt32At(3 + k, entry.further[k]);
            target.GetWStringAt(17, entry.version);
            target.GetWStringAt(18, entry.path);
            target.GetUInt32At(7, entry.number7);
            target.GetInt32At(8, entry.number8);
        }
    }
    if (entry.type == 3 && g_nRunning.load() == 1 && g_pEngineWrapper != nullptr &&
        !g_pEngineWrapper->IsPatternUsable()) {
        kDiag.Write(util::kDiagError, 579, "ZEF pattern is corrupted.");
        return 0xE0360008;
    }
    return velk::kSuccess;
}

}  // namespace

uint32_t HandleNotification(int32_t notificationId, void* input, void* output) {
    kDiag.Write(util::kDiagTrace, 515, u"OnNotify. ID = ", static_cast<uint32_t>(notificationId));
    switch (notificationId) {
        case 4104:
        case 4117:
            g_nRunning.exchange(0);  // the engine runs on; calls are refused from now on
            return velk::kOutOfService;
        case 4106: return velk::kSuccess;
        case 4107: return velk::kOutOfService;
        case 4108: return AnswerLocations(output);
        case 4109: return AnswerModuleInformation(output);
        case 4116: return ComponentReplaced(input);
        case 4118: return AnswerVersions(output);
        default: return velk::kNotHandled;
    }
}

}  // namespace plugin_notifications
