#include "MechanismFuzz.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "AttributeFuzz.h"
#include "convert/Mechanism.h"
#include "convert/Records.h"

namespace fuzz {

namespace {

// Every mechanism type that takes a parameter; new rows of the bridge join this
// table (a type left out is caught converting to a record the harness does not expect).
const Row kRows[] = {
    {CKM_RSA_PKCS_OAEP, "qorvik/params/OAEPParams"},
    {CKM_RC2_ECB, "qorvik/params/RC2Params"},
    {CKM_RC2_MAC, "qorvik/params/RC2Params"},
    {CKM_RC2_CBC, "qorvik/params/RC2CBCParams"},
    {CKM_RC2_CBC_PAD, "qorvik/params/RC2CBCParams"},
    {CKM_RC2_MAC_GENERAL, "qorvik/params/RC2MACGENERALParams"},
    {CKM_DES_CBC, "[B", Form::kLegacyIv},
    {CKM_DES_CBC_PAD, "[B", Form::kLegacyIv},
    {CKM_DES3_CBC, "[B", Form::kLegacyIv},
    {CKM_DES3_CBC_PAD, "[B", Form::kLegacyIv},
    {CKM_CDMF_CBC, "[B", Form::kLegacyIv},
    {CKM_CDMF_CBC_PAD, "[B", Form::kLegacyIv},
    {CKM_CAST_CBC, "[B", Form::kLegacyIv},
    {CKM_CAST_CBC_PAD, "[B", Form::kLegacyIv},
    {CKM_CAST3_CBC, "[B", Form::kLegacyIv},
    {CKM_CAST3_CBC_PAD, "[B", Form::kLegacyIv},
    {CKM_CAST5_CBC, "[B", Form::kLegacyIv},
    {CKM_CAST5_CBC_PAD, "[B", Form::kLegacyIv},
    {CKM_IDEA_CBC, "[B", Form::kLegacyIv},
    {CKM_IDEA_CBC_PAD, "[B", Form::kLegacyIv},
    {CKM_DES_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_DES3_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_CDMF_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_MD2_HMAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_MD5_HMAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_SHA_1_HMAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_RIPEMD128_HMAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_RIPEMD160_HMAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_CAST_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_CAST3_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_CAST5_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_IDEA_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_SSL3_MD5_MAC, "qorvik/params/MACGENERALParams"},
    {CKM_SSL3_SHA1_MAC, "qorvik/params/MACGENERALParams"},
    {CKM_RC5_ECB, "qorvik/params/RC5Params"},
    {CKM_RC5_MAC, "qorvik/params/RC5Params"},
    {CKM_RC5_CBC, "qorvik/params/RC5CBCParams"},
    {CKM_RC5_CBC_PAD, "qorvik/params/RC5CBCParams"},
    {CKM_RC5_MAC_GENERAL, "qorvik/params/RC5MACGENERALParams"},
    {CKM_CONCATENATE_BASE_AND_DATA, "qorvik/params/KEYDERIVATIONSTRINGDATA"},
    {CKM_CONCATENATE_DATA_AND_BASE, "qorvik/params/KEYDERIVATIONSTRINGDATA"},
    {CKM_XOR_BASE_AND_DATA, "qorvik/params/KEYDERIVATIONSTRINGDATA"},
    {CKM_EXTRACT_KEY_FROM_KEY, "qorvik/params/EXTRACTParams"},
    {CKM_SSL3_MASTER_KEY_DERIVE, "qorvik/params/SSL3MASTERKEYDERIVEParams"},
    {CKM_SSL3_KEY_AND_MAC_DERIVE, "qorvik/params/SSL3KEYMATParams"},
    {CKM_KEY_WRAP_SET_OAEP, "qorvik/params/KEYWRAPSETOAEPParams"},
    {CKM_SKIPJACK_PRIVATE_WRAP, "qorvik/params/SKIPJACKPRIVATEWRAPParams"},
    {CKM_SKIPJACK_RELAYX, "qorvik/params/SKIPJACKRELAYXParams"},
    {CKM_KEA_KEY_DERIVE, "qorvik/params/KeaDeriveParams"},
    {CKM_PBE_MD2_DES_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_MD5_DES_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_MD5_CAST_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_MD5_CAST3_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_MD5_CAST5_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_CAST5_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_RC4_128, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_RC4_40, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_DES3_EDE_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_DES2_EDE_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_RC2_128_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_RC2_40_CBC, "qorvik/params/PBEParams"},
};
constexpr std::size_t kRowCount = sizeof kRows / sizeof kRows[0];

// The AES modes, RSA-PSS, ECDH, the encryption-data derivations, PBKDF2 and
// CCM: a null parameter gives no record. Kept apart so that the inputs kept
// for the rows above still pick the same rows.
const Row kModernRows[] = {
    {CKM_AES_CBC, "[B", Form::kIv16, true},
    {CKM_AES_CBC_PAD, "[B", Form::kIv16, true},
    {CKM_AES_CTR, "qorvik/params/AESCTRParams", Form::kObject, true},
    {CKM_AES_GCM, "qorvik/params/GCMParams", Form::kObject, true},
    {CKM_AES_CCM, "qorvik/params/CCMParams", Form::kObject, true},
    {CKM_AES_KEY_WRAP_PAD, "[B", Form::kOptionalIv, true},
    {CKM_RSA_PKCS_PSS, "qorvik/params/PSSParams", Form::kObject, true},
    {CKM_SHA1_RSA_PKCS_PSS, "qorvik/params/PSSParams", Form::kObject, true},
    {CKM_SHA224_RSA_PKCS_PSS, "qorvik/params/PSSParams", Form::kObject, true},
    {CKM_SHA256_RSA_PKCS_PSS, "qorvik/params/PSSParams", Form::kObject, true},
    {CKM_SHA384_RSA_PKCS_PSS, "qorvik/params/PSSParams", Form::kObject, true},
    {CKM_SHA512_RSA_PKCS_PSS, "qorvik/params/PSSParams", Form::kObject, true},
    {CKM_ECDH1_DERIVE, "qorvik/params/ECDH1DeriveParams", Form::kObject, true},
    {CKM_ECDH1_COFACTOR_DERIVE, "qorvik/params/ECDH1DeriveParams", Form::kObject, true},
    {CKM_DES_ECB_ENCRYPT_DATA, "[B", Form::kData, true},
    {CKM_DES3_ECB_ENCRYPT_DATA, "[B", Form::kData, true},
    {CKM_AES_ECB_ENCRYPT_DATA, "[B", Form::kData, true},
    {CKM_DES_CBC_ENCRYPT_DATA, "qorvik/params/CBCEncryptDataParams", Form::kObject, true, 8},
    {CKM_DES3_CBC_ENCRYPT_DATA, "qorvik/params/CBCEncryptDataParams", Form::kObject, true, 8},
    {CKM_AES_CBC_ENCRYPT_DATA, "qorvik/params/CBCEncryptDataParams", Form::kObject, true, 16},
    {CKM_PKCS5_PBKD2, "qorvik/params/PBKDF2Params", Form::kObject, true},
};
constexpr std::size_t kModernRowCount = sizeof kModernRows / sizeof kModernRows[0];

// Types without a parameter: the parameter object is never looked at.
const CK_MECHANISM_TYPE kPlainTypes[] = {CKM_RSA_PKCS,
                                         CKM_SHA_1,
                                         CKM_SHA256_RSA_PKCS,
                                         CKM_DES3_KEY_GEN,
                                         CKM_VENDOR_DEFINED + 1,
                                         0xFFFFFFFFu,
                                         CKM_AES_ECB,
                                         CKM_AES_KEY_GEN,
                                         CKM_EDDSA,
                                         CKM_EC_EDWARDS_KEY_PAIR_GEN,
                                         CKM_AES_KEY_WRAP};

const Row* rowOf(CK_MECHANISM_TYPE type) {
    for (const Row& row : kRows) {
        if (row.type == type) return &row;
    }
    for (const Row& row : kModernRows) {
        if (row.type == type) return &row;
    }
    return nullptr;
}

// ---- What a Java parameter holds ------------------------------------------------

jint intFieldOf(jobject object, const char* name) {
    jclass cls = env->GetObjectClass(object);
    jint value = env->GetIntField(object, env->GetFieldID(cls, name, "I"));
    env->DeleteLocalRef(cls);
    return value;
}

jobject objectFieldOf(jobject object, const char* name, const char* signature) {
    jclass cls = env->GetObjectClass(object);
    jobject value = env->GetObjectField(object, env->GetFieldID(cls, name, signature));
    env->DeleteLocalRef(cls);
    FUZZ_CHECK(!env->ExceptionCheck());
    return value;
}

// The bytes of a byte[] field (or of the parameter itself: field nullptr);
// nothing for a null one.
std::optional<std::vector<uint8_t>> bytesOf(jobject object, const char* field) {
    jbyteArray array = static_cast<jbyteArray>(field != nullptr ? objectFieldOf(object, field, "[B")
                                                                : env->NewLocalRef(object));
    if (array == nullptr) return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(env->GetArrayLength(array)));
    if (!bytes.empty()) {
        env->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                                reinterpret_cast<jbyte*>(bytes.data()));
    }
    env->DeleteLocalRef(array);
    return bytes;
}

