// The mechanism rows of the AES modes, RSA-PSS, ECDH, the encryption
// derivations, PBKDF2 and CCM: each row's record byte for byte, built
// directly and as the test module receives it (with what its pointer members
// point to), each failure message, the null parameter, unsigned identifiers
// and the freeing of what was built; and the attribute types that read as
// byte[] or Integer.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "MechanismFixture.h"
#include "UlongWidth.h"
#include "convert/AttributeTemplate.h"
#include "convert/Mechanism.h"

namespace kt {
namespace {

// The GCM record as the standard lays it out, declared apart from the
// bridge's so that the bridge's declaration is checked, not reused.
using GcmRecord = P11MockGcmParams;

template <typename T>
std::string bytesOfRecord(const T& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

std::string ulongBytes(CK_ULONG value) {
    return bytesOfRecord(value);
}

template <typename Record>
Record zeroed() {
    Record record;
    std::memset(&record, 0, sizeof record);
    return record;
}

// n bytes counting up from first.
std::string counting(std::size_t n, unsigned char first) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i);
    return s;
}

// A pointer member of an expected record: where it sits and what it must
// point to (nullopt: the member is null).
struct Pointed {
    std::size_t offset;
    std::optional<std::string> content;
};

// What a row must build: the record with its pointer members zeroed, and
// those members in member order.
struct Expected {
    std::string record;
    std::vector<Pointed> pointed;
};

template <typename Record>
Expected expectRecord(const Record& record, std::vector<Pointed> pointed = {}) {
    return {bytesOfRecord(record), std::move(pointed)};
}

std::optional<std::string> none() {
    return std::nullopt;
}

// The test module logs [type][length][record], then [length][bytes] for each
// non-null pointer member.
std::string moduleLogOf(CK_MECHANISM_TYPE type, const Expected& e) {
    std::string log = ulongBytes(type) + ulongBytes(e.record.size()) + e.record;
    for (const Pointed& p : e.pointed) {
        if (p.content) log += ulongBytes(p.content->size()) + *p.content;
    }
    return log;
}

// Zeroes the pointer members of a record image, after checking each is null
// exactly where expected; returns the addresses found.
std::vector<const void*> takePointers(std::string& image, std::size_t at, const Expected& e,
                                      const std::string& what) {
    std::vector<const void*> found;
    for (const Pointed& p : e.pointed) {
        if (at + p.offset + sizeof(void*) > image.size()) {
            ADD_FAILURE() << what << ": record too short for its pointer at " << p.offset;
            found.push_back(nullptr);
            continue;
        }
        const void* address = nullptr;
        std::memcpy(&address, image.data() + at + p.offset, sizeof address);
        if (p.content) {
            EXPECT_NE(address, nullptr) << what << ": member at offset " << p.offset;
        } else {
            EXPECT_EQ(address, nullptr) << what << ": member at offset " << p.offset;
        }
        std::memset(&image[at + p.offset], 0, sizeof address);
        found.push_back(address);
    }
    return found;
}

// A built record against the expected one: every byte but the addresses, and
// what each address points to.
void expectBuilt(const CK_MECHANISM& m, CK_MECHANISM_TYPE type, const Expected& e,
                 const std::string& what) {
    EXPECT_EQ(m.mechanism, type) << what;
    ASSERT_NE(m.pParameter, nullptr) << what;
    ASSERT_EQ(m.ulParameterLen, e.record.size()) << what;
    std::string image(static_cast<const char*>(m.pParameter), m.ulParameterLen);
    const std::vector<const void*> addresses = takePointers(image, 0, e, what);
    EXPECT_EQ(image, e.record) << what << ": the record apart from its addresses";
    for (std::size_t i = 0; i < e.pointed.size(); ++i) {
        const auto& content = e.pointed[i].content;
        if (!content || addresses[i] == nullptr) continue;
        EXPECT_EQ(std::string(static_cast<const char*>(addresses[i]), content->size()), *content)
            << what << ": what the member at offset " << e.pointed[i].offset << " points to";
    }
}

// How a row reaches the module: the method that takes its mechanism.
enum class Via { kEncrypt, kSign, kDerive, kGenerate };

const char* moduleFunction(Via via) {
    switch (via) {
        case Via::kEncrypt:
            return "C_EncryptInit";
        case Via::kSign:
            return "C_SignInit";
        case Via::kDerive:
            return "C_DeriveKey";
        case Via::kGenerate:
            return "C_GenerateKey";
    }
    return "";
}

struct GoodCase {
    std::string name;
    CK_MECHANISM_TYPE type;
    jobject parameter;
    Expected expected;
    Via via;
};

struct FailureCase {
    std::string name;
    CK_MECHANISM_TYPE type;
    jobject parameter;
    std::string message;
};

const std::string kIv16 = counting(16, 0x10);
const std::string kIv8 = counting(8, 0xE0);

// Every type this issue gives a row, with the class its parameter takes ("" for byte[]).
struct NewRow {
    CK_MECHANISM_TYPE type;
    const char* parameterClass;
};
const std::vector<NewRow> kNewRows = {{CKM_AES_CBC, ""},
                                      {CKM_AES_CBC_PAD, ""},
                                      {CKM_AES_CTR, "AESCTRParams"},
                                      {CKM_AES_GCM, "GCMParams"},
                                      {CKM_AES_KEY_WRAP_PAD, ""},
                                      {CKM_RSA_PKCS_PSS, "PSSParams"},
                                      {CKM_SHA1_RSA_PKCS_PSS, "PSSParams"},
                                      {CKM_SHA224_RSA_PKCS_PSS, "PSSParams"},
                                      {CKM_SHA256_RSA_PKCS_PSS, "PSSParams"},
                                      {CKM_SHA384_RSA_PKCS_PSS, "PSSParams"},
                                      {CKM_SHA512_RSA_PKCS_PSS, "PSSParams"},
                                      {CKM_ECDH1_DERIVE, "ECDH1DeriveParams"},
                                      {CKM_ECDH1_COFACTOR_DERIVE, "ECDH1DeriveParams"},
                                      {CKM_DES_ECB_ENCRYPT_DATA, ""},
                                      {CKM_DES3_ECB_ENCRYPT_DATA, ""},
                                      {CKM_AES_ECB_ENCRYPT_DATA, ""},
                                      {CKM_DES_CBC_ENCRYPT_DATA, "CBCEncryptDataParams"},
                                      {CKM_DES3_CBC_ENCRYPT_DATA, "CBCEncryptDataParams"},
                                      {CKM_AES_CBC_ENCRYPT_DATA, "CBCEncryptDataParams"},
                                      {CKM_PKCS5_PBKD2, "PBKDF2Params"},
                                      {CKM_AES_CCM, "CCMParams"}};

std::string hexType(CK_MECHANISM_TYPE type) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(type));
    return text;
}

