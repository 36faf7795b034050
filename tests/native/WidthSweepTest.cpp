// Every count and flag word a module hands Java as an int, swept with the
// values where the CK_ULONG widths part: where CK_ULONG has 64 bits anything
// outside the int range raises the range failure and the method returns no
// result; where it has 32 bits the bits arrive unchecked (0x80000000 as a
// negative int, all ones as -1).
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "BridgeTest.h"
#include "UlongWidth.h"

namespace kt {
namespace {

const CK_ULONG kValues[] = {
    0,
    0x7FFFFFFFul,
    0x80000000ul,
    0xFFFFFFFFul,
    ulong_width::held(0x1'0000'0001ull),  // 1 where CK_ULONG has 32 bits
    CK_UNAVAILABLE_INFORMATION,
};

// One value handed to Java as an int: how the module is made to report it,
// the method that hands it on, and the result's getter (nullptr: a value the
// method reads and range-checks but does not pass on).
struct Site {
    std::string name;
    std::function<void(CK_ULONG)> arrange;
    std::function<jobject()> call;
    const char* getter;
};

class WidthSweepTest : public BridgeTest {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(mock);
        slot = newSlot(1);
        mock.p11mock_get_info(&info);
        mock.p11mock_get_slot_info(0, &slotInfo);
        mock.p11mock_get_token_info(0, &tokenInfo);
    }

    void tokenSite(const char* name, CK_ULONG CK_TOKEN_INFO::*field, const char* getter) {
        sites.push_back({std::string("token info ") + name,
                         [this, field](CK_ULONG v) {
                             CK_TOKEN_INFO changed = tokenInfo;
                             changed.*field = v;
                             mock.p11mock_set_token_info(0, &changed);
                         },
                         [this] { return Java_qorvik_nat_NativeSlot_J_1GetTokenInfo(env, slot); },
                         getter});
    }

    void mechanismSite(const char* name, CK_ULONG CK_MECHANISM_INFO::*field, const char* getter) {
        sites.push_back({std::string("mechanism info ") + name,
                         [this, field](CK_ULONG v) {
                             const CK_MECHANISM_TYPE type = CKM_SHA256_RSA_PKCS;
                             CK_MECHANISM_INFO mechanism{1024, 4096, CKF_SIGN};
                             mechanism.*field = v;
                             mock.p11mock_set_mechanisms(1, &type, &mechanism);
                         },
                         [this] {
                             return Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(
                                 env, slot, CKM_SHA256_RSA_PKCS);
                         },
                         getter});
    }

    void buildSites() {
        sites.push_back({"info flags",
                         [this](CK_ULONG v) {
                             CK_INFO changed = info;
                             changed.flags = v;
                             mock.p11mock_set_info(&changed);
                         },
                         [this] { return Java_qorvik_nat_NativeCryptoki_GetInfo(env, cryptoki); },
                         "getFlags"});
        sites.push_back({"slot info flags",
                         [this](CK_ULONG v) {
                             CK_SLOT_INFO changed = slotInfo;
                             changed.flags = v;
                             mock.p11mock_set_slot_info(0, &changed);
                         },
                         [this] { return Java_qorvik_nat_NativeSlot_J_1GetSlotInfo(env, slot); },
                         "getFlags"});
        tokenSite("flags", &CK_TOKEN_INFO::flags, "getFlags");
        tokenSite("ulMaxSessionCount", &CK_TOKEN_INFO::ulMaxSessionCount, "getMaxSessionCount");
        tokenSite("ulSessionCount", &CK_TOKEN_INFO::ulSessionCount, nullptr);
        tokenSite("ulMaxRwSessionCount", &CK_TOKEN_INFO::ulMaxRwSessionCount,
                  "getMaxRwSessionCount");
        tokenSite("ulRwSessionCount", &CK_TOKEN_INFO::ulRwSessionCount, "getRwSessionCount");
        tokenSite("ulMaxPinLen", &CK_TOKEN_INFO::ulMaxPinLen, "getMaxPinLen");
        tokenSite("ulMinPinLen", &CK_TOKEN_INFO::ulMinPinLen, "getMinPinLen");
        tokenSite("ulTotalPublicMemory", &CK_TOKEN_INFO::ulTotalPublicMemory,
                  "getTotalPublicMemory");
        tokenSite("ulFreePublicMemory", &CK_TOKEN_INFO::ulFreePublicMemory, "getFreePublicMemory");
        tokenSite("ulTotalPrivateMemory", &CK_TOKEN_INFO::ulTotalPrivateMemory,
                  "getTotalPrivateMemory");
        tokenSite("ulFreePrivateMemory", &CK_TOKEN_INFO::ulFreePrivateMemory,
                  "getFreePrivateMemory");
        mechanismSite("ulMinKeySize", &CK_MECHANISM_INFO::ulMinKeySize, "getMinKeySize");
        mechanismSite("ulMaxKeySize", &CK_MECHANISM_INFO::ulMaxKeySize, "getMaxKeySize");
        mechanismSite("flags", &CK_MECHANISM_INFO::flags, "getFlags");
    }

    const Mock& mock = plainMock();
    jobject slot = nullptr;
    CK_INFO info{};
    CK_SLOT_INFO slotInfo{};
    CK_TOKEN_INFO tokenInfo{};
    std::vector<Site> sites;
};

TEST_F(WidthSweepTest, EveryIntResultFollowsTheWidthRule) {
    buildSites();
    ASSERT_EQ(sites.size(), 16u);
    for (const Site& site : sites) {
        for (CK_ULONG value : kValues) {
            SCOPED_TRACE(site.name + " = 0x" + [value] {
                char hex[24];
                std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(value));
                return std::string(hex);
            }());
            ASSERT_EQ(env->PushLocalFrame(16), JNI_OK);
            site.arrange(value);
            jobject result = site.call();
            // No JNI call while the range failure may be pending.
            const bool pending = env->ExceptionCheck();
            if (ulong_width::expectRangeOutcome(value)) {
                EXPECT_NE(result, nullptr);
                if (result != nullptr && site.getter != nullptr) {
                    EXPECT_EQ(callInt(result, site.getter), ulong_width::asJint(value));
                }
            } else {
                EXPECT_TRUE(pending);
                EXPECT_EQ(result, nullptr) << "no result after the range failure";
            }
            env->PopLocalFrame(nullptr);
        }
    }
}

TEST_F(WidthSweepTest, ObjectSizeFollowsTheWidthRule) {
    jobject session = Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(
        env, slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_USER, str("1234"));
    expectNoException();
    ASSERT_NE(session, nullptr);
    std::string label = "sized";
    CK_ATTRIBUTE t[] = {{CKA_LABEL, label.data(), label.size()}};
    const CK_OBJECT_HANDLE object = mock.p11mock_add_object(t, 1);
    for (CK_ULONG value : kValues) {
        mock.p11mock_report_len_next("C_GetObjectSize", value);
        const jint size = Java_qorvik_nat_NativeSession_J_1GetObjectSize(
            env, session, static_cast<jlong>(object));
        if (ulong_width::expectRangeOutcome(value)) {
            EXPECT_EQ(size, ulong_width::asJint(value)) << "0x" << std::hex << value;
        }
    }
}

}  // namespace
}  // namespace kt
