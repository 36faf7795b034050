// Checks the parts of the test module that the bridge's tests rely on: fault
// hooks, the standard length rules, searches, the call log and the
// signature-family entry point.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "p11mock.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

CK_ATTRIBUTE attr(CK_ATTRIBUTE_TYPE type, Bytes& value) {
    return CK_ATTRIBUTE{type, value.data(), static_cast<CK_ULONG>(value.size())};
}

Bytes ulong_value(CK_ULONG v) {
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

Bytes logged_buffer(size_t index, unsigned buf) {
    const unsigned char* data = nullptr;
    const size_t len = p11mock_log_buffer(index, buf, &data);
    return data == nullptr ? Bytes() : Bytes(data, data + len);
}

class MockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        p11mock_force_uninitialized();
        p11mock_reset();
        ASSERT_EQ(CKR_OK, C_Initialize(nullptr));
    }
    void TearDown() override {
        p11mock_force_uninitialized();
        p11mock_reset();
    }

    CK_SESSION_HANDLE open_session(CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION) {
        CK_SESSION_HANDLE h = CK_INVALID_HANDLE;
        EXPECT_EQ(CKR_OK, C_OpenSession(1, flags, nullptr, nullptr, &h));
        return h;
    }

    CK_OBJECT_HANDLE add_key(const std::string& value) {
        Bytes v = bytes(value);
        CK_ATTRIBUTE t[] = {attr(CKA_VALUE, v)};
        return p11mock_add_object(t, 1);
    }
};

// ---- Library state and fault hooks --------------------------------------------

TEST_F(MockTest, InitialisationStateGatesEveryCallButTheFunctionList) {
    EXPECT_EQ(CKR_CRYPTOKI_ALREADY_INITIALIZED, C_Initialize(nullptr));
    ASSERT_EQ(CKR_OK, C_Finalize(nullptr));
    EXPECT_EQ(0, p11mock_is_initialized());
    CK_INFO info;
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, C_GetInfo(&info));
    EXPECT_EQ(CKR_CRYPTOKI_NOT_INITIALIZED, C_Finalize(nullptr));

    CK_FUNCTION_LIST_PTR list = nullptr;
    ASSERT_EQ(CKR_OK, C_GetFunctionList(&list));
    EXPECT_EQ(2, list->version.major);
    EXPECT_EQ(20, list->version.minor);
    EXPECT_EQ(&C_Login, list->C_Login);
    EXPECT_EQ(&C_WaitForSlotEvent, list->C_WaitForSlotEvent);
    EXPECT_EQ(CKR_OK, list->C_Initialize(nullptr));
}

TEST_F(MockTest, FinalizeEndsSessionsAndLoginButKeepsTokenObjects) {
    CK_SESSION_HANDLE h = open_session();
    add_key("k");
    ASSERT_EQ(CKR_OK, C_Login(h, CKU_USER, bytes("1234").data(), 4));
    ASSERT_EQ(CKR_OK, C_Finalize(nullptr));
    ASSERT_EQ(CKR_OK, C_Initialize(nullptr));
    EXPECT_EQ(0u, p11mock_session_count());
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, p11mock_logged_in_user(0));
    EXPECT_EQ(1u, p11mock_object_count());
    CK_SESSION_INFO si;
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, C_GetSessionInfo(h, &si));
}

TEST_F(MockTest, FailNextHitsOnlyTheNextCallOfThatFunction) {
    CK_INFO info;
    CK_ULONG count = 0;
    p11mock_fail_next("C_GetInfo", CKR_DEVICE_ERROR);
    EXPECT_EQ(CKR_OK, C_GetSlotList(CK_FALSE, nullptr, &count));
    EXPECT_EQ(CKR_DEVICE_ERROR, C_GetInfo(&info));
    EXPECT_EQ(CKR_OK, C_GetInfo(&info));
    EXPECT_EQ(CKR_DEVICE_ERROR, p11mock_log_rv(p11mock_log_size() - 2));

    // Before the initialisation check: a module may fail even that way.
    p11mock_force_uninitialized();
    p11mock_fail_next("C_Initialize", CKR_HOST_MEMORY);
    EXPECT_EQ(CKR_HOST_MEMORY, C_Initialize(nullptr));
    EXPECT_EQ(0, p11mock_is_initialized());
    EXPECT_EQ(CKR_OK, C_Initialize(nullptr));
}

TEST_F(MockTest, FailNthCountsFromTheControlCall) {
    CK_INFO info;
    ASSERT_EQ(CKR_OK, C_GetInfo(&info));
    p11mock_fail_nth("C_GetInfo", 3, CKR_FUNCTION_FAILED);
    EXPECT_EQ(CKR_OK, C_GetInfo(&info));
    EXPECT_EQ(CKR_OK, C_GetInfo(&info));
    EXPECT_EQ(CKR_FUNCTION_FAILED, C_GetInfo(&info));
    EXPECT_EQ(CKR_OK, C_GetInfo(&info));

    p11mock_fail_nth("C_GetInfo", 1, CKR_FUNCTION_FAILED);
    p11mock_clear_faults();
    EXPECT_EQ(CKR_OK, C_GetInfo(&info));
}

