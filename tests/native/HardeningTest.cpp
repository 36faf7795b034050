// Faults a review found, each kept as a family of cases: vendor-defined
// values, IV buffers of the SSL3 key material, stale bytes in read buffers,
// lengths no Java array can take, searches that never end, the function list
// read once per method.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "BridgeTest.h"
#include "UlongWidth.h"

namespace kt {
namespace {

CK_ULONG ulongAt(const std::string& bytes, std::size_t index) {
    CK_ULONG value = ~CK_ULONG(0);
    if (bytes.size() >= (index + 1) * sizeof value) {
        std::memcpy(&value, bytes.data() + index * sizeof value, sizeof value);
    }
    return value;
}

class HardeningTest : public BridgeTest {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(mock);
        openSession(CKU_USER);
        std::string value = "key";
        CK_ATTRIBUTE t[] = {{CKA_VALUE, value.data(), value.size()}};
        key = static_cast<jlong>(mock.p11mock_add_object(t, 1));
    }
    // A session of its own: a failed call may leave an operation active.
    void openSession(jbyte user = -1) {
        const jstring pin = user >= 0 ? str("1234") : nullptr;
        session = Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(
            env, newSlot(1), CKF_SERIAL_SESSION | CKF_RW_SESSION, user >= 0 ? user : 0, pin);
        ASSERT_NE(session, nullptr);
        jclass cls = env->GetObjectClass(session);
        handle = env->GetLongField(session, env->GetFieldID(cls, "m_sessionHandle", "J"));
    }
    jobject mechanism(jint type, jobject parameter = nullptr) {
        jclass cls = env->FindClass("qorvik/Mechanism");
        return env->NewObject(cls, env->GetMethodID(cls, "<init>", "(ILjava/lang/Object;)V"), type,
                              parameter);
    }
    jobject oaep(jint hash, jint mgf) {
        jclass cls = env->FindClass("qorvik/params/OAEPParams");
        return env->NewObject(cls, env->GetMethodID(cls, "<init>", "(III[B)V"), hash, mgf, 1,
                              nullptr);
    }
    jlongArray find(jobjectArray tmpl) {
        return Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(env, session,
                                                                                   tmpl);
    }
    jobjectArray findWith(jobjectArray tmpl, jintArray types) {
        return Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2_3I(env, session,
                                                                                      tmpl, types);
    }

