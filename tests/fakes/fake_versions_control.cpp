// Resolving the fake engine's version controls.
#include "tests/fakes/fake_versions_control.h"

FakeVersionsControl::FakeVersionsControl(platform::ModuleHandle fake) {
    add_ = platform::FindExportAs<decltype(add_)>(fake, "FakeZef_AddVersion");
    writerImage_ = platform::FindExportAs<decltype(writerImage_)>(fake, "FakeZef_SetWriterImage");
    copyFolder_ = platform::FindExportAs<decltype(copyFolder_)>(fake, "FakeZef_SetCopyFolder");
    count_ = platform::FindExportAs<decltype(count_)>(fake, "FakeZef_Count");
    reboot_ = platform::FindExportAs<decltype(reboot_)>(fake, "FakeZef_SetReboot");
    advance_ = platform::FindExportAs<decltype(advance_)>(fake, "FakeZef_SetAdvanceData");
    bootResult_ = platform::FindExportAs<decltype(bootResult_)>(fake, "FakeZef_AddBootResult");
}

bool FakeVersionsControl::IsComplete() const {
    return add_ && writerImage_ && copyFolder_ && count_ && reboot_ && advance_ && bootResult_;
}

bool FakeVersionsControl::NothingLeftBehind() const {
    return Count(kFakeOpenHandles) == 0 && Count(kFakeOpenConnections) == 0 &&
           Count(kFakeMemoryCopiesLeft) == 0 && Count(kFakeEditionCopiesLeft) == 0 &&
           Count(kFakeBadReturns) == 0;
}
