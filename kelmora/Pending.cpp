// Native methods whose module calls are not wired up yet: each answers
// CKR_FUNCTION_NOT_SUPPORTED under its own function name.
#include "jni_methods.h"
#include "kelmora.h"

namespace {

void notSupported(JNIEnv* env, const char* functionName) {
    throwPkcs11Exception(env, functionName, static_cast<CK_RV>(CKR_FUNCTION_NOT_SUPPORTED));
}

}  // namespace

extern "C" {

JNIEXPORT jbyteArray JNICALL
Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject, jlong, jboolean, jobject, jlong, jbyteArray, jint, jint) {
    notSupported(env, "J_EncryptUpdate");
    return nullptr;
}

JNIEXPORT jint JNICALL
Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject, jlong, jboolean, jobject, jlong, jbyteArray, jint, jint, jbyteArray,
    jint) {
    notSupported(env, "J_EncryptUpdate");
    return 0;
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject, jlong, jboolean, jobject, jlong, jbyteArray, jint, jint) {
    notSupported(env, "J_Encrypt");
    return nullptr;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject, jlong, jboolean, jobject, jlong, jbyteArray, jint, jint, jbyteArray,
    jint) {
    notSupported(env, "J_Encrypt");
    return 0;
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1EncryptFinal__(JNIEnv* env, jobject) {
    notSupported(env, "J_EncryptFinal");
    return nullptr;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1EncryptFinal___3BI(JNIEnv* env, jobject,
                                                                           jbyteArray, jint) {
    notSupported(env, "J_EncryptFinal");
    return 0;
}

JNIEXPORT jbyteArray JNICALL
Java_qorvik_nat_NativeSession_J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject, jlong, jboolean, jobject, jlong, jbyteArray, jint, jint) {
    notSupported(env, "J_DecryptUpdate");
    return nullptr;
}

JNIEXPORT jint JNICALL
Java_qorvik_nat_NativeSession_J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject, jlong, jboolean, jobject, jlong, jbyteArray, jint, jint, jbyteArray,
    jint) {
    notSupported(env, "J_DecryptUpdate");
    return 0;
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Decrypt__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject, jlong, jboolean, jobject, jlong, jbyteArray, jint, jint) {
    notSupported(env, "J_Decrypt");
    return nullptr;
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1DecryptInit(JNIEnv* env, jobject, jlong,
                                                                    jobject, jlong) {
    notSupported(env, "J_DecryptInit");
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1DecryptFinal__(JNIEnv* env, jobject) {
    notSupported(env, "J_DecryptFinal");
    return nullptr;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DecryptFinal___3BI(JNIEnv* env, jobject,
                                                                           jbyteArray, jint) {
    notSupported(env, "J_DecryptFinal");
    return 0;
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1DigestKey(JNIEnv* env, jobject, jlong,
                                                                  jboolean, jobject, jlong) {
    notSupported(env, "J_DigestKey");
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1DigestUpdate(JNIEnv* env, jobject, jlong,
                                                                     jboolean, jobject, jbyteArray,
                                                                     jint, jint) {
    notSupported(env, "J_DigestUpdate");
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
    JNIEnv* env, jobject, jlong, jboolean, jobject, jbyteArray, jint, jint) {
    notSupported(env, "J_Digest");
    return nullptr;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII_3BI(
    JNIEnv* env, jobject, jlong, jboolean, jobject, jbyteArray, jint, jint, jbyteArray, jint) {
    notSupported(env, "J_Digest");
    return 0;
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1DigestFinal__(JNIEnv* env, jobject) {
    notSupported(env, "J_DigestFinal");
    return nullptr;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DigestFinal___3BI(JNIEnv* env, jobject,
                                                                          jbyteArray, jint) {
    notSupported(env, "J_DigestFinal");
    return 0;
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SignInit(JNIEnv* env, jobject, jlong,
                                                                 jobject, jlong) {
    notSupported(env, "J_SignInit");
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SignUpdate(JNIEnv* env, jobject, jlong,
                                                                   jboolean, jobject, jlong,
                                                                   jbyteArray, jint, jint) {
    notSupported(env, "J_SignUpdate");
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject, jlong, jboolean, jobject, jlong, jbyteArray, jint, jint) {
    notSupported(env, "J_Sign");
    return nullptr;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject, jlong, jboolean, jobject, jlong, jbyteArray, jint, jint, jbyteArray,
    jint) {
    notSupported(env, "J_Sign");
    return 0;
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1SignFinal__(JNIEnv* env, jobject) {
    notSupported(env, "J_SignFinal");
    return nullptr;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1SignFinal___3BI(JNIEnv* env, jobject,
                                                                        jbyteArray, jint) {
    notSupported(env, "J_SignFinal");
    return 0;
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SignRecoverInit(JNIEnv* env, jobject,
                                                                        jobject, jlong) {
    notSupported(env, "J_SignRecoverInit");
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1SignRecover___3BII(JNIEnv* env,
                                                                                 jobject,
                                                                                 jbyteArray, jint,
                                                                                 jint) {
    notSupported(env, "J_SignRecover");
    return nullptr;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1SignRecover___3BII_3BI(JNIEnv* env, jobject,
                                                                               jbyteArray, jint,
                                                                               jint, jbyteArray,
                                                                               jint) {
    notSupported(env, "J_SignRecover");
    return 0;
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1VerifyUpdate(JNIEnv* env, jobject, jlong,
                                                                     jboolean, jobject, jlong,
                                                                     jbyteArray, jint, jint) {
    notSupported(env, "J_VerifyUpdate");
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1Verify(JNIEnv* env, jobject, jlong,
                                                               jboolean, jobject, jlong, jbyteArray,
                                                               jint, jint, jbyteArray, jint, jint) {
    notSupported(env, "J_Verify");
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1VerifyFinal(JNIEnv* env, jobject,
                                                                    jbyteArray, jint, jint) {
    notSupported(env, "J_VerifyFinal");
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1VerifyRecoverInit(JNIEnv* env, jobject,
                                                                          jobject, jlong) {
    notSupported(env, "J_VerifyRecoverInit");
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1VerifyRecover___3BII(JNIEnv* env,
                                                                                   jobject,
                                                                                   jbyteArray, jint,
                                                                                   jint) {
    notSupported(env, "J_VerifyRecover");
    return nullptr;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1VerifyRecover___3BII_3BI(
    JNIEnv* env, jobject, jbyteArray, jint, jint, jbyteArray, jint) {
    notSupported(env, "J_VerifyRecover");
    return 0;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DecryptDigestUpdate(JNIEnv* env, jobject,
                                                                            jbyteArray, jint, jint,
                                                                            jbyteArray, jint) {
    notSupported(env, "J_DecryptDigestUpdate");
    return 0;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DigestEncryptUpdate(JNIEnv* env, jobject,
                                                                            jbyteArray, jint, jint,
                                                                            jbyteArray, jint) {
    notSupported(env, "J_DigestEncryptUpdate");
    return 0;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1SignEncryptUpdate(JNIEnv* env, jobject,
                                                                          jbyteArray, jint, jint,
                                                                          jbyteArray, jint) {
    notSupported(env, "J_SignEncryptUpdate");
    return 0;
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DecryptVerifyUpdate(JNIEnv* env, jobject,
                                                                            jbyteArray, jint, jint,
                                                                            jbyteArray, jint) {
    notSupported(env, "J_DecryptVerifyUpdate");
    return 0;
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SetOperationState(JNIEnv* env, jobject,
                                                                          jbyteArray, jlong,
                                                                          jlong) {
    notSupported(env, "J_SetOperationState");
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1GetOperationState(JNIEnv* env,
                                                                                jobject) {
    notSupported(env, "J_GetOperationState");
    return nullptr;
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1GetFunctionStatus(JNIEnv* env, jobject) {
    notSupported(env, "J_GetFunctionStatus");
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1CancelFunction(JNIEnv* env, jobject) {
    notSupported(env, "J_CancelFunction");
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1GenerateRandom(JNIEnv* env, jobject, jlong,
                                                                       jboolean, jbyteArray,
                                                                       jbyteArray, jint, jint) {
    notSupported(env, "J_GenerateRandom");
}

JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1GenerateKey(JNIEnv* env, jobject, jobject,
                                                                     jobjectArray) {
    notSupported(env, "J_GenerateKey");
    return 0;
}

JNIEXPORT jlongArray JNICALL Java_qorvik_nat_NativeSession_J_1GenerateKeyPair(JNIEnv* env, jobject,
                                                                              jobject, jobjectArray,
                                                                              jobjectArray) {
    notSupported(env, "J_GenerateKeyPair");
    return nullptr;
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1WrapKey(JNIEnv* env, jobject, jobject,
                                                                      jlong, jlong) {
    notSupported(env, "J_WrapKey");
    return nullptr;
}

JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1UnwrapKey(JNIEnv* env, jobject, jobject,
                                                                   jlong, jbyteArray, jint, jint,
                                                                   jobjectArray) {
    notSupported(env, "J_UnwrapKey");
    return 0;
}

JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1DeriveKey(JNIEnv* env, jobject, jobject,
                                                                   jlong, jobjectArray) {
    notSupported(env, "J_DeriveKey");
    return 0;
}

}  // extern "C"