std::optional<std::vector<jchar>> charsOf(jobject object, const char* field) {
    jcharArray array = static_cast<jcharArray>(objectFieldOf(object, field, "[C"));
    if (array == nullptr) return std::nullopt;
    std::vector<jchar> units(static_cast<std::size_t>(env->GetArrayLength(array)));
    if (!units.empty()) {
        env->GetCharArrayRegion(array, 0, static_cast<jsize>(units.size()), units.data());
    }
    env->DeleteLocalRef(array);
    return units;
}

bool hasLoneSurrogate(const std::vector<jchar>& units) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        const jchar u = units[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            ++i;
        } else if (u >= 0xD800 && u < 0xE000) {
            return true;
        }
    }
    return false;
}

bool sized(const std::optional<std::vector<uint8_t>>& bytes, std::size_t length) {
    return bytes && bytes->size() == length;
}

// The failures a parameter of the right class of one of the newer rows must
// end in: empty when it converts; with several faults, any one of theirs.
std::vector<std::string> modernFailures(const Row& row, jobject p) {
    const std::string cls = row.parameterClass;
    std::vector<std::string> out;
    auto outOfRange = [&](const char* field) {
        if (intFieldOf(p, field) < 0) {
            out.push_back(std::string("Mechanism2CKMechanism - ") + field + " out of range");
        }
    };
    if (cls == "qorvik/params/AESCTRParams") {
        outOfRange("m_counterBits");
        if (!sized(bytesOf(p, "m_counterBlock"), 16)) {
            out.push_back("Mechanism2CKMechanism - counter block must be 16 bytes");
        }
    } else if (cls == "qorvik/params/GCMParams") {
        if (!bytesOf(p, "m_iv")) out.push_back("Mechanism2CKMechanism - m_iv is NULL");
        outOfRange("m_tagBits");
    } else if (cls == "qorvik/params/CCMParams") {
        outOfRange("m_dataLen");
        if (!bytesOf(p, "m_nonce")) out.push_back("Mechanism2CKMechanism - m_nonce is NULL");
        outOfRange("m_macLen");
    } else if (cls == "qorvik/params/PSSParams") {
        outOfRange("m_sLen");
    } else if (cls == "qorvik/params/ECDH1DeriveParams") {
        if (!bytesOf(p, "m_publicData")) {
            out.push_back("Mechanism2CKMechanism - m_publicData is NULL");
        }
    } else if (cls == "qorvik/params/CBCEncryptDataParams") {
        if (!sized(bytesOf(p, "m_iv"), row.ivLength)) {
            out.push_back("Mechanism2CKMechanism - IV must be " + std::to_string(row.ivLength) +
                          " bytes");
        }
        if (!bytesOf(p, "m_data")) out.push_back("Mechanism2CKMechanism - m_data is NULL");
    } else if (cls == "qorvik/params/PBKDF2Params") {
        outOfRange("m_iterations");
        const auto password = charsOf(p, "m_password");
        if (!password) {
            out.push_back("Mechanism2CKMechanism - m_password is NULL");
        } else if (hasLoneSurrogate(*password)) {
            out.push_back("Mechanism2CKMechanism - password character out of range");
        }
    }
    return out;
}

