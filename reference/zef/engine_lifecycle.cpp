// The engine's life cycle, its settings and its pattern. Start opens the store of the
// database folder (refused, with a result that says why, when another engine holds it or its
// index is damaged or missing; read-only when it cannot be written); Stop keeps the memory
// versions as editions before it closes the store.
#include <algorithm>

#include "reference/zef/engine_text.h"
#include "reference/zef/zef_engine.h"

namespace zef {
namespace {

StoreLimits LimitsOf(const EngineSettings& s) {
    return StoreLimits{static_cast<uint64_t>(s.dbSizeMb) << 20, s.historyKeepDays};
}

uint32_t StartFailureOf(OpenResult opened) {
    switch (opened) {
        case OpenResult::kLocked: return kStartDatabaseInUse;
        case OpenResult::kIndexDamaged: return kStartIndexDamaged;
        case OpenResult::kIndexMissing: return kStartIndexMissing;
        default: return kStartFolderUnusable;
    }
}

// The range of each numeric setting; a value outside it (a negative one among them, which
// arrives as 2^31 or more) is refused with a line and the setting keeps its value.
struct SettingRange {
    uint32_t settingId;
    uint32_t highest;
    const char16_t* zeroMeans;
};
constexpr SettingRange kRanges[] = {
    {kSettingDbSize, 1u << 22, u"no size limit"},               // MiB: 4 TiB at most
    {kSettingDebugLevel, 4, u"no engine log"},
    {kSettingSecurityLevel, 0x7FFFFFFF, nullptr},
    {kSettingHistoryKeepDays, 36500, u"no age limit"},
    {kSettingWorkMode, 0x7FFFFFFF, u"no versions on file events"},
    {kSettingPerProcessBackupQuota, 1000000, u"no quota per process"},
    {kSettingMaxBackupFileSize, 0x7FFFFFFF, u"the pattern's limit"},
    {kSettingMaxBackupFileSizePidMode, 0x7FFFFFFF, u"the pattern's limit"},
};

}  // namespace

Engine::Engine(const FileTable& files) : m_files(files), m_results(files, m_log) {}

Engine::~Engine() { Finalize(); }

Engine& TheEngine() {
    static Engine engine;  // goes with the module when it is unloaded
    return engine;
}

std::shared_ptr<EditionStore> Engine::Store() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_store;
}

EngineSettings Engine::Settings() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_settings;
}

Pattern Engine::CurrentPattern() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pattern;
}

bool Engine::TakePath(const char16_t* source, const char16_t* what, std::u16string& path) {
    const TextCheck check = TakeText(source, kMaxPathUnits, path);
    if (check == TextCheck::kOk) return true;
    m_log.Write(LogLevel::kWarning, Concat(u"Refused: the ", what,
                                           u" is ", TextCheckName(check), u"."));
    return false;
}

uint32_t Engine::Initialize() {
    m_log.Write(LogLevel::kInfo, u"Engine initialized.");
    return 0;
}

uint32_t Engine::Start() {
    if (m_running.load()) return 0;
    const EngineSettings settings = Settings();
    m_log.SetLevel(settings.debugLevel);
    m_log.OpenIn(settings.debugLogPath);
    Pattern pattern;
    std::u16string reason;
    if (LoadPattern(m_files, settings.patternPath, pattern, reason) == PatternLoad::kCorrupt)
        m_log.Write(LogLevel::kWarning, Concat(u"The pattern in ", settings.patternPath,
                                               u" is corrupt (", reason, u"); the built-in one is used."));
    auto store = std::make_shared<EditionStore>(m_files, m_log);
    std::u16string why;
    const OpenResult opened = store->Open(settings.dbPath, LimitsOf(settings), &why);
    if (opened != OpenResult::kOk && opened != OpenResult::kReadOnly) {
        m_log.Write(LogLevel::kError, Concat(u"The engine does not start: ", why, u"."));
        return StartFailureOf(opened);
    }
    const std::u16string copies = JoinPath(settings.dbPath, u"copies");
    m_files.createFolderTree(copies.c_str());
    RemoveFilesIn(m_files, copies);
    m_results.Open(settings.dbPath);
    m_pendingRestores.Open(settings.dbPath);
    // Versions a call still added while the last run stopped lost their copies with it.
    m_memory.TakeIf([](const MemoryVersion&) { return true; });

    // Can this file system share blocks? The answer decides how versions are taken.
    const std::u16string probe = store->NewStagingPath(u"probe");
    const std::u16string probeCopy = store->NewStagingPath(u"probe");
    {
        ScopedFile file(m_files, m_files.createForWriting(probe.c_str()));
        if (file.IsOpen()) m_files.write(file.Get(), "probe", 5);
    }
    const CopyOutcome outcome = CopyFileContent(m_files, probe, probeCopy, CopyRequest());
    m_files.remove(probe.c_str());
    m_files.remove(probeCopy.c_str());
    m_log.Write(LogLevel::kInfo,
                Concat(u"Versions are taken as ", CopyMethodName(outcome.method),
                       outcome.method == CopyMethod::kClone
                           ? u": the file system shares blocks."
                           : u": the file system of the database shares no blocks."));
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_store = store;
        m_pattern = pattern;
        m_copies = copies;
    }
    m_running.store(true);
    m_log.Write(LogLevel::kInfo, Concat(u"Engine started on ", settings.dbPath, u"."));
    return 0;
}

