// Encryption, decryption, digests, signatures and verification: the operation
// pattern, both output forms and every window over a Java array.
#include <climits>
#include <string>
#include <vector>

#include "BridgeTest.h"

namespace kt {
namespace {

const std::string kKey = "\x11\x22\x33";
const std::string kPlain = "the quick brown fox";

class CryptoTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(mock);
        session = Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(
            env, newSlot(1), CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_USER, str("1234"));
        ASSERT_NE(session, nullptr);
        jclass cls = env->GetObjectClass(session);
        handle = env->GetLongField(session, env->GetFieldID(cls, "m_sessionHandle", "J"));
        std::string value = kKey;
        CK_ATTRIBUTE t[] = {{CKA_VALUE, value.data(), value.size()}};
        key = static_cast<jlong>(mock.p11mock_add_object(t, 1));
    }
    jobject mechanism(CK_MECHANISM_TYPE type) {
        jclass cls = env->FindClass("qorvik/Mechanism");
        return env->NewObject(cls, env->GetMethodID(cls, "<init>", "(ILjava/lang/Object;)V"),
                              static_cast<jint>(type), nullptr);
    }
    std::string toyCipher(const std::string& in) {
        std::string out(in.size(), '\0');
        mock.p11mock_toy_cipher(static_cast<CK_OBJECT_HANDLE>(key),
                                reinterpret_cast<const unsigned char*>(in.data()), in.size(),
                                reinterpret_cast<unsigned char*>(out.data()));
        return out;
    }
    std::string toySignature(const std::string& data) {
        std::string out(512, '\0');
        const CK_ULONG n = mock.p11mock_toy_signature(
            static_cast<CK_OBJECT_HANDLE>(key), CKM_SHA256_RSA_PKCS,
            reinterpret_cast<const unsigned char*>(data.data()), data.size(),
            reinterpret_cast<unsigned char*>(out.data()), out.size());
        out.resize(n);
        return out;
    }
    std::string toyDigest(CK_MECHANISM_TYPE m, const std::string& data) {
        std::string out(mock.p11mock_digest_length(m), '\0');
        mock.p11mock_toy_digest(m, reinterpret_cast<const unsigned char*>(data.data()), data.size(),
                                reinterpret_cast<unsigned char*>(out.data()));
        return out;
    }
    jbyteArray encrypt(jboolean init, jbyteArray data, jint off, jint len) {
        return Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
            env, session, handle, init, mechanism(CKM_AES_ECB), key, data, off, len);
    }
    jint encryptInto(jboolean init, jbyteArray data, jint off, jint len, jbyteArray out,
                     jint outOff) {
        return Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII_3BI(
            env, session, handle, init, mechanism(CKM_AES_ECB), key, data, off, len, out, outOff);
    }
    jbyteArray sign(jbyteArray data) {
        return Java_qorvik_nat_NativeSession_J_1Sign__JZLqorvik_Mechanism_2J_3BII(
            env, session, handle, JNI_TRUE, mechanism(CKM_SHA256_RSA_PKCS), key, data, 0,
            env->GetArrayLength(data));
    }
    void verify(const std::string& data, const std::string& signature) {
        Java_qorvik_nat_NativeSession_J_1Verify(
            env, session, handle, JNI_TRUE, mechanism(CKM_SHA256_RSA_PKCS), key, javaBytes(data), 0,
            static_cast<jint>(data.size()), javaBytes(signature), 0,
            static_cast<jint>(signature.size()));
    }

    const Mock& mock = plainMock();
    jobject session = nullptr;
    jlong handle = 0;
    jlong key = 0;
};

// ---- Encryption and decryption ----------------------------------------------

TEST_F(CryptoTest, SinglePartRoundTripInTheReturningForm) {
    jbyteArray cipher = encrypt(JNI_TRUE, javaBytes("xx" + kPlain + "yy"), 2,
                                static_cast<jint>(kPlain.size()));
    expectNoException();
    ASSERT_NE(cipher, nullptr);
    EXPECT_EQ(bytesOf(cipher), toyCipher(kPlain)) << "only the window is encrypted";
    EXPECT_EQ(mock.lastArg("C_Encrypt", 4), kPlain.size() + 512) << "first capacity";

    jbyteArray plain = Java_qorvik_nat_NativeSession_J_1Decrypt__JZLqorvik_Mechanism_2J_3BII(
        env, session, handle, JNI_TRUE, mechanism(CKM_AES_ECB), key, cipher, 0,
        env->GetArrayLength(cipher));
    expectNoException();
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(bytesOf(plain), kPlain);
}

