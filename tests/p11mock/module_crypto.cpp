// Encryption, decryption, digests, signatures and the dual-function updates,
// all with the toy algorithms.
#include <cstring>

#include "mock_call.h"
#include "toy_crypto.h"

using namespace p11mock;

namespace {

using CipherSlot = CipherOperation Session::*;
using CollectingSlot = CollectingOperation Session::*;

enum class Output { kDigest, kSignature };

Session* session_for(State& st, CK_SESSION_HANDLE handle, CK_RV* rv) {
    Session* s = st.session(handle);
    if (s == nullptr) *rv = CKR_SESSION_HANDLE_INVALID;
    return s;
}

CK_RV start_cipher(State& st, CK_SESSION_HANDLE handle, const CK_MECHANISM* mechanism,
                   CK_OBJECT_HANDLE key, CipherSlot which) {
    CK_RV rv = CKR_OK;
    Session* s = session_for(st, handle, &rv);
    if (s == nullptr) return rv;
    if (mechanism == nullptr) return CKR_ARGUMENTS_BAD;
    if ((s->*which).active) return CKR_OPERATION_ACTIVE;
    const Object* k = st.object(key);
    if (k == nullptr) return CKR_KEY_HANDLE_INVALID;
    CipherOperation op;
    op.active = true;
    op.key = cipher_key(*k);
    s->*which = op;
    return CKR_OK;
}

// Digest when keyed is false; otherwise signature, verification or recovery.
CK_RV start_collecting(State& st, CK_SESSION_HANDLE handle, const CK_MECHANISM* mechanism,
                       bool keyed, CK_OBJECT_HANDLE key, CollectingSlot which) {
    CK_RV rv = CKR_OK;
    Session* s = session_for(st, handle, &rv);
    if (s == nullptr) return rv;
    if (mechanism == nullptr) return CKR_ARGUMENTS_BAD;
    if ((s->*which).active) return CKR_OPERATION_ACTIVE;
    CollectingOperation op;
    op.active = true;
    op.mechanism = mechanism->mechanism;
    if (keyed) {
        const Object* k = st.object(key);
        if (k == nullptr) return CKR_KEY_HANDLE_INVALID;
        op.material = signing_material(*k);
        op.length = signature_length(*k);
    } else {
        op.length = digest_length(mechanism->mechanism);
    }
    s->*which = op;
    return CKR_OK;
}

// One cipher call: 'final' releases held-back bytes, 'ends' closes the
// operation once the output has been handed over.
CK_RV cipher_call(Call& c, CK_SESSION_HANDLE handle, CipherSlot which, const unsigned char* in,
                  CK_ULONG in_len, bool final, bool ends, CK_BYTE_PTR out, CK_ULONG_PTR out_len) {
    CK_RV rv = CKR_OK;
    Session* s = session_for(c.st, handle, &rv);
    if (s == nullptr) return rv;
    CipherOperation& op = s->*which;
    if (!op.active) return CKR_OPERATION_NOT_INITIALIZED;
    if (in == nullptr && in_len != 0) return CKR_ARGUMENTS_BAD;
    CipherOperation after;
    const Bytes result = cipher_step(op, in, in_len, final, c.st.cipher_block, &after);
    const Delivery d = deliver_bytes(c, result, out, out_len);
    if (d.written) op = ends ? CipherOperation{} : after;
    return d.rv;
}

CK_RV collect(State& st, CK_SESSION_HANDLE handle, CollectingSlot which, const unsigned char* in,
              CK_ULONG in_len) {
    CK_RV rv = CKR_OK;
    Session* s = session_for(st, handle, &rv);
    if (s == nullptr) return rv;
    CollectingOperation& op = s->*which;
    if (!op.active) return CKR_OPERATION_NOT_INITIALIZED;
    if (in == nullptr && in_len != 0) return CKR_ARGUMENTS_BAD;
    if (in != nullptr) op.data.insert(op.data.end(), in, in + in_len);
    return CKR_OK;
}

Bytes result_of(const CollectingOperation& op, const Bytes& data, Output kind) {
    return kind == Output::kDigest ? toy_digest(op.mechanism, data, op.length)
                                   : toy_signature(op.mechanism, op.material, data, op.length);
}

// Single-part (with input) or final (without) digest or signature.
CK_RV produce(Call& c, CK_SESSION_HANDLE handle, CollectingSlot which, Output kind,
              const unsigned char* in, CK_ULONG in_len, CK_BYTE_PTR out, CK_ULONG_PTR out_len) {
    CK_RV rv = CKR_OK;
    Session* s = session_for(c.st, handle, &rv);
    if (s == nullptr) return rv;
    CollectingOperation& op = s->*which;
    if (!op.active) return CKR_OPERATION_NOT_INITIALIZED;
    if (in == nullptr && in_len != 0) return CKR_ARGUMENTS_BAD;
    Bytes data = op.data;
    if (in != nullptr) data.insert(data.end(), in, in + in_len);
    const Delivery d = deliver_bytes(c, result_of(op, data, kind), out, out_len);
    if (d.written) op = CollectingOperation{};
    return d.rv;
}

CK_RV check_signature(State& st, CK_SESSION_HANDLE handle, const unsigned char* in, CK_ULONG in_len,
                      const unsigned char* signature, CK_ULONG signature_len) {
    CK_RV rv = CKR_OK;
    Session* s = session_for(st, handle, &rv);
    if (s == nullptr) return rv;
    CollectingOperation& op = s->verify;
    if (!op.active) return CKR_OPERATION_NOT_INITIALIZED;
    if ((in == nullptr && in_len != 0) || (signature == nullptr && signature_len != 0)) {
        return CKR_ARGUMENTS_BAD;
    }
    Bytes data = op.data;
    if (in != nullptr) data.insert(data.end(), in, in + in_len);
    const Bytes expected = result_of(op, data, Output::kSignature);
    op = CollectingOperation{};
    if (signature_len != expected.size()) return CKR_SIGNATURE_LEN_RANGE;
    if (signature_len != 0 && std::memcmp(signature, expected.data(), signature_len) != 0) {
        return CKR_SIGNATURE_INVALID;
    }
    return CKR_OK;
}

// Signature with recovery: the data XORed with the key material.
CK_RV recover_call(Call& c, CK_SESSION_HANDLE handle, CollectingSlot which, const unsigned char* in,
                   CK_ULONG in_len, CK_BYTE_PTR out, CK_ULONG_PTR out_len) {
    CK_RV rv = CKR_OK;
    Session* s = session_for(c.st, handle, &rv);
    if (s == nullptr) return rv;
    CollectingOperation& op = s->*which;
    if (!op.active) return CKR_OPERATION_NOT_INITIALIZED;
    if (in == nullptr && in_len != 0) return CKR_ARGUMENTS_BAD;
    const Delivery d = deliver_bytes(c, toy_xor(op.material, 0, in, in_len), out, out_len);
    if (d.written) op = CollectingOperation{};
    return d.rv;
}

// Dual-function update: the cipher produces output, the collecting operation
// takes the plaintext (the input when encrypting, the output when decrypting).
CK_RV dual_call(Call& c, CK_SESSION_HANDLE handle, CipherSlot cipher, CollectingSlot collecting,
                bool collect_input, const unsigned char* in, CK_ULONG in_len, CK_BYTE_PTR out,
                CK_ULONG_PTR out_len) {
    CK_RV rv = CKR_OK;
    Session* s = session_for(c.st, handle, &rv);
    if (s == nullptr) return rv;
    CipherOperation& op = s->*cipher;
    CollectingOperation& other = s->*collecting;
    if (!op.active || !other.active) return CKR_OPERATION_NOT_INITIALIZED;
    if (in == nullptr && in_len != 0) return CKR_ARGUMENTS_BAD;
    CipherOperation after;
    const Bytes result = cipher_step(op, in, in_len, false, c.st.cipher_block, &after);
    const Delivery d = deliver_bytes(c, result, out, out_len);
    if (d.written) {
        op = after;
        if (collect_input) {
            if (in != nullptr) other.data.insert(other.data.end(), in, in + in_len);
        } else {
            other.data.insert(other.data.end(), result.begin(), result.end());
        }
    }
    return d.rv;
}

}  // namespace

