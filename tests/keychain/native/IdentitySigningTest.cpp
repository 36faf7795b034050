// KeyChainIdentity.Sign, Verify, getAttribute and getAlias with real keys:
// the identifiers the names map to as the platform receives them, every
// signature checked by openssl against the identity's certificate, the
// statuses only the forcing platform can produce, and the keychain PIN.
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "KeychainJvm.h"
#include "Keychains.h"
#include "tarnel.h"

namespace kcn {
namespace {

using tarnel::testing::Bytes;
using tarnel::testing::Identity;
using tarnel::testing::Keychains;

constexpr const char* kSignWhere = "zentrel.keychain.KeyChainIdentity.Sign";
constexpr int kUnimplemented = -4;  // what the platform answers for a pair it cannot sign with

Bytes toBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class IdentitySigningTest : public KeychainTest {
  protected:
    // The identities of a keychain holding `made`, in name order; the keychain is the default list.
    void listIdentities(const std::string& dir) {
        keychains.writeConfig({{"default", dir}});
        keyChain = newKeyChain(str(dir));
        list = getIdentityList(keyChain);
        expectNoException();
        ASSERT_NE(list, nullptr);
    }
    jobject identity(jsize i) { return env->GetObjectArrayElement(list, i); }

    void TearDown() override {
        if (list != nullptr) releaseAll(keyChain, list);
        KeychainTest::TearDown();
    }

    // Signs and returns the signature's bytes; fails the test on an exception.
    Bytes signOk(jobject id, const Bytes& data, const char* digest, const char* signature) {
        jbyteArray out =
            sign(id, byteArray(std::string(data.begin(), data.end())), str(digest), str(signature));
        expectNoException();
        if (out == nullptr) {
            ADD_FAILURE() << "no signature";
            return {};
        }
        std::string bytes = bytesOf(out);
        env->DeleteLocalRef(out);
        return toBytes(bytes);
    }

    Keychains keychains;
    jobject keyChain = nullptr;
    jobjectArray list = nullptr;
};

enum class Check { Sha1Digest, Sha1WithRsa, Raw, Fails };

struct AlgorithmRow {
    const char* digest;
    const char* signature;
    std::uint32_t digestId;
    std::uint32_t signatureId;
    Check check;
};

const AlgorithmRow kAlgorithmRows[] = {
    {"SHA", "RSA", 8, 42, Check::Sha1Digest},
    {"sha", "rsa", 8, 42, Check::Sha1Digest},
    {"Sha", "rSa", 8, 42, Check::Sha1Digest},
    {"", "sha1withrsa", 0, 51, Check::Sha1WithRsa},
    {"", "SHA1withRSA", 0, 51, Check::Sha1WithRsa},
    {"", "SHA1WITHRSA", 0, 51, Check::Sha1WithRsa},
    {"SHA256", "SHA1withRSA", 0, 51, Check::Sha1WithRsa},  // an unknown name is "none"
    {"", "RSA", 0, 42, Check::Raw},
    {"SHA-1", "RSA", 0, 42, Check::Raw},
    {"SHA", "SHA1withRSA", 8, 51, Check::Fails},
    {"", "SHA", 0, 8, Check::Fails},
    {"", "ECDSA", 0, 0, Check::Fails},
    {"RSA", "RSA", 42, 42, Check::Fails},
    {"", "", 0, 0, Check::Fails},
    {"", "SHA1withRSA\xc0\x80", 0, 0, Check::Fails},  // a NUL inside: not the name
    {"SHA\xc0\x80", "RSA", 0, 42, Check::Raw},
};

TEST_F(IdentitySigningTest, NamesMapToIdentifiersAndSignaturesVerify) {
    const std::string dir = keychains.dir("k");
    const Identity pair = keychains.addPair(dir, "a-pair", 2048, 0);
    const Identity p12 = keychains.addP12(dir, "b-p12", 2048, 1);
    listIdentities(dir);
    const Bytes message = toBytes("the document to be signed, as bytes");
    const Bytes digest = keychains.sha1(message);
    ASSERT_EQ(digest.size(), 20u);
    const Identity* made[] = {&pair, &p12};
    for (jsize i = 0; i < 2; ++i) {
        jobject id = identity(i);
        for (const AlgorithmRow& row : kAlgorithmRows) {
            SCOPED_TRACE(made[i]->name + " \"" + row.digest + "\" \"" + row.signature + "\"");
            const Bytes& data = row.check == Check::Sha1Digest ? digest : message;
            forcing.clearCalls();
            jbyteArray out = sign(id, byteArray(std::string(data.begin(), data.end())),
                                  str(row.digest), str(row.signature));
            auto contexts = forcing.callsOf("createSignatureContext");
            auto signs = forcing.callsOf("signData");
            ASSERT_EQ(contexts.size(), 1u);
            EXPECT_EQ(contexts[0].algorithm, row.signatureId);
            EXPECT_EQ(forcing.count("deleteContext"), 1u);
            ASSERT_EQ(signs.size(), 1u);
            EXPECT_EQ(signs[0].digest, row.digestId);
            EXPECT_EQ(signs[0].blockSizes, std::vector<std::size_t>{data.size()});
            EXPECT_EQ(signs[0].blockBytes, std::string(data.begin(), data.end()));
            EXPECT_GE(signs[0].signatureCapacity, 256u);
            auto credentials = forcing.callsOf("keyCredentials");
            ASSERT_EQ(credentials.size(), 1u);
            EXPECT_EQ(credentials[0].operation, tarnel::kAclAuthorizationSign);
            EXPECT_EQ(credentials[0].credentialType, tarnel::kCredentialTypeWithUi);
            EXPECT_EQ(contexts[0].credentials, credentials[0].credentials);
            if (row.check == Check::Fails) {
                EXPECT_EQ(out, nullptr);
                expectThrown(kSignWhere, kUnimplemented, "Sign Failed");
                EXPECT_EQ(signs[0].status, kUnimplemented);
                continue;
            }
            expectNoException();
            ASSERT_NE(out, nullptr);
            const std::string raw = bytesOf(out);
            const Bytes signature = toBytes(raw);
            EXPECT_EQ(signature.size(), 256u);
            const std::string& cert = made[i]->cert;
            switch (row.check) {
                case Check::Sha1Digest:
                    EXPECT_TRUE(keychains.verifySha1Digest(cert, digest, signature));
                    EXPECT_TRUE(keychains.verifySha1WithRsa(cert, message, signature));
                    break;
                case Check::Sha1WithRsa:
                    EXPECT_TRUE(keychains.verifySha1WithRsa(cert, message, signature));
                    break;
                case Check::Raw:
                    EXPECT_TRUE(keychains.verifyRaw(cert, message, signature));
                    EXPECT_FALSE(keychains.verifySha1WithRsa(cert, message, signature));
                    break;
                case Check::Fails:
                    break;
            }
            env->DeleteLocalRef(out);
        }
        env->DeleteLocalRef(id);
    }
}

TEST_F(IdentitySigningTest, SignaturesOfEveryKeySizeComeBackWhole) {
    const std::string dir = keychains.dir("k");
    const int sizes[] = {1024, 2048, 3072, 4096};
    std::vector<Identity> made;
    for (int bits : sizes)
        made.push_back(keychains.addPair(dir, "rsa" + std::to_string(bits), bits));
    listIdentities(dir);
    // Name order: rsa1024, rsa2048, rsa3072, rsa4096.
    const Bytes message = toBytes("a message for every key size");
    for (jsize i = 0; i < 4; ++i) {
        SCOPED_TRACE(sizes[i]);
        forcing.clearCalls();
        const Bytes signature = signOk(identity(i), message, "", "SHA1withRSA");
        EXPECT_EQ(signature.size(), static_cast<std::size_t>(sizes[i] / 8));
        EXPECT_TRUE(keychains.verifySha1WithRsa(made[static_cast<std::size_t>(i)].cert, message,
                                                signature));
        auto signs = forcing.callsOf("signData");
        ASSERT_EQ(signs.size(), 1u);
        EXPECT_EQ(signs[0].signatureCapacity,
                  std::max<std::size_t>(256, static_cast<std::size_t>(sizes[i] / 8)));
    }
}

// A forced signing answer: a status, or 0 with nothing signed.
constexpr tarnel::Status kEmpty = 0x7fff0000;

struct ForcedRow {
    std::vector<tarnel::Status> answers;
    std::size_t signCalls;
    bool signs;             // the real signature comes back
    tarnel::Status thrown;  // otherwise
};

const ForcedRow kForcedRows[] = {
    {{-1}, 2, true, 0},          {{-1, -1}, 2, false, -1},       {{-1, -25293}, 2, false, -25293},
    {{-1, kEmpty}, 2, false, 0}, {{-25293}, 1, false, -25293},   {{-2}, 1, false, -2},
    {{1}, 1, false, 1},          {{INT_MIN}, 1, false, INT_MIN}, {{kEmpty}, 1, false, 0},
};

TEST_F(IdentitySigningTest, ForcedStatusesRetryOnceAfterMinusOneAndThrowWhatTheyGet) {
    const std::string dir = keychains.dir("k");
    const Identity made = keychains.addPair(dir, "signer");
    listIdentities(dir);
    jobject id = identity(0);
    const Bytes message = toBytes("forced");
    for (const ForcedRow& row : kForcedRows) {
        SCOPED_TRACE(::testing::PrintToString(row.answers));
        forcing.clearCalls();
        forcing.clearForced();
        for (tarnel::Status answer : row.answers) {
            if (answer == kEmpty) {
                forcing.forceEmptySignature();
            } else {
                forcing.forceSignStatus(answer);
            }
        }
        jbyteArray out = sign(id, byteArray(std::string(message.begin(), message.end())), str(""),
                              str("SHA1withRSA"));
        EXPECT_EQ(forcing.count("signData"), row.signCalls);
        EXPECT_EQ(forcing.count("createSignatureContext"), 1u);
        EXPECT_EQ(forcing.count("deleteContext"), 1u);
        // Both tries sign the same block with the same identifiers.
        auto signs = forcing.callsOf("signData");
        for (const PlatformCall& call : signs) {
            EXPECT_EQ(call.blockBytes, "forced");
            EXPECT_EQ(call.digest, 0u);
        }
        if (row.signs) {
            expectNoException();
            ASSERT_NE(out, nullptr);
            EXPECT_TRUE(keychains.verifySha1WithRsa(made.cert, message, toBytes(bytesOf(out))));
        } else {
            EXPECT_EQ(out, nullptr);
            expectThrown(kSignWhere, row.thrown, "Sign Failed");
        }
    }
}

// A first try that answers -1 may have written its own length into the output block; the second
// try is handed the whole buffer again, whatever the key's size.
TEST_F(IdentitySigningTest, TheRetryAfterMinusOneGetsTheWholeBufferBack) {
    const std::string dir = keychains.dir("k");
    const Identity made[] = {keychains.addPair(dir, "a2048", 2048),
                             keychains.addPair(dir, "b4096", 4096)};
    const std::size_t capacities[] = {256, 512};
    listIdentities(dir);
    const Bytes message = toBytes("signed on the second try");
    for (jsize i = 0; i < 2; ++i) {
        const std::size_t capacity = capacities[i];
        jobject id = identity(i);
        for (std::size_t shrunk : {std::size_t{0}, std::size_t{1}, std::size_t{20},
                                   std::size_t{255}, std::size_t{256}, capacity - 1}) {
            if (shrunk >= capacity) continue;
            SCOPED_TRACE(made[i].name + ": length " + std::to_string(shrunk) + " after -1");
            forcing.clearCalls();
            forcing.forceSignAnswer(tarnel::kSignRetryStatus, shrunk);
            const Bytes signature = signOk(id, message, "", "SHA1withRSA");
            EXPECT_EQ(signature.size(), capacity);
            EXPECT_TRUE(keychains.verifySha1WithRsa(made[i].cert, message, signature));
            auto signs = forcing.callsOf("signData");
            ASSERT_EQ(signs.size(), 2u);
            EXPECT_EQ(signs[0].signatureCapacity, capacity);
            EXPECT_EQ(signs[0].signatureLength, shrunk);
            EXPECT_EQ(signs[1].signatureCapacity, signs[0].signatureCapacity);
            EXPECT_EQ(signs[1].status, tarnel::kOk);
        }
        env->DeleteLocalRef(id);
    }
}

// A signing call that claims more bytes than the buffer it was handed is not believed: nothing
// past the buffer is read, and Sign fails as for an empty signature.
TEST_F(IdentitySigningTest, ASignatureClaimedLongerThanItsBufferIsNeverReturned) {
    const std::string dir = keychains.dir("k");
    keychains.addPair(dir, "signer");
    listIdentities(dir);
    jobject id = identity(0);
    constexpr std::size_t kCapacity = 256;
    struct Row {
        bool retryFirst;
        std::size_t beyond;
    };
    const Row rows[] = {{false, 1}, {false, 256}, {false, 1u << 20}, {false, SIZE_MAX - kCapacity},
                        {true, 1},  {true, 4096}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.beyond) + (row.retryFirst ? " after -1" : ""));
        forcing.clearCalls();
        if (row.retryFirst) forcing.forceSignStatus(tarnel::kSignRetryStatus);
        forcing.forceOverlongSignature(row.beyond);
        EXPECT_EQ(sign(id, byteArray("overlong"), str(""), str("SHA1withRSA")), nullptr);
        expectThrown(kSignWhere, 0, "Sign Failed");
        auto signs = forcing.callsOf("signData");
        ASSERT_EQ(signs.size(), row.retryFirst ? 2u : 1u);
        EXPECT_EQ(signs.back().signatureCapacity, kCapacity);
        EXPECT_EQ(signs.back().signatureLength, kCapacity + row.beyond);
        EXPECT_EQ(forcing.count("deleteContext"), 1u);

