// Mechanism records: the dispatch on the type, each row's parameter record
// byte for byte, each row's failures, and the freeing of what was built.
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BridgeTest.h"
#include "convert/Mechanism.h"

namespace kt {
namespace {

const std::string kIv8 = std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
const std::string kIv16 = kIv8 + std::string("\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8", 8);

template <typename T>
std::string bytesOfRecord(const T& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

std::string parameterBytes(const CK_MECHANISM& m) {
    return m.pParameter ? std::string(static_cast<const char*>(m.pParameter), m.ulParameterLen)
                        : std::string();
}

std::string bytesAt(const void* p, CK_ULONG length) {
    return p ? std::string(static_cast<const char*>(p), length) : std::string("<null>");
}

// The types of every row, as the dispatch table lists them.
const std::vector<CK_MECHANISM_TYPE> kIvTypes = {
    CKM_DES_CBC,      CKM_DES_CBC_PAD,   CKM_DES3_CBC,     CKM_DES3_CBC_PAD, CKM_CDMF_CBC,
    CKM_CDMF_CBC_PAD, CKM_CAST_CBC,      CKM_CAST_CBC_PAD, CKM_CAST3_CBC,    CKM_CAST3_CBC_PAD,
    CKM_CAST5_CBC,    CKM_CAST5_CBC_PAD, CKM_IDEA_CBC,     CKM_IDEA_CBC_PAD};
const std::vector<CK_MECHANISM_TYPE> kMacGeneralTypes = {
    CKM_DES_MAC_GENERAL,        CKM_DES3_MAC_GENERAL,       CKM_CDMF_MAC_GENERAL,
    CKM_MD2_HMAC_GENERAL,       CKM_MD5_HMAC_GENERAL,       CKM_SHA_1_HMAC_GENERAL,
    CKM_RIPEMD128_HMAC_GENERAL, CKM_RIPEMD160_HMAC_GENERAL, CKM_CAST_MAC_GENERAL,
    CKM_CAST3_MAC_GENERAL,      CKM_CAST5_MAC_GENERAL,      CKM_IDEA_MAC_GENERAL,
    CKM_SSL3_MD5_MAC,           CKM_SSL3_SHA1_MAC};

// Key derivation, wrapping and password-based types, with their parameter
// class.
struct DerivationRow {
    CK_MECHANISM_TYPE type;
    const char* parameterClass;
};
const std::vector<CK_MECHANISM_TYPE> kPbeTypes = {
    CKM_PBE_MD2_DES_CBC,         CKM_PBE_MD5_DES_CBC,         CKM_PBE_MD5_CAST_CBC,
    CKM_PBE_MD5_CAST3_CBC,       CKM_PBE_MD5_CAST5_CBC,       CKM_PBE_SHA1_CAST5_CBC,
    CKM_PBE_SHA1_RC4_128,        CKM_PBE_SHA1_RC4_40,         CKM_PBE_SHA1_DES3_EDE_CBC,
    CKM_PBE_SHA1_DES2_EDE_CBC,   CKM_PBE_SHA1_RC2_128_CBC,    CKM_PBE_SHA1_RC2_40_CBC};
std::vector<DerivationRow> derivationRows() {
    std::vector<DerivationRow> rows = {
        {CKM_CONCATENATE_BASE_AND_DATA, "qorvik/params/KEYDERIVATIONSTRINGDATA"},
        {CKM_CONCATENATE_DATA_AND_BASE, "qorvik/params/KEYDERIVATIONSTRINGDATA"},
        {CKM_XOR_BASE_AND_DATA, "qorvik/params/KEYDERIVATIONSTRINGDATA"},
        {CKM_EXTRACT_KEY_FROM_KEY, "qorvik/params/EXTRACTParams"},
        {CKM_SSL3_MASTER_KEY_DERIVE, "qorvik/params/SSL3MASTERKEYDERIVEParams"},
        {CKM_SSL3_KEY_AND_MAC_DERIVE, "qorvik/params/SSL3KEYMATParams"},
        {CKM_KEY_WRAP_SET_OAEP, "qorvik/params/KEYWRAPSETOAEPParams"},
        {CKM_SKIPJACK_PRIVATE_WRAP, "qorvik/params/SKIPJACKPRIVATEWRAPParams"},
        {CKM_SKIPJACK_RELAYX, "qorvik/params/SKIPJACKRELAYXParams"},
        {CKM_KEA_KEY_DERIVE, "qorvik/params/KeaDeriveParams"}};
    for (CK_MECHANISM_TYPE t : kPbeTypes) rows.push_back({t, "qorvik/params/PBEParams"});
    return rows;
}

class MechanismTest : public BridgeTest {
  protected:
    // new <classPath>(args...) through the constructor of that signature.
    jobject construct(const char* classPath, const char* signature, ...) {
        jclass cls = env->FindClass(classPath);
        if (cls == nullptr) {
            env->ExceptionClear();
            ADD_FAILURE() << "class not found: " << classPath;
            return nullptr;
        }
        jmethodID ctor = env->GetMethodID(cls, "<init>", signature);
        EXPECT_NE(ctor, nullptr) << classPath << signature;
        va_list args;
        va_start(args, signature);
        jobject obj = ctor ? env->NewObjectV(cls, ctor, args) : nullptr;
        va_end(args);
        env->DeleteLocalRef(cls);
        return obj;
    }
    jobject mechanism(CK_MECHANISM_TYPE type, jobject parameter) {
        return construct("qorvik/Mechanism", "(ILjava/lang/Object;)V", static_cast<jint>(type),
                         parameter);
    }
    jobject oaep(jint hash, jint mgf, jint source, jobject data) {
        return construct("qorvik/params/OAEPParams", "(III[B)V", hash, mgf, source, data);
    }
    jobject rc2(jint bits) { return construct("qorvik/params/RC2Params", "(I)V", bits); }
    jobject rc2Cbc(jint bits, jobject iv) {
        return construct("qorvik/params/RC2CBCParams", "(I[B)V", bits, iv);
    }
    jobject rc2MacGeneral(jint bits, jint macLength) {
        return construct("qorvik/params/RC2MACGENERALParams", "(II)V", bits, macLength);
    }
    jobject macGeneral(jint macLength) {
        return construct("qorvik/params/MACGENERALParams", "(I)V", macLength);
    }
    jobject rc5(jint wordSize, jint rounds) {
        return construct("qorvik/params/RC5Params", "(II)V", wordSize, rounds);
    }
    jobject rc5Cbc(jint wordSize, jint rounds, jobject iv) {
        return construct("qorvik/params/RC5CBCParams", "(II[B)V", wordSize, rounds, iv);
    }
    jobject rc5MacGeneral(jint wordSize, jint rounds, jint macLength) {
        return construct("qorvik/params/RC5MACGENERALParams", "(III)V", wordSize, rounds,
                         macLength);
    }

    jobject keyDerivationString(jobject data) {
        return construct("qorvik/params/KEYDERIVATIONSTRINGDATA", "([B)V", data);
    }
    jobject extract(jint bitIndex) {
        return construct("qorvik/params/EXTRACTParams", "(I)V", bitIndex);
    }
    jobject version(jint major, jint minor) {
        return construct("qorvik/Version", "(II)V", minor, major);
    }
    jobject randomData(jobject client, jobject server) {
        return construct("qorvik/params/SSL3RANDOMDATA", "([B[B)V", client, server);
    }
    jobject masterKey(jobject version, jobject random) {
        return construct("qorvik/params/SSL3MASTERKEYDERIVEParams",
                         "(Lqorvik/Version;Lqorvik/params/SSL3RANDOMDATA;)V", version, random);
    }
    jobject keyMatOut(jobject ivClient, jobject ivServer) {
        return construct("qorvik/params/SSL3KEYMATOUT", "([B[B)V", ivClient, ivServer);
    }
    jobject keyMat(jint macBits, jint keyBits, jint ivBits, bool isExport, jobject random,
                   jobject out) {
        return construct("qorvik/params/SSL3KEYMATParams",
                         "(IIIZLqorvik/params/SSL3RANDOMDATA;Lqorvik/params/SSL3KEYMATOUT;)V",
                         macBits, keyBits, ivBits, isExport ? JNI_TRUE : JNI_FALSE, random, out);
    }
    jobject pbe(jobject initVector, jobject password, jobject salt, jint iteration) {
        return construct("qorvik/params/PBEParams", "([C[C[CI)V", initVector, password, salt,
                         iteration);
    }
    jobject keyWrapSetOaep(jbyte bc, jobject x) {
        return construct("qorvik/params/KEYWRAPSETOAEPParams", "(B[B)V", bc, x);
    }
    jobject skipjackPrivateWrap(jobject password, jobject publicData, jobject randomA,
                                jobject primeP, jobject baseG, jobject subprimeQ) {
        return construct("qorvik/params/SKIPJACKPRIVATEWRAPParams", "([B[B[B[B[B[B)V", password,
                         publicData, randomA, primeP, baseG, subprimeQ);
    }
    jobject skipjackRelayx(const std::vector<jobject>& arrays) {
        EXPECT_EQ(arrays.size(), 7u);
        return construct("qorvik/params/SKIPJACKRELAYXParams", "([B[B[B[B[B[B[B)V", arrays[0],
                         arrays[1], arrays[2], arrays[3], arrays[4], arrays[5], arrays[6]);
    }
    jobject kea(bool isSender, jobject randomA, jobject randomB, jobject publicData) {
        return construct("qorvik/params/KeaDeriveParams", "(Z[B[B[B)V",
                         isSender ? JNI_TRUE : JNI_FALSE, randomA, randomB, publicData);
    }

    // A char[] holding the UTF-16 units of s.
    jcharArray javaChars(const std::u16string& s) {
        jcharArray array = env->NewCharArray(static_cast<jsize>(s.size()));
        env->SetCharArrayRegion(array, 0, static_cast<jsize>(s.size()),
                                reinterpret_cast<const jchar*>(s.data()));
        return array;
    }
    // Sets a public field the constructors do not reach (handles, a null Boolean).
    void setField(jobject object, const char* name, const char* signature, jobject value) {
        jclass cls = env->GetObjectClass(object);
        jfieldID id = env->GetFieldID(cls, name, signature);
        ASSERT_NE(id, nullptr) << name;
        env->SetObjectField(object, id, value);
        env->DeleteLocalRef(cls);
    }
    void setIntField(jobject object, const char* name, jint value) {
        jclass cls = env->GetObjectClass(object);
        jfieldID id = env->GetFieldID(cls, name, "I");
        ASSERT_NE(id, nullptr) << name;
        env->SetIntField(object, id, value);
        env->DeleteLocalRef(cls);
    }

    // The message of the conversion's failure; a failed conversion must leave
    // no parameter behind.
    std::string failureOf(jobject jMechanism) {
        CK_MECHANISM m{0, nullptr, 0};
        try {
            Mechanism2CKMechanism(env, jMechanism, &m);
        } catch (const MessageFailure& f) {
            EXPECT_EQ(m.pParameter, nullptr);
            EXPECT_EQ(m.ulParameterLen, 0u);
            EXPECT_FALSE(env->ExceptionCheck()) << "a lookup left its error pending";
            return f.message;
        }
        FreeMechanism(&m);
        return "<converted>";
    }
};

// ---- Dispatch -----------------------------------------------------------------

TEST_F(MechanismTest, TypesOutsideTheTableTakeNoParameterWhateverItHolds) {
    const std::vector<std::pair<CK_MECHANISM_TYPE, jobject>> cases = {
        {CKM_SHA_1, javaBytes(kIv16)},  {CKM_AES_CBC, javaBytes(kIv16)},
        {CKM_RSA_PKCS, macGeneral(10)}, {CKM_RSA_PKCS_PSS, javaInteger(3)},
        {CKM_SHA256_RSA_PKCS, nullptr}, {CKM_ECDSA, oaep(1, 2, 3, nullptr)}};
    for (const auto& [type, parameter] : cases) {
        MechanismRecord record(env, mechanism(type, parameter));
        EXPECT_EQ(record.get()->mechanism, type);
        EXPECT_EQ(record.get()->pParameter, nullptr) << "type 0x" << std::hex << type;
        EXPECT_EQ(record.get()->ulParameterLen, 0u);
    }
}

TEST_F(MechanismTest, VendorTypesWidenWithTheirSign) {
    MechanismRecord record(env, mechanism(0x80000123u, javaBytes(kIv8)));
    // The int -2147483357 as a CK_ULONG: every bit above 31 set.
    EXPECT_EQ(record.get()->mechanism, ~CK_ULONG(0) - 0x7FFFFEDCu);
    EXPECT_EQ(record.get()->pParameter, nullptr);
}

TEST_F(MechanismTest, NullMechanismObjectFails) {
    EXPECT_EQ(failureOf(nullptr), "Mechanism2CKMechanism - mechanism is NULL");
}

TEST_F(MechanismTest, EveryListedTypeRefusesANullParameter) {
    std::vector<CK_MECHANISM_TYPE> types = {
        CKM_RSA_PKCS_OAEP, CKM_RC2_ECB,         CKM_RC2_MAC,        CKM_RC2_CBC,
        CKM_RC2_CBC_PAD,   CKM_RC2_MAC_GENERAL, CKM_RC5_ECB,        CKM_RC5_MAC,
        CKM_RC5_CBC,       CKM_RC5_CBC_PAD,     CKM_RC5_MAC_GENERAL};
    types.insert(types.end(), kIvTypes.begin(), kIvTypes.end());
    types.insert(types.end(), kMacGeneralTypes.begin(), kMacGeneralTypes.end());
    for (const DerivationRow& row : derivationRows()) types.push_back(row.type);
    for (CK_MECHANISM_TYPE type : types) {
        EXPECT_EQ(failureOf(mechanism(type, nullptr)),
                  "Mechanism2CKMechanism - parameter value is NULL")
            << "type 0x" << std::hex << type;
    }
}

// ---- 8-byte IV rows -------------------------------------------------------------

TEST_F(MechanismTest, IvRowsCopyTheFirstEightBytes) {
    for (CK_MECHANISM_TYPE type : kIvTypes) {
        for (const std::string& iv : {kIv8, kIv16}) {
            MechanismRecord record(env, mechanism(type, javaBytes(iv)));
            EXPECT_EQ(record.get()->mechanism, type);
            ASSERT_EQ(record.get()->ulParameterLen, 8u) << "type 0x" << std::hex << type;
            EXPECT_EQ(parameterBytes(*record.get()), kIv8) << "type 0x" << std::hex << type;
        }
    }
}

TEST_F(MechanismTest, IvRowsRefuseShortArraysAndOtherObjects) {
    const std::vector<jobject> refused = {javaBytes(kIv8.substr(0, 7)), javaBytes(""),
                                          javaInteger(8), intArray({1, 2, 3, 4, 5, 6, 7, 8}),
                                          rc2Cbc(64, javaBytes(kIv8))};
    for (CK_MECHANISM_TYPE type : {CKM_DES_CBC, CKM_DES3_CBC_PAD, CKM_CAST3_CBC_PAD}) {
        for (jobject parameter : refused) {
            EXPECT_EQ(failureOf(mechanism(type, parameter)),
                      "Mechanism2CKMechanism - IV must be at least 8 bytes")
                << "type 0x" << std::hex << type;
        }
    }
}

// ---- Class rows -------------------------------------------------------------------

TEST_F(MechanismTest, OaepRecordCarriesItsSourceData) {
    const std::string label = "label\x00\xFF";
    MechanismRecord record(
        env, mechanism(CKM_RSA_PKCS_OAEP,
                       oaep(CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, javaBytes(label))));
    CK_MECHANISM& m = *record.get();
    ASSERT_EQ(m.ulParameterLen, sizeof(CK_RSA_PKCS_OAEP_PARAMS));
    const auto* got = static_cast<const CK_RSA_PKCS_OAEP_PARAMS*>(m.pParameter);
    CK_RSA_PKCS_OAEP_PARAMS expected;
    std::memset(&expected, 0, sizeof expected);
    expected.hashAlg = CKM_SHA256;
    expected.mgf = CKG_MGF1_SHA256;
    expected.source = CKZ_DATA_SPECIFIED;
    expected.pSourceData = got->pSourceData;  // a copy of its own, compared below
    expected.ulSourceDataLen = label.size();
    EXPECT_EQ(parameterBytes(m), bytesOfRecord(expected));
    EXPECT_EQ(bytesAt(got->pSourceData, got->ulSourceDataLen), label);
}

TEST_F(MechanismTest, OaepWithoutSourceDataHasNullPointerAndLengthZero) {
    MechanismRecord record(env, mechanism(CKM_RSA_PKCS_OAEP, oaep(-1, 2, 1, nullptr)));
    CK_RSA_PKCS_OAEP_PARAMS expected;
    std::memset(&expected, 0, sizeof expected);
    expected.hashAlg = ~CK_ULONG(0);  // a negative int keeps its sign
    expected.mgf = 2;
    expected.source = 1;
    EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(expected));

    MechanismRecord empty(env, mechanism(CKM_RSA_PKCS_OAEP, oaep(1, 2, 1, javaBytes(""))));
    const auto* got = static_cast<const CK_RSA_PKCS_OAEP_PARAMS*>(empty.get()->pParameter);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->ulSourceDataLen, 0u);
}

TEST_F(MechanismTest, SingleValueRowsBuildOneCkUlong) {
    for (CK_MECHANISM_TYPE type : {CKM_RC2_ECB, CKM_RC2_MAC}) {
        MechanismRecord record(env, mechanism(type, rc2(40)));
        EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(CK_RC2_PARAMS{40}));
    }
    for (CK_MECHANISM_TYPE type : kMacGeneralTypes) {
        MechanismRecord record(env, mechanism(type, macGeneral(10)));
        EXPECT_EQ(record.get()->mechanism, type);
        EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(CK_MAC_GENERAL_PARAMS{10}))
            << "type 0x" << std::hex << type;
    }
}