    const Mock& mock = plainMock();
    jobject session = nullptr;
    jlong handle = 0;
    jlong key = 0;
};

// ---- Java ints that carry CK_ULONG values ---------------------------------------

// Every place an int becomes a CK_ULONG: what the module saw for a given int.
struct WideningSite {
    const char* name;
    std::function<CK_ULONG(jint)> seen;
};

TEST_F(HardeningTest, IntsCarryingCkUlongsReachTheModuleAsTheirThirtyTwoBits) {
    const std::vector<WideningSite> sites = {
        {"mechanism type",
         [this](jint v) {
             Java_qorvik_nat_NativeSession_J_1SignInit(env, session, handle, mechanism(v), key);
             return ulongAt(mock.lastBuffer("C_SignInit", 0), 0);
         }},
        {"attribute type",
         [this](jint v) {
             find(attributeArray({{v, javaBytes("x")}}));
             return ulongAt(mock.lastBuffer("C_FindObjectsInit", 0), 0);
         }},
        {"Integer attribute value",
         [this](jint v) {
             find(attributeArray({{CKA_CLASS, javaInteger(v)}}));
             return ulongAt(mock.lastBuffer("C_FindObjectsInit", 0), 2);
         }},
        {"attribute type read",
         [this](jint v) {
             Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(env, session, key, v);
             return ulongAt(mock.lastBuffer("C_GetAttributeValue", 0), 0);
         }},
        {"attribute types read together",
         [this](jint v) {
             Java_qorvik_nat_NativeSession_J_1GetAttributeValue__J_3I(env, session, key,
                                                                      intArray({v}));
             return ulongAt(mock.lastBuffer("C_GetAttributeValue", 0), 0);
         }},
        {"m_slotID",
         [this](jint v) {
             Java_qorvik_nat_NativeSlot_J_1GetSlotInfo(env, newSlot(v));
             return mock.lastArg("C_GetSlotInfo", 0);
         }},
        {"J_GetMechanismInfo type",
         [this](jint v) {
             Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(env, newSlot(1), v);
             return mock.lastArg("C_GetMechanismInfo", 1);
         }},
        {"J_OpenSession flags",
         [this](jint v) {
             Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, newSlot(1), v);
             return mock.lastArg("C_OpenSession", 1);
         }},
        {"WaitForSlotEvent flags",
         [this](jint v) {
             Java_qorvik_nat_NativeCryptoki_WaitForSlotEvent(env, cryptoki, v, nullptr);
             return mock.lastArg("C_WaitForSlotEvent", 0);
         }},
        {"OAEP m_hashAlg",
         [this](jint v) {
             Java_qorvik_nat_NativeSession_J_1DecryptInit(
                 env, session, handle, mechanism(CKM_RSA_PKCS_OAEP, oaep(v, 1)), key);
             return ulongAt(mock.lastBuffer("C_DecryptInit", 0), 2);
         }},
        {"OAEP m_mgf",
         [this](jint v) {
             Java_qorvik_nat_NativeSession_J_1DecryptInit(
                 env, session, handle, mechanism(CKM_RSA_PKCS_OAEP, oaep(1, v)), key);
             return ulongAt(mock.lastBuffer("C_DecryptInit", 0), 3);
         }},
    };
    const uint32_t values[] = {0x0,        0x7FFFFFFF, 0x80000000, 0x80000001,
                               0xCAFEBABE, 0xFFFFFFFE, 0xFFFFFFFF};
    for (const WideningSite& site : sites) {
        for (uint32_t value : values) {
            mock.p11mock_log_clear();
            const CK_ULONG seen = site.seen(static_cast<jint>(value));
            env->ExceptionClear();  // the module may refuse a value it does not know
            EXPECT_EQ(seen, CK_ULONG(value)) << site.name << " 0x" << std::hex << value;
        }
    }
}

TEST_F(HardeningTest, VendorValuesRoundTripThroughJava) {
    // Slot IDs handed out come back to the module unchanged.
    const CK_SLOT_ID ids[] = {0x80000000ul, 0xFFFFFFFFul, 7};
    const int present[] = {1, 1, 1};
    mock.p11mock_set_slots(3, ids, present);
    jobjectArray slots = Java_qorvik_nat_NativeCryptoki_GetSlotList(env, cryptoki, JNI_TRUE);
    expectNoException();
    ASSERT_NE(slots, nullptr);
    ASSERT_EQ(env->GetArrayLength(slots), 3);
    for (jsize i = 0; i < 3; ++i) {
        jobject slot = env->GetObjectArrayElement(slots, i);
        EXPECT_NE(Java_qorvik_nat_NativeSlot_J_1GetSlotInfo(env, slot), nullptr);
        expectNoException();
        EXPECT_EQ(mock.lastArg("C_GetSlotInfo", 0), ids[i]);
        // A session's slot comes back as the int that names the slot.
        jobject s = Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, slot, CKF_SERIAL_SESSION);
        expectNoException();
        ASSERT_NE(s, nullptr);
        jobject info = Java_qorvik_nat_NativeSession_J_1GetSessionInfo(env, s);
        expectNoException();
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(callInt(info, "getSlotID"), slotId(slot));
    }

    // A vendor mechanism from the list is one the module knows.
    const CK_MECHANISM_TYPE types[] = {0x80000010ul};
    const CK_MECHANISM_INFO infos[] = {{1, 2, CKF_SIGN}};
    mock.p11mock_set_mechanisms(1, types, infos);
    jintArray list = Java_qorvik_nat_NativeSlot_J_1GetMechanismList(env, newSlot(7));
    expectNoException();
    ASSERT_NE(list, nullptr);
    jint type = 0;
    env->GetIntArrayRegion(list, 0, 1, &type);
    EXPECT_NE(Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(env, newSlot(7), type), nullptr);
    expectNoException();

    // Objects of a vendor class with a vendor attribute are found by them, and
    // the class read back finds them again.
    CK_OBJECT_CLASS vendorClass = CKO_VENDOR_DEFINED | 5;
    std::string mark = "vendor";
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &vendorClass, sizeof vendorClass},
                        {CKA_VENDOR_DEFINED | 1, mark.data(), mark.size()}};
    const CK_OBJECT_HANDLE object = mock.p11mock_add_object(t, 2);
    jlongArray found =
        find(attributeArray({{CKA_CLASS, javaInteger(static_cast<jint>(vendorClass))},
                             {static_cast<jint>(CKA_VENDOR_DEFINED | 1), javaBytes(mark)}}));
    expectNoException();
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(env->GetArrayLength(found), 1);
    jlong h = 0;
    env->GetLongArrayRegion(found, 0, 1, &h);
    EXPECT_EQ(static_cast<CK_OBJECT_HANDLE>(h), object);
    jobject read =
        Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(env, session, h, CKA_CLASS);
    expectNoException();
    ASSERT_NE(read, nullptr);
    found = find(attributeArray({{CKA_CLASS, attributeValue(read)}}));
    expectNoException();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(env->GetArrayLength(found), 1);
}

