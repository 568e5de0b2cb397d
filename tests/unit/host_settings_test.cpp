// The reference host's configuration service: settings by name, and answers by key.
#include "reference/pellumhost/host_settings.h"

#include <gtest/gtest.h>

#include "config/config_batch.h"

namespace {

TEST(HostSettings, NamesAndValuesAreChecked) {
    pellumhost::HostSettings settings;
    std::string error;
    EXPECT_TRUE(settings.Set("DbSize=12", error));
    EXPECT_TRUE(settings.Set("DbPath=/srv/zef db", error));
    EXPECT_FALSE(settings.Set("DbSize=twelve", error));
    EXPECT_NE(error.find("whole number"), std::string::npos);
    EXPECT_FALSE(settings.Set("NoSuchSetting=1", error));
    EXPECT_NE(error.find("unknown setting"), std::string::npos);
    EXPECT_FALSE(settings.Set("Enable", error)) << "a number needs its value";
}

TEST(HostSettings, ValuesReadBackAsTextAndOnlyWhenHeld) {
    pellumhost::HostSettings settings;
    std::string error;
    ASSERT_TRUE(settings.Set("DbPath=/srv/\xc3\xa9t\xc3\xa9 db", error));
    ASSERT_TRUE(settings.Set("DbSize=-3", error));
    ASSERT_TRUE(settings.Set("Enable=on", error));
    ASSERT_TRUE(settings.Set("WorkMode=4294967295", error));
    ASSERT_FALSE(settings.Set("HistoryKeepDays=x", error));
    const std::pair<const char*, const char*> rows[] = {
        {"DbPath", "/srv/\xc3\xa9t\xc3\xa9 db"}, {"DbSize", "-3"}, {"Enable", "1"},
        {"WorkMode", "4294967295"}, {"HistoryKeepDays", ""}, {"DebugLogPath", ""},
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