class ModernMechanismTest : public MechanismFixture {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        // The tables hold many Java objects at once.
        ASSERT_EQ(env->PushLocalFrame(4096), JNI_OK);
        framed_ = true;
    }
    void TearDown() override {
        if (framed_) env->PopLocalFrame(nullptr);
        BridgeTest::TearDown();
    }

    jobject bytes(const std::string& s) { return javaBytes(s); }
    jobject aesCtr(jint counterBits, jobject counterBlock) {
        return construct("qorvik/params/AESCTRParams", "(I[B)V", counterBits, counterBlock);
    }
    jobject gcm(jobject iv, jobject aad, jint tagBits) {
        return construct("qorvik/params/GCMParams", "([B[BI)V", iv, aad, tagBits);
    }
    jobject ccm(jint dataLen, jobject nonce, jobject aad, jint macLen) {
        return construct("qorvik/params/CCMParams", "(I[B[BI)V", dataLen, nonce, aad, macLen);
    }
    jobject pss(jint hashAlg, jint mgf, jint sLen) {
        return construct("qorvik/params/PSSParams", "(III)V", hashAlg, mgf, sLen);
    }
    jobject ecdh(jint kdf, jobject sharedData, jobject publicData) {
        return construct("qorvik/params/ECDH1DeriveParams", "(I[B[B)V", kdf, sharedData,
                         publicData);
    }
    jobject cbcData(jobject iv, jobject data) {
        return construct("qorvik/params/CBCEncryptDataParams", "([B[B)V", iv, data);
    }
    jobject pbkdf2(jint saltSource, jobject saltData, jint iterations, jint prf, jobject prfData,
                   jobject password) {
        return construct("qorvik/params/PBKDF2Params", "(I[BII[B[C)V", saltSource, saltData,
                         iterations, prf, prfData, password);
    }
    // An object of the named parameter class built by its no-argument constructor.
    jobject emptyOf(const std::string& className) {
        return construct(("qorvik/params/" + className).c_str(), "()V");
    }


    // ---- The expected records ----------------------------------------------

    static Expected rawBytes(const std::string& bytes) { return {bytes, {}}; }

    static Expected ctrRecord(CK_ULONG counterBits, const std::string& block) {
        auto r = zeroed<CK_AES_CTR_PARAMS>();
        r.ulCounterBits = counterBits;
        std::memcpy(r.cb, block.data(), sizeof r.cb);
        return expectRecord(r);
    }
    static Expected gcmRecord(const std::string& iv, std::optional<std::string> aad,
                              CK_ULONG tagBits) {
        auto r = zeroed<GcmRecord>();
        r.ulIvLen = iv.size();
        r.ulIvBits = 8 * iv.size();
        r.ulAADLen = aad ? aad->size() : 0;
        r.ulTagBits = tagBits;
        return expectRecord(r, {{offsetof(GcmRecord, pIv), iv}, {offsetof(GcmRecord, pAAD), aad}});
    }
    static Expected ccmRecord(CK_ULONG dataLen, const std::string& nonce,
                              std::optional<std::string> aad, CK_ULONG macLen) {
        auto r = zeroed<CK_CCM_PARAMS>();
        r.ulDataLen = dataLen;
        r.ulNonceLen = nonce.size();
        r.ulAADLen = aad ? aad->size() : 0;
        r.ulMACLen = macLen;
        return expectRecord(
            r, {{offsetof(CK_CCM_PARAMS, pNonce), nonce}, {offsetof(CK_CCM_PARAMS, pAAD), aad}});
    }
    static Expected pssRecord(CK_ULONG hashAlg, CK_ULONG mgf, CK_ULONG sLen) {
        auto r = zeroed<CK_RSA_PKCS_PSS_PARAMS>();
        r.hashAlg = hashAlg;
        r.mgf = mgf;
        r.sLen = sLen;
        return expectRecord(r);
    }
    static Expected ecdhRecord(CK_ULONG kdf, std::optional<std::string> shared,
                               const std::string& point) {
        auto r = zeroed<CK_ECDH1_DERIVE_PARAMS>();
        r.kdf = kdf;
        r.ulSharedDataLen = shared ? shared->size() : 0;
        r.ulPublicDataLen = point.size();
        return expectRecord(r, {{offsetof(CK_ECDH1_DERIVE_PARAMS, pSharedData), shared},
                                {offsetof(CK_ECDH1_DERIVE_PARAMS, pPublicData), point}});
    }
    static Expected stringDataRecord(const std::string& data) {
        auto r = zeroed<CK_KEY_DERIVATION_STRING_DATA>();
        r.ulLen = data.size();
        return expectRecord(r, {{offsetof(CK_KEY_DERIVATION_STRING_DATA, pData), data}});
    }
    static Expected desCbcDataRecord(const std::string& iv, const std::string& data) {
        auto r = zeroed<CK_DES_CBC_ENCRYPT_DATA_PARAMS>();
        std::memcpy(r.iv, iv.data(), sizeof r.iv);
        r.length = data.size();
        return expectRecord(r, {{offsetof(CK_DES_CBC_ENCRYPT_DATA_PARAMS, pData), data}});
    }
    static Expected aesCbcDataRecord(const std::string& iv, const std::string& data) {
        auto r = zeroed<CK_AES_CBC_ENCRYPT_DATA_PARAMS>();
        std::memcpy(r.iv, iv.data(), sizeof r.iv);
        r.length = data.size();
        return expectRecord(r, {{offsetof(CK_AES_CBC_ENCRYPT_DATA_PARAMS, pData), data}});
    }
    static Expected pbkdf2Record(CK_ULONG saltSource, std::optional<std::string> salt,
                                 CK_ULONG iterations, CK_ULONG prf,
                                 std::optional<std::string> prfData,
                                 const std::string& passwordUtf8) {
        auto r = zeroed<CK_PKCS5_PBKD2_PARAMS>();
        r.saltSource = saltSource;
        r.ulSaltSourceDataLen = salt ? salt->size() : 0;
        r.iterations = iterations;
        r.prf = prf;
        r.ulPrfDataLen = prfData ? prfData->size() : 0;
        return expectRecord(
            r, {{offsetof(CK_PKCS5_PBKD2_PARAMS, pSaltSourceData), salt},
                {offsetof(CK_PKCS5_PBKD2_PARAMS, pPrfData), prfData},
                {offsetof(CK_PKCS5_PBKD2_PARAMS, pPassword), passwordUtf8},
                {offsetof(CK_PKCS5_PBKD2_PARAMS, ulPasswordLen), ulongBytes(passwordUtf8.size())}});
    }

    // One good parameter (or more) for every row, identifiers with bit 31 set
    // among them.
    std::vector<GoodCase> goodCases() {
        const std::string point = "\x04" + counting(64, 0x40);
        const std::string shared = "shared info";
        const std::string data32 = counting(32, 0x90);
        const std::string utf8Password = "p\xC3\xA4ss \xE2\x82\xAC \xF0\x9F\x98\x80";
        const std::u16string javaPassword = u"p\u00E4ss \u20AC \U0001F600";
        return {
            {"AES-CBC", CKM_AES_CBC, bytes(kIv16), rawBytes(kIv16), Via::kEncrypt},
            {"AES-CBC-PAD", CKM_AES_CBC_PAD, bytes(counting(16, 0xF0)),
             rawBytes(counting(16, 0xF0)), Via::kEncrypt},
            {"AES-CTR", CKM_AES_CTR, aesCtr(128, bytes(kIv16)), ctrRecord(128, kIv16),
             Via::kEncrypt},
            {"AES-CTR 0 bits", CKM_AES_CTR, aesCtr(0, bytes(kIv16)), ctrRecord(0, kIv16),
             Via::kEncrypt},
            {"AES-GCM", CKM_AES_GCM, gcm(bytes(counting(12, 1)), bytes("header"), 128),
             gcmRecord(counting(12, 1), std::string("header"), 128), Via::kEncrypt},
            {"AES-GCM without AAD", CKM_AES_GCM, gcm(bytes(counting(60, 3)), nullptr, 96),
             gcmRecord(counting(60, 3), none(), 96), Via::kEncrypt},
            {"AES-GCM empty IV and AAD", CKM_AES_GCM, gcm(bytes(""), bytes(""), 0),
             gcmRecord("", std::string(), 0), Via::kEncrypt},
            {"AES-KEY-WRAP-PAD 4-byte IV", CKM_AES_KEY_WRAP_PAD, bytes("\xA6\x59\x59\xA6"),
             rawBytes("\xA6\x59\x59\xA6"), Via::kEncrypt},
            {"AES-KEY-WRAP-PAD 8-byte IV", CKM_AES_KEY_WRAP_PAD, bytes(kIv8), rawBytes(kIv8),
             Via::kEncrypt},
            {"RSA-PSS", CKM_RSA_PKCS_PSS, pss(CKM_SHA256, CKG_MGF1_SHA256, 32),
             pssRecord(CKM_SHA256, CKG_MGF1_SHA256, 32), Via::kSign},
            {"SHA1-RSA-PSS", CKM_SHA1_RSA_PKCS_PSS, pss(CKM_SHA_1, CKG_MGF1_SHA1, 20),
             pssRecord(CKM_SHA_1, CKG_MGF1_SHA1, 20), Via::kSign},
            {"SHA224-RSA-PSS", CKM_SHA224_RSA_PKCS_PSS, pss(CKM_SHA224, CKG_MGF1_SHA224, 0),
             pssRecord(CKM_SHA224, CKG_MGF1_SHA224, 0), Via::kSign},
            {"SHA256-RSA-PSS", CKM_SHA256_RSA_PKCS_PSS, pss(CKM_SHA256, CKG_MGF1_SHA256, 32),
             pssRecord(CKM_SHA256, CKG_MGF1_SHA256, 32), Via::kSign},
            {"SHA384-RSA-PSS", CKM_SHA384_RSA_PKCS_PSS, pss(CKM_SHA384, CKG_MGF1_SHA384, 48),
             pssRecord(CKM_SHA384, CKG_MGF1_SHA384, 48), Via::kSign},
            {"SHA512-RSA-PSS", CKM_SHA512_RSA_PKCS_PSS, pss(CKM_SHA512, CKG_MGF1_SHA512, 64),
             pssRecord(CKM_SHA512, CKG_MGF1_SHA512, 64), Via::kSign},
            {"RSA-PSS vendor identifiers", CKM_RSA_PKCS_PSS,
             pss(static_cast<jint>(0x80000001u), -1, 0x7FFFFFFF),
             pssRecord(CK_ULONG(0x80000001u), CK_ULONG(0xFFFFFFFFu), 0x7FFFFFFF), Via::kSign},
            {"ECDH1", CKM_ECDH1_DERIVE, ecdh(CKD_NULL, nullptr, bytes(point)),
             ecdhRecord(CKD_NULL, none(), point), Via::kDerive},
            {"ECDH1 cofactor with shared data", CKM_ECDH1_COFACTOR_DERIVE,
             ecdh(CKD_SHA256_KDF, bytes(shared), bytes(point)),
             ecdhRecord(CKD_SHA256_KDF, shared, point), Via::kDerive},
            {"ECDH1 empty shared data, vendor KDF", CKM_ECDH1_DERIVE,
             ecdh(static_cast<jint>(0x80000000u), bytes(""), bytes("\x04\x01")),
             ecdhRecord(CK_ULONG(0x80000000u), std::string(), "\x04\x01"), Via::kDerive},
            {"DES-ECB-ENCRYPT-DATA", CKM_DES_ECB_ENCRYPT_DATA, bytes(kIv8), stringDataRecord(kIv8),
             Via::kDerive},
            {"DES3-ECB-ENCRYPT-DATA", CKM_DES3_ECB_ENCRYPT_DATA, bytes(counting(24, 7)),
             stringDataRecord(counting(24, 7)), Via::kDerive},
            {"AES-ECB-ENCRYPT-DATA", CKM_AES_ECB_ENCRYPT_DATA, bytes(data32),
             stringDataRecord(data32), Via::kDerive},
            {"AES-ECB-ENCRYPT-DATA empty", CKM_AES_ECB_ENCRYPT_DATA, bytes(""),
             stringDataRecord(""), Via::kDerive},
            {"DES-CBC-ENCRYPT-DATA", CKM_DES_CBC_ENCRYPT_DATA,
             cbcData(bytes(kIv8), bytes("8bytes!!")), desCbcDataRecord(kIv8, "8bytes!!"),
             Via::kDerive},
            {"DES3-CBC-ENCRYPT-DATA", CKM_DES3_CBC_ENCRYPT_DATA,
             cbcData(bytes(counting(8, 0x70)), bytes(counting(24, 0))),
             desCbcDataRecord(counting(8, 0x70), counting(24, 0)), Via::kDerive},
            {"AES-CBC-ENCRYPT-DATA", CKM_AES_CBC_ENCRYPT_DATA, cbcData(bytes(kIv16), bytes(data32)),
             aesCbcDataRecord(kIv16, data32), Via::kDerive},
            {"AES-CBC-ENCRYPT-DATA empty data", CKM_AES_CBC_ENCRYPT_DATA,
             cbcData(bytes(kIv16), bytes("")), aesCbcDataRecord(kIv16, ""), Via::kDerive},
            {"PBKDF2", CKM_PKCS5_PBKD2,
             pbkdf2(CKZ_SALT_SPECIFIED, bytes(std::string("salt\x00\xFF", 6)), 1000,
                    CKP_PKCS5_PBKD2_HMAC_SHA256, nullptr, javaChars(javaPassword)),
             pbkdf2Record(CKZ_SALT_SPECIFIED, std::string("salt\x00\xFF", 6), 1000,
                          CKP_PKCS5_PBKD2_HMAC_SHA256, none(), utf8Password),
             Via::kGenerate},
            {"PBKDF2 vendor identifiers, PRF data, no salt", CKM_PKCS5_PBKD2,
             pbkdf2(static_cast<jint>(0x80000002u), nullptr, 0x7FFFFFFF,
                    static_cast<jint>(0xFFFFFFFEu), bytes("prf data"), javaChars(u"pw")),
             pbkdf2Record(CK_ULONG(0x80000002u), none(), 0x7FFFFFFF, CK_ULONG(0xFFFFFFFEu),
                          std::string("prf data"), "pw"),
             Via::kGenerate},
            {"PBKDF2 empty password", CKM_PKCS5_PBKD2,
             pbkdf2(CKZ_SALT_SPECIFIED, bytes(""), 1, CKP_PKCS5_PBKD2_HMAC_SHA1, bytes(""),
                    javaChars(u"")),
             pbkdf2Record(CKZ_SALT_SPECIFIED, std::string(), 1, CKP_PKCS5_PBKD2_HMAC_SHA1,
                          std::string(), ""),
             Via::kGenerate},
            {"CCM", CKM_AES_CCM, ccm(64, bytes(counting(13, 0xC0)), bytes("aad"), 16),
             ccmRecord(64, counting(13, 0xC0), std::string("aad"), 16), Via::kEncrypt},
            {"CCM without AAD", CKM_AES_CCM, ccm(0, bytes(counting(7, 1)), nullptr, 4),
             ccmRecord(0, counting(7, 1), none(), 4), Via::kEncrypt},
            {"CCM empty AAD", CKM_AES_CCM, ccm(0x7FFFFFFF, bytes(counting(11, 2)), bytes(""), 8),
             ccmRecord(0x7FFFFFFF, counting(11, 2), std::string(), 8), Via::kEncrypt}};
    }

    std::vector<FailureCase> failureCases() {
        const std::string must =
            "Mechanism2CKMechanism - parameter must be instance of "
            "'qorvik/params/";
        const std::string iv16 = "Mechanism2CKMechanism - IV must be 16 bytes";
        const std::string iv8 = "Mechanism2CKMechanism - IV must be 8 bytes";
        const std::string block = "Mechanism2CKMechanism - counter block must be 16 bytes";
        auto range = [](const char* field) {
            return std::string("Mechanism2CKMechanism - ") + field + " out of range";
        };
        auto isNull = [](const char* field) {
            return std::string("Mechanism2CKMechanism - ") + field + " is NULL";
        };
        std::vector<FailureCase> cases;
        // IVs and counter blocks of every length but the one the row takes.
        for (CK_MECHANISM_TYPE type : {CKM_AES_CBC, CKM_AES_CBC_PAD}) {
            for (std::size_t n : {0, 8, 15, 17, 32}) {
                cases.push_back({"IV of " + std::to_string(n), type, bytes(counting(n, 1)), iv16});
            }
            cases.push_back({"Integer IV", type, javaInteger(16), iv16});
            cases.push_back({"GCMParams IV", type, gcm(bytes(kIv16), nullptr, 128), iv16});
        }
        for (std::size_t n : {0, 8, 15, 17}) {
            cases.push_back({"counter block of " + std::to_string(n), CKM_AES_CTR,
                             aesCtr(128, bytes(counting(n, 1))), block});
        }
        cases.push_back({"null counter block", CKM_AES_CTR, aesCtr(128, nullptr), block});
        cases.push_back({"negative counter bits", CKM_AES_CTR, aesCtr(-1, bytes(kIv16)),
                         range("m_counterBits")});
        cases.push_back(
            {"null GCM IV", CKM_AES_GCM, gcm(nullptr, bytes("aad"), 128), isNull("m_iv")});
        cases.push_back({"negative tag bits", CKM_AES_GCM, gcm(bytes(kIv16), bytes("aad"), -8),
                         range("m_tagBits")});
        cases.push_back({"KEY-WRAP-PAD Integer", CKM_AES_KEY_WRAP_PAD, javaInteger(4),
                         "Mechanism2CKMechanism - IV must be a byte array"});
        cases.push_back({"KEY-WRAP-PAD char[]", CKM_AES_KEY_WRAP_PAD, javaChars(u"ivivivio"),
                         "Mechanism2CKMechanism - IV must be a byte array"});
        for (CK_MECHANISM_TYPE type :
             {CKM_RSA_PKCS_PSS, CKM_SHA1_RSA_PKCS_PSS, CKM_SHA224_RSA_PKCS_PSS,
              CKM_SHA256_RSA_PKCS_PSS, CKM_SHA384_RSA_PKCS_PSS, CKM_SHA512_RSA_PKCS_PSS}) {
            cases.push_back({"negative salt length", type, pss(CKM_SHA256, CKG_MGF1_SHA256, -1),
                             range("m_sLen")});
        }
        for (CK_MECHANISM_TYPE type : {CKM_ECDH1_DERIVE, CKM_ECDH1_COFACTOR_DERIVE}) {
            cases.push_back({"null public data", type, ecdh(CKD_NULL, nullptr, nullptr),
                             isNull("m_publicData")});
            // Shared data copied first: freed on the way out.
            cases.push_back({"null public data after shared data", type,
                             ecdh(CKD_SHA1_KDF, bytes("shared"), nullptr), isNull("m_publicData")});
        }
        for (CK_MECHANISM_TYPE type :
             {CKM_DES_ECB_ENCRYPT_DATA, CKM_DES3_ECB_ENCRYPT_DATA, CKM_AES_ECB_ENCRYPT_DATA}) {
            for (jobject other : {javaInteger(1), static_cast<jobject>(javaChars(u"data")),
                                  cbcData(bytes(kIv8), bytes("data"))}) {
                cases.push_back({"data of another class", type, other,
                                 "Mechanism2CKMechanism - data must be a byte array"});
            }
        }
        for (CK_MECHANISM_TYPE type : {CKM_DES_CBC_ENCRYPT_DATA, CKM_DES3_CBC_ENCRYPT_DATA}) {
            for (std::size_t n : {0, 7, 9, 16}) {
                cases.push_back({"IV of " + std::to_string(n), type,
                                 cbcData(bytes(counting(n, 1)), bytes("data")), iv8});
            }
            cases.push_back({"null IV", type, cbcData(nullptr, bytes("data")), iv8});
            cases.push_back({"null data", type, cbcData(bytes(kIv8), nullptr), isNull("m_data")});
        }
        for (std::size_t n : {0, 8, 15, 17}) {
            cases.push_back({"IV of " + std::to_string(n), CKM_AES_CBC_ENCRYPT_DATA,
                             cbcData(bytes(counting(n, 1)), bytes("data")), iv16});
        }
        cases.push_back(
            {"null IV", CKM_AES_CBC_ENCRYPT_DATA, cbcData(nullptr, bytes("data")), iv16});
        cases.push_back({"null data", CKM_AES_CBC_ENCRYPT_DATA, cbcData(bytes(kIv16), nullptr),
                         isNull("m_data")});
        cases.push_back({"null password", CKM_PKCS5_PBKD2,
                         pbkdf2(CKZ_SALT_SPECIFIED, bytes("salt"), 1, 1, bytes("prf"), nullptr),
                         isNull("m_password")});
        // Salt and PRF data are copied before the password fails: freed on the way out.
        for (const std::u16string& lone :
             {std::u16string(u"ab") + char16_t(0xD800), std::u16string(1, char16_t(0xDC00)) + u"x",
              std::u16string(u"x") + char16_t(0xDBFF) + u"y"}) {
            cases.push_back(
                {"lone surrogate", CKM_PKCS5_PBKD2,
                 pbkdf2(CKZ_SALT_SPECIFIED, bytes("salt"), 1, 1, bytes("prf"), javaChars(lone)),
                 "Mechanism2CKMechanism - password character out of range"});
        }
        cases.push_back({"negative iterations", CKM_PKCS5_PBKD2,
                         pbkdf2(CKZ_SALT_SPECIFIED, bytes("salt"), -1, 1, nullptr, javaChars(u"pw")),
                         range("m_iterations")});
        cases.push_back(
            {"null nonce", CKM_AES_CCM, ccm(16, nullptr, bytes("aad"), 16), isNull("m_nonce")});
        cases.push_back({"negative data length", CKM_AES_CCM,
                         ccm(-1, bytes(counting(13, 0)), bytes("aad"), 16), range("m_dataLen")});
        cases.push_back({"negative MAC length", CKM_AES_CCM,
                         ccm(16, bytes(counting(13, 0)), bytes("aad"), INT32_MIN),
                         range("m_macLen")});

        // Every class row refuses objects of the other new classes, a byte[]
        // and an older class sharing field names.
        const std::vector<std::pair<std::string, jobject>> foreign = {
            {"AESCTRParams", aesCtr(128, bytes(kIv16))},
            {"GCMParams", gcm(bytes(kIv16), nullptr, 128)},
            {"CCMParams", ccm(1, bytes(kIv8), nullptr, 8)},
            {"PSSParams", pss(1, 1, 1)},
            {"ECDH1DeriveParams", ecdh(1, nullptr, bytes("p"))},
            {"CBCEncryptDataParams", cbcData(bytes(kIv16), bytes("d"))},
            {"PBKDF2Params", pbkdf2(1, nullptr, 1, 1, nullptr, javaChars(u"p"))},
            {"byte[]", bytes(kIv16)},
            {"PBEParams", construct("qorvik/params/PBEParams", "([C[C[CI)V", nullptr, javaChars(u"pw"),
                                    javaChars(u"salt"), 1)}};
        for (const NewRow& row : kNewRows) {
            if (row.parameterClass[0] == '\0') continue;
            for (const auto& [name, object] : foreign) {
                if (name == row.parameterClass) continue;
                cases.push_back({"a " + name, row.type, object, must + row.parameterClass + "'"});
            }
        }
        return cases;
    }

  private:
    bool framed_ = false;
};

