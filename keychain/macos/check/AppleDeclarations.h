// Declarations of the Apple functions, types and constants that the macOS
// keychain platform uses, written from Apple's public documentation. Used ONLY
// by the check build on other systems (TARNEL_MACOS_DECLARATIONS): nothing here
// is defined, and what is compiled against it is never linked or run. It shows
// that the implementation is whole and calls each function with the types
// declared here; whether a declaration matches the SDK is checked by eye
// against the documentation, group by group (each names its Apple header).
#pragma once

#include <sys/types.h>  // pid_t

#include <cstddef>
#include <cstdint>

extern "C" {

// MacTypes.h
typedef std::uint8_t Boolean;
typedef std::uint32_t UInt32;
typedef std::int32_t SInt32;
typedef SInt32 OSStatus;
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;

// CoreFoundation/CFBase.h
typedef const void* CFTypeRef;
typedef signed long CFIndex;
typedef const struct __CFString* CFStringRef;
CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);

// CoreFoundation/CFArray.h
typedef const struct __CFArray* CFArrayRef;
CFIndex CFArrayGetCount(CFArrayRef theArray);
const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);

// CoreFoundation/CFDate.h
typedef double CFTimeInterval;

// CoreFoundation/CFRunLoop.h
typedef CFStringRef CFRunLoopMode;
enum CFRunLoopRunResult : SInt32 {
    kCFRunLoopRunFinished = 1,
    kCFRunLoopRunStopped = 2,
    kCFRunLoopRunTimedOut = 3,
    kCFRunLoopRunHandledSource = 4,
};
extern const CFRunLoopMode kCFRunLoopDefaultMode;
CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled);

// Security/cssmconfig.h
typedef std::uint8_t uint8;
typedef std::uint32_t uint32;
typedef std::int32_t sint32;
typedef std::uint64_t uint64;
typedef std::intptr_t CSSM_INTPTR;

// Security/SecAsn1Types.h
typedef struct SecAsn1Item {
    std::size_t Length;
    std::uint8_t* Data;
} SecAsn1Item;

// Security/cssmtype.h: handles, returns, algorithms, key usage
typedef CSSM_INTPTR CSSM_HANDLE;
typedef uint64 CSSM_LONG_HANDLE;
typedef CSSM_HANDLE CSSM_MODULE_HANDLE;
typedef CSSM_LONG_HANDLE CSSM_CC_HANDLE;
typedef CSSM_MODULE_HANDLE CSSM_CSP_HANDLE;
typedef CSSM_MODULE_HANDLE CSSM_TP_HANDLE;
typedef CSSM_MODULE_HANDLE CSSM_CL_HANDLE;
typedef sint32 CSSM_RETURN;
typedef uint32 CSSM_ALGORITHMS;
enum {
    CSSM_ALGID_NONE = 0,
    CSSM_ALGID_SHA1 = 8,
    CSSM_ALGID_RSA = 42,
    CSSM_ALGID_SHA1WithRSA = 51,
};
typedef uint32 CSSM_KEYUSE;
enum { CSSM_KEYUSE_SIGN = 0x00000004 };

// Security/cssmtype.h: data, typed lists, samples, certificate groups, credentials
typedef SecAsn1Item CSSM_DATA;
typedef SecAsn1Item* CSSM_DATA_PTR;
enum { CSSM_MODULE_STRING_SIZE = 64 };
typedef char CSSM_STRING[CSSM_MODULE_STRING_SIZE + 4];

typedef sint32 CSSM_WORDID_TYPE;
enum { CSSM_WORDID_PASSWORD = 79 };
typedef uint32 CSSM_LIST_ELEMENT_TYPE;
enum {
    CSSM_LIST_ELEMENT_DATUM = 0x00,
    CSSM_LIST_ELEMENT_SUBLIST = 0x01,
    CSSM_LIST_ELEMENT_WORDID = 0x02,
};
typedef uint32 CSSM_LIST_TYPE;

struct cssm_list_element;
typedef struct cssm_list {
    CSSM_LIST_TYPE ListType;
    struct cssm_list_element* Head;
    struct cssm_list_element* Tail;
} CSSM_LIST;
typedef struct cssm_list_element {
    struct cssm_list_element* NextElement;
    CSSM_WORDID_TYPE WordID;
    CSSM_LIST_ELEMENT_TYPE ElementType;
    union {
        CSSM_LIST Sublist;
        SecAsn1Item Word;
    } Element;
} CSSM_LIST_ELEMENT;