TEST_F(CryptoTest, FillingFormAsksTheLengthThenWritesOnlyItsWindow) {
    jbyteArray data = javaBytes(kPlain);
    const jint len = static_cast<jint>(kPlain.size());
    EXPECT_EQ(encryptInto(JNI_TRUE, data, 0, len, nullptr, 0), len) << "length query";
    expectNoException();

    jbyteArray out = javaBytes(std::string(len + 8, '\x77'));
    EXPECT_EQ(encryptInto(JNI_FALSE, data, 0, len, out, 5), len);
    expectNoException();
    const std::string written = bytesOf(out);
    EXPECT_EQ(written.substr(0, 5), std::string(5, '\x77'));
    EXPECT_EQ(written.substr(5, len), toyCipher(kPlain));
    EXPECT_EQ(written.substr(5 + len), std::string(3, '\x77'));
}

TEST_F(CryptoTest, FillingFormTooSmallReportsAndLeavesTheArray) {
    jbyteArray out = javaBytes(std::string(4, '\x55'));
    mock.p11mock_log_clear();
    EXPECT_EQ(encryptInto(JNI_TRUE, javaBytes(kPlain), 0, static_cast<jint>(kPlain.size()), out, 0),
              0);
    expectRv("J_Encrypt", CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(bytesOf(out), std::string(4, '\x55'));
    EXPECT_EQ(mock.p11mock_log_count("C_Encrypt"), 1u) << "no retry, no growing";
}

TEST_F(CryptoTest, MultiPartWithBufferingAndZeroLengthOutput) {
    mock.p11mock_set_cipher_block(8);
    jbyteArray first = Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII(
        env, session, handle, JNI_TRUE, mechanism(CKM_AES_ECB), key, javaBytes("abc"), 0, 3);
    expectNoException();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(env->GetArrayLength(first), 0) << "buffered: an empty array, not null";

    jbyteArray out = javaBytes(std::string(16, '\0'));
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1EncryptUpdate__JZLqorvik_Mechanism_2J_3BII_3BI(
                  env, session, handle, JNI_FALSE, nullptr, 0, javaBytes("defghijkl"), 0, 9, out,
                  0),
              8);
    expectNoException();
    jbyteArray last = Java_qorvik_nat_NativeSession_J_1EncryptFinal__(env, session);
    expectNoException();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(bytesOf(out).substr(0, 8) + bytesOf(last), toyCipher("abcdefghijkl"));
}

TEST_F(CryptoTest, ReturningFormGrowsToWhatTheModuleAsks) {
    mock.p11mock_buffer_too_small_next("C_Encrypt", 700);
    mock.p11mock_log_clear();
    jbyteArray cipher = encrypt(JNI_TRUE, javaBytes(kPlain), 0, static_cast<jint>(kPlain.size()));
    expectNoException();
    ASSERT_NE(cipher, nullptr);
    EXPECT_EQ(bytesOf(cipher), toyCipher(kPlain));
    ASSERT_EQ(mock.p11mock_log_count("C_Encrypt"), 2u);
    EXPECT_EQ(mock.lastArg("C_Encrypt", 4), 700u) << "grown to exactly the length asked";
}

