// The engine's settings: queried from the host at start, settled with their defaults, handed
// to the engine, and changed while running. All of it but OnConfigurationChanged runs on the
// life-cycle thread; OnConfigurationChanged runs on host threads inside the in-flight count.
#include <algorithm>
#include <variant>
#include <vector>

#include "config/config_batch.h"
#include "engine/configuration_keys.h"
#include "engine/wrapper_diag.h"
#include "engine/zef_engine_wrapper.h"
#include "host/call_records.h"
#include "host/result_codes.h"
#include "platform/module.h"
#include "host/host_message.h"
#include "host/plugin_interface_class.h"
#include "util/format_w.h"
#include "util/path_variables.h"

using engine_diag::kDiag;
using namespace engine_config;

namespace {

constexpr uint32_t kUnanswered = 0xE0FF0001;
constexpr uint32_t kTextUnits = 260;

// One key of a configuration query: where its status and its value go.
struct QuerySlot {
    uint32_t key;
    uint32_t commandType;
    std::variant<int32_t*, uint32_t*, bool*, std::u16string*> target;
    uint32_t* status;
};

uint32_t ReadSlot(const config::CConfigBatchCommands& reply, const QuerySlot& slot) {
    return std::visit([&](auto* target) { return reply.GetValue(slot.key, *target); }, slot.target);
}

// The text formatted into a zeroed 260-unit buffer; settings with a formatting capacity of 259
// (258 units kept), the engine folder with the whole buffer (259 kept).
void FormatSettingText(char16_t (&buffer)[kTextUnits], const std::u16string& text,
                       size_t capacity = kTextUnits - 1) {
    std::fill(std::begin(buffer), std::end(buffer), u'\0');
    util::FormatW(buffer, capacity, u"%s", text);
}

}  // namespace

std::u16string CZefEngineWrapper::EngineFolder() const {
    const std::u16string path(m_szEnginePath);
    const size_t cut = path.rfind(platform::kPathSeparator);
    return cut == std::u16string::npos ? path : path.substr(0, cut);
}

void CZefEngineWrapper::SetDefaultPath(std::u16string& member, const char16_t* leaf) const {
    char16_t buffer[kTextUnits];
    FormatSettingText(buffer, m_szEnginePath);
    std::u16string path(buffer);
    const size_t cut = path.rfind(platform::kPathSeparator);
    if (cut == std::u16string::npos) return;
    member = path.substr(0, cut) + platform::kPathSeparator + leaf;
}

void CZefEngineWrapper::SetDefaultDbPath() { SetDefaultPath(DbPath, u"Data"); }
void CZefEngineWrapper::SetDefaultDebugLogPath() { SetDefaultPath(DebugLogPath, u"Log"); }
void CZefEngineWrapper::SetDefaultPatternPath() { SetDefaultPath(PatternPath, u"Pattern"); }

