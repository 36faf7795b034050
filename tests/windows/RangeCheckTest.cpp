// The Windows range check (CK_ULONG of 32 bits, read as unsigned, message
// naming the method and the call site) and the CK_RV description table, with
// a fake JNIEnv; and two slot queries run end to end against the test module.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Errors.h"
#include "FakeJni.h"
#include "WinTestSupport.h"
#include "core/JniGuards.h"

namespace {

std::string outOfRange(const char* caller, int site) {
    return std::string("Error (") + caller + " : " + std::to_string(site) +
           ") : Value out of size for 32 bit (jint)";
}

TEST(WindowsBuildTypes, CkUlongIs32BitsAndJintIsLong) {
    static_assert(sizeof(CK_ULONG) == 4, "CK_ULONG is 32 bits on Windows");
    static_assert(sizeof(jint) == 4 && sizeof(jlong) == 8 && sizeof(jbyte) == 1, "JNI widths");
    static_assert(std::is_same<jint, long>::value, "jint is long on Windows");
    static_assert(std::is_same<jlong, __int64>::value, "jlong is __int64");
    static_assert(std::is_same<jbyte, signed char>::value, "jbyte is signed char");
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, 0xFFFFFFFFul);
    EXPECT_STREQ(g_sLogPath, "c:\\zmx-libkelmora_log_file.txt");
}

struct RangeCase {
    long long value;
    bool passes;
    jint result;  // low 32 bits
};

const RangeCase kRangeCases[] = {
    {0, true, 0},
    {1, true, 1},
    {0x7FFFFFFE, true, 0x7FFFFFFE},
    {0x7FFFFFFF, true, 0x7FFFFFFF},
    {0x80000000LL, false, INT32_MIN},
    {0x80000001LL, false, INT32_MIN + 1},
    {0xFFFFFFFELL, false, -2},
    {0xFFFFFFFFLL, false, -1},  // CK_UNAVAILABLE_INFORMATION
    {0x100000000LL, false, 0},  // a 64-bit count (size_t) beyond 32 bits
    {-1, false, -1},            // read as unsigned: never passes as -1
};

TEST(WindowsRangeCheck, UnsignedRuleAndCallerMessage) {
    for (const RangeCase& c : kRangeCases) {
        FakeJni jni;
        const jint result = Check64BitLen(jni.env(), c.value, "J_Caller", 7);
        EXPECT_EQ(result, c.result) << std::hex << c.value;
        ASSERT_EQ(jni.hasThrown(), !c.passes) << std::hex << c.value;
        if (!c.passes) {
            const FakeJni::Thrown t = jni.thrown();
            EXPECT_EQ(t.function, "Check64BitLen");
            EXPECT_EQ(t.code, 5);
            EXPECT_EQ(t.message, outOfRange("J_Caller", 7));
        }
        EXPECT_EQ(jni.unexpectedCalls(), 0);
    }
}

// Through the call-site form the methods use: the boundary handler supplies
// the caller, the failure stops the method and nothing else is reported.
TEST(WindowsRangeCheck, CallSiteFormNamesTheRunningMethodAndStopsIt) {
    for (int site = 1; site <= 11; ++site) {
        for (const RangeCase& c : kRangeCases) {
            if (c.value < 0) continue;  // callers hand CK_ULONG or size_t values
            FakeJni jni;
            bool wentOn = false;
            const jint got = guarded(jni.env(), "J_GetObjectSize", jint{-7}, [&] {
                const jint v = RANGE_CHECKED(jni.env(), static_cast<std::uint64_t>(c.value), site);
                wentOn = true;
                return v;
            });
            ASSERT_EQ(jni.hasThrown(), !c.passes);
            EXPECT_EQ(wentOn, c.passes);
            EXPECT_EQ(jni.callsWhilePending(), 0);
            if (c.passes) {
                EXPECT_EQ(got, c.result);
            } else {
                EXPECT_EQ(got, -7);
                EXPECT_EQ(jni.thrown().function, "Check64BitLen");
                EXPECT_EQ(jni.thrown().message, outOfRange("J_GetObjectSize", site));
            }
        }
    }
    EXPECT_EQ(currentMethodName(), nullptr) << "the handler gives the name back";
}

TEST(WindowsRangeCheck, StartRoutineReportsUnderItsOwnNameThenGivesTheMethodsBack) {
    FakeJni jni;
    guardedVoid(jni.env(), "J_Sign", [&] {
        guardedVoid(jni.env(), "J_SignInit",
                    [&] { RANGE_CHECKED(jni.env(), std::uint64_t{0x80000000u}, 2); });
        EXPECT_STREQ(currentMethodName(), "J_Sign");
    });
    ASSERT_TRUE(jni.hasThrown());
    EXPECT_EQ(jni.thrown().message, outOfRange("J_SignInit", 2));
}

