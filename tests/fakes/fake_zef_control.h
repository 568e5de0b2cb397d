// Control of the scriptable fake engine, which tests place beside the plug-in as its engine.
// The fake exports every engine entry point, records each call in order as text
// ("IsDisabledByPattern(/tmp/x/Pattern)"), and answers what the test scripted (0, or null,
// by default). Tests load the same module by path and steer it through these exports.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dynamic_module.h"

extern "C" {
typedef void (*FakeZef_Reset_t)();
// Quiet (non-zero): no recording, no script, every entry point answers 0 at once.
typedef void (*FakeZef_SetQuiet_t)(int32_t quiet);
// The answer of one entry point, by export name (a handle as its address value).
typedef void (*FakeZef_SetResult_t)(const char* entryPoint, uint64_t result);
// Makes one entry point sleep this long before it answers.
typedef void (*FakeZef_SetDelay_t)(const char* entryPoint, uint32_t milliseconds);
typedef uint32_t (*FakeZef_CallCount_t)();
// Copies call `index` as terminated UTF-8 text; returns its length, or -1 without such call.
typedef int32_t (*FakeZef_GetCall_t)(uint32_t index, char* buffer, uint32_t capacity);
// What QueryPtnPolicy(type, subtype) fills in (texts may hold null entries).
typedef void (*FakeZef_SetPolicy_t)(uint32_t type, uint32_t subtype, uint32_t valueType,
                                    uint32_t present, uint32_t count,
                                    const char16_t* const* texts, uint32_t textCount);
// Calls that reached the engine after its Stop (Finalize aside) and before its next life.
typedef uint64_t (*FakeZef_LateCalls_t)();
// The callback the plug-in lent as setting 12 or 13, or null.
typedef void* (*FakeZef_GetCallback_t)(uint32_t settingId);
}

// The control exports of a loaded fake, resolved once.
class FakeZefControl {
public:
    explicit FakeZefControl(platform::ModuleHandle fake);

    bool IsComplete() const;
    void Reset() const { reset_(); }
    void SetQuiet(bool quiet) const { setQuiet_(quiet ? 1 : 0); }
    void SetResult(const char* entryPoint, uint64_t result) const { setResult_(entryPoint, result); }
    void SetDelay(const char* entryPoint, uint32_t ms) const { setDelay_(entryPoint, ms); }
    void* Callback(uint32_t settingId) const { return getCallback_(settingId); }
    uint64_t LateCalls() const { return lateCalls_(); }
    void SetPolicy(uint32_t type, uint32_t subtype, uint32_t valueType, uint32_t present,
                   uint32_t count, const std::vector<const char16_t*>& texts) const {
        setPolicy_(type, subtype, valueType, present, count, texts.data(),
                   static_cast<uint32_t>(texts.size()));
    }

    std::vector<std::string> Calls() const;
    // The calls whose text starts with one of the given entry point names (exactly that name,
    // or that name followed by '(').
    std::vector<std::string> CallsTo(const std::vector<std::string>& entryPoints) const;

private:
    FakeZef_Reset_t reset_ = nullptr;
    FakeZef_SetQuiet_t setQuiet_ = nullptr;
    FakeZef_SetResult_t setResult_ = nullptr;
    FakeZef_SetDelay_t setDelay_ = nullptr;
    FakeZef_CallCount_t callCount_ = nullptr;
    FakeZef_GetCall_t getCall_ = nullptr;
    FakeZef_GetCallback_t getCallback_ = nullptr;
    FakeZef_LateCalls_t lateCalls_ = nullptr;
    FakeZef_SetPolicy_t setPolicy_ = nullptr;
};
