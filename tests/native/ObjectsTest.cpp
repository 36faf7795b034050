// Attribute templates both ways, object lifecycle and attribute reads.
#include <cstring>
#include <string>
#include <vector>

#include "BridgeTest.h"
#include "UlongWidth.h"
#include "convert/AttributeTemplate.h"

namespace kt {
namespace {

const std::string kLabelUtf8 = "Sign\xC3\xA9 \xF0\x9F\x98\x80";  // "Signé 😀"

jstring labelString(JNIEnv* env) {
    const jchar units[] = {'S', 'i', 'g', 'n', 0xE9, ' ', 0xD83D, 0xDE00};
    return env->NewString(units, 8);
}

std::string valueBytes(const CK_ATTRIBUTE& a) {
    return a.pValue ? std::string(static_cast<const char*>(a.pValue), a.ulValueLen) : "";
}

// A template owned by the module's side: values copied into this object.
struct ModuleTemplate {
    std::vector<CK_ATTRIBUTE> entries;
    std::vector<std::string> values;
    ModuleTemplate& add(CK_ATTRIBUTE_TYPE type, std::string value) {
        values.push_back(std::move(value));
        entries.push_back({type, nullptr, 0});
        return *this;
    }
    ModuleTemplate& add(CK_ATTRIBUTE_TYPE type, CK_ULONG number) {
        return add(type, std::string(reinterpret_cast<const char*>(&number), sizeof number));
    }
    CK_ATTRIBUTE_PTR data() {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            entries[i].pValue = values[i].data();
            entries[i].ulValueLen = values[i].size();
        }
        return entries.data();
    }
};

// ---- Write templates --------------------------------------------------------

class WriteTemplateTest : public BridgeTest {};

TEST_F(WriteTemplateTest, NullAndEmptyArrays) {
    AttributeTemplate none(env, nullptr);
    EXPECT_EQ(none.entries(), nullptr);
    EXPECT_EQ(none.count(), 0u);
    AttributeTemplate empty(env, attributeArray({}));
    EXPECT_EQ(empty.count(), 0u);
}

TEST_F(WriteTemplateTest, ValueClassesBecomeTheirCryptokiForms) {
    AttributeTemplate t(env, attributeArray({{CKA_CLASS, javaInteger(5)},
                                             {CKA_VALUE_LEN, javaInteger(-1)},
                                             {CKA_TOKEN, javaBoolean(true)},
                                             {CKA_PRIVATE, javaBoolean(false)},
                                             {CKA_LABEL, str("abc")},
                                             {CKA_APPLICATION, labelString(env)},
                                             {CKA_ID, javaBytes(std::string("\x00\x01\xFF", 3))},
                                             {CKA_SUBJECT, nullptr}}));
    expectNoException();
    ASSERT_EQ(t.count(), 8u);
    const CK_ATTRIBUTE* e = t.entries();
    EXPECT_EQ(e[0].type, CKA_CLASS);
    ASSERT_EQ(e[0].ulValueLen, sizeof(CK_ULONG)) << "the full CK_ULONG width";
    EXPECT_EQ(*static_cast<CK_ULONG*>(e[0].pValue), 5u);
    EXPECT_EQ(*static_cast<CK_ULONG*>(e[1].pValue), CK_ULONG(0xFFFFFFFF)) << "its 32 bits";
    EXPECT_EQ(valueBytes(e[2]), std::string(1, '\x01'));
    EXPECT_EQ(valueBytes(e[3]), std::string(1, '\x00'));
    EXPECT_EQ(valueBytes(e[4]), "abc");
    EXPECT_EQ(static_cast<char*>(e[4].pValue)[3], '\0') << "text buffers are terminated";
    EXPECT_EQ(valueBytes(e[5]), kLabelUtf8) << "standard UTF-8, the length counting bytes";
    EXPECT_EQ(valueBytes(e[6]), std::string("\x00\x01\xFF", 3));
    EXPECT_EQ(e[7].pValue, nullptr);
    EXPECT_EQ(e[7].ulValueLen, 0u);
}

TEST_F(WriteTemplateTest, UnsupportedValueClassesAreRefused) {
    for (jobject value : {javaLong(7), static_cast<jobject>(intArray({1, 2}))}) {
        CK_ATTRIBUTE_PTR entries = nullptr;
        CK_ULONG count = 0;
        try {
            // The first element converts; the second is refused.
            Attribute2CKAttribute(
                env, attributeArray({{CKA_LABEL, str("kept")}, {CKA_VALUE, value}}), &entries,
                &count);
            ADD_FAILURE() << "expected a failure";
        } catch (const MessageFailure& f) {
            EXPECT_STREQ(f.message, "Attribute2CKAttribute - unsupported value class");
        }
        // What was built stays reachable for the caller to free.
        ASSERT_EQ(count, 2u);
        ASSERT_NE(entries, nullptr);
        EXPECT_EQ(valueBytes(entries[0]), "kept");
        EXPECT_EQ(entries[1].pValue, nullptr);
        std::free(entries[0].pValue);
        std::free(entries);
    }
}

// ---- Values on the way back ------------------------------------------------

class ReadBackTest : public BridgeTest {};

TEST_F(ReadBackTest, PrimedLengthsByType) {
    CK_ATTRIBUTE a{};
    for (auto [type, expected] : {std::pair{CKA_CLASS, CK_ULONG(sizeof(CK_ULONG))},
                                  {CKA_MODULUS_BITS, CK_ULONG(sizeof(CK_ULONG))},
                                  {CKA_TOKEN, CK_ULONG(1)},
                                  {CKA_MODIFIABLE, CK_ULONG(1)},
                                  {CKA_ALWAYS_AUTHENTICATE, kAttributeReadBufferSize},
                                  {CKA_LABEL, kAttributeReadBufferSize},
                                  {CKA_EC_POINT, kAttributeReadBufferSize}}) {
        a.type = type;
        resetAttributeLen(&a);
        EXPECT_EQ(a.ulValueLen, expected) << "type 0x" << std::hex << type;
    }
}

TEST_F(ReadBackTest, GroupsGiveIntegerBooleanBytesOrNull) {
    CK_ULONG big = ulong_width::held(0x1'0000'0003ull);
    CK_ATTRIBUTE cls{CKA_CLASS, &big, sizeof big};
    jobject integer = CkAttribute2Pkcs11Attribute(env, cls);
    ASSERT_NE(integer, nullptr);
    EXPECT_EQ(callInt(integer, "intValue"), 3) << "low 32 bits";

    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE token{CKA_ALWAYS_AUTHENTICATE, &yes, 1};
    jobject flag = CkAttribute2Pkcs11Attribute(env, token);
    ASSERT_NE(flag, nullptr);
    jclass booleanClass = env->FindClass("java/lang/Boolean");
    EXPECT_TRUE(env->IsInstanceOf(flag, booleanClass));

    char label[] = "lbl";
    CK_ATTRIBUTE bytes{CKA_LABEL, label, 3};
    jobject array = CkAttribute2Pkcs11Attribute(env, bytes);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(array)), "lbl");

    // An EC key's point and a certificate's issuer are byte[] like the label.
    for (CK_ATTRIBUTE_TYPE type : {CKA_ISSUER, CKA_EC_POINT}) {
        CK_ATTRIBUTE other{type, label, 3};
        jobject value = CkAttribute2Pkcs11Attribute(env, other);
        ASSERT_NE(value, nullptr) << "type 0x" << std::hex << type;
        EXPECT_EQ(bytesOf(static_cast<jbyteArray>(value)), "lbl");
    }
    CK_ATTRIBUTE vendor{CKA_VENDOR_DEFINED + 1, label, 3};
    EXPECT_EQ(CkAttribute2Pkcs11Attribute(env, vendor), nullptr);
    expectNoException();
}

