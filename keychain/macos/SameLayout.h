// The interface's records and constants (Platform.h) against the system's: the
// implementation hands records through with reinterpret_cast and constants
// unchanged, which is sound only while every size, field offset, field size and
// field signedness, and every value below, is the same. Included by the
// implementation after System.h; a difference stops the build.
#pragma once

#include <cstddef>
#include <type_traits>

#include "../Platform.h"
#include "System.h"

namespace tarnel::same_layout {

template <typename Field>
using Bare = std::remove_cv_t<std::remove_all_extents_t<Field>>;

template <typename A, typename B>
constexpr bool sameValue(A a, B b) {
    return static_cast<long long>(a) == static_cast<long long>(b);
}

}  // namespace tarnel::same_layout

#define TARNEL_SAME_RECORD(Ours, Theirs)                                              \
    static_assert(sizeof(Ours) == sizeof(Theirs) && alignof(Ours) == alignof(Theirs), \
                  #Ours " is not laid out as " #Theirs)

#define TARNEL_SAME_FIELD(Ours, ours, Theirs, theirs)                                       \
    static_assert(                                                                          \
        offsetof(Ours, ours) == offsetof(Theirs, theirs) &&                                 \
            sizeof(Ours::ours) == sizeof(Theirs::theirs) &&                                 \
            std::is_signed<tarnel::same_layout::Bare<decltype(Ours::ours)>>::value ==       \
                std::is_signed<tarnel::same_layout::Bare<decltype(Theirs::theirs)>>::value, \
        #Ours "::" #ours " differs from " #Theirs "::" #theirs)

#define TARNEL_SAME_VALUE(ours, theirs) \
    static_assert(tarnel::same_layout::sameValue(ours, theirs), #ours " is not " #theirs)

// Plain values handed through.
static_assert(sizeof(tarnel::Ref) == sizeof(CFTypeRef), "Ref is not a CFTypeRef");
static_assert(sizeof(tarnel::Status) == sizeof(OSStatus) &&
                  sizeof(tarnel::Status) == sizeof(CSSM_RETURN),
              "Status is not an OSStatus");
static_assert(sizeof(tarnel::CspHandle) == sizeof(CSSM_CSP_HANDLE),
              "CspHandle is not a CSSM_CSP_HANDLE");
static_assert(sizeof(tarnel::ContextHandle) == sizeof(CSSM_CC_HANDLE),
              "ContextHandle cannot hold a CSSM_CC_HANDLE");
static_assert(sizeof(long) == sizeof(CFIndex), "long is not a CFIndex");
static_assert(sizeof(std::uint32_t) == sizeof(UInt32), "UInt32 is not 32 bits");

// Keychain event callback information.
TARNEL_SAME_RECORD(tarnel::CallbackInfo, SecKeychainCallbackInfo);
TARNEL_SAME_FIELD(tarnel::CallbackInfo, version, SecKeychainCallbackInfo, version);
TARNEL_SAME_FIELD(tarnel::CallbackInfo, item, SecKeychainCallbackInfo, item);
TARNEL_SAME_FIELD(tarnel::CallbackInfo, keychain, SecKeychainCallbackInfo, keychain);
TARNEL_SAME_FIELD(tarnel::CallbackInfo, pid, SecKeychainCallbackInfo, pid);

// Keychain item attributes.
TARNEL_SAME_RECORD(tarnel::KeychainAttribute, SecKeychainAttribute);
TARNEL_SAME_FIELD(tarnel::KeychainAttribute, tag, SecKeychainAttribute, tag);
TARNEL_SAME_FIELD(tarnel::KeychainAttribute, length, SecKeychainAttribute, length);
TARNEL_SAME_FIELD(tarnel::KeychainAttribute, data, SecKeychainAttribute, data);
TARNEL_SAME_RECORD(tarnel::KeychainAttributeList, SecKeychainAttributeList);
TARNEL_SAME_FIELD(tarnel::KeychainAttributeList, count, SecKeychainAttributeList, count);
TARNEL_SAME_FIELD(tarnel::KeychainAttributeList, attr, SecKeychainAttributeList, attr);

// CSSM data blocks.
TARNEL_SAME_RECORD(tarnel::CssmData, CSSM_DATA);
TARNEL_SAME_FIELD(tarnel::CssmData, length, CSSM_DATA, Length);
TARNEL_SAME_FIELD(tarnel::CssmData, data, CSSM_DATA, Data);

// CSSM typed lists (a union's members all start where the union does).
TARNEL_SAME_RECORD(tarnel::CssmList, CSSM_LIST);
TARNEL_SAME_FIELD(tarnel::CssmList, listType, CSSM_LIST, ListType);
TARNEL_SAME_FIELD(tarnel::CssmList, head, CSSM_LIST, Head);
TARNEL_SAME_FIELD(tarnel::CssmList, tail, CSSM_LIST, Tail);
TARNEL_SAME_RECORD(tarnel::CssmListElement, CSSM_LIST_ELEMENT);
TARNEL_SAME_FIELD(tarnel::CssmListElement, nextElement, CSSM_LIST_ELEMENT, NextElement);
TARNEL_SAME_FIELD(tarnel::CssmListElement, wordId, CSSM_LIST_ELEMENT, WordID);
TARNEL_SAME_FIELD(tarnel::CssmListElement, elementType, CSSM_LIST_ELEMENT, ElementType);
TARNEL_SAME_FIELD(tarnel::CssmListElement, element, CSSM_LIST_ELEMENT, Element);

// CSSM access credentials and their parts.
TARNEL_SAME_RECORD(tarnel::CssmSample, CSSM_SAMPLE);
TARNEL_SAME_FIELD(tarnel::CssmSample, typedSample, CSSM_SAMPLE, TypedSample);
TARNEL_SAME_FIELD(tarnel::CssmSample, verifier, CSSM_SAMPLE, Verifier);
TARNEL_SAME_RECORD(tarnel::CssmSampleGroup, CSSM_SAMPLEGROUP);
TARNEL_SAME_FIELD(tarnel::CssmSampleGroup, numberOfSamples, CSSM_SAMPLEGROUP, NumberOfSamples);
TARNEL_SAME_FIELD(tarnel::CssmSampleGroup, samples, CSSM_SAMPLEGROUP, Samples);
TARNEL_SAME_RECORD(tarnel::CssmCertGroup, CSSM_CERTGROUP);
TARNEL_SAME_FIELD(tarnel::CssmCertGroup, certType, CSSM_CERTGROUP, CertType);
TARNEL_SAME_FIELD(tarnel::CssmCertGroup, certEncoding, CSSM_CERTGROUP, CertEncoding);
TARNEL_SAME_FIELD(tarnel::CssmCertGroup, numCerts, CSSM_CERTGROUP, NumCerts);
TARNEL_SAME_FIELD(tarnel::CssmCertGroup, groupList, CSSM_CERTGROUP, GroupList);
TARNEL_SAME_FIELD(tarnel::CssmCertGroup, certGroupType, CSSM_CERTGROUP, CertGroupType);
TARNEL_SAME_FIELD(tarnel::CssmCertGroup, reserved, CSSM_CERTGROUP, Reserved);
TARNEL_SAME_RECORD(tarnel::CssmBaseCerts, CSSM_BASE_CERTS);
TARNEL_SAME_FIELD(tarnel::CssmBaseCerts, tpHandle, CSSM_BASE_CERTS, TPHandle);
TARNEL_SAME_FIELD(tarnel::CssmBaseCerts, clHandle, CSSM_BASE_CERTS, CLHandle);
TARNEL_SAME_FIELD(tarnel::CssmBaseCerts, certs, CSSM_BASE_CERTS, Certs);
TARNEL_SAME_RECORD(tarnel::AccessCredentials, CSSM_ACCESS_CREDENTIALS);
TARNEL_SAME_FIELD(tarnel::AccessCredentials, entryTag, CSSM_ACCESS_CREDENTIALS, EntryTag);
TARNEL_SAME_FIELD(tarnel::AccessCredentials, baseCerts, CSSM_ACCESS_CREDENTIALS, BaseCerts);
TARNEL_SAME_FIELD(tarnel::AccessCredentials, samples, CSSM_ACCESS_CREDENTIALS, Samples);
TARNEL_SAME_FIELD(tarnel::AccessCredentials, callback, CSSM_ACCESS_CREDENTIALS, Callback);
TARNEL_SAME_FIELD(tarnel::AccessCredentials, callerCtx, CSSM_ACCESS_CREDENTIALS, CallerCtx);

// Constants handed through unchanged.
TARNEL_SAME_VALUE(tarnel::kItemNotFound, errSecItemNotFound);
TARNEL_SAME_VALUE(tarnel::PreferencesDomain::User, kSecPreferencesDomainUser);
TARNEL_SAME_VALUE(tarnel::PreferencesDomain::System, kSecPreferencesDomainSystem);
TARNEL_SAME_VALUE(tarnel::PreferencesDomain::Common, kSecPreferencesDomainCommon);
TARNEL_SAME_VALUE(tarnel::PreferencesDomain::Dynamic, kSecPreferencesDomainDynamic);
TARNEL_SAME_VALUE(tarnel::kKeyUseSign, CSSM_KEYUSE_SIGN);
TARNEL_SAME_VALUE(tarnel::kEveryEventMask, kSecEveryEventMask);
TARNEL_SAME_VALUE(tarnel::kRunLoopHandledSource, kCFRunLoopRunHandledSource);
TARNEL_SAME_VALUE(tarnel::kAttributeFormatBlob, CSSM_DB_ATTRIBUTE_FORMAT_BLOB);
TARNEL_SAME_VALUE(tarnel::kAclAuthorizationSign, CSSM_ACL_AUTHORIZATION_SIGN);
TARNEL_SAME_VALUE(tarnel::kCredentialTypeWithUi, kSecCredentialTypeWithUI);
TARNEL_SAME_VALUE(tarnel::kLockEvent, kSecLockEvent);
TARNEL_SAME_VALUE(tarnel::kUnlockEvent, kSecUnlockEvent);
TARNEL_SAME_VALUE(tarnel::kAddEvent, kSecAddEvent);
TARNEL_SAME_VALUE(tarnel::kDeleteEvent, kSecDeleteEvent);
TARNEL_SAME_VALUE(tarnel::kUpdateEvent, kSecUpdateEvent);
TARNEL_SAME_VALUE(tarnel::kPasswordChangedEvent, kSecPasswordChangedEvent);
TARNEL_SAME_VALUE(tarnel::kDefaultChangedEvent, kSecDefaultChangedEvent);
TARNEL_SAME_VALUE(tarnel::kDataAccessEvent, kSecDataAccessEvent);
TARNEL_SAME_VALUE(tarnel::kKeychainListChangedEvent, kSecKeychainListChangedEvent);
TARNEL_SAME_VALUE(tarnel::kWordIdPassword, CSSM_WORDID_PASSWORD);
TARNEL_SAME_VALUE(tarnel::kListElementDatum, CSSM_LIST_ELEMENT_DATUM);
TARNEL_SAME_VALUE(tarnel::kListElementWordId, CSSM_LIST_ELEMENT_WORDID);
TARNEL_SAME_VALUE(tarnel::kAlgNone, CSSM_ALGID_NONE);
TARNEL_SAME_VALUE(tarnel::kAlgSha1, CSSM_ALGID_SHA1);
TARNEL_SAME_VALUE(tarnel::kAlgRsa, CSSM_ALGID_RSA);
TARNEL_SAME_VALUE(tarnel::kAlgSha1WithRsa, CSSM_ALGID_SHA1WithRSA);

#undef TARNEL_SAME_RECORD
#undef TARNEL_SAME_FIELD
#undef TARNEL_SAME_VALUE
