// On Windows a module is trusted when its Authenticode signature verifies.
#include "platform/module_trust.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

namespace platform {

bool IsModuleTrusted(const char16_t* path, bool acceptUnsigned) {
    if (path == nullptr || *path == u'\0') return false;
    if (GetFileAttributesW(reinterpret_cast<const wchar_t*>(path)) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
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

    if (status == ERROR_SUCCESS) return true;
    // A test build may take a module that carries no signature, never a bad one.
    return acceptUnsigned && (status == static_cast<LONG>(TRUST_E_NOSIGNATURE) ||
                              status == static_cast<LONG>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
                              status == static_cast<LONG>(TRUST_E_PROVIDER_UNKNOWN));
}

}  // namespace platform
