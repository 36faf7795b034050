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

namespace {

// ---- Owned heap blocks ------------------------------------------------------
// Everything FreeMechanism releases comes from malloc, so the owners free.

struct FreeBlock {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeBlock>;

// A zeroed parameter record (padding included, so records compare bytewise).
template <typename Record>
Owned<Record> newRecord() {
    void* p = std::calloc(1, sizeof(Record));
    if (p == nullptr) throw std::bad_alloc();
    return Owned<Record>(static_cast<Record*>(p));
}

// A copy of the first `length` bytes of a Java array; a null array gives a
// null block. An empty array still gets a block of its own.
Owned<CK_BYTE> copyBytes(JNIEnv* env, jbyteArray array, jsize length) {
    if (array == nullptr) return nullptr;
    void* p = std::malloc(length > 0 ? static_cast<std::size_t>(length) : 1);
    if (p == nullptr) throw std::bad_alloc();
    Owned<CK_BYTE> block(static_cast<CK_BYTE*>(p));
    env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(block.get()));
    return block;
}

jsize lengthOf(JNIEnv* env, jbyteArray array) {
    return array != nullptr ? env->GetArrayLength(array) : 0;
}

// The record is complete: the mechanism owns it from here on.
template <typename Record>
void publish(CK_MECHANISM& mechanism, Owned<Record> record) {
    mechanism.pParameter = record.release();
    mechanism.ulParameterLen = sizeof(Record);
}

// ---- Java side --------------------------------------------------------------

const char* const kNullParameter = "Mechanism2CKMechanism - parameter value is NULL";
const char* const kShortIv = "Mechanism2CKMechanism - IV must be at least 8 bytes";
const char* const kNullIv = "Mechanism2CKMechanism - jIv  is NULL";
constexpr jsize kIvLength = 8;

// A parameter class of qorvik.params with the texts of its two failures.
struct ParameterClass {
    const char* path;
    const char* notFound;
    const char* wrongClass;
};

// The three texts of a class differ only in its name; a few "not found"
// texts show the class under a name of their own instead of its path.
// clang-format off
#define KELMORA_PARAMETER_CLASS_SHOWN_AS(name, shownAs)                         \
    {                                                                           \
        "qorvik/params/" name,                                                  \
        "Mechanism2CKMechanism - Class '" shownAs "' not found",                \
        "Mechanism2CKMechanism - parameter must be instance of 'qorvik/params/" \
            name "'"                                                            \
    }
#define KELMORA_PARAMETER_CLASS(name) KELMORA_PARAMETER_CLASS_SHOWN_AS(name, "qorvik/params/" name)
// clang-format on

const ParameterClass kOaepParams = KELMORA_PARAMETER_CLASS("OAEPParams");
const ParameterClass kRc2Params = KELMORA_PARAMETER_CLASS("RC2Params");
const ParameterClass kRc2CbcParams = KELMORA_PARAMETER_CLASS("RC2CBCParams");
const ParameterClass kRc2MacGeneralParams = KELMORA_PARAMETER_CLASS("RC2MACGENERALParams");
const ParameterClass kMacGeneralParams = KELMORA_PARAMETER_CLASS("MACGENERALParams");
const ParameterClass kRc5Params = KELMORA_PARAMETER_CLASS("RC5Params");
const ParameterClass kRc5CbcParams = KELMORA_PARAMETER_CLASS("RC5CBCParams");
const ParameterClass kRc5MacGeneralParams = KELMORA_PARAMETER_CLASS("RC5MACGENERALParams");
const ParameterClass kKeyDerivationStringData =
    KELMORA_PARAMETER_CLASS_SHOWN_AS("KEYDERIVATIONSTRINGDATA", "Pkcs11KEYDERIVATIONSTRINGDATA");
const ParameterClass kExtractParams =
    KELMORA_PARAMETER_CLASS_SHOWN_AS("EXTRACTParams", "Pkcs11EXTRACTParams");
const ParameterClass kSsl3MasterKeyDeriveParams =
    KELMORA_PARAMETER_CLASS("SSL3MASTERKEYDERIVEParams");
const ParameterClass kSsl3KeyMatParams =
    KELMORA_PARAMETER_CLASS_SHOWN_AS("SSL3KEYMATParams", "Pkcs11SSL3KEYMATParams");
const ParameterClass kPbeParams = KELMORA_PARAMETER_CLASS("PBEParams");
const ParameterClass kKeyWrapSetOaepParams = KELMORA_PARAMETER_CLASS("KEYWRAPSETOAEPParams");
const ParameterClass kSkipjackPrivateWrapParams =
    KELMORA_PARAMETER_CLASS("SKIPJACKPRIVATEWRAPParams");
const ParameterClass kSkipjackRelayxParams = KELMORA_PARAMETER_CLASS("SKIPJACKRELAYXParams");
const ParameterClass kKeaDeriveParams = KELMORA_PARAMETER_CLASS("KeaDeriveParams");

#undef KELMORA_PARAMETER_CLASS
#undef KELMORA_PARAMETER_CLASS_SHOWN_AS

// Looks up the row's class and makes sure the parameter is one of its
// objects; a field read on an object of another class would be undefined.
jclass parameterClass(JNIEnv* env, jobject parameter, const ParameterClass& row) {
    jclass cls = findClass(env, row.path, row.notFound);
    if (!env->IsInstanceOf(parameter, cls)) {
        env->DeleteLocalRef(cls);
        fail(row.wrongClass);
    }
    return cls;
}

// Java ints widen with their sign, as every int the bridge hands a module.
CK_ULONG intField(JNIEnv* env, jclass cls, jobject object, const char* name, const char* missing) {
    jfieldID id = findField(env, cls, name, "I", missing);
    return static_cast<CK_ULONG>(static_cast<long>(env->GetIntField(object, id)));
}

jbyteArray byteArrayField(JNIEnv* env, jclass cls, jobject object, const char* name,
                          const char* missing) {
    jfieldID id = findField(env, cls, name, "[B", missing);
    return static_cast<jbyteArray>(env->GetObjectField(object, id));
}

// ---- Rows of the dispatch table ----------------------------------------------
// Each row runs its lookups and checks first and allocates only afterwards.

using RowBuilder = void (*)(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism);

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

// RC2 ECB/MAC and the general-length MACs: a record that is one CK_ULONG.
void buildSingleValue(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism,
                      const ParameterClass& row, const char* field, const char* missing) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, row));
    const CK_ULONG value = intField(env, cls.get(), parameter, field, missing);

    auto record = newRecord<CK_ULONG>();
    *record = value;
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

