// The RestoreReport of one restore: its header, the request's fields, and the summary that is
// written to Report.log as one entry. Reports live on the stack of the restore's thread; the
// logger's lock keeps one summary whole against other writers.
#pragma once
#include <cstdint>

#include "engine_api/zef_records.h"
#include "platform/clock.h"
#include "util/logger.h"

namespace engine_report {

// The clock of the report, replaceable so that a test can fix the time and the zone.
struct ReportClock {
    int64_t (*now)();            // seconds since 1970, UTC
    int32_t (*biasMinutes)();    // UTC minus local time, in minutes
    bool (*toLocal)(int64_t seconds, platform::SystemTime& local);
};
const ReportClock& SystemReportClock();

// RequestTime, TimeZone (whole hours east of UTC, rounded toward zero), 15 and ZEFVersion.
void FillReportHeader(zef::RestoreReport& report,
                      const ReportClock& clock = SystemReportClock());

// FileName, VirusName (when given), VirusType and FileType (signed decimal) of a request.
void FillRequestFields(zef::RestoreReport& report, const char16_t* filePath,
                       const char16_t* virusName, uint32_t virusType, uint32_t fileType);

// The report of a restore that begins now: the header and the request's fields. Returns the
// tick count at which the restore starts.
uint32_t BeginRestoreReport(zef::RestoreReport& report, const char16_t* filePath,
                            const char16_t* virusName, uint32_t virusType, uint32_t fileType);

// "YYYY-MM-DD hh:mm:ss" in local time, or "NULL" for 0 or a time that does not convert.
// Returns buffer (null when buffer is null).
char16_t* FormatReportTime(uint32_t seconds, char16_t* buffer, uint32_t capacity,
                           const ReportClock& clock = SystemReportClock());

// The summary, at level 4, as one entry of the logger; a null report writes nothing.
void WriteRestoreReport(util::CLogger& logger, const zef::RestoreReport* report,
                        const ReportClock& clock = SystemReportClock());

}  // namespace engine_report
