// The operations the keychain bridge needs from the system it runs on. The
// bridge's logic is written against this interface only; macos/ implements
// it with the Security framework and CoreFoundation (one system call per
// operation), linux/ with directory keychains, OpenSSL and inotify.
//
// The records below are laid out as the system's own (the keychain attribute
// and callback records, and the CSSM records of the Common Security Services
// Manager), so that an implementation can hand them through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnel {

using Status = std::int32_t;  // 0 is success
using Ref =
    const void*;  // a counted reference: array, keychain, search, identity, key, certificate
using CspHandle = std::intptr_t;
using ContextHandle = std::intptr_t;

constexpr Status kOk = 0;
constexpr Status kItemNotFound = -25300;  // errSecItemNotFound

// Preference domains of the search lists, numbered as the system numbers them.
enum class PreferencesDomain : std::int32_t { User = 0, System = 1, Common = 2, Dynamic = 3 };

constexpr std::uint32_t kKeyUseSign = 4;  // key usage of an identity search for signing
constexpr std::uint32_t kEveryEventMask = 0xFFFFFFFF;  // every keychain event
constexpr std::int32_t kRunLoopHandledSource = 4;      // a run-loop turn that handled a source
constexpr std::uint32_t kAttributeFormatBlob = 6;      // key attributes read as raw bytes
constexpr std::uint32_t kAclAuthorizationSign = 115;   // credentials for the sign operation
constexpr std::uint32_t kCredentialTypeWithUi = 1;     // credentials that may prompt the user

// Keychain events, as the callback receives them.
enum : std::uint32_t {
    kLockEvent = 1,
    kUnlockEvent = 2,
    kAddEvent = 3,
    kDeleteEvent = 4,
    kUpdateEvent = 5,
    kPasswordChangedEvent = 6,
    kDefaultChangedEvent = 9,
    kDataAccessEvent = 10,
    kKeychainListChangedEvent = 11,
};

struct CallbackInfo {
    std::uint32_t version;
    Ref item;
    Ref keychain;
    std::int32_t pid;
};
using EventCallback = Status (*)(std::uint32_t event, CallbackInfo* info, void* context);

struct KeychainAttribute {
    std::uint32_t tag;
    std::uint32_t length;
    void* data;
};
struct KeychainAttributeList {
    std::uint32_t count;
    KeychainAttribute* attr;
};

// CSSM records.
struct CssmData {
    std::size_t length;
    std::uint8_t* data;
};

struct CssmListElement;
struct CssmList {
    std::uint32_t listType;
    CssmListElement* head;
    CssmListElement* tail;
};
struct CssmListElement {
    CssmListElement* nextElement;
    std::int32_t wordId;
    std::uint32_t elementType;
    union {
        CssmList sublist;
        CssmData word;
    } element;
};
constexpr std::int32_t kWordIdPassword = 79;     // CSSM_WORDID_PASSWORD
constexpr std::uint32_t kListElementDatum = 0;   // CSSM_LIST_ELEMENT_DATUM
constexpr std::uint32_t kListElementWordId = 2;  // CSSM_LIST_ELEMENT_WORDID

struct CssmSample {
    CssmList typedSample;
    const void* verifier;
};
struct CssmSampleGroup {
    std::uint32_t numberOfSamples;
    const CssmSample* samples;
};
struct CssmCertGroup {
    std::uint32_t certType;
    std::uint32_t certEncoding;
    std::uint32_t numCerts;
    void* groupList;
    std::uint32_t certGroupType;
    void* reserved;
};
struct CssmBaseCerts {
    std::intptr_t tpHandle;
    std::intptr_t clHandle;
    CssmCertGroup certs;
};
struct AccessCredentials {
    char entryTag[68];
    CssmBaseCerts baseCerts;
    CssmSampleGroup samples;
    void* callback;
    void* callerCtx;
};

struct CssmKey;  // the system's form of a key; only handed through

// Algorithm identifiers.
constexpr std::uint32_t kAlgNone = 0;
constexpr std::uint32_t kAlgSha1 = 8;
constexpr std::uint32_t kAlgRsa = 42;
constexpr std::uint32_t kAlgSha1WithRsa = 51;

class Platform {
  public:
    virtual ~Platform() = default;

    // Search lists: a new array of keychain references.
    virtual Status copyDomainSearchList(PreferencesDomain domain, Ref* list) = 0;
    virtual Status copyDefaultSearchList(Ref* list) = 0;
    // Elements are borrowed from the array.
    virtual long arrayCount(Ref array) = 0;
    virtual Ref arrayElement(Ref array, long index) = 0;
    // The keychain's path, NUL-terminated, within *length bytes; *length becomes its length.
    virtual Status keychainPath(Ref keychain, std::uint32_t* length, char* path) = 0;
    // Never called with a null reference.
    virtual Ref retain(Ref ref) = 0;
    virtual void release(Ref ref) = 0;

    // Identities of a keychain whose key has the given usage; each next one comes retained,
    // a non-zero status when the search is exhausted.
    virtual Status createIdentitySearch(Ref keychain, std::uint32_t keyUsage, Ref* search) = 0;
    virtual Status copyNextIdentity(Ref search, Ref* identity) = 0;

    // Callbacks run on the run loop of the thread that registered them.
    virtual Status addEventCallback(EventCallback callback, std::uint32_t eventMask,
                                    void* context) = 0;
    virtual Status removeEventCallback(EventCallback callback) = 0;
    // Runs the calling thread's run loop once without waiting; kRunLoopHandledSource when a
    // pending source was handled.
    virtual std::int32_t runLoopOnce() = 0;

    virtual Status copyPrivateKey(Ref identity, Ref* key) = 0;
    virtual Status copyCertificate(Ref identity, Ref* certificate) = 0;
    // The certificate's encoded bytes, borrowed from it.
    virtual Status certificateData(Ref certificate, CssmData* data) = 0;
    // One attribute of the key's item: a request of one tag in one format.
    virtual Status copyKeyAttributes(Ref key, std::uint32_t tag, std::uint32_t format,
                                     KeychainAttributeList** list) = 0;
    virtual Status freeKeyAttributes(KeychainAttributeList* list) = 0;
    virtual Status keyCspHandle(Ref key, CspHandle* csp) = 0;
    virtual Status keyCredentials(Ref key, std::uint32_t operation, std::uint32_t type,
                                  const AccessCredentials** credentials) = 0;
    // Borrowed from the key.
    virtual Status keyCssmKey(Ref key, const CssmKey** cssmKey) = 0;
    // The largest signature the key makes, in bytes.
    virtual Status keySignatureSize(Ref key, std::size_t* bytes) = 0;
    virtual Status createSignatureContext(CspHandle csp, std::uint32_t algorithm,
                                          const AccessCredentials* credentials, const CssmKey* key,
                                          ContextHandle* context) = 0;
    virtual Status deleteContext(ContextHandle context) = 0;
    // Signs the blocks; signature->length goes in as the buffer's size and comes back as the
    // signature's.
    virtual Status signData(ContextHandle context, const CssmData* blocks, std::uint32_t blockCount,
                            std::uint32_t digestAlgorithm, CssmData* signature) = 0;
};

// The system's implementation (macos/ or linux/).
Platform& systemPlatform();

// The implementation in use: the system's, unless a test put another in its place.
Platform& platform();
// Puts `replacement` in use (null: the system's again) and returns the one it replaces.
Platform* usePlatform(Platform* replacement);

}  // namespace tarnel
