// Opening and closing sessions, logging in and out, and administering the
// token and its PINs. PINs reach the module as the JVM's modified UTF-8 bytes,
// in place: never copied, logged or kept.
#include <algorithm>
#include <cstring>

#include "../core/JavaContract.h"
#include "../core/SignerPin.h"
#include "../jni_methods.h"
#include "SlotSupport.h"

namespace {

// A PIN or label as modified UTF-8, with its byte length; fails with the
// caller's message when the string is null or cannot be read.
struct JavaText {
    JavaText(JNIEnv* env, jstring str, const char* nullMessage)
        : chars(env, str),
          length(str != nullptr ? static_cast<CK_ULONG>(env->GetStringUTFLength(str)) : 0) {
        if (chars.get() == nullptr) fail(nullMessage);
    }
    CK_UTF8CHAR_PTR bytes() const {
        return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(chars.get()));
    }
    UtfChars chars;
    CK_ULONG length;
};

// Closes a session the module opened for a call that then failed, so no
// session stays open that Java holds no handle for.
class OpenedSession {
  public:
    OpenedSession(CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE handle)
        : module_(module), handle_(handle) {}
    OpenedSession(const OpenedSession&) = delete;
    OpenedSession& operator=(const OpenedSession&) = delete;
    ~OpenedSession() {
        if (module_ != nullptr) module_->C_CloseSession(handle_);
    }
    CK_SESSION_HANDLE handle() const { return handle_; }
    // The session now belongs to the NativeSession handed to Java.
    void keep() { module_ = nullptr; }

  private:
    CK_FUNCTION_LIST_PTR module_;
    CK_SESSION_HANDLE handle_;
};

// Both session-opening methods: open, empty the signer PIN, register the PIN
// callback, optionally log in, and build the NativeSession.
jobject openSession(JNIEnv* env, jobject self, jint flags, const jbyte* userType, jstring pin,
                    CK_RV& rv) {
    CK_FUNCTION_LIST_PTR module = requireModule();
    LocalRef<jclass> sessionClass(env, findClass(env, "qorvik/nat/NativeSession",
                                                 "Class 'qorvik/nat/NativeSession' not found"));
    LocalRef<jclass> slotClass(
        env, findClass(env, "qorvik/nat/NativeSlot", "Class 'qorvik/nat/NativeSlot' not found"));
    jmethodID sessionCtor = findMethod(env, sessionClass.get(), "<init>", "(Lqorvik/Slot;I)V",
                                       "NativeSession constructor not found");
    const CK_SLOT_ID slot = readSlotId(env, self, slotClass.get(), "m_slotID field not found");

    CK_SESSION_HANDLE handle = 0;
    rv = module->C_OpenSession(slot, ulongFromJint(flags), NULL_PTR, NULL_PTR, &handle);
    if (rv != CKR_OK) fail(rv);
    OpenedSession session(module, handle);
    armSignerPinCallback();

    if (userType != nullptr && pin != nullptr && env->GetStringUTFLength(pin) > 0) {
        JavaText pinText(env, pin, "Pin is NULL");
        rv = module->C_Login(handle, static_cast<CK_USER_TYPE>(static_cast<long>(*userType)),
                             pinText.bytes(), pinText.length);
        if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) fail(rv);
    }

    jobject result = require(
        env, env->NewObject(sessionClass.get(), sessionCtor, self, lowJint(session.handle())),
        "NativeSession object is NULL");
    session.keep();
    return result;
}