template <typename Record>
Record& recordOf(const CK_MECHANISM& m) {
    FUZZ_CHECK(m.pParameter != nullptr);
    FUZZ_CHECK(m.ulParameterLen == sizeof(Record));
    return *static_cast<Record*>(m.pParameter);
}

void readsRandom(const CK_SSL3_RANDOM_DATA& random) {
    moduleReads(random.pClientRandom, random.ulClientRandomLen);
    moduleReads(random.pServerRandom, random.ulServerRandomLen);
}

// A buffer of the record holds what the Java array held, at the length the
// record states: a null array gives a null pointer and length 0, an empty one
// a pointer of its own and length 0. The module reads it all.
void holds(const void* p, CK_ULONG length, const std::optional<std::vector<uint8_t>>& java) {
    if (!java) {
        FUZZ_CHECK(p == nullptr && length == 0);
        return;
    }
    FUZZ_CHECK(p != nullptr);
    FUZZ_CHECK(length == java->size());
    moduleReads(p, length);
    FUZZ_CHECK(java->empty() || std::memcmp(p, java->data(), java->size()) == 0);
}

// The byte-array rows: the IVs and the key derivation strings.
void byteArrayUse(const MechanismInput& input, const CK_MECHANISM& m) {
    const std::optional<std::vector<uint8_t>> java = bytesOf(input.parameter, nullptr);
    FUZZ_CHECK(java.has_value());
    switch (input.row->form) {
        case Form::kIv16:
            FUZZ_CHECK(java->size() == 16);
            holds(m.pParameter, m.ulParameterLen, java);
            break;
        case Form::kOptionalIv:
            if (java->empty()) {
                FUZZ_CHECK(m.pParameter == nullptr && m.ulParameterLen == 0);
            } else {
                holds(m.pParameter, m.ulParameterLen, java);
            }
            break;
        case Form::kData: {
            auto& r = recordOf<CK_KEY_DERIVATION_STRING_DATA>(m);
            holds(r.pData, r.ulLen, java);
            break;
        }
        case Form::kLegacyIv:
            FUZZ_CHECK(m.ulParameterLen == 8);
            moduleReads(m.pParameter, m.ulParameterLen);
            FUZZ_CHECK(std::memcmp(m.pParameter, java->data(), 8) == 0);
            break;
        case Form::kObject:
            FUZZ_CHECK(!"an object row taken for a byte array");
    }
}