// ---- Attribute arrays -------------------------------------------------------------

TEST_F(HardeningTest, NullAttributeElementIsRefusedWherevererATemplateIsBuilt) {
    jobjectArray withHole = attributeArray({{CKA_LABEL, javaBytes("a")}, {CKA_ID, nullptr}});
    env->SetObjectArrayElement(withHole, 1, nullptr);
    jobjectArray onlyHole = env->NewObjectArray(1, env->FindClass("qorvik/Attribute"), nullptr);
    const std::vector<std::pair<const char*, std::function<void(jobjectArray)>>> users = {
        {"J_FindObjects", [&](jobjectArray a) { find(a); }},
        {"J_FindObjects", [&](jobjectArray a) { findWith(a, intArray({CKA_LABEL})); }},
        {"J_CreateObject",
         [&](jobjectArray a) { Java_qorvik_nat_NativeSession_J_1CreateObject(env, session, a); }},
        {"J_SetAttributeValue",
         [&](jobjectArray a) {
             Java_qorvik_nat_NativeSession_J_1SetAttributeValue(env, session, key, a);
         }},
    };
    for (jobjectArray tmpl : {withHole, onlyHole}) {
        for (const auto& [name, call] : users) {
            mock.p11mock_log_clear();
            call(tmpl);
            expectFailure(name, 5, "Attribute2CKAttribute - attribute is NULL");
            EXPECT_EQ(mock.p11mock_log_size(), 0u) << name << ": nothing reached the module";
        }
    }
}

// ---- Read buffers ------------------------------------------------------------------

void armLieOnNextRead(void*) {
    plainMock().p11mock_report_len_next("C_GetAttributeValue", 40);
}
void armLieOnReadAfterThis(void*) {
    plainMock().p11mock_hook_next("C_GetAttributeValue", armLieOnNextRead, nullptr);
}

