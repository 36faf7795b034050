// Small JNI helpers of the keychain bridge: guards for what a method obtains,
// lookups that stop the method when the JVM has raised an error, and the
// UTF-8 conversions of texts in both directions.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "Platform.h"

namespace tarnel {

// A Java exception is pending; the method returns its neutral value.
struct JavaPending {};

// A local reference, deleted when the guard goes.
template <typename T>
class Local {
  public:
    Local(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
    Local(const Local&) = delete;
    Local& operator=(const Local&) = delete;
    ~Local() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    T get() const { return ref_; }
    T release() {
        T ref = ref_;
        ref_ = nullptr;
        return ref;
    }
    explicit operator bool() const { return ref_ != nullptr; }

  private:
    JNIEnv* env_;
    T ref_;
};

// A platform reference this method took, dropped when the guard goes.
class Owned {
  public:
    explicit Owned(Ref ref = nullptr) : ref_(ref) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned();
    Ref get() const { return ref_; }
    Ref* out() { return &ref_; }
    Ref release() {
        Ref ref = ref_;
        ref_ = nullptr;
        return ref;
    }

  private:
    Ref ref_;
};

// The elements of a byte array for reading; given back without copying back.
class ByteElements {
  public:
    ByteElements(JNIEnv* env, jbyteArray array);
    ByteElements(const ByteElements&) = delete;
    ByteElements& operator=(const ByteElements&) = delete;
    ~ByteElements();
    const std::uint8_t* data() const { return reinterpret_cast<const std::uint8_t*>(elements_); }
    std::size_t size() const { return size_; }

  private:
    JNIEnv* env_;
    jbyteArray array_;
    jbyte* elements_ = nullptr;
    std::size_t size_ = 0;
};

jclass findClass(JNIEnv* env, const char* name);  // a local reference; throws JavaPending
jfieldID fieldId(JNIEnv* env, jclass cls, const char* name, const char* descriptor);
jmethodID constructorId(JNIEnv* env, jclass cls, const char* descriptor);
void checkPending(JNIEnv* env);  // throws JavaPending when an exception is pending

// A Java string's text as UTF-8.
std::string utf8Of(JNIEnv* env, jstring text);
// A new Java string decoded from UTF-8 bytes (malformed input becomes replacement characters).
jstring stringOfUtf8(JNIEnv* env, const char* bytes, std::size_t length);
// A new byte[] holding the bytes.
jbyteArray bytesOf(JNIEnv* env, const void* bytes, std::size_t length);

// Identity references travel in Java longs.
inline Ref refOfHandle(jlong handle) {
    return reinterpret_cast<Ref>(static_cast<std::intptr_t>(handle));
}
inline jlong handleOfRef(Ref ref) {
    return static_cast<jlong>(reinterpret_cast<std::intptr_t>(ref));
}

void reportInternalFailure(JNIEnv* env, const char* where, bool outOfMemory) noexcept;

// Runs a native method's body: a pending Java exception, a failure to allocate or any other C++
// exception ends it with `fallback`, and no C++ exception reaches the JVM.
template <typename R, typename Body>
R boundary(JNIEnv* env, const char* where, R fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (const JavaPending&) {
    } catch (const std::bad_alloc&) {
        reportInternalFailure(env, where, true);
    } catch (...) {
        reportInternalFailure(env, where, false);
    }
    return fallback;
}

}  // namespace tarnel
