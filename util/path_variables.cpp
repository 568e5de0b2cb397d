// Path variables: the load-time table, the install path and the expansion of paths.
#include "util/path_variables.h"

#include <utility>
#include <vector>

#include "platform/environment.h"
#include "platform/module.h"
#include "util/diag_log.h"

namespace util {
namespace {

constexpr DiagSite kDiag{u"Util COMMON", u"util_EnvironmentVar"};
constexpr char16_t kInstallKey[] = u"SOFTWARE\\Orvane\\VELK";
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kBufferUnits = 260;

// The environment entries, 2 and 4 to 24 of the table (3 is the application data folder).
constexpr const char16_t* kEnvironmentNames[] = {
    u"%COMPUTERNAME%",  u"%COMSPEC%",      u"%HOMEDRIVE%",     u"%HOMEPATH%",
    u"%PATH%",          u"%PATHEXT%",      u"%PROGRAMFILES%",  u"%PROMPT%",
    u"%SYSTEMDRIVE%",   u"%SYSTEMROOT%",   u"%TEMP%",          u"%TMP%",
    u"%USERNAME%",      u"%USERPROFILE%",  u"%WINDIR%",        u"%PROCESSOR_ARCHITECTURE%",
    u"%PROCESSOR_IDENTIFIER%", u"%PROCESSOR_LEVEL%", u"%PROCESSOR_REVISION%",
    u"%NUMBER_OF_PROCESSORS%", u"%OS%",
};

// "<sep>Orvane<sep>VELK<sep>temp<sep>" and its kin, with the platform's separator.
std::u16string Folders(std::initializer_list<const char16_t*> names) {
    std::u16string path(1, platform::kPathSeparator);
    for (const char16_t* name : names) {
        path += name;
        path += platform::kPathSeparator;
    }
    return path;
}

std::u16string SystemInstallPath() { return GetInstallPath(); }

// Built during module initialisation, before any export can run; read-only afterwards.
const PathVariableTable g_moduleTable = BuildPathVariableTable(SystemPathVariableSources());

}  // namespace

std::u16string EnvironmentValue(const char16_t* name) {
    char16_t buffer[kBufferUnits] = {};
    if (platform::ExpandEnvironment(name, buffer, kBufferUnits) == 0) return name;
    return buffer;
}

std::u16string GetCommonAppDataFolder() { return platform::CommonAppDataFolder(); }

const PathVariableSources& SystemPathVariableSources() {
    static const PathVariableSources sources{SystemInstallPath, EnvironmentValue,
                                             GetCommonAppDataFolder};
    return sources;
}

PathVariableTable BuildPathVariableTable(const PathVariableSources& sources) {
    std::vector<std::pair<std::u16string, std::u16string>> entries;
    entries.emplace_back(u"%velk_install_path%", sources.installPath());
    entries.emplace_back(u"%ALLUSERSPROFILE%", sources.environmentValue(u"%ALLUSERSPROFILE%"));
    const std::u16string appData = sources.commonAppData();
    entries.emplace_back(u"%APPDATA%", appData);
    for (const char16_t* name : kEnvironmentNames) {
        entries.emplace_back(name, sources.environmentValue(name));
    }
    entries.emplace_back(u"%orvane_data_path%", appData + Folders({u"Orvane"}));
    entries.emplace_back(u"%velk_data_path%", appData + Folders({u"Orvane", u"VELK"}));
    entries.emplace_back(u"%velk_temp_path%", appData + Folders({u"Orvane", u"VELK", u"temp"}));
    entries.emplace_back(u"%velk_quarantine_path%",
                         appData + Folders({u"Orvane", u"VELK", u"quarantine"}));
    entries.emplace_back(u"%velk_virus_path%",
                         appData + Folders({u"Orvane", u"VELK", u"temp", u"virus"}));
    return PathVariableTable(entries.begin(), entries.end());
}

const PathVariableTable& ModulePathVariables() { return g_moduleTable; }

int ExpandPathVariables(const std::u16string& in, std::u16string& output, bool unescape,
                        const PathVariableTable& table) {
    const std::u16string input = in;  // output may be the input itself
    output = input;
    struct Token {
        size_t open;
        size_t close;
    };
    std::vector<Token> tokens;
    size_t open = input.find(u'%');
    if (open == std::u16string::npos) return 1;
    for (;;) {
        const size_t close = open + 1 < input.size() ? input.find(u'%', open + 1)
                                                     : std::u16string::npos;
        if (close == std::u16string::npos) return 0;  // unterminated: nothing is replaced
        tokens.push_back({open, close});
        if (close + 1 >= input.size()) break;
        open = input.find(u'%', close + 1);
        if (open == std::u16string::npos) break;
    }

    int result = 1;
    for (auto token = tokens.rbegin(); token != tokens.rend(); ++token) {
        const size_t length = token->close - token->open + 1;
        if (length == 2) {
            if (unescape) output.replace(token->open, 2, u"%");
            continue;
        }
        const auto found = table.find(input.substr(token->open, length));
        if (found == table.end()) continue;
        output.replace(token->open, length, found->second);
        if (found->second.empty()) result = 0;
    }
    return result;
}

int32_t InstallPathProbe::OpenKey(platform::RegKey& key, const char16_t* subkey,
                                  uint32_t access) const {
    return key.Open(platform::RegistryRoot::kLocalMachine, subkey, access);
}

int32_t InstallPathProbe::QueryValue(const platform::RegKey& key, const char16_t* name,
                                     std::u16string& value) const {
    return key.QueryValue(name, value);
}

uint32_t InstallPathProbe::ProcessImage(char16_t* buffer, uint32_t capacity) const {
    return platform::ProcessImageFileName(buffer, capacity);
}

uint32_t InstallPathProbe::LastError() const { return platform::LastErrorCode(); }

std::u16string GetInstallPath(const InstallPathProbe& probe) {
    std::u16string result;
    platform::RegKey key;
    if (probe.OpenKey(key, kInstallKey, kKeyRead) == 0) {
        if (probe.QueryValue(key, u"InstallDir", result) == 0 && !result.empty()) return result;
        kDiag.Write(kDiagError, 88, u"regKey.QueryValue() fail!\n", "key =", kInstallKey,
                    ",wstrItemName =", u"InstallDir");
    } else {
        kDiag.Write(kDiagError, 96, u"regKey.Open() fail!\n", "open  HKEY_LOCAL_MACHINE  fail!",
                    u"\n", "key =", kInstallKey);
    }
    result.clear();

    char16_t image[kBufferUnits] = {};
    if (probe.ProcessImage(image, kBufferUnits) == 0) {
        kDiag.Write(kDiagError, 105, u"Failed to call GetModuleFileName. GetLastError(): ",
                    probe.LastError());
        return result;
    }
    const std::u16string path(image);
    const std::u16string hostImage(platform::kHostImageName);
    if (path.size() < hostImage.size()) return result;
    const size_t found = path.rfind(hostImage);
    if (found != std::u16string::npos) result = path.substr(0, found);
    return result;
}

}  // namespace util
