// Parameter records of the AES modes, RSA-PSS, ECDH, the key derivations by
// encryption, PBKDF2 and CCM. A null parameter object gives no record for
// these types: the module is asked without one and answers for itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "MechanismRows.h"
#include "Records.h"

namespace mechanism_rows {
namespace {

const ParameterClass kAesCtrParams = KELMORA_PARAMETER_CLASS("AESCTRParams");
const ParameterClass kGcmParams = KELMORA_PARAMETER_CLASS("GCMParams");
const ParameterClass kCcmParams = KELMORA_PARAMETER_CLASS("CCMParams");
const ParameterClass kPssParams = KELMORA_PARAMETER_CLASS("PSSParams");
const ParameterClass kEcdh1DeriveParams = KELMORA_PARAMETER_CLASS("ECDH1DeriveParams");
const ParameterClass kCbcEncryptDataParams = KELMORA_PARAMETER_CLASS("CBCEncryptDataParams");
const ParameterClass kPbkdf2Params = KELMORA_PARAMETER_CLASS("PBKDF2Params");

#undef KELMORA_PARAMETER_CLASS
#undef KELMORA_PARAMETER_CLASS_SHOWN_AS

constexpr jsize kAesBlock = 16;
constexpr jsize kDesBlock = 8;

const char* const kAesIvLength = "Mechanism2CKMechanism - IV must be 16 bytes";
const char* const kDesIvLength = "Mechanism2CKMechanism - IV must be 8 bytes";

// ---- Reading the parameter object ------------------------------------------------

bool isByteArray(JNIEnv* env, jobject object) {
    LocalRef<jclass> bytes(
        env, require(env, env->FindClass("[B"), "Mechanism2CKMechanism - Class '[B' not found"));
    return env->IsInstanceOf(object, bytes.get()) == JNI_TRUE;
}

// The parameter itself as a byte array, of exactly `length` bytes when
// `length` is not negative.
jbyteArray byteArrayParameter(JNIEnv* env, jobject parameter, jsize length, const char* message) {
    if (!isByteArray(env, parameter)) fail(message);
    jbyteArray array = static_cast<jbyteArray>(parameter);
    if (length >= 0 && env->GetArrayLength(array) != length) fail(message);
    return array;
}

// A size or a count: a negative int would reach the module as a huge value.
CK_ULONG sizeField(JNIEnv* env, jclass cls, jobject object, const char* name, const char* missing,
                   const char* outOfRange) {
    jfieldID id = findField(env, cls, name, "I", missing);
    const jint value = env->GetIntField(object, id);
    if (value < 0) fail(outOfRange);
    return static_cast<CK_ULONG>(value);
}

// Copies exactly `length` bytes of the array into `target`; a null array or
// one of another length fails with `message`.
void copyFixed(JNIEnv* env, jbyteArray array, CK_BYTE* target, jsize length, const char* message) {
    if (array == nullptr || env->GetArrayLength(array) != length) fail(message);
    env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(target));
}

// The password as UTF-8, the form the record's CK_UTF8CHAR text takes. A lone
// surrogate has no UTF-8 form and would silently become another secret.
// Appends to `out`, which the caller wipes on every path.
void appendUtf8(const std::vector<jchar>& chars, std::vector<CK_BYTE>& out, const char* invalid) {
    out.reserve(chars.size() * 3);
    for (std::size_t i = 0; i < chars.size(); ++i) {
        std::uint32_t c = chars[i];
        if (c >= 0xD800 && c <= 0xDFFF) {
            const bool high = c <= 0xDBFF;
            if (!high || i + 1 == chars.size() || chars[i + 1] < 0xDC00 || chars[i + 1] > 0xDFFF) {
                fail(invalid);
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (chars[++i] - 0xDC00u);
        }
        if (c < 0x80) {
            out.push_back(static_cast<CK_BYTE>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<CK_BYTE>(0xC0 | (c >> 6)));
            out.push_back(static_cast<CK_BYTE>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<CK_BYTE>(0xE0 | (c >> 12)));
            out.push_back(static_cast<CK_BYTE>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<CK_BYTE>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<CK_BYTE>(0xF0 | (c >> 18)));
            out.push_back(static_cast<CK_BYTE>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<CK_BYTE>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<CK_BYTE>(0x80 | (c & 0x3F)));
        }
    }
}

// Overwrites a secret before its memory goes back to the allocator; the
// volatile access keeps the stores from being dropped as dead.
void wipe(void* p, std::size_t length) {
    volatile CK_BYTE* bytes = static_cast<volatile CK_BYTE*>(p);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = 0;
}

// Staging copies of a secret, wiped on every path out.
template <typename T>
struct Wiped {
    std::vector<T> items;
    ~Wiped() {
        if (!items.empty()) wipe(items.data(), items.size() * sizeof(T));
    }
};

// ---- Rows -----------------------------------------------------------------------

// AES in CBC mode: the parameter is the 16-byte IV itself.
void buildAesIv(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    jbyteArray iv = byteArrayParameter(env, parameter, kAesBlock, kAesIvLength);
    Owned<CK_BYTE> copy = copyBytes(env, iv, kAesBlock);
    mechanism.pParameter = copy.release();
    mechanism.ulParameterLen = kAesBlock;
}

// AES key wrap with padding: an optional IV of the module's choosing length.
// An empty one is no IV: a record of length 0 would never be freed.
void buildOptionalIv(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    jbyteArray iv =
        byteArrayParameter(env, parameter, -1, "Mechanism2CKMechanism - IV must be a byte array");
    const jsize length = env->GetArrayLength(iv);
    if (length == 0) return;
    Owned<CK_BYTE> copy = copyBytes(env, iv, length);
    mechanism.pParameter = copy.release();
    mechanism.ulParameterLen = static_cast<CK_ULONG>(length);
}

void buildAesCtr(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kAesCtrParams));
    const CK_ULONG counterBits = sizeField(env, cls.get(), parameter, "m_counterBits",
                                           "Mechanism2CKMechanism - m_counterBits field not found",
                                           "Mechanism2CKMechanism - m_counterBits out of range");
    LocalRef<jbyteArray> block(
        env, byteArrayField(env, cls.get(), parameter, "m_counterBlock",
                            "Mechanism2CKMechanism - m_counterBlock field not found"));
    const char* const blockLength = "Mechanism2CKMechanism - counter block must be 16 bytes";
    if (!block || env->GetArrayLength(block.get()) != kAesBlock) fail(blockLength);

