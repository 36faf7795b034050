// The signer-PIN dialog procedure.
#include "PinDialog.h"

#include <cstring>
#include <initializer_list>

#include "../kelmora.h"
#include "resource.h"

namespace platform {

namespace {

constexpr SignerPinTexts kEnglish = {"Insert PIN", "Insert PIN for signing credential",
                                     "Please insert PIN", "PIN too long", "Error"};
constexpr SignerPinTexts kItalian = {"Inserimento PIN", "Inserire PIN per credenziale di firma",
                                     "Inserisci il PIN", "PIN troppo lungo", "Errore"};

// Italian as spoken in Italy and in Switzerland.
bool italian(LANGID language) {
    return language == 0x0410 || language == 0x0810;
}

// The longest PIN the store takes: its size less the terminator.
constexpr std::size_t kMaxStoredPin = sizeof g_SignerPin - 1;
// The dialog's own limit for typed text.
constexpr WPARAM kTypedPinLimit = 8;

// The field's text, read into a buffer that is wiped whatever the outcome.
class PinFieldText {
  public:
    explicit PinFieldText(HWND dialog) {
        GetDlgItemTextA(dialog, IDC_SIGNER_PIN_FIELD, text_, sizeof text_);
        text_[sizeof text_ - 1] = '\0';
    }
    ~PinFieldText() { SecureZeroMemory(text_, sizeof text_); }
    PinFieldText(const PinFieldText&) = delete;
    PinFieldText& operator=(const PinFieldText&) = delete;

    const char* text() const { return text_; }
    std::size_t length() const { return strnlen(text_, sizeof text_); }

  private:
    char text_[kPinFieldBufferSize];
};

void placeDialog(HWND dialog) {
    RECT own;
    GetWindowRect(dialog, &own);
    const int w = own.right - own.left;
    const int h = own.bottom - own.top;
    int W = GetSystemMetrics(SM_CXSCREEN);
    int H = GetSystemMetrics(SM_CYSCREEN);
    if (GetWindowLongPtrA(dialog, GWL_STYLE) & WS_CHILD) {
        HWND parent = GetParent(dialog);
        if (parent == nullptr) parent = GetDesktopWindow();
        RECT area;
        GetWindowRect(parent, &area);
        W = area.right - area.left;
        H = area.bottom - area.top;
    }
    SetWindowPos(dialog, nullptr, (W - w) / 2, (H - h) / 3, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void confirm(HWND dialog) {
    const SignerPinTexts& texts = signerPinTexts(GetUserDefaultLangID());
    std::size_t length;
    {
        const PinFieldText field(dialog);
        length = field.length();
        if (length > 0 && length <= kMaxStoredPin) {
            std::memset(g_SignerPin, 0, sizeof g_SignerPin);
            std::memcpy(g_SignerPin, field.text(), length);
        }
    }  // the text is wiped before anything is shown
    if (length == 0) {
        MessageBoxA(dialog, texts.emptyPin, texts.errorCaption, MB_ICONERROR);
    } else if (length > kMaxStoredPin) {
        MessageBoxA(dialog, texts.pinTooLong, texts.errorCaption, MB_ICONERROR);
    } else {
        EndDialog(dialog, IDOK);
    }
}

}  // namespace

const SignerPinTexts& signerPinTexts(LANGID language) {
    return italian(language) ? kItalian : kEnglish;
}

INT_PTR CALLBACK SignerPinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            const LANGID language = GetUserDefaultLangID();
            if (italian(language)) {
                const SignerPinTexts& texts = signerPinTexts(language);
                SetWindowTextA(dialog, texts.caption);
                SetDlgItemTextA(dialog, IDC_SIGNER_PIN_PROMPT, texts.prompt);
            }
            SendDlgItemMessageA(dialog, IDC_SIGNER_PIN_FIELD, EM_LIMITTEXT, kTypedPinLimit, 0);
            placeDialog(dialog);
            SetForegroundWindow(dialog);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    confirm(dialog);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog, IDCANCEL);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_PAINT:
            for (int control : {IDOK, IDCANCEL, IDC_SIGNER_PIN_FIELD})
                InvalidateRect(GetDlgItem(dialog, control), nullptr, FALSE);
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace platform
