// Memory soak: repeats each family of bridge calls, succeeding and failing,
// against the test module inside an embedded JVM with a fixed heap, and prints
// the process's resident memory before and after each family. A benchmark,
// not a test: the growth it prints is judged by a person (or by
// --max-growth-kib). Built also in the sanitizer build, where a short run
// lets LeakSanitizer fail on anything a failing or succeeding call leaves.
//
//   soak [--iterations N] [--iterations-of FAMILY=N]... [--warm-up N]
//        [--max-growth-kib K] [--check-jni] [family...]
//
// Environment: KELVANE_TEST_CLASSPATH (kelvane.jar), KELVANE_P11MOCK (the
// test module; the soak steers the very instance the bridge loads).
#include <dlfcn.h>
#include <jni.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "../tests/support/EmbeddedJvm.h"
#include "jni_methods.h"
#include "kelmora.h"

namespace {

// Objects the search family finds: one full batch of 50 and a partial one.
constexpr int kSearchMatches = 60;

// ---- The test module's control interface -----------------------------------

struct MockControl {
    void (*reset)();
    void (*force_uninitialized)();
    void (*fail_next)(const char*, CK_RV);
    void (*clear_faults)();
    void (*log_clear)();
    CK_OBJECT_HANDLE (*add_object)(const CK_ATTRIBUTE*, CK_ULONG);
    CK_ULONG (*object_count)();
    CK_ULONG (*session_count)();
    void (*set_sensitive)(CK_OBJECT_HANDLE, CK_ATTRIBUTE_TYPE);
    void (*toy_digest)(CK_MECHANISM_TYPE, const unsigned char*, CK_ULONG, unsigned char*);

    bool open(const char* path) {
        // The bridge's dlopen of the same path reaches this instance.
        void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) return false;
        bool all = true;
        auto bind = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
            if (fn == nullptr) {
                std::fprintf(stderr, "soak: %s lacks %s\n", path, name);
                all = false;
            }
        };
        bind(reset, "p11mock_reset");
        bind(force_uninitialized, "p11mock_force_uninitialized");
        bind(fail_next, "p11mock_fail_next");
        bind(clear_faults, "p11mock_clear_faults");
        bind(log_clear, "p11mock_log_clear");
        bind(add_object, "p11mock_add_object");
        bind(object_count, "p11mock_object_count");
        bind(session_count, "p11mock_session_count");
        bind(set_sensitive, "p11mock_set_sensitive");
        bind(toy_digest, "p11mock_toy_digest");
        return all;
    }
};

// ---- Process and JVM ---------------------------------------------------------

// A field of /proc/self/status in KiB: VmRSS (all resident memory) or
// RssAnon (the anonymous part, where a leak shows; file pages may be dropped
// by the kernel under pressure).
long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0) return std::strtol(line.c_str() + n, nullptr, 10);
    }
    return -1;
}
long residentKiB() {
    return statusKiB("VmRSS:");
}
long anonymousKiB() {
    return statusKiB("RssAnon:");
}

JNIEnv* startJvm(const char* classPath, bool checkJni) {
    // A fixed, pre-touched heap and one simple collector, so that resident
    // memory moves only with native memory.
    std::vector<std::string> options = {"-Xms64m", "-Xmx64m", "-XX:+AlwaysPreTouch",
                                        "-XX:+UseSerialGC"};
    if (checkJni) options.push_back("-Xcheck:jni");
    return embedded_jvm::start(classPath, std::move(options));
}

// ---- Soak state and checks ---------------------------------------------------

class Soak {
  public:
    Soak(JNIEnv* e, MockControl m) : env(e), mock(m) {}

    JNIEnv* env;
    MockControl mock;
    jobject cryptoki = nullptr;  // global references from here on
    jclass cryptokiClass = nullptr;
    jobject slot = nullptr;
    jobject session = nullptr;
    jlong handle = 0;
    jlong cipherKey = 0;
    jlong signKey = 0;
    jlong wrappingKey = 0;

    long wrong = 0;         // calls whose outcome was not the expected one
    long callsChecked = 0;  // outcomes checked

    bool setUp(const char* modulePath) {
        cryptokiClass = global(env->FindClass("qorvik/nat/NativeCryptoki"));
        attributeClass = global(env->FindClass("qorvik/Attribute"));
        mechanismClass = global(env->FindClass("qorvik/Mechanism"));
        integerClass = global(env->FindClass("java/lang/Integer"));
        booleanClass = global(env->FindClass("java/lang/Boolean"));
        longClass = global(env->FindClass("java/lang/Long"));
        systemClass = global(env->FindClass("java/lang/System"));
        exceptionClass = global(env->FindClass("qorvik/CryptokiException"));
        sessionClass = global(env->FindClass("qorvik/nat/NativeSession"));
        if (env->ExceptionCheck()) {
            env->ExceptionDescribe();
            return false;
        }
        attributeCtor = env->GetMethodID(attributeClass, "<init>", "(ILjava/lang/Object;)V");
        mechanismCtor = env->GetMethodID(mechanismClass, "<init>", "(ILjava/lang/Object;)V");
        integerOf = env->GetStaticMethodID(integerClass, "valueOf", "(I)Ljava/lang/Integer;");
        booleanOf = env->GetStaticMethodID(booleanClass, "valueOf", "(Z)Ljava/lang/Boolean;");
        longOf = env->GetStaticMethodID(longClass, "valueOf", "(J)Ljava/lang/Long;");
        gcMethod = env->GetStaticMethodID(systemClass, "gc", "()V");
        getCode = env->GetMethodID(exceptionClass, "getCode", "()I");
        getText = env->GetMethodID(exceptionClass, "getMessage", "()Ljava/lang/String;");
        getFunction = env->GetMethodID(exceptionClass, "getFunctionName", "()Ljava/lang/String;");
        sessionHandleField = env->GetFieldID(sessionClass, "m_sessionHandle", "J");
        if (env->ExceptionCheck()) {
            env->ExceptionDescribe();
            return false;
        }
        cryptoki = global(env->AllocObject(cryptokiClass));

        mock.reset();
        mock.force_uninitialized();
        Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary(env, cryptokiClass, str(modulePath));
        Java_qorvik_nat_NativeCryptoki_Initialize(env, cryptoki, nullptr);
        if (!ok("load and initialise")) return false;
        jobjectArray slots = Java_qorvik_nat_NativeCryptoki_GetSlotList(env, cryptoki, JNI_TRUE);
        if (!ok("slot list") || slots == nullptr) return false;
        slot = global(env->GetObjectArrayElement(slots, 0));
        jobject s = Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(
            env, slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_USER, str("1234"));
        if (!ok("first session") || s == nullptr) return false;
        session = global(s);
        handle = env->GetLongField(session, sessionHandleField);

        // Token objects: they outlive the sessions the families renew.
        cipherKey = addKey("soak-cipher-key-0123456789abcdef");
        signKey = addKey("soak-signature-key");
        wrappingKey = addKey("soak-wrapping-key-16");
        for (int i = 0; i < kSearchMatches; ++i) {
            std::string label = "soak-search", id = "id-" + std::to_string(i);
            CK_ULONG bits = static_cast<CK_ULONG>(i) * 8;
            CK_ATTRIBUTE t[] = {{CKA_LABEL, label.data(), label.size()},
                                {CKA_ID, id.data(), id.size()},
                                {CKA_MODULUS_BITS, &bits, sizeof bits}};
            mock.add_object(t, 3);
        }
        mock.log_clear();
        return true;
    }

