// A reader of the protocol-buffer wire format for tests, written from the format's rules and
// sharing nothing with the plug-in's writer: it splits a message into its fields.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct WireField {
    uint32_t number = 0;
    uint32_t wireType = 0;
    uint64_t varint = 0;  // wire type 0
    std::string bytes;    // wire type 2
};

// The fields of a message in order; ok is false when the bytes are not a well-formed message.
inline std::vector<WireField> ReadWire(const std::string& data, bool* ok = nullptr) {
    std::vector<WireField> fields;
    size_t at = 0;
    bool good = true;
    const auto varint = [&](uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 70; shift += 7) {
            if (at >= data.size()) return false;
            const uint8_t byte = static_cast<uint8_t>(data[at++]);
            value |= uint64_t{byte & 0x7Fu} << shift;
            if ((byte & 0x80) == 0) return true;
        }
        return false;
    };
    while (good && at < data.size()) {
        uint64_t key = 0;
        WireField field;
        good = varint(key);
        field.number = static_cast<uint32_t>(key >> 3);
        field.wireType = static_cast<uint32_t>(key & 7);
        if (good && field.wireType == 0) {
            good = varint(field.varint);
        } else if (good && field.wireType == 2) {
            uint64_t length = 0;
            good = varint(length) && length <= data.size() - at;
            if (good) field.bytes = data.substr(at, static_cast<size_t>(length));
            at += good ? static_cast<size_t>(length) : 0;
        } else {
            good = false;
        }
        if (good) fields.push_back(field);
    }
    if (ok != nullptr) *ok = good;
    return fields;
}

// The first field of that number, or an empty field numbered 0.
inline WireField WireFind(const std::vector<WireField>& fields, uint32_t number) {
    for (const WireField& field : fields) {
        if (field.number == number) return field;
    }
    return {};
}
