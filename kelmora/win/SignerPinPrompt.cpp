// Windows: an empty signer-PIN store is filled through the signer-PIN dialog.
#include <windows.h>

#include "../core/Platform.h"
#include "ModuleInstance.h"
#include "PinDialog.h"
#include "resource.h"

namespace platform {

CK_RV requestSignerPin() {
    const INT_PTR result = DialogBoxParamA(moduleInstance(), MAKEINTRESOURCEA(IDD_SIGNER_PIN),
                                           nullptr, SignerPinDialogProc, 0);
    switch (result) {
        case IDOK:
            return CKR_OK;
        case 0:
        case IDCANCEL:
            // The module decides what an empty PIN means.
            LogFunction("GetPIN: ...User has aborted the operation.", ERROR_INVALID_FUNCTION);
            SetLastError(ERROR_INVALID_FUNCTION);
            return CKR_OK;
        case -1: {
            // The dialog could not be shown.
            const DWORD error = GetLastError();
            LogFunction("GetPIN: ...DialogBoxParam error.", error);
            SetLastError(error);
            return CKR_FUNCTION_FAILED;
        }
        default:
            LogFunction("GetPIN: ...DialogBoxParam error.", static_cast<CK_RV>(result));
            SetLastError(static_cast<DWORD>(result));
            return CKR_FUNCTION_FAILED;
    }
}

}  // namespace platform
