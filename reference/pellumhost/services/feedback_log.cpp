// The feedback log and its decoders: a small protocol-buffer reader driven by a table of the
// restore feedback's messages, and the boot result record's fields.
#include "reference/pellumhost/services/feedback_log.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "host/result_codes.h"
#include "platform/text.h"
#include "reference/pellumhost/utc_text.h"

namespace pellumhost {
namespace {

// A time field of a record: 0 when it was never set.
std::string TimeText(uint64_t seconds) { return seconds == 0 ? "0" : UtcText(seconds); }

constexpr size_t kMaxFeedbackBytes = 1 << 20;  // the plug-in sends at most 4096
constexpr uint32_t kMaxBootResults = 65536;
constexpr size_t kMaxTagBytes = 64;
constexpr int kMaxDepth = 8;

enum class Kind { kNumber, kSigned, kCode, kTime, kMilliseconds, kText, kDigest, kMessage };

struct MessageSpec;
struct FieldSpec {
    uint32_t number;
    const char* name;
    Kind kind;
    const MessageSpec* child;
};
struct MessageSpec {
    const char* name;
    std::vector<FieldSpec> fields;
};

const MessageSpec kHeader{"Header",
                          {{1, "RequestTime", Kind::kTime, nullptr},
                           {2, "TimeZone", Kind::kSigned, nullptr},
                           {3, "Constant", Kind::kNumber, nullptr},
                           {4, "ZEFVersion", Kind::kText, nullptr}}};
const MessageSpec kTarget{"Target",
                          {{1, "FileName", Kind::kText, nullptr},
                           {2, "FileType", Kind::kText, nullptr},
                           {3, "VirusName", Kind::kText, nullptr},
                           {4, "VirusType", Kind::kText, nullptr}}};
const MessageSpec kOutcome{"Outcome",
                           {{1, "Result", Kind::kCode, nullptr},
                            {2, "Reboot", Kind::kNumber, nullptr},
                            {3, "TimeConsumed", Kind::kMilliseconds, nullptr}}};
const MessageSpec kEditionUsed{"EditionUsed",
                               {{1, "IndexFromNewToOld", Kind::kNumber, nullptr},
                                {2, "Signature", Kind::kText, nullptr},
                                {3, "Digest", Kind::kDigest, nullptr},
                                {4, "Size", Kind::kNumber, nullptr},
                                {5, "Subject", Kind::kText, nullptr},
                                {6, "Operation", Kind::kNumber, nullptr},
                                {7, "TimeStamp", Kind::kTime, nullptr}}};
const MessageSpec kPurgeStat{"PurgeStat",
                             {{1, "PurgedEditions", Kind::kNumber, nullptr},
                              {2, "FirstCreateTime", Kind::kTime, nullptr},
                              {3, "FirstPurgeTime", Kind::kTime, nullptr},
                              {4, "LastCreateTime", Kind::kTime, nullptr},
                              {5, "LastPurgeTime", Kind::kTime, nullptr}}};
const MessageSpec kEditions{"Editions",
                            {{1, "ValidEditions", Kind::kNumber, nullptr},
                             {2, "SkippedEditions", Kind::kNumber, nullptr},
                             {3, "EditionUsed", Kind::kMessage, &kEditionUsed},
                             {4, "PurgeStat", Kind::kMessage, &kPurgeStat}}};
const MessageSpec kRestoreFeedback{"RestoreFeedback",
                                   {{1, "Header", Kind::kMessage, &kHeader},
                                    {2, "Target", Kind::kMessage, &kTarget},
                                    {3, "Outcome", Kind::kMessage, &kOutcome},
                                    {4, "Editions", Kind::kMessage, &kEditions}}};

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

// Reads a protocol-buffer message; every read is bounded by the end.
class Reader {
public:
    Reader(const uint8_t* at, const uint8_t* end) : m_at(at), m_end(end) {}
    bool AtEnd() const { return m_at == m_end; }
    size_t Offset(const uint8_t* base) const { return static_cast<size_t>(m_at - base); }