TEST_F(CryptoTest, ReturningFormGivesUpOnLengthZeroAndAfterEightGrowingAttempts) {
    mock.p11mock_buffer_too_small_next("C_Encrypt", 0);
    EXPECT_EQ(encrypt(JNI_TRUE, javaBytes(kPlain), 0, 3), nullptr);
    expectRv("J_Encrypt", CKR_BUFFER_TOO_SMALL);

    // The operation stays active after CKR_BUFFER_TOO_SMALL; now the module
    // keeps answering it without ever giving a usable length.
    for (unsigned n = 1; n <= 20; ++n) mock.p11mock_fail_nth("C_Encrypt", n, CKR_BUFFER_TOO_SMALL);
    mock.p11mock_log_clear();
    EXPECT_EQ(encrypt(JNI_FALSE, javaBytes(kPlain), 0, 3), nullptr);
    expectRv("J_Encrypt", CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(mock.p11mock_log_count("C_Encrypt"), 9u) << "the first call and 8 growing attempts";
    mock.p11mock_clear_faults();
}

TEST_F(CryptoTest, AModuleClaimingMoreThanItWasGivenIsRefused) {
    mock.p11mock_report_len_next("C_Encrypt", kPlain.size() + 513);
    EXPECT_EQ(encrypt(JNI_TRUE, javaBytes(kPlain), 0, static_cast<jint>(kPlain.size())), nullptr);
    expectFailure("J_Encrypt", 5, "Module returned a length larger than the buffer");

    jbyteArray out = javaBytes(std::string(kPlain.size(), '\0'));
    mock.p11mock_report_len_next("C_Encrypt", kPlain.size() + 1);
    EXPECT_EQ(encryptInto(JNI_TRUE, javaBytes(kPlain), 0, static_cast<jint>(kPlain.size()), out, 0),
              0);
    expectFailure("J_Encrypt", 5, "Module returned a length larger than the buffer");
}

TEST_F(CryptoTest, WindowsOutsideTheirArraysAreRefusedBeforeAnythingIsTouched) {
    jbyteArray data = javaBytes("0123456789");
    struct Window {
        jint off, len;
    } bad[] = {{-1, 2}, {0, -1}, {8, 3}, {11, 0}, {INT_MAX, INT_MAX}, {INT_MIN, 1}};
    mock.p11mock_log_clear();
    for (const Window& w : bad) {
        EXPECT_EQ(encrypt(JNI_FALSE, data, w.off, w.len), nullptr);
        expectFailure("J_Encrypt", 5, "Array offset or length out of range");
    }
    jbyteArray out = javaBytes("abc");
    for (jint off : {-1, 4, INT_MAX}) {
        EXPECT_EQ(encryptInto(JNI_FALSE, data, 0, 4, out, off), 0);
        expectFailure("J_Encrypt", 5, "Array offset or length out of range");
    }
    EXPECT_EQ(mock.p11mock_log_count("C_Encrypt"), 0u);
    EXPECT_EQ(bytesOf(out), "abc");
    // The whole array and an empty window at its end are fine.
    mock.p11mock_log_clear();
    encryptInto(JNI_TRUE, data, 10, 0, out, 3);
    expectNoException();
    EXPECT_EQ(mock.p11mock_log_count("C_Encrypt"), 1u);
}

TEST_F(CryptoTest, FailedStartIsReportedByTheStartRoutineAndStopsTheMethod) {
    jbyteArray out = javaBytes("unchanged");
    mock.p11mock_log_clear();
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII_3BI(
                  env, session, handle, JNI_TRUE, nullptr, key, javaBytes(kPlain), 0, 3, out, 0),
              0);
    expectFailure("J_EncryptInit", 5, "Mechanism2CKMechanism - mechanism is NULL");
    EXPECT_EQ(mock.p11mock_log_count("C_EncryptInit"), 0u);

    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1Decrypt__JZLqorvik_Mechanism_2J_3BII(
                  env, session, handle, JNI_TRUE, mechanism(CKM_AES_ECB), 0x7777,
                  javaBytes(kPlain), 0, 3),
              nullptr);
    expectRv("J_DecryptInit", CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(mock.p11mock_log_count("C_Encrypt") + mock.p11mock_log_count("C_Decrypt"), 0u)
        << "no data call after a failed start";
    EXPECT_EQ(bytesOf(out), "unchanged");
}

TEST_F(CryptoTest, WithoutTheStartFlagTheMechanismIsNeverRead) {
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
                  env, session, handle, JNI_FALSE, nullptr, 0, javaBytes(kPlain), 0, 3),
              nullptr);
    expectRv("J_Encrypt", CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(mock.p11mock_log_count("C_Encrypt"), 1u) << "the data call reached the module";
}

TEST_F(CryptoTest, StartedOperationStaysActiveWhenTheInputIsMissing) {
    EXPECT_EQ(encrypt(JNI_TRUE, nullptr, 0, 0), nullptr);
    expectFailure("J_Encrypt", 5, "Data is NULL");
    Java_qorvik_nat_NativeSession_J_1DecryptInit(env, session, handle, mechanism(CKM_AES_ECB), key);
    expectNoException();
    jbyteArray cipher = encrypt(JNI_FALSE, javaBytes(kPlain), 0, static_cast<jint>(kPlain.size()));
    expectNoException();
    ASSERT_NE(cipher, nullptr);
    EXPECT_EQ(bytesOf(cipher), toyCipher(kPlain));
}

// ---- Digests -----------------------------------------------------------------