// ---- Key-derivation, key-wrapping and password-based rows ------------------------

// A byte-array copy with the length the record states for it.
struct ByteCopy {
    Owned<CK_BYTE> data;
    CK_ULONG length = 0;
};

ByteCopy copyWhole(JNIEnv* env, jbyteArray array) {
    const jsize length = lengthOf(env, array);
    return {copyBytes(env, array, length), static_cast<CK_ULONG>(length)};
}

// A zeroed buffer of `size` bytes that the module writes into, seeded with
// as many leading bytes of the array as fit; a null array gives none.
Owned<CK_BYTE> seededBuffer(JNIEnv* env, jbyteArray array, std::size_t size) {
    if (array == nullptr) return nullptr;
    void* p = std::calloc(size, 1);
    if (p == nullptr) throw std::bad_alloc();
    Owned<CK_BYTE> block(static_cast<CK_BYTE*>(p));
    const jsize count = static_cast<jsize>(std::min<std::size_t>(size, env->GetArrayLength(array)));
    env->GetByteArrayRegion(array, 0, count, reinterpret_cast<jbyte*>(block.get()));
    return block;
}

// One byte per character of a char[] (the first `count` of them), in a zeroed
// buffer of at least `size` bytes. A character with no byte of its own would
// silently turn into another secret, so it fails instead.
Owned<CK_BYTE> narrowedChars(JNIEnv* env, jcharArray array, jsize count, std::size_t size,
                             const char* outOfRange) {
    std::vector<jchar> chars(static_cast<std::size_t>(count));
    if (count > 0) env->GetCharArrayRegion(array, 0, count, chars.data());
    for (jchar c : chars) {
        if (c > 0xFF) fail(outOfRange);
    }
    void* p = std::calloc(std::max<std::size_t>({size, chars.size(), 1}), 1);
    if (p == nullptr) throw std::bad_alloc();
    Owned<CK_BYTE> block(static_cast<CK_BYTE*>(p));
    std::copy(chars.begin(), chars.end(), block.get());
    return block;
}

