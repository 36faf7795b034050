// Mechanism records: a Java qorvik.Mechanism to a CK_MECHANISM with its
// parameter record, and the freeing of what the conversion built.
#include "Mechanism.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <new>
#include <vector>

#include "../core/JniGuards.h"
#include "MechanismRows.h"

using namespace mechanism_rows;

namespace {

// ---- Java side --------------------------------------------------------------

const char* const kNullParameter = "Mechanism2CKMechanism - parameter value is NULL";
const char* const kShortIv = "Mechanism2CKMechanism - IV must be at least 8 bytes";
const char* const kNullIv = "Mechanism2CKMechanism - jIv  is NULL";
constexpr jsize kIvLength = 8;

const ParameterClass kOaepParams = KELMORA_PARAMETER_CLASS("OAEPParams");
const ParameterClass kRc2Params = KELMORA_PARAMETER_CLASS("RC2Params");
const ParameterClass kRc2CbcParams = KELMORA_PARAMETER_CLASS("RC2CBCParams");
const ParameterClass kRc2MacGeneralParams = KELMORA_PARAMETER_CLASS("RC2MACGENERALParams");
const ParameterClass kMacGeneralParams = KELMORA_PARAMETER_CLASS("MACGENERALParams");
const ParameterClass kRc5Params = KELMORA_PARAMETER_CLASS("RC5Params");
const ParameterClass kRc5CbcParams = KELMORA_PARAMETER_CLASS("RC5CBCParams");
const ParameterClass kRc5MacGeneralParams = KELMORA_PARAMETER_CLASS("RC5MACGENERALParams");

#undef KELMORA_PARAMETER_CLASS
#undef KELMORA_PARAMETER_CLASS_SHOWN_AS

// ---- Rows of the dispatch table ----------------------------------------------
// Each row runs its lookups and checks first and allocates only afterwards.

// The block ciphers' CBC modes: the parameter is the IV itself, of which the
// first 8 bytes are used.
void buildIv(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> bytes(
        env, require(env, env->FindClass("[B"), "Mechanism2CKMechanism - Class '[B' not found"));
    if (!env->IsInstanceOf(parameter, bytes.get())) fail(kShortIv);
    jbyteArray iv = static_cast<jbyteArray>(parameter);
    if (env->GetArrayLength(iv) < kIvLength) fail(kShortIv);

    Owned<CK_BYTE> copy = copyBytes(env, iv, kIvLength);
    mechanism.pParameter = copy.release();
    mechanism.ulParameterLen = kIvLength;
}

void buildOaep(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kOaepParams));
    const CK_ULONG hashAlg = intField(env, cls.get(), parameter, "m_hashAlg",
                                      "Mechanism2CKMechanism - m_hashAlg field not found");
    const CK_ULONG mgf = intField(env, cls.get(), parameter, "m_mgf",
                                  "Mechanism2CKMechanism - m_mgf field not found");
    const CK_ULONG source = intField(env, cls.get(), parameter, "m_source",
                                     "Mechanism2CKMechanism - m_source field not found");
    LocalRef<jbyteArray> sourceData(
        env, byteArrayField(env, cls.get(), parameter, "m_sourceData",
                            "Mechanism2CKMechanism - m_sourceData field not found"));

    auto record = newRecord<CK_RSA_PKCS_OAEP_PARAMS>();
    const jsize length = lengthOf(env, sourceData.get());
    Owned<CK_BYTE> data = copyBytes(env, sourceData.get(), length);
    record->hashAlg = hashAlg;
    record->mgf = mgf;
    record->source = source;
    record->pSourceData = data.release();
    record->ulSourceDataLen = static_cast<CK_ULONG>(length);
    publish(mechanism, std::move(record));
}

void buildRc2(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    buildSingleValue(env, parameter, mechanism, kRc2Params, "parameter",
                     "Mechanism2CKMechanism - parameter field not found");
}

void buildMacGeneral(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    buildSingleValue(env, parameter, mechanism, kMacGeneralParams, "m_parameter",
                     "Mechanism2CKMechanism - m_parameter field not found");
}