CK_ULONG sizeField(jobject p, const char* name) {
    const jint value = intFieldOf(p, name);
    FUZZ_CHECK(value >= 0);
    return static_cast<CK_ULONG>(value);
}

// The object rows of the newer mechanisms; false for any other class.
bool modernObjectUse(const MechanismInput& input, const CK_MECHANISM& m) {
    const std::string cls = input.row->parameterClass;
    jobject p = input.parameter;
    if (cls == "qorvik/params/AESCTRParams") {
        auto& r = recordOf<CK_AES_CTR_PARAMS>(m);
        FUZZ_CHECK(r.ulCounterBits == sizeField(p, "m_counterBits"));
        const auto block = bytesOf(p, "m_counterBlock");
        FUZZ_CHECK(sized(block, sizeof r.cb));
        FUZZ_CHECK(std::memcmp(r.cb, block->data(), sizeof r.cb) == 0);
    } else if (cls == "qorvik/params/GCMParams") {
        auto& r = recordOf<Pkcs11GcmParams>(m);
        const auto iv = bytesOf(p, "m_iv");
        FUZZ_CHECK(iv.has_value());
        holds(r.pIv, r.ulIvLen, iv);
        FUZZ_CHECK(r.ulIvBits == r.ulIvLen * 8);
        holds(r.pAAD, r.ulAADLen, bytesOf(p, "m_aad"));
        FUZZ_CHECK(r.ulTagBits == sizeField(p, "m_tagBits"));
    } else if (cls == "qorvik/params/CCMParams") {
        auto& r = recordOf<CK_CCM_PARAMS>(m);
        FUZZ_CHECK(r.ulDataLen == sizeField(p, "m_dataLen"));
        const auto nonce = bytesOf(p, "m_nonce");
        FUZZ_CHECK(nonce.has_value());
        holds(r.pNonce, r.ulNonceLen, nonce);
        holds(r.pAAD, r.ulAADLen, bytesOf(p, "m_aad"));
        FUZZ_CHECK(r.ulMACLen == sizeField(p, "m_macLen"));
    } else if (cls == "qorvik/params/PSSParams") {
        auto& r = recordOf<CK_RSA_PKCS_PSS_PARAMS>(m);
        FUZZ_CHECK(r.hashAlg == widened(intFieldOf(p, "m_hashAlg")));
        FUZZ_CHECK(r.mgf == widened(intFieldOf(p, "m_mgf")));
        FUZZ_CHECK(r.sLen == sizeField(p, "m_sLen"));
    } else if (cls == "qorvik/params/ECDH1DeriveParams") {
        auto& r = recordOf<CK_ECDH1_DERIVE_PARAMS>(m);
        FUZZ_CHECK(r.kdf == widened(intFieldOf(p, "m_kdf")));
        holds(r.pSharedData, r.ulSharedDataLen, bytesOf(p, "m_sharedData"));
        const auto publicData = bytesOf(p, "m_publicData");
        FUZZ_CHECK(publicData.has_value());
        holds(r.pPublicData, r.ulPublicDataLen, publicData);
    } else if (cls == "qorvik/params/CBCEncryptDataParams") {
        const auto iv = bytesOf(p, "m_iv");
        const auto data = bytesOf(p, "m_data");
        FUZZ_CHECK(sized(iv, input.row->ivLength) && data.has_value());
        if (input.row->ivLength == 16) {
            auto& r = recordOf<CK_AES_CBC_ENCRYPT_DATA_PARAMS>(m);
            FUZZ_CHECK(std::memcmp(r.iv, iv->data(), sizeof r.iv) == 0);
            holds(r.pData, r.length, data);
        } else {
            auto& r = recordOf<CK_DES_CBC_ENCRYPT_DATA_PARAMS>(m);
            FUZZ_CHECK(std::memcmp(r.iv, iv->data(), sizeof r.iv) == 0);
            holds(r.pData, r.length, data);
        }
    } else if (cls == "qorvik/params/PBKDF2Params") {
        auto& r = recordOf<CK_PKCS5_PBKD2_PARAMS>(m);
        FUZZ_CHECK(r.saltSource == widened(intFieldOf(p, "m_saltSource")));
        holds(r.pSaltSourceData, r.ulSaltSourceDataLen, bytesOf(p, "m_saltSourceData"));
        FUZZ_CHECK(r.iterations == sizeField(p, "m_iterations"));
        FUZZ_CHECK(r.prf == widened(intFieldOf(p, "m_prf")));
        holds(r.pPrfData, r.ulPrfDataLen, bytesOf(p, "m_prfData"));
        // The password goes as UTF-8, its length behind a pointer of its own.
        const auto password = charsOf(p, "m_password");
        FUZZ_CHECK(password.has_value() && !hasLoneSurrogate(*password));
        const std::vector<uint8_t> utf8 = standardUtf8(*password);
        FUZZ_CHECK(r.ulPasswordLen != nullptr);
        moduleReads(r.ulPasswordLen, sizeof(CK_ULONG));
        holds(r.pPassword, *r.ulPasswordLen, utf8);
    } else {
        return false;
    }
    return true;
}

