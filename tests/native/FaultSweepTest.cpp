// Fault sweep: every module function the bridge calls, failed with every
// code the bridge describes (plus an unknown and a vendor code), checked for
// the exception Java sees, arrays given back and the next call working; and
// the module misbehaviours a vendor module shows in the field.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "BridgeTest.h"
#include "CountingEnv.h"
#include "Errors.h"
#include "UlongWidth.h"

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

namespace kt {
namespace {

// Return values of the standard by their header names, so a row of the
// description table can be checked against the constant it describes.
struct NamedRv {
    const char* name;
    CK_RV value;
};
#define KT_RV(n) \
    { #n, n }
const NamedRv kStandardRvs[] = {
    KT_RV(CKR_OK),
    KT_RV(CKR_CANCEL),
    KT_RV(CKR_HOST_MEMORY),
    KT_RV(CKR_SLOT_ID_INVALID),
    KT_RV(CKR_GENERAL_ERROR),
    KT_RV(CKR_FUNCTION_FAILED),
    KT_RV(CKR_ARGUMENTS_BAD),
    KT_RV(CKR_NO_EVENT),
    KT_RV(CKR_NEED_TO_CREATE_THREADS),
    KT_RV(CKR_CANT_LOCK),
    KT_RV(CKR_ATTRIBUTE_READ_ONLY),
    KT_RV(CKR_ATTRIBUTE_SENSITIVE),
    KT_RV(CKR_ATTRIBUTE_TYPE_INVALID),
    KT_RV(CKR_ATTRIBUTE_VALUE_INVALID),
    KT_RV(CKR_DATA_INVALID),
    KT_RV(CKR_DATA_LEN_RANGE),
    KT_RV(CKR_DEVICE_ERROR),
    KT_RV(CKR_DEVICE_MEMORY),
    KT_RV(CKR_DEVICE_REMOVED),
    KT_RV(CKR_ENCRYPTED_DATA_INVALID),
    KT_RV(CKR_ENCRYPTED_DATA_LEN_RANGE),
    KT_RV(CKR_FUNCTION_CANCELED),
    KT_RV(CKR_FUNCTION_NOT_PARALLEL),
    KT_RV(CKR_FUNCTION_NOT_SUPPORTED),
    KT_RV(CKR_KEY_HANDLE_INVALID),
    KT_RV(CKR_KEY_SIZE_RANGE),
    KT_RV(CKR_KEY_TYPE_INCONSISTENT),
    KT_RV(CKR_KEY_NOT_NEEDED),
    KT_RV(CKR_KEY_CHANGED),
    KT_RV(CKR_KEY_NEEDED),
    KT_RV(CKR_KEY_INDIGESTIBLE),
    KT_RV(CKR_KEY_FUNCTION_NOT_PERMITTED),
    KT_RV(CKR_KEY_NOT_WRAPPABLE),
    KT_RV(CKR_KEY_UNEXTRACTABLE),
    KT_RV(CKR_MECHANISM_INVALID),
    KT_RV(CKR_MECHANISM_PARAM_INVALID),
    KT_RV(CKR_OBJECT_HANDLE_INVALID),
    KT_RV(CKR_OPERATION_ACTIVE),
    KT_RV(CKR_OPERATION_NOT_INITIALIZED),
    KT_RV(CKR_PIN_INCORRECT),
    KT_RV(CKR_PIN_INVALID),
    KT_RV(CKR_PIN_LEN_RANGE),
    KT_RV(CKR_PIN_EXPIRED),
    KT_RV(CKR_PIN_LOCKED),
    KT_RV(CKR_SESSION_CLOSED),
    KT_RV(CKR_SESSION_COUNT),
    KT_RV(CKR_SESSION_HANDLE_INVALID),
    KT_RV(CKR_SESSION_PARALLEL_NOT_SUPPORTED),
    KT_RV(CKR_SESSION_READ_ONLY),
    KT_RV(CKR_SESSION_EXISTS),
    KT_RV(CKR_SESSION_READ_ONLY_EXISTS),
    KT_RV(CKR_SESSION_READ_WRITE_SO_EXISTS),
    KT_RV(CKR_SIGNATURE_INVALID),
    KT_RV(CKR_SIGNATURE_LEN_RANGE),
    KT_RV(CKR_TEMPLATE_INCOMPLETE),
    KT_RV(CKR_TEMPLATE_INCONSISTENT),
    KT_RV(CKR_TOKEN_NOT_PRESENT),
    KT_RV(CKR_TOKEN_NOT_RECOGNIZED),
    KT_RV(CKR_TOKEN_WRITE_PROTECTED),
    KT_RV(CKR_UNWRAPPING_KEY_HANDLE_INVALID),
    KT_RV(CKR_UNWRAPPING_KEY_SIZE_RANGE),
    KT_RV(CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT),
    KT_RV(CKR_USER_ALREADY_LOGGED_IN),
    KT_RV(CKR_USER_NOT_LOGGED_IN),
    KT_RV(CKR_USER_PIN_NOT_INITIALIZED),
    KT_RV(CKR_USER_TYPE_INVALID),
    KT_RV(CKR_USER_ANOTHER_ALREADY_LOGGED_IN),
    KT_RV(CKR_USER_TOO_MANY_TYPES),
    KT_RV(CKR_WRAPPED_KEY_INVALID),
    KT_RV(CKR_WRAPPED_KEY_LEN_RANGE),
    KT_RV(CKR_WRAPPING_KEY_HANDLE_INVALID),
    KT_RV(CKR_WRAPPING_KEY_SIZE_RANGE),
    KT_RV(CKR_WRAPPING_KEY_TYPE_INCONSISTENT),
    KT_RV(CKR_RANDOM_SEED_NOT_SUPPORTED),
    KT_RV(CKR_RANDOM_NO_RNG),
    KT_RV(CKR_DOMAIN_PARAMS_INVALID),
    KT_RV(CKR_BUFFER_TOO_SMALL),
    KT_RV(CKR_SAVED_STATE_INVALID),
    KT_RV(CKR_INFORMATION_SENSITIVE),
    KT_RV(CKR_STATE_UNSAVEABLE),
    KT_RV(CKR_CRYPTOKI_NOT_INITIALIZED),
    KT_RV(CKR_CRYPTOKI_ALREADY_INITIALIZED),
    KT_RV(CKR_MUTEX_BAD),
    KT_RV(CKR_MUTEX_NOT_LOCKED),
    KT_RV(CKR_FUNCTION_REJECTED),
    KT_RV(CKR_VENDOR_DEFINED),
};
#undef KT_RV

const NamedRv* standardRv(const std::string& name) {
    for (const NamedRv& rv : kStandardRvs) {
        if (name == rv.name) return &rv;
    }
    return nullptr;
}

std::string trimmed(const char* padded) {
    std::string text(padded);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// The constant name a description stands for: "PIN LEN RANGE" -> CKR_PIN_LEN_RANGE.
std::string constantName(const std::string& description) {
    std::string name = "CKR_" + description;
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

// A row whose code does not match the constant its text names (a mistyped
// code) describes every failure of that code wrongly, and the failure of the
// intended code as unknown.
TEST(DescriptionTable, EveryRowCarriesTheStandardCodeOfItsText) {
    std::size_t checked = 0;
    for (std::size_t i = 0; i + 1 < kErrorDescriptionCount; ++i) {
        const ErrorDesc& row = errorDescriptions[i];
        const std::string name = constantName(trimmed(row.Descr));
        const NamedRv* rv = standardRv(name);
        if (rv == nullptr) {
            ADD_FAILURE() << "row " << i << " '" << row.Descr << "' names no standard code";
            continue;
        }
        EXPECT_EQ(row.Value, rv->value) << "row " << i << " " << name << " has 0x" << std::hex
                                        << row.Value << ", the standard's is 0x" << rv->value;
        ++checked;
    }
    EXPECT_EQ(checked, kErrorDescriptionCount - 1);
    EXPECT_EQ(trimmed(errorDescriptions[kErrorDescriptionCount - 1].Descr), "NO ERROR DESC FOUND");
}

// ---- The sweep -------------------------------------------------------------

constexpr CK_RV kUnknownRv = 0x63;  // between two standard codes: no description
constexpr CK_RV kVendorRv = CKR_VENDOR_DEFINED + 0x42;

// Every failure code the sweep injects: each row of the description table
// but CKR_OK, an unknown value and a vendor value.
std::vector<CK_RV> injectedCodes() {
    std::vector<CK_RV> codes;
    for (std::size_t i = 0; i < kErrorDescriptionCount; ++i) {
        if (errorDescriptions[i].Value != CKR_OK) codes.push_back(errorDescriptions[i].Value);
    }
    codes.push_back(kUnknownRv);
    codes.push_back(kVendorRv);
    return codes;
}

const std::string kKeyValue = "\x11\x22\x33";
const std::string kData = "sixteen byte msg";
constexpr CK_ULONG kLongValueSize = 3000;  // beyond the bridge's read buffer

// What a row's call works with; made afresh for every case.
struct Ctx {
    JNIEnv* env;
    const Mock* mock;
    jobject cryptoki;
    jclass cryptokiClass;
    jobject slot;
    jobject session = nullptr;
    jlong handle = 0;
    jlong key = 0;
    jlong longObject = 0;

    jobject mech(CK_MECHANISM_TYPE type) const {
        jclass cls = env->FindClass("qorvik/Mechanism");
        jobject m = env->NewObject(cls, env->GetMethodID(cls, "<init>", "(ILjava/lang/Object;)V"),
                                   static_cast<jint>(type), nullptr);
        env->DeleteLocalRef(cls);
        return m;
    }
    jbyteArray data() const { return javaBytes(kData); }
    jint dataLen() const { return static_cast<jint>(kData.size()); }
    jbyteArray out(jint size) const { return env->NewByteArray(size); }
    jstring text(const char* s) const { return env->NewStringUTF(s); }
    jobjectArray labelTemplate() const { return attributeArray({{CKA_LABEL, text("k")}}); }
};

using Step = void (*)(Ctx&);

// How a row answers a failure of its module function.
enum class Answer {
    kReports,          // every code is reported
    kRetriesTooSmall,  // CKR_BUFFER_TOO_SMALL makes the returning form grow and retry
    kAlreadyLoggedIn,  // CKR_USER_ALREADY_LOGGED_IN counts as logged in
    kMissingIsNull,    // a missing type (or a long value) reads as null / read again
    kValueIsNull,      // any failed read leaves the value null, the result still comes back
};

struct Row {
    const char* method;      // the native method (and form) under test
    const char* function;    // the module function failed
    unsigned nth;            // which of its calls in the method fails
    const char* reportedAs;  // the function-name text Java must see
    Answer answer;
    Step arrange;  // module state the call needs (may be null)
    Step act;      // the call with good arguments
    CK_RV baseline = CKR_OK;
};

void noop(Ctx&) {}

void expectQuiet(Ctx& c, const char* what) {
    if (auto t = takeException()) {
        ADD_FAILURE() << what << ": unexpected " << t->function << " 0x" << std::hex << t->code
                      << " '" << t->message << "'";
    }
    (void)c;
}

void startEncrypt(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII(
        c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_AES_ECB), c.key, c.data(), 0, 4);
    expectQuiet(c, "arrange encrypt");
}
void startDecrypt(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1DecryptInit(c.env, c.session, c.handle, c.mech(CKM_AES_ECB),
                                                 c.key);
    expectQuiet(c, "arrange decrypt");
}
void startDigest(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1DigestUpdate(c.env, c.session, c.handle, JNI_TRUE,
                                                  c.mech(CKM_SHA256), c.data(), 0, 4);
    expectQuiet(c, "arrange digest");
}
void startSign(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1SignInit(c.env, c.session, c.handle,
                                              c.mech(CKM_SHA256_RSA_PKCS), c.key);
    expectQuiet(c, "arrange sign");
}
void startVerify(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1VerifyUpdate(c.env, c.session, c.handle, JNI_TRUE,
                                                  c.mech(CKM_SHA256_RSA_PKCS), c.key, c.data(), 0,
                                                  c.dataLen());
    expectQuiet(c, "arrange verify");
}
void startSignRecover(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1SignRecoverInit(c.env, c.session, c.mech(CKM_RSA_PKCS), c.key);
    expectQuiet(c, "arrange sign-recover");
}
void startVerifyRecover(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1VerifyRecoverInit(c.env, c.session, c.mech(CKM_RSA_PKCS),
                                                       c.key);
    expectQuiet(c, "arrange verify-recover");
}
void loginUser(Ctx& c) {
    if (c.mock->p11mock_logged_in_user(0) == CKU_USER) return;
    Java_qorvik_nat_NativeSession_J_1Login(c.env, c.session, CKU_USER, c.text("1234"));
    expectQuiet(c, "arrange login");
}
void loginSo(Ctx& c) {
    if (c.mock->p11mock_logged_in_user(0) == CKU_SO) return;
    Java_qorvik_nat_NativeSession_J_1Login(c.env, c.session, CKU_SO, c.text("87654321"));
    expectQuiet(c, "arrange SO login");
}
void closeAll(Ctx& c) {
    Java_qorvik_nat_NativeSlot_J_1CloseAllSessions(c.env, c.slot);
    expectQuiet(c, "arrange close all");
}
void encryptAndDigest(Ctx& c) {
    startEncrypt(c);
    startDigest(c);
}
void decryptAndDigest(Ctx& c) {
    startDecrypt(c);
    startDigest(c);
}
void signAndEncrypt(Ctx& c) {
    startEncrypt(c);
    startSign(c);
}
void decryptAndVerify(Ctx& c) {
    startDecrypt(c);
    startVerify(c);
}
void savedState(Ctx& c) {
    startDigest(c);
}
void slotEvent(Ctx& c) {
    c.mock->p11mock_push_slot_event(1);
}
void bridgeLoadedOnly(Ctx& c) {
    resetBridge();
    c.mock->p11mock_force_uninitialized();
    Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary2(c.env, c.cryptokiClass,
                                                        c.text(c.mock->path().c_str()), JNI_TRUE);
    expectQuiet(c, "arrange load");
}
void bridgeUnloaded(Ctx& c) {
    resetBridge();
    c.mock->p11mock_force_uninitialized();
}

std::string toySignature(Ctx& c) {
    std::string out(512, '\0');
    const CK_ULONG n = c.mock->p11mock_toy_signature(
        static_cast<CK_OBJECT_HANDLE>(c.key), CKM_SHA256_RSA_PKCS,
        reinterpret_cast<const unsigned char*>(kData.data()), kData.size(),
        reinterpret_cast<unsigned char*>(out.data()), out.size());
    out.resize(n);
    return out;
}
void verifyGood(Ctx& c) {
    const std::string signature = toySignature(c);
    Java_qorvik_nat_NativeSession_J_1Verify(
        c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_SHA256_RSA_PKCS), c.key, c.data(), 0,
        c.dataLen(), javaBytes(signature), 0, static_cast<jint>(signature.size()));
}
void verifyFinalGood(Ctx& c) {
    const std::string signature = toySignature(c);
    Java_qorvik_nat_NativeSession_J_1VerifyFinal(c.env, c.session, javaBytes(signature), 0,
                                                 static_cast<jint>(signature.size()));
}
// A state saved from a digest in progress on another session, set on this one.
void setSavedState(Ctx& c) {
    startDigest(c);
    jbyteArray state = Java_qorvik_nat_NativeSession_J_1GetOperationState(c.env, c.session);
    expectQuiet(c, "arrange saved state");
    Java_qorvik_nat_NativeSession_J_1SetOperationState(c.env, c.session, state, 0, 0);
}

#define KT_ACT(body) [](Ctx& c) { body; }
#define NS(m) Java_qorvik_nat_NativeSession_##m
#define SL(m) Java_qorvik_nat_NativeSlot_##m
#define NC(m) Java_qorvik_nat_NativeCryptoki_##m

// Every native method that calls the module, with each module function it
// calls (and, where it calls one twice, each call).
const Row kRows[] = {
    // NativeCryptoki
    {"loadCryptokiLibrary", "C_GetFunctionList", 1, "loadCryptokiLibrary", Answer::kReports,
     bridgeUnloaded,
     KT_ACT(NC(loadCryptokiLibrary)(c.env, c.cryptokiClass, c.text(c.mock->path().c_str())))},
    {"loadCryptokiLibrary2", "C_GetFunctionList", 1, "loadCryptokiLibrary", Answer::kReports,
     bridgeUnloaded,
     KT_ACT(NC(loadCryptokiLibrary2)(c.env, c.cryptokiClass, c.text(c.mock->path().c_str()),
                                     JNI_TRUE))},
    {"loadCryptokiLibrary3", "C_GetFunctionList", 1, "loadCryptokiLibrary", Answer::kReports,
     bridgeUnloaded,
     KT_ACT(NC(loadCryptokiLibrary3)(c.env, c.cryptokiClass, c.text(c.mock->path().c_str()),
                                     JNI_TRUE, JNI_FALSE))},
    {"Initialize", "C_Initialize", 1, "J_Initialize", Answer::kReports, bridgeLoadedOnly,
     KT_ACT(NC(Initialize)(c.env, c.cryptoki, nullptr))},
    {"GetInfo", "C_GetInfo", 1, "J_GetInfo", Answer::kReports, noop,
     KT_ACT(NC(GetInfo)(c.env, c.cryptoki))},
    {"GetSlotList count", "C_GetSlotList", 1, "J_GetSlotList", Answer::kReports, noop,
     KT_ACT(NC(GetSlotList)(c.env, c.cryptoki, JNI_TRUE))},
    {"GetSlotList fill", "C_GetSlotList", 2, "J_GetSlotList", Answer::kReports, noop,
     KT_ACT(NC(GetSlotList)(c.env, c.cryptoki, JNI_FALSE))},
    {"WaitForSlotEvent", "C_WaitForSlotEvent", 1, "J_WaitForSlotEvent", Answer::kReports, slotEvent,
     KT_ACT(NC(WaitForSlotEvent)(c.env, c.cryptoki, CKF_DONT_BLOCK, nullptr))},
    // NativeSlot
    {"J_GetSlotInfo", "C_GetSlotInfo", 1, "J_GetSlotInfo", Answer::kReports, noop,
     KT_ACT(SL(J_1GetSlotInfo)(c.env, c.slot))},
    {"J_GetTokenInfo", "C_GetTokenInfo", 1, "J_GetTokenInfo", Answer::kReports, noop,
     KT_ACT(SL(J_1GetTokenInfo)(c.env, c.slot))},
    {"J_GetMechanismList count", "C_GetMechanismList", 1, "J_GetMechanismList", Answer::kReports,
     noop, KT_ACT(SL(J_1GetMechanismList)(c.env, c.slot))},
    {"J_GetMechanismList fill", "C_GetMechanismList", 2, "J_GetMechanismList", Answer::kReports,
     noop, KT_ACT(SL(J_1GetMechanismList)(c.env, c.slot))},
    {"J_GetMechanismInfo", "C_GetMechanismInfo", 1, "J_GetMechanismInfo", Answer::kReports, noop,
     KT_ACT(SL(J_1GetMechanismInfo)(c.env, c.slot, CKM_SHA256))},
    {"J_InitToken", "C_InitToken", 1, "J_InitToken", Answer::kReports, closeAll,
     KT_ACT(SL(J_1InitToken)(c.env, c.slot, c.text("87654321"), c.text("token")))},
    {"J_OpenSession(I)", "C_OpenSession", 1, "J_OpenSession", Answer::kReports, noop,
     KT_ACT(SL(J_1OpenSession__I)(c.env, c.slot, CKF_SERIAL_SESSION))},
    {"J_OpenSession(IBString)", "C_OpenSession", 1, "J_OpenSession", Answer::kReports, noop,
     KT_ACT(SL(J_1OpenSession__IBLjava_lang_String_2)(c.env, c.slot, CKF_SERIAL_SESSION, CKU_USER,
                                                      c.text("1234")))},
    {"J_OpenSession(IBString) login", "C_Login", 1, "J_OpenSession", Answer::kAlreadyLoggedIn, noop,
     KT_ACT(SL(J_1OpenSession__IBLjava_lang_String_2)(c.env, c.slot, CKF_SERIAL_SESSION, CKU_USER,
                                                      c.text("1234")))},
    {"J_CloseAllSessions", "C_CloseAllSessions", 1, "J_CloseAllSessions", Answer::kReports, noop,
     KT_ACT(SL(J_1CloseAllSessions)(c.env, c.slot))},
    // NativeSession: sessions and PINs
    {"J_CloseSession", "C_CloseSession", 1, "J_CloseSession", Answer::kReports, noop,
     KT_ACT(NS(J_1CloseSession)(c.env, c.session))},
    {"J_GetSessionInfo", "C_GetSessionInfo", 1, "J_GetSessionInfo", Answer::kReports, noop,
     KT_ACT(NS(J_1GetSessionInfo)(c.env, c.session))},
    {"J_Login", "C_Login", 1, "J_Login", Answer::kReports, noop,
     KT_ACT(NS(J_1Login)(c.env, c.session, CKU_USER, c.text("1234")))},
    {"J_Logout", "C_Logout", 1, "J_Logout", Answer::kReports, loginUser,
     KT_ACT(NS(J_1Logout)(c.env, c.session))},
    {"J_InitPIN", "C_InitPIN", 1, "J_InitPIN", Answer::kReports, loginSo,
     KT_ACT(NS(J_1InitPIN)(c.env, c.session, c.text("1234")))},
    {"J_SetPIN", "C_SetPIN", 1, "J_SetPIN", Answer::kReports, loginUser,
     KT_ACT(NS(J_1SetPIN)(c.env, c.session, c.text("1234"), c.text("1234")))},
    // Objects and search
    {"J_CreateObject", "C_CreateObject", 1, "J_CreateObject", Answer::kReports, noop,
     KT_ACT(NS(J_1CreateObject)(c.env, c.session, c.labelTemplate()))},
    {"J_CopyObject", "C_CopyObject", 1, "J_CopyObject", Answer::kReports, noop,
     KT_ACT(NS(J_1CopyObject)(c.env, c.session, c.key, c.labelTemplate()))},
    {"J_DestroyObject", "C_DestroyObject", 1, "J_DestroyObject", Answer::kReports, noop,
     KT_ACT(NS(J_1DestroyObject)(c.env, c.session, c.key))},
    {"J_GetObjectSize", "C_GetObjectSize", 1, "J_GetObjectSize", Answer::kReports, noop,
     KT_ACT(NS(J_1GetObjectSize)(c.env, c.session, c.key))},
    {"J_GetAttributeValue(JI)", "C_GetAttributeValue", 1, "J_GetAttributeValue",
     Answer::kRetriesTooSmall, noop,
     KT_ACT(NS(J_1GetAttributeValue__JI)(c.env, c.session, c.key, CKA_VALUE))},
    {"J_GetAttributeValue(JI) long, length query", "C_GetAttributeValue", 2, "J_GetAttributeValue",
     Answer::kReports, noop,
     KT_ACT(NS(J_1GetAttributeValue__JI)(c.env, c.session, c.longObject, CKA_VALUE))},
    {"J_GetAttributeValue(JI) long, exact read", "C_GetAttributeValue", 3, "J_GetAttributeValue",
     Answer::kReports, noop,
     KT_ACT(NS(J_1GetAttributeValue__JI)(c.env, c.session, c.longObject, CKA_VALUE))},
    {"J_GetAttributeValue(J[I)", "C_GetAttributeValue", 2, "J_GetAttributeValue",
     Answer::kMissingIsNull, noop,
     KT_ACT(NS(J_1GetAttributeValue__J_3I)(c.env, c.session, c.key,
                                           intArray({CKA_LABEL, CKA_VALUE, CKA_CLASS})))},
    {"J_SetAttributeValue", "C_SetAttributeValue", 1, "J_SetAttributeValue", Answer::kReports, noop,
     KT_ACT(NS(J_1SetAttributeValue)(c.env, c.session, c.key, c.labelTemplate()))},
    {"J_FindObjects([A) init", "C_FindObjectsInit", 1, "J_FindObjects", Answer::kReports, noop,
     KT_ACT(NS(J_1FindObjects___3Lqorvik_Attribute_2)(c.env, c.session, attributeArray({})))},
    {"J_FindObjects([A) batch", "C_FindObjects", 1, "J_FindObjects", Answer::kReports, noop,
     KT_ACT(NS(J_1FindObjects___3Lqorvik_Attribute_2)(c.env, c.session, attributeArray({})))},
    {"J_FindObjects([A) final", "C_FindObjectsFinal", 1, "J_FindObjects", Answer::kReports, noop,
     KT_ACT(NS(J_1FindObjects___3Lqorvik_Attribute_2)(c.env, c.session, attributeArray({})))},
    {"J_FindObjects([A[I) init", "C_FindObjectsInit", 1, "J_FindObjects", Answer::kReports, noop,
     KT_ACT(NS(J_1FindObjects___3Lqorvik_Attribute_2_3I)(c.env, c.session, attributeArray({}),
                                                         intArray({CKA_VALUE})))},
    {"J_FindObjects([A[I) batch", "C_FindObjects", 1, "J_FindObjects", Answer::kReports, noop,
     KT_ACT(NS(J_1FindObjects___3Lqorvik_Attribute_2_3I)(c.env, c.session, attributeArray({}),
                                                         intArray({CKA_VALUE})))},
    {"J_FindObjects([A[I) final", "C_FindObjectsFinal", 1, "J_FindObjects", Answer::kReports, noop,
     KT_ACT(NS(J_1FindObjects___3Lqorvik_Attribute_2_3I)(c.env, c.session, attributeArray({}),
                                                         intArray({CKA_VALUE})))},
    {"J_FindObjects([A[I) read", "C_GetAttributeValue", 1, "J_FindObjects", Answer::kValueIsNull,
     noop,
     KT_ACT(NS(J_1FindObjects___3Lqorvik_Attribute_2_3I)(c.env, c.session, attributeArray({}),
                                                         intArray({CKA_VALUE})))},
    // Encryption and decryption
    {"J_EncryptUpdate returning, start", "C_EncryptInit", 1, "J_EncryptInit", Answer::kReports,
     noop,
     KT_ACT(NS(J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII)(c.env, c.session, c.handle, JNI_TRUE,
                                                              c.mech(CKM_AES_ECB), c.key, c.data(),
                                                              0, c.dataLen()))},
    {"J_EncryptUpdate returning", "C_EncryptUpdate", 1, "J_EncryptUpdate", Answer::kRetriesTooSmall,
     noop,
     KT_ACT(NS(J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII)(c.env, c.session, c.handle, JNI_TRUE,
                                                              c.mech(CKM_AES_ECB), c.key, c.data(),
                                                              0, c.dataLen()))},
    {"J_EncryptUpdate filling, start", "C_EncryptInit", 1, "J_EncryptInit", Answer::kReports, noop,
     KT_ACT(NS(J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI)(
         c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_AES_ECB), c.key, c.data(), 0, c.dataLen(),
         c.out(64), 0))},
    {"J_EncryptUpdate filling", "C_EncryptUpdate", 1, "J_EncryptUpdate", Answer::kReports, noop,
     KT_ACT(NS(J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI)(
         c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_AES_ECB), c.key, c.data(), 0, c.dataLen(),
         c.out(64), 0))},
    {"J_Encrypt returning, start", "C_EncryptInit", 1, "J_EncryptInit", Answer::kReports, noop,
     KT_ACT(NS(J_1Encrypt__JZLqorvik_Mechanism_2J_3BII)(c.env, c.session, c.handle, JNI_TRUE,
                                                        c.mech(CKM_AES_ECB), c.key, c.data(), 0,
                                                        c.dataLen()))},
    {"J_Encrypt returning", "C_Encrypt", 1, "J_Encrypt", Answer::kRetriesTooSmall, noop,
     KT_ACT(NS(J_1Encrypt__JZLqorvik_Mechanism_2J_3BII)(c.env, c.session, c.handle, JNI_TRUE,
                                                        c.mech(CKM_AES_ECB), c.key, c.data(), 0,
                                                        c.dataLen()))},
    {"J_Encrypt filling", "C_Encrypt", 1, "J_Encrypt", Answer::kReports, noop,
     KT_ACT(NS(J_1Encrypt__JZLqorvik_Mechanism_2J_3BII_3BI)(c.env, c.session, c.handle, JNI_TRUE,
                                                            c.mech(CKM_AES_ECB), c.key, c.data(), 0,
                                                            c.dataLen(), c.out(64), 0))},
    {"J_EncryptFinal returning", "C_EncryptFinal", 1, "J_EncryptFinal", Answer::kRetriesTooSmall,
     startEncrypt, KT_ACT(NS(J_1EncryptFinal__)(c.env, c.session))},
    {"J_EncryptFinal filling", "C_EncryptFinal", 1, "J_EncryptFinal", Answer::kReports,
     startEncrypt, KT_ACT(NS(J_1EncryptFinal___3BI)(c.env, c.session, c.out(64), 0))},
    {"J_DecryptInit", "C_DecryptInit", 1, "J_DecryptInit", Answer::kReports, noop,
     KT_ACT(NS(J_1DecryptInit)(c.env, c.session, c.handle, c.mech(CKM_AES_ECB), c.key))},
    {"J_DecryptUpdate returning", "C_DecryptUpdate", 1, "J_DecryptUpdate", Answer::kRetriesTooSmall,
     noop,
     KT_ACT(NS(J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII)(c.env, c.session, c.handle, JNI_TRUE,
                                                              c.mech(CKM_AES_ECB), c.key, c.data(),
                                                              0, c.dataLen()))},
    {"J_DecryptUpdate filling, start", "C_DecryptInit", 1, "J_DecryptInit", Answer::kReports, noop,
     KT_ACT(NS(J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI)(
         c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_AES_ECB), c.key, c.data(), 0, c.dataLen(),
         c.out(64), 0))},
    {"J_DecryptUpdate filling", "C_DecryptUpdate", 1, "J_DecryptUpdate", Answer::kReports, noop,
     KT_ACT(NS(J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI)(
         c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_AES_ECB), c.key, c.data(), 0, c.dataLen(),
         c.out(64), 0))},
    {"J_Decrypt returning", "C_Decrypt", 1, "J_Decrypt", Answer::kRetriesTooSmall, noop,
     KT_ACT(NS(J_1Decrypt__JZLqorvik_Mechanism_2J_3BII)(c.env, c.session, c.handle, JNI_TRUE,
                                                        c.mech(CKM_AES_ECB), c.key, c.data(), 0,
                                                        c.dataLen()))},
    {"J_DecryptFinal returning", "C_DecryptFinal", 1, "J_DecryptFinal", Answer::kRetriesTooSmall,
     startDecrypt, KT_ACT(NS(J_1DecryptFinal__)(c.env, c.session))},
    {"J_DecryptFinal filling", "C_DecryptFinal", 1, "J_DecryptFinal", Answer::kReports,
     startDecrypt, KT_ACT(NS(J_1DecryptFinal___3BI)(c.env, c.session, c.out(64), 0))},
    // Digests
    {"J_DigestKey, start", "C_DigestInit", 1, "J_DigestInit", Answer::kReports, noop,
     KT_ACT(NS(J_1DigestKey)(c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_SHA256), c.key))},
    {"J_DigestKey", "C_DigestKey", 1, "J_DigestKey", Answer::kReports, noop,
     KT_ACT(NS(J_1DigestKey)(c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_SHA256), c.key))},
    {"J_DigestUpdate", "C_DigestUpdate", 1, "J_DigestUpdate", Answer::kReports, noop,
     KT_ACT(NS(J_1DigestUpdate)(c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_SHA256), c.data(),
                                0, c.dataLen()))},
    {"J_Digest returning, start", "C_DigestInit", 1, "J_DigestInit", Answer::kReports, noop,
     KT_ACT(NS(J_1Digest__JZLqorvik_Mechanism_2_3BII)(
         c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_SHA256), c.data(), 0, c.dataLen()))},
    {"J_Digest returning", "C_Digest", 1, "J_Digest", Answer::kRetriesTooSmall, noop,
     KT_ACT(NS(J_1Digest__JZLqorvik_Mechanism_2_3BII)(
         c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_SHA256), c.data(), 0, c.dataLen()))},
    {"J_Digest filling", "C_Digest", 1, "J_Digest", Answer::kReports, noop,
     KT_ACT(NS(J_1Digest__JZLqorvik_Mechanism_2_3BII_3BI)(c.env, c.session, c.handle, JNI_TRUE,
                                                          c.mech(CKM_SHA256), c.data(), 0,
                                                          c.dataLen(), c.out(64), 0))},
    {"J_DigestFinal returning", "C_DigestFinal", 1, "J_DigestFinal", Answer::kRetriesTooSmall,
     startDigest, KT_ACT(NS(J_1DigestFinal__)(c.env, c.session))},
    {"J_DigestFinal filling", "C_DigestFinal", 1, "J_DigestFinal", Answer::kReports, startDigest,
     KT_ACT(NS(J_1DigestFinal___3BI)(c.env, c.session, c.out(64), 0))},
    // Signatures
    {"J_SignInit", "C_SignInit", 1, "J_SignInit", Answer::kReports, noop,
     KT_ACT(NS(J_1SignInit)(c.env, c.session, c.handle, c.mech(CKM_SHA256_RSA_PKCS), c.key))},
    {"J_SignUpdate", "C_SignUpdate", 1, "J_SignUpdate", Answer::kReports, noop,
     KT_ACT(NS(J_1SignUpdate)(c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_SHA256_RSA_PKCS),
                              c.key, c.data(), 0, c.dataLen()))},
    {"J_Sign returning, start", "C_SignInit", 1, "J_SignInit", Answer::kReports, noop,
     KT_ACT(NS(J_1Sign__JZLqorvik_Mechanism_2J_3BII)(c.env, c.session, c.handle, JNI_TRUE,
                                                     c.mech(CKM_SHA256_RSA_PKCS), c.key, c.data(),
                                                     0, c.dataLen()))},
    {"J_Sign returning, length", "C_Sign", 1, "J_Sign", Answer::kReports, noop,
     KT_ACT(NS(J_1Sign__JZLqorvik_Mechanism_2J_3BII)(c.env, c.session, c.handle, JNI_TRUE,
                                                     c.mech(CKM_SHA256_RSA_PKCS), c.key, c.data(),
                                                     0, c.dataLen()))},
    {"J_Sign returning, signature", "C_Sign", 2, "J_Sign", Answer::kReports, noop,
     KT_ACT(NS(J_1Sign__JZLqorvik_Mechanism_2J_3BII)(c.env, c.session, c.handle, JNI_TRUE,
                                                     c.mech(CKM_SHA256_RSA_PKCS), c.key, c.data(),
                                                     0, c.dataLen()))},
    {"J_Sign filling", "C_Sign", 1, "J_Sign", Answer::kReports, noop,
     KT_ACT(NS(J_1Sign__JZLqorvik_Mechanism_2J_3BII_3BI)(c.env, c.session, c.handle, JNI_TRUE,
                                                         c.mech(CKM_SHA256_RSA_PKCS), c.key,
                                                         c.data(), 0, c.dataLen(), c.out(128), 0))},
    {"J_SignFinal returning", "C_SignFinal", 1, "J_SignFinal", Answer::kRetriesTooSmall, startSign,
     KT_ACT(NS(J_1SignFinal__)(c.env, c.session))},
    {"J_SignFinal filling", "C_SignFinal", 1, "J_SignFinal", Answer::kReports, startSign,
     KT_ACT(NS(J_1SignFinal___3BI)(c.env, c.session, c.out(128), 0))},
    {"J_SignRecoverInit", "C_SignRecoverInit", 1, "J_SignRecoverInit", Answer::kReports, noop,
     KT_ACT(NS(J_1SignRecoverInit)(c.env, c.session, c.mech(CKM_RSA_PKCS), c.key))},
    {"J_SignRecover returning", "C_SignRecover", 1, "J_SignRecover", Answer::kRetriesTooSmall,
     startSignRecover,
     KT_ACT(NS(J_1SignRecover___3BII)(c.env, c.session, c.data(), 0, c.dataLen()))},
    {"J_SignRecover filling", "C_SignRecover", 1, "J_SignRecover", Answer::kReports,
     startSignRecover,
     KT_ACT(
         NS(J_1SignRecover___3BII_3BI)(c.env, c.session, c.data(), 0, c.dataLen(), c.out(64), 0))},
    // Verification
    {"J_VerifyUpdate, start", "C_VerifyInit", 1, "J_VerifyInit", Answer::kReports, noop,
     KT_ACT(NS(J_1VerifyUpdate)(c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_SHA256_RSA_PKCS),
                                c.key, c.data(), 0, c.dataLen()))},
    {"J_VerifyUpdate", "C_VerifyUpdate", 1, "J_VerifyUpdate", Answer::kReports, noop,
     KT_ACT(NS(J_1VerifyUpdate)(c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_SHA256_RSA_PKCS),
                                c.key, c.data(), 0, c.dataLen()))},
    {"J_Verify", "C_Verify", 1, "J_Verify", Answer::kReports, noop, KT_ACT(verifyGood(c))},
    {"J_VerifyFinal", "C_VerifyFinal", 1, "J_VerifyFinal", Answer::kReports, startVerify,
     KT_ACT(verifyFinalGood(c))},
    {"J_VerifyRecoverInit", "C_VerifyRecoverInit", 1, "J_VerifyRecoverInit", Answer::kReports, noop,
     KT_ACT(NS(J_1VerifyRecoverInit)(c.env, c.session, c.mech(CKM_RSA_PKCS), c.key))},
    {"J_VerifyRecover returning", "C_VerifyRecover", 1, "J_VerifyRecover", Answer::kRetriesTooSmall,
     startVerifyRecover,
     KT_ACT(NS(J_1VerifyRecover___3BII)(c.env, c.session, c.data(), 0, c.dataLen()))},
    {"J_VerifyRecover filling", "C_VerifyRecover", 1, "J_VerifyRecover", Answer::kReports,
     startVerifyRecover,
     KT_ACT(NS(J_1VerifyRecover___3BII_3BI)(c.env, c.session, c.data(), 0, c.dataLen(), c.out(64),
                                            0))},
    // Dual-function updates, state, status, random numbers
    {"J_DecryptDigestUpdate", "C_DecryptDigestUpdate", 1, "J_DecryptDigestUpdate", Answer::kReports,
     decryptAndDigest,
     KT_ACT(NS(J_1DecryptDigestUpdate)(c.env, c.session, c.data(), 0, c.dataLen(), c.out(64), 0))},
    {"J_DigestEncryptUpdate", "C_DigestEncryptUpdate", 1, "J_DigestEncryptUpdate", Answer::kReports,
     encryptAndDigest,
     KT_ACT(NS(J_1DigestEncryptUpdate)(c.env, c.session, c.data(), 0, c.dataLen(), c.out(64), 0))},
    {"J_SignEncryptUpdate", "C_SignEncryptUpdate", 1, "J_SignEncryptUpdate", Answer::kReports,
     signAndEncrypt,
     KT_ACT(NS(J_1SignEncryptUpdate)(c.env, c.session, c.data(), 0, c.dataLen(), c.out(64), 0))},
    {"J_DecryptVerifyUpdate", "C_DecryptVerifyUpdate", 1, "J_DecryptVerifyUpdate", Answer::kReports,
     decryptAndVerify,
     KT_ACT(NS(J_1DecryptVerifyUpdate)(c.env, c.session, c.data(), 0, c.dataLen(), c.out(64), 0))},
    {"J_GetOperationState length", "C_GetOperationState", 1, "J_GetOperationState",
     Answer::kReports, savedState, KT_ACT(NS(J_1GetOperationState)(c.env, c.session))},
    {"J_GetOperationState copy", "C_GetOperationState", 2, "J_GetOperationState", Answer::kReports,
     savedState, KT_ACT(NS(J_1GetOperationState)(c.env, c.session))},
    {"J_SetOperationState", "C_SetOperationState", 1, "J_SetOperationState", Answer::kReports, noop,
     KT_ACT(setSavedState(c))},
    {"J_GetFunctionStatus", "C_GetFunctionStatus", 1, "J_GetFunctionStatus", Answer::kReports, noop,
     KT_ACT(NS(J_1GetFunctionStatus)(c.env, c.session)), CKR_FUNCTION_NOT_PARALLEL},
    {"J_CancelFunction", "C_CancelFunction", 1, "J_CancelFunction", Answer::kReports, noop,
     KT_ACT(NS(J_1CancelFunction)(c.env, c.session)), CKR_FUNCTION_NOT_PARALLEL},
    {"J_GenerateRandom seed", "C_SeedRandom", 1, "J_SeedRandom", Answer::kReports, noop,
     KT_ACT(
         NS(J_1GenerateRandom)(c.env, c.session, c.handle, JNI_TRUE, c.data(), c.out(16), 0, 16))},
    {"J_GenerateRandom", "C_GenerateRandom", 1, "J_GenerateRandom", Answer::kReports, noop,
     KT_ACT(
         NS(J_1GenerateRandom)(c.env, c.session, c.handle, JNI_TRUE, c.data(), c.out(16), 0, 16))},
    // Keys
    {"J_GenerateKey", "C_GenerateKey", 1, "J_GenerateKey", Answer::kReports, noop,
     KT_ACT(NS(J_1GenerateKey)(c.env, c.session, c.mech(CKM_AES_KEY_GEN), c.labelTemplate()))},
    {"J_GenerateKeyPair", "C_GenerateKeyPair", 1, "J_GenerateKeyPair", Answer::kReports, noop,
     KT_ACT(NS(J_1GenerateKeyPair)(c.env, c.session, c.mech(CKM_RSA_PKCS_KEY_PAIR_GEN),
                                   c.labelTemplate(), c.labelTemplate()))},
    {"J_WrapKey", "C_WrapKey", 1, "J_WrapKey", Answer::kRetriesTooSmall, noop,
     KT_ACT(NS(J_1WrapKey)(c.env, c.session, c.mech(CKM_AES_KEY_WRAP), c.key, c.key))},
    {"J_UnwrapKey", "C_UnwrapKey", 1, "J_UnwrapKey", Answer::kReports, noop,
     KT_ACT(NS(J_1UnwrapKey)(c.env, c.session, c.mech(CKM_AES_KEY_WRAP), c.key, c.data(), 0,
                             c.dataLen(), c.labelTemplate()))},
    {"J_DeriveKey", "C_DeriveKey", 1, "J_DeriveKey", Answer::kReports, noop,
     KT_ACT(NS(J_1DeriveKey)(c.env, c.session, c.mech(CKM_SHA256_KEY_DERIVATION), c.key,
                             c.labelTemplate()))},
    // Finalize last: its next call loads the module again.
    {"Finalize", "C_Finalize", 1, "J_Finalize", Answer::kReports, noop,
     KT_ACT(NC(Finalize)(c.env, c.cryptoki, nullptr))},
};

