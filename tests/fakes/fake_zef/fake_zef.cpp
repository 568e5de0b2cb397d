// The scriptable fake engine: every entry point records its call and answers as scripted or,
// for the calls about versions, from the versions the test added, counting what it lends out
// (find handles, storage connections, temporary copies) so that a test can prove the plug-in
// gave everything back. Built in variants that lack one export (the build renames it away).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine_api/zef_entry_points.h"
#include "host/module_export.h"
#include "platform/module.h"
#include "platform/text.h"
#include "tests/fakes/fake_zef_control.h"

extern "C" {
ZEF_ENTRY_POINTS(ZEF_DECLARE_EXPORT)
}

namespace {

struct ScriptedPolicy {
    uint32_t valueType = 0, present = 0, count = 0;
    std::vector<std::u16string> texts;
    std::vector<const char16_t*> pointers;  // into texts, null where the script has a null entry
};

struct Version {
    FakeZefVersion script;
    std::u16string filePath, image;
};

struct Search {
    std::vector<const Version*> found;
    size_t position = 0;
};

struct BootResult {
    uint32_t code;
    uint64_t value;
    std::u16string name;
    uint64_t fileTime;
};

struct FakeState {
    // The script and the record of calls.
    std::map<std::pair<uint32_t, uint32_t>, ScriptedPolicy> policies;
    std::vector<std::string> calls;
    std::map<std::string, uint64_t> results;
    std::map<std::string, uint32_t> delays;
    // The versions, and what was lent out of them.
    std::vector<std::unique_ptr<Version>> versions;
    std::map<uintptr_t, Search> searches;
    uintptr_t nextHandle = 0x1000;
    std::vector<std::filesystem::path> memoryCopies;
    std::set<std::u16string> editionCopies;
    uint32_t copySerial = 0, badReturns = 0, reboot = 0;
    int32_t connections = 0;
    bool advanceScripted = false;
    zef::RestoreReport advance{};
    std::vector<BootResult> bootResults;
};

// Quiet: nothing is recorded or scripted, every entry answers 0 at once (for benchmarks).
std::atomic<bool> g_quiet{false};

// From Stop until the engine's next life begins (its first call after a load is
// IsDisabledByPattern) the engine is stopped: any call then but Finalize's is late, counted
// whether quiet or not.
std::atomic<bool> g_stopped{false};
std::atomic<uint64_t> g_lateCalls{0};

// The state and its lock go with the module when it is unloaded.
FakeState& State() {
    static FakeState state;
    return state;
}
std::mutex& StateLock() {
    static std::mutex lock;
    return lock;
}
// Declares s, the state, locked for the rest of the enclosing block.
#define LOCKED_STATE(s) \
    FakeState& s = State(); \
    const std::lock_guard<std::mutex> s##Guard(StateLock())

std::string Arg(const char16_t* text) { return text ? platform::ToUtf8(text) : "null"; }
std::string Arg(uint32_t value) { return std::to_string(value); }
std::string Arg(const uint32_t* value) { return value ? "&" + std::to_string(*value) : "null"; }
std::string Arg(const void* pointer) { return pointer ? "ptr" : "null"; }
std::string Arg(const std::string& text) { return text; }

template <typename First, typename... Rest>
std::string Join(const First& first, const Rest&... rest) {
    std::string text = Arg(first);
    ((text += "," + Arg(rest)), ...);
    return text;
}

// Records "name(args)" (or "name" without arguments), counts a call on a stopped engine as
// late (Finalize ends the stop, it is never late), waits as scripted, and answers.
template <typename Result, typename... Args>
Result Call(const char* name, const Args&... args) {
    if (g_stopped.load() && std::strcmp(name, "Finalize") != 0) ++g_lateCalls;
    if (g_quiet.load(std::memory_order_relaxed)) return Result();
    uint32_t delay = 0;
    uint64_t result = 0;
    {
        LOCKED_STATE(state);
        if constexpr (sizeof...(Args) == 0) state.calls.emplace_back(name);
        else state.calls.push_back(std::string(name) + "(" + Join(args...) + ")");
        const auto scripted = state.results.find(name);
        if (scripted != state.results.end()) result = scripted->second;
        const auto slow = state.delays.find(name);
        if (slow != state.delays.end()) delay = slow->second;
    }
    if (delay != 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if constexpr (std::is_pointer_v<Result>) return reinterpret_cast<Result>(static_cast<uintptr_t>(result));
    else if constexpr (!std::is_void_v<Result>) return static_cast<Result>(result);
}

// Copies a text into a buffer of capacity units; an overlong one fills it, unterminated.
uint32_t CopyText(const std::u16string& text, uint32_t capacity, char16_t* out, bool overlong = false) {
    if (out == nullptr || capacity == 0) return 0;
    if (overlong) {
        std::char_traits<char16_t>::assign(out, capacity, u'x');
        return 1;
    }
    const size_t units = std::min<size_t>(text.size(), capacity - 1);
    std::memcpy(out, text.data(), units * sizeof(char16_t));
    out[units] = u'\0';
    return 1;
}
bool Flag(const Version* v, uint32_t flag) { return v != nullptr && (v->script.flags & flag) != 0; }

void FillEdition(const Version& v, zef::EditionFindData* data) {
    if (data == nullptr) return;
    data->editionId = v.script.id;
    data->time = v.script.time;
    data->writerRecordId = v.script.writerRecordId;
    std::memcpy(data->keyArea, &v.script.uniqueId, sizeof v.script.uniqueId);
}
void FillEdition(const Version& v, zef::EditionFindDataByPid* data) {
    if (data == nullptr) return;
    FillEdition(v, &data->edition);
    CopyText(v.filePath, zef::kTextUnits, data->filePath, Flag(&v, kFakeOverlongText));
}

bool InBounds(uint32_t time, const uint32_t* from, const uint32_t* to) {
    return (from == nullptr || time >= *from) && (to == nullptr || time <= *to);
}

// Opens a search over the versions of one place that match a path (or, without one, a
// process) within the bounds, filling data with the first; null (and nothing open) when none.
template <typename Data = zef::EditionFindData>
zef::FindHandle Open(uint32_t place, const char16_t* path, uint32_t processId, const uint32_t* from,
                     const uint32_t* to, Data* data = nullptr) {
    LOCKED_STATE(m);
    Search search;
    for (const auto& v : m.versions) {
        const bool matches = path != nullptr ? v->filePath == path : v->script.processId == processId;
        if (v->script.place == place && matches && InBounds(v->script.time, from, to)) search.found.push_back(v.get());
    }
    if (search.found.empty()) return nullptr;
    FillEdition(*search.found[0], data);
    const uintptr_t handle = m.nextHandle++;
    m.searches[handle] = std::move(search);
    return reinterpret_cast<zef::FindHandle>(handle);
}

const Version* Current(FakeState& m, zef::FindHandle find) {
    const auto it = m.searches.find(reinterpret_cast<uintptr_t>(find));
    return it != m.searches.end() ? it->second.found[it->second.position] : nullptr;
}

// Moves a search on, filling data; 0 at its end, where the search stays on its last version.
// Next and Close are called with the state locked.
template <typename Data = zef::EditionFindData>
uint32_t Next(FakeState& m, zef::FindHandle find, Data* data = nullptr) {
    const auto it = m.searches.find(reinterpret_cast<uintptr_t>(find));
    if (it == m.searches.end() || it->second.position + 1 >= it->second.found.size()) return 0;
    FillEdition(*it->second.found[++it->second.position], data);
    return 1;
}

void Close(FakeState& m, zef::FindHandle find) {
    if (m.searches.erase(reinterpret_cast<uintptr_t>(find)) == 0) ++m.badReturns;
}

// "v<id>" of the version a search stands at, for the call record.
std::string Describe(zef::FindHandle find) {
    LOCKED_STATE(m);
    const Version* v = Current(m, find);
    return v != nullptr ? "v" + std::to_string(v->script.id) : "unknown";
}

// The fake's own folder, where it makes its temporary copies.
std::filesystem::path CopyFolder() {
    char16_t own[1024] = {};
    platform::OwnModuleFileName(own, 1024);
    return std::filesystem::path(std::u16string(own)).parent_path();
}

// A temporary copy named after its version ("mem-4-7.tmp", "edition-21-8"), in the copy folder.
std::filesystem::path CopyPath(FakeState& m, const char* kind, uint32_t id) {
    return CopyFolder() / (kind + std::to_string(id) + "-" + std::to_string(++m.copySerial));
}

uint32_t MakeMemoryCopy(FakeState& m, const Version* v, uint32_t capacity, char16_t* path) {
    if (v == nullptr || Flag(v, kFakeNoCopy)) return 0;
    if (Flag(v, kFakeEmptyCopyPath)) return CopyText(u"", capacity, path);
    const std::filesystem::path copy = CopyPath(m, "mem-", v->script.id).concat(".tmp");
    std::ofstream(copy) << "copy";
    m.memoryCopies.push_back(copy);
    return CopyText(copy.u16string(), capacity, path);
}

// What RestoreByCopy and RestoreByEdition leave in their reboot flag.
void ScriptedReboot(uint32_t* reboot) {
    LOCKED_STATE(m);
    if (reboot != nullptr) *reboot = m.reboot;
}

// Storage connections lent out, counted from the call on.
void CountConnection(int32_t change) {
    LOCKED_STATE(m);
    m.connections += change;
}

}  // namespace

extern "C" {

// --- control ---

PEZ_EXPORT void FakeZef_Reset() {
    LOCKED_STATE(state);
    std::error_code ignored;
    for (const auto& copy : state.memoryCopies) std::filesystem::remove(copy, ignored);
    state = FakeState{};
    g_stopped = false;
    g_lateCalls = 0;
}

PEZ_EXPORT uint64_t FakeZef_LateCalls() { return g_lateCalls.load(); }

PEZ_EXPORT void FakeZef_SetPolicy(uint32_t type, uint32_t subtype, uint32_t valueType, uint32_t present,
                                  uint32_t count, const char16_t* const* texts, uint32_t textCount) {
    LOCKED_STATE(state);
    ScriptedPolicy& policy = state.policies[{type, subtype}];
    policy = ScriptedPolicy{valueType, present, count, std::vector<std::u16string>(textCount), {}};
    for (uint32_t i = 0; i < textCount; ++i) {
        if (texts[i] != nullptr) policy.texts[i] = texts[i];
        policy.pointers.push_back(texts[i] != nullptr ? policy.texts[i].c_str() : nullptr);
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

// The calls, each ended by a line feed, into buffer as far as capacity allows; answers the
// length of the whole text.
PEZ_EXPORT uint32_t FakeZef_GetCalls(char* buffer, uint32_t capacity) {
    LOCKED_STATE(state);
    std::string text;
    for (const std::string& call : state.calls) text += call + "\n";
    if (buffer != nullptr) std::memcpy(buffer, text.data(), std::min<size_t>(text.size(), capacity));
    return static_cast<uint32_t>(text.size());
}

PEZ_EXPORT void FakeZef_AddVersion(const FakeZefVersion* version) {
    LOCKED_STATE(m);
    m.versions.push_back(std::make_unique<Version>(Version{*version, version->filePath ? version->filePath : u"",
                                                           version->image ? version->image : u""}));
}

// What was lent and not given back (find handles, storage connections, copies of memory
// versions still on disk, copies of editions), plus the returns of what was never lent.
PEZ_EXPORT uint32_t FakeZef_LeftBehind() {
    LOCKED_STATE(m);
    uint32_t left = static_cast<uint32_t>(m.searches.size() + m.editionCopies.size()) + m.badReturns;
    for (const auto& copy : m.memoryCopies) left += std::filesystem::exists(copy) ? 1 : 0;
    return left + static_cast<uint32_t>(std::abs(m.connections));
}

PEZ_EXPORT void FakeZef_SetReboot(uint32_t reboot) { LOCKED_STATE(m); m.reboot = reboot; }

PEZ_EXPORT void FakeZef_SetAdvanceData(const zef::RestoreReport* report) {
    LOCKED_STATE(m);
    m.advanceScripted = report != nullptr;
    if (report != nullptr) m.advance = *report;
}

PEZ_EXPORT void FakeZef_AddBootResult(uint32_t code, uint64_t value, const char16_t* name, uint64_t fileTime) {
    LOCKED_STATE(m);
    m.bootResults.push_back({code, value, name != nullptr ? name : u"", fileTime});
}

// --- the engine's entry points ---

// The entry points that act on a search: each records "name(v<id>)" (and the capacity of the
// buffer it is given), then answers from the version v the search stands at, with the state
// m locked.
#define ON_SEARCH(Result, name, answer)                      \
    Result name(zef::FindHandle find) {                      \
        Call<void>(#name, Describe(find));                   \
        LOCKED_STATE(m);                                     \
        [[maybe_unused]] const Version* v = Current(m, find); \
        return answer;                                       \
    }
#define ON_SEARCH_TEXT(name, answer)                                          \
    uint32_t name(zef::FindHandle find, uint32_t capacity, char16_t* text) {  \
        Call<void>(#name, Describe(find), capacity);                          \
        LOCKED_STATE(m);                                                      \
        const Version* v = Current(m, find);                                  \
        return answer;                                                        \
    }

uint32_t ConnectBackupStorage() { CountConnection(1); return Call<uint32_t>("ConnectBackupStorage"); }
uint32_t DisconnectBackupStorage() { CountConnection(-1); return Call<uint32_t>("DisconnectBackupStorage"); }
zef::FindHandle FindFirstFileEdition(const char16_t* filePath, zef::EditionFindData* data) {
    Call<void>("FindFirstFileEdition", filePath, data);
    return Open(kFakeInStorage, filePath ? filePath : u"", 0, nullptr, nullptr, data);
}
uint32_t FindNextFileEdition(zef::FindHandle find, zef::EditionFindData* data) {
    Call<void>("FindNextFileEdition", Describe(find));
    LOCKED_STATE(m);
    return Next(m, find, data);
}
ON_SEARCH(void, FindFileEditionClose, Close(m, find))
uint32_t GetFileEdition(uint32_t editionId, uint32_t capacity, char16_t* copy) {
    Call<void>("GetFileEdition", editionId, capacity, static_cast<const void*>(copy));
    LOCKED_STATE(m);
    for (const auto& v : m.versions) {
        if (v->script.place != kFakeInStorage || v->script.id != editionId) continue;
        if (Flag(v.get(), kFakeNoCopy)) return 0;
        const std::u16string path = CopyPath(m, "edition-", editionId).u16string();
        m.editionCopies.insert(path);
        return CopyText(path, capacity, copy);
    }
    return 0;
}
uint32_t FreeFileEdition(const char16_t* copyPath) {
    Call<void>("FreeFileEdition", std::string(copyPath != nullptr ? "copy" : "null"));
    LOCKED_STATE(m);
    if (copyPath == nullptr || m.editionCopies.erase(copyPath) == 0) ++m.badReturns;
    return 1;
}

uint32_t ChangeConfigure(uint32_t settingId, zef::ConfigureParameter* param) {
    if (param == nullptr) return Call<uint32_t>("ChangeConfigure", settingId, param);
    switch (settingId) {
        case zef::kSettingDbPath:
        case zef::kSettingDebugLogPath:
        case zef::kSettingPatternPath:
        case zef::kSettingEngineFolder:
            return Call<uint32_t>("ChangeConfigure", settingId, static_cast<const char16_t*>(param->text.buffer));
        case zef::kSettingReadBackupFileData:
        case zef::kSettingGetImagePath:
            return Call<uint32_t>("ChangeConfigure", settingId, FakeAddress(param->callback.function));
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
uint32_t Finalize() { return Call<uint32_t>("Finalize"); }
uint32_t NotifyEvent(void* eventData) {
    // Quiet: no address text to build.
    if (g_quiet.load(std::memory_order_relaxed)) return Call<uint32_t>("NotifyEvent");
    return Call<uint32_t>("NotifyEvent", FakeAddress(eventData));
}
uint32_t RestoreByCopy(const char16_t* filePath, const char16_t* copyPath, const char16_t* virusName,
                       uint32_t restoreOption, uint32_t* reboot) {
    // The copy shows as the version it was made from ("mem-3-1.tmp" as "mem-3").
    ScriptedReboot(reboot);
    return Call<uint32_t>("RestoreByCopy", filePath, CopyTag(copyPath), virusName, restoreOption,
                          static_cast<const void*>(reboot));
}
uint32_t RestoreByEdition(const char16_t* filePath, uint32_t editionId, const char16_t* virusName,
                          uint32_t restoreOption, uint32_t* reboot) {
    ScriptedReboot(reboot);
    return Call<uint32_t>("RestoreByEdition", filePath, editionId, virusName, restoreOption,
                          static_cast<const void*>(reboot));
}
uint32_t RmAllocDbeResults() {
    const uint32_t scripted = Call<uint32_t>("RmAllocDbeResults");
    LOCKED_STATE(m);
    return scripted != 0 ? scripted : static_cast<uint32_t>(m.bootResults.size());
}
uint32_t RmFreeDbeResults() { return Call<uint32_t>("RmFreeDbeResults"); }
uint32_t RmFetchDbeResult(uint32_t index, uint32_t* kind, uint32_t* code, uint64_t* value, uint32_t* detail,
                          const char16_t** name, uint64_t* fileTime) {
    Call<void>("RmFetchDbeResult", index, static_cast<const void*>(kind), static_cast<const void*>(code),
               static_cast<const void*>(value), static_cast<const void*>(detail), static_cast<const void*>(name),
               static_cast<const void*>(fileTime));
    if (kind != nullptr) *kind = 7;
    if (detail != nullptr) *detail = 9;
    LOCKED_STATE(m);
    if (index >= m.bootResults.size()) return 0;
    const BootResult& result = m.bootResults[index];
    if (code != nullptr) *code = result.code;
    if (value != nullptr) *value = result.value;
    if (name != nullptr) *name = result.name.empty() ? nullptr : result.name.c_str();
    if (fileTime != nullptr) *fileTime = result.fileTime;
    return 1;
}
uint32_t RmDeleteDbeResults() { return Call<uint32_t>("RmDeleteDbeResults"); }
zef::FindHandle FindFirstBackupFile(zef::BackupFileFindData* data) {
    return Call<zef::FindHandle>("FindFirstBackupFile", data);
}
zef::FindHandle FindFirstBackupFileEx(uint32_t* fromTime, uint32_t* toTime, zef::BackupFileFindData* data) {
    return Call<zef::FindHandle>("FindFirstBackupFileEx", static_cast<const uint32_t*>(fromTime),
                                 static_cast<const uint32_t*>(toTime), data);
}
uint32_t FindNextBackupFile(zef::FindHandle find, zef::BackupFileFindData* data) {
    return Call<uint32_t>("FindNextBackupFile", find, data);
}
void FindBackupFileClose(zef::FindHandle find) { Call<void>("FindBackupFileClose", find); }
uint32_t FbCompleteAdvanceData(zef::EditionFindData* edition, zef::RestoreReport* report) {
    // Recorded with the edition id it was given: 0 for a zeroed record.
    const uint32_t result =
        Call<uint32_t>("FbCompleteAdvanceData", edition != nullptr ? edition->editionId : 0u, report);
    LOCKED_STATE(m);
    if (report == nullptr || !m.advanceScripted) return result;
    report->validEditions = m.advance.validEditions;
    // From TimeStamp to the end, everything is the engine's.
    std::memcpy(&report->timeStamp, &m.advance.timeStamp,
                sizeof(zef::RestoreReport) - offsetof(zef::RestoreReport, timeStamp));
    return result;
}
uint32_t FlushEvents() { return Call<uint32_t>("FlushEvents"); }
uint32_t DeleteEditionByEditionID(uint32_t editionId) { return Call<uint32_t>("DeleteEditionByEditionID", editionId); }
uint32_t BackupFile(const char16_t* filePath) { return Call<uint32_t>("BackupFile", filePath); }
uint32_t IsPatternValid(const char16_t* patternFolder) { return Call<uint32_t>("IsPatternValid", patternFolder); }
uint32_t GetBackupFileByID(uint32_t id, uint32_t capacity, char16_t* buffer) {
    return Call<uint32_t>("GetBackupFileByID", id, capacity, static_cast<const void*>(buffer));
}
uint32_t GetStatInfo(void* info) { return Call<uint32_t>("GetStatInfo", info); }
uint32_t IsDisabledByPattern(const char16_t* patternFolder) {
    g_stopped = false;
    return Call<uint32_t>("IsDisabledByPattern", patternFolder);
}
uint32_t GetSupportFileMaxSize() { return Call<uint32_t>("GetSupportFileMaxSize"); }
zef::FindHandle FindFirstFileEditionEx(const char16_t* filePath, uint32_t flags, uint32_t* fromTime,
                                       uint32_t* toTime, zef::EditionFindData* data) {
    Call<void>("FindFirstFileEditionEx", filePath, flags, static_cast<const uint32_t*>(fromTime),
               static_cast<const uint32_t*>(toTime), data);
    return Open(kFakeInStorage, filePath ? filePath : u"", 0, fromTime, toTime, data);
}
zef::FindHandle MemFindFirstFile(const char16_t* filePath) {
    Call<void>("MemFindFirstFile", filePath);
    return Open(kFakeInMemory, filePath ? filePath : u"", 0, nullptr, nullptr);
}
ON_SEARCH(uint32_t, MemFindNextFile, Next(m, find))
ON_SEARCH(void, MemFindFileClose, Close(m, find))
ON_SEARCH(uint32_t, MemGetFindVersionTime, v != nullptr ? v->script.time : 0)
ON_SEARCH_TEXT(MemGetFindVersionPath, MakeMemoryCopy(m, v, capacity, text))
ON_SEARCH(uint32_t, MemGetFindVersionID, v != nullptr ? v->script.id : 0)
int32_t GetBackupFileUniqID(const char16_t* filePath, const void* keyArea) {
    int32_t id = 0;
    if (keyArea != nullptr) std::memcpy(&id, keyArea, sizeof id);
    Call<void>("GetBackupFileUniqID", filePath, static_cast<uint32_t>(id));
    return id;
}
uint32_t FlushValidEvents() { return Call<uint32_t>("FlushValidEvents"); }
ON_SEARCH_TEXT(MemGetSubjectProcessImage, v ? CopyText(v->image, capacity, text, Flag(v, kFakeOverlongText)) : 0)
uint32_t MemPurgeVersion(zef::FindHandle find) { return Call<uint32_t>("MemPurgeVersion", Describe(find)); }
uint32_t UpdateObjPidList(uint32_t operation, uint32_t processId) {
    return Call<uint32_t>("UpdateObjPidList", operation, processId);
}
zef::FindHandle FindFirstFileEditionByPid(uint32_t processId, uint32_t flags, uint32_t* fromTime, uint32_t* toTime,
                                          zef::EditionFindDataByPid* data) {
    Call<void>("FindFirstFileEditionByPid", processId, flags, static_cast<const uint32_t*>(fromTime),
               static_cast<const uint32_t*>(toTime), data);
    return Open(kFakeInStorage, nullptr, processId, fromTime, toTime, data);
}
uint32_t FindNextFileEditionByPid(zef::FindHandle find, zef::EditionFindDataByPid* data) {
    Call<void>("FindNextFileEditionByPid", Describe(find));
    LOCKED_STATE(m);
    return Next(m, find, data);
}
zef::FindHandle MemFindFirstFileByPid(uint32_t processId, uint32_t fromTime, uint32_t toTime) {
    Call<void>("MemFindFirstFileByPid", processId, fromTime, toTime);
    return Open(kFakeInMemory, nullptr, processId, fromTime != 0 ? &fromTime : nullptr, toTime != 0 ? &toTime : nullptr);
}
ON_SEARCH(uint32_t, MemFindNextFileByPid, Next(m, find))
ON_SEARCH(void, MemFindFileCloseByPid, Close(m, find))
ON_SEARCH(uint32_t, MemGetFindVersionTimeByPid, v != nullptr ? v->script.time : 0)
ON_SEARCH_TEXT(MemGetFindFilePathByPid,
               v && !Flag(v, kFakeNoPath) ? CopyText(v->filePath, capacity, text, Flag(v, kFakeOverlongText)) : 0)
ON_SEARCH(uint32_t, MemGetFindVersionIDByPid, v != nullptr ? v->script.id : 0)
ON_SEARCH_TEXT(MemGetSubjectProcessImageByPid, v ? CopyText(v->image, capacity, text, Flag(v, kFakeOverlongText)) : 0)
uint32_t MemPurgeVersionByPid(zef::FindHandle find) { return Call<uint32_t>("MemPurgeVersionByPid", Describe(find)); }
ON_SEARCH_TEXT(MemGetBackupVersionByPid, MakeMemoryCopy(m, v, capacity, text))
uint32_t QueryPtnPolicy(uint32_t type, uint32_t subtype, zef::PatternPolicy* policy) {
    const uint32_t result = Call<uint32_t>("QueryPtnPolicy", type, subtype, policy);
    LOCKED_STATE(state);
    const auto found = state.policies.find({type, subtype});
    if (result != 0 || policy == nullptr || found == state.policies.end()) return result;
    ScriptedPolicy& scripted = found->second;
    policy->valueType = scripted.valueType;
    policy->present = scripted.present;
    policy->count = scripted.count;
    policy->texts = scripted.pointers.empty() ? nullptr : scripted.pointers.data();
    return result;
}
void FreePtnPolicy(zef::PatternPolicy* policy) { Call<void>("FreePtnPolicy", policy); }

}  // extern "C"
