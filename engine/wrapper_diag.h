// The diagnostic site of every engine wrapper source: its lines carry the plug-in's tag and
// the wrapper's source name.
#pragma once
#include "util/diag_log.h"

namespace engine_diag {

constexpr util::DiagSite kDiag{u"Plugin ZEF Wrapper", u"ZefEngineWrapper"};

}  // namespace engine_diag
