#include "Jvm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../support/EmbeddedJvm.h"
#include "../support/JniWarnings.h"

namespace kt {
namespace {

JNIEnv* g_env = nullptr;

class JvmEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const char* cp = std::getenv("KELVANE_TEST_CLASSPATH");
        ASSERT_NE(cp, nullptr) << "KELVANE_TEST_CLASSPATH is not set";
        // The JVM checks every JNI call the bridge makes (pending exceptions,
        // wrong types, released arrays) and aborts on misuse.
        g_env = embedded_jvm::start(cp, {"-Xcheck:jni"}, &jni_warnings::print);
        ASSERT_NE(g_env, nullptr) << "the JVM did not start";
    }
};

}  // namespace

JNIEnv* env() {
    return g_env;
}

int jniWarnings() {
    return jni_warnings::count();
}

std::string javaString(jstring s) {
    if (s == nullptr) return "<null>";
    const char* chars = g_env->GetStringUTFChars(s, nullptr);
    if (chars == nullptr) {
        g_env->ExceptionClear();
        return "<unreadable>";
    }
    std::string out(chars);
    g_env->ReleaseStringUTFChars(s, chars);
    return out;
}

std::string takeAnyExceptionClass() {
    jthrowable exc = g_env->ExceptionOccurred();
    if (exc == nullptr) return "";
    g_env->ExceptionClear();
    jclass cls = g_env->GetObjectClass(exc);
    jclass classClass = g_env->FindClass("java/lang/Class");
    jmethodID getName = g_env->GetMethodID(classClass, "getName", "()Ljava/lang/String;");
    jstring text = static_cast<jstring>(g_env->CallObjectMethod(cls, getName));
    g_env->ExceptionClear();
    std::string name = javaString(text);
    g_env->DeleteLocalRef(classClass);
    g_env->DeleteLocalRef(cls);
    g_env->DeleteLocalRef(exc);
    return name;
}

std::optional<Thrown> takeException() {
    jthrowable exc = g_env->ExceptionOccurred();
    if (exc == nullptr) return std::nullopt;
    g_env->ExceptionClear();
    jclass cryptoki = g_env->FindClass("qorvik/CryptokiException");
    if (cryptoki == nullptr || !g_env->IsInstanceOf(exc, cryptoki)) {
        g_env->ExceptionClear();
        g_env->Throw(exc);
        ADD_FAILURE() << "pending exception is not a CryptokiException: "
                      << takeAnyExceptionClass();
        return Thrown{"<other>", -1, ""};
    }
    Thrown t;
    t.function = callString(exc, "getFunctionName");
    t.code = callInt(exc, "getCode");
    t.message = callString(exc, "getMessage");
    g_env->DeleteLocalRef(cryptoki);
    g_env->DeleteLocalRef(exc);
    return t;
}

jobject newObject(const char* classPath) {
    jclass cls = g_env->FindClass(classPath);
    if (cls == nullptr) {
        g_env->ExceptionClear();
        ADD_FAILURE() << "class not found: " << classPath;
        return nullptr;
    }
    jobject obj = g_env->AllocObject(cls);
    g_env->DeleteLocalRef(cls);
    return obj;
}

jobject newSession(jint slot, jint handle) {
    jclass slotClass = g_env->FindClass("qorvik/nat/NativeSlot");
    jobject slotObj =
        g_env->NewObject(slotClass, g_env->GetMethodID(slotClass, "<init>", "(I)V"), slot);
    jclass sessionClass = g_env->FindClass("qorvik/nat/NativeSession");
    jobject session = g_env->NewObject(
        sessionClass, g_env->GetMethodID(sessionClass, "<init>", "(Lqorvik/Slot;I)V"), slotObj,
        handle);
    g_env->DeleteLocalRef(slotClass);
    g_env->DeleteLocalRef(sessionClass);
    g_env->DeleteLocalRef(slotObj);
    return session;
}

jint slotId(jobject nativeSlot) {
    jclass cls = g_env->GetObjectClass(nativeSlot);
    jint id = g_env->GetIntField(nativeSlot, g_env->GetFieldID(cls, "m_slotID", "I"));
    g_env->DeleteLocalRef(cls);
    return id;
}

jint callInt(jobject obj, const char* method) {
    jclass cls = g_env->GetObjectClass(obj);
    jmethodID id = g_env->GetMethodID(cls, method, "()I");
    g_env->DeleteLocalRef(cls);
    if (id == nullptr) {
        g_env->ExceptionClear();
        ADD_FAILURE() << "no int method " << method;
        return -1;
    }
    const jint value = g_env->CallIntMethod(obj, id);
    if (g_env->ExceptionCheck()) ADD_FAILURE() << method << " threw " << takeAnyExceptionClass();
    return value;
}