    // A fresh session in place of the current one (ends every operation a
    // failing call left active in the module, and the session's objects).
    void renewSession() {
        CK_SESSION_HANDLE h = 0;
        functionList->C_CloseAllSessions(1);
        if (functionList->C_OpenSession(1, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                        &h) != CKR_OK ||
            functionList->C_Login(h, CKU_USER,
                                  reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>("1234")),
                                  4) != CKR_OK) {
            miss("renewing the session");
        }
        handle = static_cast<jlong>(h);
        env->SetLongField(session, sessionHandleField, handle);
    }

    // ---- Java values (local references, freed with the iteration's frame)
    jstring str(const char* s) { return env->NewStringUTF(s); }
    jbyteArray bytes(const std::string& s) {
        jbyteArray a = env->NewByteArray(static_cast<jsize>(s.size()));
        env->SetByteArrayRegion(a, 0, static_cast<jsize>(s.size()),
                                reinterpret_cast<const jbyte*>(s.data()));
        return a;
    }
    std::string bytesOf(jbyteArray a) {
        if (a == nullptr) return "<null>";
        std::string out(static_cast<std::size_t>(env->GetArrayLength(a)), '\0');
        env->GetByteArrayRegion(a, 0, static_cast<jsize>(out.size()),
                                reinterpret_cast<jbyte*>(out.data()));
        return out;
    }
    jobject integer(jint v) {
        return javaCall(env->CallStaticObjectMethod(integerClass, integerOf, v));
    }
    jobject boolean(bool v) {
        return javaCall(
            env->CallStaticObjectMethod(booleanClass, booleanOf, v ? JNI_TRUE : JNI_FALSE));
    }
    jobject longValue(jlong v) {
        return javaCall(env->CallStaticObjectMethod(longClass, longOf, v));
    }
    // The result of a call into Java, which must not throw.
    template <typename T>
    T javaCall(T result) {
        if (env->ExceptionCheck()) {
            env->ExceptionDescribe();
            miss("a call into Java", "no exception");
        }
        return result;
    }
    jobjectArray attributes(std::initializer_list<std::pair<CK_ATTRIBUTE_TYPE, jobject>> list) {
        jobjectArray a =
            env->NewObjectArray(static_cast<jsize>(list.size()), attributeClass, nullptr);
        jsize i = 0;
        for (const auto& [type, value] : list) {
            jobject attribute =
                env->NewObject(attributeClass, attributeCtor, static_cast<jint>(type), value);
            env->SetObjectArrayElement(a, i++, attribute);
            env->DeleteLocalRef(attribute);
        }
        return a;
    }
    jintArray ints(std::initializer_list<jint> values) {
        jintArray a = env->NewIntArray(static_cast<jsize>(values.size()));
        env->SetIntArrayRegion(a, 0, static_cast<jsize>(values.size()), values.begin());
        return a;
    }
    jobject mechanism(CK_MECHANISM_TYPE type, jobject parameter = nullptr) {
        return env->NewObject(mechanismClass, mechanismCtor, static_cast<jint>(type), parameter);
    }
    // new <cls>(args...) through the constructor of the given signature.
    template <typename... A>
    jobject make(const char* cls, const char* signature, A... args) {
        jclass c = env->FindClass(cls);
        jobject o = env->NewObject(c, env->GetMethodID(c, "<init>", signature), args...);
        env->DeleteLocalRef(c);
        return o;
    }
    jobject attributeValue(jobject attribute) {
        jfieldID f = env->GetFieldID(attributeClass, "value", "Ljava/lang/Object;");
        return attribute == nullptr ? nullptr : env->GetObjectField(attribute, f);
    }

    // ---- Outcomes
    // Nothing pending: the call succeeded.
    bool ok(const char* what) {
        ++callsChecked;
        if (!env->ExceptionCheck()) return true;
        report(what, "no failure");
        return false;
    }
    // The call failed with exactly this code.
    bool fails(CK_RV rv, const char* what) {
        ++callsChecked;
        jthrowable ex = env->ExceptionOccurred();
        if (ex == nullptr) {
            miss(what, "a failure, got none");
            return false;
        }
        env->ExceptionClear();
        if (!env->IsInstanceOf(ex, exceptionClass)) {
            env->Throw(ex);
            env->DeleteLocalRef(ex);
            report(what, "a CryptokiException");
            return false;
        }
        const jint code = env->CallIntMethod(ex, getCode);
        env->ExceptionClear();
        env->DeleteLocalRef(ex);
        if (code != static_cast<jint>(rv)) {
            char text[96];
            std::snprintf(text, sizeof text, "code 0x%lx, got 0x%x", static_cast<unsigned long>(rv),
                          static_cast<unsigned>(code));
            miss(what, text);
            return false;
        }
        return true;
    }
    void expect(bool condition, const char* what) {
        ++callsChecked;
        if (!condition) miss(what, "the right result");
    }
    void miss(const char* what, const char* wanted = "success") {
        if (++wrong <= 10) std::fprintf(stderr, "soak: %s: expected %s\n", what, wanted);
    }

    void collectGarbage() {
        for (int i = 0; i < 2; ++i) {
            env->CallStaticVoidMethod(systemClass, gcMethod);
            javaCall(0);
        }
        malloc_trim(0);
    }

  private:
    jclass attributeClass = nullptr, mechanismClass = nullptr, integerClass = nullptr,
           booleanClass = nullptr, longClass = nullptr, systemClass = nullptr,
           exceptionClass = nullptr, sessionClass = nullptr;
    jmethodID attributeCtor = nullptr, mechanismCtor = nullptr, integerOf = nullptr,
              booleanOf = nullptr, longOf = nullptr, gcMethod = nullptr, getCode = nullptr,
              getText = nullptr, getFunction = nullptr;
    jfieldID sessionHandleField = nullptr;

    template <typename T>
    T global(T local) {
        if (local == nullptr) return nullptr;
        T g = static_cast<T>(env->NewGlobalRef(local));
        env->DeleteLocalRef(local);
        return g;
    }
    jlong addKey(std::string value) {
        CK_ATTRIBUTE t[] = {{CKA_VALUE, value.data(), value.size()}};
        return static_cast<jlong>(mock.add_object(t, 1));
    }
    // Takes the pending exception and prints what it was.
    void report(const char* what, const char* wanted) {
        jthrowable ex = env->ExceptionOccurred();
        env->ExceptionClear();
        if (ex == nullptr) {
            miss(what, wanted);
            return;
        }
        std::string detail = "another exception";
        if (env->IsInstanceOf(ex, exceptionClass)) {
            auto text = [&](jmethodID m) {
                jstring s = static_cast<jstring>(env->CallObjectMethod(ex, m));
                env->ExceptionClear();
                std::string out = "?";
                if (s != nullptr) {
                    const char* c = env->GetStringUTFChars(s, nullptr);
                    if (c != nullptr) out = c;
                    env->ReleaseStringUTFChars(s, c);
                    env->DeleteLocalRef(s);
                }
                return out;
            };
            char code[16];
            const jint value = env->CallIntMethod(ex, getCode);
            env->ExceptionClear();
            std::snprintf(code, sizeof code, "0x%x", static_cast<unsigned>(value));
            detail = text(getFunction) + " " + code + " '" + text(getText) + "'";
        }
        env->ExceptionClear();
        env->DeleteLocalRef(ex);
        const std::string wantedText = std::string(wanted) + ", got " + detail;
        miss(what, wantedText.c_str());
    }
};

// ---- Families ----------------------------------------------------------------
// Each family has a succeeding and a failing round; one iteration runs both.

void infoPass(Soak& s) {
    JNIEnv* env = s.env;
    s.expect(Java_qorvik_nat_NativeCryptoki_GetInfo(env, s.cryptoki) != nullptr, "GetInfo");
    s.ok("GetInfo");
    jobjectArray slots = Java_qorvik_nat_NativeCryptoki_GetSlotList(env, s.cryptoki, JNI_FALSE);
    if (s.ok("GetSlotList")) s.expect(slots && env->GetArrayLength(slots) == 2, "two slots");
    s.expect(Java_qorvik_nat_NativeSlot_J_1GetSlotInfo(env, s.slot) != nullptr, "slot info");
    s.ok("J_GetSlotInfo");
    s.expect(Java_qorvik_nat_NativeSlot_J_1GetTokenInfo(env, s.slot) != nullptr, "token info");
    s.ok("J_GetTokenInfo");
    jintArray mechanisms = Java_qorvik_nat_NativeSlot_J_1GetMechanismList(env, s.slot);
    if (s.ok("J_GetMechanismList")) {
        s.expect(mechanisms && env->GetArrayLength(mechanisms) == 6, "six mechanisms");
    }
    s.expect(Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(env, s.slot, CKM_SHA256) != nullptr,
             "mechanism info");
    s.ok("J_GetMechanismInfo");
    s.expect(Java_qorvik_nat_NativeCryptoki_getLastLoadedLibraryFullPath(env, s.cryptokiClass) !=
                 nullptr,
             "module path");
    s.ok("getLastLoadedLibraryFullPath");
}

