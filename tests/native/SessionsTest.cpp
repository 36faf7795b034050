// Sessions, login, PIN administration and the signer-PIN callback.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <string>

#include "BridgeTest.h"

namespace fs = std::filesystem;

namespace kt {
namespace {

constexpr jint kRwSerial = CKF_SERIAL_SESSION | CKF_RW_SESSION;

// "p\u00e9\u20ac" and U+1F600, as Java holds them (UTF-16).
const jchar kNonAsciiPin[] = {'p', 0xE9, 0x20AC, 0xD83D, 0xDE00};
// Their modified UTF-8 form: the supplementary character as two 3-byte surrogates.
const std::string kNonAsciiPinModifiedUtf8 =
    "p\xC3\xA9\xE2\x82\xAC\xED\xA0\xBD\xED\xB8\x80";

class SessionsTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(mock);
        slot = newSlot(1);
    }
    jobject open(jint flags) {
        return Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, slot, flags);
    }
    jobject openAndLogin(jint flags, jbyte user, jstring pin) {
        return Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(env, slot, flags,
                                                                               user, pin);
    }
    jlong handleOf(jobject session) {
        jclass cls = env->GetObjectClass(session);
        jlong h = env->GetLongField(session, env->GetFieldID(cls, "m_sessionHandle", "J"));
        env->DeleteLocalRef(cls);
        return h;
    }
    jobject sessionInfo(jobject session) {
        return Java_qorvik_nat_NativeSession_J_1GetSessionInfo(env, session);
    }
    void login(jobject session, jbyte user, jstring pin) {
        Java_qorvik_nat_NativeSession_J_1Login(env, session, user, pin);
    }
    jstring nonAsciiPin() {
        return env->NewString(kNonAsciiPin, sizeof kNonAsciiPin / sizeof kNonAsciiPin[0]);
    }

    const Mock& mock = plainMock();
    jobject slot = nullptr;
};

TEST_F(SessionsTest, OpenPassesTheFlagsExactlyAndNoCallback) {
    jobject session = open(kRwSerial);
    expectNoException();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(mock.lastArg("C_OpenSession", 0), 1u);
    EXPECT_EQ(mock.lastArg("C_OpenSession", 1), static_cast<CK_ULONG>(kRwSerial));
    EXPECT_EQ(mock.lastArg("C_OpenSession", 2), 0u) << "no application pointer";
    EXPECT_EQ(mock.lastArg("C_OpenSession", 3), 0u) << "no notification callback";
    EXPECT_EQ(mock.p11mock_session_count(), 1u);

    jobject info = sessionInfo(session);
    expectNoException();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(callInt(info, "getSlotID"), 1);
    EXPECT_EQ(callInt(info, "getState"), static_cast<jint>(CKS_RW_PUBLIC_SESSION));
    EXPECT_EQ(callInt(info, "getFlags"), kRwSerial);
}

