// The native methods of qorvik.nat.NativeCryptoki, NativeSlot and NativeSession.
// Declared here so every definition is checked against one list of signatures.
#pragma once

#include <jni.h>

extern "C" {

// NativeCryptoki
JNIEXPORT void JNICALL Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary(JNIEnv* env, jclass,
                                                                          jstring cryptokiLibrary);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary2(JNIEnv* env, jclass,
                                                                           jstring cryptokiLibrary,
                                                                           jboolean freeLib);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary3(JNIEnv* env, jclass,
                                                                           jstring cryptokiLibrary,
                                                                           jboolean freeLib,
                                                                           jboolean changedir);
JNIEXPORT jstring JNICALL Java_qorvik_nat_NativeCryptoki_getLastLoadedLibraryFullPath(JNIEnv* env,
                                                                                      jclass);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeCryptoki_Initialize(JNIEnv* env, jobject self,
                                                                 jobject);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeCryptoki_Finalize(JNIEnv* env, jobject self, jobject);
JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeCryptoki_GetInfo(JNIEnv* env, jobject self);
JNIEXPORT jobjectArray JNICALL Java_qorvik_nat_NativeCryptoki_GetSlotList(JNIEnv* env, jobject self,
                                                                          jboolean tokenPresent);
JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeCryptoki_WaitForSlotEvent(JNIEnv* env, jobject self,
                                                                          jint flags, jobject);
JNIEXPORT jboolean JNICALL
Java_qorvik_nat_NativeCryptoki_IsSecondAuthenticationRequired(JNIEnv* env, jobject self);

// NativeSlot
JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSlot_J_1GetSlotInfo(JNIEnv* env, jobject self);
JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSlot_J_1GetTokenInfo(JNIEnv* env, jobject self);
JNIEXPORT jintArray JNICALL Java_qorvik_nat_NativeSlot_J_1GetMechanismList(JNIEnv* env,
                                                                           jobject self);
JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(JNIEnv* env, jobject self,
                                                                         jint type);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSlot_J_1InitToken(JNIEnv* env, jobject self,
                                                               jstring soPin, jstring label);
JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSlot_J_1OpenSession__I(JNIEnv* env, jobject self,
                                                                       jint flags);
JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(
    JNIEnv* env, jobject self, jint flags, jbyte userType, jstring pin);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSlot_J_1CloseAllSessions(JNIEnv* env, jobject self);

// NativeSession
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1CloseSession(JNIEnv* env, jobject self);
JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSession_J_1GetSessionInfo(JNIEnv* env,
                                                                          jobject self);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1Login(JNIEnv* env, jobject self,
                                                              jbyte userType, jstring pin);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1Logout(JNIEnv* env, jobject self);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1InitPIN(JNIEnv* env, jobject self,
                                                                jstring pin);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SetPIN(JNIEnv* env, jobject self,
                                                               jstring oldPin, jstring newPin);
JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1CreateObject(JNIEnv* env, jobject self,
                                                                      jobjectArray jTemplate);
JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1CopyObject(JNIEnv* env, jobject self,
                                                                    jlong jObject,
                                                                    jobjectArray jTemplate);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1DestroyObject(JNIEnv* env, jobject self,
                                                                      jlong jObject);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1GetObjectSize(JNIEnv* env, jobject self,
                                                                      jlong jObject);
JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(JNIEnv* env,
                                                                                 jobject self,
                                                                                 jlong jObject,
                                                                                 jint type);
JNIEXPORT jobjectArray JNICALL Java_qorvik_nat_NativeSession_J_1GetAttributeValue__J_3I(
    JNIEnv* env, jobject self, jlong jObject, jintArray types);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SetAttributeValue(JNIEnv* env, jobject self,
                                                                          jlong jObject,
                                                                          jobjectArray jTemplate);
JNIEXPORT jlongArray JNICALL Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(
    JNIEnv* env, jobject self, jobjectArray jTemplate);
JNIEXPORT jobjectArray JNICALL
Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2_3I(JNIEnv* env, jobject self,
                                                                       jobjectArray jTemplate,
                                                                       jintArray types);
JNIEXPORT jbyteArray JNICALL
Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject self, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen);
JNIEXPORT jint JNICALL
Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject self, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen, jbyteArray jEnc, jint encOff);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject self, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject self, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen, jbyteArray jEnc, jint encOff);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1EncryptFinal__(JNIEnv* env,
                                                                             jobject self);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1EncryptFinal___3BI(JNIEnv* env,
                                                                           jobject self,
                                                                           jbyteArray jEnc,
                                                                           jint encOff);
