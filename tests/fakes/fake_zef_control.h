// Control of the scriptable fake engine, which tests place beside the plug-in as its engine.
// The fake exports every engine entry point, records each call in order as text
// ("IsDisabledByPattern(/tmp/x/Pattern)"), and answers what the test scripted (0, or null, by
// default) or, for the calls about versions, from the versions the test added. Tests load the
// same module by path and steer it through its FakeZef_ exports, resolved here by name.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/dynamic_module.h"
#include "platform/text.h"
#include "tests/fakes/fake_versions.h"

class FakeZefControl {
public:
    explicit FakeZefControl(platform::ModuleHandle fake) : fake_(fake) {}

    // The module is the fake (its controls come from one source: one found, all are).
    bool IsComplete() const { return platform::FindExport(fake_, "FakeZef_Reset") != nullptr; }
    // Forgets calls, script, versions, copies and counts.
    void Reset() const { Get<void (*)()>("FakeZef_Reset")(); }
    // Quiet: no recording, no script, every entry point answers 0 at once.
    void SetQuiet(bool quiet) const { Get<void (*)(int32_t)>("FakeZef_SetQuiet")(quiet ? 1 : 0); }
    // The answer of one entry point, by export name (a handle as its address value).
    void SetResult(const char* entryPoint, uint64_t result) const {
        Get<void (*)(const char*, uint64_t)>("FakeZef_SetResult")(entryPoint, result);
    }
    // Makes one entry point sleep this long before it answers.
    void SetDelay(const char* entryPoint, uint32_t ms) const {
        Get<void (*)(const char*, uint32_t)>("FakeZef_SetDelay")(entryPoint, ms);
    }
    // Calls that reached the engine after its Stop (Finalize aside) and before its next life.
    uint64_t LateCalls() const { return Get<uint64_t (*)()>("FakeZef_LateCalls")(); }
    // What QueryPtnPolicy(type, subtype) fills in (texts may hold null entries).
    void SetPolicy(uint32_t type, uint32_t subtype, uint32_t valueType, uint32_t present,
                   uint32_t count, const std::vector<const char16_t*>& texts) const {
        Get<void (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, const char16_t* const*,
                     uint32_t)>("FakeZef_SetPolicy")(type, subtype, valueType, present, count,
                                                     texts.data(),
                                                     static_cast<uint32_t>(texts.size()));
    }

    std::vector<std::string> Calls() const;
    // The calls whose text starts with one of the given entry point names (exactly that name,
    // or that name followed by '(').
    std::vector<std::string> CallsTo(const std::vector<std::string>& entryPoints) const;

    // The versions it holds: of one place they are found in the order added (newest first).
    void Add(const FakeZefVersion& version) const {
        Get<void (*)(const FakeZefVersion*)>("FakeZef_AddVersion")(&version);
    }
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
    // True when every handle, connection and copy was given back, and nothing twice.
    bool NothingLeftBehind() const { return Get<uint32_t (*)()>("FakeZef_LeftBehind")() == 0; }
    // What RestoreByCopy and RestoreByEdition leave in their reboot flag.
    void SetReboot(uint32_t reboot) const { Get<void (*)(uint32_t)>("FakeZef_SetReboot")(reboot); }
    // The engine's part of the report that FbCompleteAdvanceData fills (from ValidEditions on,
    // without SkippedEditions and IndexFromNewToOld).
    void SetAdvanceData(const zef::RestoreReport& report) const {
        Get<void (*)(const zef::RestoreReport*)>("FakeZef_SetAdvanceData")(&report);
    }
    // One boot result, fetched by RmFetchDbeResult in the order added.
    void AddBootResult(uint32_t code, uint64_t value, const char16_t* name,
                       uint64_t fileTime) const {
        Get<void (*)(uint32_t, uint64_t, const char16_t*, uint64_t)>("FakeZef_AddBootResult")(
            code, value, name, fileTime);
    }

private:
    template <typename F>
    F Get(const char* name) const {
        return platform::FindExportAs<F>(fake_, name);
    }
    platform::ModuleHandle fake_;
};

// The fake's name for a copy it made: "mem-4" for ".../mem-4-7.tmp" (memory version 4),
// "edition-21" for ".../edition-21-8"; "null" for no path.
inline std::string CopyTag(const char16_t* path) {
    if (path == nullptr) return "null";
    std::string text = platform::ToUtf8(path);
    text = text.substr(text.find_last_of("/\\") + 1);
    return text.substr(0, text.rfind('-'));
}
// How the fake records a pointer whose identity a test checks: "@" and its address in hexadecimal.
inline std::string FakeAddress(const void* pointer) {
    char text[24];
    std::snprintf(text, sizeof text, "@%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
    return text;
}
