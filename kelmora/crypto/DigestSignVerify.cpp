// Digests, signatures and verifications, with message recovery.
#include <optional>
#include <vector>

#include "../convert/Mechanism.h"
#include "../jni_methods.h"
#include "Operation.h"

namespace {

// Room for what a recovery adds to its input.
constexpr CK_ULONG kRecoveryRoom = 512;
// The first digest buffer holds the longest common digest (SHA-512), so one
// module call suffices; a longer one grows it.
constexpr CK_ULONG kFirstDigestCapacity = 64;

CK_SESSION_HANDLE sessionOf(jlong jSession) {
    return static_cast<CK_SESSION_HANDLE>(jSession);
}

auto digestStart(jboolean bInit, JNIEnv* env, jlong jSession, jobject jMechanism) {
    return
        [=] { return bInit ? J_DigestInit(env, sessionOf(jSession), jMechanism) : CK_RV(CKR_OK); };
}

// A part fed to a running operation (digest, signature, verification), the
// operation started first when the flag asks for it.
using PartUpdate = CK_RV (*CK_FUNCTION_LIST::*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG);

template <typename Start>
void partUpdate(JNIEnv* env, const char* name, Start start, jlong jSession, jbyteArray jPart,
                jint off, jint len, const char* inputMessage, PartUpdate update) {
    guardedVoid(env, name, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        startOrStop(start);
        InputWindow in(env, jPart, off, len, inputMessage);
        const CK_RV rv = (module->*update)(sessionOf(jSession), in.data(), in.length());
        if (rv != CKR_OK) fail(rv);
    });
}

// The digest's input may be absent when it is empty (the module then digests
// nothing); a missing array with a length is refused.
class DigestInput {
  public:
    DigestInput(JNIEnv* env, jbyteArray array, jint off, jint len) {
        if (array == nullptr && len == 0) return;
        window_.emplace(env, array, off, len, "Data is NULL");
    }
    CK_BYTE_PTR data() const { return window_ ? window_->data() : nullptr; }
    CK_ULONG length() const { return window_ ? window_->length() : 0; }

  private:
    std::optional<InputWindow> window_;
};

// Recovery operations start on the session of the NativeSession; the
// mechanism is converted before the session is looked up.
void startRecovery(JNIEnv* env, jobject self, const char* name, jobject jMechanism, jlong jKey,
                   KeyedInit init) {
    guardedVoid(env, name, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        MechanismRecord mechanism(env, jMechanism);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        const CK_RV rv =
            (module->*init)(session, mechanism.get(), static_cast<CK_OBJECT_HANDLE>(jKey));
        if (rv != CKR_OK) fail(rv);
    });
}

template <typename Call>
jbyteArray recoverReturning(JNIEnv* env, jobject self, const char* name, jbyteArray jIn, jint off,
                            jint len, const char* inputMessage, const char* resultMessage,
                            Call call) {
    return guarded(env, name, jbyteArray{nullptr}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        InputWindow in(env, jIn, off, len, inputMessage);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        return returningForm(env, in.length() + kRecoveryRoom, resultMessage,
                             [&](CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
                                 return call(module, session, in, out, outLen);
                             });
    });
}

template <typename Call>
jint recoverFilling(JNIEnv* env, jobject self, const char* name, jbyteArray jIn, jint off, jint len,
                    const char* inputMessage, jbyteArray jOut, jint outOff, Call call) {
    return guarded(env, name, jint{0}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        InputWindow in(env, jIn, off, len, inputMessage);
        OutputWindow out(env, jOut, outOff);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        const CK_RV rv = call(module, session, in, out.data(), out.length());
        if (rv != CKR_OK) fail(rv);
        return out.result(env);
    });
}

}  // namespace

