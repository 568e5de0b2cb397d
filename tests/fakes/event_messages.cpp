// Event messages written with the FlatBuffers library from tests/schemas/event_message.fbs.
#include "tests/fakes/event_messages.h"

#include <cstring>

#include "event_message_generated.h"

EventMessageSpec FileEvent(const std::u16string& path, uint32_t attributes) {
    EventMessageSpec spec;
    spec.configId = 19;
    spec.infoType = 11;
    spec.path = path;
    spec.attributeInfo = true;
    spec.attributes = attributes;
    return spec;
}

std::vector<uint8_t> EventMessageBuffer(const EventMessageSpec& spec) {
    namespace fb = pez::test;
    flatbuffers::FlatBufferBuilder builder;
    builder.ForceDefaults(true);  // a field set to 0 is written, not left absent

    flatbuffers::Offset<fb::WmiEventInfo> wmi;
    if (spec.wmi) wmi = fb::CreateWmiEventInfo(builder, builder.CreateString("SELECT *"));

    flatbuffers::Offset<void> info;
    if (spec.infoType && spec.infoValue) {
        if (*spec.infoType == fb::EventInfo_FileEventInfo && !spec.otherValue) {
            flatbuffers::Offset<flatbuffers::Vector<uint16_t>> path;
            if (spec.path) {
                const std::vector<uint16_t> units(spec.path->begin(), spec.path->end());
                path = builder.CreateVector(units);
            }
            fb::FileEventInfoBuilder file(builder);
            if (spec.path) file.add_path(path);
            if (spec.processId) file.add_process_id(*spec.processId);
            info = file.Finish().Union();
        } else {
            info = fb::CreateOtherEventInfo(builder, spec.otherNumber).Union();
        }
    }

    flatbuffers::Offset<fb::FileAttributeInfo> attributes;
    if (spec.attributeInfo) {
        fb::FileAttributeInfoBuilder attributeInfo(builder);
        if (spec.attributes) attributeInfo.add_attributes(*spec.attributes);
        attributes = attributeInfo.Finish();
    }

    fb::EventMessageBuilder message(builder);
    if (spec.configId) message.add_config_id(*spec.configId);
    if (spec.wmi) message.add_wmi(wmi);
    if (spec.infoType) message.add_info_type(static_cast<fb::EventInfo>(*spec.infoType));
    if (!info.IsNull()) message.add_info(info);
    if (spec.attributeInfo) message.add_attributes(attributes);
    builder.Finish(message.Finish());
    return {builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize()};
}

void PutWord(std::vector<uint8_t>& data, size_t at, uint32_t value) {
    std::memcpy(data.data() + at, &value, sizeof value);
}

uint32_t GetWord(const std::vector<uint8_t>& data, size_t at) {
    uint32_t value;
    std::memcpy(&value, data.data() + at, sizeof value);
    return value;
}

std::vector<uint8_t> EventMessageData(const std::vector<uint8_t>& buffer, EventMessageLayout layout) {
    const size_t root = size_t{layout.start} + layout.rootAt;
    std::vector<uint8_t> data(root + buffer.size(), 0xEE);  // the gap holds no zeros to lean on
    std::memset(data.data(), 0, 192);
    PutWord(data, 4, static_cast<uint32_t>(data.size()));
    PutWord(data, 8, layout.start);
    PutWord(data, 188, layout.rootAt);
    std::memcpy(data.data() + root, buffer.data(), buffer.size());
    return data;
}

std::vector<uint8_t> EventMessageData(const EventMessageSpec& spec, EventMessageLayout layout) {
    return EventMessageData(EventMessageBuffer(spec), layout);
}