void buildRc2Cbc(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kRc2CbcParams));
    const CK_ULONG effectiveBits =
        intField(env, cls.get(), parameter, "m_effectiveBits",
                 "Mechanism2CKMechanism - m_effectiveBits field not found");
    LocalRef<jbyteArray> iv(env, byteArrayField(env, cls.get(), parameter, "m_iv",
                                                "Mechanism2CKMechanism - m_iv field not found"));
    if (!iv) fail(kNullIv);
    if (env->GetArrayLength(iv.get()) < kIvLength) fail(kShortIv);

    auto record = newRecord<CK_RC2_CBC_PARAMS>();
    static_assert(sizeof record->iv == kIvLength, "the record holds an 8-byte IV");
    record->ulEffectiveBits = effectiveBits;
    env->GetByteArrayRegion(iv.get(), 0, kIvLength, reinterpret_cast<jbyte*>(record->iv));
    publish(mechanism, std::move(record));
}

void buildRc2MacGeneral(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kRc2MacGeneralParams));
    const CK_ULONG effectiveBits =
        intField(env, cls.get(), parameter, "m_effectiveBits",
                 "Mechanism2CKMechanism - m_effectiveBits field not found");
    const CK_ULONG macLength = intField(env, cls.get(), parameter, "m_macLength",
                                        "Mechanism2CKMechanism - m_macLength field not found");

    auto record = newRecord<CK_RC2_MAC_GENERAL_PARAMS>();
    record->ulEffectiveBits = effectiveBits;
    record->ulMacLength = macLength;
    publish(mechanism, std::move(record));
}

// The word size and rounds every RC5 row starts with. Only the ECB/MAC row
// keeps its own wording of the missing word-size field.
struct Rc5Basics {
    CK_ULONG wordSize;
    CK_ULONG rounds;
};

Rc5Basics rc5Basics(JNIEnv* env, jclass cls, jobject parameter, const char* wordSizeMissing) {
    const CK_ULONG wordSize = intField(env, cls, parameter, "m_wordSize", wordSizeMissing);
    const CK_ULONG rounds = intField(env, cls, parameter, "m_rounds",
                                     "Mechanism2CKMechanism - m_rounds field not found");
    return {wordSize, rounds};
}

const char* const kWordSizeMissing = "Mechanism2CKMechanism - m_wordSize field not found";

void buildRc5(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kRc5Params));
    const Rc5Basics basics =
        rc5Basics(env, cls.get(), parameter, "Mechanism2CKMechanism - m_wordSize field' not found");

    auto record = newRecord<CK_RC5_PARAMS>();
    record->ulWordsize = basics.wordSize;
    record->ulRounds = basics.rounds;
    publish(mechanism, std::move(record));
}

// RC5 takes an IV as long as its block, so the array is copied whole.
void buildRc5Cbc(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kRc5CbcParams));
    const Rc5Basics basics = rc5Basics(env, cls.get(), parameter, kWordSizeMissing);
    LocalRef<jbyteArray> iv(env, byteArrayField(env, cls.get(), parameter, "m_iv",
                                                "Mechanism2CKMechanism - m_iv field not found"));
    if (!iv) fail(kNullIv);

    auto record = newRecord<CK_RC5_CBC_PARAMS>();
    const jsize length = env->GetArrayLength(iv.get());
    Owned<CK_BYTE> copy = copyBytes(env, iv.get(), length);
    record->ulWordsize = basics.wordSize;
    record->ulRounds = basics.rounds;
    record->pIv = copy.release();
    record->ulIvLen = static_cast<CK_ULONG>(length);
    publish(mechanism, std::move(record));
}

void buildRc5MacGeneral(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kRc5MacGeneralParams));
    const Rc5Basics basics = rc5Basics(env, cls.get(), parameter, kWordSizeMissing);
    const CK_ULONG macLength = intField(env, cls.get(), parameter, "m_macLength",
                                        "Mechanism2CKMechanism - m_macLength field not found");

    auto record = newRecord<CK_RC5_MAC_GENERAL_PARAMS>();
    record->ulWordsize = basics.wordSize;
    record->ulRounds = basics.rounds;
    record->ulMacLength = macLength;
    publish(mechanism, std::move(record));
}