    auto record = newRecord<CK_AES_CTR_PARAMS>();
    static_assert(sizeof record->cb == kAesBlock, "the record holds one AES block");
    copyFixed(env, block.get(), record->cb, kAesBlock, blockLength);
    record->ulCounterBits = counterBits;
    publish(mechanism, std::move(record));
}

void buildGcm(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kGcmParams));
    LocalRef<jbyteArray> iv(env, byteArrayField(env, cls.get(), parameter, "m_iv",
                                                "Mechanism2CKMechanism - m_iv field not found"));
    LocalRef<jbyteArray> aad(env, byteArrayField(env, cls.get(), parameter, "m_aad",
                                                 "Mechanism2CKMechanism - m_aad field not found"));
    const CK_ULONG tagBits = sizeField(env, cls.get(), parameter, "m_tagBits",
                                       "Mechanism2CKMechanism - m_tagBits field not found",
                                       "Mechanism2CKMechanism - m_tagBits out of range");
    if (!iv) fail("Mechanism2CKMechanism - m_iv is NULL");
    const jsize ivLength = env->GetArrayLength(iv.get());
    if (static_cast<std::uint64_t>(ivLength) > std::numeric_limits<CK_ULONG>::max() / 8) {
        fail("Mechanism2CKMechanism - m_iv out of range");
    }

    auto record = newRecord<Pkcs11GcmParams>();
    ByteCopy ivCopy = copyWhole(env, iv.get());
    ByteCopy aadCopy = copyWhole(env, aad.get());
    record->ulIvBits = ivCopy.length * 8;
    place(std::move(ivCopy), record->pIv, record->ulIvLen);
    place(std::move(aadCopy), record->pAAD, record->ulAADLen);
    record->ulTagBits = tagBits;
    publish(mechanism, std::move(record));
}

