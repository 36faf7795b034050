// Parameter records of the key-derivation, key-wrapping and password-based
// mechanisms.
#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <new>
#include <vector>

#include "MechanismRows.h"

namespace mechanism_rows {
namespace {

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

}  // namespace

// ---- Key-derivation, key-wrapping and password-based rows ------------------------

// A zeroed buffer of `size` bytes that the module writes into, seeded with
// as many leading bytes of the array as fit (a null array seeds nothing).
Owned<CK_BYTE> seededBuffer(JNIEnv* env, jbyteArray array, std::size_t size) {
    void* p = std::calloc(size, 1);
    if (p == nullptr) throw std::bad_alloc();
    Owned<CK_BYTE> block(static_cast<CK_BYTE*>(p));
    if (array == nullptr) return block;
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
    const jboolean value = env->CallBooleanMethod(boolean, method);
    // What the call threw stays pending for the caller; nothing more is asked of the JVM.
    if (env->ExceptionCheck()) throw AlreadyReported{};
    return value ? CK_TRUE : CK_FALSE;
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

// No cipher has a longer IV; the size comes from the caller and sizes two
// buffers per conversion.
constexpr jint kMaxIvSizeInBits = 1024;

// The module writes each IV of the key material into its buffer: at least
// the 8 bytes of the classic ciphers, more when the caller asks for a longer IV.
std::size_t keyMatIvSize(jint ivSizeInBits) {
    const std::size_t bytes = (static_cast<std::size_t>(ivSizeInBits) + 7) / 8;
    return std::max<std::size_t>(8, bytes);
}

// An IV buffer of the key material: whenever IVs are asked for, the module
// writes them, whether or not Java supplied arrays to seed them from.
Owned<CK_BYTE> keyMatIv(JNIEnv* env, jbyteArray array, jint ivSizeInBits) {
    if (ivSizeInBits == 0 && array == nullptr) return nullptr;
    return seededBuffer(env, array, keyMatIvSize(ivSizeInBits));
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
    // Sizes, not identifiers: a negative one would reach the module as a huge
    // size, and the module writes ivSizeInBits / 8 bytes into each IV buffer.
    if (macSize < 0) fail("Mechanism2CKMechanism - macSizeInBits out of range");
    if (keySize < 0) fail("Mechanism2CKMechanism - keySizeInBits out of range");
    if (ivSize < 0 || ivSize > kMaxIvSizeInBits) {
        fail("Mechanism2CKMechanism - ivSizeInBits out of range");
    }

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
    Owned<CK_BYTE> clientIv = keyMatIv(env, ivClient.get(), ivSize);
    Owned<CK_BYTE> serverIv = keyMatIv(env, ivServer.get(), ivSize);

    record->ulMacSizeInBits = static_cast<CK_ULONG>(macSize);
    record->ulKeySizeInBits = static_cast<CK_ULONG>(keySize);
    record->ulIVSizeInBits = static_cast<CK_ULONG>(ivSize);
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

}  // namespace mechanism_rows
