// The wrapper's start, stop and call dispatch against the fake engine and a scripted host:
// which calls reach the engine in which state, with which results.
#include <gtest/gtest.h>

#include "engine/zef_time.h"
#include "host/restore_records.h"
#include "platform/module.h"
#include "tests/unit/wrapper_fixture.h"

namespace {

constexpr uint32_t kUnknownId = 0x23600FFF;

int32_t ChooseNothing(void*, const char16_t*, void*, uint32_t*) { return 0; }
int32_t TakeNoAction(velk::ProcessVersionInfo*, velk::VersionAction*) { return 0; }

// Each call in: its input (the shared block when withInput and no request), its output, its
// result while enabled and what reaches the engine.
TEST_F(EngineWrapperTest, DispatchByStateAndFunctionId) {
    velk::FileVersionRequest walkWithoutPath{nullptr, 0, reinterpret_cast<void (*)()>(&ChooseNothing), 0};
    velk::ProcessVersionRequest processZero{0, {}, {}, 0, TakeNoAction, 0};
    velk::RestoreFileRequest restoreWithoutPath{nullptr, ChooseNothing, nullptr, nullptr, nullptr, 0, 0, 0};
    velk::RestoreFileRequest restore{nullptr, ChooseNothing, nullptr, nullptr, u"C:\\a.txt", 0, 0, 0};
    velk::EditionRestoreRequest editionZero{nullptr, u"C:\\a.txt", 0, 0, 0, 0};
    // One input block that every request shape can read: an edition id of 77, else zeros.
    uint32_t input[16] = {77};
    velk::PidListUpdateRequest pids{4, 5};
    uint32_t output[16] = {};
    const uint32_t bad = velk::kBadArgument, no = velk::kNotHandled;
    const struct {
        const char* why;
        uint32_t functionId;
        void* in;
        bool withOutput;
        uint32_t result;
        Calls engineCalls;
    } cases[] = {
        {"flush events", velk::kFnFlushEvents, nullptr, false, velk::kSuccess, {"FlushEvents"}},
        {"flush valid events", velk::kFnFlushValidEvents, nullptr, false, velk::kSuccess, {"FlushValidEvents"}},
        {"unknown id", kUnknownId, input, true, no, {}},
        {"max size without output", velk::kFnMaxFileSize, nullptr, false, bad, {}},
        {"delete without input", velk::kFnDeleteEdition, nullptr, false, bad, {}},
        {"delete refused by engine", velk::kFnDeleteEdition, input, false, 0xE0360007,
         {"ConnectBackupStorage", "DeleteEditionByEditionID(77)", "DisconnectBackupStorage"}},
        {"backup without input", velk::kFnBackupFile, nullptr, false, bad, {}},
        {"pid list without input", velk::kFnUpdatePidList, nullptr, false, bad, {}},
        {"pid list", velk::kFnUpdatePidList, &pids, false, velk::kSuccess, {"UpdateObjPidList(4,5)"}},
        {"host request of another kind", velk::kFnHostRequest1, input, false, no, {}},
        {"host request without input", velk::kFnHostRequest3, nullptr, false, no, {}},
        {"policies without output", velk::kFnQueryPatternPolicies, input, false, no, {}},
        {"restore without a callback", velk::kFnRestoreFile, input, true, bad, {}},
        {"edition restore without a path", velk::kFnRestoreEdition, input, true, bad, {}},
        {"file versions without a callback", velk::kFnEnumFileVersions, input, false, bad, {}},
        {"version info without a callback", velk::kFnEnumFileVersionInfo, input, false, bad, {}},
        {"process walk without a callback", velk::kFnEnumProcessVersions, input, false, bad, {}},
        {"boot results without a request", velk::kFnHostRequest2, nullptr, false, no, {}},
        {"file walk without a path", velk::kFnEnumFileVersions, &walkWithoutPath, false, bad, {}},
        {"version info without a request", velk::kFnEnumFileVersionInfo, nullptr, false, bad, {}},
        {"process walk of process 0", velk::kFnEnumProcessVersions, &processZero, false, bad, {}},
        {"restore without a path", velk::kFnRestoreFile, &restoreWithoutPath, true, bad, {}},
        {"restore without the reboot output", velk::kFnRestoreFile, &restore, false, bad, {}},
        {"restore of edition 0", velk::kFnRestoreEdition, &editionZero, true, bad, {}},
    };
    CZefEngineWrapper& w = Started();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        engine->Reset();
        EXPECT_EQ(w.CallFunc(c.functionId, c.in, c.withOutput ? output : nullptr), c.result);
        EXPECT_EQ(engine->Calls(), c.engineCalls);
    }
}

