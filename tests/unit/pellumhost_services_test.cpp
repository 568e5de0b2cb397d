// The reference host's services in-process (a changed file sent while the service runs is
// checked end to end).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "config/config_batch.h"
#include "engine/protobuf_serialize.h"
#include "host/call_records.h"
#include "host/message_object.h"
#include "host/velk_data_handle_wrapper.h"
#include "reference/pellumhost/services/event_processor.h"
#include "reference/pellumhost/services/feedback_log.h"
#include "reference/pellumhost/services/file_change_watcher.h"
#include "reference/pellumhost/services/host_configuration.h"
#include "reference/pellumhost/services/host_settings.h"
#include "reference/pellumhost/services/protected_storage.h"
#include "tests/fakes/test_folder.h"

namespace fs = std::filesystem;
using pellumhost::ConfigurationProblem;
using pellumhost::HostConfiguration;

namespace {

constexpr uint32_t kDbSizeKey = 0x03670004;
constexpr uint32_t kQuotaKey = 0x0367000B;

// The detector's settings and the engine's DbSize after a reading, those that differ from the
// defaults, in one line.
std::string Shown(const HostConfiguration& parsed) {
    const pellumhost::DetectorSettings& d = parsed.Detector();
    const pellumhost::DetectorSettings defaults;
    std::ostringstream line;
    if (d.minFiles != defaults.minFiles) line << "files=" << d.minFiles << " ";
    if (d.minEntropy != defaults.minEntropy) line << "entropy=" << d.minEntropy << " ";
    if (d.minBytes != defaults.minBytes) line << "bytes=" << d.minBytes << " ";
    if (!d.trustedImages.empty()) line << "trusted=" << d.trustedImages.size() << " ";
    const std::string dbSize = parsed.Engine().ValueOf("DbSize");
    if (!dbSize.empty()) line << "db=" << dbSize;
    return line.str();
}

TEST(ConfigurationFile, LinesAreReadAndProblemsNamedWithTheirLine) {
    const struct {
        const char* name;
        const char* text;
        uint32_t problemLine;  // 0: no problem
        const char* problemKey;
        const char* shown;     // by Shown
    } cases[] = {
        {"sections, comments and blanks", "# a comment\n[engine]\nDbSize = 12\n; another\n\n[detector]\nMinFiles = 3\n"
         "MinEntropy = 6.5\nMinBytes=100\nTrusted = /usr/bin/zip\nTrusted = rsync\nLongScore = 20.5\nHalfLifeSeconds = 600\n",
         0, "", "files=3 entropy=6.5 bytes=100 trusted=2 db=12"},
        {"lines before any section are the engine's", "  DbSize =  77  \r\n", 0, "", "db=77"},
        {"an unknown engine key keeps the rest", "[engine]\nDbSize = 12\nNoSuch = 1\n", 3, "NoSuch", "db=12"},
        {"a bad engine value keeps the default", "DbSize = big\n", 1, "DbSize", ""},
        {"a bad detector value keeps the default", "[detector]\nMinFiles = many\nMinBytes = 7\n", 2, "MinFiles", "bytes=7 "},
        {"zero files never flags anything, so it is refused", "[detector]\nMinFiles = 0\n", 2, "MinFiles", ""},
        {"a half-life past a week", "[detector]\nHalfLifeSeconds = 604801\n", 2, "HalfLifeSeconds", ""},
        {"a long score under one would flag any single loss", "[detector]\nLongScore = 0.5\n", 2, "LongScore", ""},
        {"entropy above eight bits", "[detector]\n\nMinEntropy = 9\n", 3, "MinEntropy", ""},
        {"an unknown detector key", "[detector]\nMaxFiles = 3\n", 2, "MaxFiles", ""},
        {"an unknown section's lines are ignored", "[other]\nX = 1\n[detector]\nMinBytes = 9\n", 1, "other", "bytes=9 "},
        {"a line without a value", "[detector]\njunk\n", 2, "junk", ""},
        {"an engine setting under [detector] is unknown there", "[detector]\nDbSize = 3\n", 2, "DbSize", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ConfigurationProblem> problems;
        const HostConfiguration parsed = HostConfiguration::Parse(c.text, problems);
        ASSERT_EQ(problems.size(), c.problemLine == 0 ? 0u : 1u);
        if (c.problemLine != 0) {
            const std::string line = HostConfiguration::Describe("host.conf", problems[0]);
            EXPECT_NE(line.find("host.conf line " + std::to_string(c.problemLine) + ": '" + c.problemKey + "'"), std::string::npos) << line;
        }
        EXPECT_EQ(Shown(parsed), c.shown);
    }
}

// The file written for a new database reads clean; overrides win over the file, also when it
// is read again, and a file gone keeps what was read; a change message holds the settings it
// names, read back as the plug-in reads them (a refused override is checked end to end).
TEST(ConfigurationFile, OverridesOutliveARereadingAndAChangeMessageHoldsWhatItNames) {
    const fs::path folder = MakeTestFolder("pellumhost-config"), path = folder / "host.conf";
    WriteFileBytes(path, HostConfiguration::DefaultText("/srv/db", "/srv/log"));
    std::vector<ConfigurationProblem> problems;
    HostConfiguration loaded = HostConfiguration::Load(path.string(), problems);
    EXPECT_TRUE(problems.empty());
    std::string error;
    for (const char* assignment : {"detector.MinFiles=2", "Trusted=perl", "DbSize=64"}) EXPECT_TRUE(loaded.Override(assignment, error)) << error;
    WriteFileBytes(path, "DbSize = 5\nPerProcessBackupQuota = 9\n[detector]\nMinFiles = 8\n");
    const HostConfiguration again = loaded.Reload(problems);
    EXPECT_EQ(std::make_tuple(size_t{0}, 2u, size_t{1}), std::make_tuple(problems.size(), again.Detector().minFiles, again.Detector().trustedImages.size()));
    VELK_DataHandleWrapper every, onlyQuota;
    again.Engine().WriteChangeMessage(pellumhost::HostSettings().ChangedNames(again.Engine()), every);
    again.Engine().WriteChangeMessage({"PerProcessBackupQuota"}, onlyQuota);
    const config::CConfigBatchCommands all(every), one(onlyQuota);
    int dbSize = 0;
    unsigned quota = 0;
    EXPECT_EQ(0x20FF0000u, all.GetValue(kDbSizeKey, dbSize));
    EXPECT_EQ(0x20FF0000u, all.GetValue(kQuotaKey, quota));
    EXPECT_EQ(std::make_pair(64, 9u), std::make_pair(dbSize, quota));
    EXPECT_NE(0x20FF0000u, one.GetValue(kDbSizeKey, dbSize));
    fs::remove(path);
    const HostConfiguration missing = loaded.Reload(problems);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(HostConfiguration::Describe(path.string(), problems[0]).find("cannot be read"), std::string::npos);
    EXPECT_EQ(missing.Detector().minFiles, 2u);
    fs::remove_all(folder);
}

TEST(FileChangeWatcher, NoticesContentAndExistenceChangesOnly) {
    const fs::path folder = MakeTestFolder("pellumhost-watch");
    const fs::path path = folder / "watched.conf";
    WriteFileBytes(path, "a = 1\n");
    int calls = 0;
    pellumhost::FileChangeWatcher watcher(path.string(), [&] { ++calls; });
    watcher.Poll();  // the base
    const struct {
        const char* name;
        std::function<void()> change;
        bool noticed;
    } steps[] = {
        {"nothing changed", [] {}, false},
        {"the same content written again", [&] { WriteFileBytes(path, "a = 1\n"); }, false},
        {"content of the same size", [&] { WriteFileBytes(path, "a = 2\n"); }, true},
        {"removed", [&] { fs::remove(path); }, true},
        {"still gone", [] {}, false},
        {"back", [&] { WriteFileBytes(path, "a = 2\n"); }, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        const int before = calls;
        step.change();
        EXPECT_EQ(watcher.Poll(), step.noticed);
        EXPECT_EQ(calls - before, step.noticed ? 1 : 0);
    }
    fs::remove_all(folder);
}

// Values taken, read back as text only when held (the refused ones are checked end to end, as
// --set gives them), and a query answered by key with failures for the rest.
TEST(HostSettings, ValuesAreReadBackAsTextAndQueriesAnsweredByKey) {
    pellumhost::HostSettings settings;
    std::string error;
    for (const char* line : {"DbPath=/srv/\xc3\xa9t\xc3\xa9 db", "DbSize=12", "Enable=on", "HistoryKeepDays=0", "PerProcessBackupQuota=1000000"})
        EXPECT_TRUE(settings.Set(line, error)) << line << ": " << error;
    EXPECT_FALSE(settings.Set("Enable", error));  // a number needs its value
    const std::pair<const char*, const char*> rows[] = {
        {"DbPath", "/srv/\xc3\xa9t\xc3\xa9 db"}, {"DbSize", "12"}, {"Enable", "1"},
        {"PerProcessBackupQuota", "1000000"}, {"HistoryKeepDays", "0"}, {"DebugLogPath", ""},
        {"NoSuchSetting", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(settings.ValueOf(row.first), row.second) << row.first;

    config::CConfigBatchCommands query(2);
    query.AddCommand(4, 0x03670004, 1024);
    query.AddCommand(4, 0x03620003, std::u16string());
    query.AddCommand(4, 0x03610009, true);
    query.AddCommand(4, 0x03670001, 0);
    VELK_DataHandleWrapper request, reply;  // as the plug-in hands them over
    query.Serialize(request);
    ASSERT_EQ(settings.AnswerQuery(&request, &reply), 0x20FF0000u);

    const config::CConfigBatchCommands answer(reply);
    int size = 0, level = 7;
    std::u16string path;
    bool enable = false;
    const uint32_t results[] = {answer.GetValue(0x03670004, size), answer.GetValue(0x03620003, path), answer.GetValue(0x03610009, enable),
                                answer.GetValue(0x03670001, level)};
    EXPECT_EQ(std::vector<uint32_t>(results, results + 4), (std::vector<uint32_t>{0x20FF0000u, 0x20FF0000u, 0x20FF0000u, 0xE0FF0001u}))
        << "the last is not configured by the host";
    EXPECT_EQ(std::make_tuple(12, std::u16string(u"/srv/\u00e9t\u00e9 db"), true, 7), std::make_tuple(size, path, enable, level));
    EXPECT_EQ(settings.AnswerQuery(nullptr, &reply), 0xE0FF0007u);
}

// A subscription request as the plug-in sends it to the event processor.
void BuildSubscription(HostMessageObject& request, uint32_t eventClass, const std::vector<uint32_t>& extra,
                       uint32_t moduleId = 10012, uint32_t interfaceId = 100121) {
    VELK_DataHandleWrapper outer(request.handle);
    VELK_DataHandleWrapper nested(0x10030, true);
    nested.PutInt32(0x2070E, static_cast<int32_t>(eventClass));
    nested.PutInt32(0x20711, 2);
    const uint32_t filter[2] = {27, 0xFFFF};
    nested.PutBinary(0x20710, filter, sizeof filter);
    outer.PutData(nested);
    for (uint32_t id : extra) outer.PutInt32(0x2070E, static_cast<int32_t>(id));
    outer.PutInt32(0x207D1, static_cast<int32_t>(moduleId));
    outer.PutInt32(0x207D2, static_cast<int32_t>(interfaceId));
}

// A call the event processor made: "module function kind", in hexadecimal.
std::string Delivered(uint32_t moduleId, uint32_t functionId, uint32_t kind) {
    char text[40];
    std::snprintf(text, sizeof text, "%x %x %x", moduleId, functionId, kind);
    return text;
}

TEST(EventProcessor, SubscriptionsAreKeptDeliveredToAndRemoved) {
    pellumhost::EventProcessor events;
    std::vector<std::string> delivered;
    events.SetDelivery([&](uint32_t moduleId, uint32_t, uint32_t functionId, void* input, void*) {
        const bool event = functionId == velk::kFnForwardEvent;
        delivered.push_back(Delivered(moduleId, functionId, event ? static_cast<velk::EventRecord*>(input)->eventId : *static_cast<uint32_t*>(input)));
        return 0x20FF0000u;
    });
    HostMessageObject manager, integration, processor, other, malformed;
    BuildSubscription(manager, 0x10002004, {0x1000200D, 0x40016002});
    BuildSubscription(integration, 0x10002016, {});
    BuildSubscription(processor, 0x10002001, {});
    BuildSubscription(other, 0x10002016, {}, 77, 771);
    VELK_DataHandleWrapper(malformed.handle).PutInt32(0x207D1, 10012);
    for (HostMessageObject* request : {&manager, &integration, &processor, &other}) ASSERT_EQ(events.Register(request), 0x20FF0000u);
    EXPECT_EQ(events.Register(&malformed), 0xE0FF0007u);
    EXPECT_EQ(events.Register(nullptr), 0xE0FF0007u);
    ASSERT_EQ(events.Count(), 4u);
    EXPECT_EQ(events.Subscriptions()[0].filter.size(), 8u);

    uint32_t change = velk::kKindConfigurationChanged, unknownKind = 0x12345678;
    const struct {
        const char* name;
        std::function<size_t()> deliver;
        std::vector<std::string> expected;
    } cases[] = {
        {"a configuration change reaches the event-manager subscriber through 24101", [&] { return events.DeliverRequest(change, &change); },
         {Delivered(10012, velk::kFnHostRequest1, change)}},
        {"integration events reach both of their subscribers through 24105", [&] { return events.DeliverEvent(0x10002016, "event"); },
         {Delivered(10012, velk::kFnForwardEvent, 0x10002016), Delivered(77, velk::kFnForwardEvent, 0x10002016)}},
        {"process events", [&] { return events.DeliverEvent(0x10002001, "event"); }, {Delivered(10012, velk::kFnForwardEvent, 0x10002001)}},
        {"a kind nobody asked for", [&] { return events.DeliverRequest(unknownKind, &unknownKind); }, {}},
        {"a class nobody subscribed to", [&] { return events.DeliverEvent(0x10002099, "e"); }, {}},
    };
    for (const auto& c : cases) {
        delivered.clear();
        EXPECT_EQ(c.deliver(), c.expected.size()) << c.name;
        EXPECT_EQ(delivered, c.expected) << c.name;
    }

    for (HostMessageObject* request : {&manager, &integration, &processor, &other})
        EXPECT_EQ(events.Unregister(request), 0x20FF0000u);
    EXPECT_EQ(events.Count(), 0u) << "nothing is left registered";
    EXPECT_EQ(events.Unregister(&manager), 0xE0FF0001u);
    delivered.clear();
    EXPECT_EQ(events.DeliverRequest(change, &change), 0u);
    EXPECT_TRUE(delivered.empty());
}

// The feedback log as the plug-in's requests arrive: restore feedback decoded field by field
// from the bytes the plug-in's writer makes, boot results line by line, requests it cannot read
// refused (what was readable still recorded); bytes that are broken are refused and never read
// past, a field of another wire type is skipped and said so.
TEST(FeedbackLog, RecordsDecodedFeedbackAndBootResultsAsTheyArrive) {
    // Requested 2026-12-05 00:00:00 UTC; every field in the record's order.
    const zef::RestoreReport report{1796428800, -60, 15, u"2.0.0.1045", {}, {}, {},
                                    u"/srv/files/\u00e9t\u00e9.txt", 0xE0360004, 0, 12, 3, 0, 0, 0, 4096,
                                    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
                                    {}, u"/usr/bin/rogue", 0, 0, 0, 0, 0, 0};
    CProtocolBufferSerialize bytes;
    ASSERT_EQ(SerializeRestoreReport(&report, bytes), 1u);

    const fs::path folder = MakeTestFolder("pellumhost-feedback");
    pellumhost::FeedbackLog log;
    ASSERT_TRUE(log.Open((folder / "feedback.log").string()));
    uint8_t block[velk::kFeedbackBlockBytes] = {};
    const velk::RestoreFeedbackRequest feedback{block, 9, bytes.Data(), bytes.Size(), "ZEF_001", 0};
    velk::BootResultRecord records[2];
    std::u16string_view(u"first boot").copy(records[0].name, 64);  // the names are zeroed
    records[0].time = 1796428800;
    records[0].status = 0x20360001;
    std::u16string_view(u"second").copy(records[1].name, 64);
    records[1].status = 0xE0F00005;
    const velk::BootResultsRequest boot{0, records, 2, {}};
    velk::BootResultRecord wrongSize;
    wrongSize.recordSize = 600;
    const velk::BootResultsRequest bad{0, &wrongSize, 1, {}};
    const velk::RestoreFeedbackRequest huge{block, 9, bytes.Data(), 1ull << 40, "ZEF_001", 0};
    const std::tuple<uint32_t, const void*, uint32_t> calls[] = {  // function, its input, the result
        {velk::kFnPostRestoreFeedback, &feedback, 0x20FF0000}, {velk::kFnSendBootResults, &boot, 0x20FF0000},
        {velk::kFnSendBootResults, &bad, 0xE0FF0007},        {velk::kFnPostRestoreFeedback, &huge, 0xE0FF0007},
        {velk::kFnPostRestoreFeedback, nullptr, 0xE0FF0007}, {0x98BE, &feedback, 0xE0FF0002},
    };
    for (const auto& [functionId, input, result] : calls) EXPECT_EQ(log.Record(functionId, input), result);
    EXPECT_EQ(log.Entries(), 4u) << "the malformed ones are recorded too, what was readable";
    log.Close();
    const std::string text = ReadFileBytes(folder / "feedback.log");
    fs::remove_all(folder);
    for (const char* line : {"restore feedback (ZEF_001), ", "  Header\n", "    RequestTime: 2026-12-05 00:00:00 UTC\n",
                             "    TimeZone: -60\n", "    ZEFVersion: \"2.0.0.1045\"\n", "    FileName: \"/srv/files/\xc3\xa9t\xc3\xa9.txt\"\n",
                             "    VirusName: \"\"\n", "    Result: 0xE0360004\n", "    TimeConsumed: 12 ms\n", "    ValidEditions: 3\n",
                             "      Digest: 000102030405060708090a0b0c0d0e0f10111213\n", "      Subject: \"/usr/bin/rogue\"\n", "      PurgedEditions: 0\n",
                             "boot results, 2\n", "  \"first boot\" at 2026-12-05 00:00:00 UTC, value 0, status 0x20360001 (succeeded)\n",
                             "status 0xE0F00005 (failed, engine code 5)", "record 0: size word 600, not 648"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;

    const std::vector<uint8_t> whole(bytes.Data(), bytes.Data() + bytes.Size());
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        bool decoded;
        const char* says;
    } odd[] = {
        {"cut short", std::vector<uint8_t>(whole.begin(), whole.end() - 3), false,
         "Editions is longer than what is left, at byte 75"},
        {"a zero field number", {0x00, 0x01}, false, "bad field key"},
        {"a varint without its end", {0x08, 0xFF, 0xFF}, false,
         "field 1 of RestoreFeedback runs past the end at byte 0"},
        {"an unknown wire type", {0x0B}, false,
         "field 1 of RestoreFeedback runs past the end at byte 0"},
        {"Outcome as a number, not a message", {0x18, 0x00}, true, "field 3 (wire type 0): not part of RestoreFeedback; skipped"},
    };
    for (const auto& o : odd) {
        std::string said;
        std::vector<uint8_t> past = o.bytes;
        past.push_back(0x01);  // past the end, a byte that would end a varint: a read there shows
        EXPECT_EQ(o.decoded, pellumhost::DecodeRestoreFeedback(past.data(), o.bytes.size(), said)) << o.name;
        EXPECT_NE(said.find(o.says), std::string::npos) << o.name << ": " << said;
    }
}

TEST(ProtectedStorage, ServesReadsOfStoredContentFromProtectedFoldersOnly) {
    const fs::path folder = MakeTestFolder("pellumhost-storage");
    fs::create_directories(folder / "content");
    const std::string digest = "000102030405060708090a0b0c0d0e0f10111213";
    WriteFileBytes(folder / "content" / (digest + "-0"), "0123456789");
    pellumhost::ProtectedStorage storage;
    std::vector<std::pair<std::string, bool>> guarded;
    storage.SetGuard([&](const std::string& f, bool protect, std::string&) {
        guarded.push_back({f, protect});
        return true;
    });
    const std::u16string name = folder.u16string();
    const velk::DbProtectionRequest protect{1, 3, name.c_str(), static_cast<uint32_t>(name.size()), 1};

    const struct {
        const char* name;
        bool protectedFirst;
        uint8_t keyFirst;
        uint32_t offset, count;
        bool withBuffer;
        uint32_t result;
        const char* bytes;
    } cases[] = {
        {"not protected: not found", false, 0, 0, 4, true, 0xE0FF0001, ""},
        {"from the start", true, 0, 0, 4, true, 0x20FF0000, "0123"},
        {"from an offset, cut at the end", true, 0, 7, 8, true, 0x20FF0000, "789"},
        {"past the end", true, 0, 20, 4, true, 0x20FF0000, ""},
        {"another key", true, 9, 0, 4, true, 0xE0FF0001, ""},
        {"no buffer", true, 0, 0, 4, false, 0xE0FF0007, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.protectedFirst && storage.Folders().empty()) {
            ASSERT_EQ(storage.Call(velk::kFnAddDbProtection, &protect, nullptr), 0x20FF0000u);
        }
        const velk::BackupDataReadRequest request{{c.keyFirst, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                                                  c.offset, 0, c.count};
        char buffer[16] = {};
        velk::BackupDataReadReply reply{c.withBuffer ? buffer : nullptr, 99};
        EXPECT_EQ(storage.Call(velk::kFnReadBackupFileData, &request, &reply), c.result);
        if (c.result == 0x20FF0000u) {
            EXPECT_EQ(reply.bytesRead, std::strlen(c.bytes));
            EXPECT_EQ(std::string(buffer, reply.bytesRead), c.bytes);
        }
    }
    EXPECT_TRUE(storage.IsProtected((folder / "content" / "x").string()));
    EXPECT_FALSE(storage.IsProtected(folder.string() + "-other/x"));
    // Protected twice, released twice: the guard hears of the first and the last only.
    EXPECT_EQ(storage.Call(velk::kFnAddDbProtection, &protect, nullptr), 0x20FF0000u);
    EXPECT_EQ(storage.Call(velk::kFnRemoveDbProtection, &protect, nullptr), 0x20FF0000u);
    EXPECT_EQ(storage.Call(velk::kFnRemoveDbProtection, &protect, nullptr), 0x20FF0000u);
    EXPECT_EQ(storage.Call(velk::kFnRemoveDbProtection, &protect, nullptr), 0xE0FF0001u);
    const velk::DbProtectionRequest noFolder{1, 3, nullptr, 4, 1};
    EXPECT_EQ(storage.Call(velk::kFnAddDbProtection, &noFolder, nullptr), 0xE0FF0007u);
    EXPECT_EQ(storage.Call(0xACB6, &protect, nullptr), 0xE0FF0002u);
    const std::string utf8 = folder.u8string();
    EXPECT_EQ(guarded, (std::vector<std::pair<std::string, bool>>{{utf8, true}, {utf8, false}}));
    EXPECT_TRUE(storage.Folders().empty());
    fs::remove_all(folder);
}

}  // namespace
