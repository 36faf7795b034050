// The pattern every cryptographic method follows: windows over Java arrays
// checked before they are touched, the returning form (a new byte[] from a
// buffer that grows to what the module asks) and the filling form (the
// caller's array at an offset, a null array asking for the length).
#pragma once

#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "../core/JniGuards.h"
#include "../kelmora.h"

extern const char* const kWindowOutOfRange;

// Fails unless 0 <= off, 0 <= len and off + len <= the array's length.
void checkWindow(JNIEnv* env, jbyteArray array, jint off, jint len);

// The elements of a Java byte array, given back on every path: inputs
// without copy-back (JNI_ABORT), outputs with it (0).
class ByteArrayElements {
  public:
    ByteArrayElements(JNIEnv* env, jbyteArray array, jint releaseMode);
    ByteArrayElements(const ByteArrayElements&) = delete;
    ByteArrayElements& operator=(const ByteArrayElements&) = delete;
    ~ByteArrayElements();
    jbyte* get() const { return elements_; }

  private:
    JNIEnv* env_;
    jbyteArray array_;
    jbyte* elements_;
    jint mode_;
};

// An input window: a null array (or one whose elements cannot be had) fails
// with the method's message; the window is checked before anything is read.
class InputWindow {
  public:
    InputWindow(JNIEnv* env, jbyteArray array, jint off, jint len, const char* nullMessage);
    CK_BYTE_PTR data() const { return data_; }
    CK_ULONG length() const { return length_; }

  private:
    ByteArrayElements elements_;
    CK_BYTE_PTR data_ = nullptr;
    CK_ULONG length_ = 0;
};

// The output of the filling form: with an array, the elements from the offset
// to the end; with none, a length query (null address, capacity 0).
class OutputWindow {
  public:
    OutputWindow(JNIEnv* env, jbyteArray array, jint off);
    CK_BYTE_PTR data() const { return data_; }
    // The capacity variable handed to the module.
    CK_ULONG* length() { return &length_; }
    // The module's answer as the method's int result; a length beyond what it
    // was handed is refused.
    jint result(JNIEnv* env) const;

  private:
    ByteArrayElements elements_;
    CK_BYTE_PTR data_ = nullptr;
    CK_ULONG capacity_ = 0;
    CK_ULONG length_ = 0;
};

// Growing retries of the returning form before the method gives up.
constexpr int kMaxGrowingAttempts = 8;

// A native buffer of the returning form; an impossible size is an
// allocation failure like any other.
void resizeBuffer(std::vector<CK_BYTE>& buffer, CK_ULONG size);

// Makes a new byte[] of the module's output.
jbyteArray newResultArray(JNIEnv* env, const CK_BYTE* data, CK_ULONG length,
                          const char* resultMessage);

// Returning form: calls `call(buffer, &length)` with a buffer of `capacity`
// bytes; on CKR_BUFFER_TOO_SMALL with a length the buffer grows to exactly
// that length and the call is repeated (a bounded number of times). A length
// no Java array could take is refused before it is allocated.
template <typename Call>
jbyteArray returningForm(JNIEnv* env, CK_ULONG capacity, const char* resultMessage, Call call) {
    std::vector<CK_BYTE> buffer;
    for (int attempt = 0;; ++attempt) {
        resizeBuffer(buffer, capacity);
        CK_ULONG length = capacity;
        const CK_RV rv = call(buffer.data(), &length);
        if (rv == CKR_OK) {
            checkReportedLength(length, capacity);
            return newResultArray(env, buffer.data(), length, resultMessage);
        }
        if (rv != CKR_BUFFER_TOO_SMALL) fail(rv);
        if (length == 0 || attempt == kMaxGrowingAttempts) fail(rv);
        requireJavaArrayLength(length);
        capacity = length;
    }
}

// A start routine that takes a key (J_EncryptInit, J_SignInit, ...).
using KeyedStart = CK_RV (*)(JNIEnv*, CK_SESSION_HANDLE, jobject, jlong);