TEST_F(MockTest, BufferTooSmallFaultSkipsTheLengthQueryAndFiresOnce) {
    CK_ULONG count = 0;
    p11mock_buffer_too_small_next("C_GetMechanismList", 0);
    ASSERT_EQ(CKR_OK, C_GetMechanismList(1, nullptr, &count));
    ASSERT_EQ(6u, count);
    std::vector<CK_MECHANISM_TYPE> list(count);
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, C_GetMechanismList(1, list.data(), &count));
    EXPECT_EQ(0u, count);
    count = list.size();
    EXPECT_EQ(CKR_OK, C_GetMechanismList(1, list.data(), &count));
    EXPECT_EQ(CKM_RSA_PKCS_KEY_PAIR_GEN, list[0]);
}

TEST_F(MockTest, ReportLenLiesAboutTheCountButWritesOnlyTheCapacity) {
    const CK_SLOT_ID ids[] = {7, 8, 9};
    const int present[] = {1, 1, 1};
    p11mock_set_slots(3, ids, present);
    p11mock_report_len_next("C_GetSlotList", 5);
    CK_SLOT_ID out[3] = {0, 0, 0x1234};
    CK_ULONG count = 2;
    EXPECT_EQ(CKR_OK, C_GetSlotList(CK_TRUE, out, &count));
    EXPECT_EQ(5u, count);
    EXPECT_EQ(7u, out[0]);
    EXPECT_EQ(8u, out[1]);
    EXPECT_EQ(0x1234u, out[2]);
}

TEST_F(MockTest, ReportLenOnByteOutputPadsWithFillerWithinTheBuffer) {
    CK_SESSION_HANDLE h = open_session();
    CK_OBJECT_HANDLE key = add_key("\x01");
    CK_MECHANISM mech{CKM_AES_ECB, nullptr, 0};
    ASSERT_EQ(CKR_OK, C_EncryptInit(h, &mech, key));
    p11mock_report_len_next("C_Encrypt", 6);
    unsigned char data[] = {0x10, 0x20};
    unsigned char out[8];
    std::memset(out, 0, sizeof out);
    CK_ULONG len = 4;
    EXPECT_EQ(CKR_OK, C_Encrypt(h, data, 2, out, &len));
    EXPECT_EQ(6u, len);
    const unsigned char expected[8] = {0x11, 0x21, 0xA5, 0xA5, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(expected, out, 8));
}

// ---- Slots, tokens, sessions ---------------------------------------------------

TEST_F(MockTest, SlotListFollowsTheTwoCallPatternAndTheTokenFilter) {
    CK_ULONG count = 0;
    ASSERT_EQ(CKR_OK, C_GetSlotList(CK_FALSE, nullptr, &count));
    EXPECT_EQ(2u, count);
    ASSERT_EQ(CKR_OK, C_GetSlotList(CK_TRUE, nullptr, &count));
    EXPECT_EQ(1u, count);

    CK_SLOT_ID ids[2] = {0, 0};
    count = 1;
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, C_GetSlotList(CK_FALSE, ids, &count));
    EXPECT_EQ(2u, count);
    ASSERT_EQ(CKR_OK, C_GetSlotList(CK_FALSE, ids, &count));
    EXPECT_EQ(1u, ids[0]);
    EXPECT_EQ(2u, ids[1]);

    CK_TOKEN_INFO ti;
    EXPECT_EQ(CKR_TOKEN_NOT_PRESENT, C_GetTokenInfo(2, &ti));
    EXPECT_EQ(CKR_SLOT_ID_INVALID, C_GetTokenInfo(3, &ti));
    CK_MECHANISM_INFO mi;
    EXPECT_EQ(CKR_MECHANISM_INVALID, C_GetMechanismInfo(1, 0x12345, &mi));
}

TEST_F(MockTest, ConfiguredInfoRecordsComeBackUnchanged) {
    CK_TOKEN_INFO ti;
    p11mock_get_token_info(0, &ti);
    ti.ulMaxSessionCount = CK_UNAVAILABLE_INFORMATION;
    ti.flags |= 0x80000000UL;
    p11mock_set_token_info(0, &ti);
    CK_TOKEN_INFO got;
    ASSERT_EQ(CKR_OK, C_GetTokenInfo(1, &got));
    EXPECT_EQ(0, std::memcmp(&ti, &got, sizeof ti));

    CK_INFO info;
    ASSERT_EQ(CKR_OK, C_GetInfo(&info));
    EXPECT_EQ(0, std::memcmp("Kelvane test module             ", info.libraryDescription, 32));
}

