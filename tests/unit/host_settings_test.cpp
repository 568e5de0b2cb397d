// The reference host's configuration service: settings by name, and answers by key.
#include "reference/pellumhost/services/host_settings.h"

#include <gtest/gtest.h>

#include "config/config_batch.h"

namespace {

TEST(HostSettings, NamesAndValuesAreCheckedAndReadBackAsTextOnlyWhenHeld) {
    pellumhost::HostSettings settings;
    const struct {
        const char* line;
        const char* error;  // null: accepted
    } sets[] = {
        {"DbPath=/srv/\xc3\xa9t\xc3\xa9 db", nullptr}, {"DbSize=0", nullptr},
        {"Enable=on", nullptr},                         {"HistoryKeepDays=0", nullptr},
        {"PerProcessBackupQuota=1000000", nullptr},     {"HistoryKeepDays=x", "whole number"},
        {"DbSize=twelve", "whole number"},              {"NoSuchSetting=1", "unknown setting"},
        {"Enable", ""},  // a number needs its value
        // Values that would erase history or mean nothing are refused with their range.
        {"DbSize=4194305", "0 sets no limit"},          {"DbSize=-3", "from 0 to 4194304"},
        {"HistoryKeepDays=-1", "0 keeps editions"},     {"WorkMode=2", "from 0 to 1"},
        {"MaxBackupFileSize=2147483648", "to 2147483647"},
    };
    for (const auto& set : sets) {
        std::string error;
        EXPECT_EQ(settings.Set(set.line, error), set.error == nullptr) << set.line;
        if (set.error != nullptr) {
            EXPECT_NE(error.find(set.error), std::string::npos) << set.line << ": " << error;
        }
    }
    const std::pair<const char*, const char*> rows[] = {
        {"DbPath", "/srv/\xc3\xa9t\xc3\xa9 db"}, {"DbSize", "0"}, {"Enable", "1"},
        {"PerProcessBackupQuota", "1000000"}, {"HistoryKeepDays", "0"}, {"DebugLogPath", ""},
        {"NoSuchSetting", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(settings.ValueOf(row.first), row.second) << row.first;
}

TEST(HostSettings, QueryIsAnsweredByKeyWithFailuresForTheRest) {
    pellumhost::HostSettings settings;
    std::string error;
    ASSERT_TRUE(settings.Set("DbSize=12", error));
    ASSERT_TRUE(settings.Set("DbPath=/srv/zef", error));
    ASSERT_TRUE(settings.Set("Enable=0", error));

    config::CConfigBatchCommands query(2);
    query.AddCommand(4, 0x03670004, 1024);
    query.AddCommand(4, 0x03620003, std::u16string());
    query.AddCommand(4, 0x03610009, true);
    query.AddCommand(4, 0x03670001, 0);
    VELK_DataHandleWrapper request, reply;  // as the plug-in hands them over
    query.Serialize(request);
    ASSERT_EQ(settings.AnswerQuery(&request, &reply), 0x20FF0000u);

    const config::CConfigBatchCommands answer(reply);
    int size = 0;
    std::u16string path;
    bool enable = true;
    int level = 7;
    EXPECT_EQ(answer.GetValue(0x03670004, size), 0x20FF0000u);
    EXPECT_EQ(size, 12);
    EXPECT_EQ(answer.GetValue(0x03620003, path), 0x20FF0000u);
    EXPECT_EQ(path, u"/srv/zef");
    EXPECT_EQ(answer.GetValue(0x03610009, enable), 0x20FF0000u);
    EXPECT_FALSE(enable);
    EXPECT_EQ(answer.GetValue(0x03670001, level), 0xE0FF0001u) << "not configured by the host";
    EXPECT_EQ(level, 7);
    EXPECT_EQ(settings.AnswerQuery(nullptr, &reply), 0xE0FF0007u);
}

}  // namespace