JNIEXPORT jbyteArray JNICALL
Java_qorvik_nat_NativeSession_J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject self, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jEnc, jint encOff, jint encLen);
JNIEXPORT jint JNICALL
Java_qorvik_nat_NativeSession_J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject self, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jEnc, jint encOff, jint encLen, jbyteArray jData, jint dataOff);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Decrypt__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject self, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jEnc, jint encOff, jint encLen);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1DecryptInit(JNIEnv* env, jobject self,
                                                                    jlong jSession,
                                                                    jobject jMechanism, jlong jKey);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1DecryptFinal__(JNIEnv* env,
                                                                             jobject self);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DecryptFinal___3BI(JNIEnv* env,
                                                                           jobject self,
                                                                           jbyteArray jData,
                                                                           jint dataOff);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1DigestKey(JNIEnv* env, jobject self,
                                                                  jlong jSession, jboolean bInit,
                                                                  jobject jMechanism, jlong jKey);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1DigestUpdate(JNIEnv* env, jobject self,
                                                                     jlong jSession, jboolean bInit,
                                                                     jobject jMechanism,
                                                                     jbyteArray jPart, jint off,
                                                                     jint len);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
    JNIEnv* env, jobject self, jlong jSession, jboolean bInit, jobject jMechanism, jbyteArray jData,
    jint dataOff, jint dataLen);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII_3BI(
    JNIEnv* env, jobject self, jlong jSession, jboolean bInit, jobject jMechanism, jbyteArray jData,
    jint dataOff, jint dataLen, jbyteArray jDigest, jint digestOff);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1DigestFinal__(JNIEnv* env,
                                                                            jobject self);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DigestFinal___3BI(JNIEnv* env, jobject self,
                                                                          jbyteArray jDigest,
                                                                          jint off);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SignInit(JNIEnv* env, jobject self,
                                                                 jlong jSession, jobject jMechanism,
                                                                 jlong jKey);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SignUpdate(JNIEnv* env, jobject self,
                                                                   jlong jSession, jboolean bInit,
                                                                   jobject jMechanism, jlong jKey,
                                                                   jbyteArray jData, jint dataOff,
                                                                   jint dataLen);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII(
    JNIEnv* env, jobject self, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII_3BI(
    JNIEnv* env, jobject self, jlong jSession, jboolean bInit, jobject jMechanism, jlong jKey,
    jbyteArray jData, jint dataOff, jint dataLen, jbyteArray jSign, jint signOff);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1SignFinal__(JNIEnv* env,
                                                                          jobject self);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1SignFinal___3BI(JNIEnv* env, jobject self,
                                                                        jbyteArray jSign,
                                                                        jint signOff);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SignRecoverInit(JNIEnv* env, jobject self,
                                                                        jobject jMechanism,
                                                                        jlong jKey);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1SignRecover___3BII(
    JNIEnv* env, jobject self, jbyteArray jData, jint dataOff, jint dataLen);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1SignRecover___3BII_3BI(
    JNIEnv* env, jobject self, jbyteArray jData, jint dataOff, jint dataLen, jbyteArray jSignature,
    jint signOff);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1VerifyUpdate(JNIEnv* env, jobject self,
                                                                     jlong jSession, jboolean bInit,
                                                                     jobject jMechanism, jlong jKey,
                                                                     jbyteArray jPart, jint partOff,
                                                                     jint partLen);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1Verify(JNIEnv* env, jobject self,
                                                               jlong jSession, jboolean bInit,
                                                               jobject jMechanism, jlong jKey,
                                                               jbyteArray jData, jint dataOff,
                                                               jint dataLen, jbyteArray jSignature,
                                                               jint signOff, jint signLen);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1VerifyFinal(JNIEnv* env, jobject self,
                                                                    jbyteArray jSignature,
                                                                    jint signOff, jint signLen);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1VerifyRecoverInit(JNIEnv* env, jobject self,
                                                                          jobject jMechanism,
                                                                          jlong jKey);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1VerifyRecover___3BII(
    JNIEnv* env, jobject self, jbyteArray jSign, jint signOff, jint signLen);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1VerifyRecover___3BII_3BI(
    JNIEnv* env, jobject self, jbyteArray jSignature, jint signOff, jint signLen, jbyteArray jData,
    jint dataOff);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DecryptDigestUpdate(
    JNIEnv* env, jobject self, jbyteArray jEncryptedPart, jint encOff, jint encLen,
    jbyteArray jDataPart, jint dataOff);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DigestEncryptUpdate(
    JNIEnv* env, jobject self, jbyteArray jDataPart, jint dataOff, jint dataLen,
    jbyteArray jEncryptedPart, jint encOff);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1SignEncryptUpdate(
    JNIEnv* env, jobject self, jbyteArray jDataPart, jint dataOff, jint dataLen,
    jbyteArray jEncryptedPart, jint encOff);
JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1DecryptVerifyUpdate(
    JNIEnv* env, jobject self, jbyteArray jEncryptedPart, jint encOff, jint encLen,
    jbyteArray jPart, jint off);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SetOperationState(
    JNIEnv* env, jobject self, jbyteArray jOperationState, jlong jEncryptionKey,
    jlong jAuthenticationKey);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1GetOperationState(JNIEnv* env,
                                                                                jobject self);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1GetFunctionStatus(JNIEnv* env,
                                                                          jobject self);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1CancelFunction(JNIEnv* env, jobject self);
JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1GenerateRandom(
    JNIEnv* env, jobject self, jlong jSession, jboolean bSeed, jbyteArray jSeed, jbyteArray jRandom,
    jint randOff, jint randLen);
JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1GenerateKey(JNIEnv* env, jobject self,
                                                                     jobject jMechanism,
                                                                     jobjectArray jKeyTemplate);
JNIEXPORT jlongArray JNICALL Java_qorvik_nat_NativeSession_J_1GenerateKeyPair(
    JNIEnv* env, jobject self, jobject jMechanism, jobjectArray jPublicTemplate,
    jobjectArray jPrivateTemplate);
JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1WrapKey(JNIEnv* env, jobject self,
                                                                      jobject jMechanism,
                                                                      jlong jWrappingKey,
                                                                      jlong jKeyToBeWrapped);
JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1UnwrapKey(
    JNIEnv* env, jobject self, jobject jMechanism, jlong jUnwrappingKey, jbyteArray jWrappedKey,
    jint jOff, jint jLen, jobjectArray jTemplate);
JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1DeriveKey(JNIEnv* env, jobject self,
                                                                   jobject jMechanism,
                                                                   jlong jBaseKey,
                                                                   jobjectArray jTemplate);
}