#define P11MOCK_INIT_CALL(name, ...) \
    Call c(name);                    \
    c.arg(hSession).ptr(pMechanism); \
    __VA_ARGS__;                     \
    c.mechanism(pMechanism);         \
    CK_RV rv;                        \
    if (c.intercepted(&rv)) return rv

extern "C" {

// ---- Encryption and decryption --------------------------------------------

P11MOCK_EXPORT CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                   CK_OBJECT_HANDLE hKey) {
    P11MOCK_INIT_CALL("C_EncryptInit", c.arg(hKey));
    return c.done(start_cipher(c.st, hSession, pMechanism, hKey, &Session::encrypt));
}

P11MOCK_EXPORT CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                               CK_BYTE_PTR pEncryptedData, CK_ULONG_PTR pulEncryptedDataLen) {
    Call c("C_Encrypt");
    c.arg(hSession).ptr(pData).arg(ulDataLen).ptr(pEncryptedData).inout(pulEncryptedDataLen);
    c.bytes(pData, ulDataLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(cipher_call(c, hSession, &Session::encrypt, pData, ulDataLen, true, true,
                              pEncryptedData, pulEncryptedDataLen));
}

P11MOCK_EXPORT CK_RV C_EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,
                                     CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                                     CK_ULONG_PTR pulEncryptedPartLen) {
    Call c("C_EncryptUpdate");
    c.arg(hSession).ptr(pPart).arg(ulPartLen).ptr(pEncryptedPart).inout(pulEncryptedPartLen);
    c.bytes(pPart, ulPartLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(cipher_call(c, hSession, &Session::encrypt, pPart, ulPartLen, false, false,
                              pEncryptedPart, pulEncryptedPartLen));
}

P11MOCK_EXPORT CK_RV C_EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart,
                                    CK_ULONG_PTR pulLastEncryptedPartLen) {
    Call c("C_EncryptFinal");
    c.arg(hSession).ptr(pLastEncryptedPart).inout(pulLastEncryptedPartLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(cipher_call(c, hSession, &Session::encrypt, nullptr, 0, true, true,
                              pLastEncryptedPart, pulLastEncryptedPartLen));
}

P11MOCK_EXPORT CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                   CK_OBJECT_HANDLE hKey) {
    P11MOCK_INIT_CALL("C_DecryptInit", c.arg(hKey));
    return c.done(start_cipher(c.st, hSession, pMechanism, hKey, &Session::decrypt));
}

