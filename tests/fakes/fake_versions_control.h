// Control of the fake engine's scripted versions, boot results and restore data, and its
// counts of what the plug-in borrowed (see tests/fakes/fake_versions.h).
#pragma once
#include <cstdint>
#include <string>

#include "platform/dynamic_module.h"
#include "platform/text.h"
#include "tests/fakes/fake_versions.h"

class FakeVersionsControl {
public:
    explicit FakeVersionsControl(platform::ModuleHandle fake);
    bool IsComplete() const;

    void Add(const FakeZefVersion& version) const { add_(&version); }
    // A version in memory of a file (process 0 unless given).
    void AddMemory(const char16_t* file, uint32_t id, uint32_t time, const char16_t* image = u"",
                   uint32_t flags = 0, uint32_t processId = 0) const {
        Add({kFakeInMemory, processId, file, id, time, 0, 0, image, flags});
    }
    // A stored edition of a file.
    void AddEdition(const char16_t* file, uint32_t id, uint32_t time, int32_t uniqueId = 0,
                    uint32_t writerRecordId = 0, uint32_t flags = 0,
                    uint32_t processId = 0) const {
        Add({kFakeInStorage, processId, file, id, time, uniqueId, writerRecordId, nullptr, flags});
    }
    void SetWriterImage(uint32_t id, const char16_t* image) const { writerImage_(id, image); }
    void SetCopyFolder(const std::u16string& folder) const { copyFolder_(folder.c_str()); }
    uint32_t Count(uint32_t what) const { return count_(what); }
    // True when every handle, connection and copy was given back, and nothing twice.
    bool NothingLeftBehind() const;
    void SetReboot(uint32_t reboot) const { reboot_(reboot); }
    void SetAdvanceData(const zef::RestoreReport& report) const { advance_(&report); }
    void AddBootResult(uint32_t code, uint64_t value, const char16_t* name,
                       uint64_t fileTime) const {
        bootResult_(code, value, name, fileTime);
    }

private:
    FakeZef_AddVersion_t add_ = nullptr;
    FakeZef_SetWriterImage_t writerImage_ = nullptr;
    FakeZef_SetCopyFolder_t copyFolder_ = nullptr;
    FakeZef_Count_t count_ = nullptr;
    FakeZef_SetReboot_t reboot_ = nullptr;
    FakeZef_SetAdvanceData_t advance_ = nullptr;
    FakeZef_AddBootResult_t bootResult_ = nullptr;
};

// The fake's name for a copy it made: "mem-4" for ".../mem-4-7.tmp" (memory version 4),
// "edition-21" for ".../edition-21-8"; "null" for no path.
inline std::string CopyTag(const char16_t* path) {
    if (path == nullptr) return "null";
    std::string text = platform::ToUtf8(path);
    text = text.substr(text.find_last_of("/\\") + 1);
    return text.substr(0, text.rfind('-'));
}
