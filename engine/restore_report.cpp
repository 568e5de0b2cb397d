// The restore report: its header from the clock and the time zone, and its summary in
// Report.log, laid out exactly as the people who read that file expect it.
#include "engine/restore_report.h"

#include "engine/report_text.h"
#include "engine/result_names.h"
#include "host/result_codes.h"
#include "util/format_w.h"

namespace engine_report {
namespace {

constexpr uint32_t kTimeUnits = 261;
constexpr uint32_t kInfoLevel = 4;
constexpr uint32_t kReportConstant = 15;

constexpr char16_t kSummaryFormat[] =
    u"=========================================================\n"
    u"[Summary]\n"
    u"\t ZEFVersion        : %s\n"
    u"\t RequestTime       : %s (%d)\n"
    u"\t TimeZone          : %d\n"
    u"\t FileName          : %s\n"
    u"\t FileType          : %s\n"
    u"\t VirusName         : %s\n"
    u"\t VirusType         : %s\n"
    u"\t Result            : %s\n"
    u"\t ErrorCode         : %s (%08X)\n"
    u"\t Reboot            : %s\n"
    u"\t TimeConsumed(ms)  : %d\n"
    u"\n"
    u"[Edition used to restore]\n"
    u"\t IndexFromNewToOld : %d\n"
    u"\t Signature         : %s\n"
    u"\t Size              : %d\n"
    u"\t Subject           : %s\n"
    u"\t Operation         : %d\n"
    u"\t TimeStamp         : %s (%d)\n"
    u"\n"
    u"[Edition Stat]\n"
    u"\t ValidEditions     : %d\n"
    u"\t SkippedEditions   : %d\n"
    u"\n"
    u"[Purged Edition Stat]\n"
    u"\t PurgedEditions    : %d\n"
    u"\t FirstCreateTime   : %s (%d)\n"
    u"\t FirstPurgeTime    : %s (%d)\n"
    u"\t LastCreateTime    : %s (%d)\n"
    u"\t LastPurgeTime     : %s (%d)\n"
    u"\n\n\n";

// One time of the summary, formatted once.
struct ReportTime {
    ReportTime(uint32_t seconds, const ReportClock& clock) {
        FormatReportTime(seconds, text, kTimeUnits, clock);
    }
    char16_t text[kTimeUnits];
};

}  // namespace

const ReportClock& SystemReportClock() {
    static const ReportClock clock{platform::UnixTimeNow, platform::TimeZoneBiasMinutes,
                                   platform::UnixTimeToLocal};
    return clock;
}

void FillReportHeader(zef::RestoreReport& report, const ReportClock& clock) {
    const int32_t bias = clock.biasMinutes();
    report.requestTime = static_cast<uint32_t>(clock.now());
    report.timeZone = -bias / 60;  // integer division rounds toward zero
    report.constant15 = kReportConstant;
    util::FormatW(report.zefVersion, kTimeUnits, u"%d.%d.0.%d", 2, 0, 1045);
}

void FillRequestFields(zef::RestoreReport& report, const char16_t* filePath,
                       const char16_t* virusName, uint32_t virusType, uint32_t fileType) {
    SetReportText(report.fileName, filePath);
    SetReportText(report.virusName, virusName);
    util::FormatW(report.virusType, kReportTextLimit + 1, u"%d", virusType);
    util::FormatW(report.fileType, kReportTextLimit + 1, u"%d", fileType);
}

uint32_t BeginRestoreReport(zef::RestoreReport& report, const char16_t* filePath,
                            const char16_t* virusName, uint32_t virusType, uint32_t fileType) {
    FillReportHeader(report);
    FillRequestFields(report, filePath, virusName, virusType, fileType);
    return platform::TickCount();
}

char16_t* FormatReportTime(uint32_t seconds, char16_t* buffer, uint32_t capacity,
                           const ReportClock& clock) {
    if (buffer == nullptr) return nullptr;
    platform::SystemTime local{};
    if (seconds != 0 && clock.toLocal(seconds, local)) {
        util::FormatW(buffer, capacity, u"%04d-%02d-%02d %02d:%02d:%02d", local.wYear,
                      local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond);
    } else {
        util::FormatW(buffer, capacity, u"NULL");
    }
    return buffer;
}

void WriteRestoreReport(util::CLogger& logger, const zef::RestoreReport* report,
                        const ReportClock& clock) {
    if (report == nullptr) return;
    const zef::RestoreReport& r = *report;
    const std::u16string& resultName = engine_results::GetResultName(static_cast<int32_t>(r.result));
    const ReportTime requested(r.requestTime, clock);
    const ReportTime stamp(r.timeStamp, clock);
    const ReportTime firstCreate(r.firstCreateTime, clock);
    const ReportTime firstPurge(r.firstPurgeTime, clock);
    const ReportTime lastCreate(r.lastCreateTime, clock);
    const ReportTime lastPurge(r.lastPurgeTime, clock);
    logger.Write(kInfoLevel, kSummaryFormat, ReportText(r.zefVersion), requested.text,
                 r.requestTime, r.timeZone, ReportText(r.fileName), ReportText(r.fileType),
                 ReportText(r.virusName), ReportText(r.virusType),
                 r.result == velk::kSuccess ? u"Success" : u"Failure", resultName, r.result,
                 r.reboot != 0 ? u"Need" : u"Need not", r.timeConsumed, r.indexFromNewToOld,
                 ReportText(r.signature), r.size, ReportText(r.subject), r.operation, stamp.text,
                 r.timeStamp, r.validEditions, r.skippedEditions, r.purgedEditions,
                 firstCreate.text, r.firstCreateTime, firstPurge.text, r.firstPurgeTime,
                 lastCreate.text, r.lastCreateTime, lastPurge.text, r.lastPurgeTime);
}

}  // namespace engine_report
