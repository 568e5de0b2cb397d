// The engine's path, built from the plug-in's own folder.
#include "plugin/engine_location.h"

#include <algorithm>
#include <string>

#include "platform/module.h"
#include "util/format_w.h"
#include "util/utf16.h"

namespace plugin {

bool BuildEnginePath(const char16_t* ownModulePath, char16_t (&enginePath)[kPathUnits]) {
    const std::u16string_view own = util::Utf16View(ownModulePath);
    const size_t cut = own.rfind(platform::kPathSeparator);
    if (cut == std::u16string_view::npos) return false;

    const std::u16string engineName = std::u16string(u"Zef") + platform::kModuleSuffix;
    std::fill(std::begin(enginePath), std::end(enginePath), u'\0');
    util::FormatJoinedPath(enginePath, kPathUnits, own.substr(0, cut), engineName);
    return true;
}

}  // namespace plugin
