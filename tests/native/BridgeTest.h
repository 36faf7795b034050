// Fixture shared by the bridge tests: a clean bridge state, reset test
// modules, a local-reference frame per test, and short ways to call the
// exports and check what they leave pending.
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

#include <string>

#include "Jvm.h"
#include "Mock.h"
#include "jni_methods.h"
#include "kelmora.h"

namespace kt {

// Brings the process-wide state back to "nothing loaded".
void resetBridge();

class BridgeTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    jstring str(const std::string& s) { return env->NewStringUTF(s.c_str()); }
    // Loads through loadCryptokiLibrary2 and expects no failure.
    void load(const std::string& name, bool freeLib = true);
    void loadAndInitialize(const Mock& mock);
    void initialize();

    // new NativeSlot(id), as GetSlotList builds them.
    jobject newSlot(jint id);

    // Asserts that nothing is pending.
    void expectNoException();
    // Asserts the pending CryptokiException and clears it.
    void expectFailure(const std::string& function, int code, const std::string& message);
    // The same, with the description of code.
    void expectRv(const std::string& function, CK_RV rv);

    JNIEnv* env = kt::env();
    jobject cryptoki = nullptr;  // a qorvik.nat.NativeCryptoki
    int warningsBefore_ = 0;
    jclass cryptokiClass = nullptr;
};

}  // namespace kt