TEST_F(MechanismTest, Rc2CbcCopiesExactlyEightIvBytes) {
    for (CK_MECHANISM_TYPE type : {CKM_RC2_CBC, CKM_RC2_CBC_PAD}) {
        for (const std::string& iv : {kIv8, kIv16}) {
            MechanismRecord record(env, mechanism(type, rc2Cbc(128, javaBytes(iv))));
            CK_RC2_CBC_PARAMS expected;
            std::memset(&expected, 0, sizeof expected);
            expected.ulEffectiveBits = 128;
            std::memcpy(expected.iv, kIv8.data(), 8);
            EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(expected));
        }
    }
}

TEST_F(MechanismTest, Rc2CbcRefusesAMissingOrShortIv) {
    EXPECT_EQ(failureOf(mechanism(CKM_RC2_CBC, rc2Cbc(128, nullptr))),
              "Mechanism2CKMechanism - jIv  is NULL");
    EXPECT_EQ(failureOf(mechanism(CKM_RC2_CBC_PAD, rc2Cbc(128, javaBytes(kIv8.substr(0, 7))))),
              "Mechanism2CKMechanism - IV must be at least 8 bytes");
}

TEST_F(MechanismTest, Rc2MacGeneralRecord) {
    MechanismRecord record(env, mechanism(CKM_RC2_MAC_GENERAL, rc2MacGeneral(64, 4)));
    EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(CK_RC2_MAC_GENERAL_PARAMS{64, 4}));
}

