// Deterministic stand-ins for the token's algorithms. They protect nothing;
// they only make data flow and lengths visible to the tests.
#pragma once

#include <cstdint>

#include "mock_state.h"

namespace p11mock {

constexpr unsigned char kDefaultCipherKey = 0x5A;
constexpr CK_ULONG kDefaultSignatureLength = 64;
constexpr CK_ULONG kDefaultKeyLength = 16;

CK_ULONG digest_length(CK_MECHANISM_TYPE mechanism);
// FNV-1a seeded expansion of (mechanism, data) to length bytes.
Bytes toy_digest(CK_MECHANISM_TYPE mechanism, const Bytes& data, CK_ULONG length);
Bytes toy_signature(CK_MECHANISM_TYPE mechanism, const Bytes& material, const Bytes& data,
                    CK_ULONG length);
// XOR with the key repeated, starting at key-stream position 'position'.
Bytes toy_xor(const Bytes& key, CK_ULONG position, const unsigned char* data, CK_ULONG length);

// Key of the toy cipher: CKA_VALUE, or one fixed byte.
Bytes cipher_key(const Object& key);
// Key material of the toy signature: CKA_MODULUS, else CKA_VALUE, else the handle.
Bytes signing_material(const Object& key);
// CKA_MODULUS_BITS / 8 when the key has it, else 64.
CK_ULONG signature_length(const Object& key);

// One step of a toy cipher operation: returns the output and the state after it.
Bytes cipher_step(const CipherOperation& op, const unsigned char* data, CK_ULONG length, bool final,
                  CK_ULONG block, CipherOperation* after);

void seed_random(uint64_t& state, const unsigned char* seed, CK_ULONG length);
void fill_random(uint64_t& state, unsigned char* out, CK_ULONG length);

}  // namespace p11mock