// Engine entry points that succeed, fail, or answer sizes that mean nothing: each answer maps
// to its result code, and the 32-bit output holds what the call leaves there.
TEST_F(EngineWrapperTest, EngineAnswersMapToResults) {
    char16_t path[] = u"/srv/share/report.docx";
    velk::BackupFileRequest backup{path}, noPath{nullptr};
    velk::EditionDeleteRequest deletion{7};
    velk::PidListUpdateRequest pids{4, 2};
    const uint32_t kSize = velk::kFnMaxFileSize, kBackup = velk::kFnBackupFile, kKept = 0x5A5A;
    const struct {
        const char* entryPoint;
        uint64_t answer;
        uint32_t functionId;
        void* input;
        uint32_t result, output;
    } cases[] = {
        {"GetSupportFileMaxSize", 0x100000, kSize, nullptr, velk::kSuccess, 0x100000},
        {"GetSupportFileMaxSize", 0, kSize, nullptr, 0xE0360008, 0},
        {"GetSupportFileMaxSize", 0xFFFFFFFF, kSize, nullptr, velk::kSuccess, 0xFFFFFFFF},
        {"GetSupportFileMaxSize", 0x1234500000001, kSize, nullptr, velk::kSuccess, 1},  // past 32 bits
        {"BackupFile", 0, kBackup, &backup, velk::kSuccess, kKept},
        {"BackupFile", 0, kBackup, &noPath, velk::kBadArgument, kKept},
        {"BackupFile", 1, kBackup, &backup, 0xE0360006, kKept},
        {"BackupFile", 0xFFFFFFFF, kBackup, &backup, 0xE0360006, kKept},
        {"DeleteEditionByEditionID", 1, velk::kFnDeleteEdition, &deletion, velk::kSuccess, kKept},
        {"UpdateObjPidList", 0xDEAD, velk::kFnUpdatePidList, &pids, 0xE0360006, kKept},
    };
    CZefEngineWrapper& w = Started();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.entryPoint) + " answering " + std::to_string(c.answer));
        engine->SetResult(c.entryPoint, c.answer);
        uint32_t output = kKept;
        EXPECT_EQ(w.CallFunc(c.functionId, c.input, &output), c.result);
        EXPECT_EQ(output, c.output);
        engine->SetResult(c.entryPoint, 0);
    }
}

// Not running (before start, after stop): every call is refused. Disabled: group A only.
TEST_F(EngineWrapperTest, StoppedServesNothingAndDisabledServesGroupAOnly) {
    CZefEngineWrapper& w = Make();
    EXPECT_EQ(w.CallFunc(velk::kFnFlushEvents, nullptr, nullptr), velk::kZefNotRunning);
    ASSERT_EQ(w.StartEngine(), 1u);
    Disable(w);
    engine->Reset();
    engine->SetResult("QueryPtnPolicy", 1);  // a failed query: no item and nothing to free
    uint32_t other = 0x12345678;
    for (auto [id, in] : {std::pair<uint32_t, void*>{velk::kFnFlushEvents, nullptr}, {kUnknownId, nullptr},
                          {velk::kFnHostRequest1, &other}}) {
        EXPECT_EQ(w.CallFunc(id, in, nullptr), velk::kBadArgument) << std::hex << id;
    }
    EXPECT_TRUE(engine->Calls().empty());
    velk::PolicyQueryRequest request{1, 1};
    HostMessageObject reply;
    EXPECT_EQ(w.CallFunc(velk::kFnQueryPatternPolicies, &request, &reply), velk::kSuccess);
    EXPECT_EQ(engine->Calls(), (Calls{"QueryPtnPolicy(1,1,ptr)"}));
    w.StopEngine();
    engine->Reset();
    EXPECT_EQ(w.CallFunc(velk::kFnFlushEvents, nullptr, nullptr), velk::kZefNotRunning);
    EXPECT_EQ(w.CallFunc(velk::kFnQueryPatternPolicies, nullptr, nullptr), velk::kZefNotRunning);
    EXPECT_TRUE(engine->Calls().empty());
}