// ---- Conversion ----------------------------------------------------------------

TEST_F(ModernMechanismTest, EveryRowBuildsItsRecordByteForByte) {
    const std::vector<GoodCase> cases = goodCases();
    for (const NewRow& row : kNewRows) {
        bool covered = false;
        for (const GoodCase& c : cases) covered = covered || c.type == row.type;
        EXPECT_TRUE(covered) << "no good case for type " << hexType(row.type);
    }
    for (const GoodCase& c : cases) {
        MechanismRecord record(env, mechanism(c.type, c.parameter));
        expectNoException();
        expectBuilt(*record.get(), c.type, c.expected, c.name);
    }
    std::printf("[ modern rows ] %zu good parameters over %zu types\n", cases.size(),
                kNewRows.size());
}

TEST_F(ModernMechanismTest, EveryRowFailsWithItsMessageAndLeavesNothingBuilt) {
    const std::vector<FailureCase> cases = failureCases();
    for (const FailureCase& c : cases) {
        EXPECT_EQ(failureOf(mechanism(c.type, c.parameter)), c.message)
            << c.name << ", type " << hexType(c.type);
    }
    std::printf("[ modern rows ] %zu refused parameters\n", cases.size());
}

TEST_F(ModernMechanismTest, FailureInsideTheOwnerPropagatesAndFreesWhatWasCopied) {
    try {
        MechanismRecord record(
            env, mechanism(CKM_PKCS5_PBKD2, pbkdf2(1, bytes("salt"), 1, 1, bytes("prf"),
                                                   javaChars(std::u16string(1, char16_t(0xD801))))));
        ADD_FAILURE() << "expected a failure";
    } catch (const MessageFailure& f) {
        EXPECT_STREQ(f.message, "Mechanism2CKMechanism - password character out of range");
    }
    EXPECT_FALSE(env->ExceptionCheck());
}