TEST_F(SessionsTest, TheModulesRefusalToOpenComesBack) {
    EXPECT_EQ(open(CKF_RW_SESSION), nullptr);
    expectRv("J_OpenSession", CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    EXPECT_EQ(mock.p11mock_session_count(), 0u);
}

TEST_F(SessionsTest, HandlesAboveTheIntRangeTravelUnchanged) {
    mock.p11mock_set_session_handle_base(0xFFFFFFF0ul);
    jobject session = open(CKF_SERIAL_SESSION);
    expectNoException();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(handleOf(session), 0xFFFFFFF0ll);
    ASSERT_NE(sessionInfo(session), nullptr);
    expectNoException();
    EXPECT_EQ(mock.lastArg("C_GetSessionInfo", 0), 0xFFFFFFF0ul);
    Java_qorvik_nat_NativeSession_J_1CloseSession(env, session);
    expectNoException();
    EXPECT_EQ(mock.lastArg("C_CloseSession", 0), 0xFFFFFFF0ul);
}

TEST_F(SessionsTest, OpeningWithoutPinDoesNotLogIn) {
    for (jstring pin : {static_cast<jstring>(nullptr), str("")}) {
        mock.p11mock_log_clear();
        jobject session = openAndLogin(CKF_SERIAL_SESSION, CKU_USER, pin);
        expectNoException();
        EXPECT_NE(session, nullptr);
        EXPECT_EQ(mock.p11mock_log_count("C_Login"), 0u);
    }
}

TEST_F(SessionsTest, OpeningWithPinLogsTheUserIn) {
    jobject session = openAndLogin(CKF_SERIAL_SESSION, CKU_USER, str("1234"));
    expectNoException();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(mock.lastBuffer("C_Login", 0), "1234");
    EXPECT_EQ(mock.lastArg("C_Login", 1), CKU_USER);
    EXPECT_EQ(mock.lastArg("C_Login", 3), 4u);
    EXPECT_EQ(callInt(sessionInfo(session), "getState"), static_cast<jint>(CKS_RO_USER_FUNCTIONS));

    // The user is logged in on the token already: the session still comes back.
    jobject second = openAndLogin(CKF_SERIAL_SESSION, CKU_USER, str("1234"));
    expectNoException();
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(mock.p11mock_log_rv(mock.p11mock_log_last("C_Login")), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(mock.p11mock_session_count(), 2u);
}

TEST_F(SessionsTest, RefusedLoginClosesTheSessionItOpened) {
    mock.p11mock_set_session_handle_base(77);
    EXPECT_EQ(openAndLogin(CKF_SERIAL_SESSION, CKU_USER, str("9999")), nullptr);
    expectRv("J_OpenSession", CKR_PIN_INCORRECT);
    EXPECT_EQ(mock.lastArg("C_CloseSession", 0), 77u);
    EXPECT_EQ(mock.p11mock_session_count(), 0u) << "no session left that Java cannot reach";
}

TEST_F(SessionsTest, LoginRules) {
    jobject session = open(CKF_SERIAL_SESSION);
    mock.p11mock_log_clear();
    login(session, CKU_USER, str(""));
    expectFailure("J_Login", 5, "invalid pPinLen (0)");
    login(session, CKU_USER, nullptr);
    expectFailure("J_Login", 5, "Pin is NULL");
    EXPECT_EQ(mock.p11mock_log_count("C_Login"), 0u) << "no module call";

    login(session, CKU_USER, str("1234"));
    expectNoException();
    login(session, CKU_USER, str("1234"));
    expectFailure("J_Login", 0x100, "USER ALREADY LOGGED IN            ");

    Java_qorvik_nat_NativeSession_J_1Logout(env, session);
    expectNoException();
    EXPECT_EQ(callInt(sessionInfo(session), "getState"), static_cast<jint>(CKS_RO_PUBLIC_SESSION));
    Java_qorvik_nat_NativeSession_J_1Logout(env, session);
    expectRv("J_Logout", CKR_USER_NOT_LOGGED_IN);
}

TEST_F(SessionsTest, PinsOutsideAsciiGoAsModifiedUtf8) {
    mock.p11mock_set_pins(0, kNonAsciiPinModifiedUtf8.c_str(), nullptr);
    jobject session = open(CKF_SERIAL_SESSION);
    login(session, CKU_USER, nonAsciiPin());
    expectNoException();
    EXPECT_EQ(mock.lastBuffer("C_Login", 0), kNonAsciiPinModifiedUtf8);
    EXPECT_EQ(mock.lastArg("C_Login", 3), kNonAsciiPinModifiedUtf8.size());
}

TEST_F(SessionsTest, InitTokenLabelFieldIsZeroPaddedOrCut) {
    Java_qorvik_nat_NativeSlot_J_1InitToken(env, slot, str("87654321"), str("Label"));
    expectNoException();
    EXPECT_EQ(mock.lastBuffer("C_InitToken", 0), "87654321");
    EXPECT_EQ(mock.lastArg("C_InitToken", 2), 8u);
    EXPECT_EQ(mock.lastBuffer("C_InitToken", 1), std::string("Label") + std::string(27, '\0'));

    const std::string forty = "0123456789abcdefghijABCDEFGHIJ0123456789";
    Java_qorvik_nat_NativeSlot_J_1InitToken(env, slot, str("87654321"), str(forty));
    expectNoException();
    EXPECT_EQ(mock.lastBuffer("C_InitToken", 1), forty.substr(0, 32));

    // A label outside ASCII is cut by bytes of its modified UTF-8 form.
    Java_qorvik_nat_NativeSlot_J_1InitToken(env, slot, str("87654321"), nonAsciiPin());
    expectNoException();
    EXPECT_EQ(mock.lastBuffer("C_InitToken", 1),
              kNonAsciiPinModifiedUtf8 + std::string(32 - kNonAsciiPinModifiedUtf8.size(), '\0'));
}

TEST_F(SessionsTest, InitTokenChecksItsArgumentsBeforeCallingTheModule) {
    mock.p11mock_log_clear();
    Java_qorvik_nat_NativeSlot_J_1InitToken(env, slot, nullptr, str("x"));
    expectFailure("J_InitToken", 5, "pSOPin is NULL");
    Java_qorvik_nat_NativeSlot_J_1InitToken(env, slot, str(""), str("x"));
    expectFailure("J_InitToken", 5, "SOPinLen = 0");
    Java_qorvik_nat_NativeSlot_J_1InitToken(env, slot, str("87654321"), nullptr);
    expectFailure("J_InitToken", 5, "pTokenLabel is NULL");
    EXPECT_EQ(mock.p11mock_log_count("C_InitToken"), 0u);
    Java_qorvik_nat_NativeSlot_J_1InitToken(env, slot, str("wrong"), str("x"));
    expectRv("J_InitToken", CKR_PIN_INCORRECT);
}

TEST_F(SessionsTest, InitPinAndSetPin) {
    jobject so = open(kRwSerial);
    login(so, CKU_SO, str("87654321"));
    expectNoException();
    Java_qorvik_nat_NativeSession_J_1InitPIN(env, so, str(""));
    expectFailure("J_InitPIN", 5, "pPinLen = 0");
    Java_qorvik_nat_NativeSession_J_1InitPIN(env, so, nullptr);
    expectFailure("J_InitPIN", 5, "pPin is NULL");
    Java_qorvik_nat_NativeSession_J_1InitPIN(env, so, str("5678"));
    expectNoException();
    EXPECT_EQ(mock.lastBuffer("C_InitPIN", 0), "5678");
    Java_qorvik_nat_NativeSession_J_1Logout(env, so);

    jobject user = open(kRwSerial);
    login(user, CKU_USER, str("5678"));
    expectNoException();
    Java_qorvik_nat_NativeSession_J_1SetPIN(env, user, nullptr, str("1"));
    expectFailure("J_SetPIN", 5, "pOldPin is NULL");
    Java_qorvik_nat_NativeSession_J_1SetPIN(env, user, str(""), str("1"));
    expectFailure("J_SetPIN", 5, "pOldPinLen = 0");
    Java_qorvik_nat_NativeSession_J_1SetPIN(env, user, str("5678"), nullptr);
    expectFailure("J_SetPIN", 5, "pNewPin is NULL");
    Java_qorvik_nat_NativeSession_J_1SetPIN(env, user, str("5678"), str(""));
    expectFailure("J_SetPIN", 5, "pNewPinLen = 0");
    Java_qorvik_nat_NativeSession_J_1SetPIN(env, user, str("5678"), nonAsciiPin());
    expectNoException();
    EXPECT_EQ(mock.lastBuffer("C_SetPIN", 0), "5678");
    EXPECT_EQ(mock.lastBuffer("C_SetPIN", 1), kNonAsciiPinModifiedUtf8);
    EXPECT_EQ(mock.lastArg("C_SetPIN", 4), kNonAsciiPinModifiedUtf8.size());
}

TEST_F(SessionsTest, ClosingSessions) {
    jobject a = open(CKF_SERIAL_SESSION);
    jobject b = open(CKF_SERIAL_SESSION);
    Java_qorvik_nat_NativeSession_J_1CloseSession(env, a);
    expectNoException();
    Java_qorvik_nat_NativeSession_J_1CloseSession(env, a);
    expectRv("J_CloseSession", CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(sessionInfo(a), nullptr);
    expectRv("J_GetSessionInfo", CKR_SESSION_HANDLE_INVALID);
    ASSERT_NE(sessionInfo(b), nullptr);

    Java_qorvik_nat_NativeSlot_J_1CloseAllSessions(env, slot);
    expectNoException();
    EXPECT_EQ(mock.lastArg("C_CloseAllSessions", 0), 1u);
    EXPECT_EQ(mock.p11mock_session_count(), 0u);
}

TEST_F(SessionsTest, SlotIdsFromBit31RoundTrip) {
    const CK_SLOT_ID ids[] = {CK_ULONG(0x80000000)};
    const int present[] = {1};
    mock.p11mock_set_slots(1, ids, present);
    slot = newSlot(INT_MIN);
    jobject session = open(CKF_SERIAL_SESSION);
    expectNoException();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(mock.lastArg("C_OpenSession", 0), ids[0]);
    jobject info = sessionInfo(session);
    expectNoException();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(callInt(info, "getSlotID"), INT_MIN);
}

// ---- The signature family's second authentication -----------------------

class SignerPinTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(q);
        slot = newSlot(1);
    }
    const Mock& q = quarnsigMock();
    jobject slot = nullptr;
};

TEST_F(SignerPinTest, CallbackRegisteredAtEveryOpeningOnly) {
    EXPECT_EQ(q.p11mock_callback_registrations(), 0u) << "loading registers nothing";
    Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, slot, CKF_SERIAL_SESSION);
    expectNoException();
    EXPECT_EQ(q.p11mock_callback_registrations(), 1u);
    EXPECT_EQ(q.p11mock_callback_last_kind(), 0);
    EXPECT_EQ(q.p11mock_callback_last_fn(), reinterpret_cast<void*>(&GetPIN));
    Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(env, slot, CKF_SERIAL_SESSION,
                                                                     CKU_USER, nullptr);
    expectNoException();
    EXPECT_EQ(q.p11mock_callback_registrations(), 2u);

    // A refused opening registers nothing.
    Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, slot, 0);
    expectRv("J_OpenSession", CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    EXPECT_EQ(q.p11mock_callback_registrations(), 2u);
}