void buildCcm(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kCcmParams));
    const CK_ULONG dataLength = sizeField(env, cls.get(), parameter, "m_dataLen",
                                          "Mechanism2CKMechanism - m_dataLen field not found",
                                          "Mechanism2CKMechanism - m_dataLen out of range");
    LocalRef<jbyteArray> nonce(env,
                               byteArrayField(env, cls.get(), parameter, "m_nonce",
                                              "Mechanism2CKMechanism - m_nonce field not found"));
    LocalRef<jbyteArray> aad(env, byteArrayField(env, cls.get(), parameter, "m_aad",
                                                 "Mechanism2CKMechanism - m_aad field not found"));
    const CK_ULONG macLength = sizeField(env, cls.get(), parameter, "m_macLen",
                                         "Mechanism2CKMechanism - m_macLen field not found",
                                         "Mechanism2CKMechanism - m_macLen out of range");
    if (!nonce) fail("Mechanism2CKMechanism - m_nonce is NULL");

    auto record = newRecord<CK_CCM_PARAMS>();
    ByteCopy nonceCopy = copyWhole(env, nonce.get());
    ByteCopy aadCopy = copyWhole(env, aad.get());
    record->ulDataLen = dataLength;
    place(std::move(nonceCopy), record->pNonce, record->ulNonceLen);
    place(std::move(aadCopy), record->pAAD, record->ulAADLen);
    record->ulMACLen = macLength;
    publish(mechanism, std::move(record));
}

void buildPss(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kPssParams));
    const CK_ULONG hashAlg = intField(env, cls.get(), parameter, "m_hashAlg",
                                      "Mechanism2CKMechanism - m_hashAlg field not found");
    const CK_ULONG mgf = intField(env, cls.get(), parameter, "m_mgf",
                                  "Mechanism2CKMechanism - m_mgf field not found");
    const CK_ULONG saltLength = sizeField(env, cls.get(), parameter, "m_sLen",
                                          "Mechanism2CKMechanism - m_sLen field not found",
                                          "Mechanism2CKMechanism - m_sLen out of range");

    auto record = newRecord<CK_RSA_PKCS_PSS_PARAMS>();
    record->hashAlg = hashAlg;
    record->mgf = mgf;
    record->sLen = saltLength;
    publish(mechanism, std::move(record));
}

void buildEcdh1Derive(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kEcdh1DeriveParams));
    const CK_ULONG kdf = intField(env, cls.get(), parameter, "m_kdf",
                                  "Mechanism2CKMechanism - m_kdf field not found");
    LocalRef<jbyteArray> sharedData(
        env, byteArrayField(env, cls.get(), parameter, "m_sharedData",
                            "Mechanism2CKMechanism - m_sharedData field not found"));
    LocalRef<jbyteArray> publicData(
        env, byteArrayField(env, cls.get(), parameter, "m_publicData",
                            "Mechanism2CKMechanism - m_publicData field not found"));
    if (!publicData) fail("Mechanism2CKMechanism - m_publicData is NULL");

    auto record = newRecord<CK_ECDH1_DERIVE_PARAMS>();
    ByteCopy shared = copyWhole(env, sharedData.get());
    ByteCopy point = copyWhole(env, publicData.get());
    record->kdf = kdf;
    place(std::move(shared), record->pSharedData, record->ulSharedDataLen);
    place(std::move(point), record->pPublicData, record->ulPublicDataLen);
    publish(mechanism, std::move(record));
}

// Derivation by ECB encryption: the data to encrypt is the parameter itself.
void buildEcbEncryptData(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    jbyteArray data =
        byteArrayParameter(env, parameter, -1, "Mechanism2CKMechanism - data must be a byte array");

    auto record = newRecord<CK_KEY_DERIVATION_STRING_DATA>();
    place(copyWhole(env, data), record->pData, record->ulLen);
    publish(mechanism, std::move(record));
}

