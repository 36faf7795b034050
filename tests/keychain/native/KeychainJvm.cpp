#include "KeychainJvm.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "EmbeddedJvm.h"
#include "JniWarnings.h"
#include "linux/LinuxPlatform.h"

namespace kcn {
namespace {

JavaVM* g_vm = nullptr;
JNIEnv* g_env = nullptr;
jclass g_libClass = nullptr;

class JvmEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const char* classPath = std::getenv("TARNEL_TEST_CLASSPATH");
        ASSERT_NE(classPath, nullptr) << "TARNEL_TEST_CLASSPATH is not set";
        // A native holding more local references than its frame has room for counts too.
        jni_warnings::g_alsoCounted = "JNI local refs";
        g_env = embedded_jvm::start(classPath, {"-Xcheck:jni"}, &jni_warnings::print);
        ASSERT_NE(g_env, nullptr) << "the JVM did not start";
        ASSERT_EQ(g_env->GetJavaVM(&g_vm), JNI_OK);
        jclass lib = g_env->FindClass("zentrel/keychain/KeyChainLib");
        ASSERT_NE(lib, nullptr) << "zentrel.keychain.KeyChainLib is not on the class path";
        g_libClass = static_cast<jclass>(g_env->NewGlobalRef(lib));
        g_env->DeleteLocalRef(lib);
    }
};

jfieldID field(JNIEnv* e, const char* cls, const char* name, const char* signature) {
    jclass c = e->FindClass(cls);
    jfieldID id = e->GetFieldID(c, name, signature);
    e->DeleteLocalRef(c);
    return id;
}

}  // namespace

JavaVM* vm() {
    return g_vm;
}

JNIEnv* env() {
    return g_env;
}

int jniWarnings() {
    return jni_warnings::count();
}

jclass keyChainLibClass() {
    return g_libClass;
}

std::string text(jstring s, JNIEnv* e) {
    if (s == nullptr) return "<null>";
    const jsize length = e->GetStringUTFLength(s);
    std::string out(static_cast<std::size_t>(length) + 1, '\0');  // the JVM adds a terminator
    e->GetStringUTFRegion(s, 0, e->GetStringLength(s), out.data());
    out.resize(static_cast<std::size_t>(length));
    return out;
}

jstring str(const std::string& utf8, JNIEnv* e) {
    return e->NewStringUTF(utf8.c_str());
}

std::string bytesOf(jbyteArray array, JNIEnv* e) {
    std::string out(static_cast<std::size_t>(e->GetArrayLength(array)), '\0');
    e->GetByteArrayRegion(array, 0, static_cast<jsize>(out.size()),
                          reinterpret_cast<jbyte*>(out.data()));
    return out;
}

jbyteArray byteArray(const std::string& bytes, JNIEnv* e) {
    jbyteArray array = e->NewByteArray(static_cast<jsize>(bytes.size()));
    e->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                          reinterpret_cast<const jbyte*>(bytes.data()));
    return array;
}

std::optional<Thrown> takeException(JNIEnv* e) {
    jthrowable thrown = e->ExceptionOccurred();
    if (thrown == nullptr) return std::nullopt;
    e->ExceptionClear();
    jclass cls = e->FindClass("zentrel/keychain/KeyChainException");
    if (!e->IsInstanceOf(thrown, cls)) {
        e->DeleteLocalRef(cls);
        jclass actual = e->GetObjectClass(thrown);
        jclass classClass = e->FindClass("java/lang/Class");
        jmethodID getName = e->GetMethodID(classClass, "getName", "()Ljava/lang/String;");
        jstring name = static_cast<jstring>(e->CallObjectMethod(actual, getName));
        e->ExceptionClear();
        ADD_FAILURE() << "pending exception is not a KeyChainException: " << text(name, e);
        e->DeleteLocalRef(name);
        e->DeleteLocalRef(classClass);
        e->DeleteLocalRef(actual);
        e->DeleteLocalRef(thrown);
        return Thrown{"<other>", -1, ""};
    }
    Thrown out;
    jmethodID getWhere = e->GetMethodID(cls, "getWhere", "()Ljava/lang/String;");
    jmethodID getStatus = e->GetMethodID(cls, "getStatus", "()I");
    jmethodID getMessage = e->GetMethodID(cls, "getMessage", "()Ljava/lang/String;");
    jstring where = static_cast<jstring>(e->CallObjectMethod(thrown, getWhere));
    EXPECT_FALSE(e->ExceptionCheck());
    out.where = text(where, e);
    out.status = e->CallIntMethod(thrown, getStatus);
    EXPECT_FALSE(e->ExceptionCheck());
    jstring message = static_cast<jstring>(e->CallObjectMethod(thrown, getMessage));
    EXPECT_FALSE(e->ExceptionCheck());
    out.message = text(message, e);
    e->DeleteLocalRef(where);
    e->DeleteLocalRef(message);
    e->DeleteLocalRef(cls);
    e->DeleteLocalRef(thrown);
    return out;
}

