// The keychain operations on macOS, each one Security framework or
// CoreFoundation call and nothing else; the interface's records are the
// system's own, handed through (SameLayout.h proves the layouts equal).
//
// This file cannot run on the machines that build and test the project. There
// it is compiled by the check target against check/AppleDeclarations.h, which
// proves that it is whole (every operation of the interface implemented, every
// call spelled and typed as declared) and that the records match the declared
// ones; it does not prove a declaration right, which is checked by eye against
// Apple's documentation. On a Mac the same file builds libtarnel.dylib against
// the real SDK, where the same layout checks run against Apple's headers.

#include "MacPlatform.h"

#include <atomic>

#include "SameLayout.h"
#include "System.h"

namespace tarnel {

namespace {

// A reference of the interface as the system's reference type.
template <typename SystemRef>
SystemRef as(Ref ref) {
    return static_cast<SystemRef>(const_cast<void*>(ref));
}

// The system calls one function for keychain events; this one hands each event
// to the callback registered through the interface (at most one at a time).
std::atomic<EventCallback> g_registeredCallback{nullptr};

OSStatus deliverEvent(SecKeychainEvent event, SecKeychainCallbackInfo* info, void* context) {
    EventCallback callback = g_registeredCallback.load(std::memory_order_acquire);
    if (callback == nullptr) {
        return 0;
    }
    return callback(static_cast<std::uint32_t>(event), reinterpret_cast<CallbackInfo*>(info),
                    context);
}

}  // namespace

Status MacPlatform::copyDomainSearchList(PreferencesDomain domain, Ref* list) {
    CFArrayRef array = nullptr;
    const OSStatus status = SecKeychainCopyDomainSearchList(
        static_cast<SecPreferencesDomain>(static_cast<int>(domain)), &array);
    *list = array;
    return status;
}

Status MacPlatform::copyDefaultSearchList(Ref* list) {
    CFArrayRef array = nullptr;
    const OSStatus status = SecKeychainCopySearchList(&array);
    *list = array;
    return status;
}

long MacPlatform::arrayCount(Ref array) {
    return CFArrayGetCount(as<CFArrayRef>(array));
}

Ref MacPlatform::arrayElement(Ref array, long index) {
    return CFArrayGetValueAtIndex(as<CFArrayRef>(array), index);
}

Status MacPlatform::keychainPath(Ref keychain, std::uint32_t* length, char* path) {
    return SecKeychainGetPath(as<SecKeychainRef>(keychain), length, path);
}

Ref MacPlatform::retain(Ref ref) {
    return CFRetain(ref);
}

void MacPlatform::release(Ref ref) {
    CFRelease(ref);
}

Status MacPlatform::createIdentitySearch(Ref keychain, std::uint32_t keyUsage, Ref* search) {
    SecIdentitySearchRef created = nullptr;
    const OSStatus status =
        SecIdentitySearchCreate(keychain, static_cast<CSSM_KEYUSE>(keyUsage), &created);
    *search = created;
    return status;
}

Status MacPlatform::copyNextIdentity(Ref search, Ref* identity) {
    SecIdentityRef next = nullptr;
    const OSStatus status = SecIdentitySearchCopyNext(as<SecIdentitySearchRef>(search), &next);
    *identity = next;
    return status;
}

Status MacPlatform::addEventCallback(EventCallback callback, std::uint32_t eventMask,
                                     void* context) {
    EventCallback none = nullptr;
    if (!g_registeredCallback.compare_exchange_strong(none, callback, std::memory_order_acq_rel)) {
        return errSecDuplicateCallback;  // the system's answer to a second registration
    }
    const OSStatus status =
        SecKeychainAddCallback(deliverEvent, static_cast<SecKeychainEventMask>(eventMask), context);
    if (status != 0) {
        g_registeredCallback.store(nullptr, std::memory_order_release);
    }
    return status;
}

Status MacPlatform::removeEventCallback(EventCallback callback) {
    if (callback == nullptr || g_registeredCallback.load(std::memory_order_acquire) != callback) {
        return errSecInvalidCallback;  // the system's answer for a callback it does not hold
    }
    const OSStatus status = SecKeychainRemoveCallback(deliverEvent);
    if (status == 0) {
        g_registeredCallback.store(nullptr, std::memory_order_release);
    }
    return status;
}

std::int32_t MacPlatform::runLoopOnce() {
    return static_cast<std::int32_t>(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true));
}

