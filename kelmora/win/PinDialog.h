// The signer-PIN dialog (template IDD_SIGNER_PIN in kelvane.rc): its texts by
// user language and its procedure, which fills g_SignerPin when the user
// confirms a PIN.
#pragma once

#include <windows.h>

#include <cstddef>

namespace platform {

// The texts the dialog shows, in English or, for the two Italian language ids
// (Italy, Switzerland), in Italian.
struct SignerPinTexts {
    const char* caption;
    const char* prompt;
    const char* emptyPin;
    const char* pinTooLong;
    const char* errorCaption;
};
const SignerPinTexts& signerPinTexts(LANGID language);

// Size of the buffer the PIN field is read into (at most 255 characters).
constexpr std::size_t kPinFieldBufferSize = 256;

// The dialog procedure. OK stores the field's text in g_SignerPin and ends the
// dialog with 1 when it holds 1 to 19 characters; an empty or longer text is
// refused with a message box and the dialog stays open. Cancel (and Escape)
// ends it with 2.
INT_PTR CALLBACK SignerPinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace platform
