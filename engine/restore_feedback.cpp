// What follows every restore: its summary in Report.log, then the restore report sent to the
// host's feedback service (10, 101) in protocol-buffer form when the feedback setting is on.
// Runs on the restore's thread; a report that does not fit the message is not sent, and
// nothing of the restore changes.
#include "engine/protobuf_serialize.h"
#include "engine/restore_report.h"
#include "engine/wrapper_diag.h"
#include "engine/zef_engine_wrapper.h"
#include "host/call_records.h"
#include "host/feedback_records.h"
#include "host/plugin_interface_class.h"
#include "platform/clock.h"

using engine_diag::kDiag;

void CZefEngineWrapper::FinishRestore(zef::RestoreReport& report, uint32_t result,
                                      uint32_t reboot, uint32_t startTick) {
    report.result = result;
    report.reboot = reboot;
    report.timeConsumed = platform::TickCount() - startTick;  // wraps as the tick count does
    engine_report::WriteRestoreReport(m_Logger, &report);
    PostRestoreFeedback(&report);
}

void CZefEngineWrapper::PostRestoreFeedback(const zef::RestoreReport* report) const {
    if (FeedbackSwitch <= 0 || g_pEngineHost == nullptr || report == nullptr) return;
    PluginInterfaceClass feedback(g_pEngineHost, velk::kFeedbackModule, velk::kFeedbackInterface);
    if (!feedback.IsValid()) return;
    CProtocolBufferSerialize message;
    if (SerializeRestoreReport(report, message) == 0) {
        kDiag.Write(util::kDiagWarning, __LINE__,
                    u"Restore feedback not sent: the report does not fit the message, result=",
                    report->result);
        return;
    }
    uint8_t block[velk::kFeedbackBlockBytes] = {};
    velk::RestoreFeedbackRequest request{block, 9, message.Data(), message.Size(), "ZEF_001", 0};
    feedback.Call(velk::kFnPostRestoreFeedback, &request, nullptr);  // its result is not used
}