P11MOCK_EXPORT CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData,
                               CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData,
                               CK_ULONG_PTR pulDataLen) {
    Call c("C_Decrypt");
    c.arg(hSession).ptr(pEncryptedData).arg(ulEncryptedDataLen).ptr(pData).inout(pulDataLen);
    c.bytes(pEncryptedData, ulEncryptedDataLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(cipher_call(c, hSession, &Session::decrypt, pEncryptedData, ulEncryptedDataLen,
                              true, true, pData, pulDataLen));
}

P11MOCK_EXPORT CK_RV C_DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                     CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart,
                                     CK_ULONG_PTR pulPartLen) {
    Call c("C_DecryptUpdate");
    c.arg(hSession).ptr(pEncryptedPart).arg(ulEncryptedPartLen).ptr(pPart).inout(pulPartLen);
    c.bytes(pEncryptedPart, ulEncryptedPartLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(cipher_call(c, hSession, &Session::decrypt, pEncryptedPart, ulEncryptedPartLen,
                              false, false, pPart, pulPartLen));
}

P11MOCK_EXPORT CK_RV C_DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart,
                                    CK_ULONG_PTR pulLastPartLen) {
    Call c("C_DecryptFinal");
    c.arg(hSession).ptr(pLastPart).inout(pulLastPartLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(cipher_call(c, hSession, &Session::decrypt, nullptr, 0, true, true, pLastPart,
                              pulLastPartLen));
}

// ---- Digests ----------------------------------------------------------------

P11MOCK_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) {
    P11MOCK_INIT_CALL("C_DigestInit", (void)0);
    return c.done(start_collecting(c.st, hSession, pMechanism, false, 0, &Session::digest));
}