typedef struct cssm_subservice_uid CSSM_SUBSERVICE_UID;  // only pointed to here
typedef struct cssm_sample {
    CSSM_LIST TypedSample;
    const CSSM_SUBSERVICE_UID* Verifier;
} CSSM_SAMPLE;
typedef struct cssm_samplegroup {
    uint32 NumberOfSamples;
    const CSSM_SAMPLE* Samples;
} CSSM_SAMPLEGROUP;

typedef uint32 CSSM_CERT_TYPE;
typedef uint32 CSSM_CERT_ENCODING;
typedef uint32 CSSM_CERTGROUP_TYPE;
typedef struct cssm_encoded_cert* CSSM_ENCODED_CERT_PTR;  // only pointed to here
typedef struct cssm_parsed_cert* CSSM_PARSED_CERT_PTR;    // only pointed to here
typedef struct cssm_cert_pair* CSSM_CERT_PAIR_PTR;        // only pointed to here
typedef struct cssm_certgroup {
    CSSM_CERT_TYPE CertType;
    CSSM_CERT_ENCODING CertEncoding;
    uint32 NumCerts;
    union {
        CSSM_DATA_PTR CertList;
        CSSM_ENCODED_CERT_PTR EncodedCertList;
        CSSM_PARSED_CERT_PTR ParsedCertList;
        CSSM_CERT_PAIR_PTR PairCertList;
    } GroupList;
    CSSM_CERTGROUP_TYPE CertGroupType;
    void* Reserved;
} CSSM_CERTGROUP;
typedef struct cssm_base_certs {
    CSSM_TP_HANDLE TPHandle;
    CSSM_CL_HANDLE CLHandle;
    CSSM_CERTGROUP Certs;
} CSSM_BASE_CERTS;

typedef struct cssm_memory_funcs CSSM_MEMORY_FUNCS;  // only pointed to here
typedef CSSM_RETURN (*CSSM_CHALLENGE_CALLBACK)(const CSSM_LIST* Challenge,
                                               CSSM_SAMPLEGROUP* Response, void* CallerCtx,
                                               const CSSM_MEMORY_FUNCS* MemFuncs);
typedef struct cssm_access_credentials {
    CSSM_STRING EntryTag;
    CSSM_BASE_CERTS BaseCerts;
    CSSM_SAMPLEGROUP Samples;
    CSSM_CHALLENGE_CALLBACK Callback;
    void* CallerCtx;
} CSSM_ACCESS_CREDENTIALS;

typedef sint32 CSSM_ACL_AUTHORIZATION_TAG;
enum { CSSM_ACL_AUTHORIZATION_SIGN = 115 };
typedef uint32 CSSM_DB_ATTRIBUTE_FORMAT;
enum { CSSM_DB_ATTRIBUTE_FORMAT_BLOB = 6 };

typedef struct cssm_key CSSM_KEY;  // only pointed to here

// Security/cssmapi.h
CSSM_RETURN CSSM_CSP_CreateSignatureContext(CSSM_CSP_HANDLE CSPHandle, CSSM_ALGORITHMS AlgorithmID,
                                            const CSSM_ACCESS_CREDENTIALS* AccessCred,
                                            const CSSM_KEY* Key, CSSM_CC_HANDLE* NewContextHandle);
CSSM_RETURN CSSM_DeleteContext(CSSM_CC_HANDLE CCHandle);
CSSM_RETURN CSSM_SignData(CSSM_CC_HANDLE CCHandle, const SecAsn1Item* DataBufs, uint32 DataBufCount,
                          CSSM_ALGORITHMS DigestAlgorithm, CSSM_DATA_PTR Signature);

// Security/SecBase.h
typedef struct OpaqueSecKeychainRef* SecKeychainRef;
typedef struct OpaqueSecKeychainItemRef* SecKeychainItemRef;
typedef struct __SecIdentity* SecIdentityRef;
typedef struct __SecKey* SecKeyRef;
typedef struct __SecCertificate* SecCertificateRef;
typedef OSType SecKeychainAttrType;
typedef struct SecKeychainAttribute {
    SecKeychainAttrType tag;
    UInt32 length;
    void* data;
} SecKeychainAttribute;
typedef struct SecKeychainAttributeList {
    UInt32 count;
    SecKeychainAttribute* attr;
} SecKeychainAttributeList;
typedef struct SecKeychainAttributeInfo {
    UInt32 count;
    UInt32* tag;
    UInt32* format;
} SecKeychainAttributeInfo;
enum : OSStatus {
    errSecDuplicateCallback = -25297,
    errSecInvalidCallback = -25298,
    errSecItemNotFound = -25300,
};

