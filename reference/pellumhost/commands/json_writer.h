// A small writer of one JSON document for the command line's --json output: objects, arrays,
// strings (UTF-8 in, escaped out), whole numbers and booleans. The caller nests correctly; the
// writer places the commas and colons.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pellumhost {

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The name of the next member of the object that is open.
    JsonWriter& Key(std::string_view name);
    JsonWriter& String(std::string_view utf8);
    JsonWriter& Number(int64_t value);
    JsonWriter& Unsigned(uint64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    // The document so far; complete once every object and array is closed.
    const std::string& Text() const { return m_text; }

private:
    void BeforeValue();

    std::string m_text;
    // One entry per open object or array: true once it holds a member.
    std::vector<bool> m_open;
    bool m_afterKey = false;
};

}  // namespace pellumhost
