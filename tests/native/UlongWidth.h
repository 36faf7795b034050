// What a CK_ULONG becomes on its way to Java, by the width of CK_ULONG on this
// build. Where it is 64 bits a count, length or flag word handed to Java as an
// int must fit the int range (read as signed, so all ones passes as -1) or the
// range failure is raised; where it is 32 bits the bits pass unchecked, so
// 0x80000000 arrives as a negative int and all ones as -1. The suites assert
// through these helpers, so one body of cases holds on either build.
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

#include <climits>
#include <cstdint>

#include "Jvm.h"
#include "kelmora.h"

namespace kt::ulong_width {

constexpr bool kWide = sizeof(CK_ULONG) > sizeof(jint);

// The value a module can hold in a CK_ULONG (or a handle) on this build: on
// 32-bit builds only the low 32 bits exist.
constexpr CK_ULONG held(unsigned long long value) {
    return static_cast<CK_ULONG>(value);
}

// A length no Java array can hold and no buffer should be made for: 2^40
// where CK_ULONG has the bits, 2^31 where it does not.
constexpr CK_ULONG kBeyondJavaArrays = kWide ? held(1ull << 40) : held(0x8000'0000ull);

// Whether handing value to Java as an int raises the range failure here.
constexpr bool failsRangeCheck(CK_ULONG value) {
    if constexpr (kWide) {
        const auto v = static_cast<long long>(value);
        return v < INT_MIN || v > INT_MAX;
    } else {
        return false;
    }
}

// The int Java receives: the low 32 bits (also what the failed check returns).
constexpr jint asJint(CK_ULONG value) {
    return static_cast<jint>(static_cast<std::uint32_t>(value));
}

// A handle as the jlong Java receives: every bit of the CK_ULONG, unsigned.
constexpr jlong asJlong(CK_ULONG value) {
    return static_cast<jlong>(value);
}

// After a method handed value to Java as an int: the range failure is pending
// where the value cannot pass (taken, returns false), nothing is pending where
// it does (returns true: the caller then checks the int it got).
inline bool expectRangeOutcome(CK_ULONG value) {
    auto thrown = takeException();
    if (failsRangeCheck(value)) {
        EXPECT_TRUE(thrown.has_value())
            << "0x" << std::hex << value << " must fail the range check";
        if (thrown) {
            EXPECT_EQ(thrown->function, "Check64BitLen");
            EXPECT_EQ(thrown->code, 5);
            EXPECT_EQ(thrown->message, "Value out of size for 32 bit (jint)");
        }
        return false;
    }
    EXPECT_FALSE(thrown.has_value())
        << "0x" << std::hex << value << " passes as its bits here, but " << thrown->function << " '"
        << thrown->message << "' is pending";
    return true;
}

}  // namespace kt::ulong_width
