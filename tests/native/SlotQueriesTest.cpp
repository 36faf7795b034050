// Slot, token and mechanism information as Java receives it.
#include <cstring>
#include <string>
#include <vector>

#include "BridgeTest.h"
#include "UlongWidth.h"

namespace kt {
namespace {

template <std::size_t N>
void setText(CK_UTF8CHAR (&field)[N], const std::string& text, char pad = ' ') {
    std::memset(field, pad, N);
    std::memcpy(field, text.data(), std::min(N, text.size()));
}

class SlotQueriesTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(mock);
        slot = newSlot(1);
    }
    jobject slotInfo() { return Java_qorvik_nat_NativeSlot_J_1GetSlotInfo(env, slot); }
    jobject tokenInfo() { return Java_qorvik_nat_NativeSlot_J_1GetTokenInfo(env, slot); }
    jintArray mechanisms() { return Java_qorvik_nat_NativeSlot_J_1GetMechanismList(env, slot); }
    jobject version(jobject info, const char* getter) {
        return callObject(info, getter, "()Lqorvik/Version;");
    }
    std::vector<jint> ints(jintArray array) {
        std::vector<jint> out(static_cast<std::size_t>(env->GetArrayLength(array)));
        env->GetIntArrayRegion(array, 0, static_cast<jsize>(out.size()), out.data());
        return out;
    }

    const Mock& mock = plainMock();
    jobject slot = nullptr;
};

TEST_F(SlotQueriesTest, SlotInfoKeepsPaddingAndBuildsVersionsMinorFirst) {
    CK_SLOT_INFO info;
    mock.p11mock_get_slot_info(0, &info);
    setText(info.slotDescription, "Reader One");
    setText(info.manufacturerID, "M0123456789012345678901234567891");  // all 32 bytes
    info.hardwareVersion = {2, 11};
    info.firmwareVersion = {255, 0};
    info.flags = CKF_TOKEN_PRESENT | CKF_HW_SLOT;
    mock.p11mock_set_slot_info(0, &info);

    jobject result = slotInfo();
    expectNoException();
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(callString(result, "getSlotDescription"), "Reader One" + std::string(54, ' '));
    EXPECT_EQ(callString(result, "getManufacturerID"), "M0123456789012345678901234567891");
    EXPECT_EQ(callInt(result, "getFlags"), static_cast<jint>(CKF_TOKEN_PRESENT | CKF_HW_SLOT));
    jobject hw = version(result, "getHardwareVersion");
    EXPECT_EQ(callInt(hw, "getMajor"), 2);
    EXPECT_EQ(callInt(hw, "getMinor"), 11);
    jobject fw = version(result, "getFirmwareVersion");
    EXPECT_EQ(callInt(fw, "getMajor"), 255) << "version bytes are unsigned";
    EXPECT_EQ(callInt(fw, "getMinor"), 0);
}

TEST_F(SlotQueriesTest, TextEndsAtTheFirstZeroByte) {
    CK_SLOT_INFO info;
    mock.p11mock_get_slot_info(0, &info);
    setText(info.slotDescription, "Short", '\0');
    mock.p11mock_set_slot_info(0, &info);
    jobject result = slotInfo();
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(callString(result, "getSlotDescription"), "Short");
}