TEST_F(ModernMechanismTest, NullParameterGivesNoRecordAndNoFailure) {
    std::vector<CK_MECHANISM_TYPE> types;
    for (const NewRow& row : kNewRows) types.push_back(row.type);
    for (CK_MECHANISM_TYPE type : types) {
        EXPECT_EQ(failureOf(mechanism(type, nullptr)), "<converted>") << hexType(type);
        MechanismRecord record(env, mechanism(type, nullptr));
        EXPECT_EQ(record.get()->mechanism, type);
        EXPECT_EQ(record.get()->pParameter, nullptr) << hexType(type);
        EXPECT_EQ(record.get()->ulParameterLen, 0u) << hexType(type);
    }
    // An empty wrapping IV is the same as none.
    MechanismRecord emptyIv(env, mechanism(CKM_AES_KEY_WRAP_PAD, bytes("")));
    EXPECT_EQ(emptyIv.get()->pParameter, nullptr);
    EXPECT_EQ(emptyIv.get()->ulParameterLen, 0u);
    expectNoException();
}

TEST_F(ModernMechanismTest, EdDsaTypesTakeNoParameterWhateverItHolds) {
    const std::vector<jobject> parameters = {nullptr,
                                             bytes(kIv16),
                                             javaInteger(1),
                                             gcm(bytes(kIv16), nullptr, 128),
                                             pss(CKM_SHA256, CKG_MGF1_SHA256, 32),
                                             ecdh(CKD_NULL, nullptr, nullptr)};
    for (CK_MECHANISM_TYPE type : {CKM_EC_EDWARDS_KEY_PAIR_GEN, CKM_EDDSA}) {
        for (jobject parameter : parameters) {
            MechanismRecord record(env, mechanism(type, parameter));
            EXPECT_EQ(record.get()->mechanism, type);
            EXPECT_EQ(record.get()->pParameter, nullptr) << hexType(type);
            EXPECT_EQ(record.get()->ulParameterLen, 0u) << hexType(type);
        }
    }
    expectNoException();
}

