// One real JVM per test process, and helpers to call the bridge's exports
// with real Java objects and read what they leave pending.
#pragma once

#include <jni.h>

#include <initializer_list>
#include <optional>
#include <utility>
#include <string>

namespace kt {

// The JVM started by the test main (class path from KELVANE_TEST_CLASSPATH).
JNIEnv* env();
// How many "WARNING in native method" lines -Xcheck:jni has printed so far;
// any at all fails the run.
int jniWarnings();

// What a pending CryptokiException carries.
struct Thrown {
    std::string function;
    int code = 0;
    std::string message;
};

// Takes the pending exception, which must be a CryptokiException; nullopt
// when nothing is pending. A pending exception of another class fails the
// current test and is cleared.
std::optional<Thrown> takeException();

// The class name of whatever is pending (cleared), or "" when nothing is.
std::string takeAnyExceptionClass();

// A fresh object of a contract class without running its constructor.
jobject newObject(const char* classPath);
// new qorvik.nat.NativeSession(slot, handle) built the way Java would.
jobject newSession(jint slotId, jint handle);
// The int field m_slotID of a NativeSlot, the long m_sessionHandle of a session.
jint slotId(jobject nativeSlot);
std::string javaString(jstring s);
// Calls an int or String getter on an object (e.g. "getMinor", "()I").
jint callInt(jobject obj, const char* method);
jlong callLong(jobject obj, const char* method);
std::string callString(jobject obj, const char* method);
jobject callObject(jobject obj, const char* method, const char* signature);

// Java values as a caller would pass them.
jobject javaInteger(jint value);
jobject javaBoolean(bool value);
jobject javaLong(jlong value);
jbyteArray javaBytes(const std::string& bytes);
std::string bytesOf(jbyteArray array);
// new qorvik.Attribute(type, value) for each pair, as an Attribute[].
jobjectArray attributeArray(std::initializer_list<std::pair<jint, jobject>> attributes);
jintArray intArray(std::initializer_list<jint> values);
// The type and value of a qorvik.Attribute (fields read directly).
jint attributeType(jobject attribute);
jobject attributeValue(jobject attribute);

}  // namespace kt