// Security/SecKeychain.h
enum SecPreferencesDomain : int {
    kSecPreferencesDomainUser = 0,
    kSecPreferencesDomainSystem = 1,
    kSecPreferencesDomainCommon = 2,
    kSecPreferencesDomainDynamic = 3,
};
enum SecKeychainEvent : UInt32 {
    kSecLockEvent = 1,
    kSecUnlockEvent = 2,
    kSecAddEvent = 3,
    kSecDeleteEvent = 4,
    kSecUpdateEvent = 5,
    kSecPasswordChangedEvent = 6,
    kSecDefaultChangedEvent = 9,
    kSecDataAccessEvent = 10,
    kSecKeychainListChangedEvent = 11,
};
enum SecKeychainEventMask : UInt32 { kSecEveryEventMask = 0xffffffff };
typedef struct SecKeychainCallbackInfo {
    UInt32 version;
    SecKeychainItemRef item;
    SecKeychainRef keychain;
    pid_t pid;
} SecKeychainCallbackInfo;
typedef OSStatus (*SecKeychainCallback)(SecKeychainEvent keychainEvent,
                                        SecKeychainCallbackInfo* info, void* context);
OSStatus SecKeychainCopyDomainSearchList(SecPreferencesDomain domain, CFArrayRef* searchList);
OSStatus SecKeychainCopySearchList(CFArrayRef* searchList);
OSStatus SecKeychainGetPath(SecKeychainRef keychain, UInt32* ioPathLength, char* pathName);
OSStatus SecKeychainAddCallback(SecKeychainCallback callbackFunction,
                                SecKeychainEventMask eventMask, void* userContext);
OSStatus SecKeychainRemoveCallback(SecKeychainCallback callbackFunction);

// Security/SecKeychainItem.h
typedef FourCharCode SecItemClass;
OSStatus SecKeychainItemCopyAttributesAndData(SecKeychainItemRef itemRef,
                                              SecKeychainAttributeInfo* info,
                                              SecItemClass* itemClass,
                                              SecKeychainAttributeList** attrList, UInt32* length,
                                              void** outData);
OSStatus SecKeychainItemFreeAttributesAndData(SecKeychainAttributeList* attrList, void* data);

// Security/SecIdentitySearch.h
typedef struct OpaqueSecIdentitySearchRef* SecIdentitySearchRef;
OSStatus SecIdentitySearchCreate(CFTypeRef keychainOrArray, CSSM_KEYUSE keyUsage,
                                 SecIdentitySearchRef* searchRef);
OSStatus SecIdentitySearchCopyNext(SecIdentitySearchRef searchRef, SecIdentityRef* identity);

// Security/SecIdentity.h
OSStatus SecIdentityCopyCertificate(SecIdentityRef identityRef, SecCertificateRef* certificateRef);
OSStatus SecIdentityCopyPrivateKey(SecIdentityRef identityRef, SecKeyRef* privateKeyRef);

// Security/SecCertificate.h
OSStatus SecCertificateGetData(SecCertificateRef certificate, CSSM_DATA_PTR data);

// Security/SecKey.h
enum SecCredentialType : uint32 {
    kSecCredentialTypeDefault = 0,
    kSecCredentialTypeWithUI = 1,
    kSecCredentialTypeNoUI = 2,
};
OSStatus SecKeyGetCSSMKey(SecKeyRef key, const CSSM_KEY** cssmKey);
OSStatus SecKeyGetCSPHandle(SecKeyRef keyRef, CSSM_CSP_HANDLE* cspHandle);
OSStatus SecKeyGetCredentials(SecKeyRef keyRef, CSSM_ACL_AUTHORIZATION_TAG operation,
                              SecCredentialType credentialType,
                              const CSSM_ACCESS_CREDENTIALS** outCredentials);
std::size_t SecKeyGetBlockSize(SecKeyRef key);

}  // extern "C"
