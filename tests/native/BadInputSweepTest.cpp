// The bad-input sweep: every native method is called with good arguments
// except one, for every bad value its argument kinds allow (null references,
// negative, huge and overflowing offsets and lengths, wrong parameter and
// value classes, null array elements, odd handles in `this`). Each call must
// answer with the documented result or a clear CryptokiException, leave the
// bytes of every array outside its window as they were, release what it
// took, keep a refused window away from the module, and leave the bridge
// working for the next good call. The sanitizer build and -Xcheck:jni watch
// every read and write.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "BadInputMethods.h"
#include "BridgeTest.h"
#include "UlongWidth.h"

#if __has_include("CountingEnv.h")
#include "CountingEnv.h"
#define KT_COUNTING_ENV 1
#endif

namespace kt::badinput {
namespace {

const char* const kOutOfRange = "Array offset or length out of range";
const char* const kNullAttribute = "Attribute2CKAttribute - attribute is NULL";
const char* const kUnsupportedValue = "Attribute2CKAttribute - unsupported value class";
const char* const kNullMechanism = "Mechanism2CKMechanism - mechanism is NULL";
const char* const kShortIv = "Mechanism2CKMechanism - IV must be at least 8 bytes";
const char* const kNullParameter = "Mechanism2CKMechanism - parameter value is NULL";
const char* const kIv16 = "Mechanism2CKMechanism - IV must be 16 bytes";
const char* const kIv8 = "Mechanism2CKMechanism - IV must be 8 bytes";
// Every failure of the mechanism conversion starts so.
const char* const kConversion = "Mechanism2CKMechanism";

const std::string kKeyValue = "\x11\x22\x33\x44";
const std::string kLabel = "badinput-key";
// The good input window: kData between two guard bytes on each side.
const std::string kData = "the one thing wrong is input";
constexpr jint kInOff = 2;
constexpr jsize kOutSize = 256;
constexpr jint kOutOff = 3;
constexpr jsize kRandomSize = 64;
constexpr jint kRandomOff = 5;
constexpr jint kRandomLen = 40;
constexpr jbyte kSentinel = static_cast<jbyte>(0xC3);

// ---- Totals for the summary line ----------------------------------------------

struct Totals {
    long inputs = 0;
    long crashes = 0;
    long wrong = 0;
    std::set<std::string> methods;
};

Totals& totals() {
    static Totals t;
    return t;
}

class Summary : public ::testing::Environment {
  public:
    void TearDown() override {
        const Totals& t = totals();
        std::cout << "summary: bad inputs tried " << t.inputs << " over " << t.methods.size()
                  << " native methods, crashes " << t.crashes << ", wrong results " << t.wrong
                  << std::endl;
    }
};

[[maybe_unused]] ::testing::Environment* const kSummary =
    ::testing::AddGlobalTestEnvironment(new Summary);

// ---- Expected outcomes ----------------------------------------------------------

struct Expect {
    enum Kind {
        kOk,       // no exception
        kFailure,  // exactly this function, code and message
        kRefused,  // a CryptokiException under `function`, any code
        kEither,   // no exception, or a CryptokiException under `function`
    } kind = kOk;
    std::string function;
    int code = 0;
    std::string message;
    // The module's data function must not have been reached.
    bool moduleUntouched = false;
    // kRefused, kEither: a second name the failure may come under (the
    // method's own when an input the start routine accepted makes the
    // module refuse the data call).
    std::string alsoUnder;
    // kEither: a failure whose text starts so is wrong (an input the
    // conversion must accept, whatever the module makes of it).
    std::string notFrom{};
};

Expect ok() {
    return {};
}
Expect message(const std::string& function, const std::string& text, bool untouched = false) {
    return {Expect::kFailure, function, CKR_GENERAL_ERROR, text, untouched, ""};
}
Expect returnValue(const std::string& function, CK_RV rv) {
    return {Expect::kFailure,         function, static_cast<int>(static_cast<uint32_t>(rv)),
            getCryptokiErrorDesc(rv), false,    ""};
}
Expect refused(const std::string& function, const std::string& alsoUnder = "") {
    return {Expect::kRefused, function, 0, "", false, alsoUnder};
}
Expect either(const std::string& function, const std::string& alsoUnder = "") {
    return {Expect::kEither, function, 0, "", false, alsoUnder};
}
// The mechanism converts; only the module may refuse it.
Expect converts(const std::string& function, const std::string& alsoUnder) {
    return {Expect::kEither, function, 0, "", false, alsoUnder, kConversion};
}

bool underExpectedName(const Thrown& t, const Expect& e) {
    return t.function == e.function || (!e.alsoUnder.empty() && t.function == e.alsoUnder);
}

// What a good call of the method gives.
Expect baseline(const Method& m) {
    return m.goodRv == CKR_OK ? ok() : returnValue(m.function, m.goodRv);
}

// The name an argument's failure is reported under: the start routine's
// when the routine consumes it, the method's otherwise.
std::string nameFor(const Method& m, const Arg& arg) {
    return arg.atStart && m.start != nullptr ? m.start : m.function;
}

// ---- One call -----------------------------------------------------------------

struct Call {
    jobject self = nullptr;
    std::vector<jvalue> a;
    bool uninitialized = false;  // the module is finalised before the call
};

struct Variant {
    std::string label;
    std::function<void(Call&)> apply;
    Expect expect;
};

// A byte array handed to the method and the part of it the method may write.
struct Watched {
    jbyteArray array;
    bool output;   // the method may write inside [off, off + len)
    bool filling;  // an output whose written length is the method's result
    jint off;
    jint len;
    std::string before;
};

// Parameter rows of the mechanism conversion: a mechanism of the row, the
// class its parameter must have (nullptr: a byte array), and the text a
// parameter object with every field zero or null fails with (nullptr: such an
// object is a valid parameter).
struct ParameterRow {
    // Byte-array parameters: which lengths a row takes.
    enum Bytes {
        kNoBytes,    // a class row: any byte array is of the wrong class
        kLegacyIv,   // at least 8 bytes
        kExactly16,  // exactly 16 bytes
        kAnyLength,  // any length, empty included
    };
    CK_MECHANISM_TYPE type;
    const char* className;
    const char* zeroedMessage;
    Bytes bytes = kNoBytes;
    // The text of a parameter of another class; nullptr: the class's
    // "parameter must be instance of" text, or the legacy IV text.
    const char* wrongClassMessage = nullptr;
    // A null parameter gives no record and no failure (the module decides);
    // the legacy rows refuse it.
    bool nullAccepted = false;
};

const ParameterRow kParameterRows[] = {
    {CKM_RSA_PKCS_OAEP, "OAEPParams", nullptr},
    {CKM_RC2_ECB, "RC2Params", nullptr},
    {CKM_RC2_CBC, "RC2CBCParams", "Mechanism2CKMechanism - jIv  is NULL"},
    {CKM_RC2_MAC_GENERAL, "RC2MACGENERALParams", nullptr},
    {CKM_DES_CBC, nullptr, nullptr, ParameterRow::kLegacyIv},
    {CKM_DES3_CBC_PAD, nullptr, nullptr, ParameterRow::kLegacyIv},
    {CKM_SHA_1_HMAC_GENERAL, "MACGENERALParams", nullptr},
    {CKM_RC5_ECB, "RC5Params", nullptr},
    {CKM_RC5_CBC, "RC5CBCParams", "Mechanism2CKMechanism - jIv  is NULL"},
    {CKM_RC5_MAC_GENERAL, "RC5MACGENERALParams", nullptr},
    {CKM_XOR_BASE_AND_DATA, "KEYDERIVATIONSTRINGDATA", "Mechanism2CKMechanism - jData  is NULL"},
    {CKM_EXTRACT_KEY_FROM_KEY, "EXTRACTParams", nullptr},
    {CKM_SSL3_MASTER_KEY_DERIVE, "SSL3MASTERKEYDERIVEParams",
     "Mechanism2CKMechanism - jVersion  is NULL"},
    {CKM_SSL3_KEY_AND_MAC_DERIVE, "SSL3KEYMATParams",
     "Mechanism2CKMechanism - jRandomInfo  is NULL"},
    {CKM_PBE_SHA1_DES3_EDE_CBC, "PBEParams", "Mechanism2CKMechanism - jPassword is NULL"},
    {CKM_KEY_WRAP_SET_OAEP, "KEYWRAPSETOAEPParams", "Mechanism2CKMechanism - jXData is NULL"},
    {CKM_SKIPJACK_PRIVATE_WRAP, "SKIPJACKPRIVATEWRAPParams",
     "Mechanism2CKMechanism - jPassword is NULL"},
    {CKM_SKIPJACK_RELAYX, "SKIPJACKRELAYXParams", "Mechanism2CKMechanism - jOldPassword  is NULL"},
    {CKM_KEA_KEY_DERIVE, "KeaDeriveParams", "Mechanism2CKMechanism - jIsSender is NULL"},
    // The AES modes, RSA-PSS, ECDH, the encryption-data derivations, PBKDF2, CCM.
    {CKM_AES_CBC, nullptr, nullptr, ParameterRow::kExactly16, kIv16, true},
    {CKM_AES_CTR, "AESCTRParams", "Mechanism2CKMechanism - counter block must be 16 bytes",
     ParameterRow::kNoBytes, nullptr, true},
    {CKM_AES_GCM, "GCMParams", "Mechanism2CKMechanism - m_iv is NULL", ParameterRow::kNoBytes,
     nullptr, true},
    {CKM_AES_KEY_WRAP_PAD, nullptr, nullptr, ParameterRow::kAnyLength,
     "Mechanism2CKMechanism - IV must be a byte array", true},
    {CKM_SHA256_RSA_PKCS_PSS, "PSSParams", nullptr, ParameterRow::kNoBytes, nullptr, true},
    {CKM_ECDH1_DERIVE, "ECDH1DeriveParams", "Mechanism2CKMechanism - m_publicData is NULL",
     ParameterRow::kNoBytes, nullptr, true},
    {CKM_AES_ECB_ENCRYPT_DATA, nullptr, nullptr, ParameterRow::kAnyLength,
     "Mechanism2CKMechanism - data must be a byte array", true},
    {CKM_AES_CBC_ENCRYPT_DATA, "CBCEncryptDataParams", kIv16, ParameterRow::kNoBytes, nullptr,
     true},
    {CKM_DES3_CBC_ENCRYPT_DATA, "CBCEncryptDataParams", kIv8, ParameterRow::kNoBytes, nullptr,
     true},
    {CKM_PKCS5_PBKD2, "PBKDF2Params", "Mechanism2CKMechanism - m_password is NULL",
     ParameterRow::kNoBytes, nullptr, true},
    {CKM_AES_CCM, "CCMParams", "Mechanism2CKMechanism - m_nonce is NULL", ParameterRow::kNoBytes,
     nullptr, true},
};

// Offset and length pairs outside an array of `size` bytes.
std::vector<std::pair<jint, jint>> badWindows(jsize size) {
    return {{-1, 1},
            {0, -1},
            {size + 1, 0},
            {0, size + 1},
            {1, INT_MAX},
            {INT_MAX, 1},
            {INT_MAX, INT_MAX},
            {INT_MIN, 0},
            {0, INT_MIN},
            {size, 1},
            {size - 1, 2},
            {INT_MIN, INT_MIN},
            {-1, -1},
            {kInOff, size - 1},
            {INT_MAX - 1, 2}};
}

class BadInputSweep : public BridgeTest, public ::testing::WithParamInterface<std::size_t> {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(mock);
    }

