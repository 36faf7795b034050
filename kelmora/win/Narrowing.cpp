// The range check of Windows: CK_ULONG is 32 bits there and a value is read
// as unsigned, so anything from 0x80000000 up (all ones included) fails; the
// message names the method and the call site.
#include <cstdio>

#include "../kelmora.h"

jint Check64BitLen(JNIEnv* env, long long val, const char* caller, int site) {
    const unsigned long long bits = static_cast<unsigned long long>(val);
    if (bits <= 0x7FFFFFFFull) return static_cast<jint>(bits);
    char message[512];
    std::snprintf(message, sizeof message, "Error (%s : %d) : Value out of size for 32 bit (jint)",
                  caller != nullptr ? caller : "", site);
    throwPkcs11Exception(env, "Check64BitLen", message);
    return static_cast<jint>(static_cast<std::uint32_t>(bits));
}

namespace platform {

jint rangeCheckedAt(JNIEnv* env, std::uint64_t value, int site) {
    const jint narrowed =
        Check64BitLen(env, static_cast<long long>(value), currentMethodName(), site);
    if (env->ExceptionCheck()) throw AlreadyReported{};
    return narrowed;
}

}  // namespace platform
