// The settings the reference host's configuration service hands out, by name, and the
// answer to a configuration query built from them.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class VELK_DataHandleWrapper;

namespace pellumhost {

class HostSettings {
public:
    // "Name=Value" with a name of the engine's settings (DbPath, DebugLevel, Enable, ...);
    // false with a reason for an unknown name or a value of the wrong kind.
    bool Set(const std::string& assignment, std::string& error);
    // The same with the name and the value apart. A bool takes 0 or 1, true or false, yes or
    // no, on or off.
    bool Set(const std::string& name, const std::string& value, std::string& error);
    // The value held for name as text (a number in decimal); empty when none is held.
    std::string ValueOf(const std::string& name) const;

    // The names whose value differs in newer (set in one and not in the other counts too), in
    // the order of Names().
    std::vector<std::string> ChangedNames(const HostSettings& newer) const;

    // A change message: a configuration batch with the current value of each named setting
    // the host holds (names it does not hold are left out). 0x20FF0000, or the batch's
    // failure; message then holds the batch record.
    uint32_t WriteChangeMessage(const std::vector<std::string>& names,
                                VELK_DataHandleWrapper& message) const;

    // True for the settings the plug-in applies to a running engine on a change message; the
    // others are taken at the next start.
    static bool AppliedWhileRunning(const std::string& name);

    // Answers a configuration query (the request message) into the reply message: every asked
    // key the host has a value for gets it, every other key the status "not configured".
    // Both are host message objects of the shared layout.
    uint32_t AnswerQuery(const void* request, void* reply) const;

    static const char* Names();

private:
    struct Value {
        uint32_t key;
        bool isText;
        std::u16string text;
        int64_t number;
        bool operator==(const Value& other) const {
            return key == other.key && isText == other.isText && text == other.text &&
                   number == other.number;
        }
    };
    std::map<uint32_t, Value> m_values;
};

}  // namespace pellumhost
