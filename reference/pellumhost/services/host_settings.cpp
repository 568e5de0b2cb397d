// The reference host's settings and its answers to configuration queries.
#include "reference/pellumhost/services/host_settings.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "config/config_batch.h"
#include "host/message_object.h"
#include "platform/text.h"

namespace pellumhost {
namespace {

// A numeric setting's range, the engine's own; a value outside it is refused with the range
// and what the bounds mean, so that no setting reaches the engine to be refused there.
struct Range {
    int64_t low;
    int64_t high;
    const char* meaning;  // said with a refusal
};

struct Known {
    const char* name;
    uint32_t key;
    uint32_t type;  // config::CVT_*
    Range range;    // numbers only
};
constexpr int64_t kIntMax = 0x7FFFFFFFll;
const Known kKnown[] = {
    {"DebugLevel", 0x03670001, config::CVT_INT, {0, 4, "0 logs nothing, 4 everything"}},
    {"DbSize", 0x03670004, config::CVT_INT, {0, 4194304, "MiB of the database; 0 sets no limit"}},
    {"DbPath", 0x03620003, config::CVT_WSTR, {}},
    {"PatternPath", 0x03620005, config::CVT_WSTR, {}},
    {"DebugLogPath", 0x03620002, config::CVT_WSTR, {}},
    {"FeedbackSwitch", 0x03670006, config::CVT_INT, {0, 1, "1 sends restore feedback, 0 not"}},
    {"HistoryKeepDays", 0x03670008, config::CVT_INT,
     {0, 36500, "days an edition is kept; 0 keeps editions of any age"}},
    {"SecurityLevel", 0x03670007, config::CVT_INT, {0, 3, "the engine's security level"}},
    {"Enable", 0x03610009, config::CVT_BOOL, {}},
    {"WorkMode", 0x0367000A, config::CVT_UINT, {0, 1, "1 takes versions on events, 0 not"}},
    {"PerProcessBackupQuota", 0x0367000B, config::CVT_UINT,
     {0, 1000000, "versions per process; 0 sets no limit"}},
    {"MaxBackupFileSize", 0x0367000C, config::CVT_UINT,
     {0, kIntMax, "bytes; 0 takes the pattern's limit"}},
    {"MaxBackupFileSizePidMode", 0x0367000D, config::CVT_UINT,
     {0, kIntMax, "bytes; 0 takes the pattern's limit"}},
};

constexpr uint32_t kNotConfigured = 0xE0FF0001;
constexpr uint32_t kQueryCommand = 4;
constexpr uint32_t kChangeAction = 3;  // the batch's action in a change message

const Known* Find(const std::string& name) {
    for (const Known& known : kKnown)
        if (name == known.name) return &known;
    return nullptr;
}

bool ParseBool(const std::string& text, int64_t& value) {
    for (const char* yes : {"1", "true", "yes", "on"})
        if (text == yes) return value = 1, true;
    for (const char* no : {"0", "false", "no", "off"})
        if (text == no) return value = 0, true;
    return false;
}

bool ParseNumber(const std::string& text, const Range& range, int64_t& value) {
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || parsed < range.low || parsed > range.high)
        return false;
    value = parsed;
    return true;
}

template <typename Value>
void AddValue(config::CConfigBatchCommands& batch, const Known& known, const Value& value) {
    switch (known.type) {
        case config::CVT_WSTR: batch.AddCommand(kQueryCommand, known.key, value.text); break;
        case config::CVT_BOOL: batch.AddCommand(kQueryCommand, known.key, value.number != 0); break;
        case config::CVT_UINT:
            batch.AddCommand(kQueryCommand, known.key, static_cast<unsigned int>(value.number));
            break;
        default: batch.AddCommand(kQueryCommand, known.key, static_cast<int>(value.number)); break;
    }
}

}  // namespace

const char* HostSettings::Names() {
    return "DebugLevel DbSize DbPath PatternPath DebugLogPath FeedbackSwitch HistoryKeepDays "
           "SecurityLevel Enable WorkMode PerProcessBackupQuota MaxBackupFileSize "
           "MaxBackupFileSizePidMode";
}

bool HostSettings::Set(const std::string& assignment, std::string& error) {
    const size_t equals = assignment.find('=');
    return Set(assignment.substr(0, equals),
               equals == std::string::npos ? "" : assignment.substr(equals + 1), error);
}

bool HostSettings::Set(const std::string& name, const std::string& value, std::string& error) {
    const Known* known = Find(name);
    if (known == nullptr) {
        error = "unknown setting '" + name + "' (known: " + Names() + ")";
        return false;
    }
    Value stored{known->key, known->type == config::CVT_WSTR, {}, 0};
    if (stored.isText) {
        stored.text = platform::FromUtf8(value);
    } else if (known->type == config::CVT_BOOL && !ParseBool(value, stored.number)) {
        error = name + " takes 0 or 1 (or true, false, yes, no, on, off), not '" + value + "'";
        return false;
    } else if (known->type != config::CVT_BOOL && !ParseNumber(value, known->range, stored.number)) {
        error = name + " takes a whole number from " + std::to_string(known->range.low) + " to " +
                std::to_string(known->range.high) + " (" + known->range.meaning + "), not '" +
                value + "'";
        return false;
    }
    m_values[known->key] = stored;
    return true;
}

std::string HostSettings::ValueOf(const std::string& name) const {
    const Known* known = Find(name);
    const auto found = known != nullptr ? m_values.find(known->key) : m_values.end();
    if (found == m_values.end()) return "";
    return found->second.isText ? platform::ToUtf8(found->second.text)
                                : std::to_string(found->second.number);
}

std::vector<std::string> HostSettings::ChangedNames(const HostSettings& newer) const {
    std::vector<std::string> changed;
    for (const Known& known : kKnown) {
        const auto mine = m_values.find(known.key);
        const auto theirs = newer.m_values.find(known.key);
        const bool inMine = mine != m_values.end(), inTheirs = theirs != newer.m_values.end();
        if (inMine != inTheirs || (inMine && !(mine->second == theirs->second)))
            changed.push_back(known.name);
    }
    return changed;
}

uint32_t HostSettings::WriteChangeMessage(const std::vector<std::string>& names,
                                          VELK_DataHandleWrapper& message) const {
    config::CConfigBatchCommands change(kChangeAction);
    for (const std::string& name : names) {
        const Known* known = Find(name);
        if (known == nullptr) continue;
        const auto found = m_values.find(known->key);
        if (found != m_values.end()) AddValue(change, *known, found->second);
    }
    return change.Serialize(message);
}

bool HostSettings::AppliedWhileRunning(const std::string& name) {
    for (const char* applied : {"DbSize", "Enable", "WorkMode", "PerProcessBackupQuota",
                                "MaxBackupFileSize", "MaxBackupFileSizePidMode"})
        if (name == applied) return true;
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
            answer.AddCommand(kQueryCommand, known.key, 0);
            answer.SetStatus(known.key, kNotConfigured);
            continue;
        }
        AddValue(answer, known, found->second);
    }
    VELK_DataHandleWrapper built;
    const uint32_t result = answer.Serialize(built);
    // The reply message handed in is re-pointed at the answer.
    VELK_Msg_ShareDataHandle(built.Handle(), &static_cast<HostMessageLayout*>(reply)->handle);
    return result;
}

}  // namespace pellumhost
