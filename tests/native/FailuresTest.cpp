// Failure reporting: descriptions, the exception Java sees, the range check
// and the small text routines.
#include <dlfcn.h>

#include <climits>
#include <cstring>
#include <set>
#include <string>

#include "BridgeTest.h"
#include "Errors.h"
#include "UlongWidth.h"

namespace kt {
namespace {

std::string padded(const std::string& text) {
    return text + std::string(34 - text.size(), ' ');
}

TEST(ErrorDescriptions, EveryRecordIsUpperCaseAndPaddedTo34) {
    std::set<CK_RV> seen;
    for (std::size_t i = 0; i < kErrorDescriptionCount; ++i) {
        const ErrorDesc& d = errorDescriptions[i];
        ASSERT_EQ(std::strlen(d.Descr), kErrorDescriptionWidth) << "record " << i;
        const std::string text(d.Descr);
        const std::string trimmed = text.substr(0, text.find_last_not_of(' ') + 1);
        EXPECT_EQ(trimmed.find("  "), std::string::npos) << "single blanks only: " << text;
        for (char c : trimmed) EXPECT_TRUE((c >= 'A' && c <= 'Z') || c == ' ') << text;
        EXPECT_TRUE(seen.insert(d.Value).second) << "duplicate value " << d.Value;
        if (i + 1 < kErrorDescriptionCount) {
            EXPECT_EQ(getCryptokiErrorDesc(d.Value), d.Descr) << "lookup finds record " << i;
        }
    }
    EXPECT_EQ(errorDescriptions[0].Value, CKR_OK);
    EXPECT_EQ(errorDescriptions[kErrorDescriptionCount - 1].Value, 0xFFFFFFFFul);
    EXPECT_STREQ(errorDescriptions[kErrorDescriptionCount - 1].Descr,
                 padded("NO ERROR DESC FOUND").c_str());
}

TEST(ErrorDescriptions, KnownValues) {
    EXPECT_EQ(getCryptokiErrorDesc(CKR_PIN_INCORRECT), padded("PIN INCORRECT"));
    EXPECT_EQ(getCryptokiErrorDesc(CKR_CRYPTOKI_ALREADY_INITIALIZED),
              padded("CRYPTOKI ALREADY INITIALIZED"));
    EXPECT_EQ(getCryptokiErrorDesc(CKR_SESSION_PARALLEL_NOT_SUPPORTED),
              padded("SESSION PARALLEL NOT SUPPORTED"));
    EXPECT_EQ(getCryptokiErrorDesc(CKR_NO_EVENT), padded("NO EVENT"));
    EXPECT_EQ(getCryptokiErrorDesc(CKR_MUTEX_NOT_LOCKED), padded("MUTEX NOT LOCKED"));
}

TEST(ErrorDescriptions, ValuesWithoutRecordAreNotFound) {
    for (CK_RV rv : {CK_RV(0x4), CK_RV(0x63), CK_RV(0x130), CK_RV(0x200), CK_RV(0x7FFFFFFF)}) {
        EXPECT_EQ(getCryptokiErrorDesc(rv), padded("NO ERROR DESC FOUND")) << std::hex << rv;
    }
}

TEST(ErrorDescriptions, EveryVendorValueIsVendorDefined) {
    for (CK_RV rv : {CK_RV(0x80000000), CK_RV(0x80000001), CK_RV(0xFFFFFFFE), CK_RV(0xFFFFFFFF),
                     ulong_width::held(0x1'8000'0000ull), ~CK_RV(0)}) {
        EXPECT_EQ(getCryptokiErrorDesc(rv), padded("VENDOR DEFINED")) << std::hex << rv;
    }
}

class ThrowTest : public BridgeTest {};

TEST_F(ThrowTest, ReturnValueFormCarriesCodeAndPaddedDescription) {
    throwPkcs11Exception(env, "J_Login", CK_RV(0xA0));
    expectFailure("J_Login", 160, "PIN INCORRECT" + std::string(21, ' '));
    throwPkcs11Exception(env, "J_Encrypt", CK_RV(0x63));
    expectFailure("J_Encrypt", 99, padded("NO ERROR DESC FOUND"));
}

TEST_F(ThrowTest, VendorCodesArriveAsNegativeInts) {
    throwPkcs11Exception(env, "J_Sign", CK_RV(0x80000001));
    expectFailure("J_Sign", INT_MIN + 1, padded("VENDOR DEFINED"));
    throwPkcs11Exception(env, "J_Sign", CK_RV(0xFFFFFFFF));
    expectFailure("J_Sign", -1, padded("VENDOR DEFINED"));
}

TEST_F(ThrowTest, MessageFormUsesCodeFiveAndTheExactText) {
    throwPkcs11Exception(env, "J_GetSlotList", "Slot object is NULL");
    expectFailure("J_GetSlotList", 5, "Slot object is NULL");
    throwPkcs11Exception(env, "J_GetInfo", "");
    expectFailure("J_GetInfo", 5, "");
}

TEST_F(ThrowTest, ReplacesAnExceptionAlreadyPending) {
    // A failed lookup leaves NoClassDefFoundError pending; Java must see ours.
    EXPECT_EQ(env->FindClass("qorvik/NoSuchClassAnywhere"), nullptr);
    ASSERT_TRUE(env->ExceptionCheck());
    throwPkcs11Exception(env, "J_GetInfo", "Class 'qorvik/nat/NativeInfo' not found");
    expectFailure("J_GetInfo", 5, "Class 'qorvik/nat/NativeInfo' not found");
}

TEST(Exports, Check64BitLenExistsOnlyWhereCkUlongIsWide) {
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "Check64BitLen") != nullptr, ulong_width::kWide)
        << "CK_ULONG of " << sizeof(CK_ULONG) << " bytes";
}