TEST_F(MechanismTest, Rc5Records) {
    for (CK_MECHANISM_TYPE type : {CKM_RC5_ECB, CKM_RC5_MAC}) {
        MechanismRecord record(env, mechanism(type, rc5(4, 12)));
        EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(CK_RC5_PARAMS{4, 12}));
    }
    MechanismRecord mac(env, mechanism(CKM_RC5_MAC_GENERAL, rc5MacGeneral(8, 16, -2)));
    EXPECT_EQ(parameterBytes(*mac.get()),
              bytesOfRecord(CK_RC5_MAC_GENERAL_PARAMS{8, 16, ~CK_ULONG(0) - 1}));
}

TEST_F(MechanismTest, Rc5CbcCopiesTheWholeIvWithItsLength) {
    for (CK_MECHANISM_TYPE type : {CKM_RC5_CBC, CKM_RC5_CBC_PAD}) {
        for (const std::string& iv : {kIv16, kIv8.substr(0, 3)}) {
            MechanismRecord record(env, mechanism(type, rc5Cbc(8, 16, javaBytes(iv))));
            ASSERT_EQ(record.get()->ulParameterLen, sizeof(CK_RC5_CBC_PARAMS));
            const auto* got = static_cast<const CK_RC5_CBC_PARAMS*>(record.get()->pParameter);
            CK_RC5_CBC_PARAMS expected;
            std::memset(&expected, 0, sizeof expected);
            expected.ulWordsize = 8;
            expected.ulRounds = 16;
            expected.pIv = got->pIv;
            expected.ulIvLen = iv.size();
            EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(expected));
            EXPECT_EQ(bytesAt(got->pIv, got->ulIvLen), iv);
        }
    }
    EXPECT_EQ(failureOf(mechanism(CKM_RC5_CBC, rc5Cbc(8, 16, nullptr))),
              "Mechanism2CKMechanism - jIv  is NULL");
}