TEST_F(MockTest, SlotEventsArePoppedInOrderAndNeverBlock) {
    p11mock_push_slot_event(2);
    p11mock_push_slot_event(1);
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(CKR_OK, C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
    EXPECT_EQ(2u, slot);
    EXPECT_EQ(CKR_OK, C_WaitForSlotEvent(0, &slot, nullptr));
    EXPECT_EQ(1u, slot);
    EXPECT_EQ(CKR_NO_EVENT, C_WaitForSlotEvent(0, &slot, nullptr));
}

TEST_F(MockTest, SessionsAndLoginFollowTheTokenRules) {
    CK_SESSION_HANDLE h = CK_INVALID_HANDLE;
    EXPECT_EQ(CKR_SESSION_PARALLEL_NOT_SUPPORTED,
              C_OpenSession(1, CKF_RW_SESSION, nullptr, nullptr, &h));
    EXPECT_EQ(CKR_TOKEN_NOT_PRESENT, C_OpenSession(2, CKF_SERIAL_SESSION, nullptr, nullptr, &h));

    p11mock_set_session_handle_base(0x80000001UL);
    h = open_session(CKF_SERIAL_SESSION);
    EXPECT_EQ(0x80000001UL, h);
    EXPECT_EQ(0x80000002UL, open_session());

    EXPECT_EQ(CKR_PIN_INCORRECT, C_Login(h, CKU_USER, bytes("0000").data(), 4));
    ASSERT_EQ(CKR_OK, C_Login(h, CKU_USER, bytes("1234").data(), 4));
    EXPECT_EQ(CKR_USER_ALREADY_LOGGED_IN, C_Login(h, CKU_USER, bytes("1234").data(), 4));
    CK_SESSION_INFO si;
    ASSERT_EQ(CKR_OK, C_GetSessionInfo(h, &si));
    EXPECT_EQ(CKS_RO_USER_FUNCTIONS, si.state);
    EXPECT_EQ(CKF_SERIAL_SESSION, si.flags);
    ASSERT_EQ(CKR_OK, C_Logout(h));
    EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, C_Logout(h));

    CK_TOKEN_INFO ti;
    p11mock_get_token_info(0, &ti);
    ti.flags &= ~CKF_USER_PIN_INITIALIZED;
    p11mock_set_token_info(0, &ti);
    EXPECT_EQ(CKR_USER_PIN_NOT_INITIALIZED, C_Login(h, CKU_USER, bytes("1234").data(), 4));
}

TEST_F(MockTest, PinAdministrationChangesWhatLoginAccepts) {
    CK_SESSION_HANDLE h = open_session();
    ASSERT_EQ(CKR_OK, C_Login(h, CKU_SO, bytes("87654321").data(), 8));
    ASSERT_EQ(CKR_OK, C_InitPIN(h, bytes("5555").data(), 4));
    ASSERT_EQ(CKR_OK, C_Logout(h));
    EXPECT_EQ(CKR_PIN_INCORRECT, C_SetPIN(h, bytes("1234").data(), 4, bytes("6666").data(), 4));
    ASSERT_EQ(CKR_OK, C_SetPIN(h, bytes("5555").data(), 4, bytes("6666").data(), 4));
    EXPECT_EQ(CKR_OK, C_Login(h, CKU_USER, bytes("6666").data(), 4));

    unsigned char label[32];
    std::memset(label, 0, sizeof label);
    std::memcpy(label, "fresh", 5);
    EXPECT_EQ(CKR_SESSION_EXISTS, C_InitToken(1, bytes("87654321").data(), 8, label));
    ASSERT_EQ(CKR_OK, C_CloseAllSessions(1));
    EXPECT_EQ(CKR_PIN_INCORRECT, C_InitToken(1, bytes("1").data(), 1, label));
    ASSERT_EQ(CKR_OK, C_InitToken(1, bytes("87654321").data(), 8, label));
    CK_TOKEN_INFO ti;
    ASSERT_EQ(CKR_OK, C_GetTokenInfo(1, &ti));
    EXPECT_EQ(0, std::memcmp(label, ti.label, 32));
}

// ---- Objects and searches -------------------------------------------------------

TEST_F(MockTest, GetAttributeValueFollowsTheStandardRules) {
    CK_SESSION_HANDLE h = open_session();
    Bytes label = bytes("a long label value");
    Bytes id = bytes("id");
    Bytes secret = bytes("s3cret");
    CK_ATTRIBUTE t[] = {attr(CKA_LABEL, label), attr(CKA_ID, id), attr(CKA_VALUE, secret)};
    CK_OBJECT_HANDLE obj = p11mock_add_object(t, 3);
    p11mock_set_sensitive(obj, CKA_VALUE);

    CK_ATTRIBUTE q[] = {{CKA_LABEL, nullptr, 0}, {CKA_ID, nullptr, 0}};
    ASSERT_EQ(CKR_OK, C_GetAttributeValue(h, obj, q, 2));
    EXPECT_EQ(label.size(), q[0].ulValueLen);
    EXPECT_EQ(2u, q[1].ulValueLen);

    unsigned char small[4];
    unsigned char idbuf[8];
    CK_ATTRIBUTE r[] = {{CKA_LABEL, small, sizeof small}, {CKA_ID, idbuf, sizeof idbuf}};
    EXPECT_EQ(CKR_BUFFER_TOO_SMALL, C_GetAttributeValue(h, obj, r, 2));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, r[0].ulValueLen);
    EXPECT_EQ(2u, r[1].ulValueLen);
    EXPECT_EQ(0, std::memcmp("id", idbuf, 2));

    CK_ATTRIBUTE missing[] = {{CKA_MODULUS, idbuf, sizeof idbuf}, {CKA_ID, idbuf, sizeof idbuf}};
    EXPECT_EQ(CKR_ATTRIBUTE_TYPE_INVALID, C_GetAttributeValue(h, obj, missing, 2));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, missing[0].ulValueLen);
    EXPECT_EQ(2u, missing[1].ulValueLen);

    CK_ATTRIBUTE sensitive[] = {{CKA_VALUE, idbuf, sizeof idbuf}};
    EXPECT_EQ(CKR_ATTRIBUTE_SENSITIVE, C_GetAttributeValue(h, obj, sensitive, 1));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, sensitive[0].ulValueLen);
}

