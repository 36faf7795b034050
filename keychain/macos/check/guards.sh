#!/usr/bin/env bash
# The check build's guards must reject a system whose records, constants or
# functions differ from what the macOS platform assumes. Each row below alters
# one thing in a copy of the declarations and expects the platform's compile to
# fail with the named complaint; the unaltered copy must compile.
#
#   guards.sh CXX KEYCHAIN_SOURCE_DIR WORK_DIR
set -u
. "$(dirname "$0")/../../../tests/support/declaration-guards.sh"

cxx=$1
source_dir=$2
work=$3

rm -rf "$work"
mkdir -p "$work"

# Copies the platform and its declarations into $work/$1.
copy_tree() {
    local dir=$work/$1
    mkdir -p "$dir/macos/check"
    cp "$source_dir/Platform.h" "$dir/"
    cp "$source_dir"/macos/*.h "$source_dir"/macos/*.cpp "$dir/macos/"
    cp "$source_dir/macos/check/AppleDeclarations.h" "$dir/macos/check/"
}

compile() {
    "$cxx" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -DTARNEL_MACOS_DECLARATIONS=1 \
        -I"$work/$1" "$work/$1/macos/MacPlatform.cpp" 2>"$work/$1.log"
}

# name | sed expression applied to the declarations | complaint expected
rows=(
    "pid_width|s/    pid_t pid;/    long pid;/|tarnel::CallbackInfo::pid differs"
    "callback_version|s/    UInt32 version;/    std::uint64_t version;/|tarnel::CallbackInfo::version differs"
    "attribute_length|s/    UInt32 length;/    std::uint16_t length;/|tarnel::KeychainAttribute::length differs"
    "attribute_tag|s/    SecKeychainAttrType tag;/    SInt32 tag;/|tarnel::KeychainAttribute::tag differs"
    "attribute_count|s/    UInt32 count;/    SInt32 count;/|tarnel::KeychainAttributeList::count differs"
    "data_length|s/    std::size_t Length;/    std::uint32_t Length;/|tarnel::CssmData::length differs"
    "list_type|s/    CSSM_LIST_TYPE ListType;/    sint32 ListType;/|tarnel::CssmList::listType differs"
    "word_id|s/typedef sint32 CSSM_WORDID_TYPE;/typedef uint32 CSSM_WORDID_TYPE;/|tarnel::CssmListElement::wordId differs"
    "element_type|s/    CSSM_LIST_ELEMENT_TYPE ElementType;/    uint64 ElementType;/|tarnel::CssmListElement::elementType differs"
    "verifier|s/    const CSSM_SUBSERVICE_UID\\* Verifier;/    uint32 Verifier;/|tarnel::CssmSample::verifier differs"
    "sample_count|s/    uint32 NumberOfSamples;/    uint64 NumberOfSamples;/|tarnel::CssmSampleGroup::numberOfSamples differs"
    "cert_reserved|s/    void\\* Reserved;/    uint32 Reserved;/|tarnel::CssmCertGroup is not laid out as CSSM_CERTGROUP"
    "tp_handle|s/    CSSM_TP_HANDLE TPHandle;/    uint32 TPHandle;/|tarnel::CssmBaseCerts::tpHandle differs"
    "entry_tag|s/CSSM_MODULE_STRING_SIZE + 4/CSSM_MODULE_STRING_SIZE/|tarnel::AccessCredentials is not laid out as CSSM_ACCESS_CREDENTIALS"
    "caller_ctx|s/    void\\* CallerCtx;/    uint32 CallerCtx;/|tarnel::AccessCredentials::callerCtx differs"
    "cc_handle|s/typedef CSSM_LONG_HANDLE CSSM_CC_HANDLE;/typedef uint32 CSSM_CC_HANDLE;/|ContextHandle cannot hold a CSSM_CC_HANDLE"
    "csp_handle|s/typedef CSSM_MODULE_HANDLE CSSM_CSP_HANDLE;/typedef uint32 CSSM_CSP_HANDLE;/|CspHandle is not a CSSM_CSP_HANDLE"
    "item_not_found|s/errSecItemNotFound = -25300/errSecItemNotFound = -25299/|tarnel::kItemNotFound is not errSecItemNotFound"
    "domain_user|s/kSecPreferencesDomainUser = 0/kSecPreferencesDomainUser = 5/|tarnel::PreferencesDomain::User is not kSecPreferencesDomainUser"
    "domain_dynamic|s/kSecPreferencesDomainDynamic = 3/kSecPreferencesDomainDynamic = 4/|tarnel::PreferencesDomain::Dynamic is not kSecPreferencesDomainDynamic"
    "key_use|s/CSSM_KEYUSE_SIGN = 0x00000004/CSSM_KEYUSE_SIGN = 0x00000008/|tarnel::kKeyUseSign is not CSSM_KEYUSE_SIGN"
    "event_mask|s/kSecEveryEventMask = 0xffffffff/kSecEveryEventMask = 0x7fffffff/|tarnel::kEveryEventMask is not kSecEveryEventMask"
    "handled_source|s/kCFRunLoopRunHandledSource = 4/kCFRunLoopRunHandledSource = 5/|tarnel::kRunLoopHandledSource is not kCFRunLoopRunHandledSource"
    "blob_format|s/CSSM_DB_ATTRIBUTE_FORMAT_BLOB = 6/CSSM_DB_ATTRIBUTE_FORMAT_BLOB = 5/|tarnel::kAttributeFormatBlob is not CSSM_DB_ATTRIBUTE_FORMAT_BLOB"
    "acl_sign|s/CSSM_ACL_AUTHORIZATION_SIGN = 115/CSSM_ACL_AUTHORIZATION_SIGN = 116/|tarnel::kAclAuthorizationSign is not CSSM_ACL_AUTHORIZATION_SIGN"
    "with_ui|s/kSecCredentialTypeWithUI = 1/kSecCredentialTypeWithUI = 2/|tarnel::kCredentialTypeWithUi is not kSecCredentialTypeWithUI"
    "add_event|s/kSecAddEvent = 3/kSecAddEvent = 7/|tarnel::kAddEvent is not kSecAddEvent"
    "list_changed_event|s/kSecKeychainListChangedEvent = 11/kSecKeychainListChangedEvent = 12/|tarnel::kKeychainListChangedEvent is not kSecKeychainListChangedEvent"
    "password_word|s/CSSM_WORDID_PASSWORD = 79/CSSM_WORDID_PASSWORD = 78/|tarnel::kWordIdPassword is not CSSM_WORDID_PASSWORD"
    "datum_element|s/CSSM_LIST_ELEMENT_DATUM = 0x00/CSSM_LIST_ELEMENT_DATUM = 0x03/|tarnel::kListElementDatum is not CSSM_LIST_ELEMENT_DATUM"
    "wordid_element|s/CSSM_LIST_ELEMENT_WORDID = 0x02/CSSM_LIST_ELEMENT_WORDID = 0x04/|tarnel::kListElementWordId is not CSSM_LIST_ELEMENT_WORDID"
    "alg_sha1|s/CSSM_ALGID_SHA1 = 8/CSSM_ALGID_SHA1 = 9/|tarnel::kAlgSha1 is not CSSM_ALGID_SHA1"
    "alg_sha1_rsa|s/CSSM_ALGID_SHA1WithRSA = 51/CSSM_ALGID_SHA1WithRSA = 50/|tarnel::kAlgSha1WithRsa is not CSSM_ALGID_SHA1WithRSA"
    "path_length_type|s/UInt32\\* ioPathLength/CFIndex* ioPathLength/|CFIndex"
    "sign_data_missing|/^CSSM_RETURN CSSM_SignData/,/Signature);/d|CSSM_SignData"
    "remove_callback_missing|/^OSStatus SecKeychainRemoveCallback/d|SecKeychainRemoveCallback"
    "block_size_missing|/SecKeyGetBlockSize/d|SecKeyGetBlockSize"
)

declarations=macos/check/AppleDeclarations.h
original=$source_dir/macos/check/AppleDeclarations.h
run_guards "${rows[@]}"
