// Counts and lengths handed to Java as ints on Linux and macOS: where CK_ULONG
// is 64 bits they pass the signed range check (CK_UNAVAILABLE_INFORMATION is
// -1 and passes); the 32-bit builds hand the bits on unchecked.
#pragma once

#include <cstdint>

extern "C" {
// Returns val as a jint; outside the jint range it also leaves the
// "Check64BitLen" CryptokiException pending and returns the low 32 bits.
KELMORA_API jint Check64BitLen(JNIEnv* env, long long val);
}

namespace platform {

// The range-check message names no caller here.
constexpr bool kRangeMessageNamesCaller = false;

inline jint rangeChecked(JNIEnv* env, std::uint64_t value) {
    if constexpr (sizeof(CK_ULONG) > sizeof(jint)) {
        return narrowToInt(env, value);
    } else {
        (void)env;
        return plainBits(value);
    }
}

}  // namespace platform

// One range check: `site` is its position within the method (1 for the
// first, in code order); only the Windows message shows it.
#define RANGE_CHECKED(env, value, site) (static_cast<void>(site), platform::rangeChecked((env), (value)))
// J_GetTokenInfo's eleven values: checked like any other here.
#define TOKEN_INFO_VALUE(env, value, site) RANGE_CHECKED(env, value, site)
