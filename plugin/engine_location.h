// Where the engine module lies: beside the plug-in, under the engine's base name.
#pragma once
#include <cstdint>

namespace plugin {

constexpr uint32_t kPathUnits = 260;

// Cuts the plug-in's own path at its last separator and formats "<folder><sep>Zef<suffix>"
// into enginePath (kPathUnits units, zero-filled, cut silently when longer). Returns false,
// writing nothing, when the path has no separator.
bool BuildEnginePath(const char16_t* ownModulePath, char16_t (&enginePath)[kPathUnits]);

}  // namespace plugin