// ---- Objects through the methods -------------------------------------------

class ObjectsTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(mock);
        session = Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(
            env, newSlot(1), CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_USER, str("1234"));
        expectNoException();
        ASSERT_NE(session, nullptr);
    }
    CK_OBJECT_HANDLE addObject(ModuleTemplate t) {
        return mock.p11mock_add_object(t.data(), t.entries.size());
    }
    jobject readOne(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
        return Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(
            env, session, static_cast<jlong>(object), static_cast<jint>(type));
    }
    jobjectArray readMany(CK_OBJECT_HANDLE object, std::initializer_list<jint> types) {
        return Java_qorvik_nat_NativeSession_J_1GetAttributeValue__J_3I(
            env, session, static_cast<jlong>(object), intArray(types));
    }
    jobject valueAt(jobjectArray attributes, jsize i) {
        return attributeValue(env->GetObjectArrayElement(attributes, i));
    }

    const Mock& mock = plainMock();
    jobject session = nullptr;
};

TEST_F(ObjectsTest, CreateReadSetCopyDestroy) {
    jlong object = Java_qorvik_nat_NativeSession_J_1CreateObject(
        env, session,
        attributeArray({{CKA_CLASS, javaInteger(CKO_DATA)},
                        {CKA_TOKEN, javaBoolean(false)},
                        {CKA_LABEL, labelString(env)},
                        {CKA_VALUE, javaBytes("payload")}}));
    expectNoException();
    ASSERT_NE(object, 0);

    jobject label = readOne(object, CKA_LABEL);
    expectNoException();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(attributeType(label), static_cast<jint>(CKA_LABEL));
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(attributeValue(label))), kLabelUtf8)
        << "a String label comes back as its bytes";
    EXPECT_EQ(callInt(attributeValue(readOne(object, CKA_CLASS)), "intValue"),
              static_cast<jint>(CKO_DATA));

    Java_qorvik_nat_NativeSession_J_1SetAttributeValue(env, session, object,
                                                       attributeArray({{CKA_LABEL, str("new")}}));
    expectNoException();
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(attributeValue(readOne(object, CKA_LABEL)))), "new");

    jlong copy = Java_qorvik_nat_NativeSession_J_1CopyObject(
        env, session, object, attributeArray({{CKA_LABEL, str("copy")}}));
    expectNoException();
    ASSERT_NE(copy, 0);
    EXPECT_NE(copy, object);
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(attributeValue(readOne(copy, CKA_VALUE)))),
              "payload");

    EXPECT_GT(Java_qorvik_nat_NativeSession_J_1GetObjectSize(env, session, copy), 0);
    expectNoException();
    Java_qorvik_nat_NativeSession_J_1DestroyObject(env, session, copy);
    expectNoException();
    Java_qorvik_nat_NativeSession_J_1DestroyObject(env, session, copy);
    expectRv("J_DestroyObject", CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(readOne(copy, CKA_LABEL), nullptr);
    expectRv("J_GetAttributeValue", CKR_OBJECT_HANDLE_INVALID);
}

