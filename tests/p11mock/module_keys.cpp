// Key generation and management, random numbers, operation state and the
// legacy parallel-function entry points.
#include <cstring>

#include "mock_call.h"
#include "toy_crypto.h"

using namespace p11mock;

namespace {

constexpr unsigned char kStateMagic[8] = {'P', '1', '1', 'M', 'O', 'C', 'K', 'S'};

CK_ULONG value_length(const Object& object) {
    CK_ULONG len = 0;
    return object.has_ulong(CKA_VALUE_LEN, &len) && len > 0 ? len : kDefaultKeyLength;
}

void default_class(Object& object, CK_OBJECT_CLASS cls) {
    if (object.find(CKA_CLASS) == nullptr) object.put(CKA_CLASS, ulong_bytes(cls));
}

// Secret key from a template, holding 'value' unless the template set one.
CK_RV store_secret(State& st, const Session& session, const CK_ATTRIBUTE* tmpl, CK_ULONG count,
                   const Bytes& value, CK_OBJECT_HANDLE_PTR handle) {
    Object key{};
    CK_RV rv = apply_template(key, tmpl, count);
    if (rv != CKR_OK) return rv;
    default_class(key, CKO_SECRET_KEY);
    if (key.find(CKA_VALUE) == nullptr) key.put(CKA_VALUE, value);
    return store_object(st, session, key, handle);
}

}  // namespace

