// The settings the reference host's configuration service hands out, by name, and the
// answer to a configuration query built from them.
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace pellumhost {

class HostSettings {
public:
    // "Name=Value" with a name of the engine's settings (DbPath, DebugLevel, Enable, ...);
    // false with a reason for an unknown name or a value of the wrong kind.
    bool Set(const std::string& assignment, std::string& error);

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
    };
    std::map<uint32_t, Value> m_values;
};

}  // namespace pellumhost