jobject newKeyChain(jstring path, JNIEnv* e) {
    jclass cls = e->FindClass("zentrel/keychain/KeyChain");
    jobject out = e->NewObject(cls, e->GetMethodID(cls, "<init>", "(Ljava/lang/String;)V"), path);
    EXPECT_FALSE(e->ExceptionCheck());
    e->DeleteLocalRef(cls);
    return out;
}

jobject newIdentity(jlong handle, jobject keyChain, JNIEnv* e) {
    jclass cls = e->FindClass("zentrel/keychain/KeyChainIdentity");
    jobject out = e->NewObject(
        cls, e->GetMethodID(cls, "<init>", "(JLzentrel/keychain/KeyChain;)V"), handle, keyChain);
    EXPECT_FALSE(e->ExceptionCheck());
    e->DeleteLocalRef(cls);
    return out;
}

jstring pathOf(jobject keyChain, JNIEnv* e) {
    return static_cast<jstring>(e->GetObjectField(
        keyChain, field(e, "zentrel/keychain/KeyChain", "m_sPath", "Ljava/lang/String;")));
}

void setPin(jobject keyChain, const char* pin, JNIEnv* e) {
    jstring value = pin != nullptr ? e->NewStringUTF(pin) : nullptr;
    e->SetObjectField(keyChain,
                      field(e, "zentrel/keychain/KeyChain", "m_sPin", "Ljava/lang/String;"), value);
    if (value != nullptr) e->DeleteLocalRef(value);
}

jlong handleOf(jobject identity, JNIEnv* e) {
    return e->GetLongField(identity,
                           field(e, "zentrel/keychain/KeyChainIdentity", "m_hIdentity", "J"));
}

void setHandle(jobject identity, jlong handle, JNIEnv* e) {
    e->SetLongField(identity, field(e, "zentrel/keychain/KeyChainIdentity", "m_hIdentity", "J"),
                    handle);
}

void setKeyChainOf(jobject identity, jobject keyChain, JNIEnv* e) {
    e->SetObjectField(
        identity,
        field(e, "zentrel/keychain/KeyChainIdentity", "m_pKeyChain", "Lzentrel/keychain/KeyChain;"),
        keyChain);
}

jint loadKeyChainLibrary(JNIEnv* e) {
    return inNativeFrame(
        e, [&] { return Java_zentrel_keychain_KeyChainLib_loadKeyChainLibrary(e, g_libClass); });
}

void finalizeLibrary(JNIEnv* e) {
    inNativeFrame(e, [&] { Java_zentrel_keychain_KeyChainLib_Finalize(e, g_libClass); });
}

jobjectArray getKeyChainList(jint domain, JNIEnv* e) {
    return inNativeFrame(e, [&] {
        return Java_zentrel_keychain_KeyChainLib_GetKeyChainList(e, g_libClass, domain);
    });
}

jobject getKeyChain(jstring path, JNIEnv* e) {
    return inNativeFrame(
        e, [&] { return Java_zentrel_keychain_KeyChainLib_GetKeyChain(e, g_libClass, path); });
}

