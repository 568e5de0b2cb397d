// DiagLine's flush through the host's log library.
#include "util/diag_line.h"

#include "util/utf16.h"

namespace util {

DiagLine::DiagLine(LogHandle handle, const char16_t* moduleTag, uint32_t level,
                   const char16_t* sourceFile, uint32_t line)
    : handle_(handle), moduleTag_(Utf16View(moduleTag)), level_(level), sourceFile_(sourceFile),
      line_(line) {}

void DiagLine::Flush(const DiagText& text) const {
    if (handle_ == nullptr) return;
    Log_Flush(handle_, moduleTag_.c_str(), level_, sourceFile_, line_, text.Data(),
              text.UsedBytes());
}

}  // namespace util