// Derivation by CBC encryption: an IV of the cipher's block and the data.
template <typename Record, jsize kBlock>
void buildCbcEncryptData(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism,
                         const char* ivLength) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kCbcEncryptDataParams));
    LocalRef<jbyteArray> iv(env, byteArrayField(env, cls.get(), parameter, "m_iv",
                                                "Mechanism2CKMechanism - m_iv field not found"));
    LocalRef<jbyteArray> data(env,
                              byteArrayField(env, cls.get(), parameter, "m_data",
                                             "Mechanism2CKMechanism - m_data field not found"));
    if (!iv || env->GetArrayLength(iv.get()) != kBlock) fail(ivLength);
    if (!data) fail("Mechanism2CKMechanism - m_data is NULL");

    auto record = newRecord<Record>();
    static_assert(sizeof record->iv == kBlock, "the record holds one block of IV");
    copyFixed(env, iv.get(), record->iv, kBlock, ivLength);
    place(copyWhole(env, data.get()), record->pData, record->length);
    publish(mechanism, std::move(record));
}

void buildAesCbcEncryptData(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    buildCbcEncryptData<CK_AES_CBC_ENCRYPT_DATA_PARAMS, kAesBlock>(env, parameter, mechanism,
                                                                   kAesIvLength);
}

void buildDesCbcEncryptData(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    buildCbcEncryptData<CK_DES_CBC_ENCRYPT_DATA_PARAMS, kDesBlock>(env, parameter, mechanism,
                                                                   kDesIvLength);
}

void buildPbkdf2(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kPbkdf2Params));
    const CK_ULONG saltSource = intField(env, cls.get(), parameter, "m_saltSource",
                                         "Mechanism2CKMechanism - m_saltSource field not found");
    LocalRef<jbyteArray> saltSourceData(
        env, byteArrayField(env, cls.get(), parameter, "m_saltSourceData",
                            "Mechanism2CKMechanism - m_saltSourceData field not found"));
    const CK_ULONG iterations = sizeField(env, cls.get(), parameter, "m_iterations",
                                          "Mechanism2CKMechanism - m_iterations field not found",
                                          "Mechanism2CKMechanism - m_iterations out of range");
    const CK_ULONG prf = intField(env, cls.get(), parameter, "m_prf",
                                  "Mechanism2CKMechanism - m_prf field not found");
    LocalRef<jbyteArray> prfData(
        env, byteArrayField(env, cls.get(), parameter, "m_prfData",
                            "Mechanism2CKMechanism - m_prfData field not found"));
    jfieldID passwordField = findField(env, cls.get(), "m_password", "[C",
                                       "Mechanism2CKMechanism - m_password field not found");
    LocalRef<jcharArray> password(
        env, static_cast<jcharArray>(env->GetObjectField(parameter, passwordField)));
    if (!password) fail("Mechanism2CKMechanism - m_password is NULL");

    Wiped<jchar> chars;
    chars.items.resize(static_cast<std::size_t>(env->GetArrayLength(password.get())));
    if (!chars.items.empty()) {
        env->GetCharArrayRegion(password.get(), 0, static_cast<jsize>(chars.items.size()),
                                chars.items.data());
    }
    Wiped<CK_BYTE> text;
    appendUtf8(chars.items, text.items, "Mechanism2CKMechanism - password character out of range");

    auto record = newRecord<CK_PKCS5_PBKD2_PARAMS>();
    ByteCopy salt = copyWhole(env, saltSourceData.get());
    ByteCopy prfCopy = copyWhole(env, prfData.get());
    Owned<CK_BYTE> passwordBytes(static_cast<CK_BYTE*>(std::malloc(text.items.size() + 1)));
    if (!passwordBytes) throw std::bad_alloc();
    if (!text.items.empty()) {
        std::memcpy(passwordBytes.get(), text.items.data(), text.items.size());
    }
    auto passwordLength = newRecord<CK_ULONG>();
    *passwordLength = static_cast<CK_ULONG>(text.items.size());

    record->saltSource = saltSource;
    place(std::move(salt), record->pSaltSourceData, record->ulSaltSourceDataLen);
    record->iterations = iterations;
    record->prf = prf;
    place(std::move(prfCopy), record->pPrfData, record->ulPrfDataLen);
    record->pPassword = passwordBytes.release();
    record->ulPasswordLen = passwordLength.release();
    publish(mechanism, std::move(record));
}

}  // namespace

