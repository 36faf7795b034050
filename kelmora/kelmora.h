// Shared declarations of the token bridge: failure forms, process-wide
// state and the internal routines every subsystem uses.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>

#include "pkcs11.h"

#ifndef NULL_PTR
#define NULL_PTR nullptr
#endif

// Internal routines and process-wide variables leave the library on Linux and
// macOS; the Windows build exports only the native methods (from a .def file).
#if defined(_WIN32)
#define KELMORA_API
#else
#define KELMORA_API __attribute__((visibility("default")))
#endif

// Vendor entry point of the signature-card family: registers a callback the
// module may call during a module call to ask for the signer PIN.
typedef CK_RV (*CK_C_SetCallBack)(CK_LONG, CK_VOID_PTR);

// One record of the CK_RV description table.
struct ErrorDesc {
    const char* Descr;
    CK_RV Value;
};

// ---- Failure forms ---------------------------------------------------------
// A constant text (static storage), reported with code CKR_GENERAL_ERROR.
struct MessageFailure {
    const char* message;
};
// A CK_RV, reported with its code and description.
struct ReturnValueFailure {
    CK_RV rv;
};
// A CryptokiException is already pending (a failed range check): the method
// stops and reports nothing more.
struct AlreadyReported {};

[[noreturn]] inline void fail(const char* message) {
    throw MessageFailure{message};
}
[[noreturn]] inline void fail(CK_RV rv) {
    throw ReturnValueFailure{rv};
}

// ---- Process-wide state ----------------------------------------------------
extern "C" {
KELMORA_API extern CK_FUNCTION_LIST_PTR functionList;
KELMORA_API extern void* hLibModule;
KELMORA_API extern char sLibName[1024];
KELMORA_API extern char sLibFullPath[4096];
KELMORA_API extern int freeLibrary;
KELMORA_API extern CK_BBOOL bInitialized;
KELMORA_API extern CK_C_SetCallBack pC_SetCallBack;
KELMORA_API extern bool g_bIsSecondAuthenticationRequired;
KELMORA_API extern CK_VERSION libVersion;
KELMORA_API extern CK_CHAR g_SignerPin[20];
KELMORA_API extern const char* g_sLogPath;
}

// ---- Failure reporting and trace hook --------------------------------------
KELMORA_API void throwPkcs11Exception(JNIEnv* env, const char* FunctionName, const char* Message);
KELMORA_API void throwPkcs11Exception(JNIEnv* env, const char* FunctionName, CK_RV Rv);

extern "C" {
KELMORA_API const char* getCryptokiErrorDesc(CK_RV Error);
KELMORA_API void LogFunction(const char* sFuncName, CK_RV Rv, ...);
KELMORA_API void traceString(JNIEnv* env, const char* FieldName, const char* message);
KELMORA_API void EspandiDati(const unsigned char* in, char* ou, long len);
KELMORA_API void rmTrailSpace(unsigned char* str, unsigned int len);

// ---- Loader ----------------------------------------------------------------
KELMORA_API void loadLibrary(const char* library, int freeLib, int bChangeDir);
KELMORA_API char* getmodulepath(void* hModule, const char* sModule);

// ---- Second authentication --------------------------------------------------
// Called by a signature-family module during a module call: the signer PIN's
// length, and its bytes when pPin is not null (no terminator).
KELMORA_API CK_RV GetPIN(CK_CHAR_PTR pPin, CK_ULONG* ulPinLen);

// ---- Start routines of the cryptographic operations --------------------------
// Each converts the mechanism, starts the operation in the module and reports
// its own failure under its own name; CKR_OK, or non-zero after any failure.
KELMORA_API CK_RV J_EncryptInit(JNIEnv* env, CK_SESSION_HANDLE hSession, jobject mechanism,
                                jlong jKey);
KELMORA_API CK_RV J_DecryptInit(JNIEnv* env, CK_SESSION_HANDLE hSession, jobject mechanism,
                                jlong jKey);
KELMORA_API CK_RV J_DigestInit(JNIEnv* env, CK_SESSION_HANDLE hSession, jobject jMechanism);
KELMORA_API CK_RV J_SignInit(JNIEnv* env, CK_SESSION_HANDLE hSession, jobject jMechanism,
                             jlong jKey);
KELMORA_API CK_RV J_VerifyInit(JNIEnv* env, CK_SESSION_HANDLE hSession, jobject jMechanism,
                               jlong jKey);
KELMORA_API CK_RV J_SeedRandom(JNIEnv* env, CK_SESSION_HANDLE hSession, jbyteArray jSeed);

// ---- Java contract helpers -------------------------------------------------
KELMORA_API CK_SESSION_HANDLE Session2CKSession(JNIEnv* env, jobject session);
}

// ---- Helpers for the native methods (not exported) -------------------------

// A Java int that carries a CK_ULONG (a type, a class, a slot ID, a flag word)
// stands for its 32 bits: from 0x80000000 up it is a vendor-defined value, not
// a negative number, and it reaches the module as Java had it.
inline CK_ULONG ulongFromJint(jint value) {
    return static_cast<CK_ULONG>(static_cast<uint32_t>(value));
}

// Fails unless a length the module chose for a new Java array fits one; checked
// before anything of that length is allocated.
void requireJavaArrayLength(CK_ULONG length);

// The module is usable only while the flag is set and a function list is
// present; after a failed C_Finalize the list is gone while the flag stays.
inline bool moduleInitialized() {
    return bInitialized && functionList != nullptr;
}

// Fails with CKR_CRYPTOKI_NOT_INITIALIZED unless the module is usable, and
// returns its function list.
CK_FUNCTION_LIST_PTR requireModule();

// Narrows a count or length to a Java int by the signed 64-bit rule; after a
// range failure the "Check64BitLen" exception is pending and the method stops.
// Methods use RANGE_CHECKED (PlatformTraits.h), which picks the platform's rule.
jint narrowToInt(JNIEnv* env, std::uint64_t value);

// The low 32 bits as a Java int, unchecked (the 32-bit builds' rule).
inline jint plainBits(std::uint64_t value) {
    return static_cast<jint>(static_cast<uint32_t>(value));
}

// The function-name text of the native method running on this thread, where
// the platform's range-check message names it (else null).
const char* currentMethodName();
void setCurrentMethodName(const char* name);

// Fails when a module reports more than the capacity it was handed.
void checkReportedLength(CK_ULONG reported, CK_ULONG capacity);

// The text of the failure for a module that lies about a length.
extern const char* const kLengthLargerThanBuffer;
// The texts of the failures for lengths and counts no Java array can take.
extern const char* const kLengthBeyondJavaArray;
extern const char* const kSearchTooLarge;

// The platform's constants and range-check call-site form.
#include "PlatformTraits.h"
