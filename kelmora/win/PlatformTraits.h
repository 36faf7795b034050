// Windows: structures packed to 1 byte, CK_ULONG of 32 bits, bridge version
// 1.3. Counts and lengths handed to Java are checked as unsigned 32-bit
// values, and the failure names the method and the call site.
#pragma once

#include <cstdint>

namespace platform {

constexpr CK_BYTE kLibVersionMinor = 3;
// Trace text of the loader when the signature-family entry point is found.
constexpr const char* kFoundSetCallBackTrace = "loadLibrary - found C_SetCallback function";
// Name of the trace file (defined, never opened).
constexpr const char* kTraceFilePath = "c:\\zmx-libkelmora_log_file.txt";
// Size of the buffer every attribute read is primed with.
constexpr CK_ULONG kAttributeReadBufferSize = 3072;
// The boundary handler records the method's name for the range-check message.
constexpr bool kRangeMessageNamesCaller = true;

// Check64BitLen at call site `site` of the method now running.
jint rangeCheckedAt(JNIEnv* env, std::uint64_t value, int site);

}  // namespace platform

// "Error (caller : site) : Value out of size for 32 bit (jint)"
jint Check64BitLen(JNIEnv* env, long long val, const char* caller, int site);

#define RANGE_CHECKED(env, value, site) platform::rangeCheckedAt((env), (value), (site))
// J_GetTokenInfo passes its eleven values as plain bits on Windows.
#define TOKEN_INFO_VALUE(env, value, site) plainBits(value)