TEST_F(MockTest, SessionObjectsEndWithTheirSessionAndTokenObjectsNeedReadWrite) {
    CK_SESSION_HANDLE ro = open_session(CKF_SERIAL_SESSION);
    Bytes yes{CK_TRUE};
    CK_ATTRIBUTE token[] = {attr(CKA_TOKEN, yes)};
    CK_OBJECT_HANDLE obj = CK_INVALID_HANDLE;
    EXPECT_EQ(CKR_SESSION_READ_ONLY, C_CreateObject(ro, token, 1, &obj));
    ASSERT_EQ(CKR_OK, C_CreateObject(ro, nullptr, 0, &obj));
    CK_SESSION_HANDLE rw = open_session();
    CK_OBJECT_HANDLE kept = CK_INVALID_HANDLE;
    ASSERT_EQ(CKR_OK, C_CopyObject(rw, obj, token, 1, &kept));
    EXPECT_EQ(2u, p11mock_object_count());
    ASSERT_EQ(CKR_OK, C_CloseSession(ro));
    EXPECT_EQ(1u, p11mock_object_count());
    CK_ULONG size = 0;
    EXPECT_EQ(CKR_OK, C_GetObjectSize(rw, kept, &size));
    p11mock_report_len_next("C_GetObjectSize", CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(CKR_OK, C_GetObjectSize(rw, kept, &size));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, size);
}

TEST_F(MockTest, SearchesReturnMatchesInBatchesAndGuardTheirState) {
    Bytes cls = ulong_value(CKO_CERTIFICATE);
    Bytes other = ulong_value(CKO_DATA);
    CK_ATTRIBUTE cert[] = {attr(CKA_CLASS, cls)};
    CK_ATTRIBUTE data[] = {attr(CKA_CLASS, other)};
    p11mock_set_object_handle_base(0x90000000UL);
    std::vector<CK_OBJECT_HANDLE> certs;
    for (int i = 0; i < 120; ++i) {
        certs.push_back(p11mock_add_object(cert, 1));
        p11mock_add_object(data, 1);
    }
    CK_SESSION_HANDLE h = open_session();
    CK_OBJECT_HANDLE out[50];
    CK_ULONG n = 0;
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, C_FindObjects(h, out, 50, &n));
    ASSERT_EQ(CKR_OK, C_FindObjectsInit(h, cert, 1));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, C_FindObjectsInit(h, cert, 1));

    std::vector<CK_OBJECT_HANDLE> found;
    std::vector<CK_ULONG> batches;
    do {
        ASSERT_EQ(CKR_OK, C_FindObjects(h, out, 50, &n));
        batches.push_back(n);
        found.insert(found.end(), out, out + n);
    } while (n > 0);
    EXPECT_EQ((std::vector<CK_ULONG>{50, 50, 20, 0}), batches);
    EXPECT_EQ(certs, found);
    ASSERT_EQ(CKR_OK, C_FindObjectsFinal(h));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, C_FindObjectsFinal(h));

    // A lying count: more than asked for, only the requested slots written.
    ASSERT_EQ(CKR_OK, C_FindObjectsInit(h, cert, 1));
    p11mock_report_len_next("C_FindObjects", 9);
    CK_OBJECT_HANDLE few[4] = {0, 0, 0, 77};
    ASSERT_EQ(CKR_OK, C_FindObjects(h, few, 3, &n));
    EXPECT_EQ(9u, n);
    EXPECT_EQ(certs[0], few[0]);
    EXPECT_EQ(77u, few[3]);
    ASSERT_EQ(CKR_OK, C_FindObjects(h, few, 1, &n));
    EXPECT_EQ(certs[3], few[0]);
    ASSERT_EQ(CKR_OK, C_FindObjectsFinal(h));

    ASSERT_EQ(CKR_OK, C_FindObjectsInit(h, nullptr, 0));
    ASSERT_EQ(CKR_OK, C_FindObjects(h, out, 50, &n));
    EXPECT_EQ(50u, n);
    EXPECT_EQ(certs[0] + 1, out[1]);
}

// ---- Call log ------------------------------------------------------------------

