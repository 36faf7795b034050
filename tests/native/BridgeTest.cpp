#include "BridgeTest.h"

#include <dlfcn.h>

namespace kt {

const Mock& plainMock() {
    static Mock mock("KELVANE_P11MOCK");
    return mock;
}

const Mock& quarnsigMock() {
    static Mock mock("KELVANE_P11MOCK_QUARNSIG");
    return mock;
}

void resetBridge() {
    if (functionList != nullptr) functionList->C_Finalize(NULL_PTR);
    if (hLibModule != nullptr) dlclose(hLibModule);
    hLibModule = nullptr;
    functionList = nullptr;
    bInitialized = CK_FALSE;
    sLibName[0] = '\0';
    sLibFullPath[0] = '\0';
    freeLibrary = 0;
    pC_SetCallBack = nullptr;
    g_bIsSecondAuthenticationRequired = true;
}

void BridgeTest::SetUp() {
    ASSERT_NE(env, nullptr);
    warningsBefore_ = jniWarnings();
    ASSERT_EQ(env->PushLocalFrame(256), JNI_OK);
    resetBridge();
    for (const Mock* m : {&plainMock(), &quarnsigMock()}) {
        m->p11mock_reset();
        m->p11mock_force_uninitialized();
    }
    cryptoki = newObject("qorvik/nat/NativeCryptoki");
    cryptokiClass = env->FindClass("qorvik/nat/NativeCryptoki");
}

void BridgeTest::TearDown() {
    EXPECT_EQ(jniWarnings(), warningsBefore_) << "-Xcheck:jni warned during this test";
    if (env->ExceptionCheck()) {
        ADD_FAILURE() << "exception left pending: " << takeAnyExceptionClass();
    }
    resetBridge();
    env->PopLocalFrame(nullptr);
}

void BridgeTest::load(const std::string& name, bool freeLib) {
    Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary2(env, cryptokiClass, str(name),
                                                        freeLib ? JNI_TRUE : JNI_FALSE);
    expectNoException();
}

void BridgeTest::initialize() {
    Java_qorvik_nat_NativeCryptoki_Initialize(env, cryptoki, nullptr);
    expectNoException();
}

void BridgeTest::loadAndInitialize(const Mock& mock) {
    load(mock.path());
    initialize();
}

jobject BridgeTest::newSlot(jint id) {
    jclass slotClass = env->FindClass("qorvik/nat/NativeSlot");
    jobject slot = env->NewObject(slotClass, env->GetMethodID(slotClass, "<init>", "(I)V"), id);
    env->DeleteLocalRef(slotClass);
    return slot;
}

void BridgeTest::expectNoException() {
    if (auto t = takeException()) {
        ADD_FAILURE() << "unexpected CryptokiException " << t->function << " 0x" << std::hex
                      << t->code << " '" << t->message << "'";
    }
}

void BridgeTest::expectFailure(const std::string& function, int code, const std::string& message) {
    auto t = takeException();
    ASSERT_TRUE(t.has_value()) << "expected " << function << " to fail with '" << message << "'";
    EXPECT_EQ(t->function, function);
    EXPECT_EQ(t->code, code);
    EXPECT_EQ(t->message, message);
}

void BridgeTest::expectRv(const std::string& function, CK_RV rv) {
    expectFailure(function, static_cast<int>(static_cast<uint32_t>(rv)), getCryptokiErrorDesc(rv));
}

}  // namespace kt
