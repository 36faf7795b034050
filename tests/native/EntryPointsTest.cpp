// The module-level methods and the initialisation lifecycle.
#include <cstring>
#include <string>
#include <vector>

#include "BridgeTest.h"
#include "UlongWidth.h"

namespace kt {
namespace {

void fillText(CK_UTF8CHAR* field, std::size_t size, const std::string& text) {
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

class EntryPointsTest : public BridgeTest {
  protected:
    jobject getInfo() { return Java_qorvik_nat_NativeCryptoki_GetInfo(env, cryptoki); }
    jobjectArray slotList(bool present) {
        return Java_qorvik_nat_NativeCryptoki_GetSlotList(env, cryptoki,
                                                          present ? JNI_TRUE : JNI_FALSE);
    }
    void finalize() { Java_qorvik_nat_NativeCryptoki_Finalize(env, cryptoki, nullptr); }
    std::vector<jint> slotIds(jobjectArray slots) {
        std::vector<jint> ids;
        for (jsize i = 0; i < env->GetArrayLength(slots); ++i) {
            ids.push_back(slotId(env->GetObjectArrayElement(slots, i)));
        }
        return ids;
    }
    const Mock& mock = plainMock();
};

TEST_F(EntryPointsTest, EveryMethodNeedsAnInitialisedModule) {
    load(mock.path());
    EXPECT_EQ(getInfo(), nullptr);
    expectRv("J_GetInfo", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(slotList(true), nullptr);
    expectRv("J_GetSlotList", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(
        Java_qorvik_nat_NativeCryptoki_WaitForSlotEvent(env, cryptoki, CKF_DONT_BLOCK, nullptr),
        nullptr);
    expectRv("J_WaitForSlotEvent", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(mock.p11mock_log_count("C_GetInfo") + mock.p11mock_log_count("C_GetSlotList") +
                  mock.p11mock_log_count("C_WaitForSlotEvent"),
              0u)
        << "no module call";
}

TEST_F(EntryPointsTest, InitializeTwiceIsRefusedAndChangesNothing) {
    loadAndInitialize(mock);
    Java_qorvik_nat_NativeCryptoki_Initialize(env, cryptoki, nullptr);
    expectFailure("J_Initialize", 0x191, "CRYPTOKI ALREADY INITIALIZED      ");
    EXPECT_TRUE(bInitialized);
    EXPECT_EQ(mock.p11mock_log_count("C_Initialize"), 1u);
    EXPECT_NE(getInfo(), nullptr);
    expectNoException();
}

TEST_F(EntryPointsTest, InitializeReportsTheModulesRefusal) {
    load(mock.path());
    mock.p11mock_fail_next("C_Initialize", CKR_DEVICE_ERROR);
    Java_qorvik_nat_NativeCryptoki_Initialize(env, cryptoki, nullptr);
    expectRv("J_Initialize", CKR_DEVICE_ERROR);
    EXPECT_FALSE(bInitialized);
    initialize();
    EXPECT_TRUE(bInitialized);
}

TEST_F(EntryPointsTest, InitializeBeforeAnyLoadNamesTheMissingModule) {
    Java_qorvik_nat_NativeCryptoki_Initialize(env, cryptoki, nullptr);
    expectFailure("J_Initialize", 5, "No cryptoki library specified");
    EXPECT_FALSE(bInitialized);
}

TEST_F(EntryPointsTest, FinalizeThenInitializeReloadsTheRememberedModule) {
    load(mock.path(), false);
    initialize();
    finalize();
    expectNoException();
    EXPECT_EQ(functionList, nullptr);
    EXPECT_EQ(hLibModule, nullptr);
    EXPECT_FALSE(bInitialized);
    EXPECT_EQ(mock.p11mock_is_initialized(), 0);
    initialize();
    EXPECT_TRUE(bInitialized);
    EXPECT_NE(hLibModule, nullptr);
    EXPECT_EQ(mock.p11mock_log_count("C_Initialize"), 2u);
    EXPECT_EQ(freeLibrary, 0) << "reloaded with the remembered choice";
}

TEST_F(EntryPointsTest, FinalizeWithoutInitializeDropsTheFunctionList) {
    load(mock.path());
    void* module = hLibModule;
    finalize();
    expectRv("J_Finalize", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(functionList, nullptr);
    EXPECT_EQ(hLibModule, module);
    EXPECT_EQ(mock.p11mock_log_count("C_Finalize"), 0u);
    initialize();
    EXPECT_TRUE(bInitialized);
}

TEST_F(EntryPointsTest, FailedFinalizeLeavesNoCallThroughAMissingList) {
    loadAndInitialize(mock);
    mock.p11mock_fail_next("C_Finalize", CKR_GENERAL_ERROR);
    finalize();
    expectRv("J_Finalize", CKR_GENERAL_ERROR);
    EXPECT_EQ(functionList, nullptr);
    EXPECT_TRUE(bInitialized) << "the flag stays as it was";

    // Every method now answers "not initialised" instead of calling the module.
    mock.p11mock_log_clear();
    EXPECT_EQ(getInfo(), nullptr);
    expectRv("J_GetInfo", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(slotList(false), nullptr);
    expectRv("J_GetSlotList", CKR_CRYPTOKI_NOT_INITIALIZED);
    finalize();
    expectRv("J_Finalize", CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(mock.p11mock_log_size(), 0u);

    // The next Initialize is not refused: it loads the module again.
    mock.p11mock_force_uninitialized();
    initialize();
    EXPECT_TRUE(bInitialized);
    EXPECT_NE(functionList, nullptr);
    EXPECT_NE(getInfo(), nullptr);
    expectNoException();
}

TEST_F(EntryPointsTest, GetInfoKeepsBlanksAndReportsTheBridgeVersion) {
    CK_INFO info;
    mock.p11mock_get_info(&info);
    fillText(info.libraryDescription, 32, "Abcdefghij");
    fillText(info.manufacturerID, 32, "ManufacturerIdFillsAll32Bytes!!!");
    info.cryptokiVersion = {2, 40};
    info.libraryVersion = {9, 9};
    info.flags = 0x7;
    mock.p11mock_set_info(&info);
    loadAndInitialize(mock);

    jobject result = getInfo();
    expectNoException();
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(callString(result, "getLibraryDescription"), "Abcdefghij" + std::string(22, ' '));
    EXPECT_EQ(callString(result, "getManufacturerID"), "ManufacturerIdFillsAll32Bytes!!!");
    EXPECT_EQ(callInt(result, "getFlags"), 7);
    jobject lib = callObject(result, "getLibraryVersion", "()Lqorvik/Version;");
    EXPECT_EQ(callInt(lib, "getMajor"), 1) << "the bridge's own version, not the module's";
    EXPECT_EQ(callInt(lib, "getMinor"), 2);
    jobject cryptokiVersion = callObject(result, "getCryptokiVersion", "()Lqorvik/Version;");
    EXPECT_EQ(callInt(cryptokiVersion, "getMajor"), 2);
    EXPECT_EQ(callInt(cryptokiVersion, "getMinor"), 40);
}

TEST_F(EntryPointsTest, GetInfoFlagsWithBit31FailTheRangeCheckOrPassAsTheirBits) {
    CK_INFO info;
    mock.p11mock_get_info(&info);
    info.flags = 0x80000000ul;
    mock.p11mock_set_info(&info);
    loadAndInitialize(mock);
    jobject result = getInfo();
    if (ulong_width::expectRangeOutcome(info.flags)) {
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(callInt(result, "getFlags"), INT_MIN);
    } else {
        EXPECT_EQ(result, nullptr);
    }
}

TEST_F(EntryPointsTest, GetInfoReportsTheModulesFailure) {
    loadAndInitialize(mock);
    mock.p11mock_fail_next("C_GetInfo", CKR_FUNCTION_FAILED);
    EXPECT_EQ(getInfo(), nullptr);
    expectRv("J_GetInfo", CKR_FUNCTION_FAILED);
}

TEST_F(EntryPointsTest, SlotListsKeepTheModulesOrderAndLow32Bits) {
    const CK_SLOT_ID ids[] = {7, ulong_width::held(0x1'8000'0002ull), 3};
    const int present[] = {1, 1, 0};
    mock.p11mock_set_slots(3, ids, present);
    loadAndInitialize(mock);
    jobjectArray all = slotList(false);
    expectNoException();
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(slotIds(all), (std::vector<jint>{7, static_cast<jint>(0x80000002u), 3}));
    jobjectArray withToken = slotList(true);
    ASSERT_NE(withToken, nullptr);
    EXPECT_EQ(slotIds(withToken), (std::vector<jint>{7, static_cast<jint>(0x80000002u)}));
    const long last = mock.p11mock_log_last("C_GetSlotList");
    ASSERT_GE(last, 0);
    EXPECT_EQ(mock.p11mock_log_arg(last, 0), CK_TRUE) << "token-present flag passed as CK_TRUE";
}

TEST_F(EntryPointsTest, NoTokenPresentGivesAnEmptyArrayNotNull) {
    const CK_SLOT_ID ids[] = {1};
    const int present[] = {0};
    mock.p11mock_set_slots(1, ids, present);
    loadAndInitialize(mock);
    jobjectArray slots = slotList(true);
    expectNoException();
    ASSERT_NE(slots, nullptr);
    EXPECT_EQ(env->GetArrayLength(slots), 0);
}

TEST_F(EntryPointsTest, SlotListFailuresOfEitherCall) {
    loadAndInitialize(mock);
    mock.p11mock_fail_next("C_GetSlotList", CKR_DEVICE_ERROR);
    EXPECT_EQ(slotList(false), nullptr);
    expectRv("J_GetSlotList", CKR_DEVICE_ERROR);

    // A slot appearing between the two calls: the module's answer, no retry.
    mock.p11mock_log_clear();
    mock.p11mock_fail_nth("C_GetSlotList", 2, CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(slotList(false), nullptr);
    expectRv("J_GetSlotList", CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(mock.p11mock_log_count("C_GetSlotList"), 2u);
}

TEST_F(EntryPointsTest, SlotCountLargerThanTheListIsRefused) {
    loadAndInitialize(mock);
    // The length query answers honestly; the fill claims more than it was given.
    mock.p11mock_report_len_next("C_GetSlotList", 40);
    EXPECT_EQ(slotList(false), nullptr);
    expectFailure("J_GetSlotList", 5, "Module returned a length larger than the buffer");
}

TEST_F(EntryPointsTest, WaitForSlotEventWithoutEventsReportsNoEvent) {
    loadAndInitialize(mock);
    EXPECT_EQ(
        Java_qorvik_nat_NativeCryptoki_WaitForSlotEvent(env, cryptoki, CKF_DONT_BLOCK, nullptr),
        nullptr);
    expectFailure("J_WaitForSlotEvent", 8, "NO EVENT                          ");
    const long call = mock.p11mock_log_last("C_WaitForSlotEvent");
    ASSERT_GE(call, 0);
    EXPECT_EQ(mock.p11mock_log_arg(call, 0), CKF_DONT_BLOCK);
}

TEST_F(EntryPointsTest, WaitForSlotEventHandsOutTheSlot) {
    loadAndInitialize(mock);
    mock.p11mock_push_slot_event(0xFFFF'FFFE);
    jobject slot = Java_qorvik_nat_NativeCryptoki_WaitForSlotEvent(env, cryptoki, 0, nullptr);
    expectNoException();
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slotId(slot), -2);
    // A flag word is its 32 bits, not a negative number.
    Java_qorvik_nat_NativeCryptoki_WaitForSlotEvent(env, cryptoki, -1, nullptr);
    expectRv("J_WaitForSlotEvent", CKR_NO_EVENT);
    EXPECT_EQ(mock.p11mock_log_arg(mock.p11mock_log_last("C_WaitForSlotEvent"), 0),
              CK_ULONG(0xFFFFFFFF));
}

TEST_F(EntryPointsTest, SessionHandleIsReadFromTheJavaObject) {
    jobject session = newSession(1, static_cast<jint>(0xFFFFFFF0u));
    EXPECT_EQ(Session2CKSession(env, session), 0xFFFFFFF0ul)
        << "a handle above 0x7FFFFFFF comes back unchanged";
}

}  // namespace
}  // namespace kt