#undef KT_ACT
#undef NS
#undef SL
#undef NC

// Totals for the summary line, over the whole run.
struct Totals {
    long cases = 0;
    long wrong = 0;
    long unreleased = 0;
    long gets = 0;  // accessor gets seen: the counting is not vacuous
};
Totals g_totals;

class FaultSweep : public BridgeTest {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(mock);
    }

    // A fresh session on slot 1 with a key and an object whose value is longer
    // than the bridge's read buffer; the module is reset first when asked.
    Ctx prepare(bool resetModule) {
        if (resetModule) mock.p11mock_reset();
        if (!moduleInitialized()) {
            resetBridge();
            mock.p11mock_force_uninitialized();
            load(mock.path());
            initialize();
        }
        Ctx c{env, &mock, cryptoki, cryptokiClass, newSlot(1)};
        c.session = Java_qorvik_nat_NativeSlot_J_1OpenSession__I(
            env, c.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION);
        expectNoException();
        if (c.session != nullptr) {
            jclass cls = env->GetObjectClass(c.session);
            c.handle = env->GetLongField(c.session, env->GetFieldID(cls, "m_sessionHandle", "J"));
            env->DeleteLocalRef(cls);
        }
        std::string value = kKeyValue;
        CK_ATTRIBUTE key[] = {{CKA_VALUE, value.data(), value.size()}};
        c.key = static_cast<jlong>(mock.p11mock_add_object(key, 1));
        std::string longValue(kLongValueSize, 'L');
        CK_ATTRIBUTE long_[] = {{CKA_VALUE, longValue.data(), longValue.size()}};
        c.longObject = static_cast<jlong>(mock.p11mock_add_object(long_, 1));
        return c;
    }

    // Checks what Java sees after a call: nothing when `expected` is CKR_OK,
    // else the failure under `function` with the code and its description.
    bool seen(const char* what, const char* function, CK_RV expected) {
        auto t = takeException();
        if (expected == CKR_OK) {
            if (!t) return true;
            ADD_FAILURE() << what << ": unexpected " << t->function << " 0x" << std::hex << t->code
                          << " '" << t->message << "'";
            return false;
        }
        const std::string description = getCryptokiErrorDesc(expected);
        if (t && t->function == function &&
            t->code == static_cast<int>(static_cast<uint32_t>(expected)) &&
            t->message == description && t->message.size() == kErrorDescriptionWidth) {
            return true;
        }
        if (!t) {
            ADD_FAILURE() << what << ": no failure, expected " << function << " 0x" << std::hex
                          << expected;
        } else {
            ADD_FAILURE() << what << ": got " << t->function << " 0x" << std::hex << t->code << " '"
                          << t->message << "', expected " << function << " 0x" << expected << " '"
                          << description << "'";
        }
        return false;
    }

    // One injected failure: the report Java sees, every array given back, the
    // fault really reached, then the same call on a new session working.
    void runCase(const Row& row, CK_RV code, CK_RV expected) {
        std::ostringstream what;
        what << row.method << " / " << row.function << " #" << row.nth << " = 0x" << std::hex
             << code;
        bool ok = true;
        ASSERT_EQ(env->PushLocalFrame(512), JNI_OK);
        {
            Ctx c = prepare(true);
            row.arrange(c);
            mock.p11mock_log_clear();
            mock.p11mock_fail_nth(row.function, row.nth, code);
            CountingEnv counted(env);
            c.env = counted.env();
            row.act(c);
            g_totals.gets += counted.totalGets();
            if (counted.unreleased() != 0 || counted.strayReleases() != 0) {
                ADD_FAILURE() << what.str() << ": " << counted.report();
                g_totals.unreleased += counted.unreleased() + counted.strayReleases();
                ok = false;
            }
            ok = seen(what.str().c_str(), row.reportedAs, expected) && ok;
            if (mock.p11mock_log_count(row.function) < row.nth) {
                ADD_FAILURE() << what.str() << ": the failing call was never made";
                ok = false;
            }
            mock.p11mock_clear_faults();
        }
        env->PopLocalFrame(nullptr);
        ASSERT_EQ(env->PushLocalFrame(512), JNI_OK);
        {
            Ctx c = prepare(false);
            row.arrange(c);
            row.act(c);
            ok = seen((what.str() + ", next call").c_str(), row.reportedAs, row.baseline) && ok;
        }
        env->PopLocalFrame(nullptr);
        ++g_totals.cases;
        if (!ok) ++g_totals.wrong;
    }

    const Mock& mock = plainMock();
};