        // The same through the PIN's way, read directly.
        forcing.clearForced();
        forcing.forceOverlongSignature(row.beyond);
        const tarnel::Ref ref =
            reinterpret_cast<tarnel::Ref>(static_cast<std::intptr_t>(handleOf(id)));
        const std::uint8_t input[20] = {};
        std::vector<std::uint8_t> out(kCapacity, 0);
        std::size_t outLength = out.size();
        EXPECT_EQ(tarnel::SignBuffer(ref, "4321", input, sizeof input, out.data(), &outLength,
                                     tarnel::kAlgNone, tarnel::kAlgSha1WithRsa),
                  tarnel::kOk);
        EXPECT_EQ(outLength, 0u);
    }
    // The next signing is a real one again.
    EXPECT_EQ(signOk(id, toBytes("after"), "", "SHA1withRSA").size(), kCapacity);
}

TEST_F(IdentitySigningTest, MissingArgumentsAndIdentitiesThrowWithoutSigning) {
    const std::string dir = keychains.dir("k");
    keychains.addPair(dir, "signer");
    listIdentities(dir);
    jobject id = identity(0);
    jobject noKeychain = newIdentity(0, nullptr);
    jobject released = newIdentity(0, keyChain);
    struct Row {
        const char* name;
        jobject identity;
        bool data;
        const char* digest;
        const char* signature;
        bool clearKeychain;
        int status;
        const char* message;
    };
    const Row rows[] = {
        {"null data", id, false, "", "RSA", false, -50, "Data is NULL"},
        {"null digest", id, true, nullptr, "RSA", false, -50, "Algorithm name is NULL"},
        {"null signature", id, true, "SHA", nullptr, false, -50, "Algorithm name is NULL"},
        {"both names null", id, true, nullptr, nullptr, false, -50, "Algorithm name is NULL"},
        {"no keychain", id, true, "", "RSA", true, -50, "Identity has no keychain"},
        {"no keychain, no identity", noKeychain, true, "", "RSA", false, -50,
         "Identity has no keychain"},
        {"identity 0", released, true, "", "SHA1withRSA", false, 0, "Sign Failed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        forcing.clearCalls();
        if (row.clearKeychain) setKeyChainOf(row.identity, nullptr);
        jbyteArray out = sign(row.identity, row.data ? byteArray("data") : nullptr,
                              row.digest != nullptr ? str(row.digest) : nullptr,
                              row.signature != nullptr ? str(row.signature) : nullptr);
        EXPECT_EQ(out, nullptr);
        expectThrown(kSignWhere, row.status, row.message);
        if (row.clearKeychain) setKeyChainOf(row.identity, keyChain);
        EXPECT_EQ(forcing.count("signData"), 0u);
        EXPECT_EQ(forcing.count("createSignatureContext"), 0u);
    }
    // The identity still signs afterwards, and once its last reference is gone it signs no more.
    EXPECT_EQ(signOk(id, toBytes("after"), "", "SHA1withRSA").size(), 256u);
    release(id);
    EXPECT_EQ(handleOf(id), 0);
    EXPECT_EQ(sign(id, byteArray("late"), str(""), str("SHA1withRSA")), nullptr);
    expectThrown(kSignWhere, 0, "Sign Failed");
}

TEST_F(IdentitySigningTest, AttributesAreTheCertificateAndThePrintNameAndNothingElse) {
    const std::string dir = keychains.dir("k");
    const Identity pair = keychains.addPair(dir, "a-pair", 2048, 0);
    const Identity p12 = keychains.addP12(dir, "b-p12", 2048, 1);
    listIdentities(dir);
    const Identity* made[] = {&pair, &p12};
    const jint others[] = {0, 2, 3, 6, 7, 255, 257, 512, -1, INT_MIN, INT_MAX};
    for (jsize i = 0; i < 2; ++i) {
        SCOPED_TRACE(made[i]->name);
        jobject id = identity(i);
        const Bytes der = keychains.certificateDer(made[i]->cert);
        jbyteArray certificate = getAttribute(id, 256);
        ASSERT_NE(certificate, nullptr);
        EXPECT_EQ(toBytes(bytesOf(certificate)), der);
        jbyteArray name = getAttribute(id, 1);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(bytesOf(name), made[i]->name);
        for (jint selector : others) {
            SCOPED_TRACE(selector);
            forcing.clearCalls();
            EXPECT_EQ(getAttribute(id, selector), nullptr);
            auto reads = forcing.callsOf("copyKeyAttributes");
            ASSERT_EQ(reads.size(), 1u);
            EXPECT_EQ(reads[0].tag, static_cast<std::uint32_t>(selector));
            EXPECT_EQ(reads[0].format, tarnel::kAttributeFormatBlob);
        }
        expectNoException();
        env->DeleteLocalRef(certificate);
        env->DeleteLocalRef(name);
    }
    // An object without an identity reads nothing from the platform.
    jobject none = newIdentity(0, keyChain);
    forcing.clearCalls();
    for (jint selector : {1, 256, 2}) EXPECT_EQ(getAttribute(none, selector), nullptr);
    EXPECT_EQ(getAlias(none), nullptr);
    EXPECT_EQ(forcing.count("copyPrivateKey") + forcing.count("copyCertificate"), 0u);
    expectNoException();
}

TEST_F(IdentitySigningTest, AliasesAreTheNamesExactlyWhateverTheirCharacters) {
    const std::string dir = keychains.dir("k");
    // Name (byte) order is the list's order.
    const std::vector<std::string> names = {
        "A plain name", "Zo\xc3\xab \xc3\x9cnal-\xe7\xad\xbe\xe5\x90\x8d", "na\xc3\xafve",
        "smile \xf0\x9f\x98\x80", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"};
    for (const std::string& name : names) keychains.addPair(dir, name);
    listIdentities(dir);
    ASSERT_EQ(env->GetArrayLength(list), static_cast<jsize>(names.size()));
    jclass stringClass = env->FindClass("java/lang/String");
    jmethodID fromBytes = env->GetMethodID(stringClass, "<init>", "([BLjava/lang/String;)V");
    jmethodID equals = env->GetMethodID(stringClass, "equals", "(Ljava/lang/Object;)Z");
    for (jsize i = 0; i < static_cast<jsize>(names.size()); ++i) {
        const std::string& name = names[static_cast<std::size_t>(i)];
        SCOPED_TRACE(name);
        jobject id = identity(i);
        jstring alias = getAlias(id);
        expectNoException();
        ASSERT_NE(alias, nullptr);
        // What Java makes of the UTF-8 bytes, compared as Java strings.
        jobject expected = env->NewObject(stringClass, fromBytes, byteArray(name), str("UTF-8"));
        ASSERT_FALSE(env->ExceptionCheck());
        const bool same = env->CallBooleanMethod(expected, equals, alias);
        ASSERT_FALSE(env->ExceptionCheck());
        EXPECT_TRUE(same) << text(alias);
        jbyteArray printName = getAttribute(id, 1);
        ASSERT_NE(printName, nullptr);
        EXPECT_EQ(bytesOf(printName), name);
        env->DeleteLocalRef(id);
        env->DeleteLocalRef(alias);
        env->DeleteLocalRef(expected);
        env->DeleteLocalRef(printName);
    }
    env->DeleteLocalRef(stringClass);
}

TEST_F(IdentitySigningTest, VerifyAlwaysThrowsMinusOne) {
    const std::string dir = keychains.dir("k");
    keychains.addPair(dir, "signer");
    listIdentities(dir);
    jobject id = identity(0);
    jobject none = newIdentity(0, nullptr);
    const std::pair<jobject, bool> rows[] = {{id, true}, {id, false}, {none, true}, {none, false}};
    for (const auto& [who, withArguments] : rows) {
        forcing.clearCalls();
        jbyteArray data = withArguments ? byteArray("data") : nullptr;
        jbyteArray signature = withArguments ? byteArray(std::string(256, 'x')) : nullptr;
        EXPECT_EQ(verify(who, data, signature), 0);
        expectThrown("KeyChainIdentity::Verify", -1, "Verify Not Implemented");
        EXPECT_TRUE(forcing.calls().empty());
    }
}

TEST_F(IdentitySigningTest, TheKeychainPinReachesNoSigningFromSign) {
    const std::string dir = keychains.dir("k");
    const Identity made = keychains.addPair(dir, "signer");
    listIdentities(dir);
    jobject id = identity(0);
    const Bytes message = toBytes("signed with a pin on the keychain");
    for (const char* pin :
         {"1234", "", "a much longer pin with spaces", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(pin != nullptr ? pin : "<null>");
        setPin(keyChain, pin);
        forcing.clearCalls();
        const Bytes signature = signOk(id, message, "", "SHA1withRSA");
        EXPECT_TRUE(keychains.verifySha1WithRsa(made.cert, message, signature));
        auto credentials = forcing.callsOf("keyCredentials");
        auto contexts = forcing.callsOf("createSignatureContext");
        ASSERT_EQ(credentials.size(), 1u);
        ASSERT_EQ(contexts.size(), 1u);
        EXPECT_EQ(credentials[0].credentialType, tarnel::kCredentialTypeWithUi);
        EXPECT_EQ(contexts[0].credentials, credentials[0].credentials);
        for (const PlatformCall& call : forcing.calls()) {
            EXPECT_FALSE(call.wordIds.size() > 0 && call.wordIds[0] == tarnel::kWordIdPassword)
                << call.op << " got a password credential";
            if (pin != nullptr && *pin != '\0') {
                EXPECT_EQ(call.password.find(pin), std::string::npos) << call.op;
            }
        }
    }
}

TEST_F(IdentitySigningTest, SignBufferWithAPinSignsWithAPasswordCredential) {
    const std::string dir = keychains.dir("k");
    const Identity made = keychains.addPair(dir, "signer", 3072);
    listIdentities(dir);
    jobject id = identity(0);
    const tarnel::Ref ref = reinterpret_cast<tarnel::Ref>(static_cast<std::intptr_t>(handleOf(id)));
    const std::string message = "signed with a password credential";
    const Bytes messageBytes = toBytes(message);
    const std::string longPin(300, 'p');
    for (const char* pin : {"4321", "", "pin with spaces \xc3\xbc", longPin.c_str()}) {
        SCOPED_TRACE(pin);
        forcing.clearCalls();
        std::vector<std::uint8_t> out(512, 0);
        std::size_t outLength = out.size();
        const tarnel::Status status = tarnel::SignBuffer(
            ref, pin, reinterpret_cast<const std::uint8_t*>(message.data()), message.size(),
            out.data(), &outLength, tarnel::kAlgNone, tarnel::kAlgSha1WithRsa);
        ASSERT_EQ(status, tarnel::kOk);
        ASSERT_EQ(outLength, 384u);
        out.resize(outLength);
        EXPECT_TRUE(keychains.verifySha1WithRsa(made.cert, messageBytes, out));
        EXPECT_EQ(forcing.count("keyCredentials"), 0u);
        auto contexts = forcing.callsOf("createSignatureContext");
        ASSERT_EQ(contexts.size(), 1u);
        const PlatformCall& context = contexts[0];
        EXPECT_NE(context.credentials, nullptr);
        EXPECT_TRUE(context.hasSample);
        EXPECT_EQ(context.wordIds.size(), 2u);
        ASSERT_GE(context.wordIds.size(), 1u);
        EXPECT_EQ(context.wordIds[0], tarnel::kWordIdPassword);
        EXPECT_EQ(context.elementTypes, (std::vector<std::uint32_t>{tarnel::kListElementWordId,
                                                                    tarnel::kListElementDatum}));
        EXPECT_EQ(context.password, std::string(pin, std::strlen(pin)));
        EXPECT_EQ(context.algorithm, tarnel::kAlgSha1WithRsa);
    }
    // Without an identity nothing is signed and nothing is asked of the platform.
    forcing.clearCalls();
    std::uint8_t out[256];
    std::size_t outLength = sizeof out;
    EXPECT_EQ(tarnel::SignBuffer(nullptr, "4321", out, 1, out, &outLength, 0, 51), tarnel::kOk);
    EXPECT_EQ(outLength, 0u);
    EXPECT_TRUE(forcing.calls().empty());
}

}  // namespace
}  // namespace kcn
