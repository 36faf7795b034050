// Windows over Java arrays, the returning and the filling form.
#include "Operation.h"

#include "../convert/Mechanism.h"

const char* const kWindowOutOfRange = "Array offset or length out of range";

void checkWindow(JNIEnv* env, jbyteArray array, jint off, jint len) {
    const long long size = env->GetArrayLength(array);
    if (off < 0 || len < 0 || static_cast<long long>(off) + len > size) fail(kWindowOutOfRange);
}

ByteArrayElements::ByteArrayElements(JNIEnv* env, jbyteArray array, jint releaseMode)
    : env_(env),
      array_(array),
      elements_(array != nullptr ? env->GetByteArrayElements(array, nullptr) : nullptr),
      mode_(releaseMode) {
    if (array_ != nullptr && elements_ == nullptr) env_->ExceptionClear();
}

ByteArrayElements::~ByteArrayElements() {
    if (elements_ != nullptr) env_->ReleaseByteArrayElements(array_, elements_, mode_);
}

namespace {

jbyteArray checkedInput(JNIEnv* env, jbyteArray array, jint off, jint len,
                        const char* nullMessage) {
    if (array == nullptr) fail(nullMessage);
    checkWindow(env, array, off, len);
    return array;
}

jbyteArray checkedOutput(JNIEnv* env, jbyteArray array, jint off) {
    if (array != nullptr && (off < 0 || off > env->GetArrayLength(array))) fail(kWindowOutOfRange);
    return array;
}

}  // namespace

InputWindow::InputWindow(JNIEnv* env, jbyteArray array, jint off, jint len, const char* nullMessage)
    : elements_(env, checkedInput(env, array, off, len, nullMessage), JNI_ABORT) {
    if (elements_.get() == nullptr) fail(nullMessage);
    data_ = reinterpret_cast<CK_BYTE_PTR>(elements_.get()) + off;
    length_ = static_cast<CK_ULONG>(len);
}

OutputWindow::OutputWindow(JNIEnv* env, jbyteArray array, jint off)
    : elements_(env, checkedOutput(env, array, off), 0) {
    // Without elements the call is the standard's length query.
    if (elements_.get() != nullptr) {
        data_ = reinterpret_cast<CK_BYTE_PTR>(elements_.get()) + off;
        capacity_ = static_cast<CK_ULONG>(env->GetArrayLength(array) - off);
    }
    length_ = capacity_;
}

jint OutputWindow::result(JNIEnv* env) const {
    if (data_ != nullptr) checkReportedLength(length_, capacity_);
    return RANGE_CHECKED(env, length_, 1);
}

void resizeBuffer(std::vector<CK_BYTE>& buffer, CK_ULONG size) {
    if (size > buffer.max_size()) throw std::bad_alloc();
    try {
        buffer.resize(size > 0 ? size : 1);
    } catch (const std::length_error&) {
        throw std::bad_alloc();
    }
}

jbyteArray newResultArray(JNIEnv* env, const CK_BYTE* data, CK_ULONG length,
                          const char* resultMessage) {
    const jint size = RANGE_CHECKED(env, length, 1);
    jbyteArray array = require(env, env->NewByteArray(size), resultMessage);
    env->SetByteArrayRegion(array, 0, size, reinterpret_cast<const jbyte*>(data));
    return array;
}

CK_RV startKeyed(JNIEnv* env, const char* name, CK_SESSION_HANDLE session, jobject jMechanism,
                 jlong jKey, KeyedInit init) {
    return startRoutine(env, name, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        MechanismRecord mechanism(env, jMechanism);
        return (module->*init)(session, mechanism.get(), static_cast<CK_OBJECT_HANDLE>(jKey));
    });
}

void startOnly(JNIEnv* env, const char* name, KeyedStart routine, jlong jSession,
               jobject jMechanism, jlong jKey) {
    if (!moduleInitialized()) {
        throwPkcs11Exception(env, name, static_cast<CK_RV>(CKR_CRYPTOKI_NOT_INITIALIZED));
        return;
    }
    routine(env, static_cast<CK_SESSION_HANDLE>(jSession), jMechanism, jKey);
}