jobjectArray getIdentityList(jobject keyChain, JNIEnv* e) {
    return inNativeFrame(
        e, [&] { return Java_zentrel_keychain_KeyChain_GetIdentityList(e, keyChain); });
}

void releaseIdentityList(jobject keyChain, jobjectArray identities, JNIEnv* e) {
    inNativeFrame(
        e, [&] { Java_zentrel_keychain_KeyChain_ReleaseIdentityList(e, keyChain, identities); });
}

jbyteArray sign(jobject identity, jbyteArray data, jstring digest, jstring signature, JNIEnv* e) {
    return inNativeFrame(e, [&] {
        return Java_zentrel_keychain_KeyChainIdentity_Sign(e, identity, data, digest, signature);
    });
}

jint verify(jobject identity, jbyteArray data, jbyteArray signature, JNIEnv* e) {
    return inNativeFrame(e, [&] {
        return Java_zentrel_keychain_KeyChainIdentity_Verify(e, identity, data, signature);
    });
}

jbyteArray getAttribute(jobject identity, jint selector, JNIEnv* e) {
    return inNativeFrame(e, [&] {
        return Java_zentrel_keychain_KeyChainIdentity_getAttribute(e, identity, selector);
    });
}

jstring getAlias(jobject identity, JNIEnv* e) {
    return inNativeFrame(
        e, [&] { return Java_zentrel_keychain_KeyChainIdentity_getAlias(e, identity); });
}

void lock(jobject identity, JNIEnv* e) {
    inNativeFrame(e, [&] { Java_zentrel_keychain_KeyChainIdentity_Lock(e, identity); });
}

void release(jobject identity, JNIEnv* e) {
    inNativeFrame(e, [&] { Java_zentrel_keychain_KeyChainIdentity_Release(e, identity); });
}

void KeychainTest::SetUp() {
    ASSERT_NE(env, nullptr);
    ASSERT_EQ(env->PushLocalFrame(512), JNI_OK);
    straysBefore_ = tarnel::linux_platform::strayReleases();
    tarnel::usePlatform(&forcing);
}

void KeychainTest::TearDown() {
    expectNoException();
    tarnel::usePlatform(nullptr);
    env->PopLocalFrame(nullptr);
    EXPECT_EQ(tarnel::linux_platform::liveObjects(), 0u) << "platform objects left alive";
    EXPECT_EQ(tarnel::linux_platform::strayReleases(), straysBefore_)
        << "releases of something not alive";
}

void KeychainTest::releaseAll(jobject keyChain, jobjectArray identities) {
    if (identities == nullptr) return;
    releaseIdentityList(keyChain, identities);
    expectNoException();
    const jsize n = env->GetArrayLength(identities);
    for (jsize i = 0; i < n; ++i) {
        jobject identity = env->GetObjectArrayElement(identities, i);
        if (identity == nullptr) continue;
        EXPECT_EQ(handleOf(identity), 0) << "identity " << i << " still holds a reference";
        env->DeleteLocalRef(identity);
    }
}

void KeychainTest::expectNoException() {
    if (auto thrown = takeException(env)) {
        ADD_FAILURE() << "unexpected KeyChainException: " << thrown->where << " " << thrown->status
                      << " " << thrown->message;
    }
}

void KeychainTest::expectThrown(const std::string& where, int status, const std::string& message) {
    auto thrown = takeException(env);
    ASSERT_TRUE(thrown.has_value()) << "no exception pending; expected " << message;
    EXPECT_EQ(thrown->where, where);
    EXPECT_EQ(thrown->status, status);
    EXPECT_EQ(thrown->message, message);
}

}  // namespace kcn

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new kcn::JvmEnvironment);
    ::testing::UnitTest::GetInstance()->listeners().Append(new jni_warnings::Listener);
    const int result = RUN_ALL_TESTS();
    if (kcn::jniWarnings() > 0) {
        std::fprintf(stderr, "FAILED: %d JNI check warnings\n", kcn::jniWarnings());
        return 1;
    }
    return result;
}
