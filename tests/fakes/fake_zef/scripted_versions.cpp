// The fake engine's versions, searches and copies, with the counts that let a test prove that
// the plug-in gave back everything it borrowed.
#include "tests/fakes/fake_zef/scripted_versions.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "host/module_export.h"

namespace fake_versions {
namespace {

struct Version {
    FakeZefVersion script;
    std::u16string filePath;
    std::u16string image;
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

struct Model {
    std::mutex lock;
    std::vector<std::unique_ptr<Version>> versions;
    std::map<uint32_t, std::u16string> writerImages;
    std::map<uintptr_t, Search> searches;
    uintptr_t nextHandle = 0x1000;
    std::u16string copyFolder;
    std::vector<std::filesystem::path> memoryCopies;
    std::set<std::u16string> editionCopies;
    uint32_t copySerial = 0;
    int32_t connections = 0;
    uint32_t badReturns = 0;
    uint32_t copiesMade = 0;
    uint32_t reboot = 0;
    bool advanceScripted = false;
    zef::RestoreReport advance{};
    std::vector<BootResult> bootResults;
};

Model& TheModel() {
    static Model model;
    return model;
}
// Declares m, the model, locked for the rest of the enclosing block.
#define LOCKED_MODEL(m) \
    Model& m = TheModel(); \
    const std::lock_guard<std::mutex> m##Guard(m.lock)

// Copies a text into a buffer of capacity units; an overlong one fills it, unterminated.
uint32_t CopyText(const std::u16string& text, uint32_t capacity, char16_t* out,
                  bool overlong = false) {
    if (out == nullptr || capacity == 0) return 0;
    if (overlong) {
        for (uint32_t i = 0; i < capacity; ++i) out[i] = u'x';
        return 1;
    }
    const size_t units = std::min<size_t>(text.size(), capacity - 1);
    std::memcpy(out, text.data(), units * sizeof(char16_t));
    out[units] = u'\0';
    return 1;
}

void FillEdition(const Version& v, zef::EditionFindData* data) {
    if (data == nullptr) return;
    data->editionId = v.script.id;
    data->time = v.script.time;
    data->writerRecordId = v.script.writerRecordId;
    std::memcpy(data->keyArea, &v.script.uniqueId, sizeof v.script.uniqueId);
}

void FillEditionByProcess(const Version& v, zef::EditionFindDataByPid* data) {
    if (data == nullptr) return;
    FillEdition(v, &data->edition);
    CopyText(v.filePath, zef::kTextUnits, data->filePath,
             (v.script.flags & kFakeOverlongText) != 0);
}

bool InBounds(uint32_t time, const uint32_t* from, const uint32_t* to) {
    return (from == nullptr || time >= *from) && (to == nullptr || time <= *to);
}

// Opens a search over the versions that match; null (and nothing open) when none does.
template <typename Match>
zef::FindHandle Open(Model& m, Match match) {
    Search search;
    for (const auto& v : m.versions) {
        if (match(*v)) search.found.push_back(v.get());
    }
    if (search.found.empty()) return nullptr;
    const uintptr_t handle = m.nextHandle++;
    m.searches[handle] = std::move(search);
    return reinterpret_cast<zef::FindHandle>(handle);
}

const Version* Current(Model& m, zef::FindHandle find) {
    const auto it = m.searches.find(reinterpret_cast<uintptr_t>(find));
    if (it == m.searches.end()) return nullptr;
    return it->second.found[it->second.position];
}

// Moves a search on; the version it then stands at, or null at its end.
const Version* Advance(Model& m, zef::FindHandle find) {
    const auto it = m.searches.find(reinterpret_cast<uintptr_t>(find));
    if (it == m.searches.end() || it->second.position + 1 >= it->second.found.size()) {
        return nullptr;
    }
    return it->second.found[++it->second.position];
}

}  // namespace

void Reset() {
    LOCKED_MODEL(m);
    std::error_code ignored;
    for (const auto& copy : m.memoryCopies) std::filesystem::remove(copy, ignored);
    m.versions.clear();
    m.writerImages.clear();
    m.searches.clear();
    m.memoryCopies.clear();
    m.editionCopies.clear();
    m.connections = 0;
    m.badReturns = 0;
    m.copiesMade = 0;
    m.reboot = 0;
    m.advanceScripted = false;
    m.bootResults.clear();
}

zef::FindHandle FindMemory(const char16_t* filePath) {
    LOCKED_MODEL(m);
    const std::u16string path = filePath != nullptr ? filePath : u"";
    return Open(m, [&](const Version& v) {
        return v.script.place == kFakeInMemory && v.filePath == path;
    });
}

zef::FindHandle FindMemoryByProcess(uint32_t processId, uint32_t from, uint32_t to) {
    LOCKED_MODEL(m);
    return Open(m, [&](const Version& v) {
        return v.script.place == kFakeInMemory && v.script.processId == processId &&
               InBounds(v.script.time, from != 0 ? &from : nullptr, to != 0 ? &to : nullptr);
    });
}

zef::FindHandle FindStored(const char16_t* filePath, const uint32_t* from, const uint32_t* to,
                           zef::EditionFindData* data) {
    LOCKED_MODEL(m);
    const std::u16string path = filePath != nullptr ? filePath : u"";
    const zef::FindHandle find = Open(m, [&](const Version& v) {
        return v.script.place == kFakeInStorage && v.filePath == path &&
               InBounds(v.script.time, from, to);
    });
    if (find != nullptr) FillEdition(*Current(m, find), data);
    return find;
}

zef::FindHandle FindStoredByProcess(uint32_t processId, const uint32_t* from, const uint32_t* to,
                                    zef::EditionFindDataByPid* data) {
    LOCKED_MODEL(m);
    const zef::FindHandle find = Open(m, [&](const Version& v) {
        return v.script.place == kFakeInStorage && v.script.processId == processId &&
               InBounds(v.script.time, from, to);
    });
    if (find != nullptr) FillEditionByProcess(*Current(m, find), data);
    return find;
}

uint32_t Next(zef::FindHandle find) {
    LOCKED_MODEL(m);
    return Advance(m, find) != nullptr ? 1 : 0;
}

uint32_t NextStored(zef::FindHandle find, zef::EditionFindData* data) {
    LOCKED_MODEL(m);
    const Version* v = Advance(m, find);
    if (v == nullptr) return 0;
    FillEdition(*v, data);
    return 1;
}

uint32_t NextStoredByProcess(zef::FindHandle find, zef::EditionFindDataByPid* data) {
    LOCKED_MODEL(m);
    const Version* v = Advance(m, find);
    if (v == nullptr) return 0;
    FillEditionByProcess(*v, data);
    return 1;
}

void Close(zef::FindHandle find) {
    LOCKED_MODEL(m);
    if (m.searches.erase(reinterpret_cast<uintptr_t>(find)) == 0) ++m.badReturns;
}

std::string Describe(zef::FindHandle find) {
    LOCKED_MODEL(m);
    const Version* v = Current(m, find);
    return v != nullptr ? "v" + std::to_string(v->script.id) : "unknown";
}

uint32_t VersionId(zef::FindHandle find) {
    LOCKED_MODEL(m);
    const Version* v = Current(m, find);
    return v != nullptr ? v->script.id : 0;
}

uint32_t VersionTime(zef::FindHandle find) {
    LOCKED_MODEL(m);
    const Version* v = Current(m, find);
    return v != nullptr ? v->script.time : 0;
}

uint32_t MakeMemoryCopy(zef::FindHandle find, uint32_t capacity, char16_t* path) {
    LOCKED_MODEL(m);
    const Version* v = Current(m, find);
    if (v == nullptr || (v->script.flags & kFakeNoCopy) != 0) return 0;
    if ((v->script.flags & kFakeEmptyCopyPath) != 0) return CopyText(u"", capacity, path);
    const std::filesystem::path copy =
        std::filesystem::path(m.copyFolder) /
        ("mem-" + std::to_string(v->script.id) + "-" + std::to_string(++m.copySerial) + ".tmp");
    std::ofstream(copy) << "copy";
    m.memoryCopies.push_back(copy);
    ++m.copiesMade;
    return CopyText(copy.u16string(), capacity, path);
}

uint32_t FilePath(zef::FindHandle find, uint32_t capacity, char16_t* path) {
    LOCKED_MODEL(m);
    const Version* v = Current(m, find);
    if (v == nullptr || (v->script.flags & kFakeNoPath) != 0) return 0;
    return CopyText(v->filePath, capacity, path, (v->script.flags & kFakeOverlongText) != 0);
}

uint32_t Image(zef::FindHandle find, uint32_t capacity, char16_t* image) {
    LOCKED_MODEL(m);
    const Version* v = Current(m, find);
    if (v == nullptr) return 0;
    return CopyText(v->image, capacity, image, (v->script.flags & kFakeOverlongText) != 0);
}

uint32_t MakeEditionCopy(uint32_t editionId, uint32_t capacity, char16_t* path) {
    LOCKED_MODEL(m);
    for (const auto& v : m.versions) {
        if (v->script.place != kFakeInStorage || v->script.id != editionId) continue;
        if ((v->script.flags & kFakeNoCopy) != 0) return 0;
        const std::u16string copy =
            (std::filesystem::path(m.copyFolder) /
             ("edition-" + std::to_string(editionId) + "-" + std::to_string(++m.copySerial)))
                .u16string();
        m.editionCopies.insert(copy);
        ++m.copiesMade;
        return CopyText(copy, capacity, path);
    }
    return 0;
}

uint32_t FreeEditionCopy(const char16_t* path) {
    LOCKED_MODEL(m);
    if (path == nullptr || m.editionCopies.erase(path) == 0) ++m.badReturns;
    return 1;
}

int32_t UniqueId(const void* keyArea) {
    int32_t id = 0;
    if (keyArea != nullptr) std::memcpy(&id, keyArea, sizeof id);
    return id;
}

uint32_t WriterImage(uint32_t writerRecordId, uint32_t capacity, char16_t* image) {
    LOCKED_MODEL(m);
    const auto it = m.writerImages.find(writerRecordId);
    return it != m.writerImages.end() ? CopyText(it->second, capacity, image) : 0;
}

void Connect() {
    LOCKED_MODEL(m);
    ++m.connections;
}

void Disconnect() {
    LOCKED_MODEL(m);
    --m.connections;
}

uint32_t Reboot() {
    LOCKED_MODEL(m);
    return m.reboot;
}

void CompleteReport(zef::RestoreReport* report) {
    LOCKED_MODEL(m);
    if (report == nullptr || !m.advanceScripted) return;
    report->validEditions = m.advance.validEditions;
    // From TimeStamp to the end, everything is the engine's.
    std::memcpy(&report->timeStamp, &m.advance.timeStamp,
                sizeof(zef::RestoreReport) - offsetof(zef::RestoreReport, timeStamp));
}

uint32_t BootResultCount() {
    LOCKED_MODEL(m);
    return static_cast<uint32_t>(m.bootResults.size());
}

uint32_t FetchBootResult(uint32_t index, uint32_t* code, uint64_t* value, const char16_t** name,
                         uint64_t* fileTime) {
    LOCKED_MODEL(m);
    if (index >= m.bootResults.size()) return 0;
    const BootResult& result = m.bootResults[index];
    if (code != nullptr) *code = result.code;
    if (value != nullptr) *value = result.value;
    if (name != nullptr) *name = result.name.empty() ? nullptr : result.name.c_str();
    if (fileTime != nullptr) *fileTime = result.fileTime;
    return 1;
}

}  // namespace fake_versions

using fake_versions::Model;
using fake_versions::TheModel;

extern "C" {

PEZ_EXPORT void FakeZef_AddVersion(const FakeZefVersion* version) {
    LOCKED_MODEL(m);
    auto added = std::make_unique<fake_versions::Version>();
    added->script = *version;
    added->filePath = version->filePath != nullptr ? version->filePath : u"";
    added->image = version->image != nullptr ? version->image : u"";
    m.versions.push_back(std::move(added));
}

PEZ_EXPORT void FakeZef_SetWriterImage(uint32_t writerRecordId, const char16_t* image) {
    LOCKED_MODEL(m);
    m.writerImages[writerRecordId] = image != nullptr ? image : u"";
}

PEZ_EXPORT void FakeZef_SetCopyFolder(const char16_t* folder) {
    LOCKED_MODEL(m);
    m.copyFolder = folder != nullptr ? folder : u"";
}

PEZ_EXPORT uint32_t FakeZef_Count(uint32_t what) {
    LOCKED_MODEL(m);
    switch (what) {
        case kFakeOpenHandles:
            return static_cast<uint32_t>(m.searches.size());
        case kFakeOpenConnections:
            return static_cast<uint32_t>(m.connections);
        case kFakeMemoryCopiesLeft: {
            uint32_t left = 0;
            for (const auto& copy : m.memoryCopies) left += std::filesystem::exists(copy) ? 1 : 0;
            return left;
        }
        case kFakeEditionCopiesLeft:
            return static_cast<uint32_t>(m.editionCopies.size());
        case kFakeBadReturns:
            return m.badReturns;
        case kFakeCopiesMade:
            return m.copiesMade;
        default:
            return 0;
    }
}

PEZ_EXPORT void FakeZef_SetReboot(uint32_t reboot) {
    LOCKED_MODEL(m);
    m.reboot = reboot;
}

PEZ_EXPORT void FakeZef_SetAdvanceData(const zef::RestoreReport* report) {
    LOCKED_MODEL(m);
    m.advanceScripted = report != nullptr;
    if (report != nullptr) m.advance = *report;
}

PEZ_EXPORT void FakeZef_AddBootResult(uint32_t code, uint64_t value, const char16_t* name,
                                      uint64_t fileTime) {
    LOCKED_MODEL(m);
    m.bootResults.push_back({code, value, name != nullptr ? name : u"", fileTime});
}

}  // extern "C"