uint32_t CZefEngineWrapper::QueryConfiguration() {
    config::CConfigBatchCommands query(kQueryAction);
    if (!query.IsValid()) {
        kDiag.Write(util::kDiagError, __LINE__, u"Failed: Get System Config Failed");
        return velk::kNotDone;
    }

    enum Setting { kDebugLevel, kLogPath, kPatternPath, kDbPath, kDbSize, kFeedback, kSecurity,
                   kHistory, kEnable, kWorkMode, kQuota, kMaxSize, kMaxSizePid, kSettings };
    uint32_t status[kSettings];
    std::fill(std::begin(status), std::end(status), kUnanswered);
    std::u16string logPath, patternPath, dbPath;
    int32_t dbSize = DbSize.load();
    bool enable = Enable.load();
    uint32_t workMode = WorkMode.load(), quota = PerProcessBackupQuota.load();
    uint32_t maxSize = MaxBackupFileSize.load(), maxSizePid = MaxBackupFileSizePidMode.load();

    std::vector<QuerySlot> slots;
    // Each get command carries the setting's current value (the paths an empty text).
    const auto ask = [&](uint32_t key, auto* target, Setting setting) {
        if (velk::Succeeded(query.AddCommand(kGetCommand, key, *target))) {
            slots.push_back({key, kGetCommand, target, &status[setting]});
        }
    };
    ask(VELK_CFG_ZEF_DEBUG_LEVEL, &DebugLevel, kDebugLevel);
    ask(VELK_CFG_ZEF_DEBUG_LOG_PATH, &logPath, kLogPath);
    ask(VELK_CFG_ZEF_PATTERN_PATH, &patternPath, kPatternPath);
    ask(VELK_CFG_ZEF_DB_PATH, &dbPath, kDbPath);
    ask(VELK_CFG_ZEF_DB_SIZE, &dbSize, kDbSize);
    ask(VELK_CFG_ZEF_FEEDBACK_SWITCH, &FeedbackSwitch, kFeedback);
    ask(VELK_CFG_ZEF_SECURITY_LEVEL, &SecurityLevel, kSecurity);
    ask(VELK_CFG_ZEF_HISTORY_KEEP_DAYS, &HistoryKeepDays, kHistory);
    ask(VELK_CFG_ZEF_ENABLE, &enable, kEnable);
    ask(VELK_CFG_ZEF_WORK_MODE, &workMode, kWorkMode);
    ask(VELK_CFG_ZEF_PER_PROCESS_BACKUP_QUOTA, &quota, kQuota);
    ask(VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE, &maxSize, kMaxSize);
    ask(VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE_PID_MODE, &maxSizePid, kMaxSizePid);

    VELK_DataHandleWrapper request;
    if (velk::Succeeded(query.Serialize(request))) {
        VELK_DataHandleWrapper reply;
        PluginInterfaceClass service(g_pEngineHost, velk::kConfigurationModule,
                                     velk::kConfigurationInterface);
        if (velk::Succeeded(service.Call(velk::kFnQueryConfiguration, &request, &reply))) {
            const config::CConfigBatchCommands answers(reply);
            for (const QuerySlot& slot : slots) *slot.status = ReadSlot(answers, slot);
        }
    }

    const auto ok = [&](Setting setting) { return velk::Succeeded(status[setting]); };
    const auto settleNumber = [&](Setting setting, auto& member, auto fallback, const char16_t* name) {
        if (ok(setting)) {
            kDiag.Write(util::kDiagTrace, __LINE__, u"Query configuration: ", name, u" = ",
                        static_cast<uint32_t>(member));
        } else {
            member = fallback;
            kDiag.Write(util::kDiagTrace, __LINE__, u"Query configuration fail, use default: ",
                        name, u" = ", static_cast<uint32_t>(member));
        }
    };
    settleNumber(kDebugLevel, DebugLevel, 4, u"DebugLevel");
    settleNumber(kDbSize, dbSize, 1024, u"DbSize");
    DbSize = dbSize;
    settleNumber(kFeedback, FeedbackSwitch, 0, u"FeedbackSwtich");
    settleNumber(kSecurity, SecurityLevel, 1, u"SecurityLevel");
    settleNumber(kHistory, HistoryKeepDays, 21, u"HistoryKeepDays");

    const auto settlePath = [&](Setting setting, std::u16string& member, const std::u16string& got,
                                void (CZefEngineWrapper::*setDefault)(), const char16_t* name,
                                const char16_t* key) {
        if (ok(setting)) {
            member = got;
            if (util::ExpandPathVariables(member, member, true) == 1) {
                kDiag.Write(util::kDiagTrace, __LINE__, u"Query configuration: ", name, u" = ", member);
            } else {
                (this->*setDefault)();
                kDiag.Write(util::kDiagTrace, __LINE__, u"Failed: Expand(", key, u"), use default: ",
                            name, u" = ", member);
            }
        } else {
            (this->*setDefault)();
            kDiag.Write(util::kDiagTrace, __LINE__, u"Query configuration fail, use default: ",
                        name, u" = ", member);
        }
    };
    settlePath(kLogPath, DebugLogPath, logPath, &CZefEngineWrapper::SetDefaultDebugLogPath,
               u"DebugLogPath", u"VELK_CFG_ZEF_DEBUG_LOG_PATH");
    settlePath(kPatternPath, PatternPath, patternPath, &CZefEngineWrapper::SetDefaultPatternPath,
               u"PatternPath", u"VELK_CFG_ZEF_PATTERN_PATH");
    settlePath(kDbPath, DbPath, dbPath, &CZefEngineWrapper::SetDefaultDbPath, u"DbPath",
               u"VELK_CFG_ZEF_DB_PATH");

    // The last five also tell the failing status before they fall back. A fallback text of
    // null means the engine's pattern decides (the value 0).
    const auto settleFlagged = [&](Setting setting, auto& value, auto fallback,
                                   const char16_t* failText, const char16_t* okText) {
        if (ok(setting)) {
            kDiag.Write(util::kDiagTrace, __LINE__, okText, value);
            return;
        }
        kDiag.Write(util::kDiagTrace, __LINE__, u"Query configuration fail, Status = ", status[setting]);
        value = fallback;
        if (failText != nullptr) {
            kDiag.Write(util::kDiagTrace, __LINE__, failText, value);
        } else {
            kDiag.Write(util::kDiagTrace, __LINE__, u"Query configuration fail, use the value in pattern");
        }
    };
    settleFlagged(kEnable, enable, true, u"Query configuration fail, use default: Enable = ",
                  u"Query configuration: Enable = ");
    settleFlagged(kWorkMode, workMode, 1u, u"Query configuration fail, use default: Work mode = ",
                  u"Query configuration: Work mode = ");
    settleFlagged(kQuota, quota, 6u,
                  u"Query configuration fail, use default: Per process backup quota = ",
                  u"Query configuration: Per process backup quota = ");
    settleFlagged(kMaxSize, maxSize, 0u, nullptr, u"Query configuration: Max backup file size = ");
    settleFlagged(kMaxSizePid, maxSizePid, 0u, nullptr,
                  u"Query configuration: Max backup file size(PidMode) = ");
    Enable = enable;
    WorkMode = workMode;
    PerProcessBackupQuota = quota;
    MaxBackupFileSize = maxSize;
    MaxBackupFileSizePidMode = maxSizePid;
    return velk::kSuccess;
}

