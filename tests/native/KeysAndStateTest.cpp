// Key management, dual-function updates, random numbers and operation state.
#include <cstring>
#include <string>
#include <vector>

#include "BridgeTest.h"

namespace kt {
namespace {

class KeysTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(mock);
        session = Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(
            env, newSlot(1), CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_USER, str("1234"));
        ASSERT_NE(session, nullptr);
        jclass cls = env->GetObjectClass(session);
        handle = env->GetLongField(session, env->GetFieldID(cls, "m_sessionHandle", "J"));
    }
    jobject mechanism(CK_MECHANISM_TYPE type) {
        jclass cls = env->FindClass("qorvik/Mechanism");
        return env->NewObject(cls, env->GetMethodID(cls, "<init>", "(ILjava/lang/Object;)V"),
                              static_cast<jint>(type), nullptr);
    }
    jlong keyWithValue(const std::string& value) {
        std::string v = value;
        CK_ATTRIBUTE t[] = {{CKA_VALUE, v.data(), v.size()}};
        return static_cast<jlong>(mock.p11mock_add_object(t, 1));
    }
    jbyteArray wrap(jlong wrapping, jlong key) {
        return Java_qorvik_nat_NativeSession_J_1WrapKey(env, session, mechanism(CKM_AES_KEY_WRAP),
                                                        wrapping, key);
    }

    const Mock& mock = plainMock();
    jobject session = nullptr;
    jlong handle = 0;
};

TEST_F(KeysTest, GeneratedKeysAndPairsComeBackPublicFirst) {
    jlong secret = Java_qorvik_nat_NativeSession_J_1GenerateKey(
        env, session, mechanism(CKM_AES_KEY_GEN),
        attributeArray({{CKA_VALUE_LEN, javaInteger(32)}, {CKA_LABEL, str("aes")}}));
    expectNoException();
    EXPECT_NE(secret, 0);
    const std::string record = mock.lastBuffer("C_GenerateKey", 0);
    ASSERT_GE(record.size(), sizeof(CK_ULONG));
    CK_ULONG type = 0;
    std::memcpy(&type, record.data(), sizeof type);
    EXPECT_EQ(type, CKM_AES_KEY_GEN);

    jlongArray pair = Java_qorvik_nat_NativeSession_J_1GenerateKeyPair(
        env, session, mechanism(CKM_RSA_PKCS_KEY_PAIR_GEN),
        attributeArray({{CKA_LABEL, str("pub")}}), attributeArray({{CKA_LABEL, str("priv")}}));
    expectNoException();
    ASSERT_NE(pair, nullptr);
    ASSERT_EQ(env->GetArrayLength(pair), 2);
    jlong handles[2];
    env->GetLongArrayRegion(pair, 0, 2, handles);
    jobject first = Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(env, session, handles[0],
                                                                           CKA_LABEL);
    jobject second = Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(env, session,
                                                                            handles[1], CKA_LABEL);
    expectNoException();
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(attributeValue(first))), "pub");
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(attributeValue(second))), "priv");
}

TEST_F(KeysTest, TemplateThenMechanismAreConvertedAndFreedOnFailure) {
    mock.p11mock_log_clear();
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1GenerateKey(
                  env, session, nullptr, attributeArray({{CKA_LABEL, javaLong(1)}})),
              0);
    expectFailure("J_GenerateKey", 5, "Attribute2CKAttribute - unsupported value class");
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1GenerateKey(env, session, nullptr,
                                                           attributeArray({{CKA_LABEL, str("x")}})),
              0);
    expectFailure("J_GenerateKey", 5, "Mechanism2CKMechanism - mechanism is NULL");
    EXPECT_EQ(mock.p11mock_log_size(), 0u);
}

TEST_F(KeysTest, WrappingGrowsToTheExactLengthAndUnwrapsBack) {
    const std::string value(1500, '\x42');
    const jlong wrapping = keyWithValue("wrap-key");
    const jlong key = keyWithValue(value);
    mock.p11mock_log_clear();
    jbyteArray wrapped = wrap(wrapping, key);
    expectNoException();
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(env->GetArrayLength(wrapped), 1500);
    ASSERT_EQ(mock.p11mock_log_count("C_WrapKey"), 2u);
    EXPECT_EQ(mock.lastArg("C_WrapKey", 5), 1500u) << "second call with exactly the length asked";

    // Unwrap the 20 bytes from index 4 of a larger array.
    jbyteArray shortWrapped = wrap(wrapping, keyWithValue(std::string(20, '\x07')));
    const std::string padded = "PAD!" + bytesOf(shortWrapped) + "TAIL";
    jlong unwrapped = Java_qorvik_nat_NativeSession_J_1UnwrapKey(
        env, session, mechanism(CKM_AES_KEY_WRAP), wrapping, javaBytes(padded), 4, 20,
        attributeArray({{CKA_LABEL, str("back")}}));
    expectNoException();
    ASSERT_NE(unwrapped, 0);
    EXPECT_EQ(mock.lastBuffer("C_UnwrapKey", 1), bytesOf(shortWrapped));
    jobject back =
        Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(env, session, unwrapped, CKA_VALUE);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(attributeValue(back))), std::string(20, '\x07'));
}

