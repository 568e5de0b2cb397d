// The loaded engine: its module handle and its 59 entry points, generated from the one list
// in engine_api/zef_entry_points.h.
#pragma once
#include <cstddef>

#include "engine_api/zef_entry_points.h"
#include "platform/dynamic_module.h"

struct EngineEntryPoints {
#define ZEF_MEMBER(name, required, result, params) result(*name) params = nullptr;
    platform::ModuleHandle m_hEngineModule = nullptr;
    ZEF_ENTRY_POINTS(ZEF_MEMBER)
#undef ZEF_MEMBER
};

namespace engine_binding {

constexpr size_t kEntryPointCount = 59;

// Fills every entry point from the module in the wrapper's look-up order (the table's order,
// with RestoreByEdition right after RestoreByCopy). Returns true when every required entry
// was found; on false, missingRequired names the first missing one in table order.
bool ResolveEntryPoints(EngineEntryPoints& entries, const char** missingRequired);

// Sets the module handle and every entry point to null.
void ClearEntryPoints(EngineEntryPoints& entries);

}  // namespace engine_binding