TEST_F(ThrowTest, Check64BitLenPassesTheIntRangeSilently) {
    if constexpr (!ulong_width::kWide) {
        GTEST_SKIP() << "32-bit builds have no Check64BitLen";
    } else {
        for (long long v :
             {0LL, -1LL, 1LL, static_cast<long long>(INT_MAX), static_cast<long long>(INT_MIN)}) {
            EXPECT_EQ(Check64BitLen(env, v), static_cast<jint>(v));
            expectNoException();
        }
    }
}

TEST_F(ThrowTest, Check64BitLenReportsValuesOutsideTheIntRange) {
    if constexpr (!ulong_width::kWide) {
        GTEST_SKIP() << "32-bit builds have no Check64BitLen";
    } else {
        EXPECT_EQ(Check64BitLen(env, 2147483648LL), INT_MIN);
        expectFailure("Check64BitLen", 5, "Value out of size for 32 bit (jint)");
        EXPECT_EQ(Check64BitLen(env, 0x1'0000'0005LL), 5);
        expectFailure("Check64BitLen", 5, "Value out of size for 32 bit (jint)");
        EXPECT_EQ(Check64BitLen(env, -2147483649LL), INT_MAX);
        expectFailure("Check64BitLen", 5, "Value out of size for 32 bit (jint)");
    }
}

TEST(TextRoutines, EspandiDatiWritesUpperCaseHexAndATerminator) {
    const unsigned char in[] = {0x00, 0xAB, 0x7F};
    char out[8];
    std::memset(out, 'x', sizeof out);
    EspandiDati(in, out, 3);
    EXPECT_STREQ(out, "00AB7F");
    EXPECT_EQ(out[7], 'x') << "nothing written past 2*len+1";
    EspandiDati(in, out, 0);
    EXPECT_STREQ(out, "");
    std::memset(out, 'x', sizeof out);
    EspandiDati(in, out, -4);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[1], 'x');
}

TEST(TextRoutines, RmTrailSpaceZeroesTrailingBlanksButNeverPositionZero) {
    unsigned char ab[] = {'A', 'B', ' ', ' '};
    rmTrailSpace(ab, 4);
    EXPECT_EQ(0, std::memcmp(ab, "AB\0\0", 4));

    unsigned char blanks[] = {' ', ' ', ' '};
    rmTrailSpace(blanks, 3);
    EXPECT_EQ(0, std::memcmp(blanks, " \0\0", 3));

    unsigned char inner[] = {'A', ' ', 'B', ' '};
    rmTrailSpace(inner, 4);
    EXPECT_EQ(0, std::memcmp(inner, "A B\0", 4));

    unsigned char one[] = {' '};
    rmTrailSpace(one, 1);
    EXPECT_EQ(one[0], ' ');
    rmTrailSpace(one, 0);
    EXPECT_EQ(one[0], ' ');
}

TEST(TraceFile, NameIsDefined) {
    EXPECT_STREQ(g_sLogPath, "~/zmx-libkelmora_log_file.txt");
}

}  // namespace
}  // namespace kt
