// Reading the session handle a NativeSession carries.
#include "JavaContract.h"

#include "JniGuards.h"

extern "C" CK_SESSION_HANDLE Session2CKSession(JNIEnv* env, jobject session) {
    LocalRef<jclass> sessionClass(env, findClass(env, "qorvik/nat/NativeSession",
                                                 "Class 'qorvik/nat/NativeSession' not found"));
    jfieldID handle = findField(env, sessionClass.get(), "m_sessionHandle", "J",
                                "Field m_sessionHandle' not found");
    return static_cast<CK_SESSION_HANDLE>(env->GetLongField(session, handle));
}
