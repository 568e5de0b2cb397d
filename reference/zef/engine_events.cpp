// File events: the host's event message, read with the verified reader, names the file and
// the process about to write it; the engine takes a version of the file's current content.
#include "host/event_message.h"
#include "reference/zef/engine_text.h"
#include "reference/zef/zef_engine.h"

namespace zef {

uint32_t Engine::NotifyEvent(void* eventData) {
    velk::EventMessageView view;
    if (!velk::ReadEventMessage(eventData, &view)) {
        m_log.Write(LogLevel::kWarning, u"An event is ignored: it is not a well-formed event message.");
        return 1;
    }
    if (!view.hasFileEvent || !view.hasPath) {
        m_log.Write(LogLevel::kTrace, u"An event without a file path is ignored.");
        return 1;
    }
    if (view.path.Length() > kMaxPathUnits) {
        m_log.Write(LogLevel::kWarning, Concat(u"A file event is ignored: its path has ",
                                               view.path.Length(), u" units, more than 259."));
        return 1;
    }
    std::u16string path(view.path.Length(), u'\0');
    view.path.CopyTo(&path[0]);
    const VersionResult result = TakeVersion(path.c_str(), view.processId);
    return result == VersionResult::kTaken || result == VersionResult::kAlreadyKept ? 0 : 1;
}

}  // namespace zef
