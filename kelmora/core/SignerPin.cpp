// Second authentication: whether the module needs the signer PIN besides the
// login, and the PIN handed to the module when it asks.
#include "SignerPin.h"

#include <cstring>

#include "../jni_methods.h"
#include "Platform.h"

namespace {

CK_ULONG storedPinLength() {
    // The store holds at most 19 characters and a terminator.
    return static_cast<CK_ULONG>(
        strnlen(reinterpret_cast<const char*>(g_SignerPin), sizeof g_SignerPin - 1));
}

}  // namespace

extern "C" CK_RV GetPIN(CK_CHAR_PTR pPin, CK_ULONG* ulPinLen) {
    LogFunction("GetPIN - Entering function", 0);
    if (ulPinLen == nullptr) return CKR_ARGUMENTS_BAD;
    *ulPinLen = storedPinLength();
    if (*ulPinLen == 0) {
        LogFunction("GetPIN - No defined signer pin", 0);
        const CK_RV rv = platform::requestSignerPin();
        if (rv != CKR_OK) return rv;
        *ulPinLen = storedPinLength();
    }
    if (pPin != nullptr) {
        LogFunction("GetPIN - Copying signer pin (%d bytes)", 0, static_cast<int>(*ulPinLen));
        std::memcpy(pPin, g_SignerPin, *ulPinLen);
    }
    return CKR_OK;
}

void armSignerPinCallback() {
    std::memset(g_SignerPin, 0, sizeof g_SignerPin);
    if (pC_SetCallBack != nullptr) {
        const CK_RV rv = pC_SetCallBack(0, reinterpret_cast<CK_VOID_PTR>(&GetPIN));
        LogFunction("J_1OpenSession - C_SetCallback", rv);
    }
}

extern "C" JNIEXPORT jboolean JNICALL
Java_qorvik_nat_NativeCryptoki_IsSecondAuthenticationRequired(JNIEnv*, jobject) {
    return g_bIsSecondAuthenticationRequired ? JNI_TRUE : JNI_FALSE;
}