TEST_F(ModernMechanismTest, ObjectsWithoutTheirFieldValuesReadAsJavaDefaults) {
    // No-argument constructors: ints 0, arrays null. Rows whose arrays are
    // optional convert; the others name the first array they need.
    const std::vector<std::pair<CK_MECHANISM_TYPE, std::string>> cases = {
        {CKM_AES_CTR, "Mechanism2CKMechanism - counter block must be 16 bytes"},
        {CKM_AES_GCM, "Mechanism2CKMechanism - m_iv is NULL"},
        {CKM_RSA_PKCS_PSS, "<converted>"},
        {CKM_ECDH1_DERIVE, "Mechanism2CKMechanism - m_publicData is NULL"},
        {CKM_AES_CBC_ENCRYPT_DATA, "Mechanism2CKMechanism - IV must be 16 bytes"},
        {CKM_DES_CBC_ENCRYPT_DATA, "Mechanism2CKMechanism - IV must be 8 bytes"},
        {CKM_PKCS5_PBKD2, "Mechanism2CKMechanism - m_password is NULL"},
        {CKM_AES_CCM, "Mechanism2CKMechanism - m_nonce is NULL"}};
    for (const auto& [type, message] : cases) {
        std::string className;
        for (const NewRow& row : kNewRows) {
            if (row.type == type) className = row.parameterClass;
        }
        EXPECT_EQ(failureOf(mechanism(type, emptyOf(className))), message) << className;
    }
}

// ---- Freeing ----------------------------------------------------------------------

template <typename T>
T* blockOf(std::size_t size) {
    void* p = std::calloc(1, size);
    if (p == nullptr) std::abort();
    return static_cast<T*>(p);
}

template <typename Record>
void freeHandBuilt(CK_MECHANISM_TYPE type, Record* record) {
    CK_MECHANISM m{type, record, sizeof(Record)};
    EXPECT_EQ(FreeMechanism(&m), 0) << hexType(type);
}