void infoFail(Soak& s) {
    JNIEnv* env = s.env;
    s.mock.fail_next("C_GetInfo", CKR_DEVICE_ERROR);
    Java_qorvik_nat_NativeCryptoki_GetInfo(env, s.cryptoki);
    s.fails(CKR_DEVICE_ERROR, "GetInfo");
    s.mock.fail_next("C_GetSlotList", CKR_HOST_MEMORY);
    Java_qorvik_nat_NativeCryptoki_GetSlotList(env, s.cryptoki, JNI_TRUE);
    s.fails(CKR_HOST_MEMORY, "GetSlotList");
    s.mock.fail_next("C_GetSlotInfo", CKR_SLOT_ID_INVALID);
    Java_qorvik_nat_NativeSlot_J_1GetSlotInfo(env, s.slot);
    s.fails(CKR_SLOT_ID_INVALID, "J_GetSlotInfo");
    s.mock.fail_next("C_GetTokenInfo", CKR_TOKEN_NOT_PRESENT);
    Java_qorvik_nat_NativeSlot_J_1GetTokenInfo(env, s.slot);
    s.fails(CKR_TOKEN_NOT_PRESENT, "J_GetTokenInfo");
    s.mock.fail_next("C_GetMechanismList", CKR_DEVICE_REMOVED);
    Java_qorvik_nat_NativeSlot_J_1GetMechanismList(env, s.slot);
    s.fails(CKR_DEVICE_REMOVED, "J_GetMechanismList");
    s.mock.fail_next("C_GetMechanismInfo", CKR_MECHANISM_INVALID);
    Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(env, s.slot, CKM_SHA256);
    s.fails(CKR_MECHANISM_INVALID, "J_GetMechanismInfo");
}

void sessionsPass(Soak& s) {
    JNIEnv* env = s.env;
    jobject opened = Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(
        env, s.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_USER, s.str("1234"));
    if (!s.ok("J_OpenSession with login") || opened == nullptr) return;
    s.expect(Java_qorvik_nat_NativeSession_J_1GetSessionInfo(env, opened) != nullptr,
             "session info");
    s.ok("J_GetSessionInfo");
    Java_qorvik_nat_NativeSession_J_1Logout(env, opened);
    s.ok("J_Logout");
    Java_qorvik_nat_NativeSession_J_1Login(env, opened, CKU_USER, s.str("1234"));
    s.ok("J_Login");
    Java_qorvik_nat_NativeSession_J_1SetPIN(env, opened, s.str("1234"), s.str("1234"));
    s.ok("J_SetPIN");
    Java_qorvik_nat_NativeSession_J_1CloseSession(env, opened);
    s.ok("J_CloseSession");
    jobject plain = Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, s.slot, CKF_SERIAL_SESSION);
    s.ok("J_OpenSession");
    s.expect(plain != nullptr, "a session");
    Java_qorvik_nat_NativeSlot_J_1CloseAllSessions(env, s.slot);
    s.ok("J_CloseAllSessions");
    s.renewSession();
}

void sessionsFail(Soak& s) {
    JNIEnv* env = s.env;
    s.mock.fail_next("C_OpenSession", CKR_SESSION_COUNT);
    Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, s.slot, CKF_SERIAL_SESSION);
    s.fails(CKR_SESSION_COUNT, "J_OpenSession");
    s.mock.fail_next("C_Login", CKR_PIN_LOCKED);
    Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(
        env, s.slot, CKF_SERIAL_SESSION, CKU_USER, s.str("1234"));
    s.fails(CKR_PIN_LOCKED, "J_OpenSession with login");
    Java_qorvik_nat_NativeSession_J_1Logout(env, s.session);
    s.ok("J_Logout");
    Java_qorvik_nat_NativeSession_J_1Login(env, s.session, CKU_USER, s.str("0000"));
    s.fails(CKR_PIN_INCORRECT, "J_Login with a wrong PIN");
    s.mock.fail_next("C_GetSessionInfo", CKR_SESSION_HANDLE_INVALID);
    Java_qorvik_nat_NativeSession_J_1GetSessionInfo(env, s.session);
    s.fails(CKR_SESSION_HANDLE_INVALID, "J_GetSessionInfo");
    s.mock.fail_next("C_SetPIN", CKR_PIN_LEN_RANGE);
    Java_qorvik_nat_NativeSession_J_1SetPIN(env, s.session, s.str("1234"), s.str("12"));
    s.fails(CKR_PIN_LEN_RANGE, "J_SetPIN");
    s.mock.fail_next("C_InitPIN", CKR_USER_NOT_LOGGED_IN);
    Java_qorvik_nat_NativeSession_J_1InitPIN(env, s.session, s.str("4321"));
    s.fails(CKR_USER_NOT_LOGGED_IN, "J_InitPIN");
    s.mock.fail_next("C_InitToken", CKR_PIN_INCORRECT);
    Java_qorvik_nat_NativeSlot_J_1InitToken(env, s.slot, s.str("87654321"), s.str("soak"));
    s.fails(CKR_PIN_INCORRECT, "J_InitToken");
    s.mock.fail_next("C_CloseSession", CKR_DEVICE_ERROR);
    Java_qorvik_nat_NativeSession_J_1CloseSession(env, s.session);
    s.fails(CKR_DEVICE_ERROR, "J_CloseSession");
    s.renewSession();
}

jobjectArray dataObjectTemplate(Soak& s, const char* label) {
    return s.attributes({{CKA_CLASS, s.integer(CKO_DATA)},
                         {CKA_TOKEN, s.boolean(false)},
                         {CKA_LABEL, s.str(label)},
                         {CKA_APPLICATION, s.str("soak")},
                         {CKA_VALUE, s.bytes(std::string(48, '\x42'))}});
}

void objectsPass(Soak& s) {
    JNIEnv* env = s.env;
    const jlong object =
        Java_qorvik_nat_NativeSession_J_1CreateObject(env, s.session, dataObjectTemplate(s, "obj"));
    if (!s.ok("J_CreateObject")) return;
    jobject label =
        Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(env, s.session, object, CKA_LABEL);
    if (s.ok("J_GetAttributeValue")) {
        s.expect(s.bytesOf(static_cast<jbyteArray>(s.attributeValue(label))) == "obj", "label");
    }
    jobjectArray several = Java_qorvik_nat_NativeSession_J_1GetAttributeValue__J_3I(
        env, s.session, object, s.ints({CKA_CLASS, CKA_TOKEN, CKA_LABEL, CKA_VALUE}));
    if (s.ok("J_GetAttributeValue (types)")) {
        s.expect(several && env->GetArrayLength(several) == 4, "four attributes");
    }
    Java_qorvik_nat_NativeSession_J_1SetAttributeValue(
        env, s.session, object, s.attributes({{CKA_LABEL, s.bytes("renamed")}}));
    s.ok("J_SetAttributeValue");
    Java_qorvik_nat_NativeSession_J_1GetObjectSize(env, s.session, object);
    s.ok("J_GetObjectSize");
    const jlong copy = Java_qorvik_nat_NativeSession_J_1CopyObject(
        env, s.session, object, s.attributes({{CKA_LABEL, s.str("copy")}}));
    if (s.ok("J_CopyObject")) {
        Java_qorvik_nat_NativeSession_J_1DestroyObject(env, s.session, copy);
        s.ok("J_DestroyObject (copy)");
    }
    Java_qorvik_nat_NativeSession_J_1DestroyObject(env, s.session, object);
    s.ok("J_DestroyObject");
}