    const Method& method() const { return methods()[GetParam()]; }

    // ---- Module state before each call -------------------------------------

    jobject newMechanism(jint type, jobject parameter) {
        jclass cls = env->FindClass("qorvik/Mechanism");
        jobject m = env->NewObject(cls, env->GetMethodID(cls, "<init>", "(ILjava/lang/Object;)V"),
                                   type, parameter);
        env->DeleteLocalRef(cls);
        return m;
    }

    CK_RV startWith(CK_RV (*CK_FUNCTION_LIST::*init)(CK_SESSION_HANDLE, CK_MECHANISM_PTR,
                                                     CK_OBJECT_HANDLE),
                    CK_MECHANISM_TYPE type) {
        CK_MECHANISM m{type, nullptr, 0};
        return (functionList->*init)(session, &m, key);
    }

    // Brings module and bridge to the state a good call of the method needs.
    void prepare(State setup) {
        if (!moduleInitialized()) {
            resetBridge();
            load(mock.path());
            initialize();
        }
        mock.p11mock_reset();
        std::string value = kKeyValue;
        std::string label = kLabel;
        CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                            {CKA_TOKEN, &yes, sizeof yes},
                            {CKA_VALUE, value.data(), value.size()},
                            {CKA_LABEL, label.data(), label.size()}};
        key = mock.p11mock_add_object(t, 4);
        signature = std::string(512, '\0');
        signature.resize(mock.p11mock_toy_signature(
            key, CKM_SHA256_RSA_PKCS, reinterpret_cast<const unsigned char*>(kData.data()),
            kData.size(), reinterpret_cast<unsigned char*>(signature.data()), signature.size()));
        session = 0;
        savedState.clear();

