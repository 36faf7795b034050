// The one JVM of a fuzz process, started the way the native suite starts
// its own: in-process, with the contract classes' jar and -Xcheck:jni.
#pragma once

#include <jni.h>

namespace fuzz {

// Starts the JVM once; aborts when it cannot start.
JNIEnv* startJvm(const char* classPath);

}  // namespace fuzz
