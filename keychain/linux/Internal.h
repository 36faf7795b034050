// Shared by the files of the Linux implementation: the platform class, the
// counted objects it hands out and the registry that knows which are live.
#pragma once

#include <openssl/evp.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../Platform.h"

namespace tarnel::linux_platform {

// Statuses, numbered as the system numbers them.
constexpr Status kUnimplemented = -4;
constexpr Status kParam = -50;
constexpr Status kAllocate = -108;
constexpr Status kInternalComponent = -2070;
constexpr Status kNoSuchKeychain = -25294;
constexpr Status kDuplicateCallback = -25297;
constexpr Status kInvalidCallback = -25298;
constexpr Status kBufferTooSmall = -25301;
constexpr Status kNoSuchAttribute = -25303;

// Results of one run-loop turn.
constexpr std::int32_t kRunLoopFinished = 1;
constexpr std::int32_t kRunLoopTimedOut = 3;

enum class Kind { Array, Keychain, Search, Identity, Key, Certificate, AttributeList, Context };

// Everything handed out is one of these, registered while it lives.
class Object {
  public:
    explicit Object(Kind kind) : kind_(kind) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Kind kind() const { return kind_; }
    std::atomic<long> count{1};

  private:
    const Kind kind_;
};

// Registers `object` (count 1) under `handle`, the address the caller will see
// (the object's own unless given). Returns the handle.
const void* publish(std::unique_ptr<Object> object, const void* handle = nullptr);
// The live object registered under `handle` when it has kind `kind`, else null.
Object* findLive(const void* handle, Kind kind);
template <class T>
T* find(const void* handle) {
    return static_cast<T*>(findLive(handle, T::kKind));
}
// Frees a live object of `kind` whatever its count (attribute lists, contexts).
// False when `handle` is not one.
bool destroy(const void* handle, Kind kind);
// The counted references: retain/release of something not live is counted as stray.
Ref retainRef(Ref ref);
void releaseRef(Ref ref);

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Bytes = std::vector<std::uint8_t>;

// An array of retained references, released with the array.
struct ArrayObject : Object {
    static constexpr Kind kKind = Kind::Array;
    ArrayObject() : Object(kKind) {}
    ~ArrayObject() override {
        for (Ref element : elements) releaseRef(element);
    }
    std::vector<Ref> elements;
};

struct KeychainObject : Object {
    static constexpr Kind kKind = Kind::Keychain;
    explicit KeychainObject(std::string directory) : Object(kKind), path(std::move(directory)) {}
    const std::string path;
};

// A new keychain reference (count 1) for a directory.
Ref makeKeychain(const std::string& path);

// The identity files of one NAME in a keychain directory.
struct Candidate {
    std::string name;
    bool p12 = false;
    bool key = false;
    bool crt = false;
};

struct SearchObject : Object {
    static constexpr Kind kKind = Kind::Search;
    SearchObject() : Object(kKind) {}
    std::string directory;
    std::vector<Candidate> candidates;  // in byte order of NAME
    std::size_t next = 0;
};

struct IdentityObject : Object {
    static constexpr Kind kKind = Kind::Identity;
    IdentityObject() : Object(kKind) {}
    std::string name;
    Pkey key;
    std::shared_ptr<const Bytes> der;
};

struct KeyObject : Object {
    static constexpr Kind kKind = Kind::Key;
    KeyObject() : Object(kKind) {}
    std::string name;
    Pkey key;
};

struct CertificateObject : Object {
    static constexpr Kind kKind = Kind::Certificate;
    CertificateObject() : Object(kKind) {}
    std::shared_ptr<const Bytes> der;
};

struct AttributeListObject : Object {
    static constexpr Kind kKind = Kind::AttributeList;
    AttributeListObject() : Object(kKind) {}
    KeychainAttributeList list{};
    KeychainAttribute attribute{};
    std::string bytes;
};

struct ContextObject : Object {
    static constexpr Kind kKind = Kind::Context;
    ContextObject(std::uint32_t alg, Ref signingKey)
        : Object(kKind), algorithm(alg), key(signingKey) {}
    ~ContextObject() override { releaseRef(key); }
    const std::uint32_t algorithm;
    const Ref key;  // a retained KeyObject
};

// The search lists of the configuration file, read afresh.
constexpr std::size_t kDefaultList = 4;  // after the four preference domains
struct Configuration {
    std::string file;
    std::array<std::vector<std::string>, 5> lists;
};
std::string configurationPath();
Configuration readConfiguration();

class LinuxPlatform final : public Platform {
  public:
    Status copyDomainSearchList(PreferencesDomain domain, Ref* list) override;
    Status copyDefaultSearchList(Ref* list) override;
    long arrayCount(Ref array) override;
    Ref arrayElement(Ref array, long index) override;
    Status keychainPath(Ref keychain, std::uint32_t* length, char* path) override;
    Ref retain(Ref ref) override;
    void release(Ref ref) override;

    Status createIdentitySearch(Ref keychain, std::uint32_t keyUsage, Ref* search) override;
    Status copyNextIdentity(Ref search, Ref* identity) override;

    Status addEventCallback(EventCallback callback, std::uint32_t eventMask,
                            void* context) override;
    Status removeEventCallback(EventCallback callback) override;
    std::int32_t runLoopOnce() override;

    Status copyPrivateKey(Ref identity, Ref* key) override;
    Status copyCertificate(Ref identity, Ref* certificate) override;
    Status certificateData(Ref certificate, CssmData* data) override;
    Status copyKeyAttributes(Ref key, std::uint32_t tag, std::uint32_t format,
                             KeychainAttributeList** list) override;
    Status freeKeyAttributes(KeychainAttributeList* list) override;
    Status keyCspHandle(Ref key, CspHandle* csp) override;
    Status keyCredentials(Ref key, std::uint32_t operation, std::uint32_t type,
                          const AccessCredentials** credentials) override;
    Status keyCssmKey(Ref key, const CssmKey** cssmKey) override;
    Status keySignatureSize(Ref key, std::size_t* bytes) override;
    Status createSignatureContext(CspHandle csp, std::uint32_t algorithm,
                                  const AccessCredentials* credentials, const CssmKey* key,
                                  ContextHandle* context) override;
    Status deleteContext(ContextHandle context) override;
    Status signData(ContextHandle context, const CssmData* blocks, std::uint32_t blockCount,
                    std::uint32_t digestAlgorithm, CssmData* signature) override;
};

}  // namespace tarnel::linux_platform