TEST_F(MechanismTest, ClassRowsRefuseParametersOfAnotherClass) {
    const std::vector<std::pair<CK_MECHANISM_TYPE, std::string>> rows = {
        {CKM_RSA_PKCS_OAEP, "OAEPParams"},
        {CKM_RC2_ECB, "RC2Params"},
        {CKM_RC2_MAC, "RC2Params"},
        {CKM_RC2_CBC, "RC2CBCParams"},
        {CKM_RC2_CBC_PAD, "RC2CBCParams"},
        {CKM_RC2_MAC_GENERAL, "RC2MACGENERALParams"},
        {CKM_SHA_1_HMAC_GENERAL, "MACGENERALParams"},
        {CKM_SSL3_SHA1_MAC, "MACGENERALParams"},
        {CKM_RC5_ECB, "RC5Params"},
        {CKM_RC5_MAC, "RC5Params"},
        {CKM_RC5_CBC, "RC5CBCParams"},
        {CKM_RC5_CBC_PAD, "RC5CBCParams"},
        {CKM_RC5_MAC_GENERAL, "RC5MACGENERALParams"}};
    // Look-alikes with the same field names, and a plain IV array.
    const std::vector<std::pair<std::string, jobject>> foreign = {
        {"RC5MACGENERALParams", rc5MacGeneral(8, 16, 4)},
        {"RC2CBCParams", rc2Cbc(64, javaBytes(kIv8))},
        {"byte[]", javaBytes(kIv16)}};
    for (const auto& [type, name] : rows) {
        for (const auto& [foreignName, parameter] : foreign) {
            if (foreignName == name) continue;
            EXPECT_EQ(failureOf(mechanism(type, parameter)),
                      "Mechanism2CKMechanism - parameter must be instance of 'qorvik/params/" +
                          name + "'")
                << "type 0x" << std::hex << type << " given " << foreignName;
        }
    }
}

