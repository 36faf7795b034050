// The signer-PIN dialog under wine, driven by real key presses.
//
// GetPIN runs on the main thread and blocks in the modal dialog; a worker
// thread finds the dialog through the Windows API, checks what it shows, and
// asks the driver (run-dialog-tests.sh) on stdout/stdin for key presses
// (xdotool) and screenshots. Driver requests are lines "@@ <verb> <argument>"
// answered by "ok" or "fail <reason>".
//
// Usage: kelvane_dialog_tests.exe --lang en|it|it-ch [--dll PATH-TO-kelvane.dll]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../../../kelmora/core/SignerPin.h"
#include "../../../kelmora/kelmora.h"
#include "../../../kelmora/win/ModuleInstance.h"
#include "../../../kelmora/win/PinDialog.h"
#include "../../../kelmora/win/resource.h"

namespace {

// ---- results ---------------------------------------------------------------

std::mutex g_failuresLock;
std::vector<std::string> g_failures;

void failure(const std::string& where, const std::string& what) {
    std::lock_guard<std::mutex> lock(g_failuresLock);
    g_failures.push_back(where + ": " + what);
    std::printf("  FAILED %s: %s\n", where.c_str(), what.c_str());
    std::fflush(stdout);
}

bool expect(bool ok, const std::string& where, const std::string& what) {
    if (!ok) failure(where, what);
    return ok;
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// ---- the driver ------------------------------------------------------------

std::mutex g_driverLock;

// Sends one request; an empty result means it was carried out.
std::string driver(const std::string& verb, const std::string& argument) {
    std::lock_guard<std::mutex> lock(g_driverLock);
    std::printf("@@ %s %s\n", verb.c_str(), argument.c_str());
    std::fflush(stdout);
    char answer[1024];
    if (std::fgets(answer, sizeof answer, stdin) == nullptr)
        return "no answer from the driver (run through run-dialog-tests.sh)";
    std::string text(answer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text == "ok") return "";
    return text.empty() ? "empty answer" : text;
}

// ---- the windows of the thread running GetPIN ------------------------------

DWORD g_mainThread;
// The top of the main thread's stack part used by GetPIN and the dialog.
const char* g_getPinFrame;

bool isDialogClass(HWND window) {
    char name[32];
    return GetClassNameA(window, name, sizeof name) > 0 && std::strcmp(name, "#32770") == 0;
}

std::string windowText(HWND window) {
    char text[512] = {0};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string itemText(HWND window, int id) {
    char text[512] = {0};
    GetDlgItemTextA(window, id, text, sizeof text);
    return text;
}

std::vector<HWND> mainThreadDialogs() {
    std::vector<HWND> found;
    EnumThreadWindows(
        g_mainThread,
        [](HWND window, LPARAM list) -> BOOL {
            if (IsWindowVisible(window) && isDialogClass(window))
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Polls for a visible dialog of the main thread with this caption.
HWND waitForWindow(const std::string& caption, int milliseconds = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        for (HWND window : mainThreadDialogs())
            if (windowText(window) == caption) return window;
        Sleep(20);
    } while (std::chrono::steady_clock::now() < end);
    return nullptr;
}

bool waitUntilGone(HWND window, int milliseconds = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (std::chrono::steady_clock::now() >= end) return false;
        Sleep(20);
    }
    return true;
}

// After a failed step: cancels whatever the main thread still shows, so that
// GetPIN returns and the run goes on.
void abandonDialogs() {
    for (int round = 0; round < 100; ++round) {
        const std::vector<HWND> open = mainThreadDialogs();
        if (open.empty()) return;
        for (HWND window : open) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        Sleep(50);
    }
}

// ---- languages -------------------------------------------------------------

struct Language {
    const char* name;
    LANGID id;  // the user language wine must report for this run
    const char* caption;
    const char* prompt;
    const char* emptyPin;
    const char* tooLong;
    const char* errorCaption;
};

// clang-format off
const Language kEnglish = {"en", 0x0409, "Insert PIN", "Insert PIN for signing credential",
                           "Please insert PIN", "PIN too long", "Error"};
const Language kItalian = {"it", 0x0410, "Inserimento PIN", "Inserire PIN per credenziale di firma",
                           "Inserisci il PIN", "PIN troppo lungo", "Errore"};
// Italian as spoken in Switzerland: the same texts.
const Language kSwissItalian = {"it-ch", 0x0810, "Inserimento PIN",
                                "Inserire PIN per credenziale di firma", "Inserisci il PIN",
                                "PIN troppo lungo", "Errore"};
// clang-format on
const Language* const kLanguages[] = {&kEnglish, &kItalian, &kSwissItalian};

const Language* g_language = &kEnglish;

// ---- what the dialog shows -------------------------------------------------

// The size of the bitmap the dialog's picture control shows (0 x 0 if none).
SIZE pictureSize(HWND dialog) {
    struct Search {
        SIZE size;
    } search{{0, 0}};
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM state) -> BOOL {
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP) return TRUE;
            HGDIOBJ image =
                reinterpret_cast<HGDIOBJ>(SendMessageA(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
            BITMAP bitmap;
            if (image != nullptr && GetObjectA(image, sizeof bitmap, &bitmap) == sizeof bitmap)
                reinterpret_cast<Search*>(state)->size = {bitmap.bmWidth, bitmap.bmHeight};
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.size;
}

// Caption, prompt, field, placement, picture and thread of the dialog on screen.
void checkDialog(const std::string& where, HWND dialog) {
    expect(windowText(dialog) == g_language->caption, where,
           "caption " + quoted(windowText(dialog)));
    expect(itemText(dialog, IDC_SIGNER_PIN_PROMPT) == g_language->prompt, where,
           "prompt " + quoted(itemText(dialog, IDC_SIGNER_PIN_PROMPT)));
    HWND field = GetDlgItem(dialog, IDC_SIGNER_PIN_FIELD);
    if (expect(field != nullptr, where, "no PIN field 1000")) {
        expect(SendMessageA(field, EM_GETLIMITTEXT, 0, 0) == 8, where, "typed-text limit is not 8");
        expect((GetWindowLongA(field, GWL_STYLE) & ES_PASSWORD) != 0, where, "field not masked");
        expect(SendMessageA(field, EM_GETPASSWORDCHAR, 0, 0) != 0, where, "no password character");
    }
    expect(GetWindow(dialog, GW_OWNER) == nullptr, where, "the dialog has an owner");
    const SIZE picture = pictureSize(dialog);
    expect(picture.cx == 181 && picture.cy == 54, where,
           "picture " + std::to_string(picture.cx) + "x" + std::to_string(picture.cy) +
               " (bitmap 102 not loaded from the bridge's instance)");
    RECT r;
    GetWindowRect(dialog, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 3;
    expect(r.left == x && r.top == y, where,
           "placed at " + std::to_string(r.left) + "," + std::to_string(r.top) + ", expected " +
               std::to_string(x) + "," + std::to_string(y));
}

bool isErrorIcon(HWND messageBox) {
    struct Search {
        HICON error;
        bool found;
    } search{LoadIconA(nullptr, MAKEINTRESOURCEA(32513) /* IDI_HAND */), false};
    EnumChildWindows(
        messageBox,
        [](HWND child, LPARAM state) -> BOOL {
            auto* s = reinterpret_cast<Search*>(state);
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) == s->error)
                s->found = true;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// ---- the field text --------------------------------------------------------

// Puts text into the PIN field as WM_SETTEXT does, past the typed-text limit.
// Sent as UTF-16, so that the only single-byte copy of it on the main thread
// is the one the dialog reads.
void setFieldText(HWND dialog, const std::string& text) {
    const std::wstring wide(text.begin(), text.end());
    SendDlgItemMessageW(dialog, IDC_SIGNER_PIN_FIELD, WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(wide.c_str()));
}

// Whether these bytes lie in the committed stack pages below `top`, in the
// stack of whichever thread `top` belongs to.
bool stackHolds(const char* top, const std::string& bytes) {
    MEMORY_BASIC_INFORMATION pages;
    if (VirtualQuery(top - 1, &pages, sizeof pages) == 0) return false;
    const char* low = static_cast<const char*>(pages.BaseAddress);
    return std::search(low, top, bytes.begin(), bytes.end()) != top;
}

// The part of what the field held that is searched for: all of it up to the
// store's size, else its first 16 characters. Shorter than 4 characters it
// would be found by chance.
std::string probeOf(const std::string& fieldText) {
    return fieldText.size() < 4
               ? ""
               : fieldText.substr(0, fieldText.size() < 20 ? fieldText.size() : 16);
}

// When the dialog closes (EndDialog hides it from within the dialog
// procedure), the text read from the field must be wiped already: the stack
// between the hook and GetPIN's caller is searched for it.
std::string g_closingProbe;
bool g_probeFoundAtClose = false;

LRESULT CALLBACK searchAtClose(int code, WPARAM wParam, LPARAM lParam) {
    volatile char marker = 0;
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    const bool hiding =
        (call->message == WM_WINDOWPOSCHANGING &&
         (reinterpret_cast<const WINDOWPOS*>(call->lParam)->flags & SWP_HIDEWINDOW) != 0) ||
        (call->message == WM_SHOWWINDOW && call->wParam == FALSE);
    if (code == HC_ACTION && hiding && GetDlgItem(call->hwnd, IDC_SIGNER_PIN_FIELD) != nullptr &&
        !g_closingProbe.empty()) {
        const char* low = const_cast<const char*>(&marker);
        if (std::search(low, g_getPinFrame, g_closingProbe.begin(), g_closingProbe.end()) !=
            g_getPinFrame)
            g_probeFoundAtClose = true;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// ---- one GetPIN with a scripted user ---------------------------------------

// Runs GetPIN on this thread while `user` plays the user on a worker thread.
CK_RV getPinWithUser(const std::string& where, CK_CHAR_PTR pin, CK_ULONG* length, DWORD* lastError,
                     const std::function<bool()>& user) {
    std::atomic<bool> userDone{false};
    std::thread worker([&] {
        if (!user()) abandonDialogs();
        userDone = true;
    });
    volatile char frame = 0;
    g_getPinFrame = const_cast<const char*>(&frame);
    g_probeFoundAtClose = false;
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, searchAtClose, nullptr, GetCurrentThreadId());
    expect(hook != nullptr, where, "no window hook");
    SetLastError(0);
    const CK_RV rv = GetPIN(pin, length);
    *lastError = GetLastError();
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    worker.join();
    expect(!g_probeFoundAtClose, where, "the field buffer was not wiped when the dialog closed");
    g_closingProbe.clear();
    expect(userDone, where, "the user script did not finish");
    return rv;
}

// ---- the key-press cases ---------------------------------------------------

enum class Outcome { Accepted, RefusedEmpty, RefusedTooLong, Cancelled };

struct KeyCase {
    const char* name;
    const char* keysFirst;  // xdotool key names before any text
    const char* typed;      // typed with xdotool
    const char* setText;    // put into the field with WM_SETTEXT
    const char* confirm;    // the key that ends the entry
    Outcome outcome;
    const char* stored;  // what the store then holds
};

// The dialog opens with the focus on OK; Tab Tab reaches the PIN field.
const KeyCase kKeyCases[] = {
    {"four-digits", "Tab Tab", "1234", nullptr, "Return", Outcome::Accepted, "1234"},
    {"typed-beyond-limit", "Tab Tab", "0123456789", nullptr, "Return", Outcome::Accepted,
     "01234567"},
    {"empty", nullptr, nullptr, nullptr, "Return", Outcome::RefusedEmpty, ""},
    {"twenty-set", nullptr, nullptr, "ABCDEFGHIJ0123456789", "Return", Outcome::RefusedTooLong, ""},
    {"twelve-set", nullptr, nullptr, "pin-12-chars", "Return", Outcome::Accepted, "pin-12-chars"},
    {"typed-then-escape", "Tab Tab", "4321", nullptr, "Escape", Outcome::Cancelled, ""},
};

bool storeHolds(const char* text) {
    CK_CHAR expected[sizeof g_SignerPin] = {0};
    std::memcpy(expected, text, std::strlen(text));
    return std::memcmp(g_SignerPin, expected, sizeof expected) == 0;
}

bool keys(const std::string& where, const std::string& names) {
    const std::string error = driver("key", g_language->caption + std::string("|") + names);
    return expect(error.empty(), where, "keys " + names + ": " + error);
}

void shot(const std::string& where, const std::string& name) {
    const std::string error = driver("shot", std::string(g_language->name) + "-" + name);
    expect(error.empty(), where, "screenshot: " + error);
}

// The refusal: the message box, its texts and icon; after it is dismissed
// the dialog is still open and the store still empty.
// While the box is shown, the text read from the field is already wiped.
bool answerRefusal(const std::string& where, HWND dialog, const char* text, const char* shotName,
                   const std::string& fieldText) {
    HWND box = waitForWindow(g_language->errorCaption);
    if (!expect(box != nullptr, where,
                std::string("no message box ") + quoted(g_language->errorCaption)))
        return false;
    expect(itemText(box, 0xFFFF) == text, where, "message " + quoted(itemText(box, 0xFFFF)));
    expect(GetWindow(box, GW_OWNER) == dialog, where, "message box not owned by the dialog");
    expect(isErrorIcon(box), where, "message box without the error icon");
    expect(storeHolds(""), where, "store filled by a refused PIN");
    const std::string probe = probeOf(fieldText);
    expect(probe.empty() || !stackHolds(g_getPinFrame, probe), where,
           "the field buffer was not wiped before the message box");
    if (shotName != nullptr) shot(where, shotName);
    if (shotName != nullptr) {
        if (!expect(driver("key", std::string(g_language->errorCaption) + "|Return").empty(), where,
                    "could not dismiss the message box"))
            return false;
    } else {
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    if (!expect(waitUntilGone(box), where, "message box still shown")) return false;
    Sleep(50);
    return expect(IsWindow(dialog) && IsWindowVisible(dialog), where,
                  "the dialog closed after the refusal");
}

void runKeyCase(const KeyCase& c) {
    const std::string where = std::string(g_language->name) + "/" + c.name;
    std::printf("case %s\n", where.c_str());
    std::fflush(stdout);
    armSignerPinCallback();
    CK_CHAR pin[32];
    std::memset(pin, 0xA5, sizeof pin);
    CK_ULONG length = 999;
    DWORD lastError = 0;
    g_closingProbe = probeOf(c.stored);
    const CK_RV rv = getPinWithUser(where, nullptr, &length, &lastError, [&] {
        HWND dialog = waitForWindow(g_language->caption);
        if (!expect(dialog != nullptr, where, "no dialog " + quoted(g_language->caption)))
            return false;
        checkDialog(where, dialog);
        if (c.keysFirst != nullptr && !keys(where, c.keysFirst)) return false;
        if (c.typed != nullptr) {
            const std::string error =
                driver("type", g_language->caption + std::string("|") + c.typed);
            if (!expect(error.empty(), where, "typing: " + error)) return false;
        }
        if (c.setText != nullptr) setFieldText(dialog, c.setText);
        shot(where, c.name);
        if (!keys(where, c.confirm)) return false;
        if (c.outcome == Outcome::RefusedEmpty || c.outcome == Outcome::RefusedTooLong) {
            const char* text =
                c.outcome == Outcome::RefusedEmpty ? g_language->emptyPin : g_language->tooLong;
            if (!answerRefusal(where, dialog, text, (std::string(c.name) + "-refused").c_str(),
                               c.setText != nullptr ? c.setText : ""))
                return false;
            if (!keys(where, "Escape")) return false;
        }
        return expect(waitUntilGone(dialog), where, "the dialog is still open");
    });
    expect(rv == CKR_OK, where, "GetPIN returned " + std::to_string(rv));
    const std::size_t want = std::strlen(c.stored);
    expect(length == want, where, "length " + std::to_string(length));
    expect(storeHolds(c.stored), where, "the store does not hold " + quoted(c.stored));
    if (c.outcome == Outcome::Accepted) return;
    expect(lastError == ERROR_INVALID_FUNCTION, where,
           "last error " + std::to_string(lastError) + " after the cancel");
}

// ---- the sweep of lengths put in with WM_SETTEXT ---------------------------

struct LengthCase {
    std::size_t length;
    bool accepted;
};

const LengthCase kLengths[] = {{1, true},    {8, true},    {9, true},    {18, true},
                               {19, true},   {20, false},  {21, false},  {100, false},
                               {255, false}, {256, false}, {300, false}, {1000, false}};

void runLengthCase(const LengthCase& c) {
    const std::string where = std::string(g_language->name) + "/set-" + std::to_string(c.length);
    armSignerPinCallback();
    std::string text;
    for (std::size_t i = 0; i < c.length; ++i) text += static_cast<char>('a' + (i * 7) % 26);
    CK_CHAR pin[32];
    std::memset(pin, 0xA5, sizeof pin);
    CK_ULONG length = 999;
    DWORD lastError = 0;
    if (c.accepted) g_closingProbe = probeOf(text);
    const CK_RV rv = getPinWithUser(where, nullptr, &length, &lastError, [&] {
        HWND dialog = waitForWindow(g_language->caption);
        if (!expect(dialog != nullptr, where, "no dialog")) return false;
        setFieldText(dialog, text);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        if (!c.accepted) {
            if (!answerRefusal(where, dialog, g_language->tooLong, nullptr, text.substr(0, 255)))
                return false;
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
        return expect(waitUntilGone(dialog), where, "the dialog is still open");
    });
    expect(rv == CKR_OK, where, "GetPIN returned " + std::to_string(rv));
    expect(length == (c.accepted ? c.length : 0), where, "length " + std::to_string(length));
    expect(storeHolds(c.accepted ? text.c_str() : ""), where, "store content");
    if (c.accepted) {
        // A second request copies the stored bytes without a terminator.
        CK_ULONG again = 0;
        expect(GetPIN(pin, &again) == CKR_OK && again == c.length &&
                   std::memcmp(pin, text.data(), c.length) == 0 && pin[c.length] == 0xA5,
               where, "the copy of the stored PIN");
    } else {
        expect(lastError == ERROR_INVALID_FUNCTION, where, "last error after the cancel");
    }
}

// ---- every way the dialog can end -----------------------------------------

// The worker asks the main thread, through this message, to end the dialog
// with a given result, as only the dialog's own thread may.
UINT g_endDialogMessage;

LRESULT CALLBACK endOnRequest(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == g_endDialogMessage) {
        EndDialog(message->hwnd, static_cast<INT_PTR>(message->wParam));
        message->message = WM_NULL;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct EndingCase {
    INT_PTR result;   // what the dialog ends with
    CK_RV rv;         // GetPIN's answer
    DWORD lastError;  // the thread's last error after it
};

const EndingCase kEndings[] = {
    {0, CKR_OK, ERROR_INVALID_FUNCTION},
    {IDCANCEL, CKR_OK, ERROR_INVALID_FUNCTION},
    {IDOK, CKR_OK, 0},
    {3, CKR_FUNCTION_FAILED, 3},
    {7, CKR_FUNCTION_FAILED, 7},
    {1234, CKR_FUNCTION_FAILED, 1234},
    {0x7FFFFFFF, CKR_FUNCTION_FAILED, 0x7FFFFFFF},
};

void runEndingCase(const EndingCase& c) {
    const std::string where =
        std::string(g_language->name) + "/ends-with-" + std::to_string(c.result);
    armSignerPinCallback();
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, endOnRequest, nullptr, GetCurrentThreadId());
    if (!expect(hook != nullptr, where, "no message hook")) return;
    CK_CHAR pin[8];
    std::memset(pin, 0xA5, sizeof pin);
    CK_ULONG length = 999;
    DWORD lastError = 0;
    const CK_RV rv = getPinWithUser(where, pin, &length, &lastError, [&] {
        HWND dialog = waitForWindow(g_language->caption);
        if (!expect(dialog != nullptr, where, "no dialog")) return false;
        PostMessageA(dialog, g_endDialogMessage, static_cast<WPARAM>(c.result), 0);
        return expect(waitUntilGone(dialog), where, "the dialog is still open");
    });
    UnhookWindowsHookEx(hook);
    expect(rv == c.rv, where, "GetPIN returned " + std::to_string(rv));
    expect(lastError == c.lastError, where, "last error " + std::to_string(lastError));
    if (rv == CKR_OK) expect(length == 0, where, "length " + std::to_string(length));
    expect(pin[0] == 0xA5 && storeHolds(""), where, "something was stored or copied");
}

// ---- the store's life: filled once, emptied by a session opening -----------

// Counts the dialogs the main thread creates; optionally refuses them, so the
// dialog cannot be shown.
std::atomic<int> g_dialogsCreated{0};
bool g_refuseDialogs = false;

LRESULT CALLBACK countDialogs(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        auto* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam);
        if (create->lpcs->lpszClass == MAKEINTRESOURCEA(32770) ||
            isDialogClass(reinterpret_cast<HWND>(wParam))) {
            ++g_dialogsCreated;
            if (g_refuseDialogs) return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void storeLifecycle() {
    const std::string where = std::string(g_language->name) + "/store-lifecycle";
    std::printf("case %s\n", where.c_str());
    armSignerPinCallback();
    CK_ULONG length = 0;
    DWORD lastError = 0;
    CK_RV rv = getPinWithUser(where, nullptr, &length, &lastError, [&] {
        HWND dialog = waitForWindow(g_language->caption);
        if (!expect(dialog != nullptr, where, "no dialog")) return false;
        if (!keys(where, "Tab Tab") ||
            !driver("type", g_language->caption + std::string("|2468")).empty())
            return false;
        if (!keys(where, "Return")) return false;
        return expect(waitUntilGone(dialog), where, "the dialog is still open");
    });
    expect(rv == CKR_OK && length == 4, where, "first request: length " + std::to_string(length));

    HHOOK hook = SetWindowsHookExA(WH_CBT, countDialogs, nullptr, GetCurrentThreadId());
    if (!expect(hook != nullptr, where, "no window hook")) return;
    g_dialogsCreated = 0;
    g_refuseDialogs = true;
    CK_CHAR pin[8];
    std::memset(pin, 0xA5, sizeof pin);
    for (int request = 0; request < 3; ++request) {
        length = 0;
        rv = GetPIN(pin, &length);
        expect(rv == CKR_OK && length == 4 && std::memcmp(pin, "2468", 4) == 0 && pin[4] == 0xA5,
               where, "request " + std::to_string(request + 2) + " with the store filled");
    }
    expect(g_dialogsCreated == 0, where, "a filled store showed the dialog again");

    // A session opening empties the store: the next request asks again; here
    // the dialog cannot be created, so the request fails and the store stays
    // empty for the one after.
    armSignerPinCallback();
    expect(storeHolds(""), where, "the session opening left the store filled");
    length = 77;
    rv = GetPIN(pin, &length);
    expect(rv == CKR_FUNCTION_FAILED, where,
           "a dialog that cannot be shown gave " + std::to_string(rv));
    expect(g_dialogsCreated == 1, where, "the emptied store did not ask for the dialog");
    expect(storeHolds(""), where, "store filled by a failed request");
    g_refuseDialogs = false;
    UnhookWindowsHookEx(hook);

    rv = getPinWithUser(where, nullptr, &length, &lastError, [&] {
        HWND dialog = waitForWindow(g_language->caption);
        if (!expect(dialog != nullptr, where, "no dialog after the failed one")) return false;
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return expect(waitUntilGone(dialog), where, "the dialog is still open");
    });
    expect(rv == CKR_OK && length == 0 && lastError == ERROR_INVALID_FUNCTION, where,
           "cancelled request after the failed one");
}

// ---- the template ----------------------------------------------------------

// Reads a DLGTEMPLATE's sz_Or_Ord field; returns its text or "#<ordinal>".
std::string readSzOrOrd(const WORD*& p) {
    if (*p == 0xFFFF) {
        const std::string ord = "#" + std::to_string(p[1]);
        p += 2;
        return ord;
    }
    std::string text;
    while (*p != 0) text += static_cast<char>(*p++);
    ++p;
    return text;
}

// A control class as a name: the predefined ordinals, or the name upper-cased.
std::string className(std::string klass) {
    if (klass == "#128") return "BUTTON";
    if (klass == "#129") return "EDIT";
    if (klass == "#130") return "STATIC";
    for (char& ch : klass) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return klass;
}

struct ControlRow {
    std::string klass;  // BUTTON, EDIT or STATIC
    std::string text;
    int id;
    short x, y, cx, cy;
    DWORD style;
};

void checkTemplate(const std::string& where, HMODULE module) {
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(5) /* RT_DIALOG */,
                                  MAKEINTRESOURCEA(IDD_SIGNER_PIN),
                                  MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN));
    if (!expect(found != nullptr, where, "no dialog 101 under language 1040")) return;
    const auto* dlg = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found)));
    const DWORD wantStyle = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION;
    expect((dlg->style & ~WS_SYSMENU) == wantStyle, where, "dialog style");
    expect(dlg->cdit == 5 && dlg->x == 0 && dlg->y == 0 && dlg->cx == 139 && dlg->cy == 108, where,
           "dialog position, size or item count");
    const WORD* p = reinterpret_cast<const WORD*>(dlg + 1);
    expect(readSzOrOrd(p) == "", where, "dialog has a menu");
    expect(readSzOrOrd(p) == "", where, "dialog has its own class");
    expect(readSzOrOrd(p) == "Insert PIN", where, "dialog caption");
    expect(*p++ == 8, where, "font size");
    expect(readSzOrOrd(p) == "MS Sans Serif", where, "font name");

    const ControlRow rows[] = {
        {"BUTTON", "OK", IDOK, 7, 87, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP},
        {"BUTTON", "Cancel", IDCANCEL, 82, 87, 50, 14, BS_PUSHBUTTON | WS_TABSTOP},
        {"EDIT", "", IDC_SIGNER_PIN_FIELD, 7, 67, 125, 13, ES_PASSWORD | WS_BORDER | WS_TABSTOP},
        {"STATIC", "#102", 0xFFFF, 9, 10, 122, 34, SS_BITMAP | SS_SUNKEN},
        {"STATIC", "Insert PIN for signing credential", IDC_SIGNER_PIN_PROMPT, 10, 56, 120, 8,
         SS_LEFT | WS_GROUP},
    };
    for (const ControlRow& row : rows) {
        p = reinterpret_cast<const WORD*>((reinterpret_cast<std::uintptr_t>(p) + 3) &
                                          ~std::uintptr_t{3});
        const auto* item = reinterpret_cast<const DLGITEMTEMPLATE*>(p);
        const std::string at = where + " control " + std::to_string(row.id);
        const DWORD ignore = WS_CHILD | WS_VISIBLE | ES_LEFT;
        expect((item->style & ~ignore) == row.style, at, "style " + std::to_string(item->style));
        expect(item->x == row.x && item->y == row.y && item->cx == row.cx && item->cy == row.cy, at,
               "position or size");
        expect(item->id == static_cast<WORD>(row.id), at, "id " + std::to_string(item->id));
        p = reinterpret_cast<const WORD*>(item + 1);
        const std::string klass = className(readSzOrOrd(p));
        expect(klass == row.klass, at, "class " + klass);
        const std::string text = readSzOrOrd(p);
        expect(text == row.text, at, "text " + quoted(text));
        const WORD extra = *p++;
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const char*>(p) + extra);
    }

    HRSRC bitmap = FindResourceA(module, MAKEINTRESOURCEA(IDB_SIGNER_PIN_IMAGE),
                                 MAKEINTRESOURCEA(2) /* RT_BITMAP */);
    if (!expect(bitmap != nullptr, where, "no bitmap 102")) return;
    const auto* info =
        static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, bitmap)));
    expect(info->biWidth == 181 && info->biHeight == 54 && info->biBitCount == 4, where,
           "bitmap " + std::to_string(info->biWidth) + "x" + std::to_string(info->biHeight) + "x" +
               std::to_string(info->biBitCount));
}

std::string windowsPath(const char* path) {
    std::string p(path);
    if (!p.empty() && p[0] == '/') {
        p = "Z:" + p;
        for (char& ch : p)
            if (ch == '/') ch = '\\';
    }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const char* dll = nullptr;
    const char* lang = "en";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--lang") == 0) lang = argv[i + 1];
        if (std::strcmp(argv[i], "--dll") == 0) dll = argv[i + 1];
    }
    g_language = nullptr;
    for (const Language* known : kLanguages)
        if (std::strcmp(lang, known->name) == 0) g_language = known;
    if (g_language == nullptr) {
        std::printf("unknown --lang %s (en, it or it-ch)\n", lang);
        return 2;
    }
    g_mainThread = GetCurrentThreadId();
    // The program holds the bridge's objects and resources: it stands in for
    // kelvane.dll, whose attach routine records the instance the dialog and
    // its picture are loaded from.
    DllMain(GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH, nullptr);

    const LANGID user = GetUserDefaultLangID();
    std::printf("user language 0x%04x, expecting 0x%04x (%s texts)\n", user, g_language->id,
                g_language->name);
    if (!expect(user == g_language->id, "language",
                "wine's user language does not match --lang (check LANG and the locales)")) {
        std::printf("dialog cases (%s): 0 run, 1 failures\n", g_language->name);
        return 1;
    }

    checkTemplate("template (test program)", GetModuleHandleA(nullptr));
    int run = 1;
    if (dll != nullptr) {
        HMODULE library = LoadLibraryExA(windowsPath(dll).c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (expect(library != nullptr, "template (kelvane.dll)", std::string("cannot load ") + dll))
            checkTemplate("template (kelvane.dll)", library);
        ++run;
    }
    for (const KeyCase& c : kKeyCases) runKeyCase(c), ++run;
    storeLifecycle(), ++run;
    for (const LengthCase& c : kLengths) runLengthCase(c), ++run;
    g_endDialogMessage = RegisterWindowMessageA("kelvane dialog test: end");
    for (const EndingCase& c : kEndings) runEndingCase(c), ++run;

    std::printf("dialog cases (%s): %d run, %zu failures\n", g_language->name, run,
                g_failures.size());
    return g_failures.empty() ? 0 : 1;
}
