// The reference host's own parts: its event-message writer read back by the plug-in's reader
// and by the FlatBuffers verifier, and the command line: the option parser, the JSON writer
// and the progress bar.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "event_message_generated.h"
#include "host/event_message.h"
#include "reference/pellumhost/commands/json_writer.h"
#include "reference/pellumhost/commands/progress_bar.h"
#include "reference/pellumhost/services/event_message_writer.h"
#include "reference/pellumhost/host_options.h"

namespace {

struct WrittenEvent {
    std::u16string path;
    uint32_t processId;
    uint32_t attributes;
};

const WrittenEvent kEvents[] = {
    {u"/srv/files/notes.txt", 4242, 0},
    {u"C:\\Users\\a\\odd.md", 7, 0x21},          // odd unit count: the vector is padded
    {u"", 0, 0},                                  // an empty path is still a path field
    {u"/data/\u00e9t\u00e9/\U0001F600.bin", 0xFFFFFFFFu, 0x20},  // non-ASCII and a surrogate pair
    {std::u16string(259, u'x'), 1, 1},
};

TEST(EventMessageWriter, ThePlugInsReaderReadsWhatWasWritten) {
    for (const WrittenEvent& event : kEvents) {
        std::vector<uint8_t> data;
        pellumhost::WriteFileEventMessage(event.path, event.processId, event.attributes, data);
        velk::EventMessageView view;
        ASSERT_TRUE(velk::ReadEventMessage(data.data(), &view)) << data.size();
        EXPECT_TRUE(view.hasConfigId);
        EXPECT_EQ(view.configId, velk::kConfigFileEvent);
        EXPECT_FALSE(view.hasWmi);
        EXPECT_TRUE(view.hasFileEvent);
        ASSERT_TRUE(view.hasPath);
        std::u16string path(view.path.Length(), u'\0');
        view.path.CopyTo(path.empty() ? nullptr : &path[0]);
        EXPECT_EQ(path, event.path);
        EXPECT_EQ(view.processId, event.processId);
        EXPECT_TRUE(view.hasAttributeInfo);
        EXPECT_TRUE(view.hasAttributes);
        EXPECT_EQ(view.attributes, event.attributes);
    }
}

TEST(EventMessageWriter, TheFlatBuffersVerifierAcceptsTheBufferAndReadsTheSameFields) {
    for (const WrittenEvent& event : kEvents) {
        std::vector<uint8_t> data;
        pellumhost::WriteFileEventMessage(event.path, event.processId, event.attributes, data);
        const uint8_t* buffer = data.data() + velk::kEventMessageHeaderBytes;
        flatbuffers::Verifier verifier(buffer, data.size() - velk::kEventMessageHeaderBytes);
        ASSERT_TRUE(pez::test::VerifyEventMessageBuffer(verifier));
        const pez::test::EventMessage* message = pez::test::GetEventMessage(buffer);
        EXPECT_EQ(message->config_id(), 19u);
        const pez::test::FileEventInfo* file = message->info_as_FileEventInfo();
        ASSERT_NE(file, nullptr);
        ASSERT_NE(file->path(), nullptr);
        EXPECT_EQ(std::u16string(file->path()->begin(), file->path()->end()), event.path);
        EXPECT_EQ(file->process_id(), event.processId);
        ASSERT_NE(message->attributes(), nullptr);
        EXPECT_EQ(message->attributes()->attributes(), event.attributes);
    }
}

TEST(EventMessageWriter, TheSizeWordCoversTheWholeMessage) {
    std::vector<uint8_t> data;
    pellumhost::WriteFileEventMessage(u"abc", 1, 0, data);
    uint32_t size = 0;
    std::memcpy(&size, data.data() + velk::kEventMessageSizeAt, 4);
    EXPECT_EQ(size, data.size());
    size -= 4;  // the path's last units outside the message: the reader refuses
    std::memcpy(data.data() + velk::kEventMessageSizeAt, &size, 4);
    velk::EventMessageView view;
    EXPECT_FALSE(velk::ReadEventMessage(data.data(), &view));
}

struct ParseCase {
    std::vector<std::string> args;
    const char* error;  // a part of the error, or null when the line is good
    pellumhost::HostOptions expected;
};

pellumhost::HostOptions Expect(const std::string& command, const std::string& target = {}) {
    pellumhost::HostOptions options;
    options.command = command;
    options.target = target;
    return options;
}

TEST(HostOptions, ParsesEachCommandAndRefusesBadLines) {
    pellumhost::HostOptions restoreVersion = Expect("restore", "f.txt");
    restoreVersion.version = 3;
    restoreVersion.dbFolder = "/db";
    pellumhost::HostOptions restoreMemory = Expect("restore", "f.txt");
    restoreMemory.version = 2;
    restoreMemory.versionInMemory = true;
    pellumhost::HostOptions restoreProcess = Expect("restore");
    restoreProcess.processId = 4242;
    restoreProcess.json = true;
    pellumhost::HostOptions run = Expect("run");
    run.watch = {"/a", "/b c"};
    run.verbose = true;
    pellumhost::HostOptions help = Expect("backup");
    help.help = true;
    pellumhost::HostOptions everything = Expect("status");
    everything.logLevel = 5;
    everything.logFile = "/l.log";
    everything.pluginPath = "/p.so";
    everything.settings = {"DbSize=9", "Enable=0"};
    pellumhost::HostOptions configured = Expect("run");
    configured.watch = {"/w"};
    configured.configFile = "/etc/Pellumhost.conf";
    configured.settings = {"Trusted=rsync"};
    configured.source = "after-the-fact";
    pellumhost::HostOptions stop = Expect("stop");
    stop.dbFolder = "/db";

    const ParseCase cases[] = {
        {{}, nullptr, Expect("demo")},
        {{"lifecycle"}, nullptr, Expect("lifecycle")},
        {{"versions", "f.txt"}, nullptr, Expect("versions", "f.txt")},
        {{"--db", "/db", "restore", "f.txt", "--version", "3"}, nullptr, restoreVersion},
        {{"restore", "f.txt", "--version", "m2"}, nullptr, restoreMemory},
        {{"restore", "--json", "--process", "4242"}, nullptr, restoreProcess},
        {{"run", "--watch", "/a", "--verbose", "--watch", "/b c"}, nullptr, run},
        {{"backup", "--help"}, nullptr, help},
        {{"status", "--log-level", "5", "--log-file", "/l.log", "--plugin", "/p.so", "--set",
          "DbSize=9", "--set", "Enable=0"}, nullptr, everything},
        {{"run", "--config", "/etc/Pellumhost.conf", "--watch", "/w", "--set", "Trusted=rsync",
          "--source", "after-the-fact"}, nullptr, configured},
        {{"stop", "--db", "/db"}, nullptr, stop},
        {{"status", "--config"}, "--config needs a file", {}},
        {{"status", "--config", ""}, "--config needs a file", {}},
        {{"rogue", "/victims"}, "unknown command 'rogue'", {}},
        {{"stop", "--watch", "/a"}, "--watch belongs to run", {}},
        {{"stop", "f.txt"}, "stop takes no file", {}},
        {{"--no-such"}, "unknown option '--no-such'", {}},
        {{"frobnicate"}, "unknown command 'frobnicate'", {}},
        {{"versions"}, "versions needs a FILE", {}},
        {{"backup"}, "backup needs a FILE", {}},
        {{"versions", "a", "b"}, "unexpected argument 'b'", {}},
        {{"status", "f.txt"}, "status takes no file", {}},
        {{"restore"}, "restore needs a FILE or --process PID", {}},
        {{"restore", "f", "--process", "7"}, "takes no FILE and no --version", {}},
        {{"restore", "--process", "7", "--version", "1"}, "takes no FILE and no --version", {}},
        {{"restore", "f", "--version", "0"}, "count from 1", {}},
        {{"restore", "f", "--version", "m0"}, "count from 1", {}},
        {{"restore", "f", "--version", "-1"}, "--version takes a whole number", {}},
        {{"restore", "f", "--version", "4294967296"}, "--version takes a whole number", {}},
        {{"restore", "--process", "0"}, "--process needs a process id above 0", {}},
        {{"restore", "--process", "x7"}, "--process takes a whole number", {}},
        {{"versions", "f", "--version", "2"}, "--version belongs to restore", {}},
        {{"status", "--watch", "/a"}, "--watch belongs to run", {}},
        {{"run", "--watch"}, "--watch needs a folder", {}},
        {{"status", "--db"}, "--db needs a folder", {}},
        {{"status", "--db", ""}, "--db needs a folder", {}},
        {{"--log-level", "2x"}, "--log-level takes a whole number", {}},
    };
    for (const ParseCase& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        pellumhost::HostOptions parsed;
        std::string error;
        const bool ok = pellumhost::ParseHostOptions(c.args, parsed, error);
        if (c.error != nullptr) {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(ok) << error;
        const pellumhost::HostOptions& e = c.expected;
        EXPECT_EQ(parsed.command, e.command);
        EXPECT_EQ(parsed.target, e.target);
        EXPECT_EQ(parsed.version, e.version);
        EXPECT_EQ(parsed.versionInMemory, e.versionInMemory);
        EXPECT_EQ(parsed.processId, e.processId);
        EXPECT_EQ(parsed.watch, e.watch);
        EXPECT_EQ(parsed.dbFolder, e.dbFolder);
        EXPECT_EQ(parsed.json, e.json);
        EXPECT_EQ(parsed.verbose, e.verbose);
        EXPECT_EQ(parsed.help, e.help);
        EXPECT_EQ(parsed.logLevel, e.logLevel);
        EXPECT_EQ(parsed.logFile, e.logFile);
        EXPECT_EQ(parsed.pluginPath, e.pluginPath);
        EXPECT_EQ(parsed.settings, e.settings);
        EXPECT_EQ(parsed.configFile, e.configFile);
        EXPECT_EQ(parsed.source, e.source);
    }
}

TEST(HostOptions, HelpListsEveryCommandOnceAndEachCommandsHelpGivesItsOwnUsageFirst) {
    const std::string overview = pellumhost::HostUsage();
    EXPECT_NE(overview.find("--config FILE"), std::string::npos);  // the shared options, once
    for (const char* command : {"demo", "lifecycle", "run", "stop", "versions", "restore",
                                "backup", "status", "policies", "check", "repair"}) {
        SCOPED_TRACE(command);
        EXPECT_NE(overview.find(std::string("\n  ") + command + " "), std::string::npos);
        const std::string help = pellumhost::HostUsage(command);
        EXPECT_EQ(help.rfind(std::string("usage: Pellumhost ") + command, 0), 0u) << help;
        EXPECT_EQ(help.find("--log-file PATH"), std::string::npos) << "shared options repeated";
        EXPECT_NE(help.find("`Pellumhost --help`"), std::string::npos);
        EXPECT_NE(help.find("12 the database is damaged"), std::string::npos);
    }
    EXPECT_NE(pellumhost::HostUsage("restore").find("--version N"), std::string::npos);
}

TEST(JsonWriter, PlacesSeparatorsAndEscapesText) {
    pellumhost::JsonWriter json;
    json.BeginObject()
        .Key("file").String("C:\\dir\"q\".txt")
        .Key("lines").String("a\nb\tc\x01\x1f")
        .Key("utf8").String("\xc3\xa9t\xc3\xa9")
        .Key("versions").BeginArray()
            .BeginObject().Key("n").Unsigned(1).Key("time").Number(-5).EndObject()
            .BeginObject().Key("n").Unsigned(18446744073709551615ull).Key("memory").Bool(true).EndObject()
        .EndArray()
        .Key("empty").BeginArray().EndArray()
        .Key("nothing").Null()
        .Key("nested").BeginArray().BeginArray().Bool(false).EndArray().String("x").EndArray()
        .EndObject();
    EXPECT_EQ(json.Text(),
              "{\"file\":\"C:\\\\dir\\\"q\\\".txt\",\"lines\":\"a\\nb\\tc\\u0001\\u001f\","
              "\"utf8\":\"\xc3\xa9t\xc3\xa9\",\"versions\":[{\"n\":1,\"time\":-5},"
              "{\"n\":18446744073709551615,\"memory\":true}],\"empty\":[],\"nothing\":null,"
              "\"nested\":[[false],\"x\"]}");
}

TEST(ProgressBar, FillsInProportionAndStaysHiddenForAFewFiles) {
    struct Case {
        size_t done, total;
        size_t filled;
    };
    const Case cases[] = {{0, 10, 0}, {1, 10, 3}, {5, 10, 15}, {10, 10, 30}, {12, 10, 30},
                          {1, 3, 10}, {0, 0, 30}};
    for (const Case& c : cases) {
        const std::string line = pellumhost::ProgressBar::Line("restoring", c.done, c.total);
        SCOPED_TRACE(line);
        const size_t open = line.find('['), close = line.find(']');
        ASSERT_NE(close, std::string::npos);
        EXPECT_EQ(close - open - 1, 30u);
        EXPECT_EQ(static_cast<size_t>(std::count(line.begin(), line.end(), '#')), c.filled);
        EXPECT_NE(line.find(std::to_string(std::min(c.done, c.total)) + "/" + std::to_string(c.total)),
                  std::string::npos);
    }
    // A few files get no bar, whatever standard error is.
    EXPECT_FALSE(pellumhost::ProgressBar("restoring", pellumhost::ProgressBar::kFew).Shown());
}

}  // namespace