// ---- Owner and freeing ----------------------------------------------------------------

TEST_F(MechanismTest, FailedConversionInsideTheOwnerPropagates) {
    try {
        MechanismRecord record(env, mechanism(CKM_RC5_CBC, rc5Cbc(8, 16, nullptr)));
        ADD_FAILURE() << "expected a failure";
    } catch (const MessageFailure& f) {
        EXPECT_STREQ(f.message, "Mechanism2CKMechanism - jIv  is NULL");
    }
}

TEST_F(MechanismTest, FreeMechanismIgnoresRecordsWithoutParameter) {
    EXPECT_EQ(FreeMechanism(nullptr), 0);
    CK_MECHANISM noParameter{CKM_RSA_PKCS_OAEP, nullptr, sizeof(CK_RSA_PKCS_OAEP_PARAMS)};
    EXPECT_EQ(FreeMechanism(&noParameter), 0);
    // A zero length means nothing is owned: the block stays ours (the
    // sanitizer build reports a double free otherwise).
    void* block = std::malloc(16);
    CK_MECHANISM zeroLength{CKM_DES_CBC, block, 0};
    EXPECT_EQ(FreeMechanism(&zeroLength), 0);
    EXPECT_EQ(zeroLength.pParameter, block);
    std::free(block);
}