// Records built by hand with every member a block of its own (some null): the
// sanitizer build reports any member left behind or freed twice.
TEST_F(ModernMechanismTest, FreeMechanismReleasesEveryMemberOfTheNewRecords) {
    for (bool withAad : {true, false}) {
        auto* g = blockOf<GcmRecord>(sizeof(GcmRecord));
        g->pIv = blockOf<CK_BYTE>(12);
        g->ulIvLen = 12;
        g->ulIvBits = 96;
        g->pAAD = withAad ? blockOf<CK_BYTE>(5) : nullptr;
        g->ulAADLen = withAad ? 5 : 0;
        freeHandBuilt(CKM_AES_GCM, g);

        auto* c = blockOf<CK_CCM_PARAMS>(sizeof(CK_CCM_PARAMS));
        c->pNonce = blockOf<CK_BYTE>(13);
        c->ulNonceLen = 13;
        c->pAAD = withAad ? blockOf<CK_BYTE>(5) : nullptr;
        c->ulAADLen = withAad ? 5 : 0;
        freeHandBuilt(CKM_AES_CCM, c);

        for (CK_MECHANISM_TYPE type : {CKM_ECDH1_DERIVE, CKM_ECDH1_COFACTOR_DERIVE}) {
            auto* e = blockOf<CK_ECDH1_DERIVE_PARAMS>(sizeof(CK_ECDH1_DERIVE_PARAMS));
            e->pSharedData = withAad ? blockOf<CK_BYTE>(4) : nullptr;
            e->ulSharedDataLen = withAad ? 4 : 0;
            e->pPublicData = blockOf<CK_BYTE>(65);
            e->ulPublicDataLen = 65;
            freeHandBuilt(type, e);
        }
    }
    for (CK_MECHANISM_TYPE type :
         {CKM_DES_ECB_ENCRYPT_DATA, CKM_DES3_ECB_ENCRYPT_DATA, CKM_AES_ECB_ENCRYPT_DATA}) {
        auto* d = blockOf<CK_KEY_DERIVATION_STRING_DATA>(sizeof(CK_KEY_DERIVATION_STRING_DATA));
        d->pData = blockOf<CK_BYTE>(16);
        d->ulLen = 16;
        freeHandBuilt(type, d);
    }
    for (CK_MECHANISM_TYPE type : {CKM_DES_CBC_ENCRYPT_DATA, CKM_DES3_CBC_ENCRYPT_DATA}) {
        auto* d = blockOf<CK_DES_CBC_ENCRYPT_DATA_PARAMS>(sizeof(CK_DES_CBC_ENCRYPT_DATA_PARAMS));
        d->pData = blockOf<CK_BYTE>(16);
        d->length = 16;
        freeHandBuilt(type, d);
    }
    auto* a = blockOf<CK_AES_CBC_ENCRYPT_DATA_PARAMS>(sizeof(CK_AES_CBC_ENCRYPT_DATA_PARAMS));
    a->pData = blockOf<CK_BYTE>(32);
    a->length = 32;
    freeHandBuilt(CKM_AES_CBC_ENCRYPT_DATA, a);

    // Records that own nothing else.
    freeHandBuilt(CKM_AES_CTR, blockOf<CK_AES_CTR_PARAMS>(sizeof(CK_AES_CTR_PARAMS)));
    for (CK_MECHANISM_TYPE type :
         {CKM_RSA_PKCS_PSS, CKM_SHA1_RSA_PKCS_PSS, CKM_SHA224_RSA_PKCS_PSS, CKM_SHA256_RSA_PKCS_PSS,
          CKM_SHA384_RSA_PKCS_PSS, CKM_SHA512_RSA_PKCS_PSS}) {
        freeHandBuilt(type, blockOf<CK_RSA_PKCS_PSS_PARAMS>(sizeof(CK_RSA_PKCS_PSS_PARAMS)));
    }
    for (CK_MECHANISM_TYPE type : {CKM_AES_CBC, CKM_AES_CBC_PAD}) {
        CK_MECHANISM m{type, blockOf<CK_BYTE>(16), 16};
        EXPECT_EQ(FreeMechanism(&m), 0);
    }
    CK_MECHANISM wrapPad{CKM_AES_KEY_WRAP_PAD, blockOf<CK_BYTE>(4), 4};
    EXPECT_EQ(FreeMechanism(&wrapPad), 0);
}

// The PBKDF2 record as the standard lays it out: ulPasswordLen points to one
// CK_ULONG, and freeing reads no further than that to wipe the password.
TEST_F(ModernMechanismTest, FreeMechanismReleasesAPbkdf2RecordWithOneCkUlongOfLength) {
    for (bool withSalt : {true, false}) {
        auto* p = blockOf<CK_PKCS5_PBKD2_PARAMS>(sizeof(CK_PKCS5_PBKD2_PARAMS));
        p->pSaltSourceData = withSalt ? blockOf<CK_BYTE>(8) : nullptr;
        p->ulSaltSourceDataLen = withSalt ? 8 : 0;
        p->pPrfData = withSalt ? nullptr : blockOf<CK_BYTE>(3);
        p->ulPrfDataLen = withSalt ? 0 : 3;
        p->pPassword = blockOf<CK_UTF8CHAR>(6);
        p->ulPasswordLen = blockOf<CK_ULONG>(sizeof(CK_ULONG));
        *p->ulPasswordLen = 6;
        freeHandBuilt(CKM_PKCS5_PBKD2, p);
    }
}

TEST_F(ModernMechanismTest, ConvertedRecordsAreFreedWholeRepeatedly) {
    // Under the sanitizer build a member left behind by any row is reported;
    // repeating the rows makes a small leak per conversion a large one.
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(env->PushLocalFrame(512), JNI_OK);
        for (const GoodCase& c : goodCases()) {
            CK_MECHANISM m{0, nullptr, 0};
            Mechanism2CKMechanism(env, mechanism(c.type, c.parameter), &m);
            ASSERT_NE(m.pParameter, nullptr) << c.name;
            EXPECT_EQ(FreeMechanism(&m), 0);
        }
        env->PopLocalFrame(nullptr);
    }
}

// ---- What the module receives ----------------------------------------------------

class ModernMechanismThroughModuleTest : public ModernMechanismTest {
  protected:
    void SetUp() override {
        ModernMechanismTest::SetUp();
        loadAndInitialize(plainMock());
        std::string value = "key";
        CK_ATTRIBUTE keyTemplate[] = {{CKA_VALUE, value.data(), value.size()}};
        key = plainMock().p11mock_add_object(keyTemplate, 1);
    }
    jobject openSession() {
        jobject jSession =
            Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, newSlot(1), CKF_SERIAL_SESSION);
        EXPECT_NE(jSession, nullptr);
        return jSession;
    }
    // Starts the operation the row takes in a session of its own; the
    // mechanism buffer the module received, or "<not called>".
    std::string handToModule(jobject jMechanism, Via via) {
        jobject jSession = openSession();
        if (jSession == nullptr) return "<no session>";
        const CK_SESSION_HANDLE session = Session2CKSession(env, jSession);
        plainMock().p11mock_log_clear();
        // Whether the method succeeded is left to the caller (what is pending).
        switch (via) {
            case Via::kEncrypt:
                J_EncryptInit(env, session, jMechanism, static_cast<jlong>(key));
                break;
            case Via::kSign:
                J_SignInit(env, session, jMechanism, static_cast<jlong>(key));
                break;
            case Via::kDerive:
                Java_qorvik_nat_NativeSession_J_1DeriveKey(
                    env, jSession, jMechanism, static_cast<jlong>(key),
                    attributeArray({{CKA_LABEL, str("derived")}}));
                break;
            case Via::kGenerate:
                Java_qorvik_nat_NativeSession_J_1GenerateKey(
                    env, jSession, jMechanism, attributeArray({{CKA_LABEL, str("generated")}}));
                break;
        }
        const char* fn = moduleFunction(via);
        if (plainMock().p11mock_log_count(fn) == 0) return "<not called>";
        return plainMock().lastBuffer(fn, 0);
    }

    CK_OBJECT_HANDLE key = 0;
};

TEST_F(ModernMechanismThroughModuleTest, EveryRowReachesTheModuleByteForByte) {
    const std::size_t head = 2 * sizeof(CK_ULONG);
    const std::vector<GoodCase> cases = goodCases();
    for (const GoodCase& c : cases) {
        std::string received = handToModule(mechanism(c.type, c.parameter), c.via);
        expectNoException();
        // Addresses are this run's: each is checked null or not, then zeroed;
        // what it points to follows the record in the log.
        const std::string expected = moduleLogOf(c.type, c.expected);
        ASSERT_EQ(received.size(), expected.size()) << c.name;
        takePointers(received, head, c.expected, c.name);
        EXPECT_EQ(received, expected) << c.name << " through " << moduleFunction(c.via);
    }
}