// A java.lang.Boolean read through booleanValue(), as CK_TRUE or CK_FALSE.
CK_BBOOL booleanValue(JNIEnv* env, jobject boolean, const char* classMissing,
                      const char* methodMissing) {
    LocalRef<jclass> cls(env, findClass(env, "java/lang/Boolean", classMissing));
    jmethodID method = findMethod(env, cls.get(), "booleanValue", "()Z", methodMissing);
    return env->CallBooleanMethod(boolean, method) ? CK_TRUE : CK_FALSE;
}

// Several byte-array fields of one object: looked up in one order, read, and
// checked for null in the order the row gives, the references deleted together.
struct FieldName {
    const char* name;
    const char* missing;
};
struct NullCheck {
    std::size_t field;
    const char* message;
};

template <std::size_t N>
class ByteArrayFields {
  public:
    ByteArrayFields(JNIEnv* env, jclass cls, jobject object, const FieldName (&fields)[N])
        : env_(env) {
        jfieldID ids[N];
        for (std::size_t i = 0; i < N; ++i) {
            ids[i] = findField(env, cls, fields[i].name, "[B", fields[i].missing);
        }
        for (std::size_t i = 0; i < N; ++i) {
            arrays_[i] = static_cast<jbyteArray>(env->GetObjectField(object, ids[i]));
        }
    }
    ByteArrayFields(const ByteArrayFields&) = delete;
    ByteArrayFields& operator=(const ByteArrayFields&) = delete;
    ~ByteArrayFields() {
        for (jbyteArray array : arrays_) {
            if (array != nullptr) env_->DeleteLocalRef(array);
        }
    }
    void requireNonNull(std::initializer_list<NullCheck> checks) const {
        for (const NullCheck& check : checks) {
            if (arrays_[check.field] == nullptr) fail(check.message);
        }
    }
    jbyteArray operator[](std::size_t field) const { return arrays_[field]; }
    jsize length(std::size_t field) const { return env_->GetArrayLength(arrays_[field]); }
    ByteCopy copy(std::size_t field) const { return copyWhole(env_, arrays_[field]); }

  private:
    JNIEnv* env_;
    jbyteArray arrays_[N] = {};
};

void buildKeyDerivationString(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kKeyDerivationStringData));
    LocalRef<jbyteArray> data(env, byteArrayField(env, cls.get(), parameter, "data",
                                                  "Mechanism2CKMechanism - Field data not found"));
    if (!data) fail("Mechanism2CKMechanism - jData  is NULL");

    auto record = newRecord<CK_KEY_DERIVATION_STRING_DATA>();
    ByteCopy copy = copyWhole(env, data.get());
    record->pData = copy.data.release();
    record->ulLen = copy.length;
    publish(mechanism, std::move(record));
}

void buildExtract(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    buildSingleValue(env, parameter, mechanism, kExtractParams, "parameter",
                     "Mechanism2CKMechanism - Field parameter not found");
}

// The client and server random data of both SSL 3.0 derivations, which read
// them under different field names.
struct RandomFieldNames {
    const char* client;
    const char* clientMissing;
    const char* server;
    const char* serverMissing;
};

const RandomFieldNames kMasterKeyRandomNames = {
    "m_clientRandom", "Mechanism2CKMechanism - Field m_clientRandom not found", "m_serverRandom",
    "Mechanism2CKMechanism - Field m_serverRandom not found"};
const RandomFieldNames kKeyMatRandomNames = {
    "clientRandom", "Mechanism2CKMechanism - Field clientRandom not found", "serverRandom",
    "Mechanism2CKMechanism - Field serverRandom not found"};