void objectsFail(Soak& s) {
    JNIEnv* env = s.env;
    s.mock.fail_next("C_CreateObject", CKR_TEMPLATE_INCOMPLETE);
    Java_qorvik_nat_NativeSession_J_1CreateObject(env, s.session, dataObjectTemplate(s, "x"));
    s.fails(CKR_TEMPLATE_INCOMPLETE, "J_CreateObject");
    // A value the conversion refuses after building part of the template.
    Java_qorvik_nat_NativeSession_J_1CreateObject(
        env, s.session,
        s.attributes(
            {{CKA_LABEL, s.str("half")}, {CKA_VALUE, s.bytes("v")}, {CKA_ID, s.longValue(7)}}));
    s.fails(CKR_GENERAL_ERROR, "J_CreateObject with a Long value");

    const jlong object =
        Java_qorvik_nat_NativeSession_J_1CreateObject(env, s.session, dataObjectTemplate(s, "y"));
    if (!s.ok("J_CreateObject")) return;
    s.mock.set_sensitive(static_cast<CK_OBJECT_HANDLE>(object), CKA_VALUE);
    Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(env, s.session, object, CKA_VALUE);
    s.fails(CKR_ATTRIBUTE_SENSITIVE, "J_GetAttributeValue of a sensitive value");
    Java_qorvik_nat_NativeSession_J_1GetAttributeValue__J_3I(env, s.session, object,
                                                             s.ints({CKA_LABEL, CKA_VALUE}));
    s.fails(CKR_ATTRIBUTE_SENSITIVE, "J_GetAttributeValue (types) of a sensitive value");
    s.mock.fail_next("C_SetAttributeValue", CKR_ATTRIBUTE_READ_ONLY);
    Java_qorvik_nat_NativeSession_J_1SetAttributeValue(env, s.session, object,
                                                       s.attributes({{CKA_LABEL, s.str("z")}}));
    s.fails(CKR_ATTRIBUTE_READ_ONLY, "J_SetAttributeValue");
    s.mock.fail_next("C_GetObjectSize", CKR_INFORMATION_SENSITIVE);
    Java_qorvik_nat_NativeSession_J_1GetObjectSize(env, s.session, object);
    s.fails(CKR_INFORMATION_SENSITIVE, "J_GetObjectSize");
    s.mock.fail_next("C_CopyObject", CKR_TEMPLATE_INCONSISTENT);
    Java_qorvik_nat_NativeSession_J_1CopyObject(env, s.session, object,
                                                s.attributes({{CKA_LABEL, s.str("c")}}));
    s.fails(CKR_TEMPLATE_INCONSISTENT, "J_CopyObject");
    s.mock.fail_next("C_DestroyObject", CKR_ACTION_PROHIBITED);
    Java_qorvik_nat_NativeSession_J_1DestroyObject(env, s.session, object);
    s.fails(CKR_ACTION_PROHIBITED, "J_DestroyObject");
    Java_qorvik_nat_NativeSession_J_1DestroyObject(env, s.session, object);
    s.ok("J_DestroyObject");
    Java_qorvik_nat_NativeSession_J_1DestroyObject(env, s.session, object);
    s.fails(CKR_OBJECT_HANDLE_INVALID, "J_DestroyObject of a destroyed object");
}

jobjectArray searchTemplate(Soak& s) {
    return s.attributes({{CKA_LABEL, s.bytes("soak-search")}});
}

void searchPass(Soak& s) {
    JNIEnv* env = s.env;
    jlongArray handles = Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(
        env, s.session, searchTemplate(s));
    if (s.ok("J_FindObjects"))
        s.expect(handles && env->GetArrayLength(handles) == kSearchMatches, "every match");
    jobjectArray objects = Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2_3I(
        env, s.session, searchTemplate(s), s.ints({CKA_ID, CKA_MODULUS_BITS}));
    if (s.ok("J_FindObjects (types)")) {
        s.expect(objects && env->GetArrayLength(objects) == kSearchMatches, "every object");
    }
    s.expect(Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(
                 env, s.session, s.attributes({{CKA_LABEL, s.bytes("nothing")}})) == nullptr,
             "no match gives null");
    s.ok("J_FindObjects without a match");
}

void endSearch(Soak& s) {
    // The bridge leaves a search the module failed in active; end it here.
    functionList->C_FindObjectsFinal(static_cast<CK_SESSION_HANDLE>(s.handle));
}

void searchFail(Soak& s) {
    JNIEnv* env = s.env;
    s.mock.fail_next("C_FindObjectsInit", CKR_ATTRIBUTE_TYPE_INVALID);
    Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(env, s.session,
                                                                        searchTemplate(s));
    s.fails(CKR_ATTRIBUTE_TYPE_INVALID, "J_FindObjects, init refused");
    s.mock.fail_next("C_FindObjects", CKR_DEVICE_ERROR);
    Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2_3I(
        env, s.session, searchTemplate(s), s.ints({CKA_ID}));
    s.fails(CKR_DEVICE_ERROR, "J_FindObjects (types), batch refused");
    endSearch(s);
    s.mock.fail_next("C_FindObjectsFinal", CKR_SESSION_CLOSED);
    Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(env, s.session,
                                                                        searchTemplate(s));
    s.fails(CKR_SESSION_CLOSED, "J_FindObjects, final refused");
    endSearch(s);
    // A failed read leaves one value null; the search itself succeeds.
    s.mock.fail_next("C_GetAttributeValue", CKR_DEVICE_ERROR);
    jobjectArray objects = Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2_3I(
        env, s.session, searchTemplate(s), s.ints({CKA_ID}));
    if (s.ok("J_FindObjects with a failed read")) s.expect(objects != nullptr, "objects");
    Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(
        env, s.session, s.attributes({{CKA_LABEL, s.longValue(1)}}));
    s.fails(CKR_GENERAL_ERROR, "J_FindObjects with a Long value");
}

const std::string kPlain = "soak data: sixty-four bytes of plaintext for the toy cipher.....";

jobject cbcMechanism(Soak& s) {
    return s.mechanism(CKM_AES_CBC, s.bytes(std::string(16, '\x11')));
}

void cipherPass(Soak& s) {
    JNIEnv* env = s.env;
    const jsize n = static_cast<jsize>(kPlain.size());
    jbyteArray enc = Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
        env, s.session, s.handle, JNI_TRUE, cbcMechanism(s), s.cipherKey, s.bytes(kPlain), 0, n);
    if (!s.ok("J_Encrypt") || enc == nullptr) return;
    jbyteArray dec = Java_qorvik_nat_NativeSession_J_1Decrypt__JZLqorvik_Mechanism_2J_3BII(
        env, s.session, s.handle, JNI_TRUE, cbcMechanism(s), s.cipherKey, enc, 0, n);
    if (s.ok("J_Decrypt")) s.expect(s.bytesOf(dec) == kPlain, "decrypt(encrypt(x)) == x");

    // Filling form, and OAEP parameters converted and freed.
    jobject oaep = s.make("qorvik/params/OAEPParams", "(III[B)V", static_cast<jint>(CKM_SHA256),
                          static_cast<jint>(CKG_MGF1_SHA256), static_cast<jint>(CKZ_DATA_SPECIFIED),
                          s.bytes("label"));
    jbyteArray out = env->NewByteArray(n + 8);
    const jint written = Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII_3BI(
        env, s.session, s.handle, JNI_TRUE, s.mechanism(CKM_RSA_PKCS_OAEP, oaep), s.cipherKey,
        s.bytes(kPlain), 0, n, out, 8);
    if (s.ok("J_Encrypt (filling)")) s.expect(written == n, "filled length");

    // Multi-part both ways.
    jbyteArray part1 = Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII(
        env, s.session, s.handle, JNI_TRUE, cbcMechanism(s), s.cipherKey, s.bytes(kPlain), 0,
        n / 2);
    s.ok("J_EncryptUpdate");
    jbyteArray part2 = env->NewByteArray(n);
    const jint len2 =
        Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
            env, s.session, s.handle, JNI_FALSE, nullptr, 0, s.bytes(kPlain), n / 2, n - n / 2,
            part2, 0);
    s.ok("J_EncryptUpdate (filling)");
    Java_qorvik_nat_NativeSession_J_1EncryptFinal__(env, s.session);
    s.ok("J_EncryptFinal");
    const std::string encrypted =
        s.bytesOf(part1) +
        s.bytesOf(part2).substr(0, static_cast<std::size_t>(len2 > 0 ? len2 : 0));
    s.expect(encrypted == s.bytesOf(enc), "multi-part equals single-part");

    Java_qorvik_nat_NativeSession_J_1DecryptInit(env, s.session, s.handle, cbcMechanism(s),
                                                 s.cipherKey);
    s.ok("J_DecryptInit");
    jbyteArray back1 = Java_qorvik_nat_NativeSession_J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII(
        env, s.session, s.handle, JNI_FALSE, nullptr, 0, enc, 0, n / 2);
    s.ok("J_DecryptUpdate");
    jbyteArray back2 = env->NewByteArray(n);
    const jint blen =
        Java_qorvik_nat_NativeSession_J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
            env, s.session, s.handle, JNI_FALSE, nullptr, 0, enc, n / 2, n - n / 2, back2, 0);
    s.ok("J_DecryptUpdate (filling)");
    jbyteArray tail = env->NewByteArray(8);
    Java_qorvik_nat_NativeSession_J_1DecryptFinal___3BI(env, s.session, tail, 0);
    s.ok("J_DecryptFinal (filling)");
    s.expect(s.bytesOf(back1) +
                     s.bytesOf(back2).substr(0, static_cast<std::size_t>(blen > 0 ? blen : 0)) ==
                 kPlain,
             "multi-part decryption");
}