TEST(WindowsRangeCheck, TokenInfoFormPassesPlainBits) {
    FakeJni jni;
    const std::uint64_t values[] = {0, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
    for (std::uint64_t v : values) {
        const jint got = guarded(jni.env(), "J_GetTokenInfo", jint{0},
                                 [&] { return TOKEN_INFO_VALUE(jni.env(), v, 1); });
        EXPECT_EQ(got, static_cast<jint>(static_cast<std::uint32_t>(v)));
    }
    EXPECT_FALSE(jni.hasThrown());
}

// ---- CK_RV descriptions with a 32-bit CK_RV -----------------------------------

struct DescriptionCase {
    CK_RV rv;
    const char* description;
    jint code;
};

const DescriptionCase kDescriptions[] = {
    {CKR_OK, "OK", 0},
    {CKR_GENERAL_ERROR, "GENERAL ERROR", 5},
    {CKR_CRYPTOKI_NOT_INITIALIZED, "CRYPTOKI NOT INITIALIZED", 0x190},
    {CKR_BUFFER_TOO_SMALL, "BUFFER TOO SMALL", 0x150},
    {0x4, "NO ERROR DESC FOUND", 4},
    {0x63, "NO ERROR DESC FOUND", 0x63},  // CKR_KEY_TYPE_INCONSISTENT
    {0x130, "NO ERROR DESC FOUND", 0x130},
    {0x200, "NO ERROR DESC FOUND", 0x200},
    {0x7FFFFFFF, "NO ERROR DESC FOUND", 0x7FFFFFFF},
    {0x80000000ul, "VENDOR DEFINED", INT32_MIN},
    {0x80000001ul, "VENDOR DEFINED", INT32_MIN + 1},
    {0xC0DE0000ul, "VENDOR DEFINED", static_cast<jint>(0xC0DE0000ul)},
    {0xFFFFFFFEul, "VENDOR DEFINED", -2},
    {0xFFFFFFFFul, "VENDOR DEFINED", -1},
};

std::string padded(const char* text) {
    std::string s(text);
    s.resize(kErrorDescriptionWidth, ' ');
    return s;
}

TEST(WindowsErrorDescriptions, LookupAndReportedCode) {
    for (const DescriptionCase& c : kDescriptions) {
        EXPECT_EQ(getCryptokiErrorDesc(c.rv), padded(c.description)) << std::hex << c.rv;
        FakeJni jni;
        throwPkcs11Exception(jni.env(), "J_Method", c.rv);
        ASSERT_TRUE(jni.hasThrown());
        const FakeJni::Thrown t = jni.thrown();
        EXPECT_EQ(t.function, "J_Method");
        EXPECT_EQ(t.code, c.code) << std::hex << c.rv;
        EXPECT_EQ(t.message, padded(c.description));
        EXPECT_EQ(jni.unexpectedCalls(), 0);
    }
    // Every record but the end marker is found by its own value.
    for (std::size_t i = 0; i + 1 < kErrorDescriptionCount; ++i) {
        EXPECT_EQ(getCryptokiErrorDesc(errorDescriptions[i].Value), errorDescriptions[i].Descr);
    }
}

TEST(WindowsErrorDescriptions, MessageFailureAndFailedClassLookup) {
    FakeJni jni;
    throwPkcs11Exception(jni.env(), "J_GetSlotInfo", "Slot object is NULL");
    ASSERT_TRUE(jni.hasThrown());
    EXPECT_EQ(jni.thrown().code, 5);
    EXPECT_EQ(jni.thrown().message, "Slot object is NULL");

    FakeJni missing;
    missing.missingClasses = {"qorvik/CryptokiException"};
    throwPkcs11Exception(missing.env(), "J_GetSlotInfo", "Slot object is NULL");
    EXPECT_EQ(missing.callsWhilePending(), 0);
    EXPECT_EQ(missing.thrown().function, "") << "nothing but the lookup's own error";
}

// ---- End to end against the test module -------------------------------------

class WindowsSlotQueries : public ::testing::Test {
  protected:
    void SetUp() override {
        wintest::loadThroughJava(jni, wintest::besideProgram(P11MOCK_DLL_NAME));
        ASSERT_FALSE(jni.hasThrown()) << jni.thrown().message;
        wintest::mockEntry<void (*)()>("p11mock_reset")();
        Java_qorvik_nat_NativeCryptoki_Initialize(jni.env(), nullptr, nullptr);
        ASSERT_FALSE(jni.hasThrown()) << jni.thrown().message;
        slot = jni.newObject("qorvik/nat/NativeSlot", {{"m_slotID", 1}});
    }
    void TearDown() override {
        jni.clear();
        Java_qorvik_nat_NativeCryptoki_Finalize(jni.env(), nullptr, nullptr);
        EXPECT_FALSE(jni.hasThrown());
        EXPECT_EQ(jni.unexpectedCalls(), 0);
        EXPECT_EQ(jni.stringCharsHeld(), 0);
    }

    FakeJni jni;
    jobject slot = nullptr;
};

struct MechanismInfoCase {
    CK_MECHANISM_INFO info;
    int failingSite;  // 0: passes
};

const MechanismInfoCase kMechanismInfoCases[] = {
    {{1, 0x7FFFFFFF, 0x7FFFFFFF}, 0},      {{0, 0, 0}, 0},
    {{512, 0xFFFFFFFF, CKF_SIGN}, 1},      {{512, 0x80000000, CKF_SIGN}, 1},
    {{0x80000000, 4096, CKF_SIGN}, 2},     {{0xFFFFFFFF, 4096, CKF_SIGN}, 2},
    {{512, 4096, CKF_EXTENSION}, 3},  // bit 31
    {{512, 0xFFFFFFFF, CKF_EXTENSION}, 1},
};

TEST_F(WindowsSlotQueries, MechanismInfoChecksEachValueAtItsSite) {
    const CK_MECHANISM_TYPE type = CKM_RSA_PKCS;
    for (const MechanismInfoCase& c : kMechanismInfoCases) {
        wintest::mockEntry<void (*)(unsigned, const CK_MECHANISM_TYPE*, const CK_MECHANISM_INFO*)>(
            "p11mock_set_mechanisms")(1, &type, &c.info);
        jobject info = Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(jni.env(), slot,
                                                                      static_cast<jint>(type));
        if (c.failingSite != 0) {
            EXPECT_EQ(info, nullptr);
            ASSERT_TRUE(jni.hasThrown());
            EXPECT_EQ(jni.thrown().function, "Check64BitLen");
            EXPECT_EQ(jni.thrown().code, 5);
            EXPECT_EQ(jni.thrown().message, outOfRange("J_GetMechanismInfo", c.failingSite));
            EXPECT_EQ(jni.callsWhilePending(), 0);
            jni.clear();
        } else {
            ASSERT_FALSE(jni.hasThrown()) << jni.thrown().message;
            ASSERT_NE(info, nullptr);
            const auto& args = FakeJni::of(info).arguments;
            ASSERT_EQ(args.size(), 3u);
            EXPECT_EQ(args[0].number, static_cast<jint>(c.info.ulMinKeySize));
            EXPECT_EQ(args[1].number, static_cast<jint>(c.info.ulMaxKeySize));
            EXPECT_EQ(args[2].number, static_cast<jint>(c.info.flags));
        }
    }
}

TEST_F(WindowsSlotQueries, TokenInfoHandsOnPlainBits) {
    auto getTokenInfo =
        wintest::mockEntry<void (*)(unsigned, CK_TOKEN_INFO*)>("p11mock_get_token_info");
    auto setTokenInfo =
        wintest::mockEntry<void (*)(unsigned, const CK_TOKEN_INFO*)>("p11mock_set_token_info");
    const CK_ULONG patterns[] = {0xFFFFFFFF, 0x80000000, 0x7FFFFFFF};
    for (CK_ULONG base : patterns) {
        CK_TOKEN_INFO t;
        getTokenInfo(0, &t);
        // Each value distinct, so the order in the constructor shows too.
        CK_ULONG* fields[] = {&t.flags,
                              &t.ulMaxSessionCount,
                              &t.ulSessionCount,
                              &t.ulMaxRwSessionCount,
                              &t.ulRwSessionCount,
                              &t.ulMaxPinLen,
                              &t.ulMinPinLen,
                              &t.ulTotalPublicMemory,
                              &t.ulFreePublicMemory,
                              &t.ulTotalPrivateMemory,
                              &t.ulFreePrivateMemory};
        for (std::size_t i = 0; i < 11; ++i) *fields[i] = base - static_cast<CK_ULONG>(i);
        setTokenInfo(0, &t);

        jobject info = Java_qorvik_nat_NativeSlot_J_1GetTokenInfo(jni.env(), slot);
        ASSERT_FALSE(jni.hasThrown()) << jni.thrown().message;
        ASSERT_NE(info, nullptr);
        const auto& args = FakeJni::of(info).arguments;
        ASSERT_EQ(args.size(), 17u);
        // Constructor ints: flags, then the counts without ulSessionCount.
        const std::size_t fromField[] = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10};
        for (std::size_t k = 0; k < 10; ++k) {
            EXPECT_EQ(args[4 + k].kind, 'I');
            EXPECT_EQ(args[4 + k].number, static_cast<jint>(*fields[fromField[k]]))
                << "argument " << 4 + k;
        }
    }
}

TEST_F(WindowsSlotQueries, GetInfoReportsBridgeVersion13) {
    EXPECT_EQ(libVersion.major, 1);
    EXPECT_EQ(libVersion.minor, 3);
    jobject info = Java_qorvik_nat_NativeCryptoki_GetInfo(jni.env(), nullptr);
    ASSERT_FALSE(jni.hasThrown()) << jni.thrown().message;
    ASSERT_NE(info, nullptr);
    const auto& args = FakeJni::of(info).arguments;
    ASSERT_EQ(args.size(), 5u);
    // Version objects take the minor number first.
    const auto& bridge = FakeJni::of(args[3].object).arguments;
    ASSERT_EQ(bridge.size(), 2u);
    EXPECT_EQ(bridge[0].number, 3);
    EXPECT_EQ(bridge[1].number, 1);
}

}  // namespace