Status MacPlatform::copyPrivateKey(Ref identity, Ref* key) {
    SecKeyRef privateKey = nullptr;
    const OSStatus status = SecIdentityCopyPrivateKey(as<SecIdentityRef>(identity), &privateKey);
    *key = privateKey;
    return status;
}

Status MacPlatform::copyCertificate(Ref identity, Ref* certificate) {
    SecCertificateRef copied = nullptr;
    const OSStatus status = SecIdentityCopyCertificate(as<SecIdentityRef>(identity), &copied);
    *certificate = copied;
    return status;
}

Status MacPlatform::certificateData(Ref certificate, CssmData* data) {
    return SecCertificateGetData(as<SecCertificateRef>(certificate),
                                 reinterpret_cast<CSSM_DATA*>(data));
}

Status MacPlatform::copyKeyAttributes(Ref key, std::uint32_t tag, std::uint32_t format,
                                      KeychainAttributeList** list) {
    UInt32 tags[1] = {tag};
    UInt32 formats[1] = {format};
    SecKeychainAttributeInfo info = {1, tags, formats};
    SecKeychainAttributeList* attributes = nullptr;
    const OSStatus status = SecKeychainItemCopyAttributesAndData(
        as<SecKeychainItemRef>(key), &info, nullptr, &attributes, nullptr, nullptr);
    *list = reinterpret_cast<KeychainAttributeList*>(attributes);
    return status;
}

Status MacPlatform::freeKeyAttributes(KeychainAttributeList* list) {
    return SecKeychainItemFreeAttributesAndData(reinterpret_cast<SecKeychainAttributeList*>(list),
                                                nullptr);
}

Status MacPlatform::keyCspHandle(Ref key, CspHandle* csp) {
    CSSM_CSP_HANDLE handle = 0;
    const OSStatus status = SecKeyGetCSPHandle(as<SecKeyRef>(key), &handle);
    *csp = static_cast<CspHandle>(handle);
    return status;
}

Status MacPlatform::keyCredentials(Ref key, std::uint32_t operation, std::uint32_t type,
                                   const AccessCredentials** credentials) {
    const CSSM_ACCESS_CREDENTIALS* given = nullptr;
    const OSStatus status =
        SecKeyGetCredentials(as<SecKeyRef>(key), static_cast<CSSM_ACL_AUTHORIZATION_TAG>(operation),
                             static_cast<SecCredentialType>(type), &given);
    *credentials = reinterpret_cast<const AccessCredentials*>(given);
    return status;
}

Status MacPlatform::keyCssmKey(Ref key, const CssmKey** cssmKey) {
    const CSSM_KEY* borrowed = nullptr;
    const OSStatus status = SecKeyGetCSSMKey(as<SecKeyRef>(key), &borrowed);
    *cssmKey = reinterpret_cast<const CssmKey*>(borrowed);
    return status;
}

Status MacPlatform::keySignatureSize(Ref key, std::size_t* bytes) {
    *bytes = SecKeyGetBlockSize(as<SecKeyRef>(key));
    return kOk;
}

Status MacPlatform::createSignatureContext(CspHandle csp, std::uint32_t algorithm,
                                           const AccessCredentials* credentials, const CssmKey* key,
                                           ContextHandle* context) {
    CSSM_CC_HANDLE created = 0;
    const CSSM_RETURN status = CSSM_CSP_CreateSignatureContext(
        static_cast<CSSM_CSP_HANDLE>(csp), static_cast<CSSM_ALGORITHMS>(algorithm),
        reinterpret_cast<const CSSM_ACCESS_CREDENTIALS*>(credentials),
        reinterpret_cast<const CSSM_KEY*>(key), &created);
    *context = static_cast<ContextHandle>(created);
    return status;
}

Status MacPlatform::deleteContext(ContextHandle context) {
    return CSSM_DeleteContext(static_cast<CSSM_CC_HANDLE>(context));
}

Status MacPlatform::signData(ContextHandle context, const CssmData* blocks,
                             std::uint32_t blockCount, std::uint32_t digestAlgorithm,
                             CssmData* signature) {
    return CSSM_SignData(static_cast<CSSM_CC_HANDLE>(context),
                         reinterpret_cast<const CSSM_DATA*>(blocks), blockCount,
                         static_cast<CSSM_ALGORITHMS>(digestAlgorithm),
                         reinterpret_cast<CSSM_DATA*>(signature));
}

Platform& systemPlatform() {
    static MacPlatform platform;
    return platform;
}

}  // namespace tarnel