void cipherFail(Soak& s) {
    JNIEnv* env = s.env;
    const jsize n = static_cast<jsize>(kPlain.size());
    s.mock.fail_next("C_EncryptInit", CKR_KEY_TYPE_INCONSISTENT);
    Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
        env, s.session, s.handle, JNI_TRUE, cbcMechanism(s), s.cipherKey, s.bytes(kPlain), 0, n);
    s.fails(CKR_KEY_TYPE_INCONSISTENT, "J_Encrypt, init refused");
    Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
        env, s.session, s.handle, JNI_TRUE, cbcMechanism(s), 0xDEAD, s.bytes(kPlain), 0, n);
    s.fails(CKR_KEY_HANDLE_INVALID, "J_Encrypt with no such key");
    s.mock.fail_next("C_Encrypt", CKR_DEVICE_MEMORY);
    Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
        env, s.session, s.handle, JNI_TRUE, cbcMechanism(s), s.cipherKey, s.bytes(kPlain), 0, n);
    s.fails(CKR_DEVICE_MEMORY, "J_Encrypt");
    s.renewSession();
    Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
        env, s.session, s.handle, JNI_TRUE, cbcMechanism(s), s.cipherKey, s.bytes(kPlain), 4, n);
    s.fails(CKR_GENERAL_ERROR, "J_Encrypt past the array");
    s.renewSession();  // the start succeeded before the window was refused
    s.mock.fail_next("C_DecryptUpdate", CKR_ENCRYPTED_DATA_INVALID);
    Java_qorvik_nat_NativeSession_J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII(
        env, s.session, s.handle, JNI_TRUE, cbcMechanism(s), s.cipherKey, s.bytes(kPlain), 0, n);
    s.fails(CKR_ENCRYPTED_DATA_INVALID, "J_DecryptUpdate");
    s.mock.fail_next("C_DecryptFinal", CKR_ENCRYPTED_DATA_LEN_RANGE);
    Java_qorvik_nat_NativeSession_J_1DecryptFinal__(env, s.session);
    s.fails(CKR_ENCRYPTED_DATA_LEN_RANGE, "J_DecryptFinal");
    s.mock.fail_next("C_EncryptUpdate", CKR_DEVICE_REMOVED);
    Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
        env, s.session, s.handle, JNI_TRUE, cbcMechanism(s), s.cipherKey, s.bytes(kPlain), 0, n,
        env->NewByteArray(n), 0);
    s.fails(CKR_DEVICE_REMOVED, "J_EncryptUpdate (filling)");
    s.renewSession();
}

void digestPass(Soak& s) {
    JNIEnv* env = s.env;
    const jsize n = static_cast<jsize>(kPlain.size());
    unsigned char expected[64];
    s.mock.toy_digest(CKM_SHA256, reinterpret_cast<const unsigned char*>(kPlain.data()),
                      kPlain.size(), expected);
    jbyteArray digest = Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
        env, s.session, s.handle, JNI_TRUE, s.mechanism(CKM_SHA256), s.bytes(kPlain), 0, n);
    if (s.ok("J_Digest")) {
        s.expect(s.bytesOf(digest) == std::string(reinterpret_cast<char*>(expected), 32),
                 "the module's digest");
    }
    jbyteArray out = env->NewByteArray(80);
    s.expect(Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII_3BI(
                 env, s.session, s.handle, JNI_TRUE, s.mechanism(CKM_SHA512), s.bytes(kPlain), 0, n,
                 out, 16) == 64,
             "SHA-512 length");
    s.ok("J_Digest (filling)");
    Java_qorvik_nat_NativeSession_J_1DigestUpdate(
        env, s.session, s.handle, JNI_TRUE, s.mechanism(CKM_SHA256), s.bytes(kPlain), 0, n / 2);
    s.ok("J_DigestUpdate");
    Java_qorvik_nat_NativeSession_J_1DigestUpdate(env, s.session, s.handle, JNI_FALSE, nullptr,
                                                  s.bytes(kPlain), n / 2, n - n / 2);
    s.ok("J_DigestUpdate (more)");
    jbyteArray parts = Java_qorvik_nat_NativeSession_J_1DigestFinal__(env, s.session);
    if (s.ok("J_DigestFinal")) s.expect(s.bytesOf(parts) == s.bytesOf(digest), "same digest");
    Java_qorvik_nat_NativeSession_J_1DigestKey(env, s.session, s.handle, JNI_TRUE,
                                               s.mechanism(CKM_SHA_1), s.cipherKey);
    s.ok("J_DigestKey");
    s.expect(Java_qorvik_nat_NativeSession_J_1DigestFinal___3BI(env, s.session, out, 0) == 20,
             "SHA-1 length");
    s.ok("J_DigestFinal (filling)");
}

void digestFail(Soak& s) {
    JNIEnv* env = s.env;
    const jsize n = static_cast<jsize>(kPlain.size());
    s.mock.fail_next("C_DigestInit", CKR_MECHANISM_INVALID);
    Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
        env, s.session, s.handle, JNI_TRUE, s.mechanism(CKM_SHA256), s.bytes(kPlain), 0, n);
    s.fails(CKR_MECHANISM_INVALID, "J_Digest, init refused");
    Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
        env, s.session, s.handle, JNI_TRUE, nullptr, s.bytes(kPlain), 0, n);
    s.fails(CKR_GENERAL_ERROR, "J_Digest without a mechanism");
    s.mock.fail_next("C_Digest", CKR_DATA_LEN_RANGE);
    Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
        env, s.session, s.handle, JNI_TRUE, s.mechanism(CKM_SHA256), s.bytes(kPlain), 0, n);
    s.fails(CKR_DATA_LEN_RANGE, "J_Digest");
    s.renewSession();
    s.mock.fail_next("C_DigestUpdate", CKR_DEVICE_ERROR);
    Java_qorvik_nat_NativeSession_J_1DigestUpdate(env, s.session, s.handle, JNI_TRUE,
                                                  s.mechanism(CKM_SHA256), s.bytes(kPlain), 0, n);
    s.fails(CKR_DEVICE_ERROR, "J_DigestUpdate");
    s.mock.fail_next("C_DigestKey", CKR_KEY_INDIGESTIBLE);
    Java_qorvik_nat_NativeSession_J_1DigestKey(env, s.session, s.handle, JNI_FALSE, nullptr,
                                               s.cipherKey);
    s.fails(CKR_KEY_INDIGESTIBLE, "J_DigestKey");
    s.mock.fail_next("C_DigestFinal", CKR_FUNCTION_CANCELED);
    Java_qorvik_nat_NativeSession_J_1DigestFinal__(env, s.session);
    s.fails(CKR_FUNCTION_CANCELED, "J_DigestFinal");
    s.renewSession();
}