class RandomArrays {
  public:
    RandomArrays(JNIEnv* env, jobject randomInfo, const RandomFieldNames& names)
        : cls_(env, findClass(env, "qorvik/params/SSL3RANDOMDATA",
                              "Mechanism2CKMechanism - Class 'Pkcs11SSL3RANDOMDATA' not found")),
          clientField_(findField(env, cls_.get(), names.client, "[B", names.clientMissing)),
          serverField_(findField(env, cls_.get(), names.server, "[B", names.serverMissing)),
          client_(env, static_cast<jbyteArray>(env->GetObjectField(randomInfo, clientField_))),
          server_(env, static_cast<jbyteArray>(env->GetObjectField(randomInfo, serverField_))) {
        if (!client_) fail("Mechanism2CKMechanism - jClientRandom  is NULL");
        if (!server_) fail("Mechanism2CKMechanism - jServerRandom  is NULL");
    }

    // Whole copies of both arrays; `random` takes them once all exist.
    struct Copies {
        ByteCopy client;
        ByteCopy server;
        void moveInto(CK_SSL3_RANDOM_DATA& random) {
            random.pClientRandom = client.data.release();
            random.ulClientRandomLen = client.length;
            random.pServerRandom = server.data.release();
            random.ulServerRandomLen = server.length;
        }
    };
    Copies copy(JNIEnv* env) const {
        ByteCopy client = copyWhole(env, client_.get());
        ByteCopy server = copyWhole(env, server_.get());
        return {std::move(client), std::move(server)};
    }

  private:
    LocalRef<jclass> cls_;
    jfieldID clientField_;
    jfieldID serverField_;
    LocalRef<jbyteArray> client_;
    LocalRef<jbyteArray> server_;
};

void buildSsl3MasterKeyDerive(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kSsl3MasterKeyDeriveParams));
    jfieldID versionField = findField(env, cls.get(), "m_version", "Lqorvik/Version;",
                                      "Mechanism2CKMechanism - Field m_version not found");
    jfieldID randomField =
        findField(env, cls.get(), "m_randomInfo", "Lqorvik/params/SSL3RANDOMDATA;",
                  "Mechanism2CKMechanism - Field m_randomInfo not found");
    LocalRef<jobject> version(env, env->GetObjectField(parameter, versionField));
    LocalRef<jobject> randomInfo(env, env->GetObjectField(parameter, randomField));
    if (!version) fail("Mechanism2CKMechanism - jVersion  is NULL");
    if (!randomInfo) fail("Mechanism2CKMechanism - jRandomInfo  is NULL");

    LocalRef<jclass> versionClass(
        env, findClass(env, "qorvik/Version",
                       "Mechanism2CKMechanism - Class 'qorvik/Version' not found"));
    jfieldID majorField = findField(env, versionClass.get(), "m_majorVersion", "I",
                                    "Mechanism2CKMechanism - Field m_majorVersion not found");
    jfieldID minorField = findField(env, versionClass.get(), "m_minorVersion", "I",
                                    "Mechanism2CKMechanism - Field m_minorVersion not found");
    const CK_BYTE major = static_cast<CK_BYTE>(env->GetIntField(version.get(), majorField));
    const CK_BYTE minor = static_cast<CK_BYTE>(env->GetIntField(version.get(), minorField));
    const RandomArrays random(env, randomInfo.get(), kMasterKeyRandomNames);

    auto record = newRecord<CK_SSL3_MASTER_KEY_DERIVE_PARAMS>();
    auto versionRecord = newRecord<CK_VERSION>();
    versionRecord->major = major;
    versionRecord->minor = minor;
    random.copy(env).moveInto(record->RandomInfo);
    record->pVersion = versionRecord.release();
    publish(mechanism, std::move(record));
}

// The module writes each IV of the key material into its buffer: at least
// the 8 bytes of the classic ciphers, more when the caller asks for a longer IV.
std::size_t keyMatIvSize(jint ivSizeInBits) {
    const std::size_t bytes =
        ivSizeInBits > 0 ? (static_cast<std::size_t>(ivSizeInBits) + 7) / 8 : 0;
    return std::max<std::size_t>(8, bytes);
}

