// The shape of every native method, described once for the bad-input sweep:
// what `this` is, the kinds of its arguments, the start routine that
// consumes some of them, the module state a good call needs, and how to
// call the export. The sweep derives its bad inputs from the kinds alone,
// so a method added later joins by adding one row to BadInputMethods.h.
#pragma once

#include <jni.h>

#include <vector>

#include "kelmora.h"

namespace kt::badinput {

// What `this` is, and whether the method reads anything from it.
enum class Self {
    kCryptokiClass,  // static method: the class
    kCryptoki,       // a NativeCryptoki (never read)
    kSlot,           // a NativeSlot whose m_slotID is read
    kSession,        // a NativeSession whose m_sessionHandle is read
    kSessionUnread,  // a NativeSession; the session comes as an argument
};

// Argument kinds; the window kinds take several Java arguments in a row.
enum class Kind {
    kSessionHandle,  // long session handle
    kObjectHandle,   // long object or key handle
    kFlag,           // boolean (initialise flag, seed flag, free/changedir flags)
    kInt,            // int carrying a CK_ULONG: flags, mechanism or attribute type
    kUserType,       // byte user type
    kMechanism,      // qorvik.Mechanism
    kTemplate,       // Attribute[]
    kTypes,          // int[] of attribute types
    kString,         // String: PIN, label, module name
    kModuleName,     // String naming the module to load
    kInWindow,       // byte[], int offset, int length read by the module
    kOutWindow,      // byte[], int offset: the filling form's output
    kRandomWindow,   // byte[], int offset, int length written by the module
    kBytes,          // a whole byte[] read by the module (seed, saved state)
    kIgnored,        // an Object the method does not look at
};

// The bytes a good input window carries.
enum class Content { kData, kSignatureOfData, kSavedState };

struct Arg {
    Kind kind;
    // Text of the failure for a null reference; nullptr when null has a
    // documented meaning (no template, a length query, no login...).
    const char* nullMessage = nullptr;
    // kString: text of the failure for ""; nullptr when "" is acceptable.
    const char* emptyMessage = nullptr;
    // Consumed by the start routine (when the initialise flag is set).
    bool atStart = false;
    // kMechanism: the good type. kInt/kUserType/kFlag: the good value.
    long good = 0;
    // kString: the good text.
    const char* text = nullptr;
    Content content = Content::kData;
    // kObjectHandle: the module may leave it unused (the keys handed back
    // with a saved operation state), so a bad one need not be refused.
    bool ignorable = false;
};

// Number of Java arguments an argument kind spans.
inline int width(Kind kind) {
    switch (kind) {
        case Kind::kInWindow:
        case Kind::kRandomWindow:
            return 3;
        case Kind::kOutWindow:
            return 2;
        default:
            return 1;
    }
}

// Module state a good call of the method needs, made directly through the
// module's function list before each call.
enum class State {
    kLoggedIn,        // a user session
    kNoLogin,         // a session, nobody logged in
    kSoLogin,         // a session with the SO logged in
    kNoSession,       // no session open on the slot
    kNotInitialized,  // the module loaded but not initialised
    kSlotEvent,       // a slot event queued
    kEncrypting,
    kDecrypting,
    kDigesting,
    kSigning,
    kVerifying,  // verification started and fed the good data
    kSignRecovering,
    kVerifyRecovering,
    kDecryptDigesting,
    kDigestEncrypting,
    kSignEncrypting,
    kDecryptVerifying,
    kSavedState,  // a digest in progress whose state was saved
};

// What a native method returned: an object, or a number (int, long,
// boolean); both neutral (null, 0) after a failure.
struct Result {
    jobject object = nullptr;
    jlong number = 0;
};

using Invoke = Result (*)(JNIEnv* env, jobject self, const jvalue* args);

struct Method {
    const char* label;     // export name without "Java_qorvik_nat_"
    const char* function;  // function-name text of its failures
    Self self;
    std::vector<Arg> args;
    // Function-name text of the start routine that the arguments marked
    // atStart go to; nullptr when the method has none.
    const char* start;
    State setup;
    // The module function the method's data reaches ("" when none): a
    // refused window must never get there.
    const char* moduleCall;
    // The module's answer to a good call (CKR_OK for most methods).
    CK_RV goodRv;
    Invoke invoke;
};

}  // namespace kt::badinput