// What Java must see when `code` fails the row's module function.
CK_RV expectedFor(const Row& row, CK_RV code) {
    switch (row.answer) {
        case Answer::kReports:
            return code;
        case Answer::kRetriesTooSmall:
            return code == CKR_BUFFER_TOO_SMALL ? row.baseline : code;
        case Answer::kAlreadyLoggedIn:
            return code == CKR_USER_ALREADY_LOGGED_IN ? row.baseline : code;
        case Answer::kMissingIsNull:
            return code == CKR_ATTRIBUTE_TYPE_INVALID || code == CKR_BUFFER_TOO_SMALL ? row.baseline
                                                                                      : code;
        case Answer::kValueIsNull:
            return row.baseline;
    }
    return code;
}

TEST_F(FaultSweep, EveryRowSucceedsWithoutAFault) {
    for (const Row& row : kRows) {
        ASSERT_EQ(env->PushLocalFrame(512), JNI_OK);
        Ctx c = prepare(true);
        row.arrange(c);
        mock.p11mock_log_clear();
        row.act(c);
        seen(row.method, row.reportedAs, row.baseline);
        EXPECT_GE(mock.p11mock_log_count(row.function), row.nth)
            << row.method << " does not call " << row.function << " " << row.nth << " times";
        env->PopLocalFrame(nullptr);
    }
}