TEST_F(ModernMechanismThroughModuleTest, Pbkdf2AndCcmRecordsAsTheModuleLogsThem) {
    // Spelled out member by member, independent of the tables above.
    const std::string salt = "NaCl salt";
    const std::string password = "pass\xC3\xA9";
    std::string received =
        handToModule(mechanism(CKM_PKCS5_PBKD2,
                               pbkdf2(CKZ_SALT_SPECIFIED, bytes(salt), 4096,
                                      CKP_PKCS5_PBKD2_HMAC_SHA512, nullptr, javaChars(u"pass\u00E9"))),
                     Via::kGenerate);
    expectNoException();
    const std::size_t head = 2 * sizeof(CK_ULONG);
    ASSERT_GE(received.size(), head + sizeof(CK_PKCS5_PBKD2_PARAMS));
    EXPECT_EQ(received.substr(0, head),
              ulongBytes(CKM_PKCS5_PBKD2) + ulongBytes(sizeof(CK_PKCS5_PBKD2_PARAMS)));
    CK_PKCS5_PBKD2_PARAMS p;
    std::memcpy(&p, received.data() + head, sizeof p);
    EXPECT_EQ(p.saltSource, CKZ_SALT_SPECIFIED);
    EXPECT_NE(p.pSaltSourceData, nullptr);
    EXPECT_EQ(p.ulSaltSourceDataLen, salt.size());
    EXPECT_EQ(p.iterations, 4096u);
    EXPECT_EQ(p.prf, CKP_PKCS5_PBKD2_HMAC_SHA512);
    EXPECT_EQ(p.pPrfData, nullptr);
    EXPECT_EQ(p.ulPrfDataLen, 0u);
    EXPECT_NE(p.pPassword, nullptr);
    EXPECT_NE(p.ulPasswordLen, nullptr);
    EXPECT_EQ(received.substr(head + sizeof p),
              ulongBytes(salt.size()) + salt + ulongBytes(password.size()) + password +
                  ulongBytes(sizeof(CK_ULONG)) + ulongBytes(password.size()));

    const std::string nonce = counting(12, 0xA0);
    const std::string aad = "associated";
    received = handToModule(mechanism(CKM_AES_CCM, ccm(1000, bytes(nonce), bytes(aad), 12)),
                            Via::kEncrypt);
    expectNoException();
    ASSERT_GE(received.size(), head + sizeof(CK_CCM_PARAMS));
    EXPECT_EQ(received.substr(0, head),
              ulongBytes(CKM_AES_CCM) + ulongBytes(sizeof(CK_CCM_PARAMS)));
    CK_CCM_PARAMS c;
    std::memcpy(&c, received.data() + head, sizeof c);
    EXPECT_EQ(c.ulDataLen, 1000u);
    EXPECT_NE(c.pNonce, nullptr);
    EXPECT_EQ(c.ulNonceLen, nonce.size());
    EXPECT_NE(c.pAAD, nullptr);
    EXPECT_EQ(c.ulAADLen, aad.size());
    EXPECT_EQ(c.ulMACLen, 12u);
    EXPECT_EQ(received.substr(head + sizeof c),
              ulongBytes(nonce.size()) + nonce + ulongBytes(aad.size()) + aad);
}

TEST_F(ModernMechanismThroughModuleTest, NullParameterReachesTheModuleWithoutOne) {
    for (const NewRow& row : kNewRows) {
        std::string received = handToModule(mechanism(row.type, nullptr), Via::kEncrypt);
        expectNoException();
        EXPECT_EQ(received, ulongBytes(row.type) + ulongBytes(0)) << hexType(row.type);
    }
    for (CK_MECHANISM_TYPE type : {CKM_EDDSA, CKM_EC_EDWARDS_KEY_PAIR_GEN}) {
        std::string received = handToModule(mechanism(type, bytes(kIv16)), Via::kSign);
        expectNoException();
        EXPECT_EQ(received, ulongBytes(type) + ulongBytes(0)) << hexType(type);
    }
}

TEST_F(ModernMechanismThroughModuleTest, ConversionFailureStopsBeforeTheModule) {
    const std::vector<std::pair<Via, FailureCase>> cases = {
        {Via::kEncrypt,
         {"", CKM_AES_GCM, gcm(nullptr, nullptr, 128), "Mechanism2CKMechanism - m_iv is NULL"}},
        {Via::kEncrypt,
         {"", CKM_AES_CCM, ccm(1, bytes(kIv8), bytes("a"), -1),
          "Mechanism2CKMechanism - m_macLen out of range"}},
        {Via::kSign,
         {"", CKM_SHA256_RSA_PKCS_PSS, gcm(bytes(kIv8), nullptr, 1),
          "Mechanism2CKMechanism - parameter must be instance of 'qorvik/params/PSSParams'"}},
        {Via::kDerive,
         {"", CKM_ECDH1_DERIVE, ecdh(1, bytes("s"), nullptr),
          "Mechanism2CKMechanism - m_publicData is NULL"}},
        {Via::kGenerate,
         {"", CKM_PKCS5_PBKD2,
          pbkdf2(1, bytes("salt"), 1, 1, nullptr, javaChars(std::u16string(1, char16_t(0xDFFF)))),
          "Mechanism2CKMechanism - password character out of range"}}};
    const std::vector<std::string> methods = {"J_EncryptInit", "J_SignInit", "J_DeriveKey",
                                              "J_GenerateKey"};
    for (const auto& [via, c] : cases) {
        EXPECT_EQ(handToModule(mechanism(c.type, c.parameter), via), "<not called>")
            << hexType(c.type);
        expectFailure(methods[static_cast<std::size_t>(via)], CKR_GENERAL_ERROR, c.message);
    }
}

// ---- Attribute types read as byte[] or Integer ------------------------------------

class ModernAttributesTest : public BridgeTest {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(plainMock());
        session = Java_qorvik_nat_NativeSlot_J_1OpenSession__IBLjava_lang_String_2(
            env, newSlot(1), CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_USER, str("1234"));
        expectNoException();
        ASSERT_NE(session, nullptr);
    }
    jobject readOne(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
        return Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(
            env, session, static_cast<jlong>(object), static_cast<jint>(type));
    }
    // The length the bridge primed the last read's entry with.
    CK_ULONG lastPrimedLength() {
        const std::string entry = plainMock().lastBuffer("C_GetAttributeValue", 0);
        CK_ULONG primed = 0;
        if (entry.size() >= 2 * sizeof(CK_ULONG)) {
            std::memcpy(&primed, entry.data() + sizeof(CK_ULONG), sizeof primed);
        } else {
            ADD_FAILURE() << "no template logged";
        }
        return primed;
    }

    jobject session = nullptr;
};

// The P-256 curve's OID and a point, a DER name, a short URL...
const std::vector<std::pair<CK_ATTRIBUTE_TYPE, std::string>> kByteTypes = {
    {CKA_EC_PARAMS, std::string("\x06\x08\x2A\x86\x48\xCE\x3D\x03\x01\x07", 10)},
    {CKA_EC_POINT, "\x04\x41\x04" + counting(64, 0x11)},
    {CKA_ISSUER, std::string("\x30\x0B\x31\x09\x30\x07\x06\x03\x55\x04\x03\x0C\x00", 13)},
    {CKA_OBJECT_ID, std::string("\x06\x03\x2A\x03\x04", 5)},
    {CKA_CHECK_VALUE, std::string("\x00\xA1\xB2", 3)},
    {CKA_PUBLIC_KEY_INFO, "\x30\x59" + counting(89, 0x00)},
    {CKA_URL, "https://example.test/cert"}};

const std::vector<std::pair<CK_ATTRIBUTE_TYPE, CK_ULONG>> kIntegerTypes = {
    {CKA_PRIME_BITS, 2048},
    {CKA_VALUE_BITS, 160},
    {CKA_SUB_PRIME_BITS, 256},
    {CKA_KEY_GEN_MECHANISM, CKM_EC_KEY_PAIR_GEN}};

