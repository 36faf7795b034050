// The range check of Linux and macOS: a value is read as a signed 64-bit
// number and must fit a jint.
#include <climits>

#include "../kelmora.h"

extern "C" jint Check64BitLen(JNIEnv* env, long long val) {
    if (val >= INT_MIN && val <= INT_MAX) return static_cast<jint>(val);
    throwPkcs11Exception(env, "Check64BitLen", "Value out of size for 32 bit (jint)");
    return static_cast<jint>(static_cast<uint32_t>(static_cast<unsigned long long>(val)));
}

jint narrowToInt(JNIEnv* env, std::uint64_t value) {
    // CK_UNAVAILABLE_INFORMATION (all ones) passes as -1.
    const jint narrowed = Check64BitLen(env, static_cast<long long>(value));
    if (env->ExceptionCheck()) throw AlreadyReported{};
    return narrowed;
}
