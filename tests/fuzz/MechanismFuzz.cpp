#include "MechanismFuzz.h"

#include <cstdio>

#include "convert/Mechanism.h"

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
    {CKM_DES_CBC, "[B"},
    {CKM_DES_CBC_PAD, "[B"},
    {CKM_DES3_CBC, "[B"},
    {CKM_DES3_CBC_PAD, "[B"},
    {CKM_CDMF_CBC, "[B"},
    {CKM_CDMF_CBC_PAD, "[B"},
    {CKM_CAST_CBC, "[B"},
    {CKM_CAST_CBC_PAD, "[B"},
    {CKM_CAST3_CBC, "[B"},
    {CKM_CAST3_CBC_PAD, "[B"},
    {CKM_CAST5_CBC, "[B"},
    {CKM_CAST5_CBC_PAD, "[B"},
    {CKM_IDEA_CBC, "[B"},
    {CKM_IDEA_CBC_PAD, "[B"},
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

// Types without a parameter: the parameter object is never looked at.
const CK_MECHANISM_TYPE kPlainTypes[] = {CKM_RSA_PKCS,           CKM_SHA_1,
                                         CKM_SHA256_RSA_PKCS,    CKM_DES3_KEY_GEN,
                                         CKM_VENDOR_DEFINED + 1, 0xFFFFFFFFu};

const Row* rowOf(CK_MECHANISM_TYPE type) {
    for (const Row& row : kRows) {
        if (row.type == type) return &row;
    }
    return nullptr;
}

jint intFieldOf(jobject object, const char* name) {
    jclass cls = env->GetObjectClass(object);
    jint value = env->GetIntField(object, env->GetFieldID(cls, name, "I"));
    env->DeleteLocalRef(cls);
    return value;
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

// Uses the record exactly as a module of that mechanism does: reads every
// input buffer at its stated length and writes every output buffer.
void moduleUses(const MechanismInput& input, const CK_MECHANISM& m) {
    const CK_MECHANISM_TYPE type = m.mechanism;
    if (input.row == nullptr) {
        FUZZ_CHECK(m.pParameter == nullptr && m.ulParameterLen == 0);
        return;
    }
    FUZZ_CHECK(input.parameter != nullptr);
    const std::string cls = input.row->parameterClass;
    if (cls == "[B") {
        FUZZ_CHECK(m.ulParameterLen == 8);
        moduleReads(m.pParameter, m.ulParameterLen);
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
    if (input.parameter == nullptr) return "Mechanism2CKMechanism - parameter value is NULL";
    const std::string cls = input.row->parameterClass;
    const bool instance = ok(env->IsInstanceOf(input.parameter, classInfo(cls).cls));
    if (cls == "[B") {
        if (!instance || env->GetArrayLength(static_cast<jbyteArray>(input.parameter)) < 8) {
            return "Mechanism2CKMechanism - IV must be at least 8 bytes";
        }
    } else if (!instance) {
        return "Mechanism2CKMechanism - parameter must be instance of '" + cls + "'";
    }
    return std::nullopt;
}

}  // namespace

MechanismInput makeMechanism(Bytes& in) {
    MechanismInput input;
    if (in.u8() < 6) return input;
    const uint8_t pick = in.u8();
    if (pick < 200) {
        input.type = static_cast<jint>(kRows[in.below(kRowCount)].type);
    } else if (pick < 240) {
        input.type =
            static_cast<jint>(kPlainTypes[in.below(sizeof kPlainTypes / sizeof kPlainTypes[0])]);
    } else {
        input.type = static_cast<jint>(in.u32());
    }
    input.row = rowOf(widened(input.type));
    const uint8_t parameterPick = in.u8();
    if (parameterPick < 180 && input.row != nullptr) {
        input.parameter = buildParameter(in, input.row->parameterClass, 0);
    } else if (parameterPick < 215) {
        input.parameter = buildParameter(in, kRows[in.below(kRowCount)].parameterClass, 0);
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
    if (input.row != nullptr) {
        jclass expected = classInfo(input.row->parameterClass).cls;
        FUZZ_CHECK(input.parameter != nullptr && env->IsInstanceOf(input.parameter, expected));
    }
    moduleUses(input, m);
    FUZZ_CHECK(FreeMechanism(&m) == 0);
    return std::nullopt;
}

}  // namespace fuzz
