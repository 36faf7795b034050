// Library, slot and token entry points.
#include <cstddef>
#include <cstring>

#include "mock_call.h"

using namespace p11mock;

namespace {

Slot* token_slot(State& st, CK_SLOT_ID id, CK_RV* rv) {
    Slot* slot = st.slot(id);
    if (slot == nullptr) {
        *rv = CKR_SLOT_ID_INVALID;
    } else if (!slot->token_present()) {
        *rv = CKR_TOKEN_NOT_PRESENT;
        slot = nullptr;
    }
    return slot;
}

CK_FUNCTION_LIST make_function_list() {
    CK_FUNCTION_LIST f;
    std::memset(&f, 0, sizeof f);
    f.version = {2, 20};
    f.C_Initialize = C_Initialize;
    f.C_Finalize = C_Finalize;
    f.C_GetInfo = C_GetInfo;
    f.C_GetFunctionList = C_GetFunctionList;
    f.C_GetSlotList = C_GetSlotList;
    f.C_GetSlotInfo = C_GetSlotInfo;
    f.C_GetTokenInfo = C_GetTokenInfo;
    f.C_GetMechanismList = C_GetMechanismList;
    f.C_GetMechanismInfo = C_GetMechanismInfo;
    f.C_InitToken = C_InitToken;
    f.C_InitPIN = C_InitPIN;
    f.C_SetPIN = C_SetPIN;
    f.C_OpenSession = C_OpenSession;
    f.C_CloseSession = C_CloseSession;
    f.C_CloseAllSessions = C_CloseAllSessions;
    f.C_GetSessionInfo = C_GetSessionInfo;
    f.C_GetOperationState = C_GetOperationState;
    f.C_SetOperationState = C_SetOperationState;
    f.C_Login = C_Login;
    f.C_Logout = C_Logout;
    f.C_CreateObject = C_CreateObject;
    f.C_CopyObject = C_CopyObject;
    f.C_DestroyObject = C_DestroyObject;
    f.C_GetObjectSize = C_GetObjectSize;
    f.C_GetAttributeValue = C_GetAttributeValue;
    f.C_SetAttributeValue = C_SetAttributeValue;
    f.C_FindObjectsInit = C_FindObjectsInit;
    f.C_FindObjects = C_FindObjects;
    f.C_FindObjectsFinal = C_FindObjectsFinal;
    f.C_EncryptInit = C_EncryptInit;
    f.C_Encrypt = C_Encrypt;
    f.C_EncryptUpdate = C_EncryptUpdate;
    f.C_EncryptFinal = C_EncryptFinal;
    f.C_DecryptInit = C_DecryptInit;
    f.C_Decrypt = C_Decrypt;
    f.C_DecryptUpdate = C_DecryptUpdate;
    f.C_DecryptFinal = C_DecryptFinal;
    f.C_DigestInit = C_DigestInit;
    f.C_Digest = C_Digest;
    f.C_DigestUpdate = C_DigestUpdate;
    f.C_DigestKey = C_DigestKey;
    f.C_DigestFinal = C_DigestFinal;
    f.C_SignInit = C_SignInit;
    f.C_Sign = C_Sign;
    f.C_SignUpdate = C_SignUpdate;
    f.C_SignFinal = C_SignFinal;
    f.C_SignRecoverInit = C_SignRecoverInit;
    f.C_SignRecover = C_SignRecover;
    f.C_VerifyInit = C_VerifyInit;
    f.C_Verify = C_Verify;
    f.C_VerifyUpdate = C_VerifyUpdate;
    f.C_VerifyFinal = C_VerifyFinal;
    f.C_VerifyRecoverInit = C_VerifyRecoverInit;
    f.C_VerifyRecover = C_VerifyRecover;
    f.C_DigestEncryptUpdate = C_DigestEncryptUpdate;
    f.C_DecryptDigestUpdate = C_DecryptDigestUpdate;
    f.C_SignEncryptUpdate = C_SignEncryptUpdate;
    f.C_DecryptVerifyUpdate = C_DecryptVerifyUpdate;
    f.C_GenerateKey = C_GenerateKey;
    f.C_GenerateKeyPair = C_GenerateKeyPair;
    f.C_WrapKey = C_WrapKey;
    f.C_UnwrapKey = C_UnwrapKey;
    f.C_DeriveKey = C_DeriveKey;
    f.C_SeedRandom = C_SeedRandom;
    f.C_GenerateRandom = C_GenerateRandom;
    f.C_GetFunctionStatus = C_GetFunctionStatus;
    f.C_CancelFunction = C_CancelFunction;
    f.C_WaitForSlotEvent = C_WaitForSlotEvent;
    return f;
}

// The v2.x list: the version and 68 entry points.
static_assert((sizeof(CK_FUNCTION_LIST) - offsetof(CK_FUNCTION_LIST, C_Initialize)) /
                      sizeof(CK_C_Initialize) ==
                  68,
              "CK_FUNCTION_LIST is not the v2.x list");

}  // namespace