// Uses the record exactly as a module of that mechanism does: reads every
// input buffer at its stated length and writes every output buffer.
void moduleUses(const MechanismInput& input, const CK_MECHANISM& m) {
    const CK_MECHANISM_TYPE type = m.mechanism;
    if (input.row == nullptr) {
        FUZZ_CHECK(m.pParameter == nullptr && m.ulParameterLen == 0);
        return;
    }
    if (input.parameter == nullptr) {
        FUZZ_CHECK(input.row->nullGivesNoRecord);
        FUZZ_CHECK(m.pParameter == nullptr && m.ulParameterLen == 0);
        return;
    }
    const std::string cls = input.row->parameterClass;
    if (input.row->form != Form::kObject) {
        byteArrayUse(input, m);
    } else if (modernObjectUse(input, m)) {
        // One of the newer records.
    } else if (cls == "qorvik/params/OAEPParams") {
        auto& r = recordOf<CK_RSA_PKCS_OAEP_PARAMS>(m);
        FUZZ_CHECK(r.hashAlg == widened(intFieldOf(input.parameter, "m_hashAlg")));
        FUZZ_CHECK(r.mgf == widened(intFieldOf(input.parameter, "m_mgf")));
        moduleReads(r.pSourceData, r.ulSourceDataLen);
    } else if (cls == "qorvik/params/RC2Params" || cls == "qorvik/params/MACGENERALParams" ||
               cls == "qorvik/params/EXTRACTParams") {
        recordOf<CK_ULONG>(m);
    } else if (cls == "qorvik/params/RC2CBCParams") {
        recordOf<CK_RC2_CBC_PARAMS>(m);
    } else if (cls == "qorvik/params/RC2MACGENERALParams") {
        recordOf<CK_RC2_MAC_GENERAL_PARAMS>(m);
    } else if (cls == "qorvik/params/RC5Params") {
        recordOf<CK_RC5_PARAMS>(m);
    } else if (cls == "qorvik/params/RC5CBCParams") {
        auto& r = recordOf<CK_RC5_CBC_PARAMS>(m);
        moduleReads(r.pIv, r.ulIvLen);
    } else if (cls == "qorvik/params/RC5MACGENERALParams") {
        recordOf<CK_RC5_MAC_GENERAL_PARAMS>(m);
    } else if (cls == "qorvik/params/KEYDERIVATIONSTRINGDATA") {
        auto& r = recordOf<CK_KEY_DERIVATION_STRING_DATA>(m);
        moduleReads(r.pData, r.ulLen);
    } else if (cls == "qorvik/params/SSL3MASTERKEYDERIVEParams") {
        auto& r = recordOf<CK_SSL3_MASTER_KEY_DERIVE_PARAMS>(m);
        readsRandom(r.RandomInfo);
        moduleWrites(r.pVersion, sizeof(CK_VERSION));
    } else if (cls == "qorvik/params/SSL3KEYMATParams") {
        auto& r = recordOf<CK_SSL3_KEY_MAT_PARAMS>(m);
        readsRandom(r.RandomInfo);
        // Sizes are never negative, and no cipher's IV is longer than 1024 bits.
        FUZZ_CHECK(r.ulIVSizeInBits <= 1024);
        FUZZ_CHECK(r.pReturnedKeyMaterial != nullptr);
        CK_SSL3_KEY_MAT_OUT& out = *r.pReturnedKeyMaterial;
        out.hClientMacSecret = out.hServerMacSecret = out.hClientKey = out.hServerKey = 0x5A5A;
        if (r.ulIVSizeInBits != 0) {
            moduleWrites(out.pIVClient, r.ulIVSizeInBits / 8);
            moduleWrites(out.pIVServer, r.ulIVSizeInBits / 8);
        }
    } else if (cls == "qorvik/params/KEYWRAPSETOAEPParams") {
        auto& r = recordOf<CK_KEY_WRAP_SET_OAEP_PARAMS>(m);
        moduleReads(r.pX, r.ulXLen);
    } else if (cls == "qorvik/params/SKIPJACKPRIVATEWRAPParams") {
        auto& r = recordOf<CK_SKIPJACK_PRIVATE_WRAP_PARAMS>(m);
        moduleReads(r.pPassword, r.ulPasswordLen);
        moduleReads(r.pPublicData, r.ulPublicDataLen);
        moduleReads(r.pRandomA, r.ulRandomLen);
        moduleReads(r.pPrimeP, r.ulPAndGLen);
        moduleReads(r.pBaseG, r.ulPAndGLen);
        moduleReads(r.pSubprimeQ, r.ulQLen);
    } else if (cls == "qorvik/params/SKIPJACKRELAYXParams") {
        auto& r = recordOf<CK_SKIPJACK_RELAYX_PARAMS>(m);
        moduleReads(r.pOldWrappedX, r.ulOldWrappedXLen);
        moduleReads(r.pOldPassword, r.ulOldPasswordLen);
        moduleReads(r.pOldPublicData, r.ulOldPublicDataLen);
        moduleReads(r.pOldRandomA, r.ulOldRandomLen);
        moduleReads(r.pNewPassword, r.ulNewPasswordLen);
        moduleReads(r.pNewPublicData, r.ulNewPublicDataLen);
        moduleReads(r.pNewRandomA, r.ulNewRandomLen);
    } else if (cls == "qorvik/params/KeaDeriveParams") {
        auto& r = recordOf<CK_KEA_DERIVE_PARAMS>(m);
        moduleReads(r.pRandomA, r.ulRandomLen);
        moduleReads(r.pRandomB, r.ulRandomLen);
        moduleReads(r.pPublicData, r.ulPublicDataLen);
    } else if (cls == "qorvik/params/PBEParams") {
        auto& r = recordOf<CK_PBE_PARAMS>(m);
        moduleReads(r.pPassword, r.ulPasswordLen);
        moduleReads(r.pSalt, r.ulSaltLen);
        if (r.pInitVector != nullptr) moduleWrites(r.pInitVector, 8);
    } else {
        std::fprintf(stderr, "no module use known for mechanism 0x%lx (%s)\n",
                     static_cast<unsigned long>(type), cls.c_str());
        FUZZ_CHECK(!"a parameter class without a module use in this harness");
    }
}

