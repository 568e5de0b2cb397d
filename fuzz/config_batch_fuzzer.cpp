// A configuration batch from any record tree a host could send (the bytes build records of the
// wire format's name ids and any field types), every key read as every type, serialised and
// parsed again: a valueless command comes back as key 0's; every other with its key, type,
// status and value type.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "config/config_batch.h"

namespace {

const uint32_t kNames[] = {0x70001, 0x70002, 0x70003, 0x70004, 0x70005, 0x70006, 0x70007,
                           0x70008, 0x20515, 0x207D3, 0x10002, 0x2076D, 0x2076E, 0x10001,
                           0x20641, 0x20640, 0x10003, 0x20899, 0x03670004, 0x03610009};

// The input read a byte at a time; past its end, zeros.
struct Reader {
    const uint8_t* data;
    size_t size, at = 0;
    bool More() const { return at < size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    // Little-endian, its bytes read in order (the operands of one expression have none).
    uint32_t Word() {
        uint32_t word = 0;
        for (int shift = 0; shift < 32; shift += 8) word |= uint32_t{Byte()} << shift;
        return word;
    }
    uint32_t Name() { return kNames[Byte() % (sizeof kNames / sizeof kNames[0])]; }
};

// Builds one record; nested records go at most `depth` levels deeper.
void Build(Reader& in, VELK_DataHandleWrapper& record, int depth) {
    for (int fields = in.Byte() % 12; fields > 0 && in.More(); --fields) {
        const uint32_t name = in.Name();
        switch (in.Byte() % 6) {
            case 0: record.PutInt32(name, static_cast<int32_t>(in.Word())); break;
            case 1: record.PutUInt32(name, in.Word()); break;
            case 2: {
                std::string bytes(in.Byte() % 24, '\0');
                for (char& c : bytes) c = static_cast<char>(in.Byte());
                record.PutBinary(name, bytes.data(), static_cast<uint32_t>(bytes.size()));
                break;
            }
            case 3: {
                std::u16string text(in.Byte() % 140, u'\0');
                for (char16_t& c : text) c = static_cast<char16_t>(in.Byte() + 0x20);
                record.PutWString(name, text);
                break;
            }
            case 4: {
                std::string text(in.Byte() % 60, 'a');
                VELK_Msg_PutString(record.Handle(), name, text.data(), static_cast<uint32_t>(text.size()));
                break;
            }
            default:
                if (depth > 0) {
                    VELK_DataHandleWrapper child(name, true);
                    Build(in, child, depth - 1);
                    record.PutData(child);
                }
        }
    }
}

// Every key read as every type a caller may ask for.
void ReadEverything(const config::CConfigBatchCommands& batch) {
    const auto readAs = [&batch](uint32_t key, auto... value) { (batch.GetValue(key, value), ...); };
    for (uint32_t key : kNames) {
        readAs(key, std::u16string(), uint64_t{}, 0u, static_cast<unsigned short>(0), static_cast<unsigned char>(0),
               int64_t{}, 0, static_cast<short>(0), '\0', false, VELK_DataHandleWrapper());
    }
}

// A command's type, status and value type.
using Shape = std::tuple<uint32_t, uint32_t, uint32_t>;

// Each key's command as a batch holds it (the last of a repeated key); with `valueless` set, the
// commands without value are left out and noted there: what a serialised and re-parsed batch
// must hold, and whether its Serialize must fail.
std::map<uint32_t, Shape> Shapes(const config::CConfigBatchCommands& batch, bool* valueless = nullptr) {
    std::map<uint32_t, Shape> shapes;
    batch.ForEachCommand([&](const config::IConfigCommand& command) {
        if (valueless != nullptr && command.GetValueType() == config::CVT_NONE) {
            *valueless = true;
        } else {
            shapes[command.GetNameId()] = {command.GetCommandType(), command.GetStatus(), command.GetValueType()};
        }
    });
    // The empty records stand last among key 0's commands, so a valued key 0 keeps its place.
    if (valueless != nullptr && *valueless) shapes.emplace(0, Shape{0, 0xE0FF0001, config::CVT_NONE});
    return shapes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    VELK_DataHandleWrapper message(0x70001, true);
    Build(in, message, 4);
    const config::CConfigBatchCommands parsed(message);
    ReadEverything(parsed);
    VELK_DataHandleWrapper again;
    const uint32_t written = parsed.Serialize(again);
    bool valueless = false;
    const std::map<uint32_t, Shape> expected = Shapes(parsed, &valueless);
    if ((written == 0xE0FF0007) != valueless) __builtin_trap();
    const config::CConfigBatchCommands reparsed(again);
    if (!(Shapes(reparsed) == expected)) __builtin_trap();
    ReadEverything(reparsed);
    return 0;
}