P11MOCK_EXPORT CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                              CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
    Call c("C_Digest");
    c.arg(hSession).ptr(pData).arg(ulDataLen).ptr(pDigest).inout(pulDigestLen);
    c.bytes(pData, ulDataLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(produce(c, hSession, &Session::digest, Output::kDigest, pData, ulDataLen, pDigest,
                          pulDigestLen));
}

P11MOCK_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,
                                    CK_ULONG ulPartLen) {
    Call c("C_DigestUpdate");
    c.arg(hSession).ptr(pPart).arg(ulPartLen).bytes(pPart, ulPartLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(collect(c.st, hSession, &Session::digest, pPart, ulPartLen));
}

P11MOCK_EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey) {
    Call c("C_DigestKey");
    c.arg(hSession).arg(hKey);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    Session* s = session_for(c.st, hSession, &rv);
    if (s == nullptr) return c.done(rv);
    if (!s->digest.active) return c.done(CKR_OPERATION_NOT_INITIALIZED);
    const Object* key = c.st.object(hKey);
    if (key == nullptr) return c.done(CKR_KEY_HANDLE_INVALID);
    const Attribute* value = key->find(CKA_VALUE);
    if (value == nullptr) return c.done(CKR_KEY_INDIGESTIBLE);
    s->digest.data.insert(s->digest.data.end(), value->value.begin(), value->value.end());
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest,
                                   CK_ULONG_PTR pulDigestLen) {
    Call c("C_DigestFinal");
    c.arg(hSession).ptr(pDigest).inout(pulDigestLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(
        produce(c, hSession, &Session::digest, Output::kDigest, nullptr, 0, pDigest, pulDigestLen));
}

// ---- Signatures ---------------------------------------------------------------

P11MOCK_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                CK_OBJECT_HANDLE hKey) {
    P11MOCK_INIT_CALL("C_SignInit", c.arg(hKey));
    return c.done(start_collecting(c.st, hSession, pMechanism, true, hKey, &Session::sign));
}

P11MOCK_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                            CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    Call c("C_Sign");
    c.arg(hSession).ptr(pData).arg(ulDataLen).ptr(pSignature).inout(pulSignatureLen);
    c.bytes(pData, ulDataLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(produce(c, hSession, &Session::sign, Output::kSignature, pData, ulDataLen,
                          pSignature, pulSignatureLen));
}

P11MOCK_EXPORT CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,
                                  CK_ULONG ulPartLen) {
    Call c("C_SignUpdate");
    c.arg(hSession).ptr(pPart).arg(ulPartLen).bytes(pPart, ulPartLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(collect(c.st, hSession, &Session::sign, pPart, ulPartLen));
}

P11MOCK_EXPORT CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,
                                 CK_ULONG_PTR pulSignatureLen) {
    Call c("C_SignFinal");
    c.arg(hSession).ptr(pSignature).inout(pulSignatureLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(produce(c, hSession, &Session::sign, Output::kSignature, nullptr, 0, pSignature,
                          pulSignatureLen));
}

P11MOCK_EXPORT CK_RV C_SignRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                       CK_OBJECT_HANDLE hKey) {
    P11MOCK_INIT_CALL("C_SignRecoverInit", c.arg(hKey));
    return c.done(start_collecting(c.st, hSession, pMechanism, true, hKey, &Session::sign_recover));
}

P11MOCK_EXPORT CK_RV C_SignRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData,
                                   CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                                   CK_ULONG_PTR pulSignatureLen) {
    Call c("C_SignRecover");
    c.arg(hSession).ptr(pData).arg(ulDataLen).ptr(pSignature).inout(pulSignatureLen);
    c.bytes(pData, ulDataLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(recover_call(c, hSession, &Session::sign_recover, pData, ulDataLen, pSignature,
                               pulSignatureLen));
}

// ---- Verification -------------------------------------------------------------

P11MOCK_EXPORT CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                  CK_OBJECT_HANDLE hKey) {
    P11MOCK_INIT_CALL("C_VerifyInit", c.arg(hKey));
    return c.done(start_collecting(c.st, hSession, pMechanism, true, hKey, &Session::verify));
}

