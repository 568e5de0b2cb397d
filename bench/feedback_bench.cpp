// The restore feedback of a full report (every text filled, a negative time zone): the
// plug-in's SerializeRestoreReport beside libprotobuf encoding the same message, in one run.
// libprotobuf is measured twice: from the report (its UTF-16 texts converted and set, as the
// plug-in has to), and serialising a message built beforehand.
#include <benchmark/benchmark.h>

#include <string>

#include "engine/protobuf_serialize.h"
#include "engine/report_text.h"
#include "platform/text.h"
#include "restore_feedback.pb.h"

namespace {

zef::RestoreReport FullReport() {
    zef::RestoreReport r{};
    const auto fill = [](char16_t (&field)[zef::kTextUnits], const std::u16string& text) {
        engine_report::SetReportText(field, text.c_str());
    };
    r.requestTime = 1700000000;
    r.timeZone = -3;
    r.constant15 = 15;
    fill(r.zefVersion, u"2.0.0.1045");
    fill(r.virusName, u"Ransom.Win32.TESTSAMPLE.A");
    fill(r.virusType, u"3");
    fill(r.fileType, u"7");
    std::u16string path = u"C:\\Users\\someone\\Documents\\Projects\\";
    while (path.size() < 240) path += u"folder\\";
    fill(r.fileName, path + u"report.docx");
    r.result = 0x20FF0000;
    r.reboot = 1;
    r.timeConsumed = 42;
    r.validEditions = 5;
    r.skippedEditions = 1;
    r.indexFromNewToOld = 2;
    r.timeStamp = 1699990000;
    r.size = 1 << 20;
    for (uint8_t i = 0; i < 20; ++i) r.editionValue[i] = static_cast<uint8_t>(i * 7);
    fill(r.signature, std::u16string(64, u'a'));
    fill(r.subject, u"C:\\Program Files\\Office\\WINWORD.EXE");
    r.operation = 2;
    r.purgedEditions = 3;
    r.firstCreateTime = 1690000000;
    r.firstPurgeTime = 1691000000;
    r.lastCreateTime = 1695000000;
    r.lastPurgeTime = 1696000000;
    return r;
}

std::string Utf8(const char16_t (&field)[zef::kTextUnits]) {
    return platform::ToUtf8(engine_report::ReportText(field));
}

void FillMessage(const zef::RestoreReport& r, feedback_check::RestoreFeedback& m) {
    auto* header = m.mutable_header();
    header->set_request_time(r.requestTime);
    header->set_time_zone(r.timeZone);
    header->set_constant(r.constant15);
    header->set_zef_version(Utf8(r.zefVersion));
    auto* target = m.mutable_target();
    target->set_file_name(Utf8(r.fileName));
    target->set_file_type(Utf8(r.fileType));
    target->set_virus_name(Utf8(r.virusName));
    target->set_virus_type(Utf8(r.virusType));
    auto* outcome = m.mutable_outcome();
    outcome->set_result(r.result);
    outcome->set_reboot(r.reboot);
    outcome->set_time_consumed(r.timeConsumed);
    auto* editions = m.mutable_editions();
    editions->set_valid_editions(r.validEditions);
    editions->set_skipped_editions(r.skippedEditions);
    auto* used = editions->mutable_edition_used();
    used->set_index_from_new_to_old(r.indexFromNewToOld);
    used->set_signature(Utf8(r.signature));
    used->set_value(r.editionValue, sizeof r.editionValue);
    used->set_size(r.size);
    used->set_subject(Utf8(r.subject));
    used->set_operation(r.operation);
    used->set_time_stamp(r.timeStamp);
    auto* purged = editions->mutable_purge_stat();
    purged->set_purged_editions(r.purgedEditions);
    purged->set_first_create_time(r.firstCreateTime);
    purged->set_first_purge_time(r.firstPurgeTime);
    purged->set_last_create_time(r.lastCreateTime);
    purged->set_last_purge_time(r.lastPurgeTime);
}

void BM_SerializeRestoreReport(benchmark::State& state) {
    const zef::RestoreReport report = FullReport();
    for (auto _ : state) {
        CProtocolBufferSerialize out;
        const uint32_t encoded = SerializeRestoreReport(&report, out);
        benchmark::DoNotOptimize(encoded);
        benchmark::DoNotOptimize(out.Data()[out.Size() - 1]);
        state.counters["bytes"] = out.Size();
    }
}
BENCHMARK(BM_SerializeRestoreReport);

void BM_LibprotobufFromReport(benchmark::State& state) {
    const zef::RestoreReport report = FullReport();
    uint8_t buffer[CProtocolBufferSerialize::kCapacity];
    for (auto _ : state) {
        feedback_check::RestoreFeedback message;
        FillMessage(report, message);
        const size_t size = message.ByteSizeLong();
        message.SerializeWithCachedSizesToArray(buffer);
        benchmark::DoNotOptimize(buffer[size - 1]);
        state.counters["bytes"] = static_cast<double>(size);
    }
}
BENCHMARK(BM_LibprotobufFromReport);

void BM_LibprotobufPrebuiltMessage(benchmark::State& state) {
    const zef::RestoreReport report = FullReport();
    feedback_check::RestoreFeedback message;
    FillMessage(report, message);
    uint8_t buffer[CProtocolBufferSerialize::kCapacity];
    for (auto _ : state) {
        const size_t size = message.ByteSizeLong();
        message.SerializeWithCachedSizesToArray(buffer);
        benchmark::DoNotOptimize(buffer[size - 1]);
    }
}
BENCHMARK(BM_LibprotobufPrebuiltMessage);

}  // namespace
