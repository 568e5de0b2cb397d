// The configuration file's parser, its overrides and the text of the default file.
#include "reference/pellumhost/services/host_configuration.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace pellumhost {
namespace {

constexpr char kDetectorPrefix[] = "detector.";

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool IsDetectorKey(const std::string& name) {
    for (const char* key : {"MinFiles", "WindowSeconds", "LongScore", "HalfLifeSeconds",
                            "MinEntropy", "MinBytes", "Trusted"})
        if (name == key) return true;
    return false;
}

bool ParseCount(const std::string& text, uint32_t low, uint32_t& value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || parsed < low ||
        parsed > 0xFFFFFFFFull)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

}  // namespace

HostConfiguration HostConfiguration::Load(const std::string& path,
                                          std::vector<ConfigurationProblem>& problems) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    // The size is checked before the file is read whole.
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (!in || size < 0 || size > kMaxConfigurationBytes) {
        problems.push_back({0, "", size > kMaxConfigurationBytes
                                       ? "is " + std::to_string(size) + " bytes, more than the " +
                                             std::to_string(kMaxConfigurationBytes) +
                                             " a configuration may hold; the built-in settings are used"
                                       : "cannot be read; the built-in settings are used"});
        HostConfiguration defaults;
        defaults.m_path = path;
        return defaults;
    }
    in.seekg(0);
    std::ostringstream text;
    text << in.rdbuf();
    HostConfiguration loaded = Parse(text.str(), problems);
    loaded.m_path = path;
    return loaded;
}

HostConfiguration HostConfiguration::Parse(const std::string& text,
                                           std::vector<ConfigurationProblem>& problems) {
    HostConfiguration parsed;
    std::istringstream lines(text);
    std::string raw, section = "engine";
    uint32_t number = 0;
    while (std::getline(lines, raw)) {
        ++number;
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[') {
            const std::string name = Trim(line.substr(1, line.find(']') - 1));
            if (line.back() != ']' || (name != "engine" && name != "detector")) {
                problems.push_back({number, name,
                                    "unknown section (known: [engine], [detector]); its lines "
                                    "are ignored"});
                section = "";
            } else {
                section = name;
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            problems.push_back({number, line, "not a 'Name = Value' line; ignored"});
            continue;
        }
        const std::string name = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        if (section.empty()) continue;  // under an unknown section, said once above
        std::string error;
        const bool ok = section == "detector" ? parsed.SetDetector(name, value, error)
                                              : parsed.m_engine.Set(name, value, error);
        if (!ok) problems.push_back({number, name, error + "; the default is kept"});
    }
    return parsed;
}

HostConfiguration HostConfiguration::Reload(std::vector<ConfigurationProblem>& problems) const {
    HostConfiguration fresh = Load(m_path, problems);
    for (const std::string& assignment : m_overrides) {
        std::string error;
        fresh.Override(assignment, error);  // accepted once already
    }
    return fresh;
}

bool HostConfiguration::Override(const std::string& assignment, std::string& error) {
    const size_t equals = assignment.find('=');
    std::string name = assignment.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : assignment.substr(equals + 1);
    bool ok;
    if (name.compare(0, sizeof kDetectorPrefix - 1, kDetectorPrefix) == 0) {
        ok = SetDetector(name.substr(sizeof kDetectorPrefix - 1), value, error);
    } else if (IsDetectorKey(name)) {
        ok = SetDetector(name, value, error);
    } else {
        ok = m_engine.Set(name, value, error);
    }
    if (ok) m_overrides.push_back(assignment);
    return ok;
}

bool HostConfiguration::SetDetector(const std::string& name, const std::string& value,
                                    std::string& error) {
    if (name == "MinFiles" || name == "WindowSeconds" || name == "MinBytes" ||
        name == "HalfLifeSeconds") {
        // A window or half-life past a week would keep an actor's counts for ever.
        const uint32_t high = name == "WindowSeconds" || name == "HalfLifeSeconds" ? 604800u
                                                                                  : 0xFFFFFFFFu;
        uint32_t count = 0;
        if (!ParseCount(value, 1, count) || count > high) {
            error = name + " takes a whole number from 1 to " + std::to_string(high) + ", not '" +
                    value + "'";
            return false;
        }
        (name == "MinFiles" ? m_detector.minFiles
         : name == "WindowSeconds" ? m_detector.windowSeconds
         : name == "HalfLifeSeconds" ? m_detector.halfLifeSeconds
                                     : m_detector.minBytes) = count;
        return true;
    }
    if (name == "MinEntropy" || name == "LongScore") {
        const double high = name == "MinEntropy" ? 8 : 1000000;
        const double low = name == "MinEntropy" ? 0 : 1;
        char* end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !std::isfinite(number) || number < low || number > high) {
            error = name + (name == "MinEntropy" ? " takes bits per byte from 0 to 8"
                                                 : " takes a score from 1 to 1000000") +
                    ", not '" + value + "'";
            return false;
        }
        (name == "MinEntropy" ? m_detector.minEntropy : m_detector.longScore) = number;
        return true;
    }
    if (name == "Trusted") {
        if (value.empty()) return error = "Trusted takes an image path or file name", false;
        m_detector.trustedImages.push_back(value);
        return true;
    }
    error = "unknown key '" + name +
            "' in [detector] (known: MinFiles WindowSeconds LongScore HalfLifeSeconds MinEntropy "
            "MinBytes Trusted)";
    return false;
}