TEST_F(HardeningTest, ClaimedButUnwrittenBytesNeverShowAnEarlierValue) {
    // A module that claims 40 bytes of a 2-byte label, writing only the two:
    // whatever else Java sees must be zeros, never the secret read before.
    const std::string secret = "0123456789SECRET-SECRET-SECRET-SECRET!!";
    std::string label = "ab";
    CK_ATTRIBUTE t[] = {{CKA_VALUE, const_cast<char*>(secret.data()), secret.size()},
                        {CKA_LABEL, label.data(), label.size()}};
    const CK_OBJECT_HANDLE object = mock.p11mock_add_object(t, 2);
    const std::string expected = label + std::string(38, '\0');

    const std::vector<std::pair<const char*, std::function<jobject()>>> reads = {
        {"J_GetAttributeValue (types)",
         [&]() -> jobject {
             jobjectArray got = Java_qorvik_nat_NativeSession_J_1GetAttributeValue__J_3I(
                 env, session, static_cast<jlong>(object), intArray({CKA_VALUE, CKA_LABEL}));
             return got ? attributeValue(env->GetObjectArrayElement(got, 1)) : nullptr;
         }},
        {"J_FindObjects (types)",
         [&]() -> jobject {
             jobjectArray got = findWith(attributeArray({{CKA_LABEL, javaBytes(label)}}),
                                         intArray({CKA_VALUE, CKA_LABEL}));
             if (got == nullptr || env->GetArrayLength(got) != 1) return nullptr;
             jobject obj = env->GetObjectArrayElement(got, 0);
             jclass cls = env->GetObjectClass(obj);
             jobjectArray attrs = static_cast<jobjectArray>(env->GetObjectField(
                 obj, env->GetFieldID(cls, "attributes", "[Lqorvik/Attribute;")));
             return attrs ? attributeValue(env->GetObjectArrayElement(attrs, 1)) : nullptr;
         }},
    };
    for (const auto& [name, read] : reads) {
        mock.p11mock_set_report_filler(-1);
        mock.p11mock_hook_next("C_GetAttributeValue", armLieOnReadAfterThis, nullptr);
        jobject value = read();
        expectNoException();
        ASSERT_NE(value, nullptr) << name;
        EXPECT_EQ(bytesOf(static_cast<jbyteArray>(value)), expected) << name;
    }
}

// ---- Lengths chosen by the module ------------------------------------------------

struct ChosenLength {
    const char* name;
    const char* function;  // the method's name in the exception
    std::function<void(CK_ULONG)> arm;
    std::function<void()> call;
};

TEST_F(HardeningTest, LengthsNoJavaArrayHoldsAreRefusedBeforeAllocation) {
    const jbyteArray data = javaBytes("some data");
    const std::vector<ChosenLength> cases = {
        {"returning form", "J_Encrypt",
         [this](CK_ULONG n) { mock.p11mock_buffer_too_small_next("C_Encrypt", n); },
         [this, data]() {
             Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
                 env, session, handle, JNI_TRUE, mechanism(CKM_AES_ECB), key, data, 0, 9);
         }},
        {"final part", "J_EncryptFinal",
         [this](CK_ULONG n) { mock.p11mock_buffer_too_small_next("C_EncryptFinal", n); },
         [this]() {
             Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII(
                 env, session, handle, JNI_TRUE, mechanism(CKM_AES_ECB), key, javaBytes(""), 0, 0);
             if (!env->ExceptionCheck())
                 Java_qorvik_nat_NativeSession_J_1EncryptFinal__(env, session);
         }},
        {"signature length query", "J_Sign",
         [this](CK_ULONG n) { mock.p11mock_query_len_next("C_Sign", n); },
         [this, data]() {
             Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII(
                 env, session, handle, JNI_TRUE, mechanism(CKM_SHA256_RSA_PKCS), key, data, 0, 9);
         }},
        {"operation state", "J_GetOperationState",
         [this](CK_ULONG n) { mock.p11mock_query_len_next("C_GetOperationState", n); },
         [this, data]() {
             Java_qorvik_nat_NativeSession_J_1DigestUpdate(env, session, handle, JNI_TRUE,
                                                           mechanism(CKM_SHA256), data, 0, 9);
             if (!env->ExceptionCheck())
                 Java_qorvik_nat_NativeSession_J_1GetOperationState(env, session);
         }},
        {"long attribute value", "J_GetAttributeValue",
         [this](CK_ULONG n) {
             mock.p11mock_buffer_too_small_next("C_GetAttributeValue", 0);
             mock.p11mock_query_len_next("C_GetAttributeValue", n);
         },
         [this]() {
             Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(env, session, key, CKA_VALUE);
         }},
        {"slot list", "J_GetSlotList",
         [this](CK_ULONG n) { mock.p11mock_query_len_next("C_GetSlotList", n); },
         [this]() { Java_qorvik_nat_NativeCryptoki_GetSlotList(env, cryptoki, JNI_FALSE); }},
        {"mechanism list", "J_GetMechanismList",
         [this](CK_ULONG n) { mock.p11mock_query_len_next("C_GetMechanismList", n); },
         [this]() { Java_qorvik_nat_NativeSlot_J_1GetMechanismList(env, newSlot(1)); }},
    };
    const CK_ULONG lengths[] = {0x80000000ul, 0xFFFFFFFFul, ulong_width::kBeyondJavaArrays,
                                ~CK_ULONG(0) - 1};
    for (const ChosenLength& c : cases) {
        for (CK_ULONG length : lengths) {
            mock.p11mock_clear_faults();
            openSession();
            c.arm(length);
            c.call();
            expectFailure(c.function, 5,
                          "Module returned a length larger than a Java array can hold");
            if (HasFailure()) {
                ADD_FAILURE() << c.name << " with 0x" << std::hex << length;
                return;
            }
            // The next call of the same kind works.
            openSession();
            c.call();
            expectNoException();
        }
    }
}