// A listing callback that stops after `keep` files and counts what it saw.
struct Listing {
    uint32_t keep = 0;
    uint32_t seen = 0;
    uint64_t context = 0;
};
uint32_t ListingCallback(uint64_t context, const void*, uint64_t parameter, uint32_t reserved) {
    Listing& listing = *reinterpret_cast<Listing*>(static_cast<uintptr_t>(parameter));
    EXPECT_EQ(reserved, 0u);
    listing.context = context;
    return ++listing.seen < listing.keep ? 1 : 0;
}

// Listings connect, walk until the callback stops, close what was found and disconnect; the
// range listing passes both times by address (a time that does not convert as 0).
TEST_F(EngineWrapperTest, ListingsWalkUntilTheCallbackStops) {
    const Calls found{"ConnectBackupStorage", "FindFirstBackupFile(ptr)", "FindBackupFileClose(ptr)",
                      "DisconnectBackupStorage"};
    const struct {
        uint64_t first;
        uint32_t keep, seen;
        Calls calls;
    } cases[] = {
        {0, 1, 0, {"ConnectBackupStorage", "FindFirstBackupFile(ptr)", "DisconnectBackupStorage"}},
        {0x1000, 1, 1, found},
        {0x1000, 3, 3, {found[0], found[1], "FindNextBackupFile(ptr,ptr)", "FindNextBackupFile(ptr,ptr)",
                        found[2], found[3]}},
    };
    CZefEngineWrapper& w = Started();
    for (const auto& c : cases) {
        Listing listing{c.keep};
        velk::BackupFileListRequest request{0xC0FFEE, ListingCallback, reinterpret_cast<uintptr_t>(&listing)};
        engine->Reset();
        engine->SetResult("FindFirstBackupFile", c.first);
        engine->SetResult("FindNextBackupFile", 1);
        EXPECT_EQ(w.CallFunc(velk::kFnListBackupFiles, &request, nullptr), velk::kSuccess);
        EXPECT_EQ(engine->Calls(), c.calls);
        EXPECT_EQ(listing.seen, c.seen);
        EXPECT_EQ(listing.context, c.seen ? 0xC0FFEEu : 0u);
    }
    velk::BackupFileListRequest noCallback{0, nullptr, 0};
    EXPECT_EQ(w.CallFunc(velk::kFnListBackupFiles, &noCallback, nullptr), velk::kBadArgument);
    EXPECT_EQ(w.CallFunc(velk::kFnListBackupFiles, nullptr, nullptr), velk::kBadArgument);

    engine->Reset();
    Listing listing;
    velk::BackupFileRangeRequest range{};
    range.from = {1970, 1, 4, 1, 0, 0, 10, 0};
    range.to = {2026, 13, 0, 1, 0, 0, 0, 0};  // month 13: converts to 0
    range.callback = ListingCallback;
    range.parameter = reinterpret_cast<uintptr_t>(&listing);
    EXPECT_EQ(w.CallFunc(velk::kFnListBackupFilesInRange, &range, nullptr), velk::kSuccess);
    EXPECT_EQ(engine->CallsTo({"FindFirstBackupFileEx"}), (Calls{"FindFirstBackupFileEx(&10,&0,ptr)"}));
}

