// The reference host's own parts: its event-message writer read back by the plug-in's reader
// and by the FlatBuffers verifier, and the rogue-writer detector's decisions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "event_message_generated.h"
#include "host/event_message.h"
#include "reference/pellumhost/event_message_writer.h"
#include "reference/pellumhost/rogue_detector.h"

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

TEST(RogueDetector, EntropyIsMeasuredInBitsPerByte) {
    std::vector<uint8_t> uniform(256 * 4);
    for (size_t i = 0; i < uniform.size(); ++i) uniform[i] = static_cast<uint8_t>(i);
    const std::vector<uint8_t> constant(1000, 'a');
    const std::vector<uint8_t> two = {0, 1, 0, 1};
    EXPECT_DOUBLE_EQ(pellumhost::EntropyOf(uniform.data(), uniform.size()), 8.0);
    EXPECT_DOUBLE_EQ(pellumhost::EntropyOf(constant.data(), constant.size()), 0.0);
    EXPECT_DOUBLE_EQ(pellumhost::EntropyOf(two.data(), two.size()), 1.0);
    EXPECT_DOUBLE_EQ(pellumhost::EntropyOf(nullptr, 0), 0.0);
}

struct Write {
    uint32_t pid;
    const char* image;
    const char* path;
    double entropy;
    double at;
    bool flags;  // this write flags its process
};

struct DetectorCase {
    const char* name;
    std::vector<Write> writes;
};

TEST(RogueDetector, FlagsManyHighEntropyRewritesInAShortTimeOnly) {
    const DetectorCase cases[] = {
        {"three files in time flag on the third",
         {{9, "/bin/r", "a", 7.9, 0, false}, {9, "/bin/r", "b", 7.9, 1, false},
          {9, "/bin/r", "c", 7.9, 2, true}, {9, "/bin/r", "d", 7.9, 3, false}}},
        {"low-entropy writes are not counted",
         {{9, "/bin/r", "a", 4.0, 0, false}, {9, "/bin/r", "b", 7.9, 1, false},
          {9, "/bin/r", "c", 5.0, 2, false}, {9, "/bin/r", "d", 7.9, 3, false}}},
        {"the same file rewritten counts once",
         {{9, "/bin/r", "a", 7.9, 0, false}, {9, "/bin/r", "a", 7.9, 1, false},
          {9, "/bin/r", "a", 7.9, 2, false}, {9, "/bin/r", "b", 7.9, 3, false}}},
        {"writes older than the window drop out",
         {{9, "/bin/r", "a", 7.9, 0, false}, {9, "/bin/r", "b", 7.9, 1, false},
          {9, "/bin/r", "c", 7.9, 20, false}, {9, "/bin/r", "d", 7.9, 21, false},
          {9, "/bin/r", "e", 7.9, 22, true}}},
        {"a trusted image is never flagged",
         {{5, "/usr/bin/zip", "a", 8, 0, false}, {5, "/usr/bin/zip", "b", 8, 1, false},
          {5, "/usr/bin/zip", "c", 8, 2, false}, {5, "/usr/bin/zip", "d", 8, 3, false}}},
        {"processes are counted apart",
         {{1, "/bin/r", "a", 7.9, 0, false}, {2, "/bin/r", "b", 7.9, 1, false},
          {1, "/bin/r", "c", 7.9, 2, false}, {2, "/bin/r", "d", 7.9, 3, false},
          {2, "/bin/r", "e", 7.9, 4, true}}},
    };
    for (const DetectorCase& c : cases) {
        SCOPED_TRACE(c.name);
        pellumhost::DetectorSettings settings;
        settings.minFiles = 3;
        settings.windowSeconds = 10;
        settings.minEntropy = 7.0;
        settings.trustedImages = {"/usr/bin/zip"};
        pellumhost::RogueDetector detector(settings);
        for (const Write& w : c.writes) {
            std::string why;
            EXPECT_EQ(detector.OnWrite(w.pid, w.image, w.path, w.entropy, w.at, why), w.flags)
                << why;
            EXPECT_NE(why.find(w.path), std::string::npos) << why;  // each decision names its file
        }
    }
}

}  // namespace
