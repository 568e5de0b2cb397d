// The scriptable fake engine: every entry point records its call and answers as scripted.
// Built in variants that lack one export (the build renames that function away).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine_api/zef_entry_points.h"
#include "host/module_export.h"
#include "platform/text.h"
#include "tests/fakes/fake_zef/scripted_versions.h"

extern "C" {
ZEF_ENTRY_POINTS(ZEF_DECLARE_EXPORT)
}

namespace {

struct ScriptedPolicy {
    uint32_t valueType = 0;
    uint32_t present = 0;
    uint32_t count = 0;
    std::vector<std::u16string> texts;
    std::vector<bool> isNull;
    std::vector<const char16_t*> pointers;  // rebuilt for every query
};

struct FakeState {
    std::mutex lock;
    std::map<std::pair<uint32_t, uint32_t>, ScriptedPolicy> policies;
    std::vector<std::string> calls;
    std::map<std::string, uint64_t> results;
    std::map<std::string, uint32_t> delays;
    std::map<uint32_t, void*> callbacks;
};

// Quiet: nothing is recorded or scripted, every entry answers 0 at once (for benchmarks).
std::atomic<bool> g_quiet{false};

// From Stop until the engine's next life begins (its first call after a load is
// IsDisabledByPattern) the engine is stopped: any call then but Finalize's is late, counted
// whether quiet or not.
std::atomic<bool> g_stopped{false};
std::atomic<uint64_t> g_lateCalls{0};

FakeState& State() {
    static FakeState state;  // goes with the module when it is unloaded
    return state;
}
// Declares s, the state, locked for the rest of the enclosing block.
#define LOCKED_STATE(s) \
    FakeState& s = State(); \
    const std::lock_guard<std::mutex> s##Guard(s.lock)

std::string Arg(const char16_t* text) { return text ? platform::ToUtf8(text) : "null"; }
std::string Arg(uint32_t value) { return std::to_string(value); }
std::string Arg(const uint32_t* value) { return value ? "&" + std::to_string(*value) : "null"; }
std::string Arg(const void* pointer) { return pointer ? "ptr" : "null"; }
std::string Arg(const std::string& text) { return text; }
// A pointer whose identity a test checks: "@" and its address in hexadecimal.
std::string Address(const void* pointer) {
    char text[24];
    std::snprintf(text, sizeof text, "@%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
    return text;
}

std::string Join() { return {}; }
template <typename First, typename... Rest>
std::string Join(const First& first, const Rest&... rest) {
    std::string text = Arg(first);
    ((text += "," + Arg(rest)), ...);
    return text;
}

// Call without the lateness check, for the life-cycle entry points.
template <typename Result, typename... Args>
Result Record(const char* name, const Args&... args) {
    if (g_quiet.load(std::memory_order_relaxed)) {
        if constexpr (!std::is_void_v<Result>) return Result{};
        else return;
    }
    uint32_t delay = 0;
    uint64_t result = 0;
    {
        FakeState& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        state.calls.push_back(sizeof...(Args) == 0 ? std::string(name)
                                                   : std::string(name) + "(" + Join(args...) + ")");
        const auto scripted = state.results.find(name);
        if (scripted != state.results.end()) result = scripted->second;
        const auto slow = state.delays.find(name);
        if (slow != state.delays.end()) delay = slow->second;
    }
    if (delay != 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if constexpr (std::is_pointer_v<Result>) {
        return reinterpret_cast<Result>(static_cast<uintptr_t>(result));
    } else if constexpr (!std::is_void_v<Result>) {
        return static_cast<Result>(result);
    }
}

// Records "name(args)" (or "name" without arguments), waits as scripted, and answers; a
// call on a stopped engine is counted as late.
template <typename Result, typename... Args>
Result Call(const char* name, const Args&... args) {
    if (g_stopped.load()) ++g_lateCalls;
    return Record<Result>(name, args...);
}

}  // namespace

extern "C" {

// --- control ---

PEZ_EXPORT void FakeZef_Reset() {
    LOCKED_STATE(state);
    state.calls.clear();
    state.results.clear();
    state.delays.clear();
    state.callbacks.clear();
    state.policies.clear();
    fake_versions::Reset();
    g_stopped = false;
    g_lateCalls = 0;
}

PEZ_EXPORT uint64_t FakeZef_LateCalls() { return g_lateCalls.load(); }

PEZ_EXPORT void FakeZef_SetPolicy(uint32_t type, uint32_t subtype, uint32_t valueType,
                                  uint32_t present, uint32_t count, const char16_t* const* texts,
                                  uint32_t textCount) {
    LOCKED_STATE(state);
    ScriptedPolicy& policy = state.policies[{type, subtype}];
    policy = ScriptedPolicy{valueType, present, count, {}, {}, {}};
    for (uint32_t i = 0; i < textCount; ++i) {
        policy.isNull.push_back(texts[i] == nullptr);
        policy.texts.emplace_back(texts[i] != nullptr ? texts[i] : u"");
    }
}

PEZ_EXPORT void FakeZef_SetQuiet(int32_t quiet) { g_quiet = quiet != 0; }

PEZ_EXPORT void FakeZef_SetResult(const char* entryPoint, uint64_t result) {
    LOCKED_STATE(state);
    state.results[entryPoint] = result;
}

PEZ_EXPORT void FakeZef_SetDelay(const char* entryPoint, uint32_t milliseconds) {
    LOCKED_STATE(state);
    state.delays[entryPoint] = milliseconds;
}

PEZ_EXPORT uint32_t FakeZef_CallCount() {
    LOCKED_STATE(state);
    return static_cast<uint32_t>(state.calls.size());
}

PEZ_EXPORT int32_t FakeZef_GetCall(uint32_t index, char* buffer, uint32_t capacity) {
    LOCKED_STATE(state);
    if (index >= state.calls.size() || buffer == nullptr || capacity == 0) return -1;
    const std::string& call = state.calls[index];
    const size_t length = call.size() < capacity ? call.size() : capacity - 1;
    std::memcpy(buffer, call.data(), length);
    buffer[length] = '\0';
    return static_cast<int32_t>(length);
}

PEZ_EXPORT void* FakeZef_GetCallback(uint32_t settingId) {
    LOCKED_STATE(state);
    const auto found = state.callbacks.find(settingId);
    return found != state.callbacks.end() ? found->second : nullptr;
}

// --- the engine's entry points ---

// The calls about versions record themselves and answer from the scripted versions.
uint32_t ConnectBackupStorage() {
    fake_versions::Connect();
    return Call<uint32_t>("ConnectBackupStorage");
}
uint32_t DisconnectBackupStorage() {
    fake_versions::Disconnect();
    return Call<uint32_t>("DisconnectBackupStorage");
}
zef::FindHandle FindFirstFileEdition(const char16_t* filePath, zef::EditionFindData* data) {
    Call<void>("FindFirstFileEdition", filePath, data);
    return fake_versions::FindStored(filePath, nullptr, nullptr, data);
}
uint32_t FindNextFileEdition(zef::FindHandle find, zef::EditionFindData* data) {
    Call<void>("FindNextFileEdition", fake_versions::Describe(find));
    return fake_versions::NextStored(find, data);
}
void FindFileEditionClose(zef::FindHandle find) {
    Call<void>("FindFileEditionClose", fake_versions::Describe(find));
    fake_versions::Close(find);
}
uint32_t GetFileEdition(uint32_t editionId, uint32_t capacity, char16_t* copy) {
    Call<void>("GetFileEdition", editionId, capacity, static_cast<const void*>(copy));
    return fake_versions::MakeEditionCopy(editionId, capacity, copy);
}
uint32_t FreeFileEdition(const char16_t* copyPath) {
    Call<void>("FreeFileEdition", std::string(copyPath != nullptr ? "copy" : "null"));
    return fake_versions::FreeEditionCopy(copyPath);
}

uint32_t ChangeConfigure(uint32_t settingId, zef::ConfigureParameter* param) {
    if (param == nullptr) return Call<uint32_t>("ChangeConfigure", settingId, param);
    switch (settingId) {
        case zef::kSettingDbPath:
        case zef::kSettingDebugLogPath:
        case zef::kSettingPatternPath:
        case zef::kSettingEngineFolder:
            return Call<uint32_t>("ChangeConfigure", settingId,
                                  static_cast<const char16_t*>(param->text.buffer));
        case zef::kSettingReadBackupFileData:
        case zef::kSettingGetImagePath: {
            FakeState& state = State();
            {
                std::lock_guard<std::mutex> guard(state.lock);
                state.callbacks[settingId] = param->callback.function;
            }
            return Call<uint32_t>("ChangeConfigure", settingId,
                                  static_cast<const void*>(param->callback.function));
        }
        default:
            return Call<uint32_t>("ChangeConfigure", settingId, param->numeric.value);
    }
}

uint32_t ChangeRunningConfigure(uint32_t settingId, uint32_t* value) {
    return Call<uint32_t>("ChangeRunningConfigure", settingId, static_cast<const uint32_t*>(value));
}
uint32_t QueryConfigure(uint32_t settingId, zef::ConfigureParameter* param) {
    return Call<uint32_t>("QueryConfigure", settingId, param);
}
uint32_t Initialize() { return Call<uint32_t>("Initialize"); }
uint32_t Start() { return Call<uint32_t>("Start"); }
uint32_t Stop() {
    const uint32_t result = Call<uint32_t>("Stop");
    g_stopped = true;
    return result;
}
uint32_t Finalize() { return Record<uint32_t>("Finalize"); }
uint32_t NotifyEvent(void* eventData) {
    // Quiet: no address text to build.
    if (g_quiet.load(std::memory_order_relaxed)) return Call<uint32_t>("NotifyEvent");
    return Call<uint32_t>("NotifyEvent", Address(eventData));
}
uint32_t RestoreByCopy(const char16_t* filePath, const char16_t* copyPath,
                       const char16_t* virusName, uint32_t restoreOption, uint32_t* reboot) {
    // The copy shows as the version it was made from ("mem-3-1.tmp" as "mem-3").
    std::string copy = copyPath != nullptr ? platform::ToUtf8(copyPath) : "null";
    copy = copy.substr(copy.find_last_of("/\\") + 1);
    copy = copy.substr(0, copy.rfind('-'));
    if (reboot != nullptr) *reboot = fake_versions::Reboot();
    return Call<uint32_t>("RestoreByCopy", filePath, copy, virusName, restoreOption,
                          static_cast<const void*>(reboot));
}
uint32_t RmAllocDbeResults() {
    const uint32_t scripted = Call<uint32_t>("RmAllocDbeResults");
    return scripted != 0 ? scripted : fake_versions::BootResultCount();
}
uint32_t RmFreeDbeResults() { return Call<uint32_t>("RmFreeDbeResults"); }
uint32_t RmFetchDbeResult(uint32_t index, uint32_t* kind, uint32_t* code, uint64_t* value,
                          uint32_t* detail, const char16_t** name, uint64_t* fileTime) {
    Call<void>("RmFetchDbeResult", index, static_cast<const void*>(kind),
               static_cast<const void*>(code), static_cast<const void*>(value),
               static_cast<const void*>(detail), static_cast<const void*>(name),
               static_cast<const void*>(fileTime));
    if (kind != nullptr) *kind = 7;
    if (detail != nullptr) *detail = 9;
    return fake_versions::FetchBootResult(index, code, value, name, fileTime);
}
uint32_t RmDeleteDbeResults() { return Call<uint32_t>("RmDeleteDbeResults"); }
uint32_t RestoreByEdition(const char16_t* filePath, uint32_t editionId, const char16_t* virusName,
                          uint32_t restoreOption, uint32_t* reboot) {
    if (reboot != nullptr) *reboot = fake_versions::Reboot();
    return Call<uint32_t>("RestoreByEdition", filePath, editionId, virusName, restoreOption,
                          static_cast<const void*>(reboot));
}
zef::FindHandle FindFirstBackupFile(zef::BackupFileFindData* data) {
    return Call<zef::FindHandle>("FindFirstBackupFile", data);
}
zef::FindHandle FindFirstBackupFileEx(uint32_t* fromTime, uint32_t* toTime,
                                      zef::BackupFileFindData* data) {
    return Call<zef::FindHandle>("FindFirstBackupFileEx", static_cast<const uint32_t*>(fromTime),
                                 static_cast<const uint32_t*>(toTime), data);
}
uint32_t FindNextBackupFile(zef::FindHandle find, zef::BackupFileFindData* data) {
    return Call<uint32_t>("FindNextBackupFile", find, data);
}
void FindBackupFileClose(zef::FindHandle find) { Call<void>("FindBackupFileClose", find); }
uint32_t FbCompleteAdvanceData(zef::EditionFindData* edition, zef::RestoreReport* report) {
    // Recorded with the edition id it was given: 0 for a zeroed record.
    const uint32_t result = Call<uint32_t>("FbCompleteAdvanceData",
                                           edition != nullptr ? edition->editionId : 0u, report);
    fake_versions::CompleteReport(report);
    return result;
}
uint32_t FlushEvents() { return Call<uint32_t>("FlushEvents"); }
uint32_t DeleteEditionByEditionID(uint32_t editionId) {
    return Call<uint32_t>("DeleteEditionByEditionID", editionId);
}
uint32_t BackupFile(const char16_t* filePath) { return Call<uint32_t>("BackupFile", filePath); }
uint32_t IsPatternValid(const char16_t* patternFolder) {
    return Call<uint32_t>("IsPatternValid", patternFolder);
}
uint32_t GetBackupFileByID(uint32_t id, uint32_t capacity, char16_t* buffer) {
    Call<void>("GetBackupFileByID", id, capacity, static_cast<const void*>(buffer));
    return fake_versions::WriterImage(id, capacity, buffer);
}
uint32_t GetStatInfo(void* info) { return Call<uint32_t>("GetStatInfo", info); }
uint32_t IsDisabledByPattern(const char16_t* patternFolder) {
    g_stopped = false;
    return Call<uint32_t>("IsDisabledByPattern", patternFolder);
}
uint32_t GetSupportFileMaxSize() { return Call<uint32_t>("GetSupportFileMaxSize"); }
zef::FindHandle FindFirstFileEditionEx(const char16_t* filePath, uint32_t flags,
                                       uint32_t* fromTime, uint32_t* toTime,
                                       zef::EditionFindData* data) {
    Call<void>("FindFirstFileEditionEx", filePath, flags, static_cast<const uint32_t*>(fromTime),
               static_cast<const uint32_t*>(toTime), data);
    return fake_versions::FindStored(filePath, fromTime, toTime, data);
}
zef::FindHandle MemFindFirstFile(const char16_t* filePath) {
    Call<void>("MemFindFirstFile", filePath);
    return fake_versions::FindMemory(filePath);
}
uint32_t MemFindNextFile(zef::FindHandle find) {
    Call<void>("MemFindNextFile", fake_versions::Describe(find));
    return fake_versions::Next(find);
}
void MemFindFileClose(zef::FindHandle find) {
    Call<void>("MemFindFileClose", fake_versions::Describe(find));
    fake_versions::Close(find);
}
uint32_t MemGetFindVersionTime(zef::FindHandle find) {
    Call<void>("MemGetFindVersionTime", fake_versions::Describe(find));
    return fake_versions::VersionTime(find);
}
uint32_t MemGetFindVersionPath(zef::FindHandle find, uint32_t capacity, char16_t* copy) {
    Call<void>("MemGetFindVersionPath", fake_versions::Describe(find), capacity);
    return fake_versions::MakeMemoryCopy(find, capacity, copy);
}
uint32_t MemGetFindVersionID(zef::FindHandle find) {
    Call<void>("MemGetFindVersionID", fake_versions::Describe(find));
    return fake_versions::VersionId(find);
}
int32_t GetBackupFileUniqID(const char16_t* filePath, const void* keyArea) {
    const int32_t id = fake_versions::UniqueId(keyArea);
    Call<void>("GetBackupFileUniqID", filePath, static_cast<uint32_t>(id));
    return id;
}
uint32_t FlushValidEvents() { return Call<uint32_t>("FlushValidEvents"); }
uint32_t MemGetSubjectProcessImage(zef::FindHandle find, uint32_t capacity, char16_t* image) {
    Call<void>("MemGetSubjectProcessImage", fake_versions::Describe(find), capacity);
    return fake_versions::Image(find, capacity, image);
}
uint32_t MemPurgeVersion(zef::FindHandle find) {
    return Call<uint32_t>("MemPurgeVersion", fake_versions::Describe(find));
}
uint32_t UpdateObjPidList(uint32_t operation, uint32_t processId) {
    return Call<uint32_t>("UpdateObjPidList", operation, processId);
}
zef::FindHandle FindFirstFileEditionByPid(uint32_t processId, uint32_t flags, uint32_t* fromTime,
                                          uint32_t* toTime, zef::EditionFindDataByPid* data) {
    Call<void>("FindFirstFileEditionByPid", processId, flags,
               static_cast<const uint32_t*>(fromTime), static_cast<const uint32_t*>(toTime), data);
    return fake_versions::FindStoredByProcess(processId, fromTime, toTime, data);
}
uint32_t FindNextFileEditionByPid(zef::FindHandle find, zef::EditionFindDataByPid* data) {
    Call<void>("FindNextFileEditionByPid", fake_versions::Describe(find));
    return fake_versions::NextStoredByProcess(find, data);
}
zef::FindHandle MemFindFirstFileByPid(uint32_t processId, uint32_t fromTime, uint32_t toTime) {
    Call<void>("MemFindFirstFileByPid", processId, fromTime, toTime);
    return fake_versions::FindMemoryByProcess(processId, fromTime, toTime);
}
uint32_t MemFindNextFileByPid(zef::FindHandle find) {
    Call<void>("MemFindNextFileByPid", fake_versions::Describe(find));
    return fake_versions::Next(find);
}
void MemFindFileCloseByPid(zef::FindHandle find) {
    Call<void>("MemFindFileCloseByPid", fake_versions::Describe(find));
    fake_versions::Close(find);
}
uint32_t MemGetFindVersionTimeByPid(zef::FindHandle find) {
    Call<void>("MemGetFindVersionTimeByPid", fake_versions::Describe(find));
    return fake_versions::VersionTime(find);
}
uint32_t MemGetFindFilePathByPid(zef::FindHandle find, uint32_t capacity, char16_t* path) {
    Call<void>("MemGetFindFilePathByPid", fake_versions::Describe(find), capacity);
    return fake_versions::FilePath(find, capacity, path);
}
uint32_t MemGetFindVersionIDByPid(zef::FindHandle find) {
    Call<void>("MemGetFindVersionIDByPid", fake_versions::Describe(find));
    return fake_versions::VersionId(find);
}
uint32_t MemGetSubjectProcessImageByPid(zef::FindHandle find, uint32_t capacity, char16_t* image) {
    Call<void>("MemGetSubjectProcessImageByPid", fake_versions::Describe(find), capacity);
    return fake_versions::Image(find, capacity, image);
}
uint32_t MemPurgeVersionByPid(zef::FindHandle find) {
    return Call<uint32_t>("MemPurgeVersionByPid", fake_versions::Describe(find));
}
uint32_t MemGetBackupVersionByPid(zef::FindHandle find, uint32_t capacity, char16_t* copy) {
    Call<void>("MemGetBackupVersionByPid", fake_versions::Describe(find), capacity);
    return fake_versions::MakeMemoryCopy(find, capacity, copy);
}
uint32_t QueryPtnPolicy(uint32_t type, uint32_t subtype, zef::PatternPolicy* policy) {
    const uint32_t result = Call<uint32_t>("QueryPtnPolicy", type, subtype, policy);
    LOCKED_STATE(state);
    const auto found = state.policies.find({type, subtype});
    if (result != 0 || policy == nullptr || found == state.policies.end()) return result;
    ScriptedPolicy& scripted = found->second;
    scripted.pointers.clear();
    for (size_t i = 0; i < scripted.texts.size(); ++i) {
        scripted.pointers.push_back(scripted.isNull[i] ? nullptr : scripted.texts[i].c_str());
    }
    policy->valueType = scripted.valueType;
    policy->present = scripted.present;
    policy->count = scripted.count;
    policy->texts = scripted.pointers.empty() ? nullptr : scripted.pointers.data();
    return result;
}
void FreePtnPolicy(zef::PatternPolicy* policy) { Call<void>("FreePtnPolicy", policy); }

}  // extern "C"
