// Path variables: the load-time table, the expansion rules, and where the install path
// comes from when the registry or the process image disappoints.
#include "util/path_variables.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/environment.h"
#include "platform/module.h"
#include "tests/fakes/captured_log.h"

namespace {

using util::ExpandPathVariables;
using util::PathVariableTable;

const std::u16string kSep(1, platform::kPathSeparator);

// Sources that answer as a test wants and note each value asked for, in order.
std::vector<std::u16string> g_asked;
std::u16string FakeInstall() {
    g_asked.push_back(u"install path");
    return u"C:\\VELK\\";
}
std::u16string Nothing() { return u""; }  // an install path or folder that cannot be found
std::u16string FakeEnvironment(const char16_t* name) {
    g_asked.push_back(name);
    const std::u16string text(name);
    return text == u"%TEMP%" ? u"T:\\tmp" : text == u"%TMP%" ? u"U:\\tmp" : text;
}
std::u16string FakeAppData() {
    g_asked.push_back(u"application data");
    return u"C:\\ProgramData";
}

PathVariableTable Table(std::u16string (*install)() = FakeInstall,
                        std::u16string (*appData)() = FakeAppData) {
    return util::BuildPathVariableTable({install, FakeEnvironment, appData});
}

// The table's 29 entries, computed in the table's order: the install path, the environment
// (an undefined variable keeps its name; a defined one's value is expanded by the rules below),
// then the five folders under the application data folder, from that folder alone.
TEST(PathVariableTable, HoldsTheTwentyNineEntriesComputedInOrder) {
    g_asked.clear();
    const PathVariableTable table = Table();
    const std::vector<std::u16string> expected = {
        u"install path", u"%ALLUSERSPROFILE%", u"application data", u"%COMPUTERNAME%",
        u"%COMSPEC%", u"%HOMEDRIVE%", u"%HOMEPATH%", u"%PATH%", u"%PATHEXT%", u"%PROGRAMFILES%",
        u"%PROMPT%", u"%SYSTEMDRIVE%", u"%SYSTEMROOT%", u"%TEMP%", u"%TMP%", u"%USERNAME%",
        u"%USERPROFILE%", u"%WINDIR%", u"%PROCESSOR_ARCHITECTURE%", u"%PROCESSOR_IDENTIFIER%",
        u"%PROCESSOR_LEVEL%", u"%PROCESSOR_REVISION%", u"%NUMBER_OF_PROCESSORS%", u"%OS%"};
    ASSERT_GE(g_asked.size(), expected.size());
    EXPECT_EQ(std::vector<std::u16string>(g_asked.begin(), g_asked.begin() + expected.size()), expected);
    for (size_t i = expected.size(); i < g_asked.size(); ++i) EXPECT_EQ(g_asked[i], u"application data") << i;
    EXPECT_EQ(table.size(), 29u);
    EXPECT_EQ(table.at(u"%velk_install_path%"), u"C:\\VELK\\");
    EXPECT_EQ(table.at(u"%APPDATA%"), u"C:\\ProgramData") << "the folder, not the variable";
    EXPECT_EQ(table.at(u"%OS%"), u"%OS%");
    EXPECT_EQ(table.at(u"%velk_virus_path%"),
              u"C:\\ProgramData" + kSep + u"Orvane" + kSep + u"VELK" + kSep + u"temp" + kSep + u"virus" + kSep);
    const PathVariableTable bare = Table(Nothing, Nothing);
    EXPECT_EQ(bare.at(u"%orvane_data_path%"), kSep + u"Orvane" + kSep);
    EXPECT_EQ(bare.at(u"%velk_quarantine_path%"), kSep + u"Orvane" + kSep + u"VELK" + kSep + u"quarantine" + kSep);
}

TEST(PathVariableTable, ModuleTableWasBuiltAtLoad) {
    const PathVariableTable& table = util::ModulePathVariables();
    EXPECT_EQ(table.at(u"%APPDATA%"), platform::CommonAppDataFolder());
    EXPECT_EQ(table.at(u"%velk_data_path%"),
              platform::CommonAppDataFolder() + kSep + u"Orvane" + kSep + u"VELK" + kSep);
    EXPECT_NE(table.at(u"%PATH%"), u"%PATH%") << "PATH is set wherever the tests run";
    EXPECT_EQ(util::EnvironmentValue(u"%PEZ_NO_SUCH_VARIABLE_4711%"), u"%PEZ_NO_SUCH_VARIABLE_4711%");
}

TEST(PathVariables, ExpansionRules) {
    const PathVariableTable table = Table();
    const PathVariableTable noInstall = Table(Nothing);
    const std::u16string temp = u"C:\\ProgramData" + kSep + u"Orvane" + kSep + u"VELK" + kSep +
                                u"temp" + kSep;
    const struct {
        const char* why;
        std::u16string input;
        bool unescape;
        const PathVariableTable* table;
        std::u16string output;
        int result;
    } cases[] = {
        {"variable then text", u"%velk_temp_path%db", true, &table, temp + u"db", 1},
        {"unknown variable stays", u"%NOSUCH%\\x", true, &table, u"%NOSUCH%\\x", 1},
        {"doubled sign unescaped", u"50%%", true, &table, u"50%", 1},
        {"doubled sign kept", u"50%%", false, &table, u"50%%", 1},
        {"unpaired sign", u"a%b", true, &table, u"a%b", 0},
        {"no sign at all", u"C:\\plain", true, &table, u"C:\\plain", 1},
        {"names are case-sensitive", u"%temp%\\x", true, &table, u"%temp%\\x", 1},
        {"empty value removes the token", u"%velk_install_path%Zef.dll", true, &noInstall,
         u"Zef.dll", 0},
        {"trailing unpaired sign", u"%TEMP%\\x%", true, &table, u"%TEMP%\\x%", 0},
        {"lone sign", u"%", true, &table, u"%", 0},
        {"adjacent variables", u"%TEMP%%TMP%", true, &table, u"T:\\tmpU:\\tmp", 1},
        {"mixed", u"x%%y%TEMP%z", true, &table, u"x%yT:\\tmpz", 1},
        {"empty input", u"", true, &table, u"", 1},
        {"a sign after a closed token opens nothing", u"%a%b", true, &table, u"%a%b", 1},
        {"three signs: the third is unpaired", u"%%%", true, &table, u"%%%", 0},
        {"four signs: two doubled signs", u"%%%%", true, &table, u"%%", 1},
    };
    for (const auto& c : cases) {
        std::u16string output = u"stale", inPlace = c.input;
        EXPECT_EQ(ExpandPathVariables(c.input, output, c.unescape, *c.table), c.result) << c.why;
        EXPECT_EQ(output, c.output) << c.why;
        EXPECT_EQ(ExpandPathVariables(inPlace, inPlace, c.unescape, *c.table), c.result) << c.why;
        EXPECT_EQ(inPlace, c.output) << c.why << ": in place";
    }
}

// A registry and a process image as a test wants them; the last error is always 0x7a.
class ScriptedProbe final : public util::InstallPathProbe {
public:
    ScriptedProbe(int32_t open, int32_t query, std::u16string registryValue, std::u16string imagePath)
        : openResult(open), queryResult(query), value(std::move(registryValue)), image(std::move(imagePath)) {}
    const int32_t openResult, queryResult;
    const std::u16string value, image;

