// Keychains: the search lists by domain, and opening one keychain by its path.
#include <cstring>

#include "Java.h"
#include "KeyChainNatives.h"
#include "tarnel.h"

namespace tarnel {

namespace {

constexpr jint kDefaultSearchList = 5;

Status copyList(jint domain, Ref* list) {
    if (domain == kDefaultSearchList) return platform().copyDefaultSearchList(list);
    return platform().copyDomainSearchList(static_cast<PreferencesDomain>(domain - 1), list);
}

jobject newKeyChain(JNIEnv* env, jstring path) {
    Local<jclass> cls(env, findClass(env, kKeyChainClass));
    jmethodID init = constructorId(env, cls.get(), "(Ljava/lang/String;)V");
    jobject keychain = env->NewObject(cls.get(), init, path);
    checkPending(env);
    return keychain;
}

}  // namespace

bool readKeychainPath(Ref keychain, char (&path)[kPathBufferSize]) {
    std::memset(path, 0, sizeof path);
    std::uint32_t length = kPathBufferSize;
    if (keychain == nullptr || platform().keychainPath(keychain, &length, path) != kOk) {
        return false;
    }
    // Whatever the system said, the text ends inside the buffer.
    path[kPathBufferSize - 1] = '\0';
    return true;
}

Status SecKeychainOpen2(const char* path, Ref* keychain) {
    *keychain = nullptr;
    Owned list;
    if (platform().copyDefaultSearchList(list.out()) != kOk || list.get() == nullptr) {
        return kItemNotFound;
    }
    const long count = platform().arrayCount(list.get());
    for (long i = 0; i < count; ++i) {
        Ref candidate = platform().arrayElement(list.get(), i);
        char candidatePath[kPathBufferSize];
        if (readKeychainPath(candidate, candidatePath) && std::strcmp(candidatePath, path) == 0) {
            *keychain = platform().retain(candidate);
            return kOk;
        }
    }
    return kItemNotFound;
}

}  // namespace tarnel

using namespace tarnel;

extern "C" JNIEXPORT jobjectArray JNICALL
Java_zentrel_keychain_KeyChainLib_GetKeyChainList(JNIEnv* env, jobject, jint domain) {
    constexpr const char* where = "KeyChainLib.GetKeyChainList";
    return boundary(env, where, jobjectArray{nullptr}, [&]() -> jobjectArray {
        runPendingSources();
        if (domain < 1 || domain > kDefaultSearchList) {
            ThrowKeyChainException(env, where, kInvalidDomain, "Invalid Keychain Domain");
            return nullptr;
        }
        Owned list;
        if (copyList(domain, list.out()) != kOk || list.get() == nullptr) return nullptr;
        const long count = platform().arrayCount(list.get());
        if (count <= 0) return nullptr;
        if (count > INT32_MAX) throw std::bad_alloc();

        Local<jclass> cls(env, findClass(env, kKeyChainClass));
        Local<jobjectArray> result(
            env, env->NewObjectArray(static_cast<jsize>(count), cls.get(), nullptr));
        checkPending(env);
        for (long i = 0; i < count; ++i) {
            char path[kPathBufferSize];
            if (!readKeychainPath(platform().arrayElement(list.get(), i), path)) continue;
            Local<jstring> text(env, stringOfUtf8(env, path, std::strlen(path)));
            Local<jobject> keychain(env, newKeyChain(env, text.get()));
            env->SetObjectArrayElement(result.get(), static_cast<jsize>(i), keychain.get());
            checkPending(env);
        }
        return result.release();
    });
}

extern "C" JNIEXPORT jobject JNICALL Java_zentrel_keychain_KeyChainLib_GetKeyChain(JNIEnv* env,
                                                                                   jobject,
                                                                                   jstring path) {
    return boundary(env, "KeyChainLib.GetKeyChain", jobject{nullptr}, [&]() -> jobject {
        if (path == nullptr) return nullptr;
        const std::string text = utf8Of(env, path);
        if (text.find('\0') != std::string::npos) return nullptr;  // no path holds a NUL
        Owned keychain;
        if (SecKeychainOpen2(text.c_str(), keychain.out()) != kOk) return nullptr;
        return newKeyChain(env, path);
    });
}