RowBuilder modernRowFor(CK_MECHANISM_TYPE type) {
    switch (type) {
        case CKM_AES_CBC:
        case CKM_AES_CBC_PAD:
            return buildAesIv;
        case CKM_AES_CTR:
            return buildAesCtr;
        case CKM_AES_GCM:
            return buildGcm;
        case CKM_AES_CCM:
            return buildCcm;
        case CKM_AES_KEY_WRAP_PAD:
            return buildOptionalIv;
        case CKM_RSA_PKCS_PSS:
        case CKM_SHA1_RSA_PKCS_PSS:
        case CKM_SHA224_RSA_PKCS_PSS:
        case CKM_SHA256_RSA_PKCS_PSS:
        case CKM_SHA384_RSA_PKCS_PSS:
        case CKM_SHA512_RSA_PKCS_PSS:
            return buildPss;
        case CKM_ECDH1_DERIVE:
        case CKM_ECDH1_COFACTOR_DERIVE:
            return buildEcdh1Derive;
        case CKM_DES_ECB_ENCRYPT_DATA:
        case CKM_DES3_ECB_ENCRYPT_DATA:
        case CKM_AES_ECB_ENCRYPT_DATA:
            return buildEcbEncryptData;
        case CKM_DES_CBC_ENCRYPT_DATA:
        case CKM_DES3_CBC_ENCRYPT_DATA:
            return buildDesCbcEncryptData;
        case CKM_AES_CBC_ENCRYPT_DATA:
            return buildAesCbcEncryptData;
        case CKM_PKCS5_PBKD2:
            return buildPbkdf2;
        default:
            return nullptr;
    }
}

bool freeModernMembers(CK_MECHANISM_TYPE type, void* p) {
    switch (type) {
        case CKM_AES_GCM: {
            auto* record = static_cast<Pkcs11GcmParams*>(p);
            std::free(record->pIv);
            std::free(record->pAAD);
            return true;
        }
        case CKM_AES_CCM: {
            auto* record = static_cast<CK_CCM_PARAMS*>(p);
            std::free(record->pNonce);
            std::free(record->pAAD);
            return true;
        }
        case CKM_ECDH1_DERIVE:
        case CKM_ECDH1_COFACTOR_DERIVE: {
            auto* record = static_cast<CK_ECDH1_DERIVE_PARAMS*>(p);
            std::free(record->pSharedData);
            std::free(record->pPublicData);
            return true;
        }
        case CKM_DES_ECB_ENCRYPT_DATA:
        case CKM_DES3_ECB_ENCRYPT_DATA:
        case CKM_AES_ECB_ENCRYPT_DATA:
            std::free(static_cast<CK_KEY_DERIVATION_STRING_DATA*>(p)->pData);
            return true;
        case CKM_DES_CBC_ENCRYPT_DATA:
        case CKM_DES3_CBC_ENCRYPT_DATA:
            std::free(static_cast<CK_DES_CBC_ENCRYPT_DATA_PARAMS*>(p)->pData);
            return true;
        case CKM_AES_CBC_ENCRYPT_DATA:
            std::free(static_cast<CK_AES_CBC_ENCRYPT_DATA_PARAMS*>(p)->pData);
            return true;
        case CKM_PKCS5_PBKD2: {
            auto* record = static_cast<CK_PKCS5_PBKD2_PARAMS*>(p);
            if (record->pPassword != nullptr && record->ulPasswordLen != nullptr) {
                wipe(record->pPassword, *record->ulPasswordLen);
            }
            std::free(record->pSaltSourceData);
            std::free(record->pPrfData);
            std::free(record->pPassword);
            std::free(record->ulPasswordLen);
            return true;
        }
        case CKM_AES_CBC:
        case CKM_AES_CBC_PAD:
        case CKM_AES_CTR:
        case CKM_AES_KEY_WRAP_PAD:
        case CKM_RSA_PKCS_PSS:
        case CKM_SHA1_RSA_PKCS_PSS:
        case CKM_SHA224_RSA_PKCS_PSS:
        case CKM_SHA256_RSA_PKCS_PSS:
        case CKM_SHA384_RSA_PKCS_PSS:
        case CKM_SHA512_RSA_PKCS_PSS:
            return true;  // records without pointers
        default:
            return false;
    }
}

}  // namespace mechanism_rows
