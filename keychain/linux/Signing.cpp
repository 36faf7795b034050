// Signature contexts and RSA PKCS#1 v1.5 signing with libcrypto.
//
// The two algorithm identifiers keep their CSSM meaning: a digest algorithm of
// SHA-1 with the RSA signature algorithm means the data already is a SHA-1
// digest; no digest algorithm with SHA1withRSA means hash, then sign; no digest
// algorithm with RSA signs the data as given, without a DigestInfo.
#include <openssl/err.h>
#include <openssl/rsa.h>

#include <cstring>

#include "Internal.h"

namespace tarnel::linux_platform {

namespace {

constexpr std::size_t kSha1Length = 20;
constexpr std::size_t kPkcs1Overhead = 11;  // the least padding of a PKCS#1 v1.5 block

enum class Mode { Unsupported, GivenDigest, HashFirst, Raw };

Mode modeOf(std::uint32_t digestAlgorithm, std::uint32_t signatureAlgorithm) {
    if (digestAlgorithm == kAlgSha1 && signatureAlgorithm == kAlgRsa) return Mode::GivenDigest;
    if (digestAlgorithm == kAlgNone && signatureAlgorithm == kAlgSha1WithRsa)
        return Mode::HashFirst;
    if (digestAlgorithm == kAlgNone && signatureAlgorithm == kAlgRsa) return Mode::Raw;
    return Mode::Unsupported;
}

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

Status sign(EVP_PKEY* key, bool withDigestInfo, const Bytes& input, CssmData* signature) {
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        return kInternalComponent;
    if (withDigestInfo && EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha1()) != 1)
        return kInternalComponent;
    std::size_t needed = 0;
    if (EVP_PKEY_sign(ctx.get(), nullptr, &needed, input.data(), input.size()) != 1)
        return kInternalComponent;
    if (signature->length < needed) return kBufferTooSmall;
    if (signature->data == nullptr) return kParam;
    std::size_t written = signature->length;
    if (EVP_PKEY_sign(ctx.get(), signature->data, &written, input.data(), input.size()) != 1)
        return kInternalComponent;
    signature->length = written;
    return kOk;
}

}  // namespace

Status LinuxPlatform::createSignatureContext(CspHandle csp, std::uint32_t algorithm,
                                             const AccessCredentials*, const CssmKey* key,
                                             ContextHandle* context) {
    if (csp == 0 || context == nullptr || find<KeyObject>(key) == nullptr) return kParam;
    Ref held = retainRef(key);
    if (held == nullptr) return kParam;
    auto made = std::make_unique<ContextObject>(algorithm, held);
    *context = reinterpret_cast<ContextHandle>(publish(std::move(made)));
    return kOk;
}

Status LinuxPlatform::deleteContext(ContextHandle context) {
    return destroy(reinterpret_cast<const void*>(context), Kind::Context) ? kOk : kParam;
}

Status LinuxPlatform::signData(ContextHandle context, const CssmData* blocks,
                               std::uint32_t blockCount, std::uint32_t digestAlgorithm,
                               CssmData* signature) {
    auto* ctx = find<ContextObject>(reinterpret_cast<const void*>(context));
    if (ctx == nullptr || signature == nullptr || (blockCount > 0 && blocks == nullptr))
        return kParam;
    auto* key = find<KeyObject>(ctx->key);
    if (key == nullptr) return kParam;

    Mode mode = modeOf(digestAlgorithm, ctx->algorithm);
    if (mode == Mode::Unsupported || EVP_PKEY_get_base_id(key->key.get()) != EVP_PKEY_RSA)
        return kUnimplemented;

    Bytes data;
    for (std::uint32_t i = 0; i < blockCount; ++i) {
        if (blocks[i].length == 0) continue;
        if (blocks[i].data == nullptr) return kParam;
        data.insert(data.end(), blocks[i].data, blocks[i].data + blocks[i].length);
    }

    Status status = kOk;
    switch (mode) {
        case Mode::GivenDigest:
            status =
                data.size() == kSha1Length ? sign(key->key.get(), true, data, signature) : kParam;
            break;
        case Mode::HashFirst: {
            Bytes digest(kSha1Length);
            unsigned int length = 0;
            if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha1(), nullptr) !=
                    1 ||
                length != kSha1Length) {
                status = kInternalComponent;
                break;
            }
            status = sign(key->key.get(), true, digest, signature);
            break;
        }
        case Mode::Raw: {
            auto limit = static_cast<std::size_t>(EVP_PKEY_get_size(key->key.get()));
            status = data.size() + kPkcs1Overhead <= limit
                         ? sign(key->key.get(), false, data, signature)
                         : kParam;
            break;
        }
        case Mode::Unsupported:
            status = kUnimplemented;
            break;
    }
    ERR_clear_error();
    return status;
}

}  // namespace tarnel::linux_platform
