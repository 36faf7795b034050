// A JNIEnv without a JVM (there is no Windows JVM here): a function table
// holding the few functions the bridge's failure path and the slot queries
// call. Classes, strings, byte arrays and constructed objects are records of
// this fake; a CryptokiException that the bridge throws is kept as its
// (function name, code, message). A call of any other table entry is counted
// as unexpected.
#pragma once

#include <jni.h>

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

class FakeJni {
  public:
    // One value a constructor was given (its kind is the descriptor letter).
    struct Argument {
        char kind;
        long long number;
        _jobject* object;
    };
    struct Object {
        std::string className;  // for a class object: the class it stands for
        bool isClass = false;
        std::string text;                 // strings and byte arrays
        std::vector<Argument> arguments;  // constructed objects
        std::map<std::string, long long> intFields;
    };
    struct Thrown {
        std::string function;
        long code;
        std::string message;
    };

    FakeJni();
    ~FakeJni();
    FakeJni(const FakeJni&) = delete;
    FakeJni& operator=(const FakeJni&) = delete;

    JNIEnv* env() { return &env_; }

    // FindClass answers null for these class paths (and leaves an error pending).
    std::set<std::string> missingClasses;

    // An object of class path `className` with the given int fields.
    jobject newObject(const std::string& className,
                      const std::map<std::string, long long>& intFields = {});
    static const Object& of(jobject object) { return *reinterpret_cast<const Object*>(object); }

    // The pending CryptokiException, if the bridge threw one.
    bool hasThrown() const { return pending_ != nullptr; }
    Thrown thrown() const;
    void clear() { pending_ = nullptr; }

    int unexpectedCalls() const { return unexpectedCalls_; }
    // JNI calls made while an exception was pending, other than the ones
    // allowed then (ExceptionCheck, ExceptionClear, DeleteLocalRef).
    int callsWhilePending() const { return callsWhilePending_; }
    int localRefsDeleted() const { return localRefsDeleted_; }
    // String characters taken and not yet released.
    int stringCharsHeld() const { return stringCharsHeld_; }

    jstring newString(const std::string& text);

  private:
    struct Member {
        std::string className;
        std::string name;
        std::string signature;
    };

    static FakeJni& self(JNIEnv* env);
    Object& make(Object object);
    void entered() {
        if (pending_ != nullptr) ++callsWhilePending_;
    }

    static jclass JNICALL findClass(JNIEnv* env, const char* name);
    static jmethodID JNICALL getMethodId(JNIEnv* env, jclass cls, const char* name,
                                         const char* sig);
    static jfieldID JNICALL getFieldId(JNIEnv* env, jclass cls, const char* name, const char* sig);
    static jint JNICALL getIntField(JNIEnv* env, jobject obj, jfieldID field);
    static jobject JNICALL newObjectV(JNIEnv* env, jclass cls, jmethodID ctor, va_list args);
    static jbyteArray JNICALL newByteArray(JNIEnv* env, jsize length);
    static void JNICALL setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                           const jbyte* bytes);
    static jstring JNICALL newStringUtf(JNIEnv* env, const char* text);
    static jint JNICALL throwObject(JNIEnv* env, jthrowable obj);
    static jboolean JNICALL exceptionCheck(JNIEnv* env);
    static void JNICALL exceptionClear(JNIEnv* env);
    static jthrowable JNICALL exceptionOccurred(JNIEnv* env);
    static void JNICALL deleteLocalRef(JNIEnv* env, jobject obj);
    static const char* JNICALL getStringUtfChars(JNIEnv* env, jstring str, jboolean* isCopy);
    static void JNICALL releaseStringUtfChars(JNIEnv* env, jstring str, const char* chars);

    JNINativeInterface_ table_;
    JNIEnv env_;
    std::deque<Object> objects_;
    std::deque<Member> members_;
    Object* pending_ = nullptr;
    Object lookupError_;
    int unexpectedCalls_ = 0;
    int callsWhilePending_ = 0;
    int localRefsDeleted_ = 0;
    int stringCharsHeld_ = 0;
};
