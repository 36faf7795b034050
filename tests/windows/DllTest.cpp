// kelvane.dll itself, as a JVM would use it: loaded by the system (attach
// routine, static runtimes), native methods found by their export names,
// failures raised and caught inside the DLL and handed over as the
// CryptokiException.
#include <gtest/gtest.h>

#include <string>

#include "FakeJni.h"
#include "WinTestSupport.h"

namespace {

template <typename Function>
Function entry(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

using Load2 = void(JNICALL*)(JNIEnv*, jclass, jstring, jboolean);
using Lifecycle = void(JNICALL*)(JNIEnv*, jobject, jobject);
using MechanismInfo = jobject(JNICALL*)(JNIEnv*, jobject, jint);
using SetMechanisms = void (*)(unsigned, const CK_MECHANISM_TYPE*, const CK_MECHANISM_INFO*);

TEST(WindowsDll, NativeMethodsRunEndToEnd) {
    const HMODULE dll = LoadLibraryA(wintest::besideProgram("kelvane.dll").c_str());
    ASSERT_NE(dll, nullptr);
    auto load = entry<Load2>(dll, "Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary2");
    auto initialize = entry<Lifecycle>(dll, "Java_qorvik_nat_NativeCryptoki_Initialize");
    auto finalize = entry<Lifecycle>(dll, "Java_qorvik_nat_NativeCryptoki_Finalize");
    auto mechanismInfo =
        entry<MechanismInfo>(dll, "Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo");
    ASSERT_TRUE(load && initialize && finalize && mechanismInfo);

    FakeJni jni;
    // A failure thrown and caught inside the DLL.
    load(jni.env(), nullptr, jni.newString(wintest::besideProgram("no-such-module.dll")), JNI_TRUE);
    ASSERT_TRUE(jni.hasThrown());
    EXPECT_EQ(jni.thrown().function, "loadCryptokiLibrary");
    EXPECT_EQ(jni.thrown().message,
              "error loading pkcs#11 library: " + wintest::systemText(ERROR_MOD_NOT_FOUND));
    jni.clear();

    load(jni.env(), nullptr, jni.newString(P11MOCK_DLL_NAME), JNI_TRUE);
    ASSERT_FALSE(jni.hasThrown()) << jni.thrown().message;
    const HMODULE mock = GetModuleHandleA(P11MOCK_DLL_NAME);
    ASSERT_NE(mock, nullptr);
    initialize(jni.env(), nullptr, nullptr);
    ASSERT_FALSE(jni.hasThrown()) << jni.thrown().message;

    const CK_MECHANISM_TYPE type = CKM_SHA256_RSA_PKCS;
    const CK_MECHANISM_INFO info{1024, 0xFFFFFFFF, CKF_SIGN};
    entry<SetMechanisms>(mock, "p11mock_set_mechanisms")(1, &type, &info);
    jobject slot = jni.newObject("qorvik/nat/NativeSlot", {{"m_slotID", 1}});
    EXPECT_EQ(mechanismInfo(jni.env(), slot, static_cast<jint>(type)), nullptr);
    ASSERT_TRUE(jni.hasThrown());
    EXPECT_EQ(jni.thrown().function, "Check64BitLen");
    EXPECT_EQ(jni.thrown().code, 5);
    EXPECT_EQ(jni.thrown().message,
              "Error (J_GetMechanismInfo : 1) : Value out of size for 32 bit (jint)");
    EXPECT_EQ(jni.callsWhilePending(), 0);
    jni.clear();

    finalize(jni.env(), nullptr, nullptr);
    EXPECT_FALSE(jni.hasThrown());
    EXPECT_EQ(jni.unexpectedCalls(), 0);
    EXPECT_EQ(jni.stringCharsHeld(), 0);
    // The DLL forgot the module without unloading it.
    EXPECT_EQ(GetModuleHandleA(P11MOCK_DLL_NAME), mock);
    FreeLibrary(dll);
}

}  // namespace