void buildSsl3KeyAndMacDerive(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kSsl3KeyMatParams));
    jfieldID keyMatField =
        findField(env, cls.get(), "returnedKeyMaterial", "Lqorvik/params/SSL3KEYMATOUT;",
                  "Mechanism2CKMechanism - Field returnedKeyMaterial not found");
    jfieldID randomField = findField(env, cls.get(), "randomInfo", "Lqorvik/params/SSL3RANDOMDATA;",
                                     "Mechanism2CKMechanism - Field randomInfo not found");
    jfieldID exportField = findField(env, cls.get(), "isExport", "Ljava/lang/Boolean;",
                                     "Mechanism2CKMechanism - Field isExport not found");
    jfieldID keySizeField = findField(env, cls.get(), "keySizeInBits", "I",
                                      "Mechanism2CKMechanism - Field keySizeInBits not found");
    jfieldID macSizeField = findField(env, cls.get(), "macSizeInBits", "I",
                                      "Mechanism2CKMechanism - Field macSizeInBits not found");
    jfieldID ivSizeField = findField(env, cls.get(), "ivSizeInBits", "I",
                                     "Mechanism2CKMechanism - Field ivSizeInBits not found");
    const jint macSize = env->GetIntField(parameter, macSizeField);
    const jint keySize = env->GetIntField(parameter, keySizeField);
    const jint ivSize = env->GetIntField(parameter, ivSizeField);

    LocalRef<jobject> randomInfo(env, env->GetObjectField(parameter, randomField));
    LocalRef<jobject> isExport(env, env->GetObjectField(parameter, exportField));
    LocalRef<jobject> keyMat(env, env->GetObjectField(parameter, keyMatField));
    if (!randomInfo) fail("Mechanism2CKMechanism - jRandomInfo  is NULL");
    if (!isExport) fail("Mechanism2CKMechanism - jIsExport  is NULL");
    if (!keyMat) fail("Mechanism2CKMechanism - jReturnedKeyMaterial  is NULL");
    const CK_BBOOL exportable =
        booleanValue(env, isExport.get(), "Mechanism2CKMechanism - Class 'Boolean' not found",
                     "Mechanism2CKMechanism - boolValue is NULL");
    const RandomArrays random(env, randomInfo.get(), kKeyMatRandomNames);

    LocalRef<jclass> keyMatClass(
        env, findClass(env, "qorvik/params/SSL3KEYMATOUT",
                       "Mechanism2CKMechanism - Class 'Pkcs11SSL3KEYMATOUT' not found"));
    const CK_ULONG clientKey = intField(env, keyMatClass.get(), keyMat.get(), "hClientKey",
                                        "Mechanism2CKMechanism - Field hClientKey not found");
    const CK_ULONG clientMacSecret =
        intField(env, keyMatClass.get(), keyMat.get(), "hClientMacSecret",
                 "Mechanism2CKMechanism - Field hClientMacSecret not found");
    const CK_ULONG serverKey = intField(env, keyMatClass.get(), keyMat.get(), "hServerKey",
                                        "Mechanism2CKMechanism - Field hServerKey not found");
    const CK_ULONG serverMacSecret =
        intField(env, keyMatClass.get(), keyMat.get(), "hServerMacSecret",
                 "Mechanism2CKMechanism - Field hServerMacSecret not found");
    LocalRef<jbyteArray> ivClient(
        env, byteArrayField(env, keyMatClass.get(), keyMat.get(), "ivClient",
                            "Mechanism2CKMechanism - Field ivClient not found"));
    LocalRef<jbyteArray> ivServer(
        env, byteArrayField(env, keyMatClass.get(), keyMat.get(), "ivServer",
                            "Mechanism2CKMechanism - Field ivServer not found"));

    auto record = newRecord<CK_SSL3_KEY_MAT_PARAMS>();
    RandomArrays::Copies randomCopies = random.copy(env);
    auto out = newRecord<CK_SSL3_KEY_MAT_OUT>();
    const std::size_t ivBytes = keyMatIvSize(ivSize);
    Owned<CK_BYTE> clientIv = seededBuffer(env, ivClient.get(), ivBytes);
    Owned<CK_BYTE> serverIv = seededBuffer(env, ivServer.get(), ivBytes);

    record->ulMacSizeInBits = static_cast<CK_ULONG>(static_cast<long>(macSize));
    record->ulKeySizeInBits = static_cast<CK_ULONG>(static_cast<long>(keySize));
    record->ulIVSizeInBits = static_cast<CK_ULONG>(static_cast<long>(ivSize));
    record->bIsExport = exportable;
    randomCopies.moveInto(record->RandomInfo);
    out->hClientMacSecret = clientMacSecret;
    out->hServerMacSecret = serverMacSecret;
    out->hClientKey = clientKey;
    out->hServerKey = serverKey;
    out->pIVClient = clientIv.release();
    out->pIVServer = serverIv.release();
    record->pReturnedKeyMaterial = out.release();
    publish(mechanism, std::move(record));
}

