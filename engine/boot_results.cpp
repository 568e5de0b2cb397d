// SendBootResults (24101 to 24103, kind 0x1000200D): the results the engine collected at boot,
// converted into boot result records and sent to the host's feedback service in one call.
// Runs on the caller's thread; the engine's results are freed on every path.
#include <memory>
#include <new>

#include "engine/wrapper_diag.h"
#include "engine/zef_engine_wrapper.h"
#include "engine/zef_time.h"
#include "host/call_records.h"
#include "host/feedback_records.h"
#include "host/plugin_interface_class.h"
#include "host/result_codes.h"

using engine_diag::kDiag;

namespace {

// More results than any engine collects at one boot: a count above it is cut to it.
constexpr uint32_t kMaxBootResults = 65536;
constexpr size_t kNameUnits = 64;

// The engine's results, freed when the scope ends.
class EngineBootResults {
public:
    explicit EngineBootResults(const EngineEntryPoints& entries)
        : m_entries(entries), m_count(entries.RmAllocDbeResults()) {}
    ~EngineBootResults() {
        if (m_count != 0) m_entries.RmFreeDbeResults();
    }
    EngineBootResults(const EngineBootResults&) = delete;
    EngineBootResults& operator=(const EngineBootResults&) = delete;
    uint32_t count() const { return m_count; }

private:
    const EngineEntryPoints& m_entries;
    const uint32_t m_count;
};

void FillBootResult(velk::BootResultRecord& record, uint32_t code, uint64_t value,
                    const char16_t* name, uint64_t fileTime) {
    record.time = engine_time::FileTimeToUnixSeconds(fileTime);
    record.category = 100;
    for (size_t i = 0; name != nullptr && i < kNameUnits && name[i] != u'\0'; ++i) {
        record.name[i] = name[i];
    }
    record.one304 = 1;
    record.value = value;
    record.source = 0x20360003;
    record.three = 3;
    record.status = code == 0 ? 0x20360001u : (0xE0F00000u | (code & 0xFFFFu));
    record.fifteen = 15;
    record.flags |= 0x20;
    record.zero464 = 0;
    record.one484 = 1;
}

}  // namespace

uint32_t CZefEngineWrapper::SendBootResults(const void* request, void* /*response*/) {
    if (request == nullptr) return velk::kBadArgument;
    if (*static_cast<const uint32_t*>(request) != velk::kKindBootResults) return velk::kNotDone;
    const EngineBootResults results(m_entries);
    if (results.count() == 0) return velk::kSuccess;

    uint32_t wanted = results.count();
    if (wanted > kMaxBootResults) {
        kDiag.Write(util::kDiagWarning, __LINE__, u"ZEF boot results cut to 0x10000 of ", wanted);
        wanted = kMaxBootResults;
    }
    const std::unique_ptr<velk::BootResultRecord[]> records(
        new (std::nothrow) velk::BootResultRecord[wanted]);
    if (records == nullptr) {
        kDiag.Write(util::kDiagError, __LINE__, u"No memory for ZEF boot results: ", wanted);
        return velk::kNotDone;
    }
    uint32_t filled = 0;
    while (m_entries.RmFetchDbeResult != nullptr && filled < wanted) {
        uint32_t kind = 0, code = 0, detail = 0;
        uint64_t value = 0, fileTime = 0;
        const char16_t* name = nullptr;
        if (m_entries.RmFetchDbeResult(filled, &kind, &code, &value, &detail, &name, &fileTime) ==
            0) {
            break;
        }
        FillBootResult(records[filled], code, value, name, fileTime);
        ++filled;
    }
    if (filled == 0) return velk::kNotDone;

    PluginInterfaceClass feedback(g_pEngineHost, velk::kFeedbackModule, velk::kFeedbackInterface);
    if (!feedback.IsValid()) return velk::kNotDone;
    velk::BootResultsRequest send{0, records.get(), filled, {}};
    const uint32_t result = feedback.Call(velk::kFnSendBootResults, &send, nullptr);
    kDiag.Write(util::kDiagTrace, __LINE__, u"Send ZEFBoot results");
    m_nBootResultsSent = 1;  // StopEngine then deletes them from the engine
    return result;
}
