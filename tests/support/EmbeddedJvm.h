// Starting the one JVM of a test, fuzz or benchmark process in-process: the
// contract classes' class path, a stack deep enough for the bridge's frames,
// and whatever else the caller needs (-Xcheck:jni, a fixed heap, an output hook).
#pragma once

#include <jni.h>

#include <cstdarg>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace embedded_jvm {

// The JVM's JNIEnv for this thread, or null when it did not start. `print`,
// when given, receives everything the JVM prints (its "vfprintf" hook).
inline JNIEnv* start(const std::string& classPath, std::vector<std::string> options,
                     jint(JNICALL* print)(FILE*, const char*, va_list) = nullptr) {
    options.insert(options.begin(), {"-Djava.class.path=" + classPath, "-Xss4m"});
    std::vector<JavaVMOption> vmOptions;
    for (std::string& option : options) vmOptions.push_back({option.data(), nullptr});
    if (print != nullptr) {
        vmOptions.push_back({const_cast<char*>("vfprintf"), reinterpret_cast<void*>(print)});
    }
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_10;
    args.nOptions = static_cast<jint>(vmOptions.size());
    args.options = vmOptions.data();
    args.ignoreUnrecognized = JNI_FALSE;
    JavaVM* vm = nullptr;
    void* env = nullptr;
    if (JNI_CreateJavaVM(&vm, &env, &args) != JNI_OK) return nullptr;
    return static_cast<JNIEnv*>(env);
}

}  // namespace embedded_jvm