TEST_F(FaultSweep, EveryModuleFunctionFailedWithEveryCode) {
    const std::vector<CK_RV> codes = injectedCodes();
    for (const Row& row : kRows) {
        for (CK_RV code : codes) {
            runCase(row, code, expectedFor(row, code));
            if (HasFatalFailure()) return;
        }
    }
}

// Every module function of the list the bridge calls has a row.
TEST(FaultSweepTable, CoversEveryModuleFunctionTheBridgeCalls) {
    const char* const called[] = {"C_Initialize",
                                  "C_Finalize",
                                  "C_GetInfo",
                                  "C_GetFunctionList",
                                  "C_GetSlotList",
                                  "C_GetSlotInfo",
                                  "C_GetTokenInfo",
                                  "C_GetMechanismList",
                                  "C_GetMechanismInfo",
                                  "C_InitToken",
                                  "C_InitPIN",
                                  "C_SetPIN",
                                  "C_OpenSession",
                                  "C_CloseSession",
                                  "C_CloseAllSessions",
                                  "C_GetSessionInfo",
                                  "C_GetOperationState",
                                  "C_SetOperationState",
                                  "C_Login",
                                  "C_Logout",
                                  "C_CreateObject",
                                  "C_CopyObject",
                                  "C_DestroyObject",
                                  "C_GetObjectSize",
                                  "C_GetAttributeValue",
                                  "C_SetAttributeValue",
                                  "C_FindObjectsInit",
                                  "C_FindObjects",
                                  "C_FindObjectsFinal",
                                  "C_EncryptInit",
                                  "C_Encrypt",
                                  "C_EncryptUpdate",
                                  "C_EncryptFinal",
                                  "C_DecryptInit",
                                  "C_Decrypt",
                                  "C_DecryptUpdate",
                                  "C_DecryptFinal",
                                  "C_DigestInit",
                                  "C_Digest",
                                  "C_DigestUpdate",
                                  "C_DigestKey",
                                  "C_DigestFinal",
                                  "C_SignInit",
                                  "C_Sign",
                                  "C_SignUpdate",
                                  "C_SignFinal",
                                  "C_SignRecoverInit",
                                  "C_SignRecover",
                                  "C_VerifyInit",
                                  "C_Verify",
                                  "C_VerifyUpdate",
                                  "C_VerifyFinal",
                                  "C_VerifyRecoverInit",
                                  "C_VerifyRecover",
                                  "C_DigestEncryptUpdate",
                                  "C_DecryptDigestUpdate",
                                  "C_SignEncryptUpdate",
                                  "C_DecryptVerifyUpdate",
                                  "C_GenerateKey",
                                  "C_GenerateKeyPair",
                                  "C_WrapKey",
                                  "C_UnwrapKey",
                                  "C_DeriveKey",
                                  "C_SeedRandom",
                                  "C_GenerateRandom",
                                  "C_GetFunctionStatus",
                                  "C_CancelFunction",
                                  "C_WaitForSlotEvent"};
    for (const char* fn : called) {
        bool covered = false;
        for (const Row& row : kRows) covered = covered || std::strcmp(row.function, fn) == 0;
        EXPECT_TRUE(covered) << fn << " has no row";
    }
}