TEST_F(ObjectsTest, CreateWithNullOrEmptyTemplatePassesCountZero) {
    Java_qorvik_nat_NativeSession_J_1CreateObject(env, session, nullptr);
    takeException();  // whatever the module answers
    EXPECT_EQ(mock.lastArg("C_CreateObject", 1), 0u) << "no template";
    EXPECT_EQ(mock.lastArg("C_CreateObject", 2), 0u);
    Java_qorvik_nat_NativeSession_J_1CreateObject(env, session, attributeArray({}));
    takeException();
    EXPECT_EQ(mock.lastArg("C_CreateObject", 2), 0u);
}

TEST_F(ObjectsTest, ObjectSizeUnavailableArrivesAsMinusOne) {
    const CK_OBJECT_HANDLE object = addObject(ModuleTemplate().add(CKA_LABEL, "x"));
    mock.p11mock_report_len_next("C_GetObjectSize", CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1GetObjectSize(env, session, object), -1);
    expectNoException();
}

TEST_F(ObjectsTest, AlwaysAuthenticateIsReadWithTheWholeBufferPrimed) {
    const CK_OBJECT_HANDLE key =
        addObject(ModuleTemplate().add(CKA_ALWAYS_AUTHENTICATE, std::string(1, '\x01')));
    jobject a = readOne(key, CKA_ALWAYS_AUTHENTICATE);
    expectNoException();
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(env->IsInstanceOf(attributeValue(a), env->FindClass("java/lang/Boolean")));
    // The output template is logged as [type][ulValueLen][address].
    const std::string entry = mock.lastBuffer("C_GetAttributeValue", 0);
    ASSERT_GE(entry.size(), 2 * sizeof(CK_ULONG));
    CK_ULONG primed;
    std::memcpy(&primed, entry.data() + sizeof(CK_ULONG), sizeof primed);
    EXPECT_EQ(primed, kAttributeReadBufferSize);
}

TEST_F(ObjectsTest, SharedBufferCarriesEachValueWithItsOwnLength) {
    const std::string longValue(1500, 'L');
    const CK_OBJECT_HANDLE object = addObject(
        ModuleTemplate().add(CKA_ID, "abc").add(CKA_VALUE, longValue).add(CKA_LABEL, "xy"));
    jobjectArray values = readMany(object, {CKA_ID, CKA_VALUE, CKA_LABEL, CKA_ID});
    expectNoException();
    ASSERT_NE(values, nullptr);
    ASSERT_EQ(env->GetArrayLength(values), 4);
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(valueAt(values, 0))), "abc");
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(valueAt(values, 1))), longValue);
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(valueAt(values, 2))), "xy");
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(valueAt(values, 3))), "abc");
    EXPECT_EQ(mock.p11mock_log_count("C_GetAttributeValue"), 4u) << "one call per attribute";
}

