#include "FuzzJvm.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

JNIEnv* startJvm(const char* classPath) {
    static JNIEnv* env = nullptr;
    if (env != nullptr) return env;
    const std::string classPathOption = std::string("-Djava.class.path=") + classPath;
    std::vector<JavaVMOption> options;
    options.push_back({const_cast<char*>(classPathOption.c_str()), nullptr});
    // Every JNI call the bridge makes is checked; misuse aborts the run.
    options.push_back({const_cast<char*>("-Xcheck:jni"), nullptr});
    options.push_back({const_cast<char*>("-Xss4m"), nullptr});
    // A small fixed heap and one collector thread: many runs share the machine.
    options.push_back({const_cast<char*>("-Xmx256m"), nullptr});
    options.push_back({const_cast<char*>("-XX:+UseSerialGC"), nullptr});
    options.push_back({const_cast<char*>("-XX:-UsePerfData"), nullptr});
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_10;
    args.nOptions = static_cast<jint>(options.size());
    args.options = options.data();
    args.ignoreUnrecognized = JNI_FALSE;
    JavaVM* vm = nullptr;
    void* envOut = nullptr;
    if (JNI_CreateJavaVM(&vm, &envOut, &args) != JNI_OK) {
        std::fprintf(stderr, "fuzz: the JVM did not start (class path %s)\n", classPath);
        std::abort();
    }
    env = static_cast<JNIEnv*>(envOut);
    return env;
}

}  // namespace fuzz
