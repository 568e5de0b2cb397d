// Resolving the fake engine's version controls.
#include "tests/fakes/fake_versions_control.h"

namespace {

template <typename Function>
void Resolve(platform::ModuleHandle fake, const char* name, Function& function) {
    function = reinterpret_cast<Function>(platform::FindExport(fake, name));
}

}  // namespace

FakeVersionsControl::FakeVersionsControl(platform::ModuleHandle fake) {
    Resolve(fake, "FakeZef_AddVersion", add_);
    Resolve(fake, "FakeZef_SetWriterImage", writerImage_);
    Resolve(fake, "FakeZef_SetCopyFolder", copyFolder_);
    Resolve(fake, "FakeZef_Count", count_);
    Resolve(fake, "FakeZef_SetReboot", reboot_);
    Resolve(fake, "FakeZef_SetAdvanceData", advance_);
    Resolve(fake, "FakeZef_AddBootResult", bootResult_);
}

bool FakeVersionsControl::IsComplete() const {
    return add_ && writerImage_ && copyFolder_ && count_ && reboot_ && advance_ && bootResult_;
}

bool FakeVersionsControl::NothingLeftBehind() const {
    return Count(kFakeOpenHandles) == 0 && Count(kFakeOpenConnections) == 0 &&
           Count(kFakeMemoryCopiesLeft) == 0 && Count(kFakeEditionCopiesLeft) == 0 &&
           Count(kFakeBadReturns) == 0;
}