TEST_F(ModernAttributesTest, NewTypesAreReadWithTheirGroupsClass) {
    std::vector<CK_ATTRIBUTE> tmpl;
    std::vector<CK_ULONG> numbers;
    numbers.reserve(kIntegerTypes.size());
    for (const auto& [type, value] : kByteTypes) {
        tmpl.push_back({type, const_cast<char*>(value.data()), value.size()});
    }
    for (const auto& [type, value] : kIntegerTypes) {
        numbers.push_back(value);
        tmpl.push_back({type, &numbers.back(), sizeof(CK_ULONG)});
    }
    const std::string vendorValue = "vendor";
    tmpl.push_back(
        {CKA_VENDOR_DEFINED | 5, const_cast<char*>(vendorValue.data()), vendorValue.size()});
    const CK_OBJECT_HANDLE object = plainMock().p11mock_add_object(tmpl.data(), tmpl.size());

    jclass integerClass = env->FindClass("java/lang/Integer");
    for (const auto& [type, value] : kByteTypes) {
        jobject attribute = readOne(object, type);
        expectNoException();
        ASSERT_NE(attribute, nullptr) << hexType(type);
        EXPECT_EQ(attributeType(attribute), static_cast<jint>(type));
        jobject v = attributeValue(attribute);
        ASSERT_NE(v, nullptr) << hexType(type);
        EXPECT_EQ(bytesOf(static_cast<jbyteArray>(v)), value) << hexType(type);
        EXPECT_EQ(lastPrimedLength(), kAttributeReadBufferSize) << hexType(type);
    }
    for (const auto& [type, value] : kIntegerTypes) {
        jobject attribute = readOne(object, type);
        expectNoException();
        ASSERT_NE(attribute, nullptr) << hexType(type);
        jobject v = attributeValue(attribute);
        ASSERT_NE(v, nullptr) << hexType(type);
        EXPECT_TRUE(env->IsInstanceOf(v, integerClass)) << hexType(type);
        EXPECT_EQ(callInt(v, "intValue"), static_cast<jint>(value)) << hexType(type);
        EXPECT_EQ(lastPrimedLength(), sizeof(CK_ULONG)) << hexType(type);
    }
    jobject vendor = readOne(object, CKA_VENDOR_DEFINED | 5);
    expectNoException();
    ASSERT_NE(vendor, nullptr);
    EXPECT_EQ(attributeValue(vendor), nullptr) << "vendor-defined types still give null";

    // The same types in one list read.
    std::vector<jint> types;
    for (const auto& [type, value] : kByteTypes) types.push_back(static_cast<jint>(type));
    for (const auto& [type, value] : kIntegerTypes) types.push_back(static_cast<jint>(type));
    jintArray jTypes = env->NewIntArray(static_cast<jsize>(types.size()));
    env->SetIntArrayRegion(jTypes, 0, static_cast<jsize>(types.size()), types.data());
    jobjectArray many = Java_qorvik_nat_NativeSession_J_1GetAttributeValue__J_3I(
        env, session, static_cast<jlong>(object), jTypes);
    expectNoException();
    ASSERT_NE(many, nullptr);
    ASSERT_EQ(env->GetArrayLength(many), static_cast<jsize>(types.size()));
    for (std::size_t i = 0; i < kByteTypes.size(); ++i) {
        jobject v = attributeValue(env->GetObjectArrayElement(many, static_cast<jsize>(i)));
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(bytesOf(static_cast<jbyteArray>(v)), kByteTypes[i].second);
    }
    for (std::size_t i = 0; i < kIntegerTypes.size(); ++i) {
        jobject v = attributeValue(
            env->GetObjectArrayElement(many, static_cast<jsize>(kByteTypes.size() + i)));
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(callInt(v, "intValue"), static_cast<jint>(kIntegerTypes[i].second));
    }
}

TEST_F(ModernAttributesTest, IntegerTypesArePrimedWithTheWidthOfCkUlong) {
    for (const auto& [type, value] : kIntegerTypes) {
        CK_ATTRIBUTE a{type, nullptr, 0};
        resetAttributeLen(&a);
        EXPECT_EQ(a.ulValueLen, sizeof(CK_ULONG)) << hexType(type);
    }
    for (const auto& [type, value] : kByteTypes) {
        CK_ATTRIBUTE a{type, nullptr, 0};
        resetAttributeLen(&a);
        EXPECT_EQ(a.ulValueLen, kAttributeReadBufferSize) << hexType(type);
    }
}

TEST_F(ModernAttributesTest, IntegerValuesKeepTheirLow32Bits) {
    // A vendor key-generation mechanism arrives as the int of its 32 bits; on
    // a 64-bit build, bits above 32 are dropped.
    CK_ULONG vendorMechanism = CK_ULONG(0x80000001u);
    CK_ULONG wide = ulong_width::held(0x1'0000'0400ull);
    CK_ATTRIBUTE tmpl[] = {{CKA_KEY_GEN_MECHANISM, &vendorMechanism, sizeof(CK_ULONG)},
                           {CKA_PRIME_BITS, &wide, sizeof(CK_ULONG)}};
    const CK_OBJECT_HANDLE object = plainMock().p11mock_add_object(tmpl, 2);
    jobject mechanism = readOne(object, CKA_KEY_GEN_MECHANISM);
    expectNoException();
    ASSERT_NE(mechanism, nullptr);
    EXPECT_EQ(callInt(attributeValue(mechanism), "intValue"), static_cast<jint>(0x80000001u));
    jobject bits = readOne(object, CKA_PRIME_BITS);
    expectNoException();
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(callInt(attributeValue(bits), "intValue"), 0x400);
}

TEST_F(ModernAttributesTest, ConvertedDirectly) {
    std::string bytesValue = "\x04\x01\x02";
    for (const auto& [type, value] : kByteTypes) {
        CK_ATTRIBUTE a{type, bytesValue.data(), bytesValue.size()};
        jobject v = CkAttribute2Pkcs11Attribute(env, a);
        ASSERT_NE(v, nullptr) << hexType(type);
        EXPECT_EQ(bytesOf(static_cast<jbyteArray>(v)), bytesValue);
        // An empty value is an empty array, as for the other byte[] types.
        CK_ATTRIBUTE empty{type, bytesValue.data(), 0};
        jobject e = CkAttribute2Pkcs11Attribute(env, empty);
        ASSERT_NE(e, nullptr) << hexType(type);
        EXPECT_EQ(bytesOf(static_cast<jbyteArray>(e)), "");
    }
    for (const auto& [type, value] : kIntegerTypes) {
        CK_ULONG number = value;
        CK_ATTRIBUTE a{type, &number, sizeof number};
        jobject v = CkAttribute2Pkcs11Attribute(env, a);
        ASSERT_NE(v, nullptr) << hexType(type);
        EXPECT_EQ(callInt(v, "intValue"), static_cast<jint>(value));
        CK_ATTRIBUTE empty{type, nullptr, 0};
        EXPECT_EQ(CkAttribute2Pkcs11Attribute(env, empty), nullptr) << hexType(type);
    }
    for (CK_ATTRIBUTE_TYPE vendor :
         {CKA_VENDOR_DEFINED, CKA_VENDOR_DEFINED | 5, CK_ATTRIBUTE_TYPE(0xFFFFFFFFu)}) {
        CK_ATTRIBUTE a{vendor, bytesValue.data(), bytesValue.size()};
        EXPECT_EQ(CkAttribute2Pkcs11Attribute(env, a), nullptr) << hexType(vendor);
    }
    expectNoException();
}

}  // namespace
}  // namespace kt
