// Building the small Java value objects every subsystem hands out.
#pragma once

#include "../kelmora.h"

// The low 32 bits of a CK_ULONG as a Java int (slot IDs, handles, types).
inline jint lowJint(CK_ULONG value) {
    return static_cast<jint>(static_cast<uint32_t>(value));
}

// A qorvik.Version: the constructor takes the minor number first.
inline jobject newVersion(JNIEnv* env, jclass versionClass, jmethodID ctor, const CK_VERSION& v) {
    return env->NewObject(versionClass, ctor, static_cast<jint>(v.minor),
                          static_cast<jint>(v.major));
}
