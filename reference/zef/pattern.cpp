// Reading and writing the pattern file.
#include "reference/zef/pattern.h"

#include <algorithm>
#include <sstream>

#include "platform/text.h"
#include "reference/zef/content_digest.h"
#include "reference/zef/engine_text.h"

namespace zef {
namespace {

constexpr char kHeader[] = "ZEF-PATTERN 1";
constexpr uint64_t kMaxPatternBytes = 1u << 20;

std::string Hex(const Digest& digest) { return platform::ToUtf8(DigestText(digest)); }

bool ParseNumber(std::istringstream& in, uint32_t& value) {
    uint64_t number = 0;
    if (!(in >> number) || number > UINT32_MAX) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

bool ParseBody(const std::string& body, Pattern& pattern, std::u16string& reason) {
    std::istringstream lines(body);
    std::string line;
    if (!std::getline(lines, line) || line != kHeader) {
        reason = u"it does not begin with its header";
        return false;
    }
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::string key;
        in >> key;
        bool ok = true;
        if (key == "disabled") {
            uint32_t flag = 0;
            ok = ParseNumber(in, flag) && flag <= 1;
            pattern.disabled = flag == 1;
        } else if (key == "max-file-size") {
            ok = ParseNumber(in, pattern.maxFileSize);
        } else if (key == "max-file-size-pid") {
            ok = ParseNumber(in, pattern.maxFileSizePid);
        } else if (key == "policy") {
            PolicyEntry entry;
            ok = ParseNumber(in, entry.type) && ParseNumber(in, entry.subtype) &&
                 ParseNumber(in, entry.valueType);
            if (ok && IsNumericValueType(entry.valueType)) {
                ok = ParseNumber(in, entry.number);
            } else if (ok) {
                std::string rest;
                std::getline(in, rest);
                if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
                std::istringstream texts(rest);
                std::string text;
                while (std::getline(texts, text, '|')) entry.texts.push_back(platform::FromUtf8(text));
            }
            pattern.policies.push_back(std::move(entry));
        } else {
            ok = false;
        }
        if (!ok) {
            reason = u"a line cannot be read: " + platform::FromUtf8(line.substr(0, 80));
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsNumericValueType(uint32_t valueType) { return valueType == 4 || valueType == 8; }

PatternLoad LoadPattern(const FileTable& files, const std::u16string& folder, Pattern& pattern,
                        std::u16string& reason) {
    pattern = Pattern();
    const std::u16string path = JoinPath(folder, u"zef.ptn");
    std::vector<std::u16string> names;
    if (folder.empty() || !files.listFiles(folder.c_str(), names) ||
        std::find(names.begin(), names.end(), u"zef.ptn") == names.end())
        return PatternLoad::kBuiltIn;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(files, path, kMaxPatternBytes, bytes)) {
        reason = u"it cannot be read";
        return PatternLoad::kCorrupt;
    }
    const std::string text(bytes.begin(), bytes.end());
    const size_t seal = text.rfind("sha1 ");
    if (seal == std::string::npos || (seal != 0 && text[seal - 1] != '\n')) {
        reason = u"it has no seal";
        return PatternLoad::kCorrupt;
    }
    const std::string body = text.substr(0, seal);
    std::string written = text.substr(seal + 5);
    while (!written.empty() && (written.back() == '\n' || written.back() == '\r')) written.pop_back();
    if (written != Hex(DigestOf(body.data(), body.size()))) {
        reason = u"its seal does not match its content";
        return PatternLoad::kCorrupt;
    }
    if (!ParseBody(body, pattern, reason)) {
        pattern = Pattern();
        return PatternLoad::kCorrupt;
    }
    return PatternLoad::kLoaded;
}

std::string PatternText(const Pattern& pattern) {
    std::ostringstream body;
    body << kHeader << "\n"
         << "disabled " << (pattern.disabled ? 1 : 0) << "\n"
         << "max-file-size " << pattern.maxFileSize << "\n"
         << "max-file-size-pid " << pattern.maxFileSizePid << "\n";
    for (const PolicyEntry& entry : pattern.policies) {
        body << "policy " << entry.type << " " << entry.subtype << " " << entry.valueType << " ";
        if (IsNumericValueType(entry.valueType)) {
            body << entry.number;
        } else {
            for (size_t i = 0; i < entry.texts.size(); ++i)
                body << (i == 0 ? "" : "|") << platform::ToUtf8(entry.texts[i]);
        }
        body << "\n";
    }
    const std::string text = body.str();
    return text + "sha1 " + Hex(DigestOf(text.data(), text.size())) + "\n";
}

}  // namespace zef