uint32_t Engine::Stop() {
    if (!m_running.exchange(false)) return 0;
    // A stop is taken within a second however many versions wait: what half a second does not
    // keep stays staged, durable, for the next start.
    KeepAsEditions(m_memory.TakeIf([](const MemoryVersion&) { return true; }),
                   std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopKeepingMilliseconds));
    m_handles.Clear();
    m_results.Close();
    std::shared_ptr<EditionStore> store;
    std::u16string copies;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        store.swap(m_store);
        copies.swap(m_copies);
    }
    if (!copies.empty()) RemoveFilesIn(m_files, copies);
    if (store) store->Close();
    m_log.Write(LogLevel::kInfo, u"Engine stopped.");
    return 0;
}

uint32_t Engine::Finalize() {
    Stop();
    m_getImagePath.store(nullptr);
    m_readBackupFileData.store(nullptr);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_images.clear();
        m_policyTexts.clear();
        m_policyArrays.clear();
    }
    m_log.Close();
    return 0;
}

uint32_t Engine::ChangeConfigure(uint32_t settingId, const ConfigureParameter* parameter) {
    if (parameter == nullptr) {
        m_log.Write(LogLevel::kWarning, Concat(u"Setting ", settingId, u" refused: no parameter."));
        return 1;
    }
    std::u16string text;
    if (settingId == kSettingDbPath || settingId == kSettingDebugLogPath ||
        settingId == kSettingPatternPath || settingId == kSettingEngineFolder) {
        const uint64_t capacity = std::min<uint64_t>(parameter->text.capacity, kMaxPathUnits + 1);
        const TextCheck check =
            capacity == 0 ? TextCheck::kTooLong
                          : TakeText(parameter->text.buffer, static_cast<uint32_t>(capacity - 1), text);
        if (check != TextCheck::kOk) {
            m_log.Write(LogLevel::kWarning, Concat(u"Setting ", settingId, u" refused: the text is ",
                                                   TextCheckName(check), u"."));
            return 1;
        }
    }
    const uint32_t number = parameter->numeric.value;
    for (const SettingRange& range : kRanges) {
        if (range.settingId != settingId) continue;
        if (number > range.highest) {
            m_log.Write(LogLevel::kError,
                        Concat(u"Setting ", settingId, u" refused: ",
                               number > 0x7FFFFFFFu ? Concat(u"a negative value (", static_cast<int32_t>(number), u")")
                                                    : Concat(number),
                               u" is outside 0 to ", range.highest, u"; the setting keeps its value."));
            return 1;
        }
        if (number == 0 && range.zeroMeans != nullptr)
            m_log.Write(LogLevel::kInfo, Concat(u"Setting ", settingId, u" is 0: ", range.zeroMeans, u"."));
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        EngineSettings& s = m_settings;
        switch (settingId) {
            case kSettingDbSize: s.dbSizeMb = number; break;
            case kSettingDbPath: s.dbPath = text; break;
            case kSettingDebugLevel: s.debugLevel = number; break;
            case kSettingDebugLogPath: s.debugLogPath = text; break;
            case kSettingPatternPath: s.patternPath = text; break;
            case kSettingEngineFolder: s.engineFolder = text; break;
            case kSettingSecurityLevel: s.securityLevel = number; break;
            case kSettingHistoryKeepDays: s.historyKeepDays = number; break;
            case kSettingWorkMode: s.workMode = number; break;
            case kSettingPerProcessBackupQuota: s.perProcessQuota = number; break;
            case kSettingMaxBackupFileSize: s.maxFileSize = number; break;
            case kSettingMaxBackupFileSizePidMode: s.maxFileSizePid = number; break;
            case kSettingReadBackupFileData:
                m_readBackupFileData.store(reinterpret_cast<ReadBackupFileDataFn>(parameter->callback.function));
                break;
            case kSettingGetImagePath:
                m_getImagePath.store(reinterpret_cast<GetImagePathFn>(parameter->callback.function));
                break;
            default: return 1;
        }
    }
    if (settingId == kSettingDebugLevel) m_log.SetLevel(number);
    if (settingId == kSettingDebugLogPath && m_running.load()) m_log.OpenIn(text);
    if (settingId == kSettingDbSize || settingId == kSettingHistoryKeepDays) ApplyLimits();
    return 0;
}

