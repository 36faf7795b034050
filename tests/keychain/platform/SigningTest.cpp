// Signing through signature contexts: every supported pair verified by openssl
// with the identity's certificate, across key sizes and both identity forms;
// everything else refused with the status its caller relies on.
#include "PlatformTest.h"

namespace tarnel::testing {
namespace {

// An identity's key, its certificate file and a signing context on it.
class SigningTest : public PlatformTest {
  protected:
    struct Signer {
        std::vector<Ref> identities;
        Ref key = nullptr;
        std::string cert;
    };

    Signer open(const Identity& made) {
        Signer s;
        s.cert = made.cert;
        s.identities = identitiesOf(fs::path(made.p12.empty() ? made.key : made.p12).parent_path());
        EXPECT_EQ(s.identities.size(), 1u);
        if (!s.identities.empty()) {
            EXPECT_EQ(sys().copyPrivateKey(s.identities[0], &s.key), kOk);
        }
        return s;
    }
    static void close(Signer& s) {
        sys().release(s.key);
        releaseAll(s.identities);
    }

    static Status sign(Ref key, std::uint32_t digest, std::uint32_t algorithm,
                       const std::vector<Bytes>& blocks, Bytes& signature,
                       std::size_t capacity = 1024) {
        CspHandle csp = 0;
        const AccessCredentials* creds = nullptr;
        const CssmKey* cssm = nullptr;
        EXPECT_EQ(sys().keyCspHandle(key, &csp), kOk);
        EXPECT_EQ(sys().keyCredentials(key, kAclAuthorizationSign, kCredentialTypeWithUi, &creds),
                  kOk);
        EXPECT_EQ(sys().keyCssmKey(key, &cssm), kOk);
        ContextHandle ctx = 0;
        Status status = sys().createSignatureContext(csp, algorithm, creds, cssm, &ctx);
        if (status != kOk) return status;
        EXPECT_EQ(lp::referenceCount(key), 2);  // the context holds the key
        std::vector<CssmData> data;
        for (const Bytes& b : blocks)
            data.push_back({b.size(), const_cast<std::uint8_t*>(b.data())});
        signature.assign(capacity + 16, 0xA5);
        CssmData out{capacity, signature.data()};
        status =
            sys().signData(ctx, data.data(), static_cast<std::uint32_t>(data.size()), digest, &out);
        for (std::size_t i = out.length; i < signature.size(); ++i) {
            EXPECT_EQ(signature[i], 0xA5) << "written past the signature at " << i;
            if (signature[i] != 0xA5) break;
        }
        if (status == kOk) {
            signature.resize(out.length);
        } else {
            EXPECT_EQ(out.length, capacity);
        }
        EXPECT_EQ(sys().deleteContext(ctx), kOk);
        EXPECT_EQ(lp::referenceCount(key), 1);
        return status;
    }
};

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

struct KeyCase {
    int bits;
    bool p12;
};

// Each supported pair, for each key size and form, in one block and split in three.
TEST_F(SigningTest, EverySupportedPairVerifiesWithOpenssl) {
    const std::vector<KeyCase> keys = {{1024, false}, {2048, true}, {3072, false}, {4096, true}};
    const Bytes message = bytesOf("The quick brown fox signs over the lazy keychain.");
    for (const auto& k : keys) {
        SCOPED_TRACE(std::to_string(k.bits) + (k.p12 ? " p12" : " pair"));
        std::string dir = kc.dir("rsa" + std::to_string(k.bits));
        Identity made =
            k.p12 ? kc.addP12(dir, "signer", k.bits) : kc.addPair(dir, "signer", k.bits);
        Signer s = open(made);
        const auto size = static_cast<std::size_t>(k.bits / 8);
        std::size_t reported = 0;
        EXPECT_EQ(sys().keySignatureSize(s.key, &reported), kOk);
        EXPECT_EQ(reported, size);
        const Bytes digest = kc.sha1(message);
        const Bytes raw(message.begin(), message.begin() + 36);
        struct Pair {
            std::uint32_t digest, algorithm;
            Bytes input;
        };
        for (const Pair& p :
             {Pair{kAlgSha1, kAlgRsa, digest}, Pair{kAlgNone, kAlgSha1WithRsa, message},
              Pair{kAlgNone, kAlgRsa, raw}}) {
            SCOPED_TRACE("pair " + std::to_string(p.digest) + "/" + std::to_string(p.algorithm));
            Bytes whole, split;
            ASSERT_EQ(sign(s.key, p.digest, p.algorithm, {p.input}, whole), kOk);
            EXPECT_EQ(whole.size(), size);
            const std::size_t third = p.input.size() / 3;
            std::vector<Bytes> parts = {Bytes(p.input.begin(), p.input.begin() + third), Bytes(),
                                        Bytes(p.input.begin() + third, p.input.end())};
            ASSERT_EQ(sign(s.key, p.digest, p.algorithm, parts, split), kOk);
            EXPECT_EQ(split, whole);  // PKCS#1 v1.5 is deterministic
            if (p.algorithm == kAlgRsa && p.digest == kAlgNone) {
                EXPECT_TRUE(kc.verifyRaw(s.cert, raw, whole));
                EXPECT_FALSE(kc.verifySha1Digest(s.cert, kc.sha1(raw), whole));
            } else {
                EXPECT_TRUE(kc.verifySha1WithRsa(s.cert, message, whole));
                EXPECT_TRUE(kc.verifySha1Digest(s.cert, digest, whole));
                EXPECT_FALSE(kc.verifySha1WithRsa(s.cert, bytesOf("another message"), whole));
            }
        }
        close(s);
    }
}

// Unsupported pairs on an RSA key, and every pair on an EC key: unimplemented.
TEST_F(SigningTest, OtherPairsAndNonRsaKeysUnimplemented) {
    Signer rsa = open(kc.addPair(kc.dir("rsa"), "rsa"));
    Signer ec = open(kc.addEcPair(kc.dir("ec"), "ec"));
    const std::vector<std::uint32_t> ids = {0, 1, 8, 42, 51, 17, 1000};
    const Bytes twenty(20, 7);
    Bytes sig;
    for (std::uint32_t digest : ids) {
        for (std::uint32_t algorithm : ids) {
            bool supported =
                (digest == kAlgSha1 && algorithm == kAlgRsa) ||
                (digest == kAlgNone && (algorithm == kAlgRsa || algorithm == kAlgSha1WithRsa));
            SCOPED_TRACE(std::to_string(digest) + "/" + std::to_string(algorithm));
            EXPECT_EQ(sign(rsa.key, digest, algorithm, {twenty}, sig) == kOk, supported);
            if (!supported) {
                EXPECT_EQ(sign(rsa.key, digest, algorithm, {twenty}, sig), -4);
            }
            EXPECT_EQ(sign(ec.key, digest, algorithm, {twenty}, sig), -4);
        }
    }
    close(rsa);
    close(ec);
}

// Data the pair cannot sign: a "digest" that is not 20 bytes; raw data beyond the
// key's PKCS#1 block.
TEST_F(SigningTest, DataOfTheWrongSizeRefused) {
    Signer s = open(kc.addPair(kc.dir("kc"), "one", 1024));
    Bytes sig;
    for (std::size_t length : {0, 1, 19, 21, 32, 64}) {
        EXPECT_EQ(sign(s.key, kAlgSha1, kAlgRsa, {Bytes(length, 1)}, sig), -50) << length;
    }
    for (std::size_t length : {0, 1, 116, 117}) {
        EXPECT_EQ(sign(s.key, kAlgNone, kAlgRsa, {Bytes(length, 1)}, sig), kOk) << length;
        if (length > 0) {
            EXPECT_TRUE(kc.verifyRaw(s.cert, Bytes(length, 1), sig));
        }
    }
    for (std::size_t length : {118, 128, 129, 4096}) {
        EXPECT_NE(sign(s.key, kAlgNone, kAlgRsa, {Bytes(length, 1)}, sig), kOk) << length;
    }
    close(s);
}

// A buffer below the signature's size is refused untouched; any larger one works.
TEST_F(SigningTest, SignatureBufferSizes) {
    Signer s = open(kc.addPair(kc.dir("kc"), "one", 2048));
    const Bytes message = bytesOf("buffer");
    Bytes sig;
    for (std::size_t capacity : {0, 1, 128, 255}) {
        EXPECT_EQ(sign(s.key, kAlgNone, kAlgSha1WithRsa, {message}, sig, capacity), -25301);
        for (std::size_t i = 0; i < capacity; ++i) ASSERT_EQ(sig[i], 0xA5) << capacity;
    }
    for (std::size_t capacity : {256, 257, 512}) {
        ASSERT_EQ(sign(s.key, kAlgNone, kAlgSha1WithRsa, {message}, sig, capacity), kOk);
        EXPECT_EQ(sig.size(), 256u);
        EXPECT_TRUE(kc.verifySha1WithRsa(s.cert, message, sig));
    }
    close(s);
}

// Contexts that are not live, and arguments that are not there, never crash.
TEST_F(SigningTest, StrayContextsAndArguments) {
    Signer s = open(kc.addPair(kc.dir("kc"), "one"));
    const CssmKey* cssm = nullptr;
    ASSERT_EQ(sys().keyCssmKey(s.key, &cssm), kOk);
    ContextHandle ctx = 0;
    int local = 0;
    Bytes buffer(512);
    CssmData out{buffer.size(), buffer.data()};
    CssmData in{3, buffer.data()};
    EXPECT_EQ(sys().createSignatureContext(0, kAlgRsa, nullptr, cssm, &ctx), -50);
    EXPECT_EQ(sys().createSignatureContext(1, kAlgRsa, nullptr,
                                           reinterpret_cast<const CssmKey*>(s.identities[0]), &ctx),
              -50);
    EXPECT_EQ(sys().createSignatureContext(1, kAlgRsa, nullptr,
                                           reinterpret_cast<const CssmKey*>(&local), &ctx),
              -50);
    EXPECT_EQ(sys().createSignatureContext(1, kAlgRsa, nullptr, cssm, nullptr), -50);
    ASSERT_EQ(sys().createSignatureContext(1, kAlgSha1WithRsa, nullptr, cssm, &ctx), kOk);
    EXPECT_EQ(sys().signData(ctx, nullptr, 1, kAlgNone, &out), -50);
    EXPECT_EQ(sys().signData(ctx, &in, 1, kAlgNone, nullptr), -50);
    CssmData hole{5, nullptr};
    EXPECT_EQ(sys().signData(ctx, &hole, 1, kAlgNone, &out), -50);
    // The context's key stays usable after the caller drops its own reference.
    Ref key = s.key;
    s.key = nullptr;
    sys().release(key);
    EXPECT_EQ(lp::referenceCount(key), 1);
    EXPECT_EQ(sys().signData(ctx, &in, 1, kAlgNone, &out), kOk);
    EXPECT_EQ(out.length, 256u);
    EXPECT_EQ(sys().deleteContext(ctx), kOk);
    EXPECT_EQ(lp::referenceCount(key), 0);
    for (ContextHandle stray : {ctx, ContextHandle{0}, reinterpret_cast<ContextHandle>(&local),
                                reinterpret_cast<ContextHandle>(s.identities[0])}) {
        EXPECT_EQ(sys().deleteContext(stray), -50);
        out.length = buffer.size();
        EXPECT_EQ(sys().signData(stray, &in, 1, kAlgNone, &out), -50);
    }
    releaseAll(s.identities);
}

}  // namespace
}  // namespace tarnel::testing