void CZefEngineWrapper::UseDefaultConfiguration() {
    SetDefaultDbPath();
    SetDefaultPatternPath();
    SetDefaultDebugLogPath();
    DebugLevel = 4;
    DbSize = 1024;
    FeedbackSwitch = 0;
    HistoryKeepDays = 21;
    SecurityLevel = 1;
    WorkMode = 1;
    PerProcessBackupQuota = 6;
    const auto number = [](auto value) { return static_cast<uint32_t>(value); };
    kDiag.Write(util::kDiagTrace, __LINE__, u"Use default configuration: DbSize = ", number(DbSize.load()));
    kDiag.Write(util::kDiagTrace, __LINE__, u"Use default configuration: DebugLevel = ", number(DebugLevel));
    kDiag.Write(util::kDiagTrace, __LINE__, u"Use default configuration: FeedbackSwtich = ", number(FeedbackSwitch));
    kDiag.Write(util::kDiagTrace, __LINE__, u"Use default configuration: DebugLogPath = ", DebugLogPath);
    kDiag.Write(util::kDiagTrace, __LINE__, u"Use default configuration: PatternPath = ", PatternPath);
    kDiag.Write(util::kDiagTrace, __LINE__, u"Use default configuration: DbPath = ", DbPath);
    kDiag.Write(util::kDiagTrace, __LINE__, u"Use default configuration: SecurityLevel = ", number(SecurityLevel));
    kDiag.Write(util::kDiagTrace, __LINE__, u"Use default configuration: HistoryKeepDays = ", number(HistoryKeepDays));
    kDiag.Write(util::kDiagTrace, __LINE__, u"Use default configuration: WorkMode = ", WorkMode.load());
    kDiag.Write(util::kDiagTrace, __LINE__, u"Use default configuration: Per process backup quota = ",
                PerProcessBackupQuota.load());
}