    bool Varint(uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (m_at == m_end) return false;
            const uint8_t byte = *m_at++;
            value |= uint64_t{byte & 0x7Fu} << shift;
            if ((byte & 0x80) == 0) return true;
        }
        return false;
    }
    bool Bytes(const uint8_t*& data, size_t& length) {
        uint64_t size = 0;
        if (!Varint(size) || size > static_cast<uint64_t>(m_end - m_at)) return false;
        data = m_at;
        length = static_cast<size_t>(size);
        m_at += length;
        return true;
    }
    bool Skip(uint32_t wireType) {
        uint64_t ignored = 0;
        const uint8_t* data = nullptr;
        size_t length = 0;
        switch (wireType) {
            case 0: return Varint(ignored);
            case 1: return Advance(8);
            case 2: return Bytes(data, length);
            case 5: return Advance(4);
            default: return false;
        }
    }

private:
    bool Advance(size_t count) {
        if (static_cast<size_t>(m_end - m_at) < count) return false;
        m_at += count;
        return true;
    }
    const uint8_t* m_at;
    const uint8_t* m_end;
};

std::string Value(const FieldSpec& field, uint64_t number) {
    switch (field.kind) {
        case Kind::kSigned: return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(number)));
        case Kind::kCode: return Hex32(static_cast<uint32_t>(number));
        case Kind::kTime: return TimeText(number);
        case Kind::kMilliseconds: return std::to_string(number) + " ms";
        default: return std::to_string(number);
    }
}

// Decodes one message into text at the given indentation; false with the reason in error.
bool DecodeMessage(const MessageSpec& spec, const uint8_t* base, const uint8_t* at,
                   const uint8_t* end, int depth, std::string& text, std::string& error) {
    Reader reader(at, end);
    const std::string indent(static_cast<size_t>(depth) * 2 + 2, ' ');
    while (!reader.AtEnd()) {
        const size_t where = reader.Offset(base);
        uint64_t key = 0;
        if (!reader.Varint(key) || (key >> 3) == 0 || (key >> 3) > 0x0FFFFFFF) {
            error = "a bad field key at byte " + std::to_string(where) + " of " + spec.name;
            return false;
        }
        const uint32_t number = static_cast<uint32_t>(key >> 3), wireType = key & 7;
        const FieldSpec* field = nullptr;
        for (const FieldSpec& f : spec.fields)
            if (f.number == number) field = &f;
        const bool lengthDelimited = field != nullptr && (field->kind == Kind::kText ||
                                                          field->kind == Kind::kDigest ||
                                                          field->kind == Kind::kMessage);
        if (field == nullptr || wireType != (lengthDelimited ? 2u : 0u)) {
            if (!reader.Skip(wireType)) {
                error = "field " + std::to_string(number) + " of " + spec.name +
                        " runs past the end at byte " + std::to_string(where);
                return false;
            }
            text += indent + "field " + std::to_string(number) + " (wire type " +
                    std::to_string(wireType) + "): not part of " + spec.name + "; skipped\n";
            continue;
        }
        if (!lengthDelimited) {
            uint64_t value = 0;
            if (!reader.Varint(value)) {
                error = std::string(field->name) + " runs past the end at byte " + std::to_string(where);
                return false;
            }
            text += indent + field->name + ": " + Value(*field, value) + "\n";
            continue;
        }
        const uint8_t* data = nullptr;
        size_t length = 0;
        if (!reader.Bytes(data, length)) {
            error = std::string(field->name) + " is longer than what is left, at byte " +
                    std::to_string(where);
            return false;
        }
        if (field->kind == Kind::kText) {
            text += indent + field->name + ": \"" +
                    std::string(reinterpret_cast<const char*>(data), length) + "\"\n";
        } else if (field->kind == Kind::kDigest) {
            std::string digest;
            char part[3];
            for (size_t i = 0; i < length; ++i) {
                std::snprintf(part, sizeof part, "%02x", data[i]);
                digest += part;
            }
            text += indent + field->name + ": " + (digest.empty() ? "none" : digest) + "\n";
        } else {
            if (depth >= kMaxDepth) {
                error = "messages nested too deep";
                return false;
            }
            text += indent + field->name + "\n";
            if (!DecodeMessage(*field->child, base, data, data + length, depth + 1, text, error))
                return false;
        }
    }
    return true;
}