P11MOCK_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                              CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    Call c("C_Verify");
    c.arg(hSession).ptr(pData).arg(ulDataLen).ptr(pSignature).arg(ulSignatureLen);
    c.bytes(pData, ulDataLen).bytes(pSignature, ulSignatureLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(check_signature(c.st, hSession, pData, ulDataLen, pSignature, ulSignatureLen));
}

P11MOCK_EXPORT CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,
                                    CK_ULONG ulPartLen) {
    Call c("C_VerifyUpdate");
    c.arg(hSession).ptr(pPart).arg(ulPartLen).bytes(pPart, ulPartLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(collect(c.st, hSession, &Session::verify, pPart, ulPartLen));
}

P11MOCK_EXPORT CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,
                                   CK_ULONG ulSignatureLen) {
    Call c("C_VerifyFinal");
    c.arg(hSession).ptr(pSignature).arg(ulSignatureLen).bytes(pSignature, ulSignatureLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(check_signature(c.st, hSession, nullptr, 0, pSignature, ulSignatureLen));
}

P11MOCK_EXPORT CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                         CK_OBJECT_HANDLE hKey) {
    P11MOCK_INIT_CALL("C_VerifyRecoverInit", c.arg(hKey));
    return c.done(
        start_collecting(c.st, hSession, pMechanism, true, hKey, &Session::verify_recover));
}

P11MOCK_EXPORT CK_RV C_VerifyRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,
                                     CK_ULONG ulSignatureLen, CK_BYTE_PTR pData,
                                     CK_ULONG_PTR pulDataLen) {
    Call c("C_VerifyRecover");
    c.arg(hSession).ptr(pSignature).arg(ulSignatureLen).ptr(pData).inout(pulDataLen);
    c.bytes(pSignature, ulSignatureLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(recover_call(c, hSession, &Session::verify_recover, pSignature, ulSignatureLen,
                               pData, pulDataLen));
}

// ---- Dual-function updates ----------------------------------------------------

P11MOCK_EXPORT CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,
                                           CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                                           CK_ULONG_PTR pulEncryptedPartLen) {
    Call c("C_DigestEncryptUpdate");
    c.arg(hSession).ptr(pPart).arg(ulPartLen).ptr(pEncryptedPart).inout(pulEncryptedPartLen);
    c.bytes(pPart, ulPartLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(dual_call(c, hSession, &Session::encrypt, &Session::digest, true, pPart,
                            ulPartLen, pEncryptedPart, pulEncryptedPartLen));
}

P11MOCK_EXPORT CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                           CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart,
                                           CK_ULONG_PTR pulPartLen) {
    Call c("C_DecryptDigestUpdate");
    c.arg(hSession).ptr(pEncryptedPart).arg(ulEncryptedPartLen).ptr(pPart).inout(pulPartLen);
    c.bytes(pEncryptedPart, ulEncryptedPartLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(dual_call(c, hSession, &Session::decrypt, &Session::digest, false, pEncryptedPart,
                            ulEncryptedPartLen, pPart, pulPartLen));
}

P11MOCK_EXPORT CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,
                                         CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                                         CK_ULONG_PTR pulEncryptedPartLen) {
    Call c("C_SignEncryptUpdate");
    c.arg(hSession).ptr(pPart).arg(ulPartLen).ptr(pEncryptedPart).inout(pulEncryptedPartLen);
    c.bytes(pPart, ulPartLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(dual_call(c, hSession, &Session::encrypt, &Session::sign, true, pPart, ulPartLen,
                            pEncryptedPart, pulEncryptedPartLen));
}

P11MOCK_EXPORT CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                           CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart,
                                           CK_ULONG_PTR pulPartLen) {
    Call c("C_DecryptVerifyUpdate");
    c.arg(hSession).ptr(pEncryptedPart).arg(ulEncryptedPartLen).ptr(pPart).inout(pulPartLen);
    c.bytes(pEncryptedPart, ulEncryptedPartLen);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    return c.done(dual_call(c, hSession, &Session::decrypt, &Session::verify, false, pEncryptedPart,
                            ulEncryptedPartLen, pPart, pulPartLen));
}

}  // extern "C"