extern "C" {

P11MOCK_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    static CK_FUNCTION_LIST list = make_function_list();
    Call c("C_GetFunctionList");
    c.ptr(ppFunctionList);
    CK_RV rv;
    if (c.intercepted(&rv, false)) return rv;
    if (ppFunctionList == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    *ppFunctionList = &list;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_Initialize(CK_VOID_PTR pInitArgs) {
    Call c("C_Initialize");
    c.ptr(pInitArgs);
    CK_RV rv;
    if (c.intercepted(&rv, false)) return rv;
    if (pInitArgs != nullptr) {
        const CK_C_INITIALIZE_ARGS* args = static_cast<const CK_C_INITIALIZE_ARGS*>(pInitArgs);
        const int locks = (args->CreateMutex != nullptr) + (args->DestroyMutex != nullptr) +
                          (args->LockMutex != nullptr) + (args->UnlockMutex != nullptr);
        if (args->pReserved != nullptr || (locks != 0 && locks != 4)) {
            return c.done(CKR_ARGUMENTS_BAD);
        }
    }
    if (c.st.initialized) return c.done(CKR_CRYPTOKI_ALREADY_INITIALIZED);
    c.st.drop_sessions();
    c.st.initialized = true;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_Finalize(CK_VOID_PTR pReserved) {
    Call c("C_Finalize");
    c.ptr(pReserved);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (pReserved != nullptr) return c.done(CKR_ARGUMENTS_BAD);
    c.st.drop_sessions();
    c.st.initialized = false;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_GetInfo(CK_INFO_PTR pInfo) {
    Call c("C_GetInfo");
    c.ptr(pInfo);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (pInfo == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    *pInfo = c.st.info;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList,
                                   CK_ULONG_PTR pulCount) {
    Call c("C_GetSlotList");
    c.arg(tokenPresent).ptr(pSlotList).inout(pulCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    std::vector<CK_ULONG> ids;
    for (const Slot& s : c.st.slots) {
        if (tokenPresent == CK_FALSE || s.token_present()) ids.push_back(s.id);
    }
    return c.done(deliver_list(c, ids, pSlotList, pulCount));
}

P11MOCK_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
    Call c("C_GetSlotInfo");
    c.arg(slotID).ptr(pInfo);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    const Slot* slot = c.st.slot(slotID);
    if (slot == nullptr) return c.done(CKR_SLOT_ID_INVALID);
    if (pInfo == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    *pInfo = slot->info;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
    Call c("C_GetTokenInfo");
    c.arg(slotID).ptr(pInfo);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    const Slot* slot = token_slot(c.st, slotID, &rv);
    if (slot == nullptr) return c.done(rv);
    if (pInfo == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    *pInfo = slot->token;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList,
                                        CK_ULONG_PTR pulCount) {
    Call c("C_GetMechanismList");
    c.arg(slotID).ptr(pMechanismList).inout(pulCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (token_slot(c.st, slotID, &rv) == nullptr) return c.done(rv);
    return c.done(deliver_list(c, c.st.mechanisms, pMechanismList, pulCount));
}

P11MOCK_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type,
                                        CK_MECHANISM_INFO_PTR pInfo) {
    Call c("C_GetMechanismInfo");
    c.arg(slotID).arg(type).ptr(pInfo);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (token_slot(c.st, slotID, &rv) == nullptr) return c.done(rv);
    if (pInfo == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    for (size_t i = 0; i < c.st.mechanisms.size(); ++i) {
        if (c.st.mechanisms[i] == type) {
            *pInfo = c.st.mechanism_info[i];
            return c.done(CKR_OK);
        }
    }
    return c.done(CKR_MECHANISM_INVALID);
}

P11MOCK_EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot,
                                        CK_VOID_PTR pReserved) {
    Call c("C_WaitForSlotEvent");
    c.arg(flags).ptr(pSlot).ptr(pReserved);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (pSlot == nullptr || pReserved != nullptr) return c.done(CKR_ARGUMENTS_BAD);
    // Never blocks: a test waiting for an event would hang the suite.
    if (c.st.events.empty()) return c.done(CKR_NO_EVENT);
    *pSlot = c.st.events.front();
    c.st.events.pop_front();
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen,
                                 CK_UTF8CHAR_PTR pLabel) {
    Call c("C_InitToken");
    c.arg(slotID).ptr(pPin).arg(ulPinLen).ptr(pLabel);
    c.bytes(pPin, ulPinLen).bytes(pLabel, 32);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    Slot* slot = token_slot(c.st, slotID, &rv);
    if (slot == nullptr) return c.done(rv);
    if (pLabel == nullptr || (pPin == nullptr && ulPinLen != 0)) return c.done(CKR_ARGUMENTS_BAD);
    for (const Session& s : c.st.sessions) {
        if (s.slot == slotID) return c.done(CKR_SESSION_EXISTS);
    }
    const Bytes pin = to_bytes(pPin, ulPinLen);
    if ((slot->token.flags & CKF_TOKEN_INITIALIZED) != 0) {
        if (pin != slot->so_pin) return c.done(CKR_PIN_INCORRECT);
    } else {
        slot->so_pin = pin;
    }
    std::memcpy(slot->token.label, pLabel, sizeof slot->token.label);
    slot->token.flags |= CKF_TOKEN_INITIALIZED;
    return c.done(CKR_OK);
}

}  // extern "C"
