// The host's configuration file: a plain text a person edits. "Name = Value" lines in
// sections; '#' or ';' starts a comment line. [engine] holds the engine's settings that the
// configuration service hands the plug-in (lines before any section belong there too),
// [detector] the rogue-writer detector's thresholds and its trusted processes. An unknown
// section or key, or a bad value, is a problem named by its line; the default is kept.
#pragma once
#include <cstdint>
#include <ios>
#include <string>
#include <vector>

#include "reference/pellumhost/services/host_settings.h"
#include "reference/pellumhost/protection/rogue_detector.h"

namespace pellumhost {

struct ConfigurationProblem {
    uint32_t line = 0;  // 1-based; 0 for a problem of the whole file or of an override
    std::string key;    // the key (or section) concerned, empty when none
    std::string text;   // what is wrong and what was kept
};

// A configuration file larger than this is refused unread: no real one comes near it.
constexpr std::streamoff kMaxConfigurationBytes = 1 << 20;

class HostConfiguration {
public:
    // Built-in settings: the detector's defaults and no engine setting (the plug-in then
    // falls back to its own defaults).
    HostConfiguration() = default;
    // These engine settings, the detector's defaults, no file.
    explicit HostConfiguration(HostSettings engine) : m_engine(std::move(engine)) {}

    // Reads the file at path (UTF-8). An unreadable file gives one problem and the defaults.
    static HostConfiguration Load(const std::string& path, std::vector<ConfigurationProblem>& problems);
    // Parses text as the content of a file.
    static HostConfiguration Parse(const std::string& text, std::vector<ConfigurationProblem>& problems);

    // "Name=Value" given on the command line: an engine setting, or a detector key written as
    // "detector.Name" (a bare MinFiles, WindowSeconds, LongScore, HalfLifeSeconds, MinEntropy,
    // MinBytes or Trusted is taken as one too). Overrides win over the file, also after the file is read again.
    bool Override(const std::string& assignment, std::string& error);

    // The same file read again, with the same overrides on top.
    HostConfiguration Reload(std::vector<ConfigurationProblem>& problems) const;

    // The file as the demo writes it: every key with a comment, the engine's folders in
    // workspace, the per-process quota raised for the demo's few processes.
    static std::string DefaultText(const std::string& dbPath, const std::string& logPath);

    const std::string& Path() const { return m_path; }
    const HostSettings& Engine() const { return m_engine; }
    const DetectorSettings& Detector() const { return m_detector; }

    // A problem as one log line: "<file> line 7: key 'Foo': unknown key; ignored".
    static std::string Describe(const std::string& path, const ConfigurationProblem& problem);

private:
    bool SetDetector(const std::string& name, const std::string& value, std::string& error);

    std::string m_path;
    HostSettings m_engine;
    DetectorSettings m_detector;
    std::vector<std::string> m_overrides;
};

}  // namespace pellumhost