TEST_F(KeysTest, WrappingFailures) {
    const jlong wrapping = keyWithValue("k");
    const jlong key = keyWithValue("v");
    mock.p11mock_buffer_too_small_next("C_WrapKey", 0);
    EXPECT_EQ(wrap(wrapping, key), nullptr);
    expectRv("J_WrapKey", CKR_BUFFER_TOO_SMALL);
    mock.p11mock_report_len_next("C_WrapKey", 2000);
    EXPECT_EQ(wrap(wrapping, key), nullptr);
    expectFailure("J_WrapKey", 5, "Module returned a length larger than the buffer");
    for (unsigned n = 1; n <= 12; ++n) mock.p11mock_fail_nth("C_WrapKey", n, CKR_BUFFER_TOO_SMALL);
    mock.p11mock_log_clear();
    EXPECT_EQ(wrap(wrapping, key), nullptr);
    expectRv("J_WrapKey", CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(mock.p11mock_log_count("C_WrapKey"), 9u) << "bounded retries";
    mock.p11mock_clear_faults();
}

TEST_F(KeysTest, UnwrapChecksItsWindow) {
    mock.p11mock_log_clear();
    jobject m = mechanism(CKM_AES_KEY_WRAP);
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1UnwrapKey(env, session, m, 1, nullptr, 0, 0, nullptr),
              0);
    expectFailure("J_UnwrapKey", 5, "pWrappedKey is NULL");
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1UnwrapKey(env, session, m, 1, javaBytes("short"), 4,
                                                         20, nullptr),
              0);
    expectFailure("J_UnwrapKey", 5, "Array offset or length out of range");
    EXPECT_EQ(mock.p11mock_log_count("C_UnwrapKey"), 0u);
}

TEST_F(KeysTest, DeriveReturnsTheHandleTheModuleMade) {
    const jlong base = keyWithValue("base");
    jlong derived = Java_qorvik_nat_NativeSession_J_1DeriveKey(
        env, session, mechanism(CKM_SHA256_KEY_DERIVATION), base,
        attributeArray({{CKA_LABEL, str("derived")}}));
    expectNoException();
    EXPECT_NE(derived, 0);
    EXPECT_NE(derived, base);
}

// ---- Dual-function updates, random numbers, operation state -----------------

TEST_F(KeysTest, DualFunctionUpdateQueriesTheLengthThenFills) {
    const jlong key = keyWithValue("\x01\x02");
    Java_qorvik_nat_NativeSession_J_1DigestUpdate(env, session, handle, JNI_TRUE,
                                                  mechanism(CKM_SHA_1), javaBytes(""), 0, 0);
    Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
        env, session, handle, JNI_TRUE, mechanism(CKM_AES_ECB), key, javaBytes(""), 0, 0, nullptr,
        0);
    expectNoException();
    jbyteArray data = javaBytes("0123456789");
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1DigestEncryptUpdate(env, session, data, 2, 6,
                                                                    nullptr, 0),
              6)
        << "length query";
    jbyteArray small = javaBytes("xyz");
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1DigestEncryptUpdate(env, session, data, 2, 6, small,
                                                                    0),
              0);
    expectRv("J_DigestEncryptUpdate", CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(bytesOf(small), "xyz");
    jbyteArray out = javaBytes(std::string(8, '-'));
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1DigestEncryptUpdate(env, session, data, 2, 6, out, 1),
              6);
    expectNoException();
    EXPECT_EQ(bytesOf(out)[0], '-');
    EXPECT_EQ(bytesOf(out)[7], '-');
}

TEST_F(KeysTest, DualFunctionUpdateWithoutActiveOperations) {
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1DecryptDigestUpdate(env, session, javaBytes("ab"), 0,
                                                                    2, nullptr, 0),
              0);
    expectRv("J_DecryptDigestUpdate", CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1SignEncryptUpdate(env, session, nullptr, 0, 0,
                                                                  nullptr, 0),
              0);
    expectFailure("J_SignEncryptUpdate", 5, "DataPart is NULL");
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1DecryptVerifyUpdate(env, session, javaBytes("ab"),
                                                                    1, 2, nullptr, 0),
              0);
    expectFailure("J_DecryptVerifyUpdate", 5, "Array offset or length out of range");
}