TEST(ZefTime, SecondsSince1970) {
    const struct {
        platform::SystemTime time;
        uint32_t seconds;
    } cases[] = {
        {{1970, 1, 4, 1, 0, 0, 0, 0}, 0},          {{1970, 1, 4, 1, 0, 0, 1, 0}, 1},
        {{1969, 12, 3, 31, 23, 59, 59, 999}, 0},   {{2026, 13, 0, 1, 0, 0, 0, 0}, 0},
        {{2026, 2, 0, 29, 0, 0, 0, 0}, 0},  // not a leap year
        {{2024, 2, 4, 29, 12, 0, 0, 0}, 1709208000}, {{2000, 1, 6, 1, 0, 0, 0, 500}, 946684800},
        {{2106, 2, 0, 7, 6, 28, 16, 0}, 0},  // 2^32 seconds: kept to the low 32 bits
        {{2106, 2, 0, 7, 6, 28, 15, 0}, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(engine_time::ZefTimeFromSystemTime(&c.time), c.seconds) << c.time.wYear;
    }
    EXPECT_EQ(engine_time::ZefTimeFromSystemTime(nullptr), 0u);
    EXPECT_EQ(engine_time::FileTimeToUnixSeconds(116444736000000000ull + 10000000ull), 1u);
    EXPECT_EQ(engine_time::FileTimeToUnixSeconds(116444736000000000ull), 0u);
}

// The database folder (without its trailing separator) is protected at start and released at
// stop, where a failed release is a warning; without the storage service the start goes on.
TEST_F(EngineWrapperTest, StartProtectsTheDatabaseFolderAndOpensTheReport) {
    std::vector<std::string> requests;
    uint32_t answer = velk::kSuccess;
    host.AddInterface(20001, 200011, [&](uint32_t fn, void* in, void* out) {
        const auto* r = static_cast<const velk::DbProtectionRequest*>(in);
        EXPECT_EQ(out, nullptr);
        requests.push_back(std::to_string(fn) + " " + std::to_string(r->one) + std::to_string(r->three) +
                           std::to_string(r->one32) + " " + Utf8(std::u16string(r->folder, r->folderLength)));
        return answer;
    });
    const std::u16string sep(1, platform::kPathSeparator);
    const std::string db = Utf8(folder.u16string() + sep + u"db");
    AnswerConfiguration([&](config::CConfigBatchCommands& reply) {
        reply.AddCommand(4, 0x03620003, folder.u16string() + sep + u"db" + sep);
        reply.AddCommand(4, 0x03620002, folder.u16string() + sep + u"logs");
    });
    CZefEngineWrapper& w = Started();
    EXPECT_EQ(requests, (std::vector<std::string>{"44212 131 " + db}));
    EXPECT_TRUE(std::filesystem::exists(folder / "logs" / "Report.log"));
    answer = 0xE0FF0001;
    w.StopEngine();
    EXPECT_EQ(requests, (std::vector<std::string>{"44212 131 " + db, "44213 131 " + db}));
    EXPECT_EQ(CapturedAt(1183), (std::vector<CapturedLine>{{3, 1183, "ZefEngineWrapper",
                                                            "Failed: RemoveDBProtection " + db + Utf8(sep)}}));
    EXPECT_EQ(engine->CallsTo({"Stop", "Finalize"}), (Calls{"Stop", "Finalize"}));
}

TEST_F(EngineWrapperTest, MissingStorageInterfaceIsAWarningOnly) {
    CZefEngineWrapper& w = Started();  // no (20001, 200011)
    EXPECT_EQ(Lines(1150), (std::vector<std::string>{"Failed: AddDBProtection " + Utf8(folder / "Data")}));
    EXPECT_EQ(w.IsEngineStarted(), 1u);
}

// The policies of the masks' types and subtypes as one list record: texts without the null
// entries, numbers, and no texts for a policy that is not present; failed queries give no item.
TEST_F(EngineWrapperTest, PatternPoliciesAsOneListRecord) {
    CZefEngineWrapper& w = Started();
    engine->Reset();
    engine->SetPolicy(1, 1, 1, 1, 3, {u"first", nullptr, u"third"});
    engine->SetPolicy(1, 2, 4, 1, 7, {});
    engine->SetPolicy(2, 1, 1, 0, 2, {u"hidden", u"hidden"});
    velk::PolicyQueryRequest request{3, 3};
    HostMessageObject reply;
    ASSERT_EQ(w.CallFunc(velk::kFnQueryPatternPolicies, &request, &reply), velk::kSuccess);
    const Calls all{"QueryPtnPolicy(1,1,ptr)", "QueryPtnPolicy(1,2,ptr)", "QueryPtnPolicy(2,1,ptr)",
                    "QueryPtnPolicy(2,2,ptr)"};
    EXPECT_EQ(engine->CallsTo({"QueryPtnPolicy"}), all);
    EXPECT_EQ(engine->CallsTo({"FreePtnPolicy"}).size(), 4u);
    VELK_DataHandleWrapper message(reply.handle), list, text, numeric, absent;
    ASSERT_EQ(message.ReadDataAt(0x1028B, 0, list), velk::kSuccess);
    uint32_t items = 0, indexes = 0, textCount = 0, value = 0;
    list.GetSizeOf(0x1028C, items);
    list.GetSizeOf(0x20A99, indexes);
    EXPECT_EQ(std::make_pair(items, indexes), std::make_pair(4u, 4u));
    ASSERT_EQ(list.ReadDataAt(0x1028C, 0, text), velk::kSuccess);
    std::u16string first, second, third;
    text.GetWStringAt(25, first);
    text.GetWStringAt(45, second);
    EXPECT_TRUE(velk::Failed(text.GetWStringAt(65, third))) << "the null entry is left out";
    EXPECT_EQ(first + u"," + second, u"first,third");
    list.ReadDataAt(0x1028C, 1, numeric);
    int32_t subtype = 0, type = 0, present = 0;
    numeric.GetUInt32At(3, value);
    numeric.GetInt32At(1, subtype);
    numeric.GetInt32At(2, type);
    numeric.GetInt32At(4, present);
    EXPECT_EQ((std::vector<int64_t>{value, subtype, type, present}), (std::vector<int64_t>{7, 2, 1, 1}));
    list.ReadDataAt(0x1028C, 2, absent);
    absent.GetSizeOf(25, textCount);
    EXPECT_EQ(textCount, 0u) << "a policy that is not present has no texts";

    const struct {
        uint32_t subtypeMask, typeMask;
        Calls queries;
    } masks[] = {{0, 0, {}}, {8, 0, {"QueryPtnPolicy(1,8,ptr)"}},
                 {8 | 4, 2, {"QueryPtnPolicy(2,4,ptr)", "QueryPtnPolicy(1,8,ptr)"}}, {3, 3, all}};
    for (const auto& c : masks) {
        engine->Reset();
        engine->SetResult("QueryPtnPolicy", 5);  // every query fails: no items, still success
        velk::PolicyQueryRequest masked{c.subtypeMask, c.typeMask};
        HostMessageObject empty;
        EXPECT_EQ(w.CallFunc(velk::kFnQueryPatternPolicies, &masked, &empty), velk::kSuccess);
        EXPECT_EQ(engine->CallsTo({"QueryPtnPolicy"}), c.queries);
        EXPECT_TRUE(engine->CallsTo({"FreePtnPolicy"}).empty());
        VELK_DataHandleWrapper emptyMessage(empty.handle), emptyList;
        ASSERT_EQ(emptyMessage.ReadDataAt(0x1028B, 0, emptyList), velk::kSuccess);
        uint32_t fields = 0;
        emptyList.GetSizeOf(0x20001, fields);
        EXPECT_EQ(fields, 1u);
    }
}

}  // namespace