// The dispatch table; null for the types that take no parameter.
RowBuilder rowFor(CK_MECHANISM_TYPE type) {
    switch (type) {
        case CKM_RSA_PKCS_OAEP:
            return buildOaep;
        case CKM_RC2_ECB:
        case CKM_RC2_MAC:
            return buildRc2;
        case CKM_RC2_CBC:
        case CKM_RC2_CBC_PAD:
            return buildRc2Cbc;
        case CKM_RC2_MAC_GENERAL:
            return buildRc2MacGeneral;
        case CKM_DES_CBC:
        case CKM_DES_CBC_PAD:
        case CKM_DES3_CBC:
        case CKM_DES3_CBC_PAD:
        case CKM_CDMF_CBC:
        case CKM_CDMF_CBC_PAD:
        case CKM_CAST_CBC:
        case CKM_CAST_CBC_PAD:
        case CKM_CAST3_CBC:
        case CKM_CAST3_CBC_PAD:
        case CKM_CAST5_CBC:
        case CKM_CAST5_CBC_PAD:
        case CKM_IDEA_CBC:
        case CKM_IDEA_CBC_PAD:
            return buildIv;
        case CKM_DES_MAC_GENERAL:
        case CKM_DES3_MAC_GENERAL:
        case CKM_CDMF_MAC_GENERAL:
        case CKM_MD2_HMAC_GENERAL:
        case CKM_MD5_HMAC_GENERAL:
        case CKM_SHA_1_HMAC_GENERAL:
        case CKM_RIPEMD128_HMAC_GENERAL:
        case CKM_RIPEMD160_HMAC_GENERAL:
        case CKM_CAST_MAC_GENERAL:
        case CKM_CAST3_MAC_GENERAL:
        case CKM_CAST5_MAC_GENERAL:
        case CKM_IDEA_MAC_GENERAL:
        case CKM_SSL3_MD5_MAC:
        case CKM_SSL3_SHA1_MAC:
            return buildMacGeneral;
        case CKM_RC5_ECB:
        case CKM_RC5_MAC:
            return buildRc5;
        case CKM_RC5_CBC:
        case CKM_RC5_CBC_PAD:
            return buildRc5Cbc;
        case CKM_RC5_MAC_GENERAL:
            return buildRc5MacGeneral;
        case CKM_CONCATENATE_BASE_AND_DATA:
        case CKM_CONCATENATE_DATA_AND_BASE:
        case CKM_XOR_BASE_AND_DATA:
            return buildKeyDerivationString;
        case CKM_EXTRACT_KEY_FROM_KEY:
            return buildExtract;
        case CKM_SSL3_MASTER_KEY_DERIVE:
            return buildSsl3MasterKeyDerive;
        case CKM_SSL3_KEY_AND_MAC_DERIVE:
            return buildSsl3KeyAndMacDerive;
        case CKM_KEY_WRAP_SET_OAEP:
            return buildKeyWrapSetOaep;
        case CKM_SKIPJACK_PRIVATE_WRAP:
            return buildSkipjackPrivateWrap;
        case CKM_SKIPJACK_RELAYX:
            return buildSkipjackRelayx;
        case CKM_KEA_KEY_DERIVE:
            return buildKeaDerive;
        default:
            if (type >= CKM_PBE_MD2_DES_CBC && type <= CKM_PBE_SHA1_RC2_40_CBC) {
                return buildPbe;
            }
            return nullptr;
    }
}

// ---- Freeing ----------------------------------------------------------------

template <typename Record, typename... Members>
void freeMembers(void* parameter, Members Record::*... members) {
    Record* record = static_cast<Record*>(parameter);
    (std::free(record->*members), ...);
}

void freeRandom(CK_SSL3_RANDOM_DATA& random) {
    std::free(random.pClientRandom);
    std::free(random.pServerRandom);
}