extern "C" {

P11MOCK_EXPORT CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                   CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                                   CK_OBJECT_HANDLE_PTR phKey) {
    Call c("C_GenerateKey");
    c.arg(hSession).ptr(pMechanism).ptr(pTemplate).arg(ulCount).ptr(phKey);
    c.mechanism(pMechanism).input_template(pTemplate, ulCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    const Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (pMechanism == nullptr || phKey == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    Object probe{};
    if ((rv = apply_template(probe, pTemplate, ulCount)) != CKR_OK) return c.done(rv);
    // Different for every key the module makes, the same in every run.
    const Bytes value =
        toy_digest(pMechanism->mechanism, ulong_bytes(c.st.next_object), value_length(probe));
    return c.done(store_secret(c.st, *session, pTemplate, ulCount, value, phKey));
}

P11MOCK_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                       CK_ATTRIBUTE_PTR pPublicKeyTemplate,
                                       CK_ULONG ulPublicKeyAttributeCount,
                                       CK_ATTRIBUTE_PTR pPrivateKeyTemplate,
                                       CK_ULONG ulPrivateKeyAttributeCount,
                                       CK_OBJECT_HANDLE_PTR phPublicKey,
                                       CK_OBJECT_HANDLE_PTR phPrivateKey) {
    Call c("C_GenerateKeyPair");
    c.arg(hSession).ptr(pMechanism).ptr(pPublicKeyTemplate).arg(ulPublicKeyAttributeCount);
    c.ptr(pPrivateKeyTemplate).arg(ulPrivateKeyAttributeCount).ptr(phPublicKey).ptr(phPrivateKey);
    c.mechanism(pMechanism);
    c.input_template(pPublicKeyTemplate, ulPublicKeyAttributeCount);
    c.input_template(pPrivateKeyTemplate, ulPrivateKeyAttributeCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    const Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (pMechanism == nullptr || phPublicKey == nullptr || phPrivateKey == nullptr) {
        return c.done(CKR_ARGUMENTS_BAD);
    }
    Object pub{};
    Object priv{};
    if ((rv = apply_template(pub, pPublicKeyTemplate, ulPublicKeyAttributeCount)) != CKR_OK ||
        (rv = apply_template(priv, pPrivateKeyTemplate, ulPrivateKeyAttributeCount)) != CKR_OK) {
        return c.done(rv);
    }
    default_class(pub, CKO_PUBLIC_KEY);
    default_class(priv, CKO_PRIVATE_KEY);
    // Both halves share the modulus, which keys the toy signature.
    CK_ULONG bits = 0;
    CK_ULONG modulus_len = kDefaultSignatureLength;
    if (pub.has_ulong(CKA_MODULUS_BITS, &bits) && bits / 8 > 0) {
        modulus_len = bits / 8;
        if (priv.find(CKA_MODULUS_BITS) == nullptr) priv.put(CKA_MODULUS_BITS, ulong_bytes(bits));
    }
    const Bytes modulus =
        toy_digest(pMechanism->mechanism, ulong_bytes(c.st.next_object), modulus_len);
    pub.put(CKA_MODULUS, modulus);
    priv.put(CKA_MODULUS, modulus);
    CK_OBJECT_HANDLE pub_handle = CK_INVALID_HANDLE;
    if ((rv = store_object(c.st, *session, pub, &pub_handle)) != CKR_OK) return c.done(rv);
    CK_OBJECT_HANDLE priv_handle = CK_INVALID_HANDLE;
    if ((rv = store_object(c.st, *session, priv, &priv_handle)) != CKR_OK) {
        c.st.remove_object(pub_handle);
        return c.done(rv);
    }
    *phPublicKey = pub_handle;
    *phPrivateKey = priv_handle;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                               CK_OBJECT_HANDLE hWrappingKey, CK_OBJECT_HANDLE hKey,
                               CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen) {
    Call c("C_WrapKey");
    c.arg(hSession).ptr(pMechanism).arg(hWrappingKey).arg(hKey).ptr(pWrappedKey);
    c.inout(pulWrappedKeyLen).mechanism(pMechanism);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (c.st.session(hSession) == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (pMechanism == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    const Object* wrapping = c.st.object(hWrappingKey);
    if (wrapping == nullptr) return c.done(CKR_WRAPPING_KEY_HANDLE_INVALID);
    const Object* key = c.st.object(hKey);
    if (key == nullptr) return c.done(CKR_KEY_HANDLE_INVALID);
    const Attribute* extractable = key->find(CKA_EXTRACTABLE);
    if (extractable != nullptr && !key->is_true(CKA_EXTRACTABLE)) {
        return c.done(CKR_KEY_UNEXTRACTABLE);
    }
    const Attribute* value = key->find(CKA_VALUE);
    if (value == nullptr) return c.done(CKR_KEY_NOT_WRAPPABLE);
    const Bytes wrapped =
        toy_xor(cipher_key(*wrapping), 0, value->value.data(), value->value.size());
    return c.done(deliver_bytes(c, wrapped, pWrappedKey, pulWrappedKeyLen).rv);
}

P11MOCK_EXPORT CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                 CK_OBJECT_HANDLE hUnwrappingKey, CK_BYTE_PTR pWrappedKey,
                                 CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                                 CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
    Call c("C_UnwrapKey");
    c.arg(hSession).ptr(pMechanism).arg(hUnwrappingKey).ptr(pWrappedKey).arg(ulWrappedKeyLen);
    c.ptr(pTemplate).arg(ulAttributeCount).ptr(phKey);
    c.mechanism(pMechanism).bytes(pWrappedKey, ulWrappedKeyLen);
    c.input_template(pTemplate, ulAttributeCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    const Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (pMechanism == nullptr || phKey == nullptr || (pWrappedKey == nullptr && ulWrappedKeyLen)) {
        return c.done(CKR_ARGUMENTS_BAD);
    }
    const Object* unwrapping = c.st.object(hUnwrappingKey);
    if (unwrapping == nullptr) return c.done(CKR_UNWRAPPING_KEY_HANDLE_INVALID);
    const Bytes value = toy_xor(cipher_key(*unwrapping), 0, pWrappedKey, ulWrappedKeyLen);
    return c.done(store_secret(c.st, *session, pTemplate, ulAttributeCount, value, phKey));
}

P11MOCK_EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                 CK_OBJECT_HANDLE hBaseKey, CK_ATTRIBUTE_PTR pTemplate,
                                 CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
    Call c("C_DeriveKey");
    c.arg(hSession).ptr(pMechanism).arg(hBaseKey).ptr(pTemplate).arg(ulAttributeCount).ptr(phKey);
    c.mechanism(pMechanism).input_template(pTemplate, ulAttributeCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    const Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (pMechanism == nullptr || phKey == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    const Object* base = c.st.object(hBaseKey);
    if (base == nullptr) return c.done(CKR_KEY_HANDLE_INVALID);
    Object probe{};
    if ((rv = apply_template(probe, pTemplate, ulAttributeCount)) != CKR_OK) return c.done(rv);
    Bytes input = cipher_key(*base);
    const Bytes parameter = to_bytes(pMechanism->pParameter, pMechanism->ulParameterLen);
    input.insert(input.end(), parameter.begin(), parameter.end());
    const Bytes value = toy_digest(pMechanism->mechanism, input, value_length(probe));
    return c.done(store_secret(c.st, *session, pTemplate, ulAttributeCount, value, phKey));
}

P11MOCK_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed,
                                  CK_ULONG ulSeedLen) {
    Call c("C_SeedRandom");
    c.arg(hSession).ptr(pSeed).arg(ulSeedLen).bytes(pSeed, ulSeedLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (c.st.session(hSession) == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (pSeed == nullptr && ulSeedLen != 0) return c.done(CKR_ARGUMENTS_BAD);
    if (pSeed != nullptr) seed_random(c.st.random_state, pSeed, ulSeedLen);
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData,
                                      CK_ULONG ulRandomLen) {
    Call c("C_GenerateRandom");
    c.arg(hSession).ptr(RandomData).arg(ulRandomLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (c.st.session(hSession) == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (RandomData == nullptr && ulRandomLen != 0) return c.done(CKR_ARGUMENTS_BAD);
    if (RandomData != nullptr) fill_random(c.st.random_state, RandomData, ulRandomLen);
    return c.done(CKR_OK);
}

// The saved state is the digest in progress: magic, mechanism, active flag,
// data collected so far.
P11MOCK_EXPORT CK_RV C_GetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                                         CK_ULONG_PTR pulOperationStateLen) {
    Call c("C_GetOperationState");
    c.arg(hSession).ptr(pOperationState).inout(pulOperationStateLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    const Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    Bytes saved(std::begin(kStateMagic), std::end(kStateMagic));
    const Bytes mechanism = ulong_bytes(session->digest.mechanism);
    saved.insert(saved.end(), mechanism.begin(), mechanism.end());
    saved.push_back(session->digest.active ? 1 : 0);
    saved.insert(saved.end(), session->digest.data.begin(), session->digest.data.end());
    return c.done(deliver_bytes(c, saved, pOperationState, pulOperationStateLen).rv);
}

P11MOCK_EXPORT CK_RV C_SetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                                         CK_ULONG ulOperationStateLen,
                                         CK_OBJECT_HANDLE hEncryptionKey,
                                         CK_OBJECT_HANDLE hAuthenticationKey) {
    Call c("C_SetOperationState");
    c.arg(hSession).ptr(pOperationState).arg(ulOperationStateLen).arg(hEncryptionKey);
    c.arg(hAuthenticationKey).bytes(pOperationState, ulOperationStateLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (pOperationState == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    const size_t header = sizeof kStateMagic + sizeof(CK_ULONG) + 1;
    if (ulOperationStateLen < header ||
        std::memcmp(pOperationState, kStateMagic, sizeof kStateMagic) != 0) {
        return c.done(CKR_SAVED_STATE_INVALID);
    }
    CollectingOperation op;
    std::memcpy(&op.mechanism, pOperationState + sizeof kStateMagic, sizeof(CK_ULONG));
    op.active = pOperationState[header - 1] != 0;
    op.length = digest_length(op.mechanism);
    op.data.assign(pOperationState + header, pOperationState + ulOperationStateLen);
    session->digest = op;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE hSession) {
    Call c("C_GetFunctionStatus");
    c.arg(hSession);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (c.st.session(hSession) == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    return c.done(CKR_FUNCTION_NOT_PARALLEL);
}

P11MOCK_EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE hSession) {
    Call c("C_CancelFunction");
    c.arg(hSession);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (c.st.session(hSession) == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    return c.done(CKR_FUNCTION_NOT_PARALLEL);
}

}  // extern "C"