        if (setup == State::kNotInitialized) {
            Java_qorvik_nat_NativeCryptoki_Finalize(env, cryptoki, nullptr);
            expectNoException();
            mock.p11mock_log_clear();
            return;
        }
        if (setup == State::kSlotEvent) mock.p11mock_push_slot_event(1);
        if (setup != State::kNoSession) {
            ASSERT_EQ(functionList->C_OpenSession(1, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                                                  nullptr, &session),
                      CKR_OK);
            std::string pin = setup == State::kSoLogin ? "87654321" : "1234";
            if (setup != State::kNoLogin) {
                ASSERT_EQ(functionList->C_Login(
                              session, setup == State::kSoLogin ? CKU_SO : CKU_USER,
                              reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data()), pin.size()),
                          CKR_OK);
            }
        }
        CK_BYTE_PTR data = reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>(kData.data()));
        CK_RV rv = CKR_OK;
        switch (setup) {
            case State::kEncrypting:
                rv = startWith(&CK_FUNCTION_LIST::C_EncryptInit, CKM_AES_ECB);
                break;
            case State::kDecrypting:
                rv = startWith(&CK_FUNCTION_LIST::C_DecryptInit, CKM_AES_ECB);
                break;
            case State::kDigesting:
            case State::kSavedState: {
                CK_MECHANISM m{CKM_SHA256, nullptr, 0};
                rv = functionList->C_DigestInit(session, &m);
                if (rv == CKR_OK) rv = functionList->C_DigestUpdate(session, data, kData.size());
                if (rv == CKR_OK && setup == State::kSavedState) {
                    CK_ULONG length = 0;
                    rv = functionList->C_GetOperationState(session, nullptr, &length);
                    savedState.assign(length, '\0');
                    if (rv == CKR_OK) {
                        rv = functionList->C_GetOperationState(
                            session, reinterpret_cast<CK_BYTE_PTR>(savedState.data()), &length);
                    }
                    savedState.resize(length);
                }
                break;
            }
            case State::kSigning:
                rv = startWith(&CK_FUNCTION_LIST::C_SignInit, CKM_SHA256_RSA_PKCS);
                break;
            case State::kVerifying:
                rv = startWith(&CK_FUNCTION_LIST::C_VerifyInit, CKM_SHA256_RSA_PKCS);
                if (rv == CKR_OK) rv = functionList->C_VerifyUpdate(session, data, kData.size());
                break;
            case State::kSignRecovering:
                rv = startWith(&CK_FUNCTION_LIST::C_SignRecoverInit, CKM_RSA_PKCS);
                break;
            case State::kVerifyRecovering:
                rv = startWith(&CK_FUNCTION_LIST::C_VerifyRecoverInit, CKM_RSA_PKCS);
                break;
            case State::kDecryptDigesting:
            case State::kDecryptVerifying:
                rv = startWith(&CK_FUNCTION_LIST::C_DecryptInit, CKM_AES_ECB);
                if (rv == CKR_OK && setup == State::kDecryptDigesting) {
                    CK_MECHANISM m{CKM_SHA256, nullptr, 0};
                    rv = functionList->C_DigestInit(session, &m);
                } else if (rv == CKR_OK) {
                    rv = startWith(&CK_FUNCTION_LIST::C_VerifyInit, CKM_SHA256_RSA_PKCS);
                }
                break;
            case State::kDigestEncrypting: {
                CK_MECHANISM m{CKM_SHA256, nullptr, 0};
                rv = functionList->C_DigestInit(session, &m);
                if (rv == CKR_OK) rv = startWith(&CK_FUNCTION_LIST::C_EncryptInit, CKM_AES_ECB);
                break;
            }
            case State::kSignEncrypting:
                rv = startWith(&CK_FUNCTION_LIST::C_SignInit, CKM_SHA256_RSA_PKCS);
                if (rv == CKR_OK) rv = startWith(&CK_FUNCTION_LIST::C_EncryptInit, CKM_AES_ECB);
                break;
            default:
                break;
        }
        ASSERT_EQ(rv, CKR_OK) << "setting up the module for " << method().label;
        mock.p11mock_log_clear();
    }

    // ---- Good arguments --------------------------------------------------------

    jbyteArray filled(jsize size, jbyte value) {
        jbyteArray array = env->NewByteArray(size);
        std::vector<jbyte> bytes(static_cast<std::size_t>(size), value);
        env->SetByteArrayRegion(array, 0, size, bytes.data());
        return array;
    }

    std::string contentOf(Content content) {
        switch (content) {
            case Content::kSignatureOfData:
                return signature;
            case Content::kSavedState:
                return savedState;
            case Content::kData:
                break;
        }
        return kData;
    }

    jobject goodSelf(Self self) {
        switch (self) {
            case Self::kCryptokiClass:
                return cryptokiClass;
            case Self::kCryptoki:
                return cryptoki;
            case Self::kSlot:
                return newSlot(1);
            case Self::kSession:
            case Self::kSessionUnread:
                break;
        }
        return newSession(1, static_cast<jint>(session));
    }

    Call goodCall(const Method& m) {
        Call call;
        call.self = goodSelf(m.self);
        for (const Arg& arg : m.args) {
            jvalue v{};
            switch (arg.kind) {
                case Kind::kSessionHandle:
                    v.j = static_cast<jlong>(session);
                    break;
                case Kind::kObjectHandle:
                    v.j = static_cast<jlong>(key);
                    break;
                case Kind::kFlag:
                    v.z = arg.good ? JNI_TRUE : JNI_FALSE;
                    break;
                case Kind::kInt:
                    v.i = static_cast<jint>(arg.good);
                    break;
                case Kind::kUserType:
                    v.b = static_cast<jbyte>(arg.good);
                    break;
                case Kind::kMechanism:
                    v.l = newMechanism(static_cast<jint>(arg.good), nullptr);
                    break;
                case Kind::kTemplate:
                    v.l = attributeArray({{CKA_LABEL, str(kLabel)}});
                    break;
                case Kind::kTypes:
                    v.l = intArray({CKA_LABEL, CKA_VALUE, CKA_CLASS});
                    break;
                case Kind::kString:
                    v.l = str(arg.text);
                    break;
                case Kind::kModuleName:
                    v.l = str(mock.path());
                    break;
                case Kind::kInWindow: {
                    const std::string content = contentOf(arg.content);
                    call.a.push_back(jvalue{});
                    call.a.back().l = javaBytes("<<" + content + ">>");
                    call.a.push_back(jvalue{});
                    call.a.back().i = kInOff;
                    v.i = static_cast<jint>(content.size());
                    break;
                }
                case Kind::kOutWindow:
                    call.a.push_back(jvalue{});
                    call.a.back().l = filled(kOutSize, kSentinel);
                    v.i = kOutOff;
                    break;
                case Kind::kRandomWindow:
                    call.a.push_back(jvalue{});
                    call.a.back().l = filled(kRandomSize, kSentinel);
                    call.a.push_back(jvalue{});
                    call.a.back().i = kRandomOff;
                    v.i = kRandomLen;
                    break;
                case Kind::kBytes:
                    v.l = javaBytes(arg.content == Content::kData ? std::string("seedseed")
                                                                  : contentOf(arg.content));
                    break;
                case Kind::kIgnored:
                    v.l = nullptr;
                    break;
            }
            call.a.push_back(v);
        }
        return call;
    }

    // Index of the first Java argument of argument `index`.
    static std::size_t slotOf(const Method& m, std::size_t index) {
        std::size_t slot = 0;
        for (std::size_t i = 0; i < index; ++i)
            slot += static_cast<std::size_t>(width(m.args[i].kind));
        return slot;
    }

    // ---- Bad inputs, generated from the kinds --------------------------------------

    std::vector<Variant> variants(const Method& m) {
        std::vector<Variant> out;
        auto add = [&](std::string label, std::function<void(Call&)> apply, Expect expect) {
            out.push_back({std::move(label), std::move(apply), std::move(expect)});
        };

        // The module not initialised: every method that reaches it refuses first.
        {
            Expect e = returnValue(m.function, CKR_CRYPTOKI_NOT_INITIALIZED);
            const std::string f = m.function;
            if (m.self == Self::kCryptokiClass || f == "J_Initialize" ||
                f == "IsSecondAuthenticationRequired") {
                e = ok();
            }
            add(
                "module not initialised", [](Call& c) { c.uninitialized = true; }, e);
        }

        // Odd values in the handle fields of `this`. High bits over the real
        // handle are refused where CK_ULONG has them; elsewhere only the low
        // 32 bits count and the call is the good one.
        const jlong highBits = jlong{1} << 40;
        auto overRealHandle = [&m, highBits](jlong h, Expect wide) {
            return h == highBits && !ulong_width::kWide ? baseline(m) : wide;
        };
        if (m.self == Self::kSession) {
            for (jlong h : {jlong{0}, jlong{-1}, highBits, jlong{INT64_MIN}}) {
                add(
                    "this.m_sessionHandle " + std::to_string(h),
                    [this, h](Call& c) {
                        c.self = newSession(1, 1);
                        jclass cls = env->GetObjectClass(c.self);
                        env->SetLongField(c.self, env->GetFieldID(cls, "m_sessionHandle", "J"),
                                          h == highBits ? h | session : h);
                        env->DeleteLocalRef(cls);
                    },
                    overRealHandle(h, refused(m.function)));
            }
        }
        if (m.self == Self::kSlot) {
            for (jint id : {jint{-1}, jint{INT_MIN}, jint{INT_MAX}, jint{0}}) {
                add(
                    "this.m_slotID " + std::to_string(id),
                    [this, id](Call& c) { c.self = newSlot(id); }, refused(m.function));
            }
        }

        for (std::size_t i = 0; i < m.args.size(); ++i) {
            const Arg& arg = m.args[i];
            const std::size_t at = slotOf(m, i);
            const std::string name = nameFor(m, arg);
            const std::string where = "argument " + std::to_string(i + 1) + " ";
            auto setRef = [at](jobject value) {
                return [at, value](Call& c) { c.a[at].l = value; };
            };
            switch (arg.kind) {
                case Kind::kSessionHandle:
                case Kind::kObjectHandle: {
                    const bool isSession = arg.kind == Kind::kSessionHandle;
                    for (jlong h : {jlong{0}, jlong{-1}, highBits, jlong{INT64_MIN},
                                    jlong{INT32_MAX}}) {
                        add(
                            where + (isSession ? "session " : "handle ") + std::to_string(h),
                            [at, h, highBits](Call& c) {
                                c.a[at].j = h == highBits ? h | c.a[at].j : h;
                            },
                            overRealHandle(h, arg.ignorable ? either(name) : refused(name)));
                    }
                    break;
                }
                case Kind::kFlag:
                    // With the initialise flag off the start routine's
                    // arguments are never read: a null mechanism and a
                    // bogus key are then no failure of the bridge's.
                    if (m.start != nullptr && arg.good) {
                        add(
                            where + "flag off, start arguments null or bogus",
                            [&m, at](Call& c) {
                                c.a[at].z = JNI_FALSE;
                                std::size_t slot = 0;
                                for (const Arg& other : m.args) {
                                    if (other.atStart && other.kind == Kind::kMechanism) {
                                        c.a[slot].l = nullptr;
                                    } else if (other.atStart && other.kind == Kind::kObjectHandle) {
                                        c.a[slot].j = -1;
                                    } else if (other.atStart && other.kind == Kind::kBytes) {
                                        c.a[slot].l = nullptr;
                                    }
                                    slot += static_cast<std::size_t>(width(other.kind));
                                }
                            },
                            either(m.function));
                    }
                    break;
                case Kind::kIgnored:
                    break;
                case Kind::kInt:
                    for (jint v :
                         {jint{-1}, jint{INT_MIN}, jint{INT_MAX}, static_cast<jint>(0x80000001u)}) {
                        add(
                            where + "int " + std::to_string(v), [at, v](Call& c) { c.a[at].i = v; },
                            either(name));
                    }
                    break;
                case Kind::kUserType:
                    for (jbyte v : {jbyte{-1}, jbyte{-128}, jbyte{127}, jbyte{3}}) {
                        add(
                            where + "user type " + std::to_string(v),
                            [at, v](Call& c) { c.a[at].b = v; }, either(name));
                    }
                    break;
                case Kind::kMechanism:
                    addMechanismVariants(out, where, at, name, m.function);
                    break;
                case Kind::kTemplate:
                    addTemplateVariants(out, where, at, m.function);
                    break;
                case Kind::kTypes:
                    add(where + "null types", setRef(nullptr), either(name));
                    add(where + "no types", setRef(intArray({})), either(name));
                    add(where + "odd types",
                        setRef(intArray({-1, INT_MIN, static_cast<jint>(0x80000000u | CKA_LABEL)})),
                        either(name));
                    break;
                case Kind::kString: {
                    add(where + "null string", setRef(nullptr),
                        arg.nullMessage ? message(name, arg.nullMessage) : baseline(m));
                    add(where + "empty string", setRef(str("")),
                        arg.emptyMessage ? message(name, arg.emptyMessage) : either(name));
                    add(where + "100000 characters", setRef(str(std::string(100000, '7'))),
                        either(name));
                    const jchar odd[] = {'1', 0, 0xD800, '2', 0xDFFF};
                    add(where + "NUL and lone surrogates", setRef(env->NewString(odd, 5)),
                        either(name));
                    break;
                }
                case Kind::kModuleName:
                    addModuleNameVariants(out, where, at, name);
                    break;
                case Kind::kInWindow:
                case Kind::kRandomWindow: {
                    const bool random = arg.kind == Kind::kRandomWindow;
                    const jsize size =
                        random ? kRandomSize
                               : static_cast<jsize>(contentOf(arg.content).size() + 2 * kInOff);
                    add(where + "null array", setRef(nullptr),
                        message(m.function, arg.nullMessage, true));
                    add(
                        where + "null array, bad window",
                        [at](Call& c) {
                            c.a[at].l = nullptr;
                            c.a[at + 1].i = -1;
                            c.a[at + 2].i = INT_MAX;
                        },
                        message(m.function, arg.nullMessage, true));
                    for (auto [off, len] : badWindows(size)) {
                        add(
                            where + "window " + std::to_string(off) + "+" + std::to_string(len),
                            [at, off = off, len = len](Call& c) {
                                c.a[at + 1].i = off;
                                c.a[at + 2].i = len;
                            },
                            message(m.function, kOutOfRange, true));
                    }
                    add(
                        where + "empty window at the end",
                        [at, size](Call& c) {
                            c.a[at + 1].i = size;
                            c.a[at + 2].i = 0;
                        },
                        either(m.function));
                    add(
                        where + "empty array",
                        [this, at](Call& c) {
                            c.a[at].l = env->NewByteArray(0);
                            c.a[at + 1].i = 0;
                            c.a[at + 2].i = 0;
                        },
                        either(m.function));
                    break;
                }
                case Kind::kOutWindow:
                    add(where + "null output (length query)", setRef(nullptr), baseline(m));
                    for (jint off : {jint{-1}, jint{INT_MIN}, jint{kOutSize + 1}, jint{INT_MAX}}) {
                        add(
                            where + "output offset " + std::to_string(off),
                            [at, off](Call& c) { c.a[at + 1].i = off; },
                            message(m.function, kOutOfRange, true));
                    }
                    add(
                        where + "output offset at the end",
                        [at](Call& c) { c.a[at + 1].i = kOutSize; }, either(m.function));
                    add(
                        where + "output one byte before the end",
                        [at](Call& c) { c.a[at + 1].i = kOutSize - 1; }, either(m.function));
                    break;
                case Kind::kBytes:
                    add(where + "null array", setRef(nullptr), message(name, arg.nullMessage));
                    add(where + "empty array", setRef(env->NewByteArray(0)), either(name));
                    add(where + "foreign bytes", setRef(javaBytes("not what the module wrote")),
                        either(name));
                    break;
            }
            if (arg.kind == Kind::kIgnored) {
                for (jobject junk :
                     {static_cast<jobject>(str("ignored")), static_cast<jobject>(intArray({1, 2})),
                      newMechanism(CKM_DES_CBC, nullptr)}) {
                    add(where + "ignored object", setRef(junk), baseline(m));
                }
            }
        }
        return out;
    }

    jobject zeroed(const char* className) {
        return newObject((std::string("qorvik/params/") + className).c_str());
    }

    // ---- Parameter objects with odd contents -----------------------------------------

    struct Field {
        const char* name;
        const char* signature;
        jvalue value;
    };
    static Field intField(const char* name, jint v) {
        jvalue j{};
        j.i = v;
        return {name, "I", j};
    }
    static Field objectField(const char* name, const char* signature, jobject v) {
        jvalue j{};
        j.l = v;
        return {name, signature, j};
    }
    static Field bytesField(const char* name, jbyteArray v) { return objectField(name, "[B", v); }

    // An object of `classPath` with the given fields set (the rest zero or null).
    jobject objectWith(const char* classPath, std::initializer_list<Field> fields) {
        jobject object = newObject(classPath);
        jclass cls = env->GetObjectClass(object);
        for (const Field& f : fields) {
            jfieldID id = env->GetFieldID(cls, f.name, f.signature);
            if (id == nullptr) {
                env->ExceptionClear();
                ADD_FAILURE() << classPath << " has no field " << f.name << " " << f.signature;
                continue;
            }
            if (f.signature[0] == 'I') {
                env->SetIntField(object, id, f.value.i);
            } else {
                env->SetObjectField(object, id, f.value.l);
            }
        }
        env->DeleteLocalRef(cls);
        return object;
    }

    jcharArray chars(const std::u16string& text) {
        jcharArray array = env->NewCharArray(static_cast<jsize>(text.size()));
        env->SetCharArrayRegion(array, 0, static_cast<jsize>(text.size()),
                                reinterpret_cast<const jchar*>(text.data()));
        return array;
    }

    jobject keyMaterial(jint macBits, jint keyBits, jint ivBits, jbyteArray ivClient,
                        jbyteArray ivServer) {
        return objectWith(
            "qorvik/params/SSL3KEYMATParams",
            {intField("macSizeInBits", macBits), intField("keySizeInBits", keyBits),
             intField("ivSizeInBits", ivBits),
             objectField("isExport", "Ljava/lang/Boolean;", javaBoolean(false)),
             objectField("randomInfo", "Lqorvik/params/SSL3RANDOMDATA;",
                         objectWith("qorvik/params/SSL3RANDOMDATA",
                                    {bytesField("clientRandom", javaBytes(std::string(32, 'c'))),
                                     bytesField("serverRandom", javaBytes(std::string(32, 's')))})),
             objectField(
                 "returnedKeyMaterial", "Lqorvik/params/SSL3KEYMATOUT;",
                 objectWith("qorvik/params/SSL3KEYMATOUT", {bytesField("ivClient", ivClient),
                                                            bytesField("ivServer", ivServer)}))});
    }

    // Parameter objects of the right class whose arrays are shorter than the
    // lengths taken from them, or whose numbers are out of every sensible
    // range: a clear refusal or a record that never reads past an array.
    struct OddParameter {
        CK_MECHANISM_TYPE type;
        std::string label;
        jobject parameter;
        const char* refusal;  // nullptr: the conversion may succeed
        // refusal nullptr: the conversion must succeed (the module may refuse).
        bool converts = false;
    };

    std::vector<OddParameter> oddParameters() {
        auto bytes = [this](std::size_t n) { return javaBytes(std::string(n, 'b')); };
        return {
            {CKM_RC2_CBC, "RC2 IV of 3 bytes",
             objectWith("qorvik/params/RC2CBCParams",
                        {intField("m_effectiveBits", 64), bytesField("m_iv", bytes(3))}),
             kShortIv},
            {CKM_RC5_CBC, "RC5 negative word size, empty IV",
             objectWith("qorvik/params/RC5CBCParams",
                        {intField("m_wordSize", -1), intField("m_rounds", INT_MAX),
                         bytesField("m_iv", bytes(0))}),
             nullptr},
            {CKM_RSA_PKCS_OAEP, "OAEP vendor hash, negative source",
             objectWith(
                 "qorvik/params/OAEPParams",
                 {intField("m_hashAlg", static_cast<jint>(0x80000001u)), intField("m_mgf", INT_MIN),
                  intField("m_source", -1), bytesField("m_sourceData", bytes(0))}),
             nullptr},
            {CKM_PBE_SHA1_DES3_EDE_CBC, "PBE init vector of 3 characters",
             objectWith("qorvik/params/PBEParams",
                        {objectField("m_initVector", "[C", chars(u"abc")),
                         objectField("m_password", "[C", chars(u"pw")),
                         objectField("m_salt", "[C", chars(u"")), intField("m_iteration", -1)}),
             nullptr},
            {CKM_PBE_SHA1_DES3_EDE_CBC, "PBE password beyond one byte per character",
             objectWith("qorvik/params/PBEParams",
                        {objectField("m_password", "[C", chars(u"p\u0100")),
                         objectField("m_salt", "[C", chars(u"salt"))}),
             "Mechanism2CKMechanism - password character out of range"},
            {CKM_KEA_KEY_DERIVE, "KEA randomB shorter than randomA",
             objectWith("qorvik/params/KeaDeriveParams",
                        {objectField("isSender", "Ljava/lang/Boolean;", javaBoolean(true)),
                         bytesField("randomA", bytes(8)), bytesField("randomB", bytes(2)),
                         bytesField("publicData", bytes(4))}),
             "Mechanism2CKMechanism - randomB is too short"},
            {CKM_SKIPJACK_PRIVATE_WRAP, "SKIPJACK prime shorter than base",
             objectWith("qorvik/params/SKIPJACKPRIVATEWRAPParams",
                        {bytesField("m_password", bytes(4)), bytesField("m_publicData", bytes(4)),
                         bytesField("m_randomA", bytes(4)), bytesField("m_primeP", bytes(2)),
                         bytesField("m_baseG", bytes(8)), bytesField("m_subPrimeQ", bytes(4))}),
             "Mechanism2CKMechanism - m_primeP is too short"},
            {CKM_SSL3_KEY_AND_MAC_DERIVE, "SSL3 IV size 0x7FFFFFFF",
             keyMaterial(128, 128, INT_MAX, nullptr, nullptr),
             "Mechanism2CKMechanism - ivSizeInBits out of range"},
            {CKM_SSL3_KEY_AND_MAC_DERIVE, "SSL3 IV size 1025",
             keyMaterial(128, 128, 1025, nullptr, nullptr),
             "Mechanism2CKMechanism - ivSizeInBits out of range"},
            {CKM_SSL3_KEY_AND_MAC_DERIVE, "SSL3 negative IV size",
             keyMaterial(128, 128, -1, nullptr, nullptr),
             "Mechanism2CKMechanism - ivSizeInBits out of range"},
            {CKM_SSL3_KEY_AND_MAC_DERIVE, "SSL3 negative MAC size",
             keyMaterial(-8, 128, 64, nullptr, nullptr),
             "Mechanism2CKMechanism - macSizeInBits out of range"},
            {CKM_SSL3_KEY_AND_MAC_DERIVE, "SSL3 negative key size",
             keyMaterial(128, INT_MIN, 64, nullptr, nullptr),
             "Mechanism2CKMechanism - keySizeInBits out of range"},
            {CKM_SSL3_KEY_AND_MAC_DERIVE, "SSL3 IV arrays of 2 bytes for a 64-bit IV",
             keyMaterial(128, 128, 64, bytes(2), bytes(2)), nullptr},
            {CKM_SSL3_KEY_AND_MAC_DERIVE, "SSL3 1024-bit IV without arrays",
             keyMaterial(128, 128, 1024, nullptr, bytes(0)), nullptr},
            {CKM_SSL3_MASTER_KEY_DERIVE, "SSL3 version beyond a byte, empty randoms",
             objectWith(
                 "qorvik/params/SSL3MASTERKEYDERIVEParams",
                 {objectField("m_version", "Lqorvik/Version;",
                              objectWith("qorvik/Version", {intField("m_majorVersion", 999),
                                                            intField("m_minorVersion", -1)})),
                  objectField("m_randomInfo", "Lqorvik/params/SSL3RANDOMDATA;",
                              objectWith("qorvik/params/SSL3RANDOMDATA",
                                         {bytesField("m_clientRandom", bytes(0)),
                                          bytesField("m_serverRandom", bytes(0))}))}),
             nullptr},
            // Sizes and counts of the newer records: negative ones are refused,
            // any other value, and arrays of any length, go to the module.
            {CKM_AES_CTR, "CTR negative counter bits", ctr(-1, bytes(16)),
             "Mechanism2CKMechanism - m_counterBits out of range"},
            {CKM_AES_CTR, "CTR counter bits INT_MIN", ctr(INT_MIN, bytes(16)),
             "Mechanism2CKMechanism - m_counterBits out of range"},
            {CKM_AES_CTR, "CTR counter block of 15 bytes", ctr(128, bytes(15)),
             "Mechanism2CKMechanism - counter block must be 16 bytes"},
            {CKM_AES_CTR, "CTR counter block of 17 bytes", ctr(128, bytes(17)),
             "Mechanism2CKMechanism - counter block must be 16 bytes"},
            {CKM_AES_CTR, "CTR 0x7FFFFFFF counter bits", ctr(INT_MAX, bytes(16)), nullptr, true},
            {CKM_AES_GCM, "GCM negative tag bits", gcm(bytes(12), bytes(4), -1),
             "Mechanism2CKMechanism - m_tagBits out of range"},
            {CKM_AES_GCM, "GCM IV of 0 bytes, no AAD", gcm(bytes(0), nullptr, 128), nullptr, true},
            {CKM_AES_GCM, "GCM IV of 5000 bytes, AAD of 5000 bytes",
             gcm(bytes(5000), bytes(5000), 0x7FFFFFFF), nullptr, true},
            {CKM_AES_CBC_PAD, "AES CBC with padding, an IV of 16 chars", chars(u"0123456789abcdef"),
             kIv16},
            {CKM_SHA256_RSA_PKCS_PSS, "PSS negative salt length",
             pss(CKM_SHA256, CKG_MGF1_SHA256, -1), "Mechanism2CKMechanism - m_sLen out of range"},
            {CKM_SHA256_RSA_PKCS_PSS, "PSS vendor hash and MGF, salt 0x7FFFFFFF",
             pss(static_cast<jint>(0x80000001u), -1, INT_MAX), nullptr, true},
            {CKM_ECDH1_COFACTOR_DERIVE, "ECDH vendor KDF, empty public data, no shared data",
             ecdh(static_cast<jint>(0x80000000u), nullptr, bytes(0)), nullptr, true},
            {CKM_ECDH1_DERIVE, "ECDH shared data without public data", ecdh(1, bytes(8), nullptr),
             "Mechanism2CKMechanism - m_publicData is NULL"},
            {CKM_AES_CBC_ENCRYPT_DATA, "AES CBC encrypt data with an 8-byte IV",
             cbcData(bytes(8), bytes(16)), kIv16},
            {CKM_AES_CBC_ENCRYPT_DATA, "AES CBC encrypt data without data",
             cbcData(bytes(16), nullptr), "Mechanism2CKMechanism - m_data is NULL"},
            {CKM_AES_CBC_ENCRYPT_DATA, "AES CBC encrypt data, empty data",
             cbcData(bytes(16), bytes(0)), nullptr, true},
            {CKM_DES_CBC_ENCRYPT_DATA, "DES CBC encrypt data with a 16-byte IV",
             cbcData(bytes(16), bytes(8)), kIv8},
            {CKM_DES3_CBC_ENCRYPT_DATA, "DES3 CBC encrypt data, 8-byte IV, 5000 bytes of data",
             cbcData(bytes(8), bytes(5000)), nullptr, true},
            {CKM_DES_ECB_ENCRYPT_DATA, "DES ECB encrypt data of a CBC parameter object",
             cbcData(bytes(8), bytes(8)), "Mechanism2CKMechanism - data must be a byte array"},
            {CKM_PKCS5_PBKD2, "PBKDF2 negative iterations",
             pbkdf2(1, bytes(8), -1, 1, nullptr, chars(u"pw")),
             "Mechanism2CKMechanism - m_iterations out of range"},
            {CKM_PKCS5_PBKD2, "PBKDF2 password with a lone surrogate",
             pbkdf2(1, bytes(8), 1000, 1, nullptr, chars(u"p\xD800w")),
             "Mechanism2CKMechanism - password character out of range"},
            {CKM_PKCS5_PBKD2, "PBKDF2 empty password, vendor salt source and PRF",
             pbkdf2(static_cast<jint>(0x80000000u), nullptr, 0, -1, bytes(0), chars(u"")), nullptr,
             true},
            {CKM_PKCS5_PBKD2, "PBKDF2 password beyond one byte per character",
             pbkdf2(1, bytes(0), INT_MAX, 1, bytes(3), chars(u"p\u00E9\u20AC\U0001F511")), nullptr,
             true},
            {CKM_AES_CCM, "CCM negative data length", ccm(-1, bytes(12), nullptr, 16),
             "Mechanism2CKMechanism - m_dataLen out of range"},
            {CKM_AES_CCM, "CCM negative MAC length", ccm(64, bytes(12), bytes(3), INT_MIN),
             "Mechanism2CKMechanism - m_macLen out of range"},
            {CKM_AES_CCM, "CCM empty nonce, AAD of 5000 bytes",
             ccm(INT_MAX, bytes(0), bytes(5000), 0), nullptr, true},
        };
    }

    jobject ctr(jint counterBits, jbyteArray block) {
        return objectWith("qorvik/params/AESCTRParams", {intField("m_counterBits", counterBits),
                                                         bytesField("m_counterBlock", block)});
    }
    jobject gcm(jbyteArray iv, jbyteArray aad, jint tagBits) {
        return objectWith(
            "qorvik/params/GCMParams",
            {bytesField("m_iv", iv), bytesField("m_aad", aad), intField("m_tagBits", tagBits)});
    }
    jobject pss(jint hashAlg, jint mgf, jint sLen) {
        return objectWith(
            "qorvik/params/PSSParams",
            {intField("m_hashAlg", hashAlg), intField("m_mgf", mgf), intField("m_sLen", sLen)});
    }
    jobject ecdh(jint kdf, jbyteArray sharedData, jbyteArray publicData) {
        return objectWith("qorvik/params/ECDH1DeriveParams",
                          {intField("m_kdf", kdf), bytesField("m_sharedData", sharedData),
                           bytesField("m_publicData", publicData)});
    }
    jobject cbcData(jbyteArray iv, jbyteArray data) {
        return objectWith("qorvik/params/CBCEncryptDataParams",
                          {bytesField("m_iv", iv), bytesField("m_data", data)});
    }
    jobject pbkdf2(jint saltSource, jbyteArray saltSourceData, jint iterations, jint prf,
                   jbyteArray prfData, jcharArray password) {
        return objectWith(
            "qorvik/params/PBKDF2Params",
            {intField("m_saltSource", saltSource), bytesField("m_saltSourceData", saltSourceData),
             intField("m_iterations", iterations), intField("m_prf", prf),
             bytesField("m_prfData", prfData), objectField("m_password", "[C", password)});
    }
    jobject ccm(jint dataLen, jbyteArray nonce, jbyteArray aad, jint macLen) {
        return objectWith("qorvik/params/CCMParams",
                          {intField("m_dataLen", dataLen), bytesField("m_nonce", nonce),
                           bytesField("m_aad", aad), intField("m_macLen", macLen)});
    }

    void addMechanismVariants(std::vector<Variant>& out, const std::string& where, std::size_t at,
                              const std::string& name, const std::string& method) {
        auto mechanismAt = [at](jobject mechanism) {
            return [at, mechanism](Call& c) { c.a[at].l = mechanism; };
        };
        out.push_back(
            {where + "null mechanism", mechanismAt(nullptr), message(name, kNullMechanism)});
        out.push_back(
            {where + "vendor mechanism with a stray parameter",
             mechanismAt(newMechanism(static_cast<jint>(CKM_VENDOR_DEFINED | 1), str("stray"))),
             either(name, method)});
        for (OddParameter& odd : oddParameters()) {
            out.push_back({where + odd.label,
                           mechanismAt(newMechanism(static_cast<jint>(odd.type), odd.parameter)),
                           odd.refusal    ? message(name, odd.refusal)
                           : odd.converts ? converts(name, method)
                                          : either(name, method)});
        }
        for (const ParameterRow& row : kParameterRows) {
            const std::string type = "mechanism 0x" + [&] {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%lx", static_cast<unsigned long>(row.type));
                return std::string(hex);
            }();
            auto withParameter = [&](jobject parameter) {
                return mechanismAt(newMechanism(static_cast<jint>(row.type), parameter));
            };
            const std::string wrongClass =
                row.wrongClassMessage ? std::string(row.wrongClassMessage)
                : row.className       ? std::string(
                                            "Mechanism2CKMechanism - parameter must be instance of "
                                                  "'qorvik/params/") +
                                      row.className + "'"
                                : kShortIv;
            std::vector<std::pair<std::string, jobject>> wrong = {
                {"String", str("not a parameter")},
                {"Integer", javaInteger(7)},
                {"int[]", intArray({1, 2, 3, 4})},
                {"char[16]", env->NewCharArray(16)},
                {"Object", newObject("java/lang/Object")},
                {"another parameter class",
                 zeroed(row.className && std::string(row.className) == "EXTRACTParams"
                            ? "RC2Params"
                            : "EXTRACTParams")},
            };
            // Byte arrays of a length the row refuses, and of lengths it takes.
            std::vector<jsize> wrongLengths;
            std::vector<jsize> goodLengths;
            switch (row.bytes) {
                case ParameterRow::kNoBytes:
                    wrongLengths = {16};
                    break;
                case ParameterRow::kLegacyIv:
                    wrongLengths = {7};
                    break;
                case ParameterRow::kExactly16:
                    wrongLengths = {0, 8, 15, 17};
                    goodLengths = {16};
                    break;
                case ParameterRow::kAnyLength:
                    goodLengths = {0, 1, 16, 40, 5000};
                    break;
            }
            for (jsize n : wrongLengths) {
                wrong.emplace_back("byte[" + std::to_string(n) + "]",
                                   javaBytes(std::string(static_cast<std::size_t>(n), 'i')));
            }
            for (auto& [label, parameter] : wrong) {
                out.push_back({where + type + " with a " + label + " parameter",
                               withParameter(parameter), message(name, wrongClass)});
            }
            for (jsize n : goodLengths) {
                out.push_back(
                    {where + type + " with a byte[" + std::to_string(n) + "] parameter",
                     withParameter(javaBytes(std::string(static_cast<std::size_t>(n), 'g'))),
                     converts(name, method)});
            }
            out.push_back(
                {where + type + " with a null parameter", withParameter(nullptr),
                 row.nullAccepted ? converts(name, method) : message(name, kNullParameter)});
            if (row.className != nullptr) {
                out.push_back({where + type + " with every parameter field empty",
                               withParameter(zeroed(row.className)),
                               row.zeroedMessage  ? message(name, row.zeroedMessage)
                               : row.nullAccepted ? converts(name, method)
                                                  : either(name, method)});
            }
        }
    }

    void addTemplateVariants(std::vector<Variant>& out, const std::string& where, std::size_t at,
                             const std::string& name) {
        auto templateAt = [at](jobject value) {
            return [at, value](Call& c) { c.a[at].l = value; };
        };
        auto withNull = [this](std::initializer_list<bool> present) {
            jclass cls = env->FindClass("qorvik/Attribute");
            jobjectArray array =
                env->NewObjectArray(static_cast<jsize>(present.size()), cls, nullptr);
            jsize i = 0;
            for (bool p : present) {
                if (p) {
                    jobject a = env->NewObject(
                        cls, env->GetMethodID(cls, "<init>", "(ILjava/lang/Object;)V"),
                        static_cast<jint>(CKA_LABEL), str(kLabel));
                    env->SetObjectArrayElement(array, i, a);
                }
                ++i;
            }
            env->DeleteLocalRef(cls);
            return array;
        };
        out.push_back({where + "null template", templateAt(nullptr), either(name)});
        out.push_back({where + "empty template", templateAt(attributeArray({})), either(name)});
        out.push_back(
            {where + "[null]", templateAt(withNull({false})), message(name, kNullAttribute)});
        out.push_back({where + "[attribute, null]", templateAt(withNull({true, false})),
                       message(name, kNullAttribute)});
        out.push_back({where + "[null, attribute, null]",
                       templateAt(withNull({false, true, false})), message(name, kNullAttribute)});
        const std::vector<std::pair<std::string, jobject>> wrongValues = {
            {"Long", javaLong(5)},
            {"int[]", intArray({1, 2})},
            {"Object", newObject("java/lang/Object")},
            {"char[]", env->NewCharArray(4)},
            {"Mechanism", newMechanism(CKM_SHA256, nullptr)},
            {"Attribute", attributeArray({{CKA_LABEL, nullptr}})},
        };
        for (const auto& [label, value] : wrongValues) {
            out.push_back(
                {where + "a " + label + " value",
                 templateAt(attributeArray({{CKA_LABEL, str(kLabel)}, {CKA_VALUE, value}})),
                 message(name, kUnsupportedValue)});
        }
        out.push_back({where + "odd attribute types",
                       templateAt(attributeArray(
                           {{-1, nullptr},
                            {static_cast<jint>(CKA_VENDOR_DEFINED | 1), env->NewByteArray(0)}})),
                       either(name)});
    }

    void addModuleNameVariants(std::vector<Variant>& out, const std::string& where, std::size_t at,
                               const std::string& name) {
        auto nameAt = [at](jobject value) { return [at, value](Call& c) { c.a[at].l = value; }; };
        out.push_back(
            {where + "null name", nameAt(nullptr), message(name, "No cryptoki library specified")});
        out.push_back({where + "empty name", nameAt(str("")), refused(name)});
        out.push_back(
            {where + "missing file", nameAt(str("/nonexistent/libnothing.so")), refused(name)});
        out.push_back({where + "not a library", nameAt(str("/proc/self/status")), refused(name)});
        out.push_back({where + "a library without the function list", nameAt(str("libm.so.6")),
                       refused(name)});
        out.push_back(
            {where + "5000-byte name", nameAt(str("/" + std::string(4999, 'n'))), refused(name)});
        // A real path longer than the remembered name can hold.
        std::string longPath;
        while (longPath.size() < 1500) longPath += "/.";
        out.push_back({where + "1500-byte path to the module", nameAt(str(longPath + mock.path())),
                       either(name)});
    }

    // ---- Running one call and judging it -------------------------------------------

    std::vector<Watched> watch(const Method& m, const Call& c) {
        std::vector<Watched> out;
        std::size_t at = 0;
        for (const Arg& arg : m.args) {
            jbyteArray array = nullptr;
            Watched w{};
            switch (arg.kind) {
                case Kind::kInWindow:
                    array = static_cast<jbyteArray>(c.a[at].l);
                    w = {array, false, false, c.a[at + 1].i, c.a[at + 2].i, ""};
                    break;
                case Kind::kRandomWindow:
                    array = static_cast<jbyteArray>(c.a[at].l);
                    w = {array, true, false, c.a[at + 1].i, c.a[at + 2].i, ""};
                    break;
                case Kind::kOutWindow:
                    array = static_cast<jbyteArray>(c.a[at].l);
                    w = {array, true, true, c.a[at + 1].i, 0, ""};
                    break;
                case Kind::kBytes:
                    array = static_cast<jbyteArray>(c.a[at].l);
                    w = {array, false, false, 0, 0, ""};
                    break;
                default:
                    break;
            }
            if (array != nullptr) {
                w.before = bytesOf(array);
                out.push_back(w);
            }
            at += static_cast<std::size_t>(width(arg.kind));
        }
        return out;
    }

    // Runs one call and checks everything about it; false on any wrong result.
    bool run(const Method& m, const std::string& label, const Call& call, const Expect& expect) {
        if (call.uninitialized && moduleInitialized()) {
            Java_qorvik_nat_NativeCryptoki_Finalize(env, cryptoki, nullptr);
            expectNoException();
        }
        std::vector<Watched> watched = watch(m, call);
        mock.p11mock_log_clear();

        Result result;
        long unreleased = 0;
        std::string unreleasedReport;
#ifdef KT_COUNTING_ENV
        {
            CountingEnv counted(env);
            result = m.invoke(counted.env(), call.self, call.a.data());
            unreleased = counted.unreleased() + counted.strayReleases();
            unreleasedReport = counted.report();
        }
#else
        result = m.invoke(env, call.self, call.a.data());
#endif

        std::vector<std::string> problems;
        std::optional<Thrown> thrown;
        if (jthrowable exc = env->ExceptionOccurred()) {
            env->ExceptionClear();
            jclass cryptokiException = env->FindClass("qorvik/CryptokiException");
            const bool ours = env->IsInstanceOf(exc, cryptokiException);
            env->DeleteLocalRef(cryptokiException);
            env->Throw(exc);
            env->DeleteLocalRef(exc);
            if (ours) {
                thrown = takeException();
            } else {
                ++totals().crashes;
                problems.push_back("a " + takeAnyExceptionClass() + " escaped");
            }
        }

        const std::string got = thrown
                                    ? thrown->function + " code " + std::to_string(thrown->code) +
                                          " '" + thrown->message + "'"
                                    : std::string("no exception");
        switch (expect.kind) {
            case Expect::kOk:
                if (thrown) problems.push_back("expected success, got " + got);
                break;
            case Expect::kFailure:
                if (!thrown || thrown->function != expect.function || thrown->code != expect.code ||
                    thrown->message != expect.message) {
                    problems.push_back("expected " + expect.function + " code " +
                                       std::to_string(expect.code) + " '" + expect.message +
                                       "', got " + got);
                }
                break;
            case Expect::kRefused:
                if (!thrown || !underExpectedName(*thrown, expect)) {
                    problems.push_back("expected a refusal under " + expect.function + ", got " +
                                       got);
                }
                break;
            case Expect::kEither:
                if (thrown && !underExpectedName(*thrown, expect)) {
                    problems.push_back("expected " + expect.function + " or success, got " + got);
                }
                if (thrown && !expect.notFrom.empty() &&
                    thrown->message.rfind(expect.notFrom, 0) == 0) {
                    problems.push_back("expected the conversion to accept it, got " + got);
                }
                break;
        }
        if (thrown && (result.object != nullptr || result.number != 0)) {
            problems.push_back("a failed call returned a non-neutral value");
        }
        if (expect.moduleUntouched && *m.moduleCall != '\0' &&
            mock.p11mock_log_count(m.moduleCall) != 0) {
            problems.push_back(std::string("a refused input still reached ") + m.moduleCall);
        }
        if (unreleased != 0) problems.push_back("unreleased JNI resources: " + unreleasedReport);

        for (const Watched& w : watched) {
            const std::string after = bytesOf(w.array);
            const jsize size = static_cast<jsize>(after.size());
            jint from = size;
            jint to = size;  // bytes in [from, to) may have changed
            if (!thrown && w.output) {
                const jlong written = w.filling ? result.number : w.len;
                if (w.off >= 0 && w.off <= size && written >= 0 && written <= size - w.off) {
                    from = w.off;
                    to = static_cast<jint>(w.off + written);
                } else if (w.filling && w.off >= 0 && w.off <= size) {
                    problems.push_back("the filling form reported " + std::to_string(written) +
                                       " bytes for a window of " + std::to_string(size - w.off));
                }
            }
            for (jsize i = 0; i < size; ++i) {
                if ((i < from || i >= to) && after[i] != w.before[i]) {
                    problems.push_back("byte " + std::to_string(i) + " of a " +
                                       std::to_string(size) + "-byte array changed outside " +
                                       "the method's window");
                    break;
                }
            }
        }

        for (const std::string& p : problems) {
            ADD_FAILURE() << m.label << ": " << label << ": " << p;
        }
        return problems.empty();
    }

    const Mock& mock = plainMock();
    CK_SESSION_HANDLE session = 0;
    CK_OBJECT_HANDLE key = 0;
    std::string signature;
    std::string savedState;
};