void signPass(Soak& s) {
    JNIEnv* env = s.env;
    const jsize n = static_cast<jsize>(kPlain.size());
    jbyteArray signature = Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII(
        env, s.session, s.handle, JNI_TRUE, s.mechanism(CKM_SHA256_RSA_PKCS), s.signKey,
        s.bytes(kPlain), 0, n);
    if (!s.ok("J_Sign") || signature == nullptr) return;
    const jsize sigLen = env->GetArrayLength(signature);
    Java_qorvik_nat_NativeSession_J_1Verify(env, s.session, s.handle, JNI_TRUE,
                                            s.mechanism(CKM_SHA256_RSA_PKCS), s.signKey,
                                            s.bytes(kPlain), 0, n, signature, 0, sigLen);
    s.ok("J_Verify");
    jbyteArray out = env->NewByteArray(sigLen + 4);
    s.expect(Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII_3BI(
                 env, s.session, s.handle, JNI_TRUE, s.mechanism(CKM_SHA256_RSA_PKCS), s.signKey,
                 s.bytes(kPlain), 0, n, out, 4) == sigLen,
             "signature length");
    s.ok("J_Sign (filling)");
    Java_qorvik_nat_NativeSession_J_1SignUpdate(env, s.session, s.handle, JNI_TRUE,
                                                s.mechanism(CKM_SHA256_RSA_PKCS), s.signKey,
                                                s.bytes(kPlain), 0, n);
    s.ok("J_SignUpdate");
    jbyteArray parts = Java_qorvik_nat_NativeSession_J_1SignFinal__(env, s.session);
    if (s.ok("J_SignFinal")) s.expect(s.bytesOf(parts) == s.bytesOf(signature), "same signature");
    Java_qorvik_nat_NativeSession_J_1VerifyUpdate(env, s.session, s.handle, JNI_TRUE,
                                                  s.mechanism(CKM_SHA256_RSA_PKCS), s.signKey,
                                                  s.bytes(kPlain), 0, n);
    s.ok("J_VerifyUpdate");
    Java_qorvik_nat_NativeSession_J_1VerifyFinal(env, s.session, signature, 0, sigLen);
    s.ok("J_VerifyFinal");
    Java_qorvik_nat_NativeSession_J_1SignInit(env, s.session, s.handle, s.mechanism(CKM_RSA_PKCS),
                                              s.signKey);
    s.ok("J_SignInit");
    Java_qorvik_nat_NativeSession_J_1SignUpdate(env, s.session, s.handle, JNI_FALSE, nullptr, 0,
                                                s.bytes(kPlain), 0, 16);
    s.ok("J_SignUpdate (more)");
    s.expect(Java_qorvik_nat_NativeSession_J_1SignFinal___3BI(env, s.session, out, 0) == sigLen,
             "final signature length");
    s.ok("J_SignFinal (filling)");
    Java_qorvik_nat_NativeSession_J_1SignRecoverInit(env, s.session, s.mechanism(CKM_RSA_X_509),
                                                     s.signKey);
    s.ok("J_SignRecoverInit");
    jbyteArray recoverable =
        Java_qorvik_nat_NativeSession_J_1SignRecover___3BII(env, s.session, s.bytes(kPlain), 0, 20);
    s.ok("J_SignRecover");
    Java_qorvik_nat_NativeSession_J_1VerifyRecoverInit(env, s.session, s.mechanism(CKM_RSA_X_509),
                                                       s.signKey);
    s.ok("J_VerifyRecoverInit");
    if (recoverable != nullptr) {
        jbyteArray recovered = Java_qorvik_nat_NativeSession_J_1VerifyRecover___3BII(
            env, s.session, recoverable, 0, env->GetArrayLength(recoverable));
        if (s.ok("J_VerifyRecover")) {
            s.expect(s.bytesOf(recovered) == kPlain.substr(0, 20), "recovered data");
        }
    }
}

void signFail(Soak& s) {
    JNIEnv* env = s.env;
    const jsize n = static_cast<jsize>(kPlain.size());
    jbyteArray forged = s.bytes(std::string(64, '\x5A'));
    Java_qorvik_nat_NativeSession_J_1Verify(env, s.session, s.handle, JNI_TRUE,
                                            s.mechanism(CKM_SHA256_RSA_PKCS), s.signKey,
                                            s.bytes(kPlain), 0, n, forged, 0, 64);
    s.fails(CKR_SIGNATURE_INVALID, "J_Verify of a forged signature");
    s.mock.fail_next("C_SignInit", CKR_KEY_FUNCTION_NOT_PERMITTED);
    Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII(
        env, s.session, s.handle, JNI_TRUE, s.mechanism(CKM_SHA256_RSA_PKCS), s.signKey,
        s.bytes(kPlain), 0, n);
    s.fails(CKR_KEY_FUNCTION_NOT_PERMITTED, "J_Sign, init refused");
    s.mock.fail_next("C_Sign", CKR_USER_NOT_LOGGED_IN);
    Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII_3BI(
        env, s.session, s.handle, JNI_TRUE, s.mechanism(CKM_SHA256_RSA_PKCS), s.signKey,
        s.bytes(kPlain), 0, n, env->NewByteArray(128), 0);
    s.fails(CKR_USER_NOT_LOGGED_IN, "J_Sign (filling)");
    s.renewSession();
    s.mock.fail_next("C_SignFinal", CKR_DEVICE_REMOVED);
    Java_qorvik_nat_NativeSession_J_1SignUpdate(env, s.session, s.handle, JNI_TRUE,
                                                s.mechanism(CKM_SHA256_RSA_PKCS), s.signKey,
                                                s.bytes(kPlain), 0, n);
    Java_qorvik_nat_NativeSession_J_1SignFinal__(env, s.session);
    s.fails(CKR_DEVICE_REMOVED, "J_SignFinal");
    s.mock.fail_next("C_VerifyFinal", CKR_SIGNATURE_LEN_RANGE);
    Java_qorvik_nat_NativeSession_J_1VerifyUpdate(env, s.session, s.handle, JNI_TRUE,
                                                  s.mechanism(CKM_SHA256_RSA_PKCS), s.signKey,
                                                  s.bytes(kPlain), 0, n);
    Java_qorvik_nat_NativeSession_J_1VerifyFinal(env, s.session, forged, 0, 64);
    s.fails(CKR_SIGNATURE_LEN_RANGE, "J_VerifyFinal");
    s.mock.fail_next("C_SignRecoverInit", CKR_MECHANISM_PARAM_INVALID);
    Java_qorvik_nat_NativeSession_J_1SignRecoverInit(env, s.session, s.mechanism(CKM_RSA_X_509),
                                                     s.signKey);
    s.fails(CKR_MECHANISM_PARAM_INVALID, "J_SignRecoverInit");
    s.renewSession();
}

jobject randomInfo(Soak& s) {
    return s.make("qorvik/params/SSL3RANDOMDATA", "([B[B)V", s.bytes(std::string(32, 'c')),
                  s.bytes(std::string(32, 's')));
}

jobject keyAndMacParams(Soak& s) {
    jobject out = s.make("qorvik/params/SSL3KEYMATOUT", "([B[B)V", s.bytes(std::string(16, '\0')),
                         s.bytes(std::string(16, '\0')));
    return s.make("qorvik/params/SSL3KEYMATParams",
                  "(IIIZLqorvik/params/SSL3RANDOMDATA;Lqorvik/params/SSL3KEYMATOUT;)V",
                  static_cast<jint>(160), static_cast<jint>(128), static_cast<jint>(128), JNI_FALSE,
                  randomInfo(s), out);
}