TEST_F(MockTest, LogKeepsArgumentsAndCopiesOfTheBuffersHandedIn) {
    CK_SESSION_HANDLE h = open_session();
    p11mock_log_clear();
    Bytes pin = bytes("12\xc3\xa9");
    EXPECT_EQ(CKR_PIN_INCORRECT, C_Login(h, CKU_USER, pin.data(), pin.size()));
    ASSERT_EQ(1u, p11mock_log_size());
    EXPECT_STREQ("C_Login", p11mock_log_name(0));
    EXPECT_EQ(h, p11mock_log_arg(0, 0));
    EXPECT_EQ(CKU_USER, p11mock_log_arg(0, 1));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pin.data()), p11mock_log_arg(0, 2));
    EXPECT_EQ(4u, p11mock_log_arg(0, 3));
    EXPECT_EQ(pin, logged_buffer(0, 0));
    EXPECT_EQ(CKR_PIN_INCORRECT, p11mock_log_rv(0));

    // The in/out length is logged as it was on entry, templates as records.
    Bytes id = bytes("xyz");
    CK_ATTRIBUTE t[] = {attr(CKA_ID, id), {CKA_LABEL, nullptr, 0}};
    CK_OBJECT_HANDLE obj = CK_INVALID_HANDLE;
    ASSERT_EQ(CKR_OK, C_CreateObject(h, t, 2, &obj));
    Bytes expected = ulong_value(CKA_ID);
    for (const Bytes& part : {ulong_value(3), id, ulong_value(CKA_LABEL), ulong_value(0)}) {
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_EQ(expected, logged_buffer(1, 0));

    Bytes param = bytes("iv");
    CK_MECHANISM mech{CKM_AES_CBC, param.data(), 2};
    ASSERT_EQ(CKR_OK, C_EncryptInit(h, &mech, obj));
    Bytes mech_record = ulong_value(CKM_AES_CBC);
    for (const Bytes& part : {ulong_value(2), param}) {
        mech_record.insert(mech_record.end(), part.begin(), part.end());
    }
    EXPECT_EQ(mech_record, logged_buffer(2, 0));
    CK_ULONG len = 33;
    unsigned char data[3] = {1, 2, 3};
    ASSERT_EQ(CKR_OK, C_Encrypt(h, data, 3, nullptr, &len));
    EXPECT_EQ(33u, p11mock_log_arg(3, 4));
    EXPECT_EQ(0u, p11mock_log_arg(3, 3));
    EXPECT_EQ(3u, len);

    EXPECT_EQ(1u, p11mock_log_count("C_Encrypt"));
    EXPECT_EQ(3, p11mock_log_last("C_Encrypt"));
    EXPECT_EQ(-1, p11mock_log_last("C_Decrypt"));
    const unsigned char* none = reinterpret_cast<const unsigned char*>(1);
    EXPECT_EQ(0u, p11mock_log_buffer(0, 5, &none));
    EXPECT_EQ(nullptr, none);
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// [length][bytes] of one pointed-to block.
Bytes block(const Bytes& data) {
    return joined({ulong_value(data.size()), data});
}

TEST_F(MockTest, MechanismLogFollowsThePointerMembersOfTheRecordsThatHaveThem) {
    CK_OBJECT_HANDLE key = add_key("key");
    Bytes iv = bytes("0123456789ab"), aad = bytes("header"), nonce = bytes("nonce12"),
          shared = bytes("shared"), point = bytes("\x04point"), data = bytes("derivation data"),
          salt = bytes("salt"), prf = bytes("prf"), password = bytes("pa\xc3\x9fword"), empty;
    struct {
        CK_BYTE_PTR pIv;
        CK_ULONG ulIvLen, ulIvBits;
        CK_BYTE_PTR pAAD;
        CK_ULONG ulAADLen, ulTagBits;
    } gcm{iv.data(), 12, 96, aad.data(), 6, 128}, gcm_no_aad{iv.data(), 12, 96, nullptr, 0, 96};
    CK_CCM_PARAMS ccm{40, nonce.data(), 7, aad.data(), 0, 16};
    CK_ECDH1_DERIVE_PARAMS ecdh{CKD_NULL, 0, nullptr, 6, point.data()};
    CK_ECDH1_DERIVE_PARAMS ecdh_shared{CKD_SHA256_KDF, 6, shared.data(), 6, point.data()};
    CK_KEY_DERIVATION_STRING_DATA string_data{data.data(), 15};
    CK_DES_CBC_ENCRYPT_DATA_PARAMS des_data{{1, 2, 3, 4, 5, 6, 7, 8}, data.data(), 15};
    CK_AES_CBC_ENCRYPT_DATA_PARAMS aes_data{{9}, data.data(), 4};
    CK_ULONG password_len = password.size();
    CK_PKCS5_PBKD2_PARAMS pbkdf2{CKZ_SALT_SPECIFIED, salt.data(), 4, 1000,
                                 CKP_PKCS5_PBKD2_HMAC_SHA256, prf.data(), 3,
                                 password.data(), &password_len};
    CK_PKCS5_PBKD2_PARAMS pbkdf2_bare{CKZ_SALT_SPECIFIED, nullptr, 0, 1, 1, nullptr, 0,
                                      password.data(), nullptr};
    struct Case {
        CK_MECHANISM mech;
        Bytes pointed;  // what follows the raw record
    };
    const std::vector<Case> cases = {
        {{CKM_AES_GCM, &gcm, sizeof gcm}, joined({block(iv), block(aad)})},
        {{CKM_AES_GCM, &gcm_no_aad, sizeof gcm_no_aad}, block(iv)},
        // An empty but present block keeps its place; a null one has none.
        {{CKM_AES_CCM, &ccm, sizeof ccm}, joined({block(nonce), block(empty)})},
        {{CKM_ECDH1_DERIVE, &ecdh, sizeof ecdh}, block(point)},
        {{CKM_ECDH1_COFACTOR_DERIVE, &ecdh_shared, sizeof ecdh_shared},
         joined({block(shared), block(point)})},
        {{CKM_AES_ECB_ENCRYPT_DATA, &string_data, sizeof string_data}, block(data)},
        {{CKM_DES3_CBC_ENCRYPT_DATA, &des_data, sizeof des_data}, block(data)},
        {{CKM_AES_CBC_ENCRYPT_DATA, &aes_data, sizeof aes_data}, block(bytes("deri"))},
        {{CKM_PKCS5_PBKD2, &pbkdf2, sizeof pbkdf2},
         joined({block(salt), block(prf), block(password), block(ulong_value(password.size()))})},
        {{CKM_PKCS5_PBKD2, &pbkdf2_bare, sizeof pbkdf2_bare}, block(empty)},
        // Older records and records of another size are logged raw only.
        {{CKM_CONCATENATE_BASE_AND_DATA, &string_data, sizeof string_data}, Bytes()},
        {{CKM_AES_GCM, &gcm, sizeof gcm - 1}, Bytes()},
        {{CKM_PKCS5_PBKD2, &ccm, sizeof ccm}, Bytes()}};
    for (const Case& c : cases) {
        CK_SESSION_HANDLE h = open_session();
        ASSERT_EQ(CKR_OK, C_EncryptInit(h, const_cast<CK_MECHANISM*>(&c.mech), key));
        const long call = p11mock_log_last("C_EncryptInit");
        ASSERT_GE(call, 0);
        const unsigned char* p = static_cast<const unsigned char*>(c.mech.pParameter);
        const Bytes expected =
            joined({ulong_value(c.mech.mechanism), ulong_value(c.mech.ulParameterLen),
                    Bytes(p, p + c.mech.ulParameterLen), c.pointed});
        EXPECT_EQ(expected, logged_buffer(static_cast<size_t>(call), 0))
            << "type 0x" << std::hex << c.mech.mechanism << " length " << c.mech.ulParameterLen;
    }
}

// ---- Toy cryptography ---------------------------------------------------------

TEST_F(MockTest, CipherUpdatesHoldBackPartialBlocksAndRoundTrip) {
    p11mock_set_cipher_block(4);
    CK_SESSION_HANDLE h = open_session();
    CK_OBJECT_HANDLE key = add_key("key");
    CK_MECHANISM mech{CKM_AES_CBC, nullptr, 0};
    ASSERT_EQ(CKR_OK, C_EncryptInit(h, &mech, key));
    EXPECT_EQ(CKR_OPERATION_ACTIVE, C_EncryptInit(h, &mech, key));

    Bytes plain = bytes("abcdefghij");
    Bytes cipher(16);
    CK_ULONG len = 0;
    ASSERT_EQ(CKR_OK, C_EncryptUpdate(h, plain.data(), 6, nullptr, &len));
    EXPECT_EQ(4u, len);
    len = 2;
    ASSERT_EQ(CKR_BUFFER_TOO_SMALL, C_EncryptUpdate(h, plain.data(), 6, cipher.data(), &len));
    len = 16;
    ASSERT_EQ(CKR_OK, C_EncryptUpdate(h, plain.data(), 6, cipher.data(), &len));
    ASSERT_EQ(4u, len);
    CK_ULONG rest = 16;
    ASSERT_EQ(CKR_OK, C_EncryptUpdate(h, plain.data() + 6, 4, cipher.data() + 4, &rest));
    ASSERT_EQ(4u, rest);
    CK_ULONG last = 16;
    ASSERT_EQ(CKR_OK, C_EncryptFinal(h, cipher.data() + 8, &last));
    ASSERT_EQ(2u, last);
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, C_EncryptFinal(h, cipher.data(), &last));

    Bytes reference(10);
    ASSERT_EQ(1, p11mock_toy_cipher(key, plain.data(), 10, reference.data()));
    EXPECT_EQ(reference, Bytes(cipher.begin(), cipher.begin() + 10));
    EXPECT_NE(plain, reference);

    ASSERT_EQ(CKR_OK, C_DecryptInit(h, &mech, key));
    Bytes back(10);
    len = back.size();
    ASSERT_EQ(CKR_OK, C_Decrypt(h, cipher.data(), 10, back.data(), &len));
    EXPECT_EQ(plain, back);
}

