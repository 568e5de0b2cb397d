// The reference host's own parts: its event-message writer read back by the plug-in's reader
// and by the FlatBuffers verifier, the JSON writer and the progress bar (the command line, its
// help texts and refused lines are checked end to end).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "event_message_generated.h"
#include "host/event_message.h"
#include "reference/pellumhost/commands/json_writer.h"
#include "reference/pellumhost/commands/progress_bar.h"
#include "reference/pellumhost/services/event_message_writer.h"

namespace {

// Each event's path, process and attributes.
const std::tuple<std::u16string, uint32_t, uint32_t> kEvents[] = {
    {u"/srv/files/notes.txt", 4242, 0},
    {u"C:\\Users\\a\\odd.md", 7, 0x21},          // odd unit count: the vector is padded
    {u"", 0, 0},                                  // an empty path is still a path field
    {u"/data/\u00e9t\u00e9/\U0001F600.bin", 0xFFFFFFFFu, 0x20},  // non-ASCII and a surrogate pair
    {std::u16string(259, u'x'), 1, 1},
};

// Each event as the plug-in's reader and as the FlatBuffers verifier read it back, and its size
// word (the reader's refusals of a size too small are its own test's).
TEST(EventMessageWriter, ThePlugInsReaderAndTheVerifierReadWhatWasWritten) {
    for (const auto& event : kEvents) {
        std::vector<uint8_t> data;
        pellumhost::WriteFileEventMessage(std::get<0>(event), std::get<1>(event), std::get<2>(event), data);
        velk::EventMessageView view;
        ASSERT_TRUE(velk::ReadEventMessage(data.data(), &view)) << data.size();
        EXPECT_TRUE(view.hasConfigId && view.hasFileEvent && view.hasPath && view.hasAttributeInfo &&
                    view.hasAttributes && !view.hasWmi);
        std::u16string path(view.path.Length(), u'\0');
        view.path.CopyTo(path.empty() ? nullptr : &path[0]);
        EXPECT_EQ(view.configId, velk::kConfigFileEvent);
        EXPECT_EQ(std::tie(path, view.processId, view.attributes), event);

        const uint8_t* buffer = data.data() + velk::kEventMessageHeaderBytes;
        flatbuffers::Verifier verifier(buffer, data.size() - velk::kEventMessageHeaderBytes);
        ASSERT_TRUE(pez::test::VerifyEventMessageBuffer(verifier));
        const pez::test::EventMessage* message = pez::test::GetEventMessage(buffer);
        const pez::test::FileEventInfo* file = message->info_as_FileEventInfo();
        ASSERT_TRUE(file != nullptr && file->path() != nullptr && message->attributes() != nullptr);
        EXPECT_EQ(message->config_id(), 19u);
        EXPECT_EQ(std::make_tuple(std::u16string(file->path()->begin(), file->path()->end()), file->process_id(),
                                  message->attributes()->attributes()), event);

        uint32_t size = 0;
        std::memcpy(&size, data.data() + velk::kEventMessageSizeAt, 4);
        EXPECT_EQ(size, data.size());
    }
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
    const struct {
        size_t done, total, filled;
    } cases[] = {{0, 10, 0}, {1, 10, 3}, {5, 10, 15}, {10, 10, 30}, {12, 10, 30}, {1, 3, 10}, {0, 0, 30}};
    for (const auto& c : cases) {
        const std::string line = pellumhost::ProgressBar::Line("restoring", c.done, c.total);
        SCOPED_TRACE(line);
        const size_t open = line.find('['), close = line.find(']');
        ASSERT_NE(close, std::string::npos);
        EXPECT_EQ(close - open - 1, 30u);
        EXPECT_EQ(static_cast<size_t>(std::count(line.begin(), line.end(), '#')), c.filled);
        EXPECT_NE(line.find(std::to_string(std::min(c.done, c.total)) + "/" + std::to_string(c.total)), std::string::npos);
    }
    // A few files get no bar, whatever standard error is.
    EXPECT_FALSE(pellumhost::ProgressBar("restoring", pellumhost::ProgressBar::kFew).Shown());
}

}  // namespace