std::string HostConfiguration::Describe(const std::string& path,
                                        const ConfigurationProblem& problem) {
    std::string line = path.empty() ? "configuration" : path;
    if (problem.line != 0) line += " line " + std::to_string(problem.line);
    if (!problem.key.empty()) line += ": '" + problem.key + "'";
    return line + ": " + problem.text;
}

std::string HostConfiguration::DefaultText(const std::string& dbPath, const std::string& logPath) {
    const DetectorSettings defaults;
    char entropy[32];
    std::snprintf(entropy, sizeof entropy, "%.1f", defaults.minEntropy);
    char longScore[32];
    std::snprintf(longScore, sizeof longScore, "%.1f", defaults.longScore);
    return "# Pellumhost configuration. Lines are 'Name = Value'; a line that begins with # or ;\n"
           "# is a comment. The service notices a saved change within a second or so and tells\n"
           "# the plug-in; DbSize, Enable, WorkMode and the quotas apply at once, the rest at\n"
           "# the next start. Command-line --set Name=Value wins over this file.\n"
           "\n"
           "[engine]\n"
           "# The engine's database and its logs (Report.log, ZefEngine.log).\n"
           "DbPath = " + dbPath + "\n"
           "DebugLogPath = " + logPath + "\n"
           "# Database size in MiB, and days a backed-up edition is kept.\n"
           "DbSize = 1024\n"
           "HistoryKeepDays = 21\n"
           "# 0 switches the engine's service of calls off.\n"
           "Enable = 1\n"
           "# Versions kept per process: a rogue process touches many files, and every one of\n"
           "# them must have its version to come back.\n"
           "PerProcessBackupQuota = 100000\n"
           "# Largest file backed up on a process's behalf, in bytes (0: the pattern's value).\n"
           "MaxBackupFileSizePidMode = 67108864\n"
           "# Restore feedback to the host's feedback log (feedback.log): 1 on, 0 off.\n"
           "FeedbackSwitch = 1\n"
           "\n"
           "[detector]\n"
           "# The detector counts what is destroyed, per actor (a process with its parent and\n"
           "# image): content overwritten, truncated, removed, or replaced by a rename. Creating\n"
           "# and renaming files counts nothing. An actor is flagged when it destroys MinFiles\n"
           "# files within WindowSeconds, or when its score reaches LongScore: each file\n"
           "# destroyed adds 1 (2 when a known kind of file turns into random bytes or one\n"
           "# repeated byte), and the score halves every HalfLifeSeconds.\n"
           "MinFiles = " + std::to_string(defaults.minFiles) + "\n"
           "WindowSeconds = " + std::to_string(defaults.windowSeconds) + "\n"
           "LongScore = " + longScore + "\n"
           "HalfLifeSeconds = " + std::to_string(defaults.halfLifeSeconds) + "\n"
           "# New content of no known kind is random bytes from MinEntropy bits per byte, judged\n"
           "# on MinBytes bytes or more.\n"
           "MinEntropy = " + entropy + "\n"
           "MinBytes = " + std::to_string(defaults.minBytes) + "\n"
           "# Processes never flagged, one line each: a full image path, or a file name that\n"
           "# matches in any folder.\n"
           "# Trusted = /usr/bin/rsync\n";
}

}  // namespace pellumhost