TEST_F(MockTest, DigestLengthDependsOnTheMechanismAndPartsMatchTheWhole) {
    CK_SESSION_HANDLE h = open_session();
    Bytes data = bytes("digest me");
    for (CK_MECHANISM_TYPE m : {CKM_MD5, CKM_SHA_1, CKM_SHA256, CKM_SHA512, CKM_SHA384}) {
        CK_MECHANISM mech{m, nullptr, 0};
        ASSERT_EQ(CKR_OK, C_DigestInit(h, &mech));
        unsigned char whole[64];
        CK_ULONG len = sizeof whole;
        ASSERT_EQ(CKR_OK, C_Digest(h, data.data(), data.size(), whole, &len));
        EXPECT_EQ(p11mock_digest_length(m), len);

        ASSERT_EQ(CKR_OK, C_DigestInit(h, &mech));
        ASSERT_EQ(CKR_OK, C_DigestUpdate(h, data.data(), 3));
        ASSERT_EQ(CKR_OK, C_DigestUpdate(h, data.data() + 3, data.size() - 3));
        unsigned char parts[64];
        CK_ULONG parts_len = sizeof parts;
        ASSERT_EQ(CKR_OK, C_DigestFinal(h, parts, &parts_len));
        ASSERT_EQ(len, parts_len);
        EXPECT_EQ(0, std::memcmp(whole, parts, len));
        unsigned char reference[64];
        p11mock_toy_digest(m, data.data(), data.size(), reference);
        EXPECT_EQ(0, std::memcmp(whole, reference, len));
    }
    EXPECT_EQ(16u, p11mock_digest_length(CKM_MD5));
    EXPECT_EQ(20u, p11mock_digest_length(CKM_SHA_1));
    EXPECT_EQ(32u, p11mock_digest_length(CKM_SHA256));
    EXPECT_EQ(64u, p11mock_digest_length(CKM_SHA512));
}

