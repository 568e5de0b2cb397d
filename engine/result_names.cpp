// The result-name table, complete at module load and only read afterwards.
#include "engine/result_names.h"

#include <map>

namespace engine_results {
namespace {

const std::map<int32_t, std::u16string>& Table() {
    static const std::map<int32_t, std::u16string> table = {
        {static_cast<int32_t>(0x20FF0000), u"VELK_SUCCESS"},
        {static_cast<int32_t>(kNotSupported), u"VELK_ZEF_NOT_SUPPORTED"},
        {static_cast<int32_t>(kNoBackup), u"VELK_ZEF_NO_BACKUP"},
        {static_cast<int32_t>(kNoValidBackup), u"VELK_ZEF_NO_VALID_BACKUP"},
        {static_cast<int32_t>(kRestoreFailed), u"VELK_ZEF_RESTORE_FAIL"},
    };
    return table;
}

// Built during module initialisation, before any host call can look a name up.
const bool kTableBuilt = !Table().empty();

}  // namespace

const std::u16string& GetResultName(int32_t code) {
    static const std::u16string kNoName;
    const auto found = Table().find(code);
    return found != Table().end() ? found->second : kNoName;
}

}  // namespace engine_results
