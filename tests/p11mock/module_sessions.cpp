// Sessions, login and PIN administration.
#include <algorithm>

#include "mock_call.h"

using namespace p11mock;

namespace {

bool read_only_session_on(const State& st, CK_SLOT_ID slot) {
    return std::any_of(st.sessions.begin(), st.sessions.end(), [slot](const Session& s) {
        return s.slot == slot && (s.flags & CKF_RW_SESSION) == 0;
    });
}

bool pin_length_ok(const Slot& slot, CK_ULONG length) {
    return length >= slot.token.ulMinPinLen && length <= slot.token.ulMaxPinLen;
}

CK_STATE session_state(const Session& session, const Slot& slot) {
    const bool rw = (session.flags & CKF_RW_SESSION) != 0;
    if (slot.logged_in == CKU_SO) return CKS_RW_SO_FUNCTIONS;
    if (slot.logged_in == CKU_USER) return rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
    return rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
}

// Session and its slot, or the error that prevents using them.
CK_RV find_session(State& st, CK_SESSION_HANDLE handle, Session** session, Slot** slot) {
    *session = st.session(handle);
    if (*session == nullptr) return CKR_SESSION_HANDLE_INVALID;
    *slot = st.slot((*session)->slot);
    return *slot == nullptr ? CKR_DEVICE_REMOVED : CKR_OK;
}

}  // namespace