// ---- A token removed in the middle of a multi-part operation ---------------

#define KT_ACT(body) [](Ctx& c) { body; }
#define NS(m) Java_qorvik_nat_NativeSession_##m

// Update and final calls after a successful start and first part.
const Row kMidOperationRows[] = {
    {"J_EncryptUpdate, running", "C_EncryptUpdate", 1, "J_EncryptUpdate", Answer::kReports,
     startEncrypt,
     KT_ACT(NS(J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI)(c.env, c.session, c.handle,
                                                                  JNI_FALSE, nullptr, 0, c.data(),
                                                                  0, c.dataLen(), c.out(64), 0))},
    {"J_EncryptFinal, running", "C_EncryptFinal", 1, "J_EncryptFinal", Answer::kReports,
     startEncrypt, KT_ACT(NS(J_1EncryptFinal__)(c.env, c.session))},
    {"J_DecryptUpdate, running", "C_DecryptUpdate", 1, "J_DecryptUpdate", Answer::kReports,
     startDecrypt,
     KT_ACT(NS(J_1DecryptUpdate__JZLqorvik_Mechanism_2J_3BII)(
         c.env, c.session, c.handle, JNI_FALSE, nullptr, 0, c.data(), 0, c.dataLen()))},
    {"J_DecryptFinal, running", "C_DecryptFinal", 1, "J_DecryptFinal", Answer::kReports,
     startDecrypt, KT_ACT(NS(J_1DecryptFinal___3BI)(c.env, c.session, c.out(64), 0))},
    {"J_DigestUpdate, running", "C_DigestUpdate", 1, "J_DigestUpdate", Answer::kReports,
     startDigest,
     KT_ACT(NS(J_1DigestUpdate)(c.env, c.session, c.handle, JNI_FALSE, nullptr, c.data(), 0,
                                c.dataLen()))},
    {"J_DigestFinal, running", "C_DigestFinal", 1, "J_DigestFinal", Answer::kReports, startDigest,
     KT_ACT(NS(J_1DigestFinal__)(c.env, c.session))},
    {"J_SignUpdate, running", "C_SignUpdate", 1, "J_SignUpdate", Answer::kReports, startSign,
     KT_ACT(NS(J_1SignUpdate)(c.env, c.session, c.handle, JNI_FALSE, nullptr, 0, c.data(), 0,
                              c.dataLen()))},
    {"J_SignFinal, running", "C_SignFinal", 1, "J_SignFinal", Answer::kReports, startSign,
     KT_ACT(NS(J_1SignFinal___3BI)(c.env, c.session, c.out(128), 0))},
    {"J_VerifyUpdate, running", "C_VerifyUpdate", 1, "J_VerifyUpdate", Answer::kReports,
     startVerify,
     KT_ACT(NS(J_1VerifyUpdate)(c.env, c.session, c.handle, JNI_FALSE, nullptr, 0, c.data(), 0,
                                c.dataLen()))},
};