void keysPass(Soak& s) {
    JNIEnv* env = s.env;
    const jlong secret = Java_qorvik_nat_NativeSession_J_1GenerateKey(
        env, s.session, s.mechanism(CKM_AES_KEY_GEN),
        s.attributes({{CKA_VALUE_LEN, s.integer(32)},
                      {CKA_LABEL, s.str("aes")},
                      {CKA_EXTRACTABLE, s.boolean(true)}}));
    if (!s.ok("J_GenerateKey")) return;
    jlongArray pair = Java_qorvik_nat_NativeSession_J_1GenerateKeyPair(
        env, s.session, s.mechanism(CKM_RSA_PKCS_KEY_PAIR_GEN),
        s.attributes({{CKA_MODULUS_BITS, s.integer(1024)}, {CKA_LABEL, s.str("pub")}}),
        s.attributes({{CKA_LABEL, s.str("priv")}, {CKA_SIGN, s.boolean(true)}}));
    if (s.ok("J_GenerateKeyPair")) s.expect(pair && env->GetArrayLength(pair) == 2, "two keys");
    jbyteArray wrapped = Java_qorvik_nat_NativeSession_J_1WrapKey(
        env, s.session, s.mechanism(CKM_AES_KEY_WRAP), s.wrappingKey, secret);
    if (s.ok("J_WrapKey") && wrapped != nullptr) {
        const jlong unwrapped = Java_qorvik_nat_NativeSession_J_1UnwrapKey(
            env, s.session, s.mechanism(CKM_AES_KEY_WRAP), s.wrappingKey, wrapped, 0,
            env->GetArrayLength(wrapped),
            s.attributes({{CKA_CLASS, s.integer(CKO_SECRET_KEY)}, {CKA_LABEL, s.str("back")}}));
        s.ok("J_UnwrapKey");
        s.expect(unwrapped != 0, "an unwrapped key");
    }
    Java_qorvik_nat_NativeSession_J_1DeriveKey(env, s.session,
                                               s.mechanism(CKM_SHA256_KEY_DERIVATION), secret,
                                               s.attributes({{CKA_LABEL, s.str("derived")}}));
    s.ok("J_DeriveKey");
    jobject master = s.make("qorvik/params/SSL3MASTERKEYDERIVEParams",
                            "(Lqorvik/Version;Lqorvik/params/SSL3RANDOMDATA;)V",
                            s.make("qorvik/Version", "(II)V", 0, 3), randomInfo(s));
    Java_qorvik_nat_NativeSession_J_1DeriveKey(
        env, s.session, s.mechanism(CKM_SSL3_MASTER_KEY_DERIVE, master), secret, nullptr);
    s.ok("J_DeriveKey (SSL3 master key)");
    Java_qorvik_nat_NativeSession_J_1DeriveKey(
        env, s.session, s.mechanism(CKM_SSL3_KEY_AND_MAC_DERIVE, keyAndMacParams(s)), secret,
        nullptr);
    s.ok("J_DeriveKey (SSL3 key and MAC)");
    jobject kea = s.make("qorvik/params/KeaDeriveParams", "(Z[B[B[B)V", JNI_TRUE,
                         s.bytes(std::string(20, 'r')), s.bytes(std::string(20, 'R')),
                         s.bytes(std::string(128, 'p')));
    Java_qorvik_nat_NativeSession_J_1DeriveKey(env, s.session, s.mechanism(CKM_KEA_KEY_DERIVE, kea),
                                               secret, nullptr);
    s.ok("J_DeriveKey (KEA)");
    // Every key above is a session object: a fresh session drops them all.
    s.renewSession();
}

void keysFail(Soak& s) {
    JNIEnv* env = s.env;
    s.mock.fail_next("C_GenerateKey", CKR_TEMPLATE_INCOMPLETE);
    Java_qorvik_nat_NativeSession_J_1GenerateKey(env, s.session, s.mechanism(CKM_AES_KEY_GEN),
                                                 s.attributes({{CKA_VALUE_LEN, s.integer(16)}}));
    s.fails(CKR_TEMPLATE_INCOMPLETE, "J_GenerateKey");
    s.mock.fail_next("C_GenerateKeyPair", CKR_DOMAIN_PARAMS_INVALID);
    Java_qorvik_nat_NativeSession_J_1GenerateKeyPair(
        env, s.session, s.mechanism(CKM_RSA_PKCS_KEY_PAIR_GEN),
        s.attributes({{CKA_LABEL, s.str("pub")}}), s.attributes({{CKA_LABEL, s.str("priv")}}));
    s.fails(CKR_DOMAIN_PARAMS_INVALID, "J_GenerateKeyPair");
    Java_qorvik_nat_NativeSession_J_1GenerateKeyPair(
        env, s.session, s.mechanism(CKM_RSA_PKCS_KEY_PAIR_GEN),
        s.attributes({{CKA_LABEL, s.str("pub")}}), s.attributes({{CKA_LABEL, s.longValue(2)}}));
    s.fails(CKR_GENERAL_ERROR, "J_GenerateKeyPair with a Long value");
    s.mock.fail_next("C_WrapKey", CKR_KEY_NOT_WRAPPABLE);
    Java_qorvik_nat_NativeSession_J_1WrapKey(env, s.session, s.mechanism(CKM_AES_KEY_WRAP),
                                             s.wrappingKey, s.cipherKey);
    s.fails(CKR_KEY_NOT_WRAPPABLE, "J_WrapKey");
    s.mock.fail_next("C_UnwrapKey", CKR_WRAPPED_KEY_INVALID);
    Java_qorvik_nat_NativeSession_J_1UnwrapKey(env, s.session, s.mechanism(CKM_AES_KEY_WRAP),
                                               s.wrappingKey, s.bytes(std::string(24, 'w')), 0, 24,
                                               s.attributes({{CKA_LABEL, s.str("x")}}));
    s.fails(CKR_WRAPPED_KEY_INVALID, "J_UnwrapKey");
    s.mock.fail_next("C_DeriveKey", CKR_KEY_TYPE_INCONSISTENT);
    Java_qorvik_nat_NativeSession_J_1DeriveKey(
        env, s.session, s.mechanism(CKM_SSL3_KEY_AND_MAC_DERIVE, keyAndMacParams(s)), s.cipherKey,
        s.attributes({{CKA_LABEL, s.str("y")}}));
    s.fails(CKR_KEY_TYPE_INCONSISTENT, "J_DeriveKey (SSL3 key and MAC)");
    // A parameter object of another record's class.
    Java_qorvik_nat_NativeSession_J_1DeriveKey(
        env, s.session, s.mechanism(CKM_SSL3_MASTER_KEY_DERIVE, keyAndMacParams(s)), s.cipherKey,
        nullptr);
    if (env->ExceptionCheck()) {
        s.fails(CKR_GENERAL_ERROR, "J_DeriveKey with a parameter of the wrong class");
    } else {
        s.renewSession();  // taken as no parameter record: a key was made
    }
}

void randomPass(Soak& s) {
    JNIEnv* env = s.env;
    jbyteArray random = env->NewByteArray(64);
    Java_qorvik_nat_NativeSession_J_1GenerateRandom(env, s.session, s.handle, JNI_TRUE,
                                                    s.bytes("seed material"), random, 0, 64);
    s.ok("J_GenerateRandom with a seed");
    Java_qorvik_nat_NativeSession_J_1GenerateRandom(env, s.session, s.handle, JNI_FALSE, nullptr,
                                                    random, 16, 32);
    s.ok("J_GenerateRandom");
    Java_qorvik_nat_NativeSession_J_1DigestUpdate(env, s.session, s.handle, JNI_TRUE,
                                                  s.mechanism(CKM_SHA_1), s.bytes("partial"), 0, 7);
    jbyteArray state = Java_qorvik_nat_NativeSession_J_1GetOperationState(env, s.session);
    if (s.ok("J_GetOperationState") && state != nullptr) {
        Java_qorvik_nat_NativeSession_J_1SetOperationState(env, s.session, state, 0, 0);
        s.ok("J_SetOperationState");
    }
    Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
        env, s.session, s.handle, JNI_TRUE, s.mechanism(CKM_AES_ECB), s.cipherKey, s.bytes(""), 0,
        0, nullptr, 0);
    s.ok("J_EncryptUpdate (start)");
    jbyteArray out = env->NewByteArray(16);
    s.expect(Java_qorvik_nat_NativeSession_J_1DigestEncryptUpdate(
                 env, s.session, s.bytes("0123456789"), 2, 6, out, 4) == 6,
             "dual-function length");
    s.ok("J_DigestEncryptUpdate");
    s.renewSession();
}