jlong callLong(jobject obj, const char* method) {
    jclass cls = g_env->GetObjectClass(obj);
    jmethodID id = g_env->GetMethodID(cls, method, "()J");
    g_env->DeleteLocalRef(cls);
    if (id == nullptr) {
        g_env->ExceptionClear();
        ADD_FAILURE() << "no long method " << method;
        return -1;
    }
    const jlong value = g_env->CallLongMethod(obj, id);
    if (g_env->ExceptionCheck()) ADD_FAILURE() << method << " threw " << takeAnyExceptionClass();
    return value;
}

jobject callObject(jobject obj, const char* method, const char* signature) {
    jclass cls = g_env->GetObjectClass(obj);
    jmethodID id = g_env->GetMethodID(cls, method, signature);
    g_env->DeleteLocalRef(cls);
    if (id == nullptr) {
        g_env->ExceptionClear();
        ADD_FAILURE() << "no method " << method << signature;
        return nullptr;
    }
    jobject value = g_env->CallObjectMethod(obj, id);
    if (g_env->ExceptionCheck()) ADD_FAILURE() << method << " threw " << takeAnyExceptionClass();
    return value;
}

std::string callString(jobject obj, const char* method) {
    jobject s = callObject(obj, method, "()Ljava/lang/String;");
    std::string out = javaString(static_cast<jstring>(s));
    if (s != nullptr) g_env->DeleteLocalRef(s);
    return out;
}

namespace {

jobject boxed(const char* cls, const char* sig, jvalue value) {
    jclass c = g_env->FindClass(cls);
    jmethodID valueOf = g_env->GetStaticMethodID(c, "valueOf", sig);
    jobject out = g_env->CallStaticObjectMethodA(c, valueOf, &value);
    if (g_env->ExceptionCheck()) ADD_FAILURE() << "valueOf threw " << takeAnyExceptionClass();
    g_env->DeleteLocalRef(c);
    return out;
}

}  // namespace

jobject javaInteger(jint value) {
    jvalue v;
    v.i = value;
    return boxed("java/lang/Integer", "(I)Ljava/lang/Integer;", v);
}

jobject javaBoolean(bool value) {
    jvalue v;
    v.z = value ? JNI_TRUE : JNI_FALSE;
    return boxed("java/lang/Boolean", "(Z)Ljava/lang/Boolean;", v);
}

jobject javaLong(jlong value) {
    jvalue v;
    v.j = value;
    return boxed("java/lang/Long", "(J)Ljava/lang/Long;", v);
}

jbyteArray javaBytes(const std::string& bytes) {
    jbyteArray array = g_env->NewByteArray(static_cast<jsize>(bytes.size()));
    g_env->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                              reinterpret_cast<const jbyte*>(bytes.data()));
    return array;
}

std::string bytesOf(jbyteArray array) {
    std::string out(static_cast<std::size_t>(g_env->GetArrayLength(array)), '\0');
    g_env->GetByteArrayRegion(array, 0, static_cast<jsize>(out.size()),
                              reinterpret_cast<jbyte*>(out.data()));
    return out;
}

jobjectArray attributeArray(std::initializer_list<std::pair<jint, jobject>> attributes) {
    jclass cls = g_env->FindClass("qorvik/Attribute");
    jmethodID ctor = g_env->GetMethodID(cls, "<init>", "(ILjava/lang/Object;)V");
    jobjectArray array = g_env->NewObjectArray(static_cast<jsize>(attributes.size()), cls, nullptr);
    jsize i = 0;
    for (const auto& [type, value] : attributes) {
        jobject attribute = g_env->NewObject(cls, ctor, type, value);
        g_env->SetObjectArrayElement(array, i++, attribute);
        g_env->DeleteLocalRef(attribute);
    }
    g_env->DeleteLocalRef(cls);
    return array;
}

jintArray intArray(std::initializer_list<jint> values) {
    jintArray array = g_env->NewIntArray(static_cast<jsize>(values.size()));
    g_env->SetIntArrayRegion(array, 0, static_cast<jsize>(values.size()), values.begin());
    return array;
}

jint attributeType(jobject attribute) {
    jclass cls = g_env->GetObjectClass(attribute);
    jint type = g_env->GetIntField(attribute, g_env->GetFieldID(cls, "type", "I"));
    g_env->DeleteLocalRef(cls);
    return type;
}

jobject attributeValue(jobject attribute) {
    jclass cls = g_env->GetObjectClass(attribute);
    jobject value =
        g_env->GetObjectField(attribute, g_env->GetFieldID(cls, "value", "Ljava/lang/Object;"));
    g_env->DeleteLocalRef(cls);
    return value;
}

}  // namespace kt

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new kt::JvmEnvironment);
    ::testing::UnitTest::GetInstance()->listeners().Append(new jni_warnings::Listener);
    const int result = RUN_ALL_TESTS();
    if (kt::jniWarnings() > 0) {
        std::fprintf(stderr, "FAILED: %d -Xcheck:jni warnings (WARNING in native method)\n",
                     kt::jniWarnings());
        return 1;
    }
    return result;
}
