#include "FuzzJvm.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../support/EmbeddedJvm.h"

namespace fuzz {

JNIEnv* startJvm(const char* classPath) {
    static JNIEnv* env = nullptr;
    if (env != nullptr) return env;
    // Every JNI call the bridge makes is checked; misuse aborts the run. A
    // small fixed heap and one collector thread: many runs share the machine.
    env = embedded_jvm::start(classPath,
                              {"-Xcheck:jni", "-Xmx256m", "-XX:+UseSerialGC", "-XX:-UsePerfData"});
    if (env == nullptr) {
        std::fprintf(stderr, "fuzz: the JVM did not start (class path %s)\n", classPath);
        std::abort();
    }
    return env;
}

}  // namespace fuzz
