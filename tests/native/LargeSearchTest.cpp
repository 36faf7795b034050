// A search over 50,000 matching objects (and decoys between them), in both
// forms: every handle comes back once, in the module's order, with its own
// values, and the module sees one search of batches of 50 ended once.
#include <cstring>
#include <string>
#include <vector>

#include "BridgeTest.h"

namespace kt {
namespace {

constexpr int kMatches = 50000;
constexpr int kDecoyEvery = 7;  // a non-matching object after every 7th match
// Handles start just below 2^31 so that the result crosses the int range.
constexpr CK_OBJECT_HANDLE kFirstHandle = 0x7FFFC000;
const std::string kLabel = "large-search";

// The distinct values of match number i.
std::string idOf(int i) {
    return "id-" + std::to_string(i);
}
CK_ULONG valueLenOf(int i) {
    return static_cast<CK_ULONG>(i) * 3 + 1;
}
std::string valueOf(int i) {
    std::string v(static_cast<std::size_t>(16 + i % 33), '\0');
    for (std::size_t k = 0; k < v.size(); ++k) v[k] = static_cast<char>((i * 31 + k * 7) & 0xFF);
    return v;
}

class LargeSearchTest : public BridgeTest {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(mock);
        session = Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, newSlot(1), CKF_SERIAL_SESSION);
        ASSERT_NE(session, nullptr);
        mock.p11mock_set_object_handle_base(kFirstHandle);
        std::string decoyLabel = "decoy";
        for (int i = 0; i < kMatches; ++i) {
            std::string label = kLabel, id = idOf(i), value = valueOf(i);
            CK_ULONG valueLen = valueLenOf(i);
            CK_ATTRIBUTE t[] = {{CKA_LABEL, label.data(), label.size()},
                                {CKA_ID, id.data(), id.size()},
                                {CKA_VALUE_LEN, &valueLen, sizeof valueLen},
                                {CKA_VALUE, value.data(), value.size()}};
            matches.push_back(mock.p11mock_add_object(t, 4));
            ASSERT_NE(matches.back(), CK_INVALID_HANDLE);
            if (i % kDecoyEvery == 0) {
                CK_ATTRIBUTE d[] = {{CKA_LABEL, decoyLabel.data(), decoyLabel.size()},
                                    {CKA_ID, id.data(), id.size()}};
                decoys.push_back(mock.p11mock_add_object(d, 2));
            }
        }
        ASSERT_GT(matches.back(), CK_OBJECT_HANDLE{0x7FFFFFFF}) << "handles cross the int range";
        ASSERT_EQ(mock.p11mock_object_count(), matches.size() + decoys.size());
        mock.p11mock_log_clear();
    }

    jobjectArray byLabel() { return attributeArray({{CKA_LABEL, javaBytes(kLabel)}}); }
    std::vector<jlong> longs(jlongArray a) {
        std::vector<jlong> out(static_cast<std::size_t>(env->GetArrayLength(a)));
        env->GetLongArrayRegion(a, 0, static_cast<jsize>(out.size()), out.data());
        return out;
    }
    // One C_FindObjectsInit, a C_FindObjects per 50 handles plus the empty
    // one that ends the search, one C_FindObjectsFinal.
    void expectOneSearchOf(std::size_t found) {
        EXPECT_EQ(mock.p11mock_log_count("C_FindObjectsInit"), 1u);
        EXPECT_EQ(mock.p11mock_log_count("C_FindObjects"), found / 50 + 1);
        EXPECT_EQ(mock.p11mock_log_count("C_FindObjectsFinal"), 1u);
        const long last = mock.p11mock_log_last("C_FindObjectsFinal");
        ASSERT_GE(last, 0);
        EXPECT_EQ(mock.p11mock_log_rv(static_cast<size_t>(last)), CKR_OK);
    }

    const Mock& mock = plainMock();
    jobject session = nullptr;
    std::vector<CK_OBJECT_HANDLE> matches;
    std::vector<CK_OBJECT_HANDLE> decoys;
};

TEST_F(LargeSearchTest, HandleFormReturnsEveryMatchWhole) {
    jlongArray found = Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(
        env, session, byLabel());
    expectNoException();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(longs(found), std::vector<jlong>(matches.begin(), matches.end()));
    expectOneSearchOf(matches.size());

    // A null template sees every object, decoys included, in the module's order.
    mock.p11mock_log_clear();
    jlongArray all =
        Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(env, session, nullptr);
    expectNoException();
    ASSERT_NE(all, nullptr);
    std::vector<jlong> expected;
    for (std::size_t i = 0, d = 0; i < matches.size(); ++i) {
        expected.push_back(static_cast<jlong>(matches[i]));
        if (i % kDecoyEvery == 0) expected.push_back(static_cast<jlong>(decoys[d++]));
    }
    EXPECT_EQ(longs(all), expected);
    expectOneSearchOf(expected.size());

    // One object among them all, found by its own value.
    const int pick = 37123;
    jlongArray one = Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(
        env, session,
        attributeArray({{CKA_LABEL, javaBytes(kLabel)},
                        {CKA_VALUE, javaBytes(valueOf(pick))},
                        {CKA_ID, javaBytes(idOf(pick))}}));
    expectNoException();
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(longs(one), std::vector<jlong>{static_cast<jlong>(matches[pick])});
}

TEST_F(LargeSearchTest, ObjectFormReadsEachObjectsOwnValues) {
    jobjectArray found = Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2_3I(
        env, session, byLabel(), intArray({CKA_ID, CKA_VALUE_LEN, CKA_VALUE}));
    expectNoException();
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(env->GetArrayLength(found), kMatches);
    expectOneSearchOf(matches.size());
    EXPECT_EQ(mock.p11mock_log_count("C_GetAttributeValue"), 3u * kMatches);

    int wrong = 0;
    for (int i = 0; i < kMatches && wrong < 10; ++i) {
        ASSERT_EQ(env->PushLocalFrame(16), JNI_OK);
        jobject object = env->GetObjectArrayElement(found, i);
        // The handle crosses as its low 32 bits, kept unsigned by the class.
        const jlong handle = callLong(object, "getHandle");
        auto attributes =
            static_cast<jobjectArray>(callObject(object, "getAttributes", "()[Lqorvik/Attribute;"));
        bool ok = handle == static_cast<jlong>(matches[static_cast<std::size_t>(i)] & 0xFFFFFFFF) &&
                  attributes != nullptr && env->GetArrayLength(attributes) == 3;
        if (ok) {
            jobject id = env->GetObjectArrayElement(attributes, 0);
            jobject len = env->GetObjectArrayElement(attributes, 1);
            jobject value = env->GetObjectArrayElement(attributes, 2);
            jobject idValue = attributeValue(id);
            jobject lenValue = attributeValue(len);
            jobject valueValue = attributeValue(value);
            ok = attributeType(id) == CKA_ID && attributeType(len) == CKA_VALUE_LEN &&
                 attributeType(value) == CKA_VALUE && idValue != nullptr && lenValue != nullptr &&
                 valueValue != nullptr && bytesOf(static_cast<jbyteArray>(idValue)) == idOf(i) &&
                 callInt(lenValue, "intValue") == static_cast<jint>(valueLenOf(i)) &&
                 bytesOf(static_cast<jbyteArray>(valueValue)) == valueOf(i);
        }
        if (!ok) {
            ++wrong;
            ADD_FAILURE() << "object " << i << " (handle 0x" << std::hex << matches[i] << std::dec
                          << ") came back with the wrong handle or values";
        }
        env->PopLocalFrame(nullptr);
    }
}

}  // namespace
}  // namespace kt