TEST_F(SignerPinTest, ModuleAskingDuringLoginGetsAnEmptyPin) {
    q.p11mock_callback_during("C_Login");
    Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(env, slot, CKF_SERIAL_SESSION,
                                                                     CKU_USER, str("1234"));
    expectNoException();
    ASSERT_EQ(q.p11mock_callback_seen(), 1);
    EXPECT_EQ(q.p11mock_callback_rv1(), CKR_OK);
    EXPECT_EQ(q.p11mock_callback_len1(), 0u);
    EXPECT_EQ(q.p11mock_callback_rv2(), CKR_OK);
    EXPECT_EQ(q.p11mock_callback_len2(), 0u);
    const unsigned char* buf = q.p11mock_callback_buf();
    for (int i = 0; i < 64; ++i) ASSERT_EQ(buf[i], 0xEE) << "nothing copied at " << i;
}

TEST_F(SignerPinTest, OpeningEmptiesTheStore) {
    std::memcpy(g_SignerPin, "left-over", 9);
    Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, slot, CKF_SERIAL_SESSION);
    expectNoException();
    for (CK_CHAR c : g_SignerPin) ASSERT_EQ(c, 0);
}

TEST(GetPin, CopiesTheStoredPinAndReportsItsLength) {
    std::memset(g_SignerPin, 0, sizeof g_SignerPin);
    CK_ULONG len = 99;
    EXPECT_EQ(GetPIN(nullptr, &len), CKR_OK);
    EXPECT_EQ(len, 0u);
    std::memcpy(g_SignerPin, "2468", 4);
    unsigned char out[20];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(GetPIN(out, &len), CKR_OK);
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(0, std::memcmp(out, "2468", 4));
    EXPECT_EQ(out[4], 0xEE) << "no terminator written";
    std::memset(g_SignerPin, 'x', sizeof g_SignerPin);  // no terminator in the store
    EXPECT_EQ(GetPIN(nullptr, &len), CKR_OK);
    EXPECT_EQ(len, 19u) << "never read past the store";
    EXPECT_EQ(GetPIN(nullptr, nullptr), CKR_ARGUMENTS_BAD);
    std::memset(g_SignerPin, 0, sizeof g_SignerPin);
}

TEST_F(BridgeTest, SideFileTurnsTheSecondAuthenticationOffButTheCallbackStays) {
    const fs::path dir = fs::temp_directory_path() / ("kelvane-signer-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path module = dir / "libcard-quarnsig.so";
    fs::copy_file(quarnsigMock().path(), module, fs::copy_options::overwrite_existing);
    std::ofstream(dir / "libcard-quarnsig.so.conf") << "DsPinIsCNSPin=true\n";

    load(module.string());
    initialize();
    EXPECT_EQ(Java_qorvik_nat_NativeCryptoki_IsSecondAuthenticationRequired(env, cryptoki),
              JNI_FALSE);
    Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, newSlot(1), CKF_SERIAL_SESSION);
    expectNoException();
    void* copy = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(copy, nullptr);
    auto registrations =
        reinterpret_cast<unsigned (*)()>(dlsym(copy, "p11mock_callback_registrations"));
    ASSERT_NE(registrations, nullptr);
    EXPECT_EQ(registrations(), 1u);
    dlclose(copy);
    resetBridge();
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kt
