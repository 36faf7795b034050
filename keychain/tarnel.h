// Shared declarations of the keychain bridge: the Java-side names, the
// process-wide state and the internal routines behind the twelve native methods.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Platform.h"

namespace tarnel {

// Java side.
constexpr const char* kKeyChainClass = "zentrel/keychain/KeyChain";
constexpr const char* kIdentityClass = "zentrel/keychain/KeyChainIdentity";
constexpr const char* kExceptionClass = "zentrel/keychain/KeyChainException";

constexpr std::size_t kPathBufferSize = 500;       // a keychain path, terminator included
constexpr std::size_t kSignatureBufferSize = 256;  // the smallest signature buffer
constexpr std::uint32_t kCertificateSelector = 256;
constexpr std::uint32_t kPrintNameTag = 1;

// Statuses of the bridge's own.
constexpr Status kInvalidDomain = -25305;
constexpr Status kParamError = -50;
constexpr Status kSignRetryStatus = -1;  // a signing status that earns one more try

// The event task: true while it runs its loop; false asks it to stop.
extern std::atomic<bool> g_loop;
// Event names by event number, for the event printout.
extern const char g_kcEvents[12][30];

// Builds a KeyChainException (where, status, message) and throws it; returns the throw's status.
jint ThrowKeyChainException(JNIEnv* env, const char* where, jint status, const char* message);

// Reads a keychain's path into a path buffer; false when it cannot be read.
bool readKeychainPath(Ref keychain, char (&path)[kPathBufferSize]);

// Runs the calling thread's run loop until no source is pending.
void runPendingSources();

// The keychain of the default search list whose path is exactly `path`, retained.
Status SecKeychainOpen2(const char* path, Ref* keychain);

// The event task's body and its callback.
void UpdateChains();
Status KeychainCallback(std::uint32_t event, CallbackInfo* info, void* context);
// The printable name of an event number ("unknown event N" outside the table).
const char* eventName(std::uint32_t event, char (&scratch)[32]);

std::uint32_t GetAlgID(JNIEnv* env, jstring name);
Status SignBuffer(Ref identity, const char* pin, const std::uint8_t* data, std::size_t dataLength,
                  std::uint8_t* out, std::size_t* outLength, std::uint32_t digestAlgorithm,
                  std::uint32_t signatureAlgorithm);
Status cdsaSign(CspHandle csp, Ref key, std::uint32_t signatureAlgorithm, const CssmData* input,
                CssmData* output, std::uint32_t digestAlgorithm);
Status cdsaSignPin(CspHandle csp, Ref key, std::uint32_t signatureAlgorithm, const CssmData* input,
                   CssmData* output, std::uint32_t digestAlgorithm, const char* pin);

}  // namespace tarnel