TEST_F(CryptoTest, DigestsOfEveryLengthComeBackWhole) {
    for (CK_MECHANISM_TYPE m : {CKM_SHA_1, CKM_MD5, CKM_SHA256, CKM_SHA512}) {
        jbyteArray digest = Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
            env, session, handle, JNI_TRUE, mechanism(m), javaBytes(kPlain), 0,
            static_cast<jint>(kPlain.size()));
        expectNoException();
        ASSERT_NE(digest, nullptr);
        EXPECT_EQ(bytesOf(digest), toyDigest(m, kPlain)) << "mechanism 0x" << std::hex << m;
    }
    // A digest longer than the first buffer grows it.
    mock.p11mock_buffer_too_small_next("C_Digest", 80);
    mock.p11mock_log_clear();
    jbyteArray grown = Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
        env, session, handle, JNI_TRUE, mechanism(CKM_SHA512), javaBytes(kPlain), 0,
        static_cast<jint>(kPlain.size()));
    expectNoException();
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(bytesOf(grown), toyDigest(CKM_SHA512, kPlain));
    EXPECT_EQ(mock.p11mock_log_count("C_Digest"), 2u);
}

TEST_F(CryptoTest, DigestOfNoInput) {
    jbyteArray empty = Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
        env, session, handle, JNI_TRUE, mechanism(CKM_SHA_1), nullptr, 0, 0);
    expectNoException();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(bytesOf(empty), toyDigest(CKM_SHA_1, ""));
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
                  env, session, handle, JNI_TRUE, mechanism(CKM_SHA_1), nullptr, 0, 5),
              nullptr);
    expectFailure("J_Digest", 5, "Data is NULL");
}

TEST_F(CryptoTest, MultiPartDigestEqualsTheSinglePartOne) {
    Java_qorvik_nat_NativeSession_J_1DigestUpdate(env, session, handle, JNI_TRUE,
                                                  mechanism(CKM_SHA256), javaBytes("the quick"), 0,
                                                  9);
    Java_qorvik_nat_NativeSession_J_1DigestUpdate(env, session, handle, JNI_FALSE, nullptr,
                                                  javaBytes(kPlain), 9,
                                                  static_cast<jint>(kPlain.size()) - 9);
    jbyteArray out = javaBytes(std::string(40, '\0'));
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1DigestFinal___3BI(env, session, out, 8), 32);
    expectNoException();
    EXPECT_EQ(bytesOf(out).substr(8), toyDigest(CKM_SHA256, kPlain));
}

TEST_F(CryptoTest, DigestKeyNeedsAStartedDigest) {
    Java_qorvik_nat_NativeSession_J_1DigestKey(env, session, handle, JNI_FALSE, nullptr, key);
    expectRv("J_DigestKey", CKR_OPERATION_NOT_INITIALIZED);
    Java_qorvik_nat_NativeSession_J_1DigestKey(env, session, handle, JNI_TRUE,
                                               mechanism(CKM_SHA_1), key);
    expectNoException();
    jbyteArray digest = Java_qorvik_nat_NativeSession_J_1DigestFinal__(env, session);
    ASSERT_NE(digest, nullptr);
    EXPECT_EQ(bytesOf(digest), toyDigest(CKM_SHA_1, kKey));
}

// ---- Signatures and verification ----------------------------------------------

TEST_F(CryptoTest, SignAsksTheLengthThenSignsIntoExactlyThatMuch) {
    mock.p11mock_log_clear();
    jbyteArray signature = sign(javaBytes(kPlain));
    expectNoException();
    ASSERT_NE(signature, nullptr);
    const std::string expected = toySignature(kPlain);
    EXPECT_EQ(bytesOf(signature), expected);
    ASSERT_EQ(mock.p11mock_log_count("C_Sign"), 2u);
    const long second = mock.p11mock_log_last("C_Sign");
    EXPECT_EQ(mock.p11mock_log_arg(second - 1, 3), 0u) << "the first call is a length query";
    EXPECT_EQ(mock.p11mock_log_arg(second, 4), expected.size());

    verify(kPlain, expected);
    expectNoException();
}

TEST_F(CryptoTest, SignRefusedAtTheLengthQuery) {
    mock.p11mock_fail_next("C_Sign", CKR_KEY_FUNCTION_NOT_PERMITTED);
    mock.p11mock_log_clear();
    EXPECT_EQ(sign(javaBytes(kPlain)), nullptr);
    expectRv("J_Sign", CKR_KEY_FUNCTION_NOT_PERMITTED);
    EXPECT_EQ(mock.p11mock_log_count("C_Sign"), 1u);
}