TEST_F(FaultSweep, TokenRemovedInTheMiddleOfAnOperation) {
    for (const Row& row : kMidOperationRows) {
        for (CK_RV code : {CKR_DEVICE_REMOVED, CKR_TOKEN_NOT_PRESENT, CKR_SESSION_HANDLE_INVALID}) {
            runCase(row, code, code);
            if (HasFatalFailure()) return;
        }
    }
}

// ---- Module misbehaviour ---------------------------------------------------

const char* const kBeyondBuffer = "Module returned a length larger than the buffer";
const char* const kBeyondJavaArray = "Module returned a length larger than a Java array can hold";

struct Misbehaviour {
    const char* name;
    Step arrange;            // module state and the misbehaviour itself
    Step act;                // the call
    const char* reportedAs;  // function-name text
    CK_RV rv;                // expected code, or CKR_GENERAL_ERROR with `message`
    const char* message;     // the bridge's own text, or null for the code's description
    const char* function;    // the misbehaving module function
    unsigned maxCalls;       // how often the bridge may call it before giving up
};

template <Step Start, const char* const* Fn, CK_ULONG First, CK_ULONG Growth>
void tooSmallAlways(Ctx& c) {
    Start(c);
    c.mock->p11mock_buffer_too_small_always(*Fn, First, Growth);
}
template <Step Start, const char* const* Fn, CK_ULONG Len>
void tooSmallOnce(Ctx& c) {
    Start(c);
    c.mock->p11mock_buffer_too_small_next(*Fn, Len);
}
template <Step Start, const char* const* Fn, unsigned Nth, CK_ULONG Len>
void reportsMore(Ctx& c) {
    Start(c);
    c.mock->p11mock_report_len_nth(*Fn, Nth, Len);
}