TEST_F(ObjectsTest, MissingTypeThrowsAloneButIsNullInAList) {
    const CK_OBJECT_HANDLE object = addObject(ModuleTemplate().add(CKA_LABEL, "present"));
    EXPECT_EQ(readOne(object, CKA_ID), nullptr);
    expectRv("J_GetAttributeValue", CKR_ATTRIBUTE_TYPE_INVALID);

    jobjectArray values = readMany(object, {CKA_ID, CKA_LABEL});
    expectNoException();
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(attributeType(env->GetObjectArrayElement(values, 0)), static_cast<jint>(CKA_ID));
    EXPECT_EQ(valueAt(values, 0), nullptr);
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(valueAt(values, 1))), "present");
}

TEST_F(ObjectsTest, SensitiveValuesFailBothForms) {
    const CK_OBJECT_HANDLE key =
        addObject(ModuleTemplate().add(CKA_LABEL, "k").add(CKA_VALUE, "secret"));
    mock.p11mock_set_sensitive(key, CKA_VALUE);
    EXPECT_EQ(readOne(key, CKA_VALUE), nullptr);
    expectRv("J_GetAttributeValue", CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(readMany(key, {CKA_LABEL, CKA_VALUE}), nullptr);
    expectRv("J_GetAttributeValue", CKR_ATTRIBUTE_SENSITIVE);
}

TEST_F(ObjectsTest, ValuesLongerThanTheReadBufferComeBackWhole) {
    std::string certificate(5000, '\0');
    for (std::size_t i = 0; i < certificate.size(); ++i) certificate[i] = static_cast<char>(i * 7);
    const CK_OBJECT_HANDLE object =
        addObject(ModuleTemplate().add(CKA_VALUE, certificate).add(CKA_LABEL, "cert"));
    jobject one = readOne(object, CKA_VALUE);
    expectNoException();
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(attributeValue(one))), certificate);

    jobjectArray many = readMany(object, {CKA_LABEL, CKA_VALUE, CKA_LABEL});
    expectNoException();
    ASSERT_NE(many, nullptr);
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(valueAt(many, 1))), certificate);
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(valueAt(many, 2))), "cert");
}

TEST_F(ObjectsTest, AModuleClaimingMoreThanItWasGivenIsRefused) {
    const CK_OBJECT_HANDLE object = addObject(
        ModuleTemplate().add(CKA_VALUE, "short").add(CKA_CLASS, CK_ULONG(CKO_DATA)));
    mock.p11mock_report_len_next("C_GetAttributeValue", kAttributeReadBufferSize + 1);
    EXPECT_EQ(readOne(object, CKA_VALUE), nullptr);
    expectFailure("J_GetAttributeValue", 5, "Module returned a length larger than the buffer");
    mock.p11mock_report_len_next("C_GetAttributeValue", 9);
    EXPECT_EQ(readMany(object, {CKA_CLASS}), nullptr) << "8 bytes primed, 9 claimed";
    expectFailure("J_GetAttributeValue", 5, "Module returned a length larger than the buffer");
}

TEST_F(ObjectsTest, IntegerValuesAboveTheIntRangeGiveTheirLow32Bits) {
    const CK_OBJECT_HANDLE object =
        addObject(ModuleTemplate().add(CKA_MODULUS_BITS, CK_ULONG(0x1'0000'0800ull)));
    jobject bits = readOne(object, CKA_MODULUS_BITS);
    expectNoException();
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(callInt(attributeValue(bits), "intValue"), 0x800);
}

TEST_F(ObjectsTest, FailedWritesReleaseTheirTemplates) {
    // Run under the sanitizer build, a template kept by any of these would be a leak.
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(env->PushLocalFrame(32), JNI_OK);
        Java_qorvik_nat_NativeSession_J_1SetAttributeValue(
            env, session, 0x7777,
            attributeArray({{CKA_LABEL, str("x")}, {CKA_VALUE, javaBytes("abc")},
                            {CKA_TOKEN, javaBoolean(true)}, {CKA_CLASS, javaInteger(1)}}));
        expectRv("J_SetAttributeValue", CKR_OBJECT_HANDLE_INVALID);
        Java_qorvik_nat_NativeSession_J_1SetAttributeValue(
            env, session, 0x7777, attributeArray({{CKA_LABEL, str("x")}, {CKA_VALUE, javaLong(1)}}));
        expectFailure("J_SetAttributeValue", 5, "Attribute2CKAttribute - unsupported value class");
        env->PopLocalFrame(nullptr);
    }
}

TEST_F(ObjectsTest, NothingReachesTheModuleBeforeInitialize) {
    resetBridge();
    mock.p11mock_log_clear();
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1CreateObject(env, session, nullptr), 0);
    expectRv("J_CreateObject", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(readOne(1, CKA_LABEL), nullptr);
    expectRv("J_GetAttributeValue", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(env, session,
                                                                                  nullptr),
              nullptr);
    expectRv("J_FindObjects", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(mock.p11mock_log_size(), 0u);
}

}  // namespace
}  // namespace kt