// The init vector is a buffer the module fills with the IV it derives.
constexpr std::size_t kPbeInitVectorLength = 8;

void buildPbe(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kPbeParams));
    jfieldID initVectorField = findField(env, cls.get(), "m_initVector", "[C",
                                         "Mechanism2CKMechanism - m_initVector field not found");
    jfieldID passwordField = findField(env, cls.get(), "m_password", "[C",
                                       "Mechanism2CKMechanism - m_password field not found");
    jfieldID saltField =
        findField(env, cls.get(), "m_salt", "[C", "Mechanism2CKMechanism - m_salt field not found");
    const CK_ULONG iteration = intField(env, cls.get(), parameter, "m_iteration",
                                        "Mechanism2CKMechanism - m_iteration field not found");
    LocalRef<jcharArray> initVector(
        env, static_cast<jcharArray>(env->GetObjectField(parameter, initVectorField)));
    LocalRef<jcharArray> password(
        env, static_cast<jcharArray>(env->GetObjectField(parameter, passwordField)));
    LocalRef<jcharArray> salt(env,
                              static_cast<jcharArray>(env->GetObjectField(parameter, saltField)));
    if (!password) fail("Mechanism2CKMechanism - jPassword is NULL");
    if (!salt) fail("Mechanism2CKMechanism - jSalt is NULL");

    const jsize passwordLength = env->GetArrayLength(password.get());
    const jsize saltLength = env->GetArrayLength(salt.get());
    Owned<CK_BYTE> passwordBytes =
        narrowedChars(env, password.get(), passwordLength, 0,
                      "Mechanism2CKMechanism - password character out of range");
    Owned<CK_BYTE> saltBytes = narrowedChars(env, salt.get(), saltLength, 0,
                                             "Mechanism2CKMechanism - salt character out of range");
    Owned<CK_BYTE> initVectorBytes;
    if (initVector) {
        const jsize seeded = std::min<jsize>(env->GetArrayLength(initVector.get()),
                                             static_cast<jsize>(kPbeInitVectorLength));
        initVectorBytes =
            narrowedChars(env, initVector.get(), seeded, kPbeInitVectorLength,
                          "Mechanism2CKMechanism - init vector character out of range");
    }

    auto record = newRecord<CK_PBE_PARAMS>();
    record->pInitVector = initVectorBytes.release();
    record->pPassword = passwordBytes.release();
    record->ulPasswordLen = static_cast<CK_ULONG>(passwordLength);
    record->pSalt = saltBytes.release();
    record->ulSaltLen = static_cast<CK_ULONG>(saltLength);
    record->ulIteration = iteration;
    publish(mechanism, std::move(record));
}

void buildKeyWrapSetOaep(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kKeyWrapSetOaepParams));
    jfieldID bcField =
        findField(env, cls.get(), "m_bBC", "B", "Mechanism2CKMechanism - m_bBC field not found");
    LocalRef<jbyteArray> xData(env,
                               byteArrayField(env, cls.get(), parameter, "m_xData",
                                              "Mechanism2CKMechanism - m_xData field not found"));
    const CK_BYTE bc = static_cast<CK_BYTE>(env->GetByteField(parameter, bcField));
    if (!xData) fail("Mechanism2CKMechanism - jXData is NULL");

    auto record = newRecord<CK_KEY_WRAP_SET_OAEP_PARAMS>();
    ByteCopy x = copyWhole(env, xData.get());
    record->bBC = bc;
    record->pX = x.data.release();
    record->ulXLen = x.length;
    publish(mechanism, std::move(record));
}