void randomFail(Soak& s) {
    JNIEnv* env = s.env;
    jbyteArray random = env->NewByteArray(64);
    s.mock.fail_next("C_SeedRandom", CKR_RANDOM_SEED_NOT_SUPPORTED);
    Java_qorvik_nat_NativeSession_J_1GenerateRandom(env, s.session, s.handle, JNI_TRUE,
                                                    s.bytes("seed"), random, 0, 64);
    s.fails(CKR_RANDOM_SEED_NOT_SUPPORTED, "J_GenerateRandom, seed refused");
    s.mock.fail_next("C_GenerateRandom", CKR_RANDOM_NO_RNG);
    Java_qorvik_nat_NativeSession_J_1GenerateRandom(env, s.session, s.handle, JNI_FALSE, nullptr,
                                                    random, 0, 64);
    s.fails(CKR_RANDOM_NO_RNG, "J_GenerateRandom");
    Java_qorvik_nat_NativeSession_J_1GenerateRandom(env, s.session, s.handle, JNI_FALSE, nullptr,
                                                    random, 60, 8);
    s.fails(CKR_GENERAL_ERROR, "J_GenerateRandom past the array");
    s.mock.fail_next("C_GetOperationState", CKR_STATE_UNSAVEABLE);
    Java_qorvik_nat_NativeSession_J_1GetOperationState(env, s.session);
    s.fails(CKR_STATE_UNSAVEABLE, "J_GetOperationState");
    s.mock.fail_next("C_SetOperationState", CKR_SAVED_STATE_INVALID);
    Java_qorvik_nat_NativeSession_J_1SetOperationState(env, s.session, s.bytes("state"), 0, 0);
    s.fails(CKR_SAVED_STATE_INVALID, "J_SetOperationState");
    Java_qorvik_nat_NativeSession_J_1GetFunctionStatus(env, s.session);
    s.fails(CKR_FUNCTION_NOT_PARALLEL, "J_GetFunctionStatus");
    Java_qorvik_nat_NativeSession_J_1CancelFunction(env, s.session);
    s.fails(CKR_FUNCTION_NOT_PARALLEL, "J_CancelFunction");
    Java_qorvik_nat_NativeSession_J_1DecryptDigestUpdate(env, s.session, s.bytes("ab"), 0, 2,
                                                         nullptr, 0);
    s.fails(CKR_OPERATION_NOT_INITIALIZED, "J_DecryptDigestUpdate without operations");
}

struct Family {
    const char* name;
    void (*pass)(Soak&);
    void (*fail)(Soak&);
};

const Family kFamilies[] = {
    {"info", infoPass, infoFail},          {"sessions", sessionsPass, sessionsFail},
    {"objects", objectsPass, objectsFail}, {"search", searchPass, searchFail},
    {"cipher", cipherPass, cipherFail},    {"digest", digestPass, digestFail},
    {"sign", signPass, signFail},          {"keys", keysPass, keysFail},
    {"random", randomPass, randomFail},
};

// One iteration: the succeeding round, then the failing one, each in its own
// local frame; the module's call log is emptied so that only the bridge (and
// the JVM) can grow.
void iterate(Soak& s, const Family& f) {
    for (auto round : {f.pass, f.fail}) {
        s.env->PushLocalFrame(128);
        round(s);
        if (s.env->ExceptionCheck()) {
            s.env->ExceptionClear();
            s.miss(f.name, "no exception left pending");
        }
        s.env->PopLocalFrame(nullptr);
        s.mock.clear_faults();
    }
    s.mock.log_clear();
}

}  // namespace

int usage() {
    std::fprintf(stderr,
                 "usage: soak [--iterations N] [--iterations-of FAMILY=N]... [--warm-up N] "
                 "[--max-growth-kib K] [--check-jni] [family...]\n");
    return 2;
}

int main(int argc, char** argv) {
    long iterations = 1000000;
    std::vector<std::pair<std::string, long>> countOf;
    long maxGrowthKiB = -1;
    long warmUp = -1;  // default: min(iterations, 2000)
    bool checkJni = false;
    std::vector<std::string> chosen;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--iterations" && i + 1 < argc) {
            iterations = std::strtol(argv[++i], nullptr, 10);
        } else if (a == "--max-growth-kib" && i + 1 < argc) {
            maxGrowthKiB = std::strtol(argv[++i], nullptr, 10);
        } else if (a == "--iterations-of" && i + 1 < argc) {
            // family=N: a lower count for a family that is slow in a sanitizer build
            const std::string familyCount = argv[++i];
            const auto eq = familyCount.find('=');
            if (eq == std::string::npos) return usage();
            countOf.emplace_back(familyCount.substr(0, eq),
                                 std::strtol(familyCount.c_str() + eq + 1, nullptr, 10));
        } else if (a == "--warm-up" && i + 1 < argc) {
            warmUp = std::strtol(argv[++i], nullptr, 10);
        } else if (a == "--check-jni") {
            checkJni = true;
        } else if (!a.empty() && a[0] != '-') {
            chosen.push_back(a);
        } else {
            return usage();
        }
    }
    for (const std::string& name : chosen) {
        if (std::none_of(std::begin(kFamilies), std::end(kFamilies),
                         [&](const Family& f) { return name == f.name; })) {
            std::fprintf(stderr, "soak: no family %s\n", name.c_str());
            return usage();
        }
    }
    const char* classPath = std::getenv("KELVANE_TEST_CLASSPATH");
    const char* modulePath = std::getenv("KELVANE_P11MOCK");
    if (classPath == nullptr || modulePath == nullptr || iterations <= 0) {
        std::fprintf(stderr, "soak: set KELVANE_TEST_CLASSPATH and KELVANE_P11MOCK\n");
        return 2;
    }
    MockControl mock{};
    if (!mock.open(modulePath)) return 2;
    JNIEnv* env = startJvm(classPath, checkJni);
    if (env == nullptr) {
        std::fprintf(stderr, "soak: the JVM did not start\n");
        return 2;
    }
#if defined(__SANITIZE_ADDRESS__)
    std::printf(
        "soak: sanitizer build: resident memory includes the sanitizer's quarantine and shadow; "
        "leaks are LeakSanitizer's to report\n");
#endif
    Soak s(env, mock);
    if (!s.setUp(modulePath)) {
        std::fprintf(stderr, "soak: setting up the test module failed\n");
        return 1;
    }

    // Warm-up: the JIT, the class data and the allocator's pools settle
    // before anything is measured.
    if (warmUp < 0) warmUp = std::min(iterations, 2000L);
    bool failed = false;
    for (const Family& f : kFamilies) {
        if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), f.name) == chosen.end()) {
            continue;
        }
        long count = iterations;
        for (const auto& [name, n] : countOf) {
            if (name == f.name) count = n;
        }
        for (long i = 0; i < std::min(warmUp, count); ++i) iterate(s, f);
        const CK_ULONG objects = s.mock.object_count();
        const CK_ULONG sessions = s.mock.session_count();
        const long wrongBefore = s.wrong;
        s.collectGarbage();
        const long before = residentKiB();
        const long anonymousBefore = anonymousKiB();
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < count; ++i) iterate(s, f);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        s.collectGarbage();
        const long after = residentKiB();
        const long anonymousAfter = anonymousKiB();
        if (s.mock.object_count() != objects || s.mock.session_count() != sessions) {
            s.miss(f.name, "as many module objects and sessions after the run as before");
        }
        std::printf(
            "summary: soak %s iterations %ld, resident before %ld KiB, after %ld KiB, growth %ld "
            "KiB\n",
            f.name, count, before, after, after - before);
        std::fflush(stdout);
        std::fprintf(stderr,
                     "soak: %s: anonymous resident before %ld KiB, after %ld KiB, growth %ld KiB\n",
                     f.name, anonymousBefore, anonymousAfter, anonymousAfter - anonymousBefore);
        std::fprintf(stderr, "soak: %s: %.1f s, %.1f us per iteration\n", f.name, took.count(),
                     took.count() * 1e6 / static_cast<double>(count));
        if (s.wrong != wrongBefore) {
            std::fprintf(stderr, "soak: %s: %ld wrong outcomes\n", f.name, s.wrong - wrongBefore);
            failed = true;
        }
        if (maxGrowthKiB >= 0 && after - before > maxGrowthKiB) {
            std::fprintf(stderr, "soak: %s grew by %ld KiB (limit %ld KiB)\n", f.name,
                         after - before, maxGrowthKiB);
            failed = true;
        }
    }
    std::printf("soak: %ld outcomes checked, %ld wrong\n", s.callsChecked, s.wrong);
    return failed || s.wrong != 0 ? 1 : 0;
}