// The failures decided before any field is read: no mechanism, no parameter
// for a type that takes one, a parameter of another class, a short IV.
std::optional<std::string> earlyFailure(const MechanismInput& input) {
    if (input.mechanism == nullptr) return "Mechanism2CKMechanism - mechanism is NULL";
    if (input.row == nullptr) return std::nullopt;
    if (input.parameter == nullptr) {
        if (input.row->nullGivesNoRecord) return std::nullopt;
        return "Mechanism2CKMechanism - parameter value is NULL";
    }
    const std::string cls = input.row->parameterClass;
    const bool instance = ok(env->IsInstanceOf(input.parameter, classInfo(cls).cls));
    const jsize length =
        instance && cls == "[B" ? env->GetArrayLength(static_cast<jbyteArray>(input.parameter)) : 0;
    switch (input.row->form) {
        case Form::kLegacyIv:
            if (!instance || length < 8)
                return "Mechanism2CKMechanism - IV must be at least 8 bytes";
            return std::nullopt;
        case Form::kIv16:
            if (!instance || length != 16) return "Mechanism2CKMechanism - IV must be 16 bytes";
            return std::nullopt;
        case Form::kOptionalIv:
            if (!instance) return "Mechanism2CKMechanism - IV must be a byte array";
            return std::nullopt;
        case Form::kData:
            if (!instance) return "Mechanism2CKMechanism - data must be a byte array";
            return std::nullopt;
        case Form::kObject:
            break;
    }
    if (!instance) {
        return "Mechanism2CKMechanism - parameter must be instance of '" + cls + "'";
    }
    return std::nullopt;
}

