// The reference host's diagnostic lines.
#include "reference/pellumhost/host_log.h"

#include "host/log_library.h"
#include "platform/text.h"

namespace pellumhost {

void HostLog(uint32_t level, uint32_t line, const std::string& utf8Text) {
    constexpr char16_t kTag[] = u"Pellumhost";
    const LogHandle log = Log_GetDefaultHandle();
    if (log == nullptr) return;
    const uint32_t wanted = Log_GetLogLevel(log, kTag);
    if (wanted == 0 || wanted > level) return;
    const std::u16string text = platform::FromUtf8(utf8Text);
    Log_Flush(log, kTag, level, u"pellumhost", line, text.empty() ? nullptr : text.data(),
              static_cast<uint32_t>(text.size() * sizeof(char16_t)));
}

}  // namespace pellumhost
