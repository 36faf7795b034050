// The keychain operations on macOS: one Security framework or CoreFoundation
// call each.
#pragma once

#include "../Platform.h"

namespace tarnel {

class MacPlatform final : public Platform {
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

}  // namespace tarnel
