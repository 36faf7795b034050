// Dual-function updates, random numbers, operation state and function status.
#include <vector>

#include "../jni_methods.h"
#include "Operation.h"

namespace {

using DualUpdate = CK_RV (*CK_FUNCTION_LIST::*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG,
                                                CK_BYTE_PTR, CK_ULONG_PTR);

// One input through two active operations; the output in the filling form.
jint dualUpdate(JNIEnv* env, jobject self, const char* name, const char* inputMessage,
                DualUpdate update, jbyteArray jIn, jint inOff, jint inLen, jbyteArray jOut,
                jint outOff) {
    return guarded(env, name, jint{0}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        InputWindow in(env, jIn, inOff, inLen, inputMessage);
        OutputWindow out(env, jOut, outOff);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        const CK_RV rv =
            (module->*update)(session, in.data(), in.length(), out.data(), out.length());
        if (rv != CKR_OK) fail(rv);
        return out.result(env);
    });
}

// A call on the NativeSession's session with nothing else to pass.
void sessionCall(JNIEnv* env, jobject self, const char* name,
                 CK_RV (*CK_FUNCTION_LIST::*call)(CK_SESSION_HANDLE)) {
    guardedVoid(env, name, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        const CK_RV rv = (module->*call)(session);
        if (rv != CKR_OK) fail(rv);
    });
}

}  // namespace

extern "C" {

CK_RV J_SeedRandom(JNIEnv* env, CK_SESSION_HANDLE hSession, jbyteArray jSeed) {
    return startRoutine(env, "J_SeedRandom", [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const jint length = jSeed != nullptr ? env->GetArrayLength(jSeed) : 0;
        InputWindow seed(env, jSeed, 0, length, "Seed is NULL");
        return module->C_SeedRandom(hSession, seed.data(), seed.length());
    });
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DecryptDigestUpdate(
    JNIEnv* env, jobject self, jbyteArray jEncryptedPart, jint encOff, jint encLen,
    jbyteArray jDataPart, jint dataOff) {
    return dualUpdate(env, self, "J_DecryptDigestUpdate", "EncryptedPart is NULL",
                      &CK_FUNCTION_LIST::C_DecryptDigestUpdate, jEncryptedPart, encOff, encLen,
                      jDataPart, dataOff);
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DigestEncryptUpdate(
    JNIEnv* env, jobject self, jbyteArray jDataPart, jint dataOff, jint dataLen,
    jbyteArray jEncryptedPart, jint encOff) {
    return dualUpdate(env, self, "J_DigestEncryptUpdate", "DataPart is NULL",
                      &CK_FUNCTION_LIST::C_DigestEncryptUpdate, jDataPart, dataOff, dataLen,
                      jEncryptedPart, encOff);
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1SignEncryptUpdate(
    JNIEnv* env, jobject self, jbyteArray jDataPart, jint dataOff, jint dataLen,
    jbyteArray jEncryptedPart, jint encOff) {
    return dualUpdate(env, self, "J_SignEncryptUpdate", "DataPart is NULL",
                      &CK_FUNCTION_LIST::C_SignEncryptUpdate, jDataPart, dataOff, dataLen,
                      jEncryptedPart, encOff);
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DecryptVerifyUpdate(
    JNIEnv* env, jobject self, jbyteArray jEncryptedPart, jint encOff, jint encLen,
    jbyteArray jPart, jint off) {
    return dualUpdate(env, self, "J_DecryptVerifyUpdate", "pEncryptedPart is NULL",
                      &CK_FUNCTION_LIST::C_DecryptVerifyUpdate, jEncryptedPart, encOff, encLen,
                      jPart, off);
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SetOperationState(
    JNIEnv* env, jobject self, jbyteArray jOperationState, jlong jEncryptionKey,
    jlong jAuthenticationKey) {
    guardedVoid(env, "J_SetOperationState", [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const jint length = jOperationState != nullptr ? env->GetArrayLength(jOperationState) : 0;
        InputWindow state(env, jOperationState, 0, length, "OperationState is NULL");
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        const CK_RV rv = module->C_SetOperationState(
            session, state.data(), state.length(), static_cast<CK_OBJECT_HANDLE>(jEncryptionKey),
            static_cast<CK_OBJECT_HANDLE>(jAuthenticationKey));
        if (rv != CKR_OK) fail(rv);
    });
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1GetOperationState(JNIEnv* env,
                                                                                jobject self) {
    return guarded(env, "J_GetOperationState", jbyteArray{nullptr}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        CK_ULONG length = 0;
        CK_RV rv = module->C_GetOperationState(session, NULL_PTR, &length);
        if (rv != CKR_OK) fail(rv);
        if (length == 0) fail("OperationStateLen == 0");
        requireJavaArrayLength(length);
        std::vector<CK_BYTE> state;
        resizeBuffer(state, length);
        const CK_ULONG capacity = length;
        rv = module->C_GetOperationState(session, state.data(), &length);
        if (rv != CKR_OK) fail(rv);
        checkReportedLength(length, capacity);
        return newResultArray(env, state.data(), length, "jOperationState is NULL");
    });
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1GetFunctionStatus(JNIEnv* env,
                                                                          jobject self) {
    sessionCall(env, self, "J_GetFunctionStatus", &CK_FUNCTION_LIST::C_GetFunctionStatus);
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1CancelFunction(JNIEnv* env, jobject self) {
    sessionCall(env, self, "J_CancelFunction", &CK_FUNCTION_LIST::C_CancelFunction);
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1GenerateRandom(
    JNIEnv* env, jobject, jlong jSession, jboolean bSeed, jbyteArray jSeed, jbyteArray jRandom,
    jint randOff, jint randLen) {
    guardedVoid(env, "J_GenerateRandom", [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const CK_SESSION_HANDLE session = static_cast<CK_SESSION_HANDLE>(jSession);
        // A refused seed has been reported under the seeding routine's name.
        if (bSeed && J_SeedRandom(env, session, jSeed) != CKR_OK) throw AlreadyReported{};
        if (jRandom == nullptr) fail("Random is NULL");
        checkWindow(env, jRandom, randOff, randLen);
        ByteArrayElements random(env, jRandom, 0);
        if (random.get() == nullptr) fail("Random is NULL");
        const CK_RV rv =
            module->C_GenerateRandom(session, reinterpret_cast<CK_BYTE_PTR>(random.get()) + randOff,
                                     static_cast<CK_ULONG>(randLen));
        if (rv != CKR_OK) fail(rv);
    });
}

}  // extern "C"