TEST_F(SlotQueriesTest, TokenInfoPassesSpecialValuesAndLeavesOutTheSessionCount) {
    CK_TOKEN_INFO info;
    mock.p11mock_get_token_info(0, &info);
    setText(info.label, "Signature card");
    setText(info.manufacturerID, "Maker");
    setText(info.model, "Model-16-bytes!!");
    setText(info.serialNumber, "0042");
    setText(info.utcTime, "2026120801020300");
    info.flags = CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED;
    info.ulMaxSessionCount = CK_UNAVAILABLE_INFORMATION;
    info.ulSessionCount = 3;
    info.ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info.ulRwSessionCount = 1;
    info.ulMaxPinLen = 8;
    info.ulMinPinLen = 4;
    info.ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
    info.ulFreePublicMemory = 100;
    info.ulTotalPrivateMemory = 200;
    info.ulFreePrivateMemory = 300;
    info.hardwareVersion = {1, 5};
    info.firmwareVersion = {3, 7};
    mock.p11mock_set_token_info(0, &info);

    jobject result = tokenInfo();
    expectNoException();
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(callString(result, "getLabel"), "Signature card" + std::string(18, ' '));
    EXPECT_EQ(callString(result, "getManufacturerID"), "Maker" + std::string(27, ' '));
    EXPECT_EQ(callString(result, "getModel"), "Model-16-bytes!!");
    EXPECT_EQ(callString(result, "getSerialNumber"), "0042" + std::string(12, ' '));
    EXPECT_EQ(callString(result, "getUtcTime"), "2026120801020300");
    EXPECT_EQ(callInt(result, "getFlags"),
              static_cast<jint>(CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED));
    EXPECT_EQ(callInt(result, "getMaxSessionCount"), -1);
    EXPECT_EQ(callInt(result, "getMaxRwSessionCount"), 0);
    EXPECT_EQ(callInt(result, "getRwSessionCount"), 1) << "the session count is left out";
    EXPECT_EQ(callInt(result, "getMaxPinLen"), 8);
    EXPECT_EQ(callInt(result, "getMinPinLen"), 4);
    EXPECT_EQ(callInt(result, "getTotalPublicMemory"), -1);
    EXPECT_EQ(callInt(result, "getFreePublicMemory"), 100);
    EXPECT_EQ(callInt(result, "getTotalPrivateMemory"), 200);
    EXPECT_EQ(callInt(result, "getFreePrivateMemory"), 300);
    EXPECT_EQ(callInt(version(result, "getHardwareVersion"), "getMinor"), 5);
    EXPECT_EQ(callInt(version(result, "getFirmwareVersion"), "getMajor"), 3);
}

TEST_F(SlotQueriesTest, EveryTokenCountIsRangeCheckedEvenTheOneLeftOut) {
    struct Row {
        CK_ULONG CK_TOKEN_INFO::*field;
        const char* getter;  // nullptr: the value Java never sees
        CK_ULONG value;
    };
    const Row rows[] = {
        {&CK_TOKEN_INFO::ulSessionCount, nullptr, 0x80000000ul},
        {&CK_TOKEN_INFO::ulFreePrivateMemory, "getFreePrivateMemory",
         ulong_width::held(0x1'0000'0000ull)},
        {&CK_TOKEN_INFO::ulMaxPinLen, "getMaxPinLen", 0xFFFFFFFEul},
        {&CK_TOKEN_INFO::flags, "getFlags", 0x80000000ul | CKF_TOKEN_INITIALIZED},
    };
    CK_TOKEN_INFO original;
    mock.p11mock_get_token_info(0, &original);
    for (const Row& row : rows) {
        CK_TOKEN_INFO info = original;
        info.*row.field = row.value;
        mock.p11mock_set_token_info(0, &info);
        jobject result = tokenInfo();
        if (ulong_width::expectRangeOutcome(row.value)) {
            ASSERT_NE(result, nullptr) << "0x" << std::hex << row.value;
            if (row.getter != nullptr) {
                EXPECT_EQ(callInt(result, row.getter), ulong_width::asJint(row.value))
                    << row.getter;
            }
        } else {
            EXPECT_EQ(result, nullptr) << "0x" << std::hex << row.value;
        }
    }
}

TEST_F(SlotQueriesTest, SlotFlagsWithBit31FailTheRangeCheckOrPassAsTheirBits) {
    CK_SLOT_INFO info;
    mock.p11mock_get_slot_info(0, &info);
    info.flags = 0x80000001ul;
    mock.p11mock_set_slot_info(0, &info);
    jobject result = slotInfo();
    if (ulong_width::expectRangeOutcome(info.flags)) {
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(callInt(result, "getFlags"), static_cast<jint>(0x80000001u));
    } else {
        EXPECT_EQ(result, nullptr);
    }
}

TEST_F(SlotQueriesTest, SlotIdFromBit31ReachesTheModuleAsItsThirtyTwoBits) {
    slot = newSlot(-2);
    EXPECT_EQ(slotInfo(), nullptr);
    expectRv("J_GetSlotInfo", CKR_SLOT_ID_INVALID);
    EXPECT_EQ(mock.lastArg("C_GetSlotInfo", 0), CK_ULONG(0xFFFFFFFE));
    EXPECT_EQ(tokenInfo(), nullptr);
    expectRv("J_GetTokenInfo", CKR_SLOT_ID_INVALID);
    EXPECT_EQ(mock.lastArg("C_GetTokenInfo", 0), CK_ULONG(0xFFFFFFFE));
}