TEST_F(MockTest, GeneratedKeyPairsSignAndVerify) {
    CK_SESSION_HANDLE h = open_session();
    Bytes bits = ulong_value(1024);
    CK_ATTRIBUTE pub_t[] = {attr(CKA_MODULUS_BITS, bits)};
    CK_MECHANISM gen{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE pub = 0;
    CK_OBJECT_HANDLE priv = 0;
    ASSERT_EQ(CKR_OK, C_GenerateKeyPair(h, &gen, pub_t, 1, nullptr, 0, &pub, &priv));

    CK_MECHANISM mech{CKM_SHA256_RSA_PKCS, nullptr, 0};
    Bytes data = bytes("to be signed");
    ASSERT_EQ(CKR_OK, C_SignInit(h, &mech, priv));
    CK_ULONG len = 0;
    ASSERT_EQ(CKR_OK, C_Sign(h, data.data(), data.size(), nullptr, &len));
    EXPECT_EQ(128u, len);
    Bytes sig(len);
    ASSERT_EQ(CKR_OK, C_Sign(h, data.data(), data.size(), sig.data(), &len));
    Bytes reference(128);
    EXPECT_EQ(128u, p11mock_toy_signature(priv, mech.mechanism, data.data(), data.size(),
                                          reference.data(), reference.size()));
    EXPECT_EQ(reference, sig);

    ASSERT_EQ(CKR_OK, C_VerifyInit(h, &mech, pub));
    ASSERT_EQ(CKR_OK, C_VerifyUpdate(h, data.data(), 5));
    ASSERT_EQ(CKR_OK, C_VerifyUpdate(h, data.data() + 5, data.size() - 5));
    EXPECT_EQ(CKR_OK, C_VerifyFinal(h, sig.data(), sig.size()));
    sig[7] ^= 1;
    ASSERT_EQ(CKR_OK, C_VerifyInit(h, &mech, pub));
    EXPECT_EQ(CKR_SIGNATURE_INVALID, C_Verify(h, data.data(), data.size(), sig.data(), sig.size()));
    ASSERT_EQ(CKR_OK, C_VerifyInit(h, &mech, pub));
    EXPECT_EQ(CKR_SIGNATURE_LEN_RANGE, C_Verify(h, data.data(), data.size(), sig.data(), 64));
}

TEST_F(MockTest, WrappedKeysUnwrapToTheSameValue) {
    CK_SESSION_HANDLE h = open_session();
    CK_OBJECT_HANDLE kek = add_key("wrapping key");
    CK_OBJECT_HANDLE key = add_key("secret value");
    CK_MECHANISM mech{CKM_AES_KEY_WRAP, nullptr, 0};
    CK_ULONG len = 0;
    ASSERT_EQ(CKR_OK, C_WrapKey(h, &mech, kek, key, nullptr, &len));
    Bytes wrapped(len);
    ASSERT_EQ(CKR_OK, C_WrapKey(h, &mech, kek, key, wrapped.data(), &len));
    EXPECT_NE(bytes("secret value"), wrapped);
    CK_OBJECT_HANDLE unwrapped = 0;
    ASSERT_EQ(CKR_OK, C_UnwrapKey(h, &mech, kek, wrapped.data(), len, nullptr, 0, &unwrapped));
    unsigned char value[32];
    CK_ATTRIBUTE q[] = {{CKA_VALUE, value, sizeof value}};
    ASSERT_EQ(CKR_OK, C_GetAttributeValue(h, unwrapped, q, 1));
    EXPECT_EQ(bytes("secret value"), Bytes(value, value + q[0].ulValueLen));
}

// ---- Built files and the signature family ----------------------------------------

struct Library {
    explicit Library(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle != nullptr) dlclose(handle);
    }
    template <typename F>
    F get(const char* name) const {
        return reinterpret_cast<F>(dlsym(handle, name));
    }
    void* handle;
};