TEST_F(HardeningTest, SearchThatNeverEndsStopsAndIsFinished) {
    mock.p11mock_endless_search(1);
    const std::vector<std::function<jobject()>> forms = {
        [&] { return static_cast<jobject>(find(nullptr)); },
        [&] { return static_cast<jobject>(findWith(nullptr, nullptr)); },
    };
    for (const auto& form : forms) {
        mock.p11mock_log_clear();
        EXPECT_EQ(form(), nullptr);
        expectFailure("J_FindObjects", 5, "Module returned more objects than a search can hold");
        // 16,777,216 matches fit; the batch that passes them is the last one asked for.
        EXPECT_EQ(mock.p11mock_log_count("C_FindObjects"), 16777216u / 50 + 1);
        EXPECT_EQ(mock.p11mock_log_count("C_FindObjectsFinal"), 1u);
        mock.p11mock_log_clear();
    }
    mock.p11mock_endless_search(0);
    jlongArray all = find(nullptr);
    expectNoException();
    ASSERT_NE(all, nullptr) << "the session searches again";
    EXPECT_EQ(env->GetArrayLength(all), 1);
}

// ---- One function list per call ---------------------------------------------------

CK_RV rejectingEncrypt(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_REJECTED;
}
CK_FUNCTION_LIST replacementList;
void swapFunctionList(void*) {
    // Whatever the module does during the start, the method keeps the list it
    // began with.
    replacementList = *functionList;
    replacementList.C_Encrypt = rejectingEncrypt;
    replacementList.C_EncryptUpdate = rejectingEncrypt;
    functionList = &replacementList;
}

TEST_F(HardeningTest, MethodsUseTheFunctionListTheyStartedWith) {
    const jbyteArray data = javaBytes("0123456789abcdef");
    const jbyteArray out = env->NewByteArray(64);
    const std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"J_Encrypt returning",
         [&] {
             Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
                 env, session, handle, JNI_TRUE, mechanism(CKM_AES_ECB), key, data, 0, 16);
         }},
        {"J_Encrypt filling",
         [&] {
             Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII_3BI(
                 env, session, handle, JNI_TRUE, mechanism(CKM_AES_ECB), key, data, 0, 16, out, 0);
         }},
        {"J_EncryptUpdate returning",
         [&] {
             Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII(
                 env, session, handle, JNI_TRUE, mechanism(CKM_AES_ECB), key, data, 0, 16);
         }},
        {"J_EncryptUpdate filling",
         [&] {
             Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
                 env, session, handle, JNI_TRUE, mechanism(CKM_AES_ECB), key, data, 0, 16, out, 0);
         }},
    };
    CK_FUNCTION_LIST_PTR original = functionList;
    for (const auto& [name, call] : calls) {
        mock.p11mock_hook_next("C_EncryptInit", swapFunctionList, nullptr);
        call();
        functionList = original;
        expectNoException();
        EXPECT_EQ(mock.p11mock_log_count("C_Encrypt") + mock.p11mock_log_count("C_EncryptUpdate"),
                  1u)
            << name << ": the data call reached the module the method started with";
        mock.p11mock_log_clear();
        Java_qorvik_nat_NativeSession_J_1EncryptFinal__(env, session);
        env->ExceptionClear();
    }
}

}  // namespace
}  // namespace kt
