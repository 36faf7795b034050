#include "Java.h"

#include <new>

#include "tarnel.h"

namespace tarnel {

namespace {
constexpr Status kOutOfMemory = -108;
constexpr Status kInternal = -2070;  // errSecInternalComponent
}  // namespace

Owned::~Owned() {
    if (ref_ != nullptr) platform().release(ref_);
}

ByteElements::ByteElements(JNIEnv* env, jbyteArray array) : env_(env), array_(array) {
    size_ = static_cast<std::size_t>(env->GetArrayLength(array));
    elements_ = env->GetByteArrayElements(array, nullptr);
    if (elements_ == nullptr) throw JavaPending{};
}

ByteElements::~ByteElements() {
    if (elements_ != nullptr) env_->ReleaseByteArrayElements(array_, elements_, JNI_ABORT);
}

void checkPending(JNIEnv* env) {
    if (env->ExceptionCheck()) throw JavaPending{};
}

jclass findClass(JNIEnv* env, const char* name) {
    jclass cls = env->FindClass(name);
    if (cls == nullptr) throw JavaPending{};
    return cls;
}

jfieldID fieldId(JNIEnv* env, jclass cls, const char* name, const char* descriptor) {
    jfieldID id = env->GetFieldID(cls, name, descriptor);
    if (id == nullptr) throw JavaPending{};
    return id;
}

jmethodID constructorId(JNIEnv* env, jclass cls, const char* descriptor) {
    jmethodID id = env->GetMethodID(cls, "<init>", descriptor);
    if (id == nullptr) throw JavaPending{};
    return id;
}

namespace {

jstring utf8Name(JNIEnv* env) {
    jstring name = env->NewStringUTF("UTF-8");
    if (name == nullptr) throw JavaPending{};
    return name;
}

}  // namespace

std::string utf8Of(JNIEnv* env, jstring text) {
    Local<jclass> stringClass(env, findClass(env, "java/lang/String"));
    jmethodID getBytes = env->GetMethodID(stringClass.get(), "getBytes", "(Ljava/lang/String;)[B");
    if (getBytes == nullptr) throw JavaPending{};
    Local<jstring> charset(env, utf8Name(env));
    Local<jbyteArray> bytes(
        env, static_cast<jbyteArray>(env->CallObjectMethod(text, getBytes, charset.get())));
    checkPending(env);
    const jsize length = env->GetArrayLength(bytes.get());
    std::string result(static_cast<std::size_t>(length), '\0');
    env->GetByteArrayRegion(bytes.get(), 0, length, reinterpret_cast<jbyte*>(result.data()));
    checkPending(env);
    return result;
}

jbyteArray bytesOf(JNIEnv* env, const void* bytes, std::size_t length) {
    if (length > static_cast<std::size_t>(INT32_MAX)) throw std::bad_alloc();
    const jsize size = static_cast<jsize>(length);
    jbyteArray array = env->NewByteArray(size);
    if (array == nullptr) throw JavaPending{};
    env->SetByteArrayRegion(array, 0, size, static_cast<const jbyte*>(bytes));
    if (env->ExceptionCheck()) {
        env->DeleteLocalRef(array);
        throw JavaPending{};
    }
    return array;
}

jstring stringOfUtf8(JNIEnv* env, const char* bytes, std::size_t length) {
    Local<jbyteArray> array(env, bytesOf(env, bytes, length));
    Local<jclass> stringClass(env, findClass(env, "java/lang/String"));
    jmethodID init = constructorId(env, stringClass.get(), "([BLjava/lang/String;)V");
    Local<jstring> charset(env, utf8Name(env));
    jobject text = env->NewObject(stringClass.get(), init, array.get(), charset.get());
    checkPending(env);
    return static_cast<jstring>(text);
}

void reportInternalFailure(JNIEnv* env, const char* where, bool outOfMemory) noexcept {
    if (env->ExceptionCheck()) return;
    if (outOfMemory) {
        ThrowKeyChainException(env, where, kOutOfMemory, "Out of memory");
    } else {
        ThrowKeyChainException(env, where, kInternal, "Internal error");
    }
}

}  // namespace tarnel
