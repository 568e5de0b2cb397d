// A file event as the host sends it (event 0x10002016, ConfigID 19), one that is forwarded and
// one dropped as read-only, with diagnostics off: the plug-in's own reader and decision alone,
// the same decision through the code flatc generates after its verifier, and the whole call
// through Plugin_Interface_CallFunc and the wrapper to the (quiet) fake engine.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "bench/quiet_plugin.h"
#include "event_message_generated.h"
#include "host/call_records.h"
#include "host/event_message.h"
#include "tests/fakes/event_messages.h"

namespace {

const std::vector<uint8_t>& Message(bool readOnly) {
    static const std::vector<uint8_t> messages[2] = {
        EventMessageData(FileEvent(u"C:\\Users\\ann\\Documents\\quarterly report.docx", 0x20)),
        EventMessageData(FileEvent(u"C:\\Users\\ann\\Documents\\quarterly report.docx", 0x21))};
    return messages[readOnly ? 1 : 0];
}

// The decision ForwardEvent makes: 1 forward, 0 drop, -1 refuse.
int Decide(const void* eventData) {
    velk::EventMessageView view;
    if (!velk::ReadEventMessage(eventData, &view)) return -1;
    if (!view.hasConfigId || view.configId != velk::kConfigFileEvent) return 0;
    if (!view.hasFileEvent || !view.hasAttributeInfo) return 0;
    return (view.attributes & velk::kAttributeReadOnly) != 0 ? 0 : 1;
}

int DecideGenerated(const uint8_t* eventData) {
    uint32_t size, start, rootAt;
    std::memcpy(&size, eventData + 4, 4);
    std::memcpy(&start, eventData + 8, 4);
    std::memcpy(&rootAt, eventData + 188, 4);
    const uint64_t root = uint64_t{start} + rootAt;
    if (start >= size || size < 192 || root >= size) return -1;
    const uint8_t* buffer = eventData + root;
    flatbuffers::Verifier verifier(buffer, size - root);
    if (!pez::test::VerifyEventMessageBuffer(verifier)) return -1;
    const pez::test::EventMessage* message = pez::test::GetEventMessage(buffer);
    if (message->config_id() != velk::kConfigFileEvent) return 0;
    if (message->info_as_FileEventInfo() == nullptr || message->attributes() == nullptr) return 0;
    return (message->attributes()->attributes() & velk::kAttributeReadOnly) != 0 ? 0 : 1;
}

void BM_ReaderDecision(benchmark::State& state) {
    const std::vector<uint8_t>& data = Message(state.range(0) != 0);
    if (Decide(data.data()) != (state.range(0) != 0 ? 0 : 1)) {
        state.SkipWithError("the reader decided otherwise");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(Decide(data.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ReaderDecision)->ArgName("readOnly")->Arg(0)->Arg(1);

void BM_GeneratedVerifyThenRead(benchmark::State& state) {
    const std::vector<uint8_t>& data = Message(state.range(0) != 0);
    if (DecideGenerated(data.data()) != (state.range(0) != 0 ? 0 : 1)) {
        state.SkipWithError("the generated code decided otherwise");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecideGenerated(data.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GeneratedVerifyThenRead)->ArgName("readOnly")->Arg(0)->Arg(1);

QuietPlugin& TheRunning() {
    static QuietPlugin running;
    return running;
}

void BM_CallFuncFileEvent(benchmark::State& state) {
    QuietPlugin& running = TheRunning();
    const PluginExports& api = running.harness->Exports();
    auto record = std::make_unique<velk::EventRecord>();
    record->eventId = velk::kEventIntegration;
    record->eventData = Message(state.range(0) != 0).data();
    uint32_t response = 0;
    if (api.CallFunc(running.wrapper, velk::kFnForwardEvent, record.get(), &response) != 0x20FF0000u) {
        state.SkipWithError("the event was not accepted");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            api.CallFunc(running.wrapper, velk::kFnForwardEvent, record.get(), &response));
    }
}
BENCHMARK(BM_CallFuncFileEvent)->ArgName("readOnly")->Arg(0)->Arg(1);

}  // namespace