// Calls a module function on the session of a NativeSession.
template <typename Call>
void onSession(JNIEnv* env, jobject self, Call call) {
    CK_FUNCTION_LIST_PTR module = requireModule();
    const CK_SESSION_HANDLE session = Session2CKSession(env, self);
    const CK_RV rv = call(module, session);
    if (rv != CKR_OK) fail(rv);
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSlot_J_1InitToken(JNIEnv* env, jobject self,
                                                               jstring soPin, jstring label) {
    LogFunction("J_1InitToken : entering...", 0);
    CK_RV rv = CKR_OK;
    guardedVoid(env, "J_InitToken", [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        LocalRef<jclass> slotClass(env, findClass(env, "qorvik/nat/NativeSlot",
                                                  "Class 'qorvik/nat/NativeSlot' not found"));
        const CK_SLOT_ID slot = readSlotId(env, self, slotClass.get(), "Field m_slotID not found");
        JavaText pin(env, soPin, "pSOPin is NULL");
        if (pin.length == 0) fail("SOPinLen = 0");
        JavaText labelText(env, label, "pTokenLabel is NULL");
        // Zero bytes after a shorter label; a longer one is cut at 32 bytes.
        CK_UTF8CHAR field[32] = {};
        std::memcpy(field, labelText.bytes(), std::min<CK_ULONG>(labelText.length, sizeof field));
        rv = module->C_InitToken(slot, pin.bytes(), pin.length, field);
        if (rv != CKR_OK) fail(rv);
    });
    LogFunction("J_1InitToken : ...finished.", rv);
}

JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSlot_J_1OpenSession__I(JNIEnv* env, jobject self,
                                                                       jint flags) {
    LogFunction("J_1OpenSession: entering...", 0);
    CK_RV rv = CKR_OK;
    jobject result = guarded(env, "J_OpenSession", jobject{nullptr},
                             [&] { return openSession(env, self, flags, nullptr, nullptr, rv); });
    LogFunction("J_1OpenSession: ...finished", rv);
    return result;
}

JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(
    JNIEnv* env, jobject self, jint flags, jbyte userType, jstring pin) {
    LogFunction("J_1OpenSession (5pars): entering...", 0);
    CK_RV rv = CKR_OK;
    jobject result = guarded(env, "J_OpenSession", jobject{nullptr},
                             [&] { return openSession(env, self, flags, &userType, pin, rv); });
    LogFunction("J_1OpenSession (5pars): ...finished", rv);
    return result;
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSlot_J_1CloseAllSessions(JNIEnv* env, jobject self) {
    LogFunction("J_1CloseAllSessions : entering...", 0);
    CK_RV rv = CKR_OK;
    guardedVoid(env, "J_CloseAllSessions", [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        LocalRef<jclass> slotClass(env, findClass(env, "qorvik/nat/NativeSlot",
                                                  "Class 'qorvik/nat/NativeSlot' not found"));
        const CK_SLOT_ID slot = readSlotId(env, self, slotClass.get(), "Field m_slotID not found");
        rv = module->C_CloseAllSessions(slot);
        if (rv != CKR_OK) fail(rv);
    });
    LogFunction("J_1CloseAllSessions : ...finished.", rv);
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1CloseSession(JNIEnv* env, jobject self) {
    LogFunction("J_1CloseSession: entering...", 0);
    CK_RV rv = CKR_OK;
    guardedVoid(env, "J_CloseSession", [&] {
        onSession(env, self, [&](CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session) {
            LogFunction("J_1CloseSession: before libcryptoki call", 0);
            rv = module->C_CloseSession(session);
            LogFunction("J_1CloseSession: libcryptoki call passed.", rv);
            if (rv != CKR_OK) LogFunction("J_1CloseSession: return value NOT OK.", rv);
            return rv;
        });
    });
    LogFunction("J_1CloseSession: ...finished.", rv);
}

JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSession_J_1GetSessionInfo(JNIEnv* env,
                                                                          jobject self) {
    LogFunction("J_1GetSessionInfo : entering...", 0);
    CK_RV rv = CKR_OK;
    jobject result = guarded(env, "J_GetSessionInfo", jobject{nullptr}, [&]() -> jobject {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        LocalRef<jclass> infoClass(
            env, findClass(env, "qorvik/SessionInfo", "Class 'qorvik/SessionInfo' not found"));
        jmethodID infoCtor = findMethod(env, infoClass.get(), "<init>", "(IIII)V",
                                        "SessionInfo constructor not found");
        CK_SESSION_INFO info{};
        rv = module->C_GetSessionInfo(session, &info);
        if (rv != CKR_OK) fail(rv);
        // A slot ID is an identifier: any 32-bit one comes back as the int Java
        // names it by, so it can be handed to the module again.
        const jint slot = info.slotID <= 0xFFFFFFFFul ? lowJint(info.slotID)
                                                      : RANGE_CHECKED(env, info.slotID, 1);
        const jint state = RANGE_CHECKED(env, info.state, 2);
        const jint flags = RANGE_CHECKED(env, info.flags, 3);
        const jint deviceError = RANGE_CHECKED(env, info.ulDeviceError, 4);
        return require(env,
                       env->NewObject(infoClass.get(), infoCtor, slot, state, flags, deviceError),
                       "SessionInfo object is NULL");
    });
    LogFunction("J_1GetSessionInfo : ...finished.", rv);
    return result;
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1Login(JNIEnv* env, jobject self,
                                                              jbyte userType, jstring pin) {
    LogFunction("J_1Login : entering...", 0);
    CK_RV rv = CKR_OK;
    guardedVoid(env, "J_Login", [&] {
        onSession(env, self, [&](CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session) {
            JavaText pinText(env, pin, "Pin is NULL");
            if (pinText.length == 0) fail("invalid pPinLen (0)");
            rv = module->C_Login(session, static_cast<CK_USER_TYPE>(static_cast<long>(userType)),
                                 pinText.bytes(), pinText.length);
            return rv;
        });
    });
    LogFunction("J_1Login : ...finished.", rv);
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1Logout(JNIEnv* env, jobject self) {
    LogFunction("J_1Logout : entering...", 0);
    CK_RV rv = CKR_OK;
    guardedVoid(env, "J_Logout", [&] {
        onSession(env, self, [&](CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session) {
            return rv = module->C_Logout(session);
        });
    });
    LogFunction("J_1Logout: ...finished.", rv);
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1InitPIN(JNIEnv* env, jobject self,
                                                                jstring pin) {
    LogFunction("J_1InitPIN: entering...", 0);
    guardedVoid(env, "J_InitPIN", [&] {
        onSession(env, self, [&](CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session) {
            JavaText pinText(env, pin, "pPin is NULL");
            if (pinText.length == 0) fail("pPinLen = 0");
            return module->C_InitPIN(session, pinText.bytes(), pinText.length);
        });
    });
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SetPIN(JNIEnv* env, jobject self,
                                                               jstring oldPin, jstring newPin) {
    LogFunction("J_1SetPIN: entering...", 0);
    guardedVoid(env, "J_SetPIN", [&] {
        onSession(env, self, [&](CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session) {
            JavaText oldText(env, oldPin, "pOldPin is NULL");
            if (oldText.length == 0) fail("pOldPinLen = 0");
            JavaText newText(env, newPin, "pNewPin is NULL");
            if (newText.length == 0) fail("pNewPinLen = 0");
            return module->C_SetPIN(session, oldText.bytes(), oldText.length, newText.bytes(),
                                    newText.length);
        });
    });
}

}  // extern "C"
