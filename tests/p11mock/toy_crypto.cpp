#include "toy_crypto.h"

#include <cstring>

namespace p11mock {

namespace {

constexpr uint64_t kFnvOffset = 14695981039346656037ULL;
constexpr uint64_t kFnvPrime = 1099511628211ULL;

uint64_t fnv1a(const unsigned char* data, size_t length, uint64_t hash) {
    for (size_t i = 0; i < length; ++i) {
        hash ^= data[i];
        hash *= kFnvPrime;
    }
    return hash;
}

uint64_t fnv1a(const Bytes& data, uint64_t hash) {
    return fnv1a(data.data(), data.size(), hash);
}

uint64_t mix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return x;
}

Bytes expand(uint64_t seed, CK_ULONG length) {
    Bytes out(length);
    uint64_t word = 0;
    for (CK_ULONG i = 0; i < length; ++i) {
        if (i % 8 == 0) word = mix(seed + 0x9E3779B97F4A7C15ULL * (i / 8 + 1));
        out[i] = static_cast<unsigned char>(word >> (8 * (i % 8)));
    }
    return out;
}

}  // namespace

CK_ULONG digest_length(CK_MECHANISM_TYPE mechanism) {
    switch (mechanism) {
        case CKM_MD5:
            return 16;
        case CKM_SHA_1:
            return 20;
        case CKM_SHA256:
            return 32;
        case CKM_SHA512:
            return 64;
        default:
            return 20;
    }
}

Bytes toy_digest(CK_MECHANISM_TYPE mechanism, const Bytes& data, CK_ULONG length) {
    uint64_t h = fnv1a(ulong_bytes(mechanism), kFnvOffset);
    return expand(fnv1a(data, h), length);
}

Bytes toy_signature(CK_MECHANISM_TYPE mechanism, const Bytes& material, const Bytes& data,
                    CK_ULONG length) {
    uint64_t h = fnv1a(ulong_bytes(mechanism), kFnvOffset ^ 0x5167ULL);
    h = fnv1a(material, h);
    return expand(fnv1a(data, h), length);
}

Bytes toy_xor(const Bytes& key, CK_ULONG position, const unsigned char* data, CK_ULONG length) {
    Bytes out(length);
    for (CK_ULONG i = 0; i < length; ++i) {
        const unsigned char k = key.empty() ? kDefaultCipherKey : key[(position + i) % key.size()];
        out[i] = static_cast<unsigned char>(data[i] ^ k);
    }
    return out;
}

Bytes cipher_key(const Object& key) {
    const Attribute* value = key.find(CKA_VALUE);
    if (value != nullptr && !value->value.empty()) return value->value;
    return Bytes{kDefaultCipherKey};
}

Bytes signing_material(const Object& key) {
    for (CK_ATTRIBUTE_TYPE type : {CKA_MODULUS, CKA_VALUE}) {
        const Attribute* a = key.find(type);
        if (a != nullptr && !a->value.empty()) return a->value;
    }
    return ulong_bytes(key.handle);
}

CK_ULONG signature_length(const Object& key) {
    CK_ULONG bits = 0;
    if (key.has_ulong(CKA_MODULUS_BITS, &bits) && bits / 8 > 0) return bits / 8;
    return kDefaultSignatureLength;
}

Bytes cipher_step(const CipherOperation& op, const unsigned char* data, CK_ULONG length, bool final,
                  CK_ULONG block, CipherOperation* after) {
    Bytes all = op.pending;
    if (data != nullptr) all.insert(all.end(), data, data + length);
    const CK_ULONG ready = final || block <= 1 ? all.size() : all.size() - all.size() % block;
    Bytes out = toy_xor(op.key, op.position, all.data(), ready);
    *after = op;
    after->position = op.position + ready;
    after->pending.assign(all.begin() + static_cast<std::ptrdiff_t>(ready), all.end());
    return out;
}

void seed_random(uint64_t& state, const unsigned char* seed, CK_ULONG length) {
    state = fnv1a(seed, length, state ^ kFnvOffset);
}

void fill_random(uint64_t& state, unsigned char* out, CK_ULONG length) {
    for (CK_ULONG i = 0; i < length; ++i) {
        if (i % 8 == 0) state += 0x9E3779B97F4A7C15ULL;
        out[i] = static_cast<unsigned char>(mix(state) >> (8 * (i % 8)));
    }
}

}  // namespace p11mock