extern "C" {

CK_RV J_DigestInit(JNIEnv* env, CK_SESSION_HANDLE hSession, jobject jMechanism) {
    return startRoutine(env, "J_DigestInit", [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        MechanismRecord mechanism(env, jMechanism);
        return module->C_DigestInit(hSession, mechanism.get());
    });
}

CK_RV J_SignInit(JNIEnv* env, CK_SESSION_HANDLE hSession, jobject jMechanism, jlong jKey) {
    LogFunction("J_SignInit: entering...", 0);
    const CK_RV rv =
        startKeyed(env, "J_SignInit", hSession, jMechanism, jKey, &CK_FUNCTION_LIST::C_SignInit);
    LogFunction("J_SignInit: ...finished.", rv);
    return rv;
}

CK_RV J_VerifyInit(JNIEnv* env, CK_SESSION_HANDLE hSession, jobject jMechanism, jlong jKey) {
    return startKeyed(env, "J_VerifyInit", hSession, jMechanism, jKey,
                      &CK_FUNCTION_LIST::C_VerifyInit);
}

// ---- Digest -----------------------------------------------------------------

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1DigestKey(JNIEnv* env, jobject,
                                                                  jlong jSession, jboolean bInit,
                                                                  jobject jMechanism, jlong jKey) {
    guardedVoid(env, "J_DigestKey", [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        startOrStop(digestStart(bInit, env, jSession, jMechanism));
        const CK_RV rv =
            module->C_DigestKey(sessionOf(jSession), static_cast<CK_OBJECT_HANDLE>(jKey));
        if (rv != CKR_OK) fail(rv);
    });
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1DigestUpdate(JNIEnv* env, jobject,
                                                                     jlong jSession, jboolean bInit,
                                                                     jobject jMechanism,
                                                                     jbyteArray jPart, jint off,
                                                                     jint len) {
    partUpdate(env, "J_DigestUpdate", digestStart(bInit, env, jSession, jMechanism), jSession,
               jPart, off, len, "pPart is NULL", &CK_FUNCTION_LIST::C_DigestUpdate);
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
    JNIEnv* env, jobject, jlong jSession, jboolean bInit, jobject jMechanism, jbyteArray jData,
    jint dataOff, jint dataLen) {
    return guarded(env, "J_Digest", jbyteArray{nullptr}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        startOrStop(digestStart(bInit, env, jSession, jMechanism));
        DigestInput in(env, jData, dataOff, dataLen);
        return returningForm(env, kFirstDigestCapacity, "jDigest is NULL",
                             [&](CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
                                 return module->C_Digest(sessionOf(jSession), in.data(),
                                                         in.length(), out, outLen);
                             });
    });
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII_3BI(
    JNIEnv* env, jobject, jlong jSession, jboolean bInit, jobject jMechanism, jbyteArray jData,
    jint dataOff, jint dataLen, jbyteArray jDigest, jint digestOff) {
    return guarded(env, "J_Digest", jint{0}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        startOrStop(digestStart(bInit, env, jSession, jMechanism));
        DigestInput in(env, jData, dataOff, dataLen);
        OutputWindow out(env, jDigest, digestOff);
        const CK_RV rv =
            module->C_Digest(sessionOf(jSession), in.data(), in.length(), out.data(), out.length());
        if (rv != CKR_OK) fail(rv);
        return out.result(env);
    });
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1DigestFinal__(JNIEnv* env,
                                                                            jobject self) {
    return finalReturning(env, self, "J_DigestFinal", "jDigest is NULL",
                          [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, CK_BYTE_PTR out,
                             CK_ULONG_PTR outLen) { return m->C_DigestFinal(s, out, outLen); });
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DigestFinal___3BI(JNIEnv* env, jobject self,
                                                                          jbyteArray jDigest,
                                                                          jint off) {
    return finalFilling(env, self, "J_DigestFinal", jDigest, off,
                        [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, CK_BYTE_PTR out,
                           CK_ULONG_PTR outLen) { return m->C_DigestFinal(s, out, outLen); });
}

// ---- Signature --------------------------------------------------------------

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SignInit(JNIEnv* env, jobject,
                                                                 jlong jSession, jobject jMechanism,
                                                                 jlong jKey) {
    startOnly(env, "J_SignInit", J_SignInit, jSession, jMechanism, jKey);
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SignUpdate(JNIEnv* env, jobject,
                                                                   jlong jSession, jboolean bInit,
                                                                   jobject jMechanism, jlong jKey,
                                                                   jbyteArray jData, jint dataOff,
                                                                   jint dataLen) {
    LogFunction("J_SignUpdate: entering...", 0);
    partUpdate(env, "J_SignUpdate", startWhen(bInit, J_SignInit, env, jSession, jMechanism, jKey),
               jSession, jData, dataOff, dataLen, "Data is NULL", &CK_FUNCTION_LIST::C_SignUpdate);
    LogFunction("J_SignUpdate: ...finished.", 0);
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen) {
    LogFunction("J_Sign (9 pars): entering...", 0);
    CK_RV last = CKR_OK;
    jbyteArray result = guarded(env, "J_Sign", jbyteArray{nullptr}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        startOrStop(startWhen(bInit, J_SignInit, env, jSession, jMechanism, jKey));
        InputWindow in(env, jData, dataOff, dataLen, "Data is NULL");
        LogFunction("J_Sign (9 pars): before C_Sign.", 0);
        // Ask the length first, then sign into a buffer of exactly that size.
        CK_ULONG length = 0;
        last = module->C_Sign(sessionOf(jSession), in.data(), in.length(), NULL_PTR, &length);
        if (last != CKR_OK) fail(last);
        requireJavaArrayLength(length);
        std::vector<CK_BYTE> signature;
        resizeBuffer(signature, length);
        const CK_ULONG capacity = length;
        last =
            module->C_Sign(sessionOf(jSession), in.data(), in.length(), signature.data(), &length);
        if (last != CKR_OK) fail(last);
        checkReportedLength(length, capacity);
        LogFunction("J_Sign (9 pars): after C_Sign.", 0);
        return newResultArray(env, signature.data(), length, "jSignature is NULL");
    });
    LogFunction("J_Sign (9 pars): finished.", last);
    return result;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen, jbyteArray jSign, jint signOff) {
    LogFunction("J_Sign (11 pars): entering...", 0);
    CK_RV last = CKR_OK;
    const jint result = dataFilling(
        env, "J_Sign", startWhen(bInit, J_SignInit, env, jSession, jMechanism, jKey), jData,
        dataOff, dataLen, "Data is NULL", jSign, signOff,
        [&](CK_FUNCTION_LIST_PTR module, const InputWindow& in, CK_BYTE_PTR out,
            CK_ULONG_PTR outLen) {
            LogFunction("J_Sign (11 pars): before C_Sign.", 0);
            last = module->C_Sign(sessionOf(jSession), in.data(), in.length(), out, outLen);
            LogFunction("J_Sign (11 pars): after C_Sign.", last);
            return last;
        });
    LogFunction("J_Sign (11 pars): ...finished.", last);
    return result;
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1SignFinal__(JNIEnv* env,
                                                                          jobject self) {
    LogFunction("J_SignFinal (2 pars): entering...", 0);
    jbyteArray result =
        finalReturning(env, self, "J_SignFinal", "Sign is NULL",
                       [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, CK_BYTE_PTR out,
                          CK_ULONG_PTR outLen) { return m->C_SignFinal(s, out, outLen); });
    LogFunction("J_SignFinal (2 pars): ...finished.", 0);
    return result;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1SignFinal___3BI(JNIEnv* env, jobject self,
                                                                        jbyteArray jSign,
                                                                        jint signOff) {
    LogFunction("J_SignFinal (4 pars): entering...", 0);
    const jint result =
        finalFilling(env, self, "J_SignFinal", jSign, signOff,
                     [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, CK_BYTE_PTR out,
                        CK_ULONG_PTR outLen) { return m->C_SignFinal(s, out, outLen); });
    LogFunction("J_SignFinal (4 pars): ...finished.", 0);
    return result;
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SignRecoverInit(JNIEnv* env, jobject self,
                                                                        jobject jMechanism,
                                                                        jlong jKey) {
    startRecovery(env, self, "J_SignRecoverInit", jMechanism, jKey,
                  &CK_FUNCTION_LIST::C_SignRecoverInit);
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1SignRecover___3BII(
    JNIEnv* env, jobject self, jbyteArray jData, jint dataOff, jint dataLen) {
    return recoverReturning(env, self, "J_SignRecover", jData, dataOff, dataLen, "Data is NULL",
                            "jSignature is NULL",
                            [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, const InputWindow& in,
                               CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
                                return m->C_SignRecover(s, in.data(), in.length(), out, outLen);
                            });
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1SignRecover___3BII_3BI(
    JNIEnv* env, jobject self, jbyteArray jData, jint dataOff, jint dataLen, jbyteArray jSignature,
    jint signOff) {
    return recoverFilling(env, self, "J_SignRecover", jData, dataOff, dataLen, "Data is NULL",
                          jSignature, signOff,
                          [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, const InputWindow& in,
                             CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
                              return m->C_SignRecover(s, in.data(), in.length(), out, outLen);
                          });
}

// ---- Verification -----------------------------------------------------------

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1VerifyUpdate(JNIEnv* env, jobject,
                                                                     jlong jSession, jboolean bInit,
                                                                     jobject jMechanism, jlong jKey,
                                                                     jbyteArray jPart, jint partOff,
                                                                     jint partLen) {
    partUpdate(env, "J_VerifyUpdate",
               startWhen(bInit, J_VerifyInit, env, jSession, jMechanism, jKey), jSession, jPart,
               partOff, partLen, "pPart is NULL", &CK_FUNCTION_LIST::C_VerifyUpdate);
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1Verify(JNIEnv* env, jobject, jlong jSession,
                                                               jboolean bInit, jobject jMechanism,
                                                               jlong jKey, jbyteArray jData,
                                                               jint dataOff, jint dataLen,
                                                               jbyteArray jSignature, jint signOff,
                                                               jint signLen) {
    guardedVoid(env, "J_Verify", [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        startOrStop(startWhen(bInit, J_VerifyInit, env, jSession, jMechanism, jKey));
        InputWindow data(env, jData, dataOff, dataLen, "Data is NULL");
        InputWindow signature(env, jSignature, signOff, signLen, "Signature is NULL");
        // CKR_OK means the signature is valid; CKR_SIGNATURE_INVALID reaches Java as it is.
        const CK_RV rv = module->C_Verify(sessionOf(jSession), data.data(), data.length(),
                                          signature.data(), signature.length());
        if (rv != CKR_OK) fail(rv);
    });
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1VerifyFinal(JNIEnv* env, jobject self,
                                                                    jbyteArray jSignature,
                                                                    jint signOff, jint signLen) {
    guardedVoid(env, "J_VerifyFinal", [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        InputWindow signature(env, jSignature, signOff, signLen, "Signature is NULL");
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        const CK_RV rv = module->C_VerifyFinal(session, signature.data(), signature.length());
        if (rv != CKR_OK) fail(rv);
    });
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1VerifyRecoverInit(JNIEnv* env, jobject self,
                                                                          jobject jMechanism,
                                                                          jlong jKey) {
    startRecovery(env, self, "J_VerifyRecoverInit", jMechanism, jKey,
                  &CK_FUNCTION_LIST::C_VerifyRecoverInit);
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1VerifyRecover___3BII(
    JNIEnv* env, jobject self, jbyteArray jSign, jint signOff, jint signLen) {
    return recoverReturning(env, self, "J_VerifyRecover", jSign, signOff, signLen, "Sign is NULL",
                            "jData is NULL",
                            [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, const InputWindow& in,
                               CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
                                return m->C_VerifyRecover(s, in.data(), in.length(), out, outLen);
                            });
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1VerifyRecover___3BII_3BI(
    JNIEnv* env, jobject self, jbyteArray jSignature, jint signOff, jint signLen, jbyteArray jData,
    jint dataOff) {
    return recoverFilling(env, self, "J_VerifyRecover", jSignature, signOff, signLen,
                          "Signature is NULL", jData, dataOff,
                          [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, const InputWindow& in,
                             CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
                              return m->C_VerifyRecover(s, in.data(), in.length(), out, outLen);
                          });
}

}  // extern "C"
