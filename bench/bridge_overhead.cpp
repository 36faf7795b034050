// What the bridge costs on top of the module: the same calls made through the
// JNI methods (with real Java arrays and objects) and directly through the
// module's function list, against the test module's cheap toy algorithms.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <jni.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jni_methods.h"
#include "kelmora.h"

namespace {

JNIEnv* g_env = nullptr;
jobject g_cryptoki = nullptr;
jobject g_session = nullptr;
jobject g_mechanism = nullptr;
jlong g_handle = 0;

bool startJvm() {
    const char* cp = std::getenv("KELVANE_TEST_CLASSPATH");
    if (cp == nullptr) return false;
    std::string option = std::string("-Djava.class.path=") + cp;
    JavaVMOption options[] = {{const_cast<char*>(option.c_str()), nullptr}};
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_10;
    args.nOptions = 1;
    args.options = options;
    JavaVM* vm = nullptr;
    void* env = nullptr;
    if (JNI_CreateJavaVM(&vm, &env, &args) != JNI_OK) return false;
    g_env = static_cast<JNIEnv*>(env);
    return true;
}

bool openSession(const char* module) {
    JNIEnv* env = g_env;
    jclass cryptokiClass = env->FindClass("qorvik/nat/NativeCryptoki");
    g_cryptoki = env->NewGlobalRef(env->AllocObject(cryptokiClass));
    Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary(env, cryptokiClass, env->NewStringUTF(module));
    Java_qorvik_nat_NativeCryptoki_Initialize(env, g_cryptoki, nullptr);
    jobjectArray slots = Java_qorvik_nat_NativeCryptoki_GetSlotList(env, g_cryptoki, JNI_TRUE);
    if (env->ExceptionCheck() || slots == nullptr) return false;
    jobject slot = env->GetObjectArrayElement(slots, 0);
    jobject session = Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, slot, CKF_SERIAL_SESSION);
    if (env->ExceptionCheck() || session == nullptr) return false;
    g_session = env->NewGlobalRef(session);
    g_handle = static_cast<jlong>(Session2CKSession(env, session));
    jclass mechClass = env->FindClass("qorvik/Mechanism");
    g_mechanism = env->NewGlobalRef(env->NewObject(
        mechClass, env->GetMethodID(mechClass, "<init>", "(ILjava/lang/Object;)V"),
        static_cast<jint>(CKM_SHA256), nullptr));
    return true;
}

void DigestThroughTheBridge(benchmark::State& state) {
    JNIEnv* env = g_env;
    const jsize size = static_cast<jsize>(state.range(0));
    jbyteArray data = env->NewByteArray(size);
    for (auto _ : state) {
        env->PushLocalFrame(4);
        jbyteArray digest = Java_qorvik_nat_NativeSession_J_1Digest__JZLqorvik_Mechanism_2_3BII(
            env, g_session, g_handle, JNI_TRUE, g_mechanism, data, 0, size);
        benchmark::DoNotOptimize(digest);
        env->PopLocalFrame(nullptr);
    }
    if (env->ExceptionCheck()) state.SkipWithError("the bridge reported a failure");
    env->DeleteLocalRef(data);
    state.SetBytesProcessed(state.iterations() * size);
}

void DigestDirectly(benchmark::State& state) {
    std::vector<CK_BYTE> data(static_cast<std::size_t>(state.range(0)));
    CK_MECHANISM mechanism{CKM_SHA256, nullptr, 0};
    CK_BYTE digest[64];
    const CK_SESSION_HANDLE session = static_cast<CK_SESSION_HANDLE>(g_handle);
    for (auto _ : state) {
        functionList->C_DigestInit(session, &mechanism);
        CK_ULONG length = sizeof digest;
        functionList->C_Digest(session, data.data(), data.size(), digest, &length);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

void SlotListThroughTheBridge(benchmark::State& state) {
    JNIEnv* env = g_env;
    for (auto _ : state) {
        env->PushLocalFrame(8);
        benchmark::DoNotOptimize(
            Java_qorvik_nat_NativeCryptoki_GetSlotList(env, g_cryptoki, JNI_FALSE));
        env->PopLocalFrame(nullptr);
    }
}

void SlotListDirectly(benchmark::State& state) {
    CK_SLOT_ID slots[8];
    for (auto _ : state) {
        CK_ULONG count = 0;
        functionList->C_GetSlotList(CK_FALSE, nullptr, &count);
        count = 8;
        functionList->C_GetSlotList(CK_FALSE, slots, &count);
        benchmark::DoNotOptimize(slots);
    }
}

BENCHMARK(DigestThroughTheBridge)->Arg(64)->Arg(4096)->Arg(65536);
BENCHMARK(DigestDirectly)->Arg(64)->Arg(4096)->Arg(65536);
BENCHMARK(SlotListThroughTheBridge);
BENCHMARK(SlotListDirectly);

}  // namespace

int main(int argc, char** argv) {
    const char* module = std::getenv("KELVANE_P11MOCK");
    if (module == nullptr || !startJvm() || !openSession(module)) {
        std::fprintf(stderr, "set KELVANE_TEST_CLASSPATH and KELVANE_P11MOCK\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