uint32_t Engine::ChangeRunningConfigure(uint32_t settingId, const uint32_t* value) {
    if (value == nullptr) return 1;
    switch (settingId) {
        case kSettingDbSize:
        case kSettingHistoryKeepDays:
        case kSettingWorkMode:
        case kSettingPerProcessBackupQuota:
        case kSettingMaxBackupFileSize:
        case kSettingMaxBackupFileSizePidMode: break;
        default:
            m_log.Write(LogLevel::kWarning, Concat(u"Setting ", settingId, u" cannot change while running."));
            return 1;
    }
    ConfigureParameter parameter{};
    parameter.numeric.value = *value;
    m_log.Write(LogLevel::kInfo, Concat(u"Setting ", settingId, u" is now ", *value, u"."));
    return ChangeConfigure(settingId, &parameter);
}

uint32_t Engine::QueryConfigure(uint32_t settingId, ConfigureParameter* parameter) {
    if (parameter == nullptr) return 1;
    const EngineSettings s = Settings();
    const std::u16string* text = nullptr;
    uint32_t number = 0;
    switch (settingId) {
        case kSettingDbSize: number = s.dbSizeMb; break;
        case kSettingDbPath: text = &s.dbPath; break;
        case kSettingDebugLevel: number = s.debugLevel; break;
        case kSettingDebugLogPath: text = &s.debugLogPath; break;
        case kSettingPatternPath: text = &s.patternPath; break;
        case kSettingEngineFolder: text = &s.engineFolder; break;
        case kSettingSecurityLevel: number = s.securityLevel; break;
        case kSettingHistoryKeepDays: number = s.historyKeepDays; break;
        case kSettingWorkMode: number = s.workMode; break;
        case kSettingPerProcessBackupQuota: number = s.perProcessQuota; break;
        case kSettingMaxBackupFileSize: number = s.maxFileSize; break;
        case kSettingMaxBackupFileSizePidMode: number = s.maxFileSizePid; break;
        default: return 1;
    }
    if (text == nullptr) {
        parameter->numeric.value = number;
        return 0;
    }
    const uint64_t capacity = std::min<uint64_t>(parameter->text.capacity, kMaxPathUnits + 1);
    return PutText(*text, static_cast<uint32_t>(capacity), parameter->text.buffer) ? 0 : 1;
}

// The store purges with its next addition, never on a change of setting alone.
void Engine::ApplyLimits() {
    if (const auto store = Store()) store->SetLimits(LimitsOf(Settings()));
}

uint32_t Engine::IsPatternValid(const char16_t* folder) {
    std::u16string path;
    if (!TakePath(folder, u"pattern folder", path)) return 1;
    Pattern pattern;
    std::u16string reason;
    if (LoadPattern(m_files, path, pattern, reason) != PatternLoad::kCorrupt) return 0;
    m_log.Write(LogLevel::kError, Concat(u"The pattern in ", path, u" is corrupt: ", reason, u"."));
    return 1;
}

uint32_t Engine::IsDisabledByPattern(const char16_t* folder) {
    std::u16string path;
    if (!TakePath(folder, u"pattern folder", path)) return 0;
    Pattern pattern;
    std::u16string reason;
    const PatternLoad load = LoadPattern(m_files, path, pattern, reason);
    if (load == PatternLoad::kLoaded && pattern.disabled) {
        m_log.Write(LogLevel::kWarning, Concat(u"The pattern in ", path, u" disables the engine."));
        return 1;
    }
    return 0;
}

uint32_t Engine::QueryPtnPolicy(uint32_t type, uint32_t subtype, PatternPolicy* policy) {
    if (policy == nullptr) return 1;
    *policy = PatternPolicy{};
    const Pattern pattern = CurrentPattern();
    const auto entry = std::find_if(pattern.policies.begin(), pattern.policies.end(),
                                    [&](const PolicyEntry& e) { return e.type == type && e.subtype == subtype; });
    if (entry == pattern.policies.end()) return 0;
    policy->valueType = entry->valueType;
    policy->present = 1;
    if (IsNumericValueType(entry->valueType)) {
        policy->count = entry->number;
        return 0;
    }
    auto texts = std::make_unique<std::vector<std::u16string>>(entry->texts);
    std::unique_ptr<const char16_t*[]> pointers(new const char16_t*[texts->size() + 1]);
    for (size_t i = 0; i < texts->size(); ++i) pointers[i] = (*texts)[i].c_str();
    policy->count = static_cast<uint32_t>(texts->size());
    policy->texts = pointers.get();
    std::lock_guard<std::mutex> guard(m_lock);
    m_policyTexts[pointers.get()] = std::move(texts);
    m_policyArrays[pointers.get()] = std::move(pointers);
    return 0;
}

void Engine::FreePtnPolicy(PatternPolicy* policy) {
    if (policy == nullptr || policy->texts == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_policyTexts.erase(policy->texts);
        m_policyArrays.erase(policy->texts);
    }
    policy->texts = nullptr;
    policy->count = 0;
}

uint32_t Engine::GetSupportFileMaxSize() {
    const EngineSettings s = Settings();
    return s.maxFileSize != 0 ? s.maxFileSize : CurrentPattern().maxFileSize;
}

}  // namespace zef