TEST_F(MechanismTest, FreeMechanismLeavesTheFieldsAsTheyWere) {
    CK_MECHANISM m{0, nullptr, 0};
    Mechanism2CKMechanism(env, mechanism(CKM_RC5_CBC_PAD, rc5Cbc(8, 16, javaBytes(kIv16))), &m);
    void* parameter = m.pParameter;
    ASSERT_NE(parameter, nullptr);
    EXPECT_EQ(FreeMechanism(&m), 0);
    EXPECT_EQ(m.mechanism, CKM_RC5_CBC_PAD);
    EXPECT_EQ(m.pParameter, parameter);
    EXPECT_EQ(m.ulParameterLen, sizeof(CK_RC5_CBC_PARAMS));
}

// Records of the derivation and wrapping types as the conversion will build
// them: every member a block of its own, some left null. The sanitizer build
// reports any member left behind or freed twice.
template <typename T>
T* blockOf(std::size_t size = 8) {
    void* p = std::calloc(1, size);
    if (p == nullptr) std::abort();
    return static_cast<T*>(p);
}

template <typename Record>
void freeHandBuilt(CK_MECHANISM_TYPE type, Record* record) {
    CK_MECHANISM m{type, record, sizeof(Record)};
    EXPECT_EQ(FreeMechanism(&m), 0) << "type 0x" << std::hex << type;
}

