// ForwardEvent: which host events reach the engine. Opaque events pass unchanged, process
// terminations update the engine's process list, file events from the event message reach
// the engine unless the file is read-only, and the rest is dropped. Keeps no state; the event
// data is host memory read in place and never kept.
#include <string>

#include "engine/wrapper_diag.h"
#include "engine/zef_engine_wrapper.h"
#include "host/call_records.h"
#include "host/event_message.h"
#include "host/result_codes.h"
#include "platform/readable_memory.h"

using engine_diag::kDiag;

uint32_t CZefEngineWrapper::ForwardEvent(const velk::EventRecord* request, uint32_t* response) {
    if (request == nullptr) return velk::kBadArgument;
    void* eventData = const_cast<void*>(request->eventData);  // the engine takes it non-const
    if (eventData == nullptr) return velk::kSuccess;
    switch (request->eventId) {
        case velk::kEventOpaque:
            m_entries.NotifyEvent(eventData);
            return velk::kSuccess;
        case velk::kEventProcess:
            return ForwardProcessEvent(*static_cast<const velk::ProcessEventRecord*>(eventData),
                                       response);
        case velk::kEventIntegration:
            return ForwardEventMessage(eventData);
        default:
            return velk::kSuccess;
    }
}

uint32_t CZefEngineWrapper::ForwardProcessEvent(const velk::ProcessEventRecord& event,
                                                uint32_t* response) {
    if (response == nullptr) return velk::kBadArgument;
    if ((event.flags & velk::kProcessFlagAcknowledgeOnly) != 0) {
        *response = velk::kSuccess;
        return velk::kSuccess;
    }
    if (event.eventClass != velk::kProcessClass || event.operation != velk::kProcessTerminated) {
        return velk::kSuccess;
    }
    if (event.imageName != nullptr) {
        kDiag.Write(util::kDiagTrace, __LINE__, u"Terminate process: ", event.processId, u",name:",
                    event.imageName);
    } else {
        // The record promises only a terminated name, which may run past the record's own
        // bytes: it is read up to its zero, but never into memory that cannot be read, and a
        // name longer than any path is cut there.
        constexpr size_t kLongestName = 32767;
        const std::string name = platform::ReadTerminatedText(event.narrowImageName, kLongestName);
        kDiag.Write(util::kDiagTrace, __LINE__, u"Terminate process: ", event.processId, u",name:",
                    name.c_str());
    }
    const uint32_t updated = m_entries.UpdateObjPidList(velk::kPidListTerminated, event.processId);
    *response = updated != 0 ? 0xE0360006 : velk::kSuccess;
    return velk::kSuccess;
}

uint32_t CZefEngineWrapper::ForwardEventMessage(void* eventData) {
    velk::EventMessageView message;
    if (!velk::ReadEventMessage(eventData, &message)) {
        kDiag.Write(util::kDiagTrace, __LINE__, u"pEventData is NULL");
        return velk::kBadArgument;
    }
    if (!message.hasConfigId || message.configId <= 1) {
        if (message.hasWmi) {
            kDiag.Write(util::kDiagTrace, __LINE__, u"WMI Event incoming, ignore it.");
        }
        return velk::kSuccess;
    }
    if (message.configId != velk::kConfigFileEvent) {
        kDiag.Write(util::kDiagTrace, __LINE__, u", Unhandled ConfigID = ", message.configId);
        return velk::kSuccess;
    }
    if (!message.hasFileEvent || !message.hasAttributeInfo) return velk::kSuccess;
    // One question to the host's log per file event while tracing is off (the hot path).
    const bool tracing = kDiag.Gate(util::kDiagTrace) != nullptr;
    if (tracing) {
        std::u16string path = u"NULL";
        if (message.hasPath) {
            path.resize(message.path.Length());
            message.path.CopyTo(path.data());
        }
        kDiag.Write(util::kDiagTrace, __LINE__, u", Filepath: ", path, u", Attribute: ",
                    message.attributes);
    }
    if ((message.attributes & velk::kAttributeReadOnly) != 0) {
        if (tracing) {
            kDiag.Write(util::kDiagTrace, __LINE__, u"File is readonly, encrypt file will fail, "
                                                    u"so we don't trigger ZEF to backup it.");
        }
        return velk::kSuccess;
    }
    m_entries.NotifyEvent(eventData);
    return velk::kSuccess;
}
