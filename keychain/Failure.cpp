#include "Java.h"
#include "tarnel.h"

namespace tarnel {

jint ThrowKeyChainException(JNIEnv* env, const char* where, jint status, const char* message) {
    Local<jclass> cls(env, env->FindClass(kExceptionClass));
    if (!cls) return JNI_ERR;
    jmethodID init =
        env->GetMethodID(cls.get(), "<init>", "(Ljava/lang/String;ILjava/lang/String;)V");
    if (init == nullptr) return JNI_ERR;
    Local<jstring> whereText(env, env->NewStringUTF(where));
    if (!whereText) return JNI_ERR;
    Local<jstring> messageText(env, env->NewStringUTF(message));
    if (!messageText) return JNI_ERR;
    Local<jthrowable> exception(
        env, static_cast<jthrowable>(
                 env->NewObject(cls.get(), init, whereText.get(), status, messageText.get())));
    if (!exception) return JNI_ERR;
    return env->Throw(exception.get());
}

}  // namespace tarnel
