// Small RAII guards for what a native method obtains from the JVM, the
// lookups that raise message failures, and the one boundary handler per
// native method.
#pragma once

#include <new>
#include <utility>

#include "../kelmora.h"

// A local reference, deleted when the guard goes out of scope (deleting is
// allowed while an exception is pending).
template <typename T>
class LocalRef {
  public:
    LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    ~LocalRef() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    T get() const { return ref_; }
    // Hands the reference to the caller (a result going back to Java).
    T release() { return std::exchange(ref_, nullptr); }
    explicit operator bool() const { return ref_ != nullptr; }

  private:
    JNIEnv* env_;
    T ref_;
};

// Modified UTF-8 characters of a Java string, released on every path.
class UtfChars {
  public:
    UtfChars(JNIEnv* env, jstring str)
        : env_(env), str_(str), chars_(str ? env->GetStringUTFChars(str, nullptr) : nullptr) {
        if (str_ != nullptr && chars_ == nullptr) env_->ExceptionClear();
    }
    UtfChars(const UtfChars&) = delete;
    UtfChars& operator=(const UtfChars&) = delete;
    ~UtfChars() {
        if (chars_ != nullptr) env_->ReleaseStringUTFChars(str_, chars_);
    }
    const char* get() const { return chars_; }

  private:
    JNIEnv* env_;
    jstring str_;
    const char* chars_;
};

// Class lookup by path; a missing class clears the JVM's error and fails
// with the caller's message.
inline jclass findClass(JNIEnv* env, const char* path, const char* message) {
    jclass cls = env->FindClass(path);
    if (cls == nullptr) {
        env->ExceptionClear();
        fail(message);
    }
    return cls;
}

inline jmethodID findMethod(JNIEnv* env, jclass cls, const char* name, const char* sig,
                            const char* message) {
    jmethodID id = env->GetMethodID(cls, name, sig);
    if (id == nullptr) {
        env->ExceptionClear();
        fail(message);
    }
    return id;
}

inline jfieldID findField(JNIEnv* env, jclass cls, const char* name, const char* sig,
                          const char* message) {
    jfieldID id = env->GetFieldID(cls, name, sig);
    if (id == nullptr) {
        env->ExceptionClear();
        fail(message);
    }
    return id;
}

// A JNI call that should have made an object returned null: clear what the
// JVM left pending and fail with the caller's message.
template <typename T>
T require(JNIEnv* env, T obj, const char* message) {
    if (obj == nullptr) {
        env->ExceptionClear();
        fail(message);
    }
    return obj;
}

// The boundary handler: runs a native method's body, turns the failure
// forms into the pending CryptokiException under the method's name and
// answers the neutral value. Nothing thrown inside ever reaches the JVM.
// Where the platform's range-check message names the method, the method's
// name is recorded for the time its body runs (a start routine inside a
// method records its own, then gives the method's back).
class MethodNameScope {
  public:
    explicit MethodNameScope(const char* name) {
        if constexpr (platform::kRangeMessageNamesCaller) {
            previous_ = currentMethodName();
            setCurrentMethodName(name);
        } else {
            (void)name;
        }
    }
    MethodNameScope(const MethodNameScope&) = delete;
    MethodNameScope& operator=(const MethodNameScope&) = delete;
    ~MethodNameScope() {
        if constexpr (platform::kRangeMessageNamesCaller) setCurrentMethodName(previous_);
    }

  private:
    const char* previous_ = nullptr;
};

template <typename Result, typename Body>
Result guarded(JNIEnv* env, const char* functionName, Result neutral, Body&& body) noexcept {
    MethodNameScope method(functionName);
    try {
        return body();
    } catch (const MessageFailure& f) {
        throwPkcs11Exception(env, functionName, f.message);
    } catch (const ReturnValueFailure& f) {
        throwPkcs11Exception(env, functionName, f.rv);
    } catch (const AlreadyReported&) {
    } catch (const std::bad_alloc&) {
        throwPkcs11Exception(env, functionName, static_cast<CK_RV>(CKR_HOST_MEMORY));
    } catch (...) {
        throwPkcs11Exception(env, functionName, static_cast<CK_RV>(CKR_GENERAL_ERROR));
    }
    return neutral;
}

template <typename Body>
void guardedVoid(JNIEnv* env, const char* functionName, Body&& body) noexcept {
    guarded(env, functionName, 0, [&] {
        body();
        return 0;
    });
}