void CZefEngineWrapper::ConfigureEngine() {
    zef::ConfigureParameter parameter{};
    char16_t text[kTextUnits];
    const auto sendText = [&](uint32_t id, const std::u16string& value,
                              size_t capacity = kTextUnits - 1) {
        FormatSettingText(text, value, capacity);
        parameter.text = {text, nullptr, kTextUnits};
        parameter.text.self = &parameter.text.capacity;
        m_entries.ChangeConfigure(id, &parameter);
    };
    const auto sendNumber = [&](uint32_t id, uint32_t value) {
        parameter = {};
        parameter.numeric.value = value;
        m_entries.ChangeConfigure(id, &parameter);
    };
    const auto sendCallback = [&](uint32_t id, void* function) {
        parameter = {};
        parameter.callback.function = function;
        m_entries.ChangeConfigure(id, &parameter);
    };
    sendText(zef::kSettingDbPath, DbPath);
    sendNumber(zef::kSettingDbSize, static_cast<uint32_t>(DbSize.load()));
    sendText(zef::kSettingPatternPath, PatternPath);
    sendText(zef::kSettingDebugLogPath, DebugLogPath);
    sendNumber(zef::kSettingDebugLevel, static_cast<uint32_t>(DebugLevel));
    sendText(zef::kSettingEngineFolder, EngineFolder(), kTextUnits);
    sendNumber(zef::kSettingSecurityLevel, static_cast<uint32_t>(SecurityLevel));
    sendNumber(zef::kSettingHistoryKeepDays, static_cast<uint32_t>(HistoryKeepDays));
    sendNumber(zef::kSettingWorkMode, WorkMode.load());
    sendNumber(zef::kSettingPerProcessBackupQuota, PerProcessBackupQuota.load());
    if (MaxBackupFileSize.load() != 0) sendNumber(zef::kSettingMaxBackupFileSize, MaxBackupFileSize.load());
    if (MaxBackupFileSizePidMode.load() != 0) {
        sendNumber(zef::kSettingMaxBackupFileSizePidMode, MaxBackupFileSizePidMode.load());
    }
    sendCallback(zef::kSettingReadBackupFileData,
                 reinterpret_cast<void*>(&engine_callbacks::ReadBackupFileData));
    sendCallback(zef::kSettingGetImagePath,
                 reinterpret_cast<void*>(&engine_callbacks::GetImagePathByUtilSysInfo));
}

uint32_t CZefEngineWrapper::OnConfigurationChanged(const void* request, void* /*response*/) {
    if (request == nullptr) return velk::kBadArgument;
    const auto* change = static_cast<const velk::ConfigurationChangeRequest*>(request);
    if (change->kind != velk::kKindConfigurationChanged) return velk::kBadArgument;

    const VELK_DataHandleWrapper message(change->message);
    const config::CConfigBatchCommands batch(message);
    if (!batch.IsValid()) return velk::kSuccess;

    uint32_t value = 0;
    if (velk::Succeeded(batch.GetValue(VELK_CFG_ZEF_DB_SIZE, value)) &&
        value != static_cast<uint32_t>(DbSize.load())) {
        DbSize = static_cast<int32_t>(value);
        m_entries.ChangeRunningConfigure(zef::kSettingDbSize, &value);
        kDiag.Write(util::kDiagTrace, __LINE__, u"Config: DBSize = ", value);
    }
    bool enable = false;
    if (velk::Succeeded(batch.GetValue(VELK_CFG_ZEF_ENABLE, enable))) {
        Enable = enable;
        SetEnabled(enable);
        kDiag.Write(util::kDiagTrace, __LINE__, u"Config: EnableFlag = ", enable);
    }
    const auto change32 = [&](uint32_t key, std::atomic<uint32_t>& member, uint32_t settingId,
                              const char16_t* text) {
        uint32_t changed = 0;
        if (velk::Failed(batch.GetValue(key, changed)) || changed == member.load()) return;
        member = changed;
        m_entries.ChangeRunningConfigure(settingId, &changed);
        kDiag.Write(util::kDiagTrace, __LINE__, text, changed);
    };
    change32(VELK_CFG_ZEF_WORK_MODE, WorkMode, zef::kSettingWorkMode, u"Config: WorkMode = ");
    change32(VELK_CFG_ZEF_PER_PROCESS_BACKUP_QUOTA, PerProcessBackupQuota,
             zef::kSettingPerProcessBackupQuota, u"Config: Per process backup quota = ");
    change32(VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE, MaxBackupFileSize, zef::kSettingMaxBackupFileSize,
             u"Config:Max backup file size = ");
    change32(VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE_PID_MODE, MaxBackupFileSizePidMode,
             zef::kSettingMaxBackupFileSizePidMode, u"Config:Max backup file size(PidMode) = ");
    return velk::kSuccess;
}

CZefEngineWrapper::Settings CZefEngineWrapper::CurrentSettings() const {
    return {DebugLevel,      DbSize.load(),          DbPath,
            PatternPath,     DebugLogPath,           FeedbackSwitch,
            HistoryKeepDays, SecurityLevel,          Enable.load(),
            WorkMode.load(), PerProcessBackupQuota.load(), MaxBackupFileSize.load(),
            MaxBackupFileSizePidMode.load()};
}
