// The one JVM of the keychain suite (-Xcheck:jni, tarnel.jar), short ways to
// call the natives as Java would and to read what they leave pending, and the
// fixture every test of the suite uses.
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

#include <optional>
#include <string>
#include <type_traits>

#include "ForcingPlatform.h"
#include "KeyChainNatives.h"

namespace kcn {

JavaVM* vm();
// The main thread's environment.
JNIEnv* env();
int jniWarnings();

// The pending KeyChainException, cleared; nothing when none is pending. Any
// other pending throwable fails the test (and is cleared).
struct Thrown {
    std::string where;
    int status = 0;
    std::string message;
};
std::optional<Thrown> takeException(JNIEnv* e = env());

std::string text(jstring s, JNIEnv* e = env());
jstring str(const std::string& utf8, JNIEnv* e = env());
std::string bytesOf(jbyteArray array, JNIEnv* e = env());
jbyteArray byteArray(const std::string& bytes, JNIEnv* e = env());

jclass keyChainLibClass();  // a global reference
jobject newKeyChain(jstring path, JNIEnv* e = env());
jobject newIdentity(jlong handle, jobject keyChain, JNIEnv* e = env());
jstring pathOf(jobject keyChain, JNIEnv* e = env());
void setPin(jobject keyChain, const char* pin, JNIEnv* e = env());
jlong handleOf(jobject identity, JNIEnv* e = env());
void setHandle(jobject identity, jlong handle, JNIEnv* e = env());
void setKeyChainOf(jobject identity, jobject keyChain, JNIEnv* e = env());

// Calls a native the way the JVM does from Java: in a local frame of its own
// holding the 16 references a native may use without asking for more, so
// that -Xcheck:jni reports a native that leaks local references.
template <class F>
auto inNativeFrame(JNIEnv* e, F&& f) {
    using Result = decltype(f());
    if (e->PushLocalFrame(16) != JNI_OK) ADD_FAILURE() << "no local frame";
    if constexpr (std::is_void_v<Result>) {
        f();
        e->PopLocalFrame(nullptr);
    } else if constexpr (std::is_pointer_v<Result>) {
        Result result = f();
        return static_cast<Result>(e->PopLocalFrame(result));
    } else {
        Result result = f();
        e->PopLocalFrame(nullptr);
        return result;
    }
}

// The natives, each in its own frame.
jint loadKeyChainLibrary(JNIEnv* e = env());
void finalizeLibrary(JNIEnv* e = env());
jobjectArray getKeyChainList(jint domain, JNIEnv* e = env());
jobject getKeyChain(jstring path, JNIEnv* e = env());
jobjectArray getIdentityList(jobject keyChain, JNIEnv* e = env());
void releaseIdentityList(jobject keyChain, jobjectArray identities, JNIEnv* e = env());
jbyteArray sign(jobject identity, jbyteArray data, jstring digest, jstring signature,
                JNIEnv* e = env());
jint verify(jobject identity, jbyteArray data, jbyteArray signature, JNIEnv* e = env());
jbyteArray getAttribute(jobject identity, jint selector, JNIEnv* e = env());
jstring getAlias(jobject identity, JNIEnv* e = env());
void lock(jobject identity, JNIEnv* e = env());
void release(jobject identity, JNIEnv* e = env());

// Every test: the forcing platform in use, a local frame, and afterwards no
// pending exception, no object of the platform alive, no stray release.
class KeychainTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Drops the references of every identity in the array (ReleaseIdentityList)
    // and expects each one's field to be 0 afterwards.
    void releaseAll(jobject keyChain, jobjectArray identities);
    void expectNoException();
    // Expects the pending KeyChainException and clears it.
    void expectThrown(const std::string& where, int status, const std::string& message);

    JNIEnv* env = kcn::env();
    ForcingPlatform forcing;

  private:
    std::size_t straysBefore_ = 0;
};

}  // namespace kcn
