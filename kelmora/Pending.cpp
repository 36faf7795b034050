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