std::string callback_pin = "4711";
int callback_calls = 0;

CK_RV pin_callback(CK_CHAR_PTR pin, CK_ULONG* len) {
    ++callback_calls;
    *len = callback_pin.size();
    if (pin != nullptr) std::memcpy(pin, callback_pin.data(), callback_pin.size());
    return pin != nullptr ? CKR_OK : CKR_FUNCTION_REJECTED;
}

TEST(BuiltModules, OnlyTheSignatureFamilyBuildExportsSetCallBack) {
    Library plain(P11MOCK_PLAIN_FILE);
    Library family(P11MOCK_QUARNSIG_FILE);
    ASSERT_NE(nullptr, plain.handle) << dlerror();
    ASSERT_NE(nullptr, family.handle) << dlerror();
    EXPECT_EQ(nullptr, plain.get<void*>("C_SetCallBack"));
    EXPECT_NE(nullptr, family.get<void*>("C_SetCallBack"));
    for (const Library* lib : {&plain, &family}) {
        EXPECT_NE(nullptr, lib->get<void*>("C_GetFunctionList"));
        EXPECT_NE(nullptr, lib->get<void*>("C_DecryptVerifyUpdate"));
        EXPECT_NE(nullptr, lib->get<void*>("p11mock_log_size"));
        // Internals stay hidden.
        EXPECT_EQ(nullptr, lib->get<void*>("_ZN7p11mock5stateEv"));
    }
}

TEST(BuiltModules, ArmedCallbackRunsDuringTheNamedCall) {
    Library family(P11MOCK_QUARNSIG_FILE);
    ASSERT_NE(nullptr, family.handle) << dlerror();
    auto reset = family.get<void (*)()>("p11mock_reset");
    auto set_callback = family.get<CK_RV (*)(CK_LONG, CK_VOID_PTR)>("C_SetCallBack");
    auto arm = family.get<void (*)(const char*)>("p11mock_callback_during");
    auto get_list = family.get<CK_RV (*)(CK_FUNCTION_LIST_PTR_PTR)>("C_GetFunctionList");
    ASSERT_TRUE(reset && set_callback && arm && get_list);
    reset();
    CK_FUNCTION_LIST_PTR f = nullptr;
    ASSERT_EQ(CKR_OK, get_list(&f));
    ASSERT_EQ(CKR_OK, f->C_Initialize(nullptr));
    // Calls inside the twin stay inside it, although the plain build is loaded.
    EXPECT_EQ(1, family.get<int (*)()>("p11mock_is_initialized")());
    EXPECT_EQ(0, p11mock_is_initialized());

    ASSERT_EQ(CKR_OK, set_callback(0, reinterpret_cast<CK_VOID_PTR>(&pin_callback)));
    EXPECT_EQ(1u, family.get<unsigned (*)()>("p11mock_callback_registrations")());
    EXPECT_EQ(0, family.get<long (*)()>("p11mock_callback_last_kind")());
    EXPECT_EQ(reinterpret_cast<void*>(&pin_callback),
              family.get<void* (*)()>("p11mock_callback_last_fn")());

    arm("C_Login");
    CK_SESSION_HANDLE h = 0;
    ASSERT_EQ(CKR_OK, f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &h));
    EXPECT_EQ(0, callback_calls);
    EXPECT_EQ(CKR_OK, f->C_Login(h, CKU_USER, bytes("1234").data(), 4));
    EXPECT_EQ(2, callback_calls);
    EXPECT_EQ(1, family.get<int (*)()>("p11mock_callback_seen")());
    EXPECT_EQ(CKR_FUNCTION_REJECTED, family.get<CK_RV (*)()>("p11mock_callback_rv1")());
    EXPECT_EQ(4u, family.get<CK_ULONG (*)()>("p11mock_callback_len1")());
    EXPECT_EQ(CKR_OK, family.get<CK_RV (*)()>("p11mock_callback_rv2")());
    EXPECT_EQ(4u, family.get<CK_ULONG (*)()>("p11mock_callback_len2")());
    const unsigned char* buf = family.get<const unsigned char* (*)()>("p11mock_callback_buf")();
    EXPECT_EQ(0, std::memcmp("4711", buf, 4));
    EXPECT_EQ(0xEE, buf[4]);
    EXPECT_EQ(0xEE, buf[63]);

    // Fires once: the next call leaves the callback alone.
    ASSERT_EQ(CKR_OK, f->C_Logout(h));
    ASSERT_EQ(CKR_OK, f->C_Login(h, CKU_USER, bytes("1234").data(), 4));
    EXPECT_EQ(2, callback_calls);
    EXPECT_EQ(0u, p11mock_callback_registrations());
    EXPECT_EQ(CKR_OK, f->C_Finalize(nullptr));
    reset();
}

}  // namespace
