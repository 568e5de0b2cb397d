// The diagnostic site of every plug-in boundary source: its lines carry the plug-in's tag and
// the boundary's source name.
#pragma once
#include "util/diag_log.h"

namespace plugin_diag {

constexpr util::DiagSite kDiag{u"Plugin ZEF Wrapper", u"PlugEngineZef"};

}  // namespace plugin_diag