// Mostly a parameter the row takes, sometimes one of a length it refuses.
jobject rowParameter(Bytes& in, const Row& row) {
    auto rightOrAny = [&](jsize right) {
        return byteArray(in, in.u8() < 192 ? right : arrayLength(in));
    };
    switch (row.form) {
        case Form::kLegacyIv:
            return buildParameter(in, "[B", 0);
        case Form::kIv16:
            return rightOrAny(16);
        case Form::kOptionalIv:
        case Form::kData:
            return byteArray(in, arrayLength(in));
        case Form::kObject:
            break;
    }
    jobject object = buildParameter(in, row.parameterClass, 0);
    const std::string cls = row.parameterClass;
    const char* sizedField = cls == "qorvik/params/AESCTRParams"           ? "m_counterBlock"
                             : cls == "qorvik/params/CBCEncryptDataParams" ? "m_iv"
                                                                           : nullptr;
    if (sizedField != nullptr && in.u8() < 192) {
        jbyteArray array = rightOrAny(row.ivLength != 0 ? static_cast<jsize>(row.ivLength) : 16);
        jclass objectClass = env->GetObjectClass(object);
        env->SetObjectField(object, env->GetFieldID(objectClass, sizedField, "[B"), array);
        env->DeleteLocalRef(objectClass);
        env->DeleteLocalRef(array);
    }
    FUZZ_CHECK(!env->ExceptionCheck());
    return object;
}

}  // namespace

