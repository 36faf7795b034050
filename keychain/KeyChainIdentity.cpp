// A signing identity: signing, its certificate and key attributes, its alias,
// and the references its Java object holds.
#include <vector>

#include "Identities.h"
#include "Java.h"
#include "KeyChainNatives.h"
#include "tarnel.h"

using namespace tarnel;

namespace {

constexpr const char* kSignWhere = "zentrel.keychain.KeyChainIdentity.Sign";

// The largest signature the identity's key makes, and never less than the usual buffer.
std::size_t signatureCapacity(Ref identity) {
    std::size_t capacity = kSignatureBufferSize;
    if (identity == nullptr) return capacity;
    Owned key;
    if (platform().copyPrivateKey(identity, key.out()) != kOk || key.get() == nullptr) {
        return capacity;
    }
    std::size_t keySize = 0;
    if (platform().keySignatureSize(key.get(), &keySize) == kOk && keySize > capacity) {
        capacity = keySize;
    }
    return capacity;
}

// One attribute of the identity's private key, as a new byte[]; null for anything that fails or
// is empty.
template <typename Convert>
auto withKeyAttribute(Ref identity, std::uint32_t tag, Convert&& convert)
    -> decltype(convert(nullptr, 0)) {
    Owned key;
    if (platform().copyPrivateKey(identity, key.out()) != kOk || key.get() == nullptr) {
        return nullptr;
    }
    KeychainAttributeList* list = nullptr;
    if (platform().copyKeyAttributes(key.get(), tag, kAttributeFormatBlob, &list) != kOk ||
        list == nullptr) {
        return nullptr;
    }
    struct Freed {
        KeychainAttributeList* list;
        ~Freed() { platform().freeKeyAttributes(list); }
    } freed{list};
    if (list->count < 1 || list->attr == nullptr || list->attr[0].length == 0 ||
        list->attr[0].data == nullptr) {
        return nullptr;
    }
    return convert(list->attr[0].data, list->attr[0].length);
}

}  // namespace

extern "C" JNIEXPORT jbyteArray JNICALL
Java_zentrel_keychain_KeyChainIdentity_Sign(JNIEnv* env, jobject self, jbyteArray data,
                                            jstring digestAlgorithm, jstring signatureAlgorithm) {
    return boundary(env, kSignWhere, jbyteArray{nullptr}, [&]() -> jbyteArray {
        if (data == nullptr) {
            ThrowKeyChainException(env, kSignWhere, kParamError, "Data is NULL");
            return nullptr;
        }
        Local<jclass> identityClass(env, findClass(env, kIdentityClass));
        const jfieldID keychainField =
            fieldId(env, identityClass.get(), "m_pKeyChain", "Lzentrel/keychain/KeyChain;");
        Local<jobject> keychain(env, env->GetObjectField(self, keychainField));
        if (!keychain) {
            ThrowKeyChainException(env, kSignWhere, kParamError, "Identity has no keychain");
            return nullptr;
        }
        // The keychain's PIN (m_sPin) is not handed to the signing call: signing asks the system
        // for its own credentials.
        if (digestAlgorithm == nullptr || signatureAlgorithm == nullptr) {
            ThrowKeyChainException(env, kSignWhere, kParamError, "Algorithm name is NULL");
            return nullptr;
        }
        const std::uint32_t digest = GetAlgID(env, digestAlgorithm);
        const std::uint32_t signature = GetAlgID(env, signatureAlgorithm);

        Owned identity(identities::borrow(env, self));
        std::vector<std::uint8_t> out(signatureCapacity(identity.get()));
        std::size_t outLength = out.size();
        Status status;
        {
            ByteElements bytes(env, data);
            status = SignBuffer(identity.get(), nullptr, bytes.data(), bytes.size(), out.data(),
                                &outLength, digest, signature);
        }
        if (status == kOk && outLength != 0) return bytesOf(env, out.data(), outLength);
        ThrowKeyChainException(env, kSignWhere, status, "Sign Failed");
        return nullptr;
    });
}

extern "C" JNIEXPORT jint JNICALL Java_zentrel_keychain_KeyChainIdentity_Verify(JNIEnv* env,
                                                                                jobject, jbyteArray,
                                                                                jbyteArray) {
    ThrowKeyChainException(env, "KeyChainIdentity::Verify", -1, "Verify Not Implemented");
    return 0;
}

extern "C" JNIEXPORT jbyteArray JNICALL
Java_zentrel_keychain_KeyChainIdentity_getAttribute(JNIEnv* env, jobject self, jint selector) {
    return boundary(env, "zentrel.keychain.KeyChainIdentity.getAttribute", jbyteArray{nullptr},
                    [&]() -> jbyteArray {
                        Owned identity(identities::borrow(env, self));
                        if (identity.get() == nullptr) return nullptr;
                        const auto tag = static_cast<std::uint32_t>(selector);
                        if (tag != kCertificateSelector) {
                            return withKeyAttribute(
                                identity.get(), tag,
                                [&](const void* bytes, std::size_t length) -> jbyteArray {
                                    return bytesOf(env, bytes, length);
                                });
                        }
                        Owned certificate;
                        if (platform().copyCertificate(identity.get(), certificate.out()) != kOk ||
                            certificate.get() == nullptr) {
                            return nullptr;
                        }
                        CssmData encoded{0, nullptr};
                        if (platform().certificateData(certificate.get(), &encoded) != kOk ||
                            encoded.length == 0 || encoded.data == nullptr) {
                            return nullptr;
                        }
                        return bytesOf(env, encoded.data, encoded.length);
                    });
}

extern "C" JNIEXPORT jstring JNICALL Java_zentrel_keychain_KeyChainIdentity_getAlias(JNIEnv* env,
                                                                                     jobject self) {
    return boundary(env, "zentrel.keychain.KeyChainIdentity.getAlias", jstring{nullptr},
                    [&]() -> jstring {
                        Owned identity(identities::borrow(env, self));
                        if (identity.get() == nullptr) return nullptr;
                        return withKeyAttribute(
                            identity.get(), kPrintNameTag,
                            [&](const void* bytes, std::size_t length) -> jstring {
                                return stringOfUtf8(env, static_cast<const char*>(bytes), length);
                            });
                    });
}

extern "C" JNIEXPORT void JNICALL Java_zentrel_keychain_KeyChainIdentity_Lock(JNIEnv* env,
                                                                              jobject self) {
    boundary(env, "zentrel.keychain.KeyChainIdentity.Lock", 0, [&]() {
        identities::lock(env, self);
        return 0;
    });
}

extern "C" JNIEXPORT void JNICALL Java_zentrel_keychain_KeyChainIdentity_Release(JNIEnv* env,
                                                                                 jobject self) {
    boundary(env, "zentrel.keychain.KeyChainIdentity.Release", 0, [&]() {
        identities::release(env, self);
        return 0;
    });
}
