// The reference host's settings and its answers to configuration queries.
#include "reference/pellumhost/host_settings.h"

#include <cerrno>
#include <cstdlib>

#include "config/config_batch.h"
#include "host/message_object.h"
#include "platform/text.h"

namespace pellumhost {
namespace {

struct Known {
    const char* name;
    uint32_t key;
    uint32_t type;  // config::CVT_*
};
const Known kKnown[] = {
    {"DebugLevel", 0x03670001, config::CVT_INT},
    {"DbSize", 0x03670004, config::CVT_INT},
    {"DbPath", 0x03620003, config::CVT_WSTR},
    {"PatternPath", 0x03620005, config::CVT_WSTR},
    {"DebugLogPath", 0x03620002, config::CVT_WSTR},
    {"FeedbackSwitch", 0x03670006, config::CVT_INT},
    {"HistoryKeepDays", 0x03670008, config::CVT_INT},
    {"SecurityLevel", 0x03670007, config::CVT_INT},
    {"Enable", 0x03610009, config::CVT_BOOL},
    {"WorkMode", 0x0367000A, config::CVT_UINT},
    {"PerProcessBackupQuota", 0x0367000B, config::CVT_UINT},
    {"MaxBackupFileSize", 0x0367000C, config::CVT_UINT},
    {"MaxBackupFileSizePidMode", 0x0367000D, config::CVT_UINT},
};

constexpr uint32_t kNotConfigured = 0xE0FF0001;

}  // namespace

const char* HostSettings::Names() {
    return "DebugLevel DbSize DbPath PatternPath DebugLogPath FeedbackSwitch HistoryKeepDays "
           "SecurityLevel Enable WorkMode PerProcessBackupQuota MaxBackupFileSize "
           "MaxBackupFileSizePidMode";
}

bool HostSettings::Set(const std::string& assignment, std::string& error) {
    const size_t equals = assignment.find('=');
    const std::string name = assignment.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : assignment.substr(equals + 1);
    for (const Known& known : kKnown) {
        if (name != known.name) continue;
        Value stored{known.key, known.type == config::CVT_WSTR, {}, 0};
        if (stored.isText) {
            stored.text = platform::FromUtf8(value);
        } else {
            char* end = nullptr;
            errno = 0;
            stored.number = std::strtoll(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0) {
                error = name + " takes a whole number, not '" + value + "'";
                return false;
            }
        }
        m_values[known.key] = stored;
        return true;
    }
    error = "unknown setting '" + name + "' (known: " + Names() + ")";
    return false;
}

uint32_t HostSettings::AnswerQuery(const void* request, void* reply) const {
    if (request == nullptr || reply == nullptr) return 0xE0FF0007;
    const VELK_DataHandleWrapper asked(static_cast<const HostMessageLayout*>(request)->handle);
    const config::CConfigBatchCommands query(asked);
    config::CConfigBatchCommands answer(query.Action());
    for (const Known& known : kKnown) {
        if (query.Find(known.key) == nullptr) continue;
        const auto found = m_values.find(known.key);
        if (found == m_values.end()) {
            // Answered with a failed status: the plug-in falls back to its own default.
            answer.AddCommand(4, known.key, 0);
            answer.SetStatus(known.key, kNotConfigured);
            continue;
        }
        const Value& value = found->second;
        switch (known.type) {
            case config::CVT_WSTR: answer.AddCommand(4, known.key, value.text); break;
            case config::CVT_BOOL: answer.AddCommand(4, known.key, value.number != 0); break;
            case config::CVT_UINT:
                answer.AddCommand(4, known.key, static_cast<unsigned int>(value.number));
                break;
            default: answer.AddCommand(4, known.key, static_cast<int>(value.number)); break;
        }
    }
    VELK_DataHandleWrapper built;
    const uint32_t result = answer.Serialize(built);
    // The reply message handed in is re-pointed at the answer.
    VELK_Msg_ShareDataHandle(built.Handle(), &static_cast<HostMessageLayout*>(reply)->handle);
    return result;
}

}  // namespace pellumhost