const char* const kEncrypt = "C_Encrypt";
const char* const kDecrypt = "C_Decrypt";
const char* const kDigest = "C_Digest";
const char* const kDigestFinal = "C_DigestFinal";
const char* const kSign = "C_Sign";
const char* const kSignFinal = "C_SignFinal";
const char* const kSignRecover = "C_SignRecover";
const char* const kWrapKey = "C_WrapKey";
const char* const kGetAttributeValue = "C_GetAttributeValue";
const char* const kFindObjects = "C_FindObjects";
const char* const kGetSlotList = "C_GetSlotList";
const char* const kGetMechanismList = "C_GetMechanismList";
const char* const kGetOperationState = "C_GetOperationState";

constexpr CK_ULONG kAbsurd = ulong_width::kBeyondJavaArrays;
constexpr CK_ULONG kReadBuffer = 2048;

void encryptReturning(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
        c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_AES_ECB), c.key, c.data(), 0, c.dataLen());
}
void decryptReturning(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1Decrypt__JZLqorvik_Mechanism_2J_3BII(
        c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_AES_ECB), c.key, c.data(), 0, c.dataLen());
}
void encryptFilling(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII_3BI(
        c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_AES_ECB), c.key, c.data(), 0, c.dataLen(),
        c.out(64), 0);
}
void digestReturning(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
        c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_SHA256), c.data(), 0, c.dataLen());
}
void digestFinal(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1DigestFinal__(c.env, c.session);
}
void signReturning(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII(
        c.env, c.session, c.handle, JNI_TRUE, c.mech(CKM_SHA256_RSA_PKCS), c.key, c.data(), 0,
        c.dataLen());
}
void signFinal(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1SignFinal__(c.env, c.session);
}
void signRecover(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1SignRecover___3BII(c.env, c.session, c.data(), 0, c.dataLen());
}
void wrapKey(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1WrapKey(c.env, c.session, c.mech(CKM_AES_KEY_WRAP), c.key,
                                             c.key);
}
void readShort(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(c.env, c.session, c.key, CKA_VALUE);
}
void readLong(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(c.env, c.session, c.longObject,
                                                           CKA_VALUE);
}
void readLongInList(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1GetAttributeValue__J_3I(c.env, c.session, c.longObject,
                                                             intArray({CKA_VALUE}));
}
void findAll(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(c.env, c.session,
                                                                        attributeArray({}));
}
void slotList(Ctx& c) {
    Java_qorvik_nat_NativeCryptoki_GetSlotList(c.env, c.cryptoki, JNI_FALSE);
}
void mechanismList(Ctx& c) {
    Java_qorvik_nat_NativeSlot_J_1GetMechanismList(c.env, c.slot);
}
void operationState(Ctx& c) {
    Java_qorvik_nat_NativeSession_J_1GetOperationState(c.env, c.session);
}

const Misbehaviour kMisbehaviours[] = {
    // Too small forever: the returning form gives up after its bounded retries.
    {"too small forever, J_Encrypt", tooSmallAlways<noop, &kEncrypt, 600, 0>, encryptReturning,
     "J_Encrypt", CKR_BUFFER_TOO_SMALL, nullptr, kEncrypt, 9},
    {"too small forever, J_Decrypt", tooSmallAlways<noop, &kDecrypt, 600, 0>, decryptReturning,
     "J_Decrypt", CKR_BUFFER_TOO_SMALL, nullptr, kDecrypt, 9},
    {"too small forever, J_DigestFinal", tooSmallAlways<startDigest, &kDigestFinal, 600, 0>,
     digestFinal, "J_DigestFinal", CKR_BUFFER_TOO_SMALL, nullptr, kDigestFinal, 9},
    {"too small forever, J_SignRecover", tooSmallAlways<startSignRecover, &kSignRecover, 900, 0>,
     signRecover, "J_SignRecover", CKR_BUFFER_TOO_SMALL, nullptr, kSignRecover, 9},
    {"too small forever, J_WrapKey", tooSmallAlways<noop, &kWrapKey, 600, 0>, wrapKey, "J_WrapKey",
     CKR_BUFFER_TOO_SMALL, nullptr, kWrapKey, 9},
    {"too small forever, J_GetAttributeValue", tooSmallAlways<noop, &kGetAttributeValue, 4000, 0>,
     readShort, "J_GetAttributeValue", CKR_BUFFER_TOO_SMALL, nullptr, kGetAttributeValue, 3},
    // Growing on every call: still bounded.
    {"growing, J_Encrypt", tooSmallAlways<noop, &kEncrypt, 600, 4096>, encryptReturning,
     "J_Encrypt", CKR_BUFFER_TOO_SMALL, nullptr, kEncrypt, 9},
    {"growing, J_DigestFinal", tooSmallAlways<startDigest, &kDigestFinal, 100, 100>, digestFinal,
     "J_DigestFinal", CKR_BUFFER_TOO_SMALL, nullptr, kDigestFinal, 9},
    {"growing, J_WrapKey", tooSmallAlways<noop, &kWrapKey, 600, 1 << 20>, wrapKey, "J_WrapKey",
     CKR_BUFFER_TOO_SMALL, nullptr, kWrapKey, 9},
    {"growing past a Java array, J_Encrypt",
     tooSmallAlways<noop, &kEncrypt, 600, CK_ULONG(1) << 31>, encryptReturning, "J_Encrypt",
     CKR_GENERAL_ERROR, kBeyondJavaArray, kEncrypt, 9},
    // A length of 0 with "too small".
    {"too small, length 0, J_Encrypt", tooSmallOnce<noop, &kEncrypt, 0>, encryptReturning,
     "J_Encrypt", CKR_BUFFER_TOO_SMALL, nullptr, kEncrypt, 1},
    {"too small, length 0, J_DigestFinal", tooSmallOnce<startDigest, &kDigestFinal, 0>, digestFinal,
     "J_DigestFinal", CKR_BUFFER_TOO_SMALL, nullptr, kDigestFinal, 1},
    // Absurd lengths: refused before anything of that size exists.
    {"absurd, J_Encrypt", tooSmallOnce<noop, &kEncrypt, kAbsurd>, encryptReturning, "J_Encrypt",
     CKR_GENERAL_ERROR, kBeyondJavaArray, kEncrypt, 1},
    {"absurd, J_Digest", tooSmallOnce<noop, &kDigest, kAbsurd>, digestReturning, "J_Digest",
     CKR_GENERAL_ERROR, kBeyondJavaArray, kDigest, 1},
    {"absurd, J_SignFinal", tooSmallOnce<startSign, &kSignFinal, kAbsurd>, signFinal, "J_SignFinal",
     CKR_GENERAL_ERROR, kBeyondJavaArray, kSignFinal, 1},
    {"absurd, J_WrapKey", tooSmallOnce<noop, &kWrapKey, kAbsurd>, wrapKey, "J_WrapKey",
     CKR_GENERAL_ERROR, kBeyondJavaArray, kWrapKey, 1},
    // CKR_OK with a length beyond the buffer handed over.
    {"beyond the buffer, J_Encrypt filling", reportsMore<noop, &kEncrypt, 1, 65>, encryptFilling,
     "J_Encrypt", CKR_GENERAL_ERROR, kBeyondBuffer, kEncrypt, 1},
    {"beyond the buffer, J_Encrypt returning", reportsMore<noop, &kEncrypt, 1, 16 + 512 + 1>,
     encryptReturning, "J_Encrypt", CKR_GENERAL_ERROR, kBeyondBuffer, kEncrypt, 1},
    {"beyond the buffer, J_Digest", reportsMore<noop, &kDigest, 1, 65>, digestReturning, "J_Digest",
     CKR_GENERAL_ERROR, kBeyondBuffer, kDigest, 1},
    {"beyond the buffer, J_Sign", reportsMore<noop, &kSign, 2, 65>, signReturning, "J_Sign",
     CKR_GENERAL_ERROR, kBeyondBuffer, kSign, 2},
    {"beyond the buffer, J_FindObjects", reportsMore<noop, &kFindObjects, 1, 51>, findAll,
     "J_FindObjects", CKR_GENERAL_ERROR, kBeyondBuffer, kFindObjects, 1},
    {"beyond the buffer, GetSlotList", reportsMore<noop, &kGetSlotList, 2, 3>, slotList,
     "J_GetSlotList", CKR_GENERAL_ERROR, kBeyondBuffer, kGetSlotList, 2},
    {"beyond the buffer, J_GetMechanismList", reportsMore<noop, &kGetMechanismList, 2, 1000>,
     mechanismList, "J_GetMechanismList", CKR_GENERAL_ERROR, kBeyondBuffer, kGetMechanismList, 2},
    {"beyond the buffer, J_GetOperationState",
     reportsMore<startDigest, &kGetOperationState, 2, 100000>, operationState,
     "J_GetOperationState", CKR_GENERAL_ERROR, kBeyondBuffer, kGetOperationState, 2},
    {"beyond the read buffer, J_GetAttributeValue",
     reportsMore<noop, &kGetAttributeValue, 1, kReadBuffer + 1>, readShort, "J_GetAttributeValue",
     CKR_GENERAL_ERROR, kBeyondBuffer, kGetAttributeValue, 1},
    // The exact-size re-read of a long value answered with a longer length.
    {"exact re-read longer, J_GetAttributeValue(JI)",
     reportsMore<noop, &kGetAttributeValue, 3, kLongValueSize + 1>, readLong, "J_GetAttributeValue",
     CKR_GENERAL_ERROR, kBeyondBuffer, kGetAttributeValue, 3},
    {"exact re-read longer, J_GetAttributeValue(J[I)",
     reportsMore<noop, &kGetAttributeValue, 3, kLongValueSize + 1>, readLongInList,
     "J_GetAttributeValue", CKR_GENERAL_ERROR, kBeyondBuffer, kGetAttributeValue, 3},
};