TEST_F(MechanismTest, FreeMechanismReleasesEveryMemberOfTheFreeingTable) {
    auto* oaepRecord = blockOf<CK_RSA_PKCS_OAEP_PARAMS>(sizeof(CK_RSA_PKCS_OAEP_PARAMS));
    oaepRecord->pSourceData = blockOf<CK_BYTE>();
    freeHandBuilt(CKM_RSA_PKCS_OAEP, oaepRecord);

    for (CK_MECHANISM_TYPE type : {CKM_RC5_CBC, CKM_RC5_CBC_PAD}) {
        auto* rc5Record = blockOf<CK_RC5_CBC_PARAMS>(sizeof(CK_RC5_CBC_PARAMS));
        rc5Record->pIv = blockOf<CK_BYTE>();
        freeHandBuilt(type, rc5Record);
    }
    for (CK_MECHANISM_TYPE type :
         {CKM_CONCATENATE_BASE_AND_DATA, CKM_CONCATENATE_DATA_AND_BASE, CKM_XOR_BASE_AND_DATA}) {
        auto* data = blockOf<CK_KEY_DERIVATION_STRING_DATA>(sizeof(CK_KEY_DERIVATION_STRING_DATA));
        data->pData = blockOf<CK_BYTE>();
        freeHandBuilt(type, data);
    }

    auto* master =
        blockOf<CK_SSL3_MASTER_KEY_DERIVE_PARAMS>(sizeof(CK_SSL3_MASTER_KEY_DERIVE_PARAMS));
    master->pVersion = blockOf<CK_VERSION>();
    master->RandomInfo.pClientRandom = blockOf<CK_BYTE>(32);
    master->RandomInfo.pServerRandom = blockOf<CK_BYTE>(32);
    freeHandBuilt(CKM_SSL3_MASTER_KEY_DERIVE, master);

    for (bool withKeyMaterial : {true, false}) {
        auto* keyMat = blockOf<CK_SSL3_KEY_MAT_PARAMS>(sizeof(CK_SSL3_KEY_MAT_PARAMS));
        keyMat->RandomInfo.pClientRandom = blockOf<CK_BYTE>(32);
        keyMat->RandomInfo.pServerRandom = blockOf<CK_BYTE>(32);
        if (withKeyMaterial) {
            keyMat->pReturnedKeyMaterial =
                blockOf<CK_SSL3_KEY_MAT_OUT>(sizeof(CK_SSL3_KEY_MAT_OUT));
            keyMat->pReturnedKeyMaterial->pIVClient = blockOf<CK_BYTE>();
            keyMat->pReturnedKeyMaterial->pIVServer = nullptr;  // a null IV array
        }
        freeHandBuilt(CKM_SSL3_KEY_AND_MAC_DERIVE, keyMat);
    }

    for (CK_MECHANISM_TYPE type = CKM_PBE_MD2_DES_CBC; type <= CKM_PBE_SHA1_RC2_40_CBC; ++type) {
        auto* pbe = blockOf<CK_PBE_PARAMS>(sizeof(CK_PBE_PARAMS));
        pbe->pPassword = blockOf<CK_UTF8CHAR>();
        pbe->pSalt = blockOf<CK_BYTE>();
        pbe->pInitVector = type % 2 ? blockOf<CK_BYTE>() : nullptr;
        freeHandBuilt(type, pbe);
    }

    auto* wrapSet = blockOf<CK_KEY_WRAP_SET_OAEP_PARAMS>(sizeof(CK_KEY_WRAP_SET_OAEP_PARAMS));
    wrapSet->pX = blockOf<CK_BYTE>();
    freeHandBuilt(CKM_KEY_WRAP_SET_OAEP, wrapSet);

    auto* wrap = blockOf<CK_SKIPJACK_PRIVATE_WRAP_PARAMS>(sizeof(CK_SKIPJACK_PRIVATE_WRAP_PARAMS));
    wrap->pPassword = blockOf<CK_BYTE>();
    wrap->pPublicData = blockOf<CK_BYTE>();
    wrap->pRandomA = blockOf<CK_BYTE>();
    wrap->pBaseG = blockOf<CK_BYTE>(128);
    wrap->pPrimeP = blockOf<CK_BYTE>(128);
    wrap->pSubprimeQ = blockOf<CK_BYTE>();
    freeHandBuilt(CKM_SKIPJACK_PRIVATE_WRAP, wrap);

    auto* relay = blockOf<CK_SKIPJACK_RELAYX_PARAMS>(sizeof(CK_SKIPJACK_RELAYX_PARAMS));
    relay->pOldWrappedX = blockOf<CK_BYTE>();
    relay->pOldPassword = blockOf<CK_BYTE>();
    relay->pOldPublicData = blockOf<CK_BYTE>();
    relay->pOldRandomA = blockOf<CK_BYTE>();
    relay->pNewPassword = blockOf<CK_BYTE>();
    relay->pNewPublicData = blockOf<CK_BYTE>();
    relay->pNewRandomA = blockOf<CK_BYTE>();
    freeHandBuilt(CKM_SKIPJACK_RELAYX, relay);

    auto* kea = blockOf<CK_KEA_DERIVE_PARAMS>(sizeof(CK_KEA_DERIVE_PARAMS));
    kea->pRandomA = blockOf<CK_BYTE>();
    kea->pRandomB = blockOf<CK_BYTE>();
    kea->pPublicData = blockOf<CK_BYTE>();
    freeHandBuilt(CKM_KEA_KEY_DERIVE, kea);

    // Types whose record owns nothing else.
    freeHandBuilt(CKM_DES_CBC, blockOf<CK_BYTE>());
    freeHandBuilt(CKM_RC2_CBC, blockOf<CK_RC2_CBC_PARAMS>(sizeof(CK_RC2_CBC_PARAMS)));
    freeHandBuilt(CKM_SHA_1_HMAC_GENERAL, blockOf<CK_MAC_GENERAL_PARAMS>(sizeof(CK_ULONG)));
}

// ---- What the module receives ------------------------------------------------------

