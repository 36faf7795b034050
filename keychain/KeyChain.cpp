// The signing identities of a keychain.
#include <vector>

#include "Identities.h"
#include "Java.h"
#include "KeyChainNatives.h"
#include "tarnel.h"

using namespace tarnel;

namespace {

// References taken from the search and not yet handed to a Java object.
class Collected {
  public:
    Collected() = default;
    Collected(const Collected&) = delete;
    Collected& operator=(const Collected&) = delete;
    ~Collected() {
        for (std::size_t i = handedOut_; i < refs_.size(); ++i) platform().release(refs_[i]);
    }
    void add(Ref identity) {
        try {
            refs_.push_back(identity);
        } catch (...) {
            platform().release(identity);
            throw;
        }
    }
    std::size_t size() const { return refs_.size(); }
    Ref at(std::size_t index) const { return refs_[index]; }
    Ref handOut() { return refs_[handedOut_++]; }

  private:
    std::vector<Ref> refs_;
    std::size_t handedOut_ = 0;
};

}  // namespace

extern "C" JNIEXPORT jobjectArray JNICALL
Java_zentrel_keychain_KeyChain_GetIdentityList(JNIEnv* env, jobject self) {
    return boundary(env, "KeyChain.GetIdentityList", jobjectArray{nullptr}, [&]() -> jobjectArray {
        identities::dropCollected(env);
        Local<jclass> keychainClass(env, findClass(env, kKeyChainClass));
        const jfieldID pathField =
            fieldId(env, keychainClass.get(), "m_sPath", "Ljava/lang/String;");
        Local<jstring> path(env, static_cast<jstring>(env->GetObjectField(self, pathField)));
        if (!path) return nullptr;
        const std::string text = utf8Of(env, path.get());
        if (text.find('\0') != std::string::npos) return nullptr;

        Collected identities;
        {
            Owned keychain;
            if (SecKeychainOpen2(text.c_str(), keychain.out()) != kOk) return nullptr;
            Owned search;
            if (platform().createIdentitySearch(keychain.get(), kKeyUseSign, search.out()) != kOk) {
                return nullptr;
            }
            for (;;) {
                Ref identity = nullptr;
                if (platform().copyNextIdentity(search.get(), &identity) != kOk) break;
                if (identity != nullptr) identities.add(identity);
            }
        }
        if (identities.size() == 0) return nullptr;
        if (identities.size() > INT32_MAX) throw std::bad_alloc();

        Local<jclass> identityClass(env, findClass(env, kIdentityClass));
        const jmethodID init =
            constructorId(env, identityClass.get(), "(JLzentrel/keychain/KeyChain;)V");
        Local<jobjectArray> result(env, env->NewObjectArray(static_cast<jsize>(identities.size()),
                                                            identityClass.get(), nullptr));
        checkPending(env);
        // The array is made whole before its objects take the references over: a failure on the
        // way leaves every reference with `identities`, which drops them.
        const auto count = static_cast<jsize>(identities.size());
        for (jsize i = 0; i < count; ++i) {
            Local<jobject> object(env, env->NewObject(identityClass.get(), init,
                                                      handleOfRef(identities.at(i)), self));
            checkPending(env);
            env->SetObjectArrayElement(result.get(), i, object.get());
            checkPending(env);
        }
        for (jsize i = 0; i < count; ++i) {
            Local<jobject> object(env, env->GetObjectArrayElement(result.get(), i));
            checkPending(env);
            identities::adopt(env, object.get(), identities.handOut());
        }
        return result.release();
    });
}

extern "C" JNIEXPORT void JNICALL Java_zentrel_keychain_KeyChain_ReleaseIdentityList(
    JNIEnv* env, jobject, jobjectArray identityList) {
    boundary(env, "KeyChain.ReleaseIdentityList", 0, [&]() {
        if (identityList == nullptr) return 0;
        const jsize count = env->GetArrayLength(identityList);
        for (jsize i = 0; i < count; ++i) {
            Local<jobject> identity(env, env->GetObjectArrayElement(identityList, i));
            checkPending(env);
            if (identity) identities::release(env, identity.get());
        }
        return 0;
    });
}