TEST_F(FaultSweep, ModuleMisbehaviour) {
    for (const Misbehaviour& m : kMisbehaviours) {
        bool ok = true;
        ASSERT_EQ(env->PushLocalFrame(512), JNI_OK);
        {
            Ctx c = prepare(true);
            m.arrange(c);
            mock.p11mock_log_clear();
            CountingEnv counted(env);
            c.env = counted.env();
            m.act(c);
            g_totals.gets += counted.totalGets();
            if (counted.unreleased() != 0 || counted.strayReleases() != 0) {
                ADD_FAILURE() << m.name << ": " << counted.report();
                g_totals.unreleased += counted.unreleased() + counted.strayReleases();
                ok = false;
            }
            auto t = takeException();
            const std::string text = m.message ? m.message : getCryptokiErrorDesc(m.rv);
            if (!t || t->function != m.reportedAs ||
                t->code != static_cast<int>(static_cast<uint32_t>(m.rv)) || t->message != text) {
                ADD_FAILURE() << m.name << ": expected " << m.reportedAs << " '" << text
                              << "', got "
                              << (t ? t->function + " '" + t->message + "'" : "nothing");
                ok = false;
            }
            const size_t calls = mock.p11mock_log_count(m.function);
            if (calls == 0 || calls > m.maxCalls) {
                ADD_FAILURE() << m.name << ": " << m.function << " called " << calls
                              << " times, at most " << m.maxCalls;
                ok = false;
            }
            mock.p11mock_clear_faults();
        }
        env->PopLocalFrame(nullptr);
        ++g_totals.cases;
        if (!ok) ++g_totals.wrong;
    }
}

// A failed attribute read inside the two-argument search leaves that value
// null; the objects still come back, and no byte of the lie reaches Java.
TEST_F(FaultSweep, LongerExactReReadInASearchLeavesTheValueNull) {
    Ctx c = prepare(true);
    mock.p11mock_report_len_nth("C_GetAttributeValue", 3, kLongValueSize + 1);
    CK_ULONG cls = CKO_DATA;
    std::string longValue(kLongValueSize, 'L');
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                        {CKA_VALUE, longValue.data(), longValue.size()}};
    const jlong only = static_cast<jlong>(mock.p11mock_add_object(t, 2));
    jobjectArray found = Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2_3I(
        env, c.session, attributeArray({{CKA_CLASS, javaInteger(CKO_DATA)}}),
        intArray({CKA_VALUE}));
    expectNoException();
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(env->GetArrayLength(found), 1);
    jobject object = env->GetObjectArrayElement(found, 0);
    EXPECT_EQ(callLong(object, "getHandle") & 0xFFFFFFFF, only & 0xFFFFFFFF);
    ++g_totals.cases;
}

#undef KT_ACT
#undef NS

// ---- Handles and flags with high bits --------------------------------------

TEST_F(FaultSweep, HandlesAndFlagsKeepTheirHighBits) {
    Ctx c = prepare(true);
    // Object handles are longs: every bit of the CK_ULONG reaches the module
    // and comes back, unsigned (a 32-bit handle from 0x80000000 up stays positive).
    const CK_OBJECT_HANDLE high = ulong_width::kWide ? ulong_width::held(0xFFFFFFF0'00000011ull)
                                                     : ulong_width::held(0xFFFFFF11ull);
    mock.p11mock_set_object_handle_base(high);
    const jlong created =
        Java_qorvik_nat_NativeSession_J_1CreateObject(env, c.session, c.labelTemplate());
    expectNoException();
    EXPECT_EQ(created, ulong_width::asJlong(high));
    Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(env, c.session, created, CKA_LABEL);
    expectNoException();
    EXPECT_EQ(mock.lastArg("C_GetAttributeValue", 1), high);
    jlongArray found = Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(
        env, c.session, attributeArray({{CKA_LABEL, str("k")}}));
    expectNoException();
    ASSERT_NE(found, nullptr);
    jlong first = 0;
    env->GetLongArrayRegion(found, 0, 1, &first);
    EXPECT_EQ(first, ulong_width::asJlong(high));
    Java_qorvik_nat_NativeSession_J_1DestroyObject(env, c.session, created);
    expectNoException();
    EXPECT_EQ(mock.lastArg("C_DestroyObject", 1), high);

    // An explicit session handle reaches the module as it is where CK_ULONG has
    // 64 bits, as its low 32 bits where it has 32.
    const jlong badSession = static_cast<jlong>(0x80000000'7FFF0001ull);
    Java_qorvik_nat_NativeSession_J_1SignInit(env, c.session, badSession,
                                              c.mech(CKM_SHA256_RSA_PKCS), c.key);
    expectRv("J_SignInit", CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(mock.lastArg("C_SignInit", 0), ulong_width::held(0x80000000'7FFF0001ull));

    // Flag words are CK_ULONGs: bit 31 widens as an unsigned value.
    Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, c.slot, static_cast<jint>(0x80000004u));
    takeException();
    EXPECT_EQ(mock.lastArg("C_OpenSession", 1), 0x80000004u);
    Java_qorvik_nat_NativeCryptoki_WaitForSlotEvent(env, cryptoki, static_cast<jint>(0x80000001u),
                                                    nullptr);
    takeException();
    EXPECT_EQ(mock.lastArg("C_WaitForSlotEvent", 0), 0x80000001u);
}

// ---- Summary ----------------------------------------------------------------

class SummaryLine : public ::testing::Environment {
  public:
    void TearDown() override {
        EXPECT_GT(g_totals.gets, 0) << "the counting table saw no accessor at all";
#ifdef __SANITIZE_ADDRESS__
        // LeakSanitizer's verdict on everything still allocated and unreachable.
        const long leaked = __lsan_do_recoverable_leak_check() != 0 ? 1 : 0;
        EXPECT_EQ(leaked, 0) << "LeakSanitizer reported leaks (above)";
        const std::string leaks = std::to_string(leaked);
#else
        const std::string leaks = "unchecked (plain build; the sanitizer build checks them)";
#endif
        std::printf(
            "summary: fault cases run %ld, wrong results %ld, arrays unreleased %ld, "
            "buffers leaked %s\n",
            g_totals.cases, g_totals.wrong, g_totals.unreleased, leaks.c_str());
        std::fflush(stdout);
    }
};
::testing::Environment* const g_summary = ::testing::AddGlobalTestEnvironment(new SummaryLine);

}  // namespace
}  // namespace kt
