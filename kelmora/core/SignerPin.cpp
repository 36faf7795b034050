// Second authentication: whether the module needs the signer PIN besides the login.
#include "../jni_methods.h"
#include "../kelmora.h"

extern "C" JNIEXPORT jboolean JNICALL
Java_qorvik_nat_NativeCryptoki_IsSecondAuthenticationRequired(JNIEnv*, jobject) {
    return g_bIsSecondAuthenticationRequired ? JNI_TRUE : JNI_FALSE;
}
