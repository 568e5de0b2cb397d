// The process-wide barrier through FlushProcessWriteBuffers, which every supported Windows has.
// Wine is told apart by its ntdll's version export: some of its releases answer the call without
// a barrier, so there the callers keep to their atomic path.
#include "platform/process_barrier.h"

#include <windows.h>

namespace platform {

bool ProcessWideBarrierAvailable() {
    static const bool available = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") == nullptr;
    }();
    return available;
}

void ProcessWideBarrier() { FlushProcessWriteBuffers(); }

}  // namespace platform