// Frees the buffers the record's pointer members own, not the record.
void freeRecordMembers(CK_MECHANISM_TYPE type, void* p) {
    switch (type) {
        case CKM_RSA_PKCS_OAEP:
            return freeMembers<CK_RSA_PKCS_OAEP_PARAMS>(p, &CK_RSA_PKCS_OAEP_PARAMS::pSourceData);
        case CKM_RC5_CBC:
        case CKM_RC5_CBC_PAD:
            return freeMembers<CK_RC5_CBC_PARAMS>(p, &CK_RC5_CBC_PARAMS::pIv);
        case CKM_CONCATENATE_BASE_AND_DATA:
        case CKM_CONCATENATE_DATA_AND_BASE:
        case CKM_XOR_BASE_AND_DATA:
            return freeMembers<CK_KEY_DERIVATION_STRING_DATA>(
                p, &CK_KEY_DERIVATION_STRING_DATA::pData);
        case CKM_SSL3_MASTER_KEY_DERIVE: {
            auto* record = static_cast<CK_SSL3_MASTER_KEY_DERIVE_PARAMS*>(p);
            std::free(record->pVersion);
            return freeRandom(record->RandomInfo);
        }
        case CKM_SSL3_KEY_AND_MAC_DERIVE: {
            auto* record = static_cast<CK_SSL3_KEY_MAT_PARAMS*>(p);
            freeRandom(record->RandomInfo);
            if (CK_SSL3_KEY_MAT_OUT* out = record->pReturnedKeyMaterial) {
                std::free(out->pIVClient);
                std::free(out->pIVServer);
                std::free(out);
            }
            return;
        }
        case CKM_KEY_WRAP_SET_OAEP:
            return freeMembers<CK_KEY_WRAP_SET_OAEP_PARAMS>(p, &CK_KEY_WRAP_SET_OAEP_PARAMS::pX);
        case CKM_SKIPJACK_PRIVATE_WRAP: {
            using Wrap = CK_SKIPJACK_PRIVATE_WRAP_PARAMS;
            return freeMembers<Wrap>(p, &Wrap::pPassword, &Wrap::pPublicData, &Wrap::pRandomA,
                                     &Wrap::pBaseG, &Wrap::pPrimeP, &Wrap::pSubprimeQ);
        }
        case CKM_SKIPJACK_RELAYX: {
            using Relay = CK_SKIPJACK_RELAYX_PARAMS;
            return freeMembers<Relay>(p, &Relay::pNewPassword, &Relay::pNewPublicData,
                                      &Relay::pNewRandomA, &Relay::pOldPassword,
                                      &Relay::pOldPublicData, &Relay::pOldRandomA,
                                      &Relay::pOldWrappedX);
        }
        case CKM_KEA_KEY_DERIVE:
            return freeMembers<CK_KEA_DERIVE_PARAMS>(p, &CK_KEA_DERIVE_PARAMS::pRandomA,
                                                     &CK_KEA_DERIVE_PARAMS::pRandomB,
                                                     &CK_KEA_DERIVE_PARAMS::pPublicData);
        default:
            if (type >= CKM_PBE_MD2_DES_CBC && type <= CKM_PBE_SHA1_RC2_40_CBC) {
                return freeMembers<CK_PBE_PARAMS>(p, &CK_PBE_PARAMS::pPassword,
                                                  &CK_PBE_PARAMS::pSalt,
                                                  &CK_PBE_PARAMS::pInitVector);
            }
            return;
    }
}

}  // namespace

extern "C" {

void Mechanism2CKMechanism(JNIEnv* env, jobject jMechanism, CK_MECHANISM_PTR pMechanism) {
    pMechanism->pParameter = nullptr;
    pMechanism->ulParameterLen = 0;
    if (jMechanism == nullptr) fail("Mechanism2CKMechanism - mechanism is NULL");

    LocalRef<jclass> mechanismClass(
        env, findClass(env, "qorvik/Mechanism", "Class 'qorvik/Mechanism' not found"));
    jfieldID typeField =
        findField(env, mechanismClass.get(), "mechanism", "I", "Field mechanism not found");
    jfieldID parameterField = findField(env, mechanismClass.get(), "parameter",
                                        "Ljava/lang/Object;", "Field parameter not found");

    LocalRef<jobject> parameter(env, env->GetObjectField(jMechanism, parameterField));
    pMechanism->mechanism = ulongFromJint(env->GetIntField(jMechanism, typeField));

    if (const RowBuilder modern = modernRowFor(pMechanism->mechanism)) {
        if (parameter) modern(env, parameter.get(), *pMechanism);
        return;
    }
    const RowBuilder build = rowFor(pMechanism->mechanism);
    if (build == nullptr) return;  // a type without parameters: never examined
    if (!parameter) fail(kNullParameter);
    build(env, parameter.get(), *pMechanism);
}

int FreeMechanism(CK_MECHANISM_PTR pMechanism) {
    if (pMechanism == nullptr || pMechanism->pParameter == nullptr ||
        pMechanism->ulParameterLen == 0) {
        return 0;
    }
    if (!freeModernMembers(pMechanism->mechanism, pMechanism->pParameter)) {
        freeRecordMembers(pMechanism->mechanism, pMechanism->pParameter);
    }
    std::free(pMechanism->pParameter);
    return 0;
}

}  // extern "C"
