// The event message reader against the code flatc generates, on messages written by the
// FlatBuffers library and then damaged at random: where the library's verifier accepts a
// buffer, the reader reads the same fields; where it refuses, the reader refuses too or reads
// only inside the message (which AddressSanitizer watches in the sanitizer build).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "event_message_generated.h"
#include "host/event_message.h"
#include "tests/fakes/event_messages.h"

namespace {

namespace fb = pez::test;

bool Has(const void* table, flatbuffers::voffset_t field) {
    return static_cast<const flatbuffers::Table*>(table)->CheckField(field);
}

// The same decision fields, read through the generated code.
void ExpectSameAsGenerated(const uint8_t* buffer, const velk::EventMessageView& view) {
    const fb::EventMessage* message = fb::GetEventMessage(buffer);
    const auto* table = reinterpret_cast<const flatbuffers::Table*>(message);
    EXPECT_EQ(view.hasConfigId, Has(table, fb::EventMessage::VT_CONFIG_ID));
    EXPECT_EQ(view.configId, message->config_id());
    EXPECT_EQ(view.hasWmi, Has(table, fb::EventMessage::VT_WMI));
    const fb::FileEventInfo* file = message->info_as_FileEventInfo();
    EXPECT_EQ(view.hasFileEvent, file != nullptr);
    if (file != nullptr) {
        EXPECT_EQ(view.hasPath, file->path() != nullptr);
        if (file->path() != nullptr) {
            ASSERT_EQ(view.path.Length(), file->path()->size());
            for (uint32_t i = 0; i < view.path.Length(); ++i) {
                EXPECT_EQ(view.path.At(i), file->path()->Get(i));
            }
        }
        EXPECT_EQ(view.processId, file->process_id());
    }
    const fb::FileAttributeInfo* attributes = message->attributes();
    EXPECT_EQ(view.hasAttributeInfo, attributes != nullptr);
    if (attributes != nullptr) {
        EXPECT_EQ(view.hasAttributes,
                  Has(reinterpret_cast<const flatbuffers::Table*>(attributes),
                      fb::FileAttributeInfo::VT_ATTRIBUTES));
        EXPECT_EQ(view.attributes, attributes->attributes());
    }
}

std::vector<EventMessageSpec> Specs() {
    EventMessageSpec full = FileEvent(u"C:\\Program Files\\app\\settings.ini", 0x21);
    full.processId = 77;
    full.wmi = true;
    EventMessageSpec other = FileEvent(u"x", 0);
    other.infoType = 1;
    EventMessageSpec disagree = FileEvent(u"y", 0);
    disagree.otherValue = true;
    disagree.otherNumber = 12;
    EventMessageSpec bare;
    bare.configId = 7;
    return {full, other, disagree, bare, FileEvent(u"", 0x20)};
}

TEST(EventMessageDifferential, AgreesWithTheGeneratedCode) {
    std::mt19937 random(20261205);
    size_t accepted = 0, refusedByBoth = 0, readWhereVerifierRefused = 0;
    for (const EventMessageSpec& spec : Specs()) {
        const std::vector<uint8_t> original = EventMessageBuffer(spec);
        for (int round = 0; round < 3000; ++round) {
            std::vector<uint8_t> buffer = original;
            // A few damaged bytes or words, and now and then a shorter buffer.
            for (int damage = 1 + static_cast<int>(random() % 3); damage > 0; --damage) {
                const size_t at = random() % buffer.size();
                if (random() % 2 == 0 || at + 4 > buffer.size()) {
                    buffer[at] = static_cast<uint8_t>(random());
                } else {
                    const uint32_t word = random() % 3 == 0 ? static_cast<uint32_t>(random())
                                                            : static_cast<uint32_t>(random() % 64);
                    std::memcpy(buffer.data() + at, &word, sizeof word);
                }
            }
            if (round % 10 == 0) buffer.resize(random() % buffer.size() + 1);
            SCOPED_TRACE(round);
            std::vector<uint8_t> data = EventMessageData(buffer);
            data.shrink_to_fit();
            const uint8_t* flat = data.data() + 192;
            flatbuffers::Verifier verifier(flat, buffer.size());
            const bool verified = fb::VerifyEventMessageBuffer(verifier);
            velk::EventMessageView view;
            const bool read = velk::ReadEventMessage(data.data(), &view);
            if (verified) {
                ++accepted;
                ASSERT_TRUE(read) << "the verifier accepts what the reader refuses";
                ExpectSameAsGenerated(flat, view);
            } else if (!read) {
                ++refusedByBoth;
            } else {
                ++readWhereVerifierRefused;
                // What was read fits in the buffer (AddressSanitizer checks where it lies).
                EXPECT_LE(4 + 2 * uint64_t{view.path.Length()}, buffer.size());
                EXPECT_TRUE(!view.hasPath || view.hasFileEvent);
            }
        }
    }
    // Every kind of outcome occurred, so the comparison was not vacuous.
    EXPECT_GT(accepted, 1000u);
    EXPECT_GT(refusedByBoth, 1000u);
    RecordProperty("accepted", static_cast<int>(accepted));
    RecordProperty("refused", static_cast<int>(refusedByBoth));
    RecordProperty("read where the verifier refused", static_cast<int>(readWhereVerifierRefused));
}

}  // namespace