TEST_F(CryptoTest, VerificationFailuresKeepTheirCodes) {
    std::string signature = toySignature(kPlain);
    signature[0] ^= 1;
    verify(kPlain, signature);
    expectFailure("J_Verify", 0xC0, "SIGNATURE INVALID                 ");

    Java_qorvik_nat_NativeSession_J_1VerifyUpdate(env, session, handle, JNI_TRUE,
                                                  mechanism(CKM_SHA256_RSA_PKCS), key,
                                                  javaBytes(kPlain), 0,
                                                  static_cast<jint>(kPlain.size()));
    expectNoException();
    Java_qorvik_nat_NativeSession_J_1VerifyFinal(env, session, javaBytes("short"), 0, 5);
    expectFailure("J_VerifyFinal", 0xC1, "SIGNATURE LEN RANGE               ");
}

TEST_F(CryptoTest, MultiPartSignatureInTheFillingForm) {
    Java_qorvik_nat_NativeSession_J_1SignInit(env, session, handle, mechanism(CKM_SHA256_RSA_PKCS),
                                              key);
    Java_qorvik_nat_NativeSession_J_1SignUpdate(env, session, handle, JNI_FALSE, nullptr, 0,
                                                javaBytes(kPlain), 0,
                                                static_cast<jint>(kPlain.size()));
    const jint needed = Java_qorvik_nat_NativeSession_J_1SignFinal___3BI(env, session, nullptr, 0);
    expectNoException();
    jbyteArray out = javaBytes(std::string(static_cast<std::size_t>(needed), '\0'));
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1SignFinal___3BI(env, session, out, 0), needed);
    expectNoException();
    EXPECT_EQ(bytesOf(out), toySignature(kPlain));
}

TEST_F(CryptoTest, SignRecoverGrowsOnceAndVerifyRecoverGivesTheDataBack) {
    Java_qorvik_nat_NativeSession_J_1SignRecoverInit(env, session, mechanism(CKM_RSA_X_509), key);
    expectNoException();
    mock.p11mock_buffer_too_small_next("C_SignRecover", 600);
    mock.p11mock_log_clear();
    jbyteArray signature =
        Java_qorvik_nat_NativeSession_J_1SignRecover___3BII(env, session, javaBytes(kPlain), 0,
                                                            static_cast<jint>(kPlain.size()));
    expectNoException();
    ASSERT_NE(signature, nullptr);
    EXPECT_EQ(mock.p11mock_log_count("C_SignRecover"), 2u);

    Java_qorvik_nat_NativeSession_J_1VerifyRecoverInit(env, session, mechanism(CKM_RSA_X_509), key);
    jbyteArray recovered = Java_qorvik_nat_NativeSession_J_1VerifyRecover___3BII(
        env, session, signature, 0, env->GetArrayLength(signature));
    expectNoException();
    ASSERT_NE(recovered, nullptr);
    EXPECT_EQ(bytesOf(recovered), kPlain);
}

TEST_F(CryptoTest, RecoveryStartConvertsTheMechanismBeforeLookingAtTheSession) {
    mock.p11mock_log_clear();
    Java_qorvik_nat_NativeSession_J_1SignRecoverInit(env, session, nullptr, key);
    expectFailure("J_SignRecoverInit", 5, "Mechanism2CKMechanism - mechanism is NULL");
    EXPECT_EQ(mock.p11mock_log_size(), 0u);
}

// ---- Before Initialize --------------------------------------------------------

TEST_F(CryptoTest, NothingStartsBeforeInitialize) {
    resetBridge();
    mock.p11mock_log_clear();
    EXPECT_EQ(encrypt(JNI_TRUE, nullptr, 0, 0), nullptr);
    expectRv("J_Encrypt", CKR_CRYPTOKI_NOT_INITIALIZED);
    Java_qorvik_nat_NativeSession_J_1DecryptInit(env, session, handle, nullptr, key);
    expectRv("J_DecryptInit", CKR_CRYPTOKI_NOT_INITIALIZED);
    Java_qorvik_nat_NativeSession_J_1SignInit(env, session, handle, nullptr, key);
    expectRv("J_SignInit", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1DigestFinal__(env, session), nullptr);
    expectRv("J_DigestFinal", CKR_CRYPTOKI_NOT_INITIALIZED);
    Java_qorvik_nat_NativeSession_J_1VerifyFinal(env, session, nullptr, 0, 0);
    expectRv("J_VerifyFinal", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(mock.p11mock_log_size(), 0u);
}

}  // namespace
}  // namespace kt