TEST_P(BadInputSweep, EveryBadInputIsRefusedCleanly) {
    const Method& m = method();
    // The good call first: the fixture must make it succeed, so that in
    // every bad call below the bad input is the only thing wrong.
    ASSERT_EQ(env->PushLocalFrame(1024), JNI_OK);
    prepare(m.setup);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(run(m, "good arguments", goodCall(m), baseline(m)))
        << "the fixture does not make a good call of " << m.label << " work";
    env->PopLocalFrame(nullptr);

    ASSERT_EQ(env->PushLocalFrame(4096), JNI_OK);
    std::vector<Variant> list = variants(m);
    for (const Variant& v : list) {
        ASSERT_EQ(env->PushLocalFrame(512), JNI_OK);
        prepare(m.setup);
        ASSERT_FALSE(HasFatalFailure());
        Call call = goodCall(m);
        v.apply(call);
        ++totals().inputs;
        totals().methods.insert(m.label);
        if (!run(m, v.label, call, v.expect)) ++totals().wrong;

        // The bridge still works: the same method with good arguments.
        prepare(m.setup);
        ASSERT_FALSE(HasFatalFailure());
        if (!run(m, "good call after " + v.label, goodCall(m), baseline(m))) ++totals().wrong;
        env->PopLocalFrame(nullptr);
    }
    env->PopLocalFrame(nullptr);
}

std::string rowName(const ::testing::TestParamInfo<std::size_t>& info) {
    return methods()[info.param].label;
}

std::vector<std::size_t> allRows() {
    std::vector<std::size_t> rows(methods().size());
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = i;
    return rows;
}

INSTANTIATE_TEST_SUITE_P(AllNativeMethods, BadInputSweep, ::testing::ValuesIn(allRows()), rowName);

// The table has exactly one row for every native method in the export list.
TEST(BadInputTable, HasOneRowPerNativeMethod) {
    std::set<std::string> rows;
    for (const Method& m : methods()) {
        EXPECT_TRUE(rows.insert(std::string("Java_qorvik_nat_") + m.label).second)
            << "duplicate row " << m.label;
    }
    std::ifstream list(KELVANE_EXPORTS_FILE);
    ASSERT_TRUE(list) << "cannot read " << KELVANE_EXPORTS_FILE;
    std::set<std::string> exported;
    for (std::string line; std::getline(list, line);) {
        if (line.rfind("Java_", 0) == 0) exported.insert(line.substr(0, line.find_first_of(" \t")));
    }
    EXPECT_EQ(exported.size(), 80u);
    EXPECT_EQ(rows, exported);
}

}  // namespace
}  // namespace kt::badinput
