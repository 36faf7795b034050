// Encryption and decryption, in one part or many, in both output forms.
#include "../jni_methods.h"
#include "Operation.h"

namespace {

// Room for padding: a padded block cipher adds at most one block.
constexpr CK_ULONG kPaddingRoom = 512;

CK_SESSION_HANDLE sessionOf(jlong jSession) {
    return static_cast<CK_SESSION_HANDLE>(jSession);
}

}  // namespace

extern "C" {

CK_RV J_EncryptInit(JNIEnv* env, CK_SESSION_HANDLE hSession, jobject mechanism, jlong jKey) {
    LogFunction("J_EncryptInit: entering...", 0);
    const CK_RV rv = startKeyed(env, "J_EncryptInit", hSession, mechanism, jKey,
                                &CK_FUNCTION_LIST::C_EncryptInit);
    LogFunction("J_EncryptInit: ...finished.", rv);
    return rv;
}

CK_RV J_DecryptInit(JNIEnv* env, CK_SESSION_HANDLE hSession, jobject mechanism, jlong jKey) {
    return startKeyed(env, "J_DecryptInit", hSession, mechanism, jKey,
                      &CK_FUNCTION_LIST::C_DecryptInit);
}

JNIEXPORT jbyteArray JNICALL
Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen) {
    return dataReturning(env, "J_EncryptUpdate",
                         startWhen(bInit, J_EncryptInit, env, jSession, jMechanism, jKey), jData,
                         dataOff, dataLen, "Data is NULL", kPaddingRoom, "jEnc is NULL",
                         [&](CK_FUNCTION_LIST_PTR module, const InputWindow& in, CK_BYTE_PTR out,
                             CK_ULONG_PTR outLen) {
                             return module->C_EncryptUpdate(sessionOf(jSession), in.data(),
                                                            in.length(), out, outLen);
                         });
}

JNIEXPORT jint JNICALL
Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen, jbyteArray jEnc, jint encOff) {
    return dataFilling(env, "J_EncryptUpdate",
                       startWhen(bInit, J_EncryptInit, env, jSession, jMechanism, jKey), jData,
                       dataOff, dataLen, "Data is NULL", jEnc, encOff,
                       [&](CK_FUNCTION_LIST_PTR module, const InputWindow& in, CK_BYTE_PTR out,
                           CK_ULONG_PTR outLen) {
                           return module->C_EncryptUpdate(sessionOf(jSession), in.data(),
                                                          in.length(), out, outLen);
                       });
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen) {
    return dataReturning(
        env, "J_Encrypt", startWhen(bInit, J_EncryptInit, env, jSession, jMechanism, jKey), jData,
        dataOff, dataLen, "Data is NULL", kPaddingRoom, "jEncryptedData is NULL",
        [&](CK_FUNCTION_LIST_PTR module, const InputWindow& in, CK_BYTE_PTR out,
            CK_ULONG_PTR outLen) {
            return module->C_Encrypt(sessionOf(jSession), in.data(), in.length(), out, outLen);
        });
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen, jbyteArray jEnc, jint encOff) {
    LogFunction("J_1Encrypt: entering...", 0);
    CK_RV last = CKR_OK;
    const jint result = dataFilling(
        env, "J_Encrypt", startWhen(bInit, J_EncryptInit, env, jSession, jMechanism, jKey), jData,
        dataOff, dataLen, "Data is NULL", jEnc, encOff,
        [&](CK_FUNCTION_LIST_PTR module, const InputWindow& in, CK_BYTE_PTR out,
            CK_ULONG_PTR outLen) {
            return last =
                       module->C_Encrypt(sessionOf(jSession), in.data(), in.length(), out, outLen);
        });
    LogFunction("J_1Encrypt: ...finished.", last);
    return result;
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1EncryptFinal__(JNIEnv* env,
                                                                             jobject self) {
    return finalReturning(env, self, "J_EncryptFinal", "jlastEncryptedPart is NULL",
                          [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, CK_BYTE_PTR out,
                             CK_ULONG_PTR outLen) { return m->C_EncryptFinal(s, out, outLen); });
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1EncryptFinal___3BI(JNIEnv* env,
                                                                           jobject self,
                                                                           jbyteArray jEnc,
                                                                           jint encOff) {
    return finalFilling(env, self, "J_EncryptFinal", jEnc, encOff,
                        [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, CK_BYTE_PTR out,
                           CK_ULONG_PTR outLen) { return m->C_EncryptFinal(s, out, outLen); });
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1DecryptInit(JNIEnv* env, jobject,
                                                                    jlong jSession,
                                                                    jobject jMechanism,
                                                                    jlong jKey) {
    startOnly(env, "J_DecryptInit", J_DecryptInit, jSession, jMechanism, jKey);
}

JNIEXPORT jbyteArray JNICALL
Java_qorvik_nat_NativeSession_J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jEnc, jint encOff, jint encLen) {
    return dataReturning(
        env, "J_DecryptUpdate", startWhen(bInit, J_DecryptInit, env, jSession, jMechanism, jKey),
        jEnc, encOff, encLen, "EncryptedData is NULL", kPaddingRoom, "jDecryptedData is NULL",
        [&](CK_FUNCTION_LIST_PTR module, const InputWindow& in, CK_BYTE_PTR out,
            CK_ULONG_PTR outLen) {
            return module->C_DecryptUpdate(sessionOf(jSession), in.data(), in.length(), out,
                                           outLen);
        });
}

JNIEXPORT jint JNICALL
Java_qorvik_nat_NativeSession_J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jEnc, jint encOff, jint encLen, jbyteArray jData, jint dataOff) {
    return dataFilling(env, "J_DecryptUpdate",
                       startWhen(bInit, J_DecryptInit, env, jSession, jMechanism, jKey), jEnc,
                       encOff, encLen, "EncryptedData is NULL", jData, dataOff,
                       [&](CK_FUNCTION_LIST_PTR module, const InputWindow& in, CK_BYTE_PTR out,
                           CK_ULONG_PTR outLen) {
                           return module->C_DecryptUpdate(sessionOf(jSession), in.data(),
                                                          in.length(), out, outLen);
                       });
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Decrypt__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jEnc, jint encOff, jint encLen) {
    return dataReturning(
        env, "J_Decrypt", startWhen(bInit, J_DecryptInit, env, jSession, jMechanism, jKey), jEnc,
        encOff, encLen, "EncryptedData is NULL", kPaddingRoom, "jDecryptedData is NULL",
        [&](CK_FUNCTION_LIST_PTR module, const InputWindow& in, CK_BYTE_PTR out,
            CK_ULONG_PTR outLen) {
            return module->C_Decrypt(sessionOf(jSession), in.data(), in.length(), out, outLen);
        });
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1DecryptFinal__(JNIEnv* env,
                                                                             jobject self) {
    return finalReturning(env, self, "J_DecryptFinal", "jlastDecryptedPart is NULL",
                          [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, CK_BYTE_PTR out,
                             CK_ULONG_PTR outLen) { return m->C_DecryptFinal(s, out, outLen); });
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DecryptFinal___3BI(JNIEnv* env,
                                                                           jobject self,
                                                                           jbyteArray jData,
                                                                           jint dataOff) {
    return finalFilling(env, self, "J_DecryptFinal", jData, dataOff,
                        [](CK_FUNCTION_LIST_PTR m, CK_SESSION_HANDLE s, CK_BYTE_PTR out,
                           CK_ULONG_PTR outLen) { return m->C_DecryptFinal(s, out, outLen); });
}

}  // extern "C"
