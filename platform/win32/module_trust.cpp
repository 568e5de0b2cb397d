// On Windows a module is trusted when its Authenticode signature verifies. (Who may write
// its folder is left to the folder's access list, which this check does not read.)
#include "platform/module_trust.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

namespace platform {

ModuleDistrust CheckModuleTrust(const char16_t* path, bool acceptUnsigned) {
    if (path == nullptr || *path == u'\0') return ModuleDistrust::kMissing;
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return ModuleDistrust::kMissing;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ModuleDistrust::kNotRegularFile;
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = reinterpret_cast<const wchar_t*>(path);

    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

    if (status == ERROR_SUCCESS) return ModuleDistrust::kTrusted;
    // A test build may take a module that carries no signature, never a bad one.
    const bool unsigned_ = status == static_cast<LONG>(TRUST_E_NOSIGNATURE) ||
                           status == static_cast<LONG>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
                           status == static_cast<LONG>(TRUST_E_PROVIDER_UNKNOWN);
    return acceptUnsigned && unsigned_ ? ModuleDistrust::kTrusted : ModuleDistrust::kBadSignature;
}

}  // namespace platform
