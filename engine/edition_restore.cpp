// Restore by edition (0x23600005): one stored edition put back, with the restore report in
// Report.log and the restore feedback, as after a restore by file. Runs on the caller's thread.
#include "engine/restore_report.h"
#include "engine/result_names.h"
#include "engine/version_walk.h"
#include "engine/zef_engine_wrapper.h"
#include "host/call_records.h"
#include "host/result_codes.h"

uint32_t CZefEngineWrapper::RestoreEdition(const void* input, void* output) {
    const auto* request = static_cast<const velk::EditionRestoreRequest*>(input);
    auto* reboot = static_cast<uint32_t*>(output);
    if (request == nullptr || reboot == nullptr || request->filePath == nullptr ||
        request->editionId == 0) {
        return velk::kBadArgument;
    }
    zef::EditionFindData edition{};
    zef::RestoreReport report{};
    const uint32_t start = engine_report::BeginRestoreReport(
        report, request->filePath, request->virusName, request->virusType, request->fileType);
    uint32_t result = engine_results::kRestoreFailed;
    {
        engine_walk::StorageConnection connected(m_entries);
        if (m_entries.RestoreByEdition(request->filePath, request->editionId, request->virusName,
                                       request->restoreOption, reboot) != 0) {
            result = velk::kSuccess;
        }
    }
    m_entries.FbCompleteAdvanceData(&edition, &report);  // no search made: a zeroed edition
    FinishRestore(report, result, *reboot, start);
    return result;
}
