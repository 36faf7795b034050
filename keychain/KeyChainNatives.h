// The twelve native methods of zentrel.keychain, the library's only exports.
// KeyChainLib's methods may be declared static or not on the Java side: the
// second argument is never used.
#pragma once

#include <jni.h>

extern "C" {

JNIEXPORT jint JNICALL Java_zentrel_keychain_KeyChainLib_loadKeyChainLibrary(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_zentrel_keychain_KeyChainLib_Finalize(JNIEnv*, jobject);
JNIEXPORT jobjectArray JNICALL Java_zentrel_keychain_KeyChainLib_GetKeyChainList(JNIEnv*, jobject,
                                                                                 jint domain);
JNIEXPORT jobject JNICALL Java_zentrel_keychain_KeyChainLib_GetKeyChain(JNIEnv*, jobject,
                                                                        jstring path);

JNIEXPORT jobjectArray JNICALL Java_zentrel_keychain_KeyChain_GetIdentityList(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_zentrel_keychain_KeyChain_ReleaseIdentityList(JNIEnv*, jobject,
                                                                          jobjectArray identities);

JNIEXPORT jbyteArray JNICALL Java_zentrel_keychain_KeyChainIdentity_Sign(
    JNIEnv*, jobject, jbyteArray data, jstring digestAlgorithm, jstring signatureAlgorithm);
JNIEXPORT jint JNICALL Java_zentrel_keychain_KeyChainIdentity_Verify(JNIEnv*, jobject, jbyteArray,
                                                                     jbyteArray);
JNIEXPORT jbyteArray JNICALL Java_zentrel_keychain_KeyChainIdentity_getAttribute(JNIEnv*, jobject,
                                                                                 jint selector);
JNIEXPORT jstring JNICALL Java_zentrel_keychain_KeyChainIdentity_getAlias(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_zentrel_keychain_KeyChainIdentity_Lock(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_zentrel_keychain_KeyChainIdentity_Release(JNIEnv*, jobject);

}  // extern "C"