std::string NowText() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return UtcText(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count()));
}

}  // namespace

bool DecodeRestoreFeedback(const uint8_t* bytes, size_t length, std::string& text) {
    if (bytes == nullptr && length != 0) return text += "  no bytes\n", false;
    std::string error;
    if (DecodeMessage(kRestoreFeedback, bytes, bytes, bytes + length, 0, text, error)) return true;
    text += "  malformed: " + error + "; the rest is not decoded\n";
    return false;
}

std::string DescribeBootResult(const velk::BootResultRecord& record) {
    char16_t name[65];
    std::memcpy(name, record.name, sizeof name);
    name[64] = u'\0';
    return "\"" + platform::ToUtf8(name) + "\" at " + TimeText(record.time) + ", value " +
           std::to_string(record.value) + ", status " + Hex32(record.status) +
           (record.status == 0x20360001 ? " (succeeded)" : " (failed, engine code " +
                                                               std::to_string(record.status & 0xFFFF) + ")");
}

bool FeedbackLog::Open(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file != nullptr) std::fclose(m_file);
    m_file = std::fopen(path.c_str(), "ab");
    m_path = m_file != nullptr ? path : std::string();
    m_entries = 0;
    return m_file != nullptr;
}

void FeedbackLog::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file != nullptr) std::fclose(m_file);
    m_file = nullptr;
}

size_t FeedbackLog::Entries() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_entries;
}

uint32_t FeedbackLog::RecordFeedback(const velk::RestoreFeedbackRequest& request,
                                     std::string& entry) {
    if ((request.bytes == nullptr && request.length != 0) || request.length > kMaxFeedbackBytes)
        return velk::kBadArgument;
    const std::string tag = request.tag != nullptr
                                ? std::string(request.tag, strnlen(request.tag, kMaxTagBytes))
                                : std::string("no tag");
    entry = "restore feedback (" + tag + "), " + std::to_string(request.length) + " bytes\n";
    if (!DecodeRestoreFeedback(request.bytes, static_cast<size_t>(request.length), entry))
        return velk::kBadArgument;
    return velk::kSuccess;
}

uint32_t FeedbackLog::RecordBootResults(const velk::BootResultsRequest& request,
                                        std::string& entry) {
    if (request.records == nullptr || request.count == 0 || request.count > kMaxBootResults)
        return velk::kBadArgument;
    entry = "boot results, " + std::to_string(request.count) + "\n";
    for (uint32_t i = 0; i < request.count; ++i) {
        const velk::BootResultRecord& record = request.records[i];
        if (record.recordSize != sizeof(velk::BootResultRecord)) {
            entry += "  record " + std::to_string(i) + ": size word " +
                     std::to_string(record.recordSize) + ", not 648; the rest is not read\n";
            return velk::kBadArgument;
        }
        entry += "  " + DescribeBootResult(record) + "\n";
    }
    return velk::kSuccess;
}

uint32_t FeedbackLog::Record(uint32_t functionId, const void* input) {
    if (functionId != velk::kFnPostRestoreFeedback && functionId != velk::kFnSendBootResults)
        return velk::kNotHandled;
    if (input == nullptr) return velk::kBadArgument;
    std::string entry;
    const uint32_t result =
        functionId == velk::kFnPostRestoreFeedback
            ? RecordFeedback(*static_cast<const velk::RestoreFeedbackRequest*>(input), entry)
            : RecordBootResults(*static_cast<const velk::BootResultsRequest*>(input), entry);
    if (entry.empty()) entry = "a malformed request to function " + Hex32(functionId) + "\n";
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file == nullptr) return result;
    const std::string text = NowText() + " " + entry;
    std::fwrite(text.data(), 1, text.size(), m_file);
    std::fflush(m_file);
    ++m_entries;
    return result;
}

}  // namespace pellumhost