TEST_F(KeysTest, OperationStateRoundTrip) {
    Java_qorvik_nat_NativeSession_J_1DigestUpdate(env, session, handle, JNI_TRUE,
                                                  mechanism(CKM_SHA_1), javaBytes("partial"), 0, 7);
    jbyteArray state = Java_qorvik_nat_NativeSession_J_1GetOperationState(env, session);
    expectNoException();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(mock.p11mock_log_count("C_GetOperationState"), 2u);
    Java_qorvik_nat_NativeSession_J_1SetOperationState(env, session, state, 0, 0);
    expectNoException();
    EXPECT_EQ(mock.lastBuffer("C_SetOperationState", 0), bytesOf(state));

    Java_qorvik_nat_NativeSession_J_1SetOperationState(env, session, nullptr, 0, 0);
    expectFailure("J_SetOperationState", 5, "OperationState is NULL");
}

TEST_F(KeysTest, EmptyOperationStateIsAFailure) {
    // The module answers the length query without touching the length.
    mock.p11mock_fail_next("C_GetOperationState", CKR_OK);
    mock.p11mock_log_clear();
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1GetOperationState(env, session), nullptr);
    expectFailure("J_GetOperationState", 5, "OperationStateLen == 0");
    EXPECT_EQ(mock.p11mock_log_count("C_GetOperationState"), 1u) << "no second call";
}

TEST_F(KeysTest, ParallelFunctionsAreNotSupported) {
    Java_qorvik_nat_NativeSession_J_1GetFunctionStatus(env, session);
    expectRv("J_GetFunctionStatus", CKR_FUNCTION_NOT_PARALLEL);
    Java_qorvik_nat_NativeSession_J_1CancelFunction(env, session);
    expectRv("J_CancelFunction", CKR_FUNCTION_NOT_PARALLEL);
}

TEST_F(KeysTest, RandomBytesWithAndWithoutSeed) {
    jbyteArray random = javaBytes(std::string(12, '\0'));
    Java_qorvik_nat_NativeSession_J_1GenerateRandom(env, session, handle, JNI_TRUE,
                                                    javaBytes("seed"), random, 2, 8);
    expectNoException();
    EXPECT_EQ(mock.lastBuffer("C_SeedRandom", 0), "seed");
    const std::string bytes = bytesOf(random);
    EXPECT_EQ(bytes.substr(0, 2), std::string(2, '\0'));
    EXPECT_EQ(bytes.substr(10), std::string(2, '\0'));
    EXPECT_NE(bytes.substr(2, 8), std::string(8, '\0'));

    Java_qorvik_nat_NativeSession_J_1GenerateRandom(env, session, handle, JNI_FALSE, nullptr, random,
                                                    0, 0);
    expectNoException();
    EXPECT_EQ(mock.lastArg("C_GenerateRandom", 2), 0u);
    EXPECT_EQ(bytesOf(random), bytes) << "length 0: the array comes back unchanged";
}

TEST_F(KeysTest, RefusedSeedStopsTheGeneration) {
    jbyteArray random = javaBytes("unchanged");
    mock.p11mock_fail_next("C_SeedRandom", CKR_RANDOM_SEED_NOT_SUPPORTED);
    mock.p11mock_log_clear();
    Java_qorvik_nat_NativeSession_J_1GenerateRandom(env, session, handle, JNI_TRUE,
                                                    javaBytes("s"), random, 0, 9);
    expectFailure("J_SeedRandom", 0x120, "RANDOM SEED NOT SUPPORTED         ");
    Java_qorvik_nat_NativeSession_J_1GenerateRandom(env, session, handle, JNI_TRUE, nullptr, random,
                                                    0, 9);
    expectFailure("J_SeedRandom", 5, "Seed is NULL");
    EXPECT_EQ(mock.p11mock_log_count("C_GenerateRandom"), 0u);
    EXPECT_EQ(bytesOf(random), "unchanged");
    Java_qorvik_nat_NativeSession_J_1GenerateRandom(env, session, handle, JNI_FALSE, nullptr,
                                                    nullptr, 0, 1);
    expectFailure("J_GenerateRandom", 5, "Random is NULL");
    Java_qorvik_nat_NativeSession_J_1GenerateRandom(env, session, handle, JNI_FALSE, nullptr, random,
                                                    5, 5);
    expectFailure("J_GenerateRandom", 5, "Array offset or length out of range");
}

}  // namespace
}  // namespace kt