// What a method with an initialise flag runs first: the start routine when
// the flag is set, nothing otherwise (the mechanism is then never read).
inline auto startWhen(jboolean bInit, KeyedStart routine, JNIEnv* env, jlong jSession,
                      jobject jMechanism, jlong jKey) {
    return [=] {
        return bInit ? routine(env, static_cast<CK_SESSION_HANDLE>(jSession), jMechanism, jKey)
                     : CK_RV(CKR_OK);
    };
}

// Runs what a method with an initialise flag starts with; a refused start
// has been reported by the start routine, so the method just stops.
template <typename Start>
void startOrStop(Start start) {
    if (start() != CKR_OK) throw AlreadyReported{};
}

// Returning form of a data call: the module checked, the operation started
// when asked (`start` returns non-zero after a refused start), the input
// window taken, then `call(module, in, out, &outLen)` with a buffer of the input
// length plus `extra` bytes, growing when the module asks for more.
template <typename Start, typename Call>
jbyteArray dataReturning(JNIEnv* env, const char* name, Start start, jbyteArray jIn, jint off,
                         jint len, const char* inputMessage, CK_ULONG extra,
                         const char* resultMessage, Call call) {
    return guarded(env, name, jbyteArray{nullptr}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        startOrStop(start);
        InputWindow in(env, jIn, off, len, inputMessage);
        return returningForm(
            env, in.length() + extra, resultMessage,
            [&](CK_BYTE_PTR out, CK_ULONG_PTR outLen) { return call(module, in, out, outLen); });
    });
}

// Filling form of a data call: as above, then the caller's output array at
// its offset (a null array asks for the length) and one module call.
template <typename Start, typename Call>
jint dataFilling(JNIEnv* env, const char* name, Start start, jbyteArray jIn, jint off, jint len,
                 const char* inputMessage, jbyteArray jOut, jint outOff, Call call) {
    return guarded(env, name, jint{0}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        startOrStop(start);
        InputWindow in(env, jIn, off, len, inputMessage);
        OutputWindow out(env, jOut, outOff);
        const CK_RV rv = call(module, in, out.data(), out.length());
        if (rv != CKR_OK) fail(rv);
        return out.result(env);
    });
}

// Final parts: the session from the NativeSession; returning form from 512 bytes.
template <typename Call>
jbyteArray finalReturning(JNIEnv* env, jobject self, const char* name, const char* resultMessage,
                          Call call) {
    return guarded(env, name, jbyteArray{nullptr}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        return returningForm(env, 512, resultMessage, [&](CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
            return call(module, session, out, outLen);
        });
    });
}

// Final parts, filling form: the session is read after the output elements.
template <typename Call>
jint finalFilling(JNIEnv* env, jobject self, const char* name, jbyteArray jOut, jint outOff,
                  Call call) {
    return guarded(env, name, jint{0}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        OutputWindow out(env, jOut, outOff);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        const CK_RV rv = call(module, session, out.data(), out.length());
        if (rv != CKR_OK) fail(rv);
        return out.result(env);
    });
}

// The C_xxxInit functions that take a mechanism and a key.
using KeyedInit = CK_RV (*CK_FUNCTION_LIST::*)(CK_SESSION_HANDLE, CK_MECHANISM_PTR,
                                               CK_OBJECT_HANDLE);

// A start routine for a keyed operation, reporting under its own name.
CK_RV startKeyed(JNIEnv* env, const char* name, CK_SESSION_HANDLE session, jobject jMechanism,
                 jlong jKey, KeyedInit init);

// The native methods that only start an operation: the module must be
// initialised; the routine reports its own failures.
void startOnly(JNIEnv* env, const char* name, KeyedStart routine, jlong jSession,
               jobject jMechanism, jlong jKey);

// Runs a start routine's body under the routine's own name; CKR_OK, or the
// module's refusal, or some other non-zero value after a failure of the bridge.
template <typename Body>
CK_RV startRoutine(JNIEnv* env, const char* name, Body body) {
    CK_RV result = CKR_GENERAL_ERROR;
    guardedVoid(env, name, [&] {
        const CK_RV rv = body();
        if (rv != CKR_OK) {
            result = rv;
            fail(rv);
        }
        result = CKR_OK;
    });
    return result;
}
