// Resolving the engine's entry points by name.
#include "engine/engine_entry_points.h"

#include <array>

namespace engine_binding {
namespace {

struct EntrySlot {
    const char* name;
    bool required;
    void (*resolve)(EngineEntryPoints& entries);
};

// One slot per entry point, in table order; each looks up its own export with its own type.
#define ZEF_SLOT(name, required, result, params)                                             \
    {#name, required, [](EngineEntryPoints& entries) {                                       \
         entries.name =                                                                      \
             platform::FindExportAs<result(*) params>(entries.m_hEngineModule, #name);       \
     }},
constexpr EntrySlot kSlots[] = {ZEF_ENTRY_POINTS(ZEF_SLOT)};
#undef ZEF_SLOT
static_assert(sizeof(kSlots) / sizeof(kSlots[0]) == kEntryPointCount, "59 entry points");

// Table order, except that RestoreByEdition (21st) is looked up right after RestoreByCopy (16th).
constexpr std::array<size_t, kEntryPointCount> LookupOrder() {
    std::array<size_t, kEntryPointCount> order{};
    size_t next = 0;
    for (size_t i = 0; i < kEntryPointCount; ++i) {
        if (i == 20) continue;
        order[next++] = i;
        if (i == 15) order[next++] = 20;
    }
    return order;
}
constexpr std::array<size_t, kEntryPointCount> kLookupOrder = LookupOrder();

// Whether the member of a slot is set, read back through the table itself.
#define ZEF_IS_SET(name, required, result, params) entries.name != nullptr,
std::array<bool, kEntryPointCount> SetMembers(const EngineEntryPoints& entries) {
    return {ZEF_ENTRY_POINTS(ZEF_IS_SET)};
}
#undef ZEF_IS_SET

}  // namespace

bool ResolveEntryPoints(EngineEntryPoints& entries, const char** missingRequired) {
    for (size_t index : kLookupOrder) kSlots[index].resolve(entries);
    const std::array<bool, kEntryPointCount> set = SetMembers(entries);
    for (size_t i = 0; i < kEntryPointCount; ++i) {
        if (kSlots[i].required && !set[i]) {
            if (missingRequired != nullptr) *missingRequired = kSlots[i].name;
            return false;
        }
    }
    return true;
}

void ClearEntryPoints(EngineEntryPoints& entries) { entries = EngineEntryPoints{}; }

}  // namespace engine_binding