extern "C" {

P11MOCK_EXPORT CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication,
                                   CK_NOTIFY Notify, CK_SESSION_HANDLE_PTR phSession) {
    Call c("C_OpenSession");
    c.arg(slotID).arg(flags).ptr(pApplication).ptr(reinterpret_cast<const void*>(Notify));
    c.ptr(phSession);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (phSession == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    if ((flags & CKF_SERIAL_SESSION) == 0) return c.done(CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    const Slot* slot = c.st.slot(slotID);
    if (slot == nullptr) return c.done(CKR_SLOT_ID_INVALID);
    if (!slot->token_present()) return c.done(CKR_TOKEN_NOT_PRESENT);
    if (slot->logged_in == CKU_SO && (flags & CKF_RW_SESSION) == 0) {
        return c.done(CKR_SESSION_READ_WRITE_SO_EXISTS);
    }
    Session s;
    s.handle = c.st.new_session_handle();
    s.slot = slotID;
    s.flags = flags;
    c.st.sessions.push_back(s);
    *phSession = s.handle;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
    Call c("C_CloseSession");
    c.arg(hSession);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (c.st.session(hSession) == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    c.st.close_session(hSession);
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) {
    Call c("C_CloseAllSessions");
    c.arg(slotID);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (c.st.slot(slotID) == nullptr) return c.done(CKR_SLOT_ID_INVALID);
    std::vector<CK_SESSION_HANDLE> handles;
    for (const Session& s : c.st.sessions) {
        if (s.slot == slotID) handles.push_back(s.handle);
    }
    for (CK_SESSION_HANDLE h : handles) c.st.close_session(h);
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
    Call c("C_GetSessionInfo");
    c.arg(hSession).ptr(pInfo);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    Session* session;
    Slot* slot;
    if ((rv = find_session(c.st, hSession, &session, &slot)) != CKR_OK) return c.done(rv);
    if (pInfo == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    pInfo->slotID = session->slot;
    pInfo->state = session_state(*session, *slot);
    pInfo->flags = session->flags;
    pInfo->ulDeviceError = 0;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType,
                             CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    Call c("C_Login");
    c.arg(hSession).arg(userType).ptr(pPin).arg(ulPinLen).bytes(pPin, ulPinLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    Session* session;
    Slot* slot;
    if ((rv = find_session(c.st, hSession, &session, &slot)) != CKR_OK) return c.done(rv);
    if (pPin == nullptr && ulPinLen != 0) return c.done(CKR_ARGUMENTS_BAD);
    const Bytes pin = to_bytes(pPin, ulPinLen);
    switch (userType) {
        case CKU_SO:
            if (slot->logged_in == CKU_SO) return c.done(CKR_USER_ALREADY_LOGGED_IN);
            if (slot->logged_in == CKU_USER) return c.done(CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
            if (read_only_session_on(c.st, slot->id)) return c.done(CKR_SESSION_READ_ONLY_EXISTS);
            if (pin != slot->so_pin) return c.done(CKR_PIN_INCORRECT);
            slot->logged_in = CKU_SO;
            return c.done(CKR_OK);
        case CKU_USER:
            if (slot->logged_in == CKU_USER) return c.done(CKR_USER_ALREADY_LOGGED_IN);
            if (slot->logged_in == CKU_SO) return c.done(CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
            if ((slot->token.flags & CKF_USER_PIN_INITIALIZED) == 0) {
                return c.done(CKR_USER_PIN_NOT_INITIALIZED);
            }
            if (pin != slot->user_pin) return c.done(CKR_PIN_INCORRECT);
            slot->logged_in = CKU_USER;
            return c.done(CKR_OK);
        case CKU_CONTEXT_SPECIFIC:
            if (slot->logged_in == kNobodyLoggedIn) return c.done(CKR_USER_NOT_LOGGED_IN);
            if (pin != (slot->logged_in == CKU_SO ? slot->so_pin : slot->user_pin)) {
                return c.done(CKR_PIN_INCORRECT);
            }
            return c.done(CKR_OK);
        default:
            return c.done(CKR_USER_TYPE_INVALID);
    }
}

P11MOCK_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE hSession) {
    Call c("C_Logout");
    c.arg(hSession);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    Session* session;
    Slot* slot;
    if ((rv = find_session(c.st, hSession, &session, &slot)) != CKR_OK) return c.done(rv);
    if (slot->logged_in == kNobodyLoggedIn) return c.done(CKR_USER_NOT_LOGGED_IN);
    slot->logged_in = kNobodyLoggedIn;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin,
                               CK_ULONG ulPinLen) {
    Call c("C_InitPIN");
    c.arg(hSession).ptr(pPin).arg(ulPinLen).bytes(pPin, ulPinLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    Session* session;
    Slot* slot;
    if ((rv = find_session(c.st, hSession, &session, &slot)) != CKR_OK) return c.done(rv);
    if (slot->logged_in != CKU_SO) return c.done(CKR_USER_NOT_LOGGED_IN);
    if (pPin == nullptr && ulPinLen != 0) return c.done(CKR_ARGUMENTS_BAD);
    if (!pin_length_ok(*slot, ulPinLen)) return c.done(CKR_PIN_LEN_RANGE);
    slot->user_pin = to_bytes(pPin, ulPinLen);
    slot->token.flags |= CKF_USER_PIN_INITIALIZED;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin,
                              CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen) {
    Call c("C_SetPIN");
    c.arg(hSession).ptr(pOldPin).arg(ulOldLen).ptr(pNewPin).arg(ulNewLen);
    c.bytes(pOldPin, ulOldLen).bytes(pNewPin, ulNewLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    Session* session;
    Slot* slot;
    if ((rv = find_session(c.st, hSession, &session, &slot)) != CKR_OK) return c.done(rv);
    if ((pOldPin == nullptr && ulOldLen != 0) || (pNewPin == nullptr && ulNewLen != 0)) {
        return c.done(CKR_ARGUMENTS_BAD);
    }
    if ((session->flags & CKF_RW_SESSION) == 0) return c.done(CKR_SESSION_READ_ONLY);
    Bytes& target = slot->logged_in == CKU_SO ? slot->so_pin : slot->user_pin;
    if (to_bytes(pOldPin, ulOldLen) != target) return c.done(CKR_PIN_INCORRECT);
    if (!pin_length_ok(*slot, ulNewLen)) return c.done(CKR_PIN_LEN_RANGE);
    target = to_bytes(pNewPin, ulNewLen);
    return c.done(CKR_OK);
}

}  // extern "C"