void buildSkipjackPrivateWrap(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kSkipjackPrivateWrapParams));
    enum { Password, PublicData, RandomA, PrimeP, BaseG, SubprimeQ };
    const ByteArrayFields<6> arrays(
        env, cls.get(), parameter,
        {{"m_password", "Mechanism2CKMechanism - m_password field not found"},
         {"m_publicData", "Mechanism2CKMechanism - m_publicData field not found"},
         {"m_randomA", "Mechanism2CKMechanism - m_randomA field not found"},
         {"m_primeP", "Mechanism2CKMechanism - m_primeP field not found"},
         {"m_baseG", "Mechanism2CKMechanism - m_baseG field not found"},
         {"m_subPrimeQ", "Mechanism2CKMechanism - m_subPrimeQ field not found"}});
    arrays.requireNonNull({{Password, "Mechanism2CKMechanism - jPassword is NULL"},
                           {PublicData, "Mechanism2CKMechanism - jPublicData is NULL"},
                           {RandomA, "Mechanism2CKMechanism - jRandomA is NULL"},
                           {PrimeP, "Mechanism2CKMechanism - jPrimeP is NULL"},
                           {SubprimeQ, "Mechanism2CKMechanism - jSubPrimeQ is NULL"},
                           {BaseG, "Mechanism2CKMechanism - jBaseG is NULL"}});
    // P and G share one length, the length of G.
    const jsize pAndGLength = arrays.length(BaseG);
    if (arrays.length(PrimeP) < pAndGLength) fail("Mechanism2CKMechanism - m_primeP is too short");

    auto record = newRecord<CK_SKIPJACK_PRIVATE_WRAP_PARAMS>();
    ByteCopy password = arrays.copy(Password);
    ByteCopy publicData = arrays.copy(PublicData);
    ByteCopy randomA = arrays.copy(RandomA);
    ByteCopy baseG = arrays.copy(BaseG);
    Owned<CK_BYTE> primeP = copyBytes(env, arrays[PrimeP], pAndGLength);
    ByteCopy subprimeQ = arrays.copy(SubprimeQ);
    record->ulPasswordLen = password.length;
    record->pPassword = password.data.release();
    record->ulPublicDataLen = publicData.length;
    record->pPublicData = publicData.data.release();
    record->ulPAndGLen = baseG.length;
    record->ulQLen = subprimeQ.length;
    record->ulRandomLen = randomA.length;
    record->pRandomA = randomA.data.release();
    record->pPrimeP = primeP.release();
    record->pBaseG = baseG.data.release();
    record->pSubprimeQ = subprimeQ.data.release();
    publish(mechanism, std::move(record));
}