class MechanismThroughModuleTest : public MechanismTest {
  protected:
    void SetUp() override {
        MechanismTest::SetUp();
        loadAndInitialize(plainMock());
        std::string value = "key";
        CK_ATTRIBUTE keyTemplate[] = {{CKA_VALUE, value.data(), value.size()}};
        key = plainMock().p11mock_add_object(keyTemplate, 1);
    }
    // A session of its own for every operation started.
    CK_SESSION_HANDLE openSession() {
        jobject jSession =
            Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, newSlot(1), CKF_SERIAL_SESSION);
        EXPECT_NE(jSession, nullptr);
        return jSession ? Session2CKSession(env, jSession) : 0;
    }
    // The mechanism buffer of the last C_EncryptInit: type, length, record.
    std::string receivedMechanism() { return plainMock().lastBuffer("C_EncryptInit", 0); }

    CK_OBJECT_HANDLE key = 0;
};

template <typename Record>
std::string logged(CK_MECHANISM_TYPE type, const Record& record) {
    const CK_ULONG length = sizeof record;
    return bytesOfRecord(type) + bytesOfRecord(length) + bytesOfRecord(record);
}

TEST_F(MechanismThroughModuleTest, EncryptInitHandsTheModuleTheRecordByteForByte) {
    CK_RC2_CBC_PARAMS rc2CbcRecord;
    std::memset(&rc2CbcRecord, 0, sizeof rc2CbcRecord);
    rc2CbcRecord.ulEffectiveBits = 128;
    std::memcpy(rc2CbcRecord.iv, kIv8.data(), 8);
    CK_RSA_PKCS_OAEP_PARAMS oaepRecord;
    std::memset(&oaepRecord, 0, sizeof oaepRecord);
    oaepRecord.hashAlg = CKM_SHA_1;
    oaepRecord.mgf = CKG_MGF1_SHA1;
    oaepRecord.source = CKZ_DATA_SPECIFIED;
    CK_BYTE ivRecord[8];
    std::memcpy(ivRecord, kIv8.data(), 8);

    const std::vector<std::pair<jobject, std::string>> cases = {
        {mechanism(CKM_DES3_CBC_PAD, javaBytes(kIv16)), logged(CKM_DES3_CBC_PAD, ivRecord)},
        {mechanism(CKM_CAST_CBC_PAD, javaBytes(kIv8)), logged(CKM_CAST_CBC_PAD, ivRecord)},
        {mechanism(CKM_RC2_CBC_PAD, rc2Cbc(128, javaBytes(kIv16))),
         logged(CKM_RC2_CBC_PAD, rc2CbcRecord)},
        {mechanism(CKM_RC2_MAC_GENERAL, rc2MacGeneral(64, 4)),
         logged(CKM_RC2_MAC_GENERAL, CK_RC2_MAC_GENERAL_PARAMS{64, 4})},
        {mechanism(CKM_MD5_HMAC_GENERAL, macGeneral(12)),
         logged(CKM_MD5_HMAC_GENERAL, CK_MAC_GENERAL_PARAMS{12})},
        {mechanism(CKM_RC5_MAC_GENERAL, rc5MacGeneral(4, 12, 8)),
         logged(CKM_RC5_MAC_GENERAL, CK_RC5_MAC_GENERAL_PARAMS{4, 12, 8})},
        {mechanism(CKM_RSA_PKCS_OAEP, oaep(CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, nullptr)),
         logged(CKM_RSA_PKCS_OAEP, oaepRecord)},
        {mechanism(CKM_AES_ECB, javaBytes(kIv8)),
         bytesOfRecord(CK_ULONG(CKM_AES_ECB)) + bytesOfRecord(CK_ULONG(0))}};
    for (const auto& [jMechanism, expected] : cases) {
        EXPECT_EQ(J_EncryptInit(env, openSession(), jMechanism, static_cast<jlong>(key)), CKR_OK);
        expectNoException();
        EXPECT_EQ(receivedMechanism(), expected);
    }
}

TEST_F(MechanismThroughModuleTest, ConversionFailureStopsBeforeTheModule) {
    plainMock().p11mock_log_clear();
    EXPECT_NE(J_EncryptInit(env, openSession(), mechanism(CKM_RC2_CBC, macGeneral(8)),
                            static_cast<jlong>(key)),
              CKR_OK);
    expectFailure("J_EncryptInit", CKR_GENERAL_ERROR,
                  "Mechanism2CKMechanism - parameter must be instance of "
                  "'qorvik/params/RC2CBCParams'");
    EXPECT_EQ(plainMock().p11mock_log_count("C_EncryptInit"), 0u);
}

}  // namespace
}  // namespace kt