    int32_t OpenKey(platform::RegKey&, const char16_t*, uint32_t) const override { return openResult; }
    int32_t QueryValue(const platform::RegKey&, const char16_t*,
                       std::u16string& out) const override {
        if (queryResult == 0) out = value;
        return queryResult;
    }
    uint32_t ProcessImage(char16_t* buffer, uint32_t capacity) const override {
        if (image.empty() || image.size() >= capacity) return 0;
        image.copy(buffer, image.size());
        buffer[image.size()] = u'\0';
        return static_cast<uint32_t>(image.size());
    }
    uint32_t LastError() const override { return 0x7A; }
};

const std::u16string kHostFolder = kSep + u"opt" + kSep + u"velk" + kSep;

// The install path comes from the registry when it has it; else from the folder of the host's
// image when the image is the host's; else it is empty. Each failed step writes its line.
TEST(InstallPath, ComesFromTheRegistryOrTheHostImageFolder) {
    const CapturedLine noKey{5, 96, "util_EnvironmentVar",
                             "regKey.Open() fail!\nopen  HKEY_LOCAL_MACHINE  fail!\nkey =SOFTWARE\\Orvane\\VELK"};
    const CapturedLine noValue{5, 88, "util_EnvironmentVar",
                               "regKey.QueryValue() fail!\nkey =SOFTWARE\\Orvane\\VELK,wstrItemName =InstallDir"};
    const std::u16string host = kHostFolder + platform::kHostImageName;
    const struct {
        const char* why;
        int32_t open, query;
        std::u16string value, image, result;
        std::vector<CapturedLine> lines;
    } cases[] = {
        {"in the registry", 0, 0, u"D:\\VELK\\", host, u"D:\\VELK\\", {}},
        {"key missing", 2, 0, u"", host, kHostFolder, {noKey}},
        {"value missing", 0, 2, u"", host, kHostFolder, {noValue}},
        {"value empty", 0, 0, u"", host, kHostFolder, {noValue}},
        {"image of another program", 2, 0, u"", kHostFolder + u"other", u"", {noKey}},
        {"image shorter than the name", 2, 0, u"", u"x", u"", {noKey}},
        {"no image", 2, 0, u"", u"", u"",
         {noKey, {5, 105, "util_EnvironmentVar", "Failed to call GetModuleFileName. GetLastError(): 0x7a"}}},
    };
    for (const auto& c : cases) {
        StartLogCapture();
        EXPECT_EQ(util::GetInstallPath(ScriptedProbe(c.open, c.query, c.value, c.image)), c.result) << c.why;
        EXPECT_EQ(CapturedLines(u"Util COMMON"), c.lines) << c.why;
    }
}

}  // namespace