void buildSkipjackRelayx(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kSkipjackRelayxParams));
    enum {
        OldWrappedX,
        OldPassword,
        OldPublicData,
        OldRandomA,
        NewPassword,
        NewPublicData,
        NewRandomA
    };
    const ByteArrayFields<7> arrays(
        env, cls.get(), parameter,
        {{"m_oldWrappedX", "Mechanism2CKMechanism - m_oldWrappedX field not found"},
         {"m_oldPassword", "Mechanism2CKMechanism - m_oldPassword field not found"},
         {"m_oldPublicData", "Mechanism2CKMechanism - m_oldPublicData field not found"},
         {"m_oldRandomA", "Mechanism2CKMechanism - m_oldRandomA field not found"},
         {"m_newPassword", "Mechanism2CKMechanism - m_newPassword field not found"},
         {"m_newPublicData", "Mechanism2CKMechanism - m_newPublicData field not found"},
         {"m_newRandomA", "Mechanism2CKMechanism - m_newRandomA field not found"}});
    arrays.requireNonNull({{OldPassword, "Mechanism2CKMechanism - jOldPassword  is NULL"},
                           {OldPublicData, "Mechanism2CKMechanism - jOldPublicData is NULL"},
                           {OldRandomA, "Mechanism2CKMechanism - jOldRandomA is NULL"},
                           {OldWrappedX, "Mechanism2CKMechanism - jOldWrappedX is NULL"},
                           {NewPassword, "Mechanism2CKMechanism - jNewPassword is NULL"},
                           {NewPublicData, "Mechanism2CKMechanism - jNewPublicData is NULL"},
                           {NewRandomA, "Mechanism2CKMechanism - jNewRandomA is NULL"}});

    auto record = newRecord<CK_SKIPJACK_RELAYX_PARAMS>();
    ByteCopy oldWrappedX = arrays.copy(OldWrappedX);
    ByteCopy oldPassword = arrays.copy(OldPassword);
    ByteCopy oldPublicData = arrays.copy(OldPublicData);
    ByteCopy oldRandomA = arrays.copy(OldRandomA);
    ByteCopy newPassword = arrays.copy(NewPassword);
    ByteCopy newPublicData = arrays.copy(NewPublicData);
    ByteCopy newRandomA = arrays.copy(NewRandomA);
    record->ulOldWrappedXLen = oldWrappedX.length;
    record->pOldWrappedX = oldWrappedX.data.release();
    record->ulOldPasswordLen = oldPassword.length;
    record->pOldPassword = oldPassword.data.release();
    record->ulOldPublicDataLen = oldPublicData.length;
    record->pOldPublicData = oldPublicData.data.release();
    record->ulOldRandomLen = oldRandomA.length;
    record->pOldRandomA = oldRandomA.data.release();
    record->ulNewPasswordLen = newPassword.length;
    record->pNewPassword = newPassword.data.release();
    record->ulNewPublicDataLen = newPublicData.length;
    record->pNewPublicData = newPublicData.data.release();
    record->ulNewRandomLen = newRandomA.length;
    record->pNewRandomA = newRandomA.data.release();
    publish(mechanism, std::move(record));
}

void buildKeaDerive(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, kKeaDeriveParams));
    jfieldID senderField = findField(env, cls.get(), "isSender", "Ljava/lang/Boolean;",
                                     "Mechanism2CKMechanism - isSender field not found");
    enum { RandomA, RandomB, PublicData };
    const ByteArrayFields<3> arrays(
        env, cls.get(), parameter,
        {{"randomA", "Mechanism2CKMechanism - randomA field not found"},
         {"randomB", "Mechanism2CKMechanism - randomB field not found"},
         {"publicData", "Mechanism2CKMechanism - publicData field not found"}});
    LocalRef<jobject> isSender(env, env->GetObjectField(parameter, senderField));
    if (!isSender) fail("Mechanism2CKMechanism - jIsSender is NULL");
    const CK_BBOOL sender = booleanValue(
        env, isSender.get(), "Mechanism2CKMechanism - Class 'java/lang/Boolean' not found",
        "Mechanism2CKMechanism - boolValue method not found");
    arrays.requireNonNull({{RandomA, "Mechanism2CKMechanism - jRandomA  is NULL"},
                           {RandomB, "Mechanism2CKMechanism - jRandomB is NULL"},
                           {PublicData, "Mechanism2CKMechanism - jPublicData is NULL"}});
    // Both randoms share one length, the length of A.
    const jsize randomLength = arrays.length(RandomA);
    if (arrays.length(RandomB) < randomLength) fail("Mechanism2CKMechanism - randomB is too short");

    auto record = newRecord<CK_KEA_DERIVE_PARAMS>();
    ByteCopy randomA = arrays.copy(RandomA);
    Owned<CK_BYTE> randomB = copyBytes(env, arrays[RandomB], randomLength);
    ByteCopy publicData = arrays.copy(PublicData);
    record->isSender = sender;
    record->ulRandomLen = randomA.length;
    record->pRandomA = randomA.data.release();
    record->pRandomB = randomB.release();
    record->ulPublicDataLen = publicData.length;
    record->pPublicData = publicData.data.release();
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
    pMechanism->mechanism =
        static_cast<CK_MECHANISM_TYPE>(static_cast<long>(env->GetIntField(jMechanism, typeField)));

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
    freeRecordMembers(pMechanism->mechanism, pMechanism->pParameter);
    std::free(pMechanism->pParameter);
    return 0;
}

}  // extern "C"