MechanismInput makeMechanism(Bytes& in) {
    MechanismInput input;
    if (in.u8() < 6) return input;
    const uint8_t pick = in.u8();
    if (pick < 150) {
        input.type = static_cast<jint>(kRows[in.below(kRowCount)].type);
    } else if (pick < 200) {
        input.type = static_cast<jint>(kModernRows[in.below(kModernRowCount)].type);
    } else if (pick < 240) {
        input.type =
            static_cast<jint>(kPlainTypes[in.below(sizeof kPlainTypes / sizeof kPlainTypes[0])]);
    } else {
        input.type = static_cast<jint>(in.u32());
    }
    input.row = rowOf(widened(input.type));
    const uint8_t parameterPick = in.u8();
    if (parameterPick < 180 && input.row != nullptr) {
        input.parameter = rowParameter(in, *input.row);
    } else if (parameterPick < 200) {
        input.parameter = buildParameter(in, kRows[in.below(kRowCount)].parameterClass, 0);
    } else if (parameterPick < 215) {
        input.parameter = rowParameter(in, kModernRows[in.below(kModernRowCount)]);
    } else if (parameterPick < 240) {
        input.parameter = makeValue(in).object;
    }
    input.mechanism = ok(env->NewObject(c.mechanism, c.mechanismCtor, input.type, input.parameter));
    FUZZ_CHECK(input.mechanism != nullptr);
    return input;
}

std::optional<std::string> convertMechanism(const MechanismInput& input) {
    const std::optional<std::string> early = earlyFailure(input);
    CK_MECHANISM m{0xDEADu, reinterpret_cast<void*>(0x1), 7};
    std::optional<std::string> failure;
    try {
        Mechanism2CKMechanism(env, input.mechanism, &m);
    } catch (const MessageFailure& f) {
        failure = f.message;
    } catch (const ReturnValueFailure& f) {
        failure = std::string("rv ") + std::to_string(f.rv);
    } catch (const std::bad_alloc&) {
        FUZZ_CHECK(!"a mechanism conversion ran out of memory");
    }
    FUZZ_CHECK(!env->ExceptionCheck());
    if (early && failure != early) {
        std::fprintf(stderr, "mechanism 0x%x: '%s', expected '%s'\n",
                     static_cast<unsigned>(input.type), failure ? failure->c_str() : "converted",
                     early->c_str());
    }
    FUZZ_CHECK(!early || failure == early);
    // The newer rows' later failures are known too: a null parameter or a byte
    // array of theirs converts, an object of the right class converts unless
    // one of its fields is refused, with that field's text.
    if (!early && input.row != nullptr && input.row->nullGivesNoRecord) {
        const std::vector<std::string> expected =
            input.parameter != nullptr && input.row->form == Form::kObject
                ? modernFailures(*input.row, input.parameter)
                : std::vector<std::string>{};
        bool matches = expected.empty() ? !failure : false;
        for (const std::string& text : expected) matches = matches || failure == text;
        if (!matches) {
            std::fprintf(stderr, "mechanism 0x%x: '%s', expected %zu failures%s%s\n",
                         static_cast<unsigned>(input.type),
                         failure ? failure->c_str() : "converted", expected.size(),
                         expected.empty() ? "" : ", first ",
                         expected.empty() ? "" : expected.front().c_str());
        }
        FUZZ_CHECK(matches);
    }
    // A type without a parameter record converts whatever the parameter is.
    FUZZ_CHECK(input.mechanism == nullptr || input.row != nullptr || !failure);
    if (failure) {
        // A failed conversion leaves nothing to free.
        FUZZ_CHECK(m.pParameter == nullptr);
        FUZZ_CHECK(!failure->empty());
        return failure;
    }
    FUZZ_CHECK(input.mechanism != nullptr);
    FUZZ_CHECK(m.mechanism == widened(input.type));
    if (input.row != nullptr && input.parameter != nullptr) {
        jclass expected = classInfo(input.row->parameterClass).cls;
        FUZZ_CHECK(env->IsInstanceOf(input.parameter, expected));
    } else if (input.row != nullptr) {
        FUZZ_CHECK(input.row->nullGivesNoRecord);
    }
    moduleUses(input, m);
    FUZZ_CHECK(FreeMechanism(&m) == 0);
    return std::nullopt;
}

}  // namespace fuzz