TEST_F(SlotQueriesTest, MechanismListKeepsOrderAndLow32Bits) {
    const CK_MECHANISM_TYPE types[] = {CKM_RSA_PKCS, CKM_SHA256_RSA_PKCS, 0x80000010ul};
    CK_MECHANISM_INFO infos[3] = {{1024, 4096, CKF_SIGN}, {1024, 4096, CKF_SIGN}, {0, 0, 0}};
    mock.p11mock_set_mechanisms(3, types, infos);
    jintArray list = mechanisms();
    expectNoException();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(ints(list), (std::vector<jint>{static_cast<jint>(CKM_RSA_PKCS),
                                             static_cast<jint>(CKM_SHA256_RSA_PKCS),
                                             static_cast<jint>(0x80000010u)}));
    EXPECT_EQ(mock.p11mock_log_count("C_GetMechanismList"), 2u);
}

TEST_F(SlotQueriesTest, EmptyMechanismListIsAnEmptyArray) {
    mock.p11mock_set_mechanisms(0, nullptr, nullptr);
    jintArray list = mechanisms();
    expectNoException();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(env->GetArrayLength(list), 0);
}

TEST_F(SlotQueriesTest, MechanismListFailuresOfTheSecondCall) {
    mock.p11mock_fail_nth("C_GetMechanismList", 2, CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(mechanisms(), nullptr);
    expectRv("J_GetMechanismList", CKR_BUFFER_TOO_SMALL);

    mock.p11mock_report_len_next("C_GetMechanismList", 500);
    EXPECT_EQ(mechanisms(), nullptr);
    expectFailure("J_GetMechanismList", 5, "Module returned a length larger than the buffer");
}

TEST_F(SlotQueriesTest, MechanismInfoInConstructorOrder) {
    const CK_MECHANISM_TYPE types[] = {CKM_SHA256_RSA_PKCS};
    CK_MECHANISM_INFO infos[] = {{512, CK_UNAVAILABLE_INFORMATION, CKF_SIGN | CKF_VERIFY}};
    mock.p11mock_set_mechanisms(1, types, infos);
    jobject info = Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(env, slot, CKM_SHA256_RSA_PKCS);
    expectNoException();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(callInt(info, "getMinKeySize"), 512);
    EXPECT_EQ(callInt(info, "getMaxKeySize"), -1);
    EXPECT_EQ(callInt(info, "getFlags"), static_cast<jint>(CKF_SIGN | CKF_VERIFY));

    EXPECT_EQ(Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(env, slot, -5), nullptr);
    expectRv("J_GetMechanismInfo", CKR_MECHANISM_INVALID);
    EXPECT_EQ(mock.lastArg("C_GetMechanismInfo", 1), CK_ULONG(0xFFFFFFFB))
        << "a type is its 32 bits";
}

TEST_F(SlotQueriesTest, FieldsTheModuleLeavesAloneArriveAsZero) {
    // The module answers CKR_OK without writing anything.
    mock.p11mock_fail_next("C_GetMechanismInfo", CKR_OK);
    jobject info = Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(env, slot, CKM_SHA256_RSA_PKCS);
    expectNoException();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(callInt(info, "getMinKeySize"), 0);
    EXPECT_EQ(callInt(info, "getMaxKeySize"), 0);
    EXPECT_EQ(callInt(info, "getFlags"), 0);

    mock.p11mock_fail_next("C_GetTokenInfo", CKR_OK);
    jobject token = tokenInfo();
    expectNoException();
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(callString(token, "getLabel"), "");
    EXPECT_EQ(callInt(token, "getMaxPinLen"), 0);
}

TEST_F(SlotQueriesTest, NothingReachesTheModuleBeforeInitialize) {
    Java_qorvik_nat_NativeCryptoki_Finalize(env, cryptoki, nullptr);
    expectNoException();
    mock.p11mock_log_clear();
    EXPECT_EQ(slotInfo(), nullptr);
    expectRv("J_GetSlotInfo", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(tokenInfo(), nullptr);
    expectRv("J_GetTokenInfo", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(mechanisms(), nullptr);
    expectRv("J_GetMechanismList", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(env, slot, 0), nullptr);
    expectRv("J_GetMechanismInfo", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(mock.p11mock_log_size(), 0u);
}

}  // namespace
}  // namespace kt
