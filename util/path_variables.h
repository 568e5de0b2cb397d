// Path variables: %velk_data_path%, %TEMP% and the other 27 names that path settings may hold.
// Their values are worked out once, when the module is loaded, into a read-only table; paths
// are expanded against that table only, never against the live environment.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "platform/registry.h"

namespace util {

// Names (with both percent signs, case-sensitive) to values, in the module's load-time state.
using PathVariableTable = std::map<std::u16string, std::u16string>;

// Where the table's values come from; the system's by default, a test's own in tests.
struct PathVariableSources {
    std::u16string (*installPath)();
    std::u16string (*environmentValue)(const char16_t* name);  // the name itself when undefined
    std::u16string (*commonAppData)();
};
const PathVariableSources& SystemPathVariableSources();

// The 29 entries, computed in table order.
PathVariableTable BuildPathVariableTable(const PathVariableSources& sources);

// The table built while the module loaded.
const PathVariableTable& ModulePathVariables();

// Replaces every known %name% of input by its value, walking from the last to the first; with
// unescape, "%%" becomes "%". Returns 1, or 0 when a "%" is unpaired (output = input, nothing
// replaced) or a variable with an empty value was used (that token is still removed). Input
// and output may be the same string.
int ExpandPathVariables(const std::u16string& input, std::u16string& output, bool unescape,
                        const PathVariableTable& table = ModulePathVariables());

// What the install path is read from: the registry and the process image, replaceable in tests.
class InstallPathProbe {
public:
    virtual ~InstallPathProbe() = default;
    virtual int32_t OpenKey(platform::RegKey& key, const char16_t* subkey, uint32_t access) const;
    virtual int32_t QueryValue(const platform::RegKey& key, const char16_t* name,
                               std::u16string& value) const;
    virtual uint32_t ProcessImage(char16_t* buffer, uint32_t capacity) const;
    virtual uint32_t LastError() const;
};

// "InstallDir" of HKLM\SOFTWARE\Orvane\VELK, or else the folder of the host service's image
// (with its trailing separator), or empty; failures are told in diagnostic lines.
std::u16string GetInstallPath(const InstallPathProbe& probe = InstallPathProbe());

// The all-users application data folder; empty when unavailable.
std::u16string GetCommonAppDataFolder();

// ExpandEnvironmentStringsW of the name into 260 units; the name itself when that fails.
std::u16string EnvironmentValue(const char16_t* name);

}  // namespace util
