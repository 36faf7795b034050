// Mechanism records: the dispatch on the type, each row's parameter record
// byte for byte, each row's failures, and the freeing of what was built.
#include <cstdarg>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "MechanismFixture.h"

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
    CKM_PBE_MD2_DES_CBC,       CKM_PBE_MD5_DES_CBC,      CKM_PBE_MD5_CAST_CBC,
    CKM_PBE_MD5_CAST3_CBC,     CKM_PBE_MD5_CAST5_CBC,    CKM_PBE_SHA1_CAST5_CBC,
    CKM_PBE_SHA1_RC4_128,      CKM_PBE_SHA1_RC4_40,      CKM_PBE_SHA1_DES3_EDE_CBC,
    CKM_PBE_SHA1_DES2_EDE_CBC, CKM_PBE_SHA1_RC2_128_CBC, CKM_PBE_SHA1_RC2_40_CBC};
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

class MechanismTest : public MechanismFixture {
  protected:
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

};

// ---- Dispatch -----------------------------------------------------------------

TEST_F(MechanismTest, TypesOutsideTheTableTakeNoParameterWhateverItHolds) {
    const std::vector<std::pair<CK_MECHANISM_TYPE, jobject>> cases = {
        {CKM_SHA_1, javaBytes(kIv16)},  {CKM_AES_ECB, javaBytes(kIv16)},
        {CKM_RSA_PKCS, macGeneral(10)}, {CKM_EDDSA, javaInteger(3)},
        {CKM_SHA256_RSA_PKCS, nullptr}, {CKM_ECDSA, oaep(1, 2, 3, nullptr)}};
    for (const auto& [type, parameter] : cases) {
        MechanismRecord record(env, mechanism(type, parameter));
        EXPECT_EQ(record.get()->mechanism, type);
        EXPECT_EQ(record.get()->pParameter, nullptr) << "type 0x" << std::hex << type;
        EXPECT_EQ(record.get()->ulParameterLen, 0u);
    }
}

TEST_F(MechanismTest, VendorTypesKeepTheirThirtyTwoBits) {
    MechanismRecord record(env, mechanism(0x80000123u, javaBytes(kIv8)));
    EXPECT_EQ(record.get()->mechanism, CK_ULONG(0x80000123));
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
    expected.hashAlg = 0xFFFFFFFF;  // an identifier: the int's 32 bits
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
              bytesOfRecord(CK_RC5_MAC_GENERAL_PARAMS{8, 16, 0xFFFFFFFE}));
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

// ---- Derivation, wrapping and password-based rows ------------------------------

template <typename Record>
Record zeroed() {
    Record record;
    std::memset(&record, 0, sizeof record);
    return record;
}

// The record of a converted mechanism, null (and a failed check) when the
// length is not that of Record.
template <typename Record>
const Record* recordOf(const CK_MECHANISM& m) {
    EXPECT_EQ(m.ulParameterLen, sizeof(Record));
    EXPECT_NE(m.pParameter, nullptr);
    return m.ulParameterLen == sizeof(Record) ? static_cast<const Record*>(m.pParameter) : nullptr;
}

// n bytes counting up from first.
std::string counting(std::size_t n, unsigned char first) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i);
    return s;
}

const char* const kConverted = "<converted>";

TEST_F(MechanismTest, DerivationRowsRefuseParametersOfAnotherClass) {
    const std::vector<std::pair<std::string, jobject>> foreign = {
        {"qorvik/params/EXTRACTParams", extract(3)},
        {"qorvik/params/KEYDERIVATIONSTRINGDATA", keyDerivationString(javaBytes("d"))},
        // Shares the field name m_password with the password-based class.
        {"qorvik/params/SKIPJACKPRIVATEWRAPParams",
         newObject("qorvik/params/SKIPJACKPRIVATEWRAPParams")},
        {"byte[]", javaBytes(kIv16)}};
    for (const DerivationRow& row : derivationRows()) {
        for (const auto& [foreignName, parameter] : foreign) {
            if (foreignName == row.parameterClass) continue;
            EXPECT_EQ(failureOf(mechanism(row.type, parameter)),
                      std::string("Mechanism2CKMechanism - parameter must be instance of '") +
                          row.parameterClass + "'")
                << "type 0x" << std::hex << row.type << " given " << foreignName;
        }
    }
}

// A parameter's arrays start out null and are given one at a time: before
// each is given, the conversion fails with the message of its step.
struct NullStep {
    std::size_t array;
    std::string message;
};

TEST_F(MechanismTest, KeyDerivationStringRecordCopiesTheData) {
    const std::string data("ab\x00\xFF", 4);
    for (CK_MECHANISM_TYPE type :
         {CKM_CONCATENATE_BASE_AND_DATA, CKM_CONCATENATE_DATA_AND_BASE, CKM_XOR_BASE_AND_DATA}) {
        MechanismRecord record(env, mechanism(type, keyDerivationString(javaBytes(data))));
        const auto* got = recordOf<CK_KEY_DERIVATION_STRING_DATA>(*record.get());
        ASSERT_NE(got, nullptr);
        auto expected = zeroed<CK_KEY_DERIVATION_STRING_DATA>();
        expected.pData = got->pData;
        expected.ulLen = data.size();
        EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(expected));
        EXPECT_EQ(bytesAt(got->pData, got->ulLen), data);
    }
    MechanismRecord empty(env,
                          mechanism(CKM_XOR_BASE_AND_DATA, keyDerivationString(javaBytes(""))));
    const auto* got = recordOf<CK_KEY_DERIVATION_STRING_DATA>(*empty.get());
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->ulLen, 0u);
    EXPECT_EQ(failureOf(mechanism(CKM_XOR_BASE_AND_DATA, keyDerivationString(nullptr))),
              "Mechanism2CKMechanism - jData  is NULL");
}

TEST_F(MechanismTest, ExtractRecordIsTheBitIndex) {
    MechanismRecord record(env, mechanism(CKM_EXTRACT_KEY_FROM_KEY, extract(3)));
    EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(CK_EXTRACT_PARAMS{3}));
    MechanismRecord negative(env, mechanism(CKM_EXTRACT_KEY_FROM_KEY, extract(-8)));
    EXPECT_EQ(parameterBytes(*negative.get()), bytesOfRecord(CK_EXTRACT_PARAMS{0xFFFFFFF8}));
}

TEST_F(MechanismTest, Ssl3MasterKeyRecordHoldsTheVersionAndBothRandoms) {
    const std::string client = counting(32, 0x10);
    const std::string server = counting(28, 0x80);
    const std::vector<std::pair<jobject, std::string>> versions = {
        {version(3, 0), std::string("\x03\x00", 2)},
        // Each number keeps its low byte.
        {version(0x103, 0x2FF), std::string("\x03\xFF", 2)}};
    for (const auto& [jVersion, versionBytes] : versions) {
        MechanismRecord record(
            env, mechanism(CKM_SSL3_MASTER_KEY_DERIVE,
                           masterKey(jVersion, randomData(javaBytes(client), javaBytes(server)))));
        const auto* got = recordOf<CK_SSL3_MASTER_KEY_DERIVE_PARAMS>(*record.get());
        ASSERT_NE(got, nullptr);
        auto expected = zeroed<CK_SSL3_MASTER_KEY_DERIVE_PARAMS>();
        expected.RandomInfo.pClientRandom = got->RandomInfo.pClientRandom;
        expected.RandomInfo.ulClientRandomLen = client.size();
        expected.RandomInfo.pServerRandom = got->RandomInfo.pServerRandom;
        expected.RandomInfo.ulServerRandomLen = server.size();
        expected.pVersion = got->pVersion;
        EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(expected));
        EXPECT_EQ(bytesAt(got->pVersion, sizeof(CK_VERSION)), versionBytes);
        EXPECT_EQ(bytesAt(got->RandomInfo.pClientRandom, client.size()), client);
        EXPECT_EQ(bytesAt(got->RandomInfo.pServerRandom, server.size()), server);
    }
}

TEST_F(MechanismTest, Ssl3MasterKeyMessagesComeInOrder) {
    jobject params = masterKey(nullptr, nullptr);
    auto failure = [&] { return failureOf(mechanism(CKM_SSL3_MASTER_KEY_DERIVE, params)); };
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jVersion  is NULL");
    setField(params, "m_version", "Lqorvik/Version;", version(3, 1));
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jRandomInfo  is NULL");
    // Only the m_ pair of the random data is read by this row.
    jobject random = randomData(javaBytes("client"), javaBytes("server"));
    setField(random, "m_clientRandom", "[B", nullptr);
    setField(random, "m_serverRandom", "[B", nullptr);
    setField(params, "m_randomInfo", "Lqorvik/params/SSL3RANDOMDATA;", random);
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jClientRandom  is NULL");
    setField(random, "m_clientRandom", "[B", javaBytes("c"));
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jServerRandom  is NULL");
    setField(random, "m_serverRandom", "[B", javaBytes("s"));
    EXPECT_EQ(failure(), kConverted);
}

TEST_F(MechanismTest, Ssl3KeyAndMacRecordByteForByte) {
    const std::string client = counting(32, 0x20);
    const std::string server = counting(32, 0xA0);
    for (bool isExport : {true, false}) {
        jobject out = keyMatOut(javaBytes(kIv8), nullptr);
        setIntField(out, "hClientMacSecret", 1);
        setIntField(out, "hServerMacSecret", 2);
        setIntField(out, "hClientKey", 3);
        setIntField(out, "hServerKey", -4);
        MechanismRecord record(
            env, mechanism(CKM_SSL3_KEY_AND_MAC_DERIVE,
                           keyMat(160, 128, 64, isExport,
                                  randomData(javaBytes(client), javaBytes(server)), out)));
        const auto* got = recordOf<CK_SSL3_KEY_MAT_PARAMS>(*record.get());
        ASSERT_NE(got, nullptr);
        auto expected = zeroed<CK_SSL3_KEY_MAT_PARAMS>();
        expected.ulMacSizeInBits = 160;
        expected.ulKeySizeInBits = 128;
        expected.ulIVSizeInBits = 64;
        expected.bIsExport = isExport ? CK_TRUE : CK_FALSE;
        expected.RandomInfo.pClientRandom = got->RandomInfo.pClientRandom;
        expected.RandomInfo.ulClientRandomLen = client.size();
        expected.RandomInfo.pServerRandom = got->RandomInfo.pServerRandom;
        expected.RandomInfo.ulServerRandomLen = server.size();
        expected.pReturnedKeyMaterial = got->pReturnedKeyMaterial;
        EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(expected));
        EXPECT_EQ(bytesAt(got->RandomInfo.pClientRandom, client.size()), client);
        EXPECT_EQ(bytesAt(got->RandomInfo.pServerRandom, server.size()), server);

        const CK_SSL3_KEY_MAT_OUT* material = got->pReturnedKeyMaterial;
        ASSERT_NE(material, nullptr);
        auto expectedMaterial = zeroed<CK_SSL3_KEY_MAT_OUT>();
        expectedMaterial.hClientMacSecret = 1;
        expectedMaterial.hServerMacSecret = 2;
        expectedMaterial.hClientKey = 3;
        expectedMaterial.hServerKey = 0xFFFFFFFC;
        expectedMaterial.pIVClient = material->pIVClient;
        expectedMaterial.pIVServer = material->pIVServer;
        EXPECT_EQ(bytesOfRecord(*material), bytesOfRecord(expectedMaterial));
        EXPECT_EQ(bytesAt(material->pIVClient, 8), kIv8);
        // A null IV array still gets the buffer the module writes the IV into.
        ASSERT_NE(material->pIVServer, nullptr);
        EXPECT_EQ(bytesAt(material->pIVServer, 8), std::string(8, '\0'));
    }
}

TEST_F(MechanismTest, Ssl3KeyAndMacMessagesComeInOrder) {
    jobject params = newObject("qorvik/params/SSL3KEYMATParams");
    auto failure = [&] { return failureOf(mechanism(CKM_SSL3_KEY_AND_MAC_DERIVE, params)); };
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jRandomInfo  is NULL");
    // Only the plain pair of the random data is read by this row.
    jobject random = randomData(javaBytes("client"), javaBytes("server"));
    setField(random, "clientRandom", "[B", nullptr);
    setField(random, "serverRandom", "[B", nullptr);
    setField(params, "randomInfo", "Lqorvik/params/SSL3RANDOMDATA;", random);
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jIsExport  is NULL");
    setField(params, "isExport", "Ljava/lang/Boolean;", javaBoolean(false));
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jReturnedKeyMaterial  is NULL");
    setField(params, "returnedKeyMaterial", "Lqorvik/params/SSL3KEYMATOUT;",
             newObject("qorvik/params/SSL3KEYMATOUT"));
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jClientRandom  is NULL");
    setField(random, "clientRandom", "[B", javaBytes("c"));
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jServerRandom  is NULL");
    setField(random, "serverRandom", "[B", javaBytes("s"));
    EXPECT_EQ(failure(), kConverted);
}

TEST_F(MechanismTest, Ssl3KeyAndMacIvBuffersFitTheIvSizeAndAreZeroFilled) {
    const std::string longIv = counting(20, 0x41);
    struct Case {
        jint ivSizeInBits;
        std::size_t bufferSize;
    };
    for (const Case& c : {Case{0, 8}, Case{64, 8}, Case{128, 16}, Case{132, 17}}) {
        for (const std::string& iv : {longIv.substr(0, 3), longIv.substr(0, 8), longIv}) {
            MechanismRecord record(env, mechanism(CKM_SSL3_KEY_AND_MAC_DERIVE,
                                                  keyMat(128, 128, c.ivSizeInBits, false,
                                                         randomData(javaBytes("c"), javaBytes("s")),
                                                         keyMatOut(javaBytes(iv), javaBytes(iv)))));
            const auto* got = recordOf<CK_SSL3_KEY_MAT_PARAMS>(*record.get());
            ASSERT_NE(got, nullptr);
            ASSERT_NE(got->pReturnedKeyMaterial, nullptr);
            CK_SSL3_KEY_MAT_OUT& material = *got->pReturnedKeyMaterial;
            std::string expected = iv.substr(0, c.bufferSize);
            expected.resize(c.bufferSize, '\0');
            // The whole buffer is read and written as the module would: the
            // sanitizer build reports a buffer shorter than the IV size.
            EXPECT_EQ(bytesAt(material.pIVClient, c.bufferSize), expected)
                << c.ivSizeInBits << " bits, array of " << iv.size();
            EXPECT_EQ(bytesAt(material.pIVServer, c.bufferSize), expected);
            std::memset(material.pIVClient, 0xEE, c.bufferSize);
            std::memset(material.pIVServer, 0xEE, c.bufferSize);
        }
    }
}

TEST_F(MechanismTest, Ssl3KeyAndMacSizesOutOfRangeAreRefused) {
    // Negative sizes would reach the module as huge ones; an IV above 1024 bits
    // belongs to no cipher and would only cost two large buffers.
    struct Case {
        jint mac, key, iv;
        const char* message;
    };
    const Case cases[] = {
        {128, 128, -64, "Mechanism2CKMechanism - ivSizeInBits out of range"},
        {128, 128, -1, "Mechanism2CKMechanism - ivSizeInBits out of range"},
        {128, 128, 1025, "Mechanism2CKMechanism - ivSizeInBits out of range"},
        {128, 128, 0x7FFFFFFF, "Mechanism2CKMechanism - ivSizeInBits out of range"},
        {128, 128, INT_MIN, "Mechanism2CKMechanism - ivSizeInBits out of range"},
        {-1, 128, 64, "Mechanism2CKMechanism - macSizeInBits out of range"},
        {INT_MIN, 128, 64, "Mechanism2CKMechanism - macSizeInBits out of range"},
        {160, -8, 64, "Mechanism2CKMechanism - keySizeInBits out of range"},
        {160, 128, 1024, nullptr},
        {0x7FFFFFFF, 0x7FFFFFFF, 0, nullptr},
    };
    for (const Case& c : cases) {
        for (jobject ivs : {keyMatOut(javaBytes("12345678"), nullptr), keyMatOut(nullptr, nullptr)}) {
            CK_MECHANISM record{0, nullptr, 0};
            const char* message = nullptr;
            try {
                Mechanism2CKMechanism(
                    env,
                    mechanism(CKM_SSL3_KEY_AND_MAC_DERIVE,
                              keyMat(c.mac, c.key, c.iv, false,
                                     randomData(javaBytes("c"), javaBytes("s")), ivs)),
                    &record);
            } catch (const MessageFailure& f) {
                message = f.message;
            }
            if (c.message == nullptr) {
                EXPECT_EQ(message, nullptr) << c.mac << "/" << c.key << "/" << c.iv;
                EXPECT_NE(record.pParameter, nullptr);
                FreeMechanism(&record);
            } else {
                EXPECT_STREQ(message, c.message) << c.mac << "/" << c.key << "/" << c.iv;
                EXPECT_EQ(record.pParameter, nullptr);
            }
        }
    }
}

TEST_F(MechanismTest, Ssl3KeyAndMacIvBuffersExistWithoutJavaArrays) {
    // The module writes ivSizeInBits / 8 bytes into each buffer whatever Java
    // supplied; without IVs asked for and without arrays there is none.
    struct Case {
        jint ivSizeInBits;
        std::size_t bufferSize;
    };
    for (const Case& c : {Case{0, 0}, Case{8, 8}, Case{64, 8}, Case{72, 9}, Case{1024, 128}}) {
        MechanismRecord record(env, mechanism(CKM_SSL3_KEY_AND_MAC_DERIVE,
                                              keyMat(128, 128, c.ivSizeInBits, false,
                                                     randomData(javaBytes("c"), javaBytes("s")),
                                                     keyMatOut(nullptr, nullptr))));
        const auto* got = recordOf<CK_SSL3_KEY_MAT_PARAMS>(*record.get());
        ASSERT_NE(got, nullptr);
        ASSERT_NE(got->pReturnedKeyMaterial, nullptr);
        CK_SSL3_KEY_MAT_OUT& material = *got->pReturnedKeyMaterial;
        if (c.bufferSize == 0) {
            EXPECT_EQ(material.pIVClient, nullptr);
            EXPECT_EQ(material.pIVServer, nullptr);
            continue;
        }
        ASSERT_NE(material.pIVClient, nullptr) << c.ivSizeInBits;
        ASSERT_NE(material.pIVServer, nullptr) << c.ivSizeInBits;
        // Every byte is read and written: the sanitizer build catches a short buffer.
        EXPECT_EQ(bytesAt(material.pIVClient, c.bufferSize), std::string(c.bufferSize, '\0'));
        EXPECT_EQ(bytesAt(material.pIVServer, c.bufferSize), std::string(c.bufferSize, '\0'));
        std::memset(material.pIVClient, 0xEE, c.bufferSize);
        std::memset(material.pIVServer, 0xEE, c.bufferSize);
    }
}

TEST_F(MechanismTest, PbeRecordNarrowsEachCharacterToItsByte) {
    const std::u16string password = u"p\u00e9ss\u00ff";
    const std::u16string salt(u"s\u0080lt\0!", 6);
    for (CK_MECHANISM_TYPE type : kPbeTypes) {
        MechanismRecord record(
            env, mechanism(type, pbe(javaChars(u"ABCDEFGHIJ"), javaChars(password), javaChars(salt),
                                     2048)));
        const auto* got = recordOf<CK_PBE_PARAMS>(*record.get());
        ASSERT_NE(got, nullptr);
        auto expected = zeroed<CK_PBE_PARAMS>();
        expected.pInitVector = got->pInitVector;
        expected.pPassword = got->pPassword;
        expected.ulPasswordLen = password.size();
        expected.pSalt = got->pSalt;
        expected.ulSaltLen = salt.size();
        expected.ulIteration = 2048;
        EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(expected))
            << "type 0x" << std::hex << type;
        EXPECT_EQ(bytesAt(got->pInitVector, 8), "ABCDEFGH");
        EXPECT_EQ(bytesAt(got->pPassword, got->ulPasswordLen), "p\xE9ss\xFF");
        EXPECT_EQ(bytesAt(got->pSalt, got->ulSaltLen), std::string("s\x80lt\0!", 6));
    }
}

TEST_F(MechanismTest, PbeInitVectorIsEightBytesSeededFromTheArray) {
    const std::vector<std::pair<jobject, std::string>> cases = {
        {javaChars(u"xy"), std::string("xy\0\0\0\0\0\0", 8)},
        {javaChars(u""), std::string(8, '\0')},
        {javaChars(u"12345678"), "12345678"},
        {nullptr, "<null>"}};
    for (const auto& [initVector, expected] : cases) {
        MechanismRecord record(env, mechanism(CKM_PBE_SHA1_DES3_EDE_CBC,
                                              pbe(initVector, javaChars(u""), javaChars(u""), -1)));
        const auto* got = recordOf<CK_PBE_PARAMS>(*record.get());
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(bytesAt(got->pInitVector, 8), expected);
        EXPECT_EQ(got->ulPasswordLen, 0u);
        EXPECT_EQ(got->ulSaltLen, 0u);
        EXPECT_EQ(got->ulIteration, CK_ULONG(0xFFFFFFFF));
        if (got->pInitVector != nullptr) std::memset(got->pInitVector, 0xEE, 8);
    }
}

TEST_F(MechanismTest, PbeRefusesCharactersWithoutAByteOfTheirOwn) {
    const std::vector<std::pair<jobject, std::string>> cases = {
        {pbe(nullptr, javaChars(u"pass\u0100"), javaChars(u"salt"), 1),
         "Mechanism2CKMechanism - password character out of range"},
        {pbe(nullptr, javaChars(u"\u20ac"), javaChars(u""), 1),
         "Mechanism2CKMechanism - password character out of range"},
        // The password comes first, and a salt failure frees the password copy.
        {pbe(nullptr, javaChars(u"\uffff"), javaChars(u"\u0100"), 1),
         "Mechanism2CKMechanism - password character out of range"},
        {pbe(javaChars(u"iv"), javaChars(u"pass"), javaChars(u"sal\u0100"), 1),
         "Mechanism2CKMechanism - salt character out of range"},
        {pbe(javaChars(u"abc\u0100"), javaChars(u"pass"), javaChars(u"salt"), 1),
         "Mechanism2CKMechanism - init vector character out of range"},
        // Characters past the eighth are not part of the init vector.
        {pbe(javaChars(u"ABCDEFGH\u0100"), javaChars(u"\u00ff"), javaChars(u"\u0001"), 1),
         kConverted}};
    for (const auto& [parameter, message] : cases) {
        EXPECT_EQ(failureOf(mechanism(CKM_PBE_MD5_DES_CBC, parameter)), message);
    }
}

TEST_F(MechanismTest, PbeMessagesComeInOrder) {
    jobject params = pbe(nullptr, nullptr, nullptr, 1);
    auto failure = [&] { return failureOf(mechanism(CKM_PBE_SHA1_RC4_128, params)); };
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jPassword is NULL");
    setField(params, "m_password", "[C", javaChars(u"pw"));
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jSalt is NULL");
    setField(params, "m_salt", "[C", javaChars(u"salt"));
    EXPECT_EQ(failure(), kConverted);
}

TEST_F(MechanismTest, KeyWrapSetOaepRecord) {
    const std::string x = counting(5, 0xF0);
    MechanismRecord record(env, mechanism(CKM_KEY_WRAP_SET_OAEP,
                                          keyWrapSetOaep(static_cast<jbyte>(0x85), javaBytes(x))));
    const auto* got = recordOf<CK_KEY_WRAP_SET_OAEP_PARAMS>(*record.get());
    ASSERT_NE(got, nullptr);
    auto expected = zeroed<CK_KEY_WRAP_SET_OAEP_PARAMS>();
    expected.bBC = 0x85;
    expected.pX = got->pX;
    expected.ulXLen = x.size();
    EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(expected));
    EXPECT_EQ(bytesAt(got->pX, got->ulXLen), x);
    EXPECT_EQ(failureOf(mechanism(CKM_KEY_WRAP_SET_OAEP, keyWrapSetOaep(1, nullptr))),
              "Mechanism2CKMechanism - jXData is NULL");
}

TEST_F(MechanismTest, SkipjackPrivateWrapCopiesPrimePWithTheLengthOfBaseG) {
    const std::string password = "pw", publicData = counting(64, 0x01);
    const std::string randomA = counting(20, 0x30), baseG = counting(128, 0x80);
    const std::string subprimeQ = counting(20, 0x60);
    for (const std::string& primeP : {counting(130, 0x10), counting(128, 0x11)}) {
        MechanismRecord record(
            env, mechanism(CKM_SKIPJACK_PRIVATE_WRAP,
                           skipjackPrivateWrap(javaBytes(password), javaBytes(publicData),
                                               javaBytes(randomA), javaBytes(primeP),
                                               javaBytes(baseG), javaBytes(subprimeQ))));
        const auto* got = recordOf<CK_SKIPJACK_PRIVATE_WRAP_PARAMS>(*record.get());
        ASSERT_NE(got, nullptr);
        auto expected = zeroed<CK_SKIPJACK_PRIVATE_WRAP_PARAMS>();
        expected.ulPasswordLen = password.size();
        expected.pPassword = got->pPassword;
        expected.ulPublicDataLen = publicData.size();
        expected.pPublicData = got->pPublicData;
        expected.ulPAndGLen = baseG.size();
        expected.ulQLen = subprimeQ.size();
        expected.ulRandomLen = randomA.size();
        expected.pRandomA = got->pRandomA;
        expected.pPrimeP = got->pPrimeP;
        expected.pBaseG = got->pBaseG;
        expected.pSubprimeQ = got->pSubprimeQ;
        EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(expected));
        EXPECT_EQ(bytesAt(got->pPassword, got->ulPasswordLen), password);
        EXPECT_EQ(bytesAt(got->pPublicData, got->ulPublicDataLen), publicData);
        EXPECT_EQ(bytesAt(got->pRandomA, got->ulRandomLen), randomA);
        EXPECT_EQ(bytesAt(got->pPrimeP, got->ulPAndGLen), primeP.substr(0, 128));
        EXPECT_EQ(bytesAt(got->pBaseG, got->ulPAndGLen), baseG);
        EXPECT_EQ(bytesAt(got->pSubprimeQ, got->ulQLen), subprimeQ);
    }
}

TEST_F(MechanismTest, SkipjackPrivateWrapRefusesAShortPrimeP) {
    const std::vector<std::pair<std::string, std::string>> primeAndBase = {
        {counting(127, 0), counting(128, 0)}, {"", "g"}};
    for (const auto& [primeP, baseG] : primeAndBase) {
        EXPECT_EQ(failureOf(mechanism(
                      CKM_SKIPJACK_PRIVATE_WRAP,
                      skipjackPrivateWrap(javaBytes("pw"), javaBytes("pub"), javaBytes("ra"),
                                          javaBytes(primeP), javaBytes(baseG), javaBytes("q")))),
                  "Mechanism2CKMechanism - m_primeP is too short")
            << primeP.size() << " bytes of P for " << baseG.size() << " of G";
    }
    MechanismRecord empty(
        env, mechanism(CKM_SKIPJACK_PRIVATE_WRAP,
                       skipjackPrivateWrap(javaBytes("pw"), javaBytes("pub"), javaBytes("ra"),
                                           javaBytes(""), javaBytes(""), javaBytes("q"))));
    const auto* got = recordOf<CK_SKIPJACK_PRIVATE_WRAP_PARAMS>(*empty.get());
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->ulPAndGLen, 0u);
}

TEST_F(MechanismTest, SkipjackPrivateWrapMessagesComeInOrder) {
    // The constructor's order: password, public data, random A, P, G, Q.
    std::vector<jobject> arrays(6, nullptr);
    const std::vector<NullStep> steps = {{0, "Mechanism2CKMechanism - jPassword is NULL"},
                                         {1, "Mechanism2CKMechanism - jPublicData is NULL"},
                                         {2, "Mechanism2CKMechanism - jRandomA is NULL"},
                                         {3, "Mechanism2CKMechanism - jPrimeP is NULL"},
                                         {5, "Mechanism2CKMechanism - jSubPrimeQ is NULL"},
                                         {4, "Mechanism2CKMechanism - jBaseG is NULL"}};
    auto failure = [&] {
        return failureOf(mechanism(
            CKM_SKIPJACK_PRIVATE_WRAP,
            skipjackPrivateWrap(arrays[0], arrays[1], arrays[2], arrays[3], arrays[4], arrays[5])));
    };
    for (const NullStep& step : steps) {
        EXPECT_EQ(failure(), step.message);
        arrays[step.array] = javaBytes("x");
    }
    EXPECT_EQ(failure(), kConverted);
}

TEST_F(MechanismTest, SkipjackRelayxRecordCopiesEveryArray) {
    std::vector<std::string> values;
    std::vector<jobject> arrays;
    for (std::size_t i = 0; i < 7; ++i) {
        values.push_back(counting(3 + 5 * i, static_cast<unsigned char>(0x20 * i)));
        arrays.push_back(javaBytes(values.back()));
    }
    MechanismRecord record(env, mechanism(CKM_SKIPJACK_RELAYX, skipjackRelayx(arrays)));
    const auto* got = recordOf<CK_SKIPJACK_RELAYX_PARAMS>(*record.get());
    ASSERT_NE(got, nullptr);
    auto expected = zeroed<CK_SKIPJACK_RELAYX_PARAMS>();
    expected.ulOldWrappedXLen = values[0].size();
    expected.pOldWrappedX = got->pOldWrappedX;
    expected.ulOldPasswordLen = values[1].size();
    expected.pOldPassword = got->pOldPassword;
    expected.ulOldPublicDataLen = values[2].size();
    expected.pOldPublicData = got->pOldPublicData;
    expected.ulOldRandomLen = values[3].size();
    expected.pOldRandomA = got->pOldRandomA;
    expected.ulNewPasswordLen = values[4].size();
    expected.pNewPassword = got->pNewPassword;
    expected.ulNewPublicDataLen = values[5].size();
    expected.pNewPublicData = got->pNewPublicData;
    expected.ulNewRandomLen = values[6].size();
    expected.pNewRandomA = got->pNewRandomA;
    EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(expected));
    EXPECT_EQ(bytesAt(got->pOldWrappedX, got->ulOldWrappedXLen), values[0]);
    EXPECT_EQ(bytesAt(got->pOldPassword, got->ulOldPasswordLen), values[1]);
    EXPECT_EQ(bytesAt(got->pOldPublicData, got->ulOldPublicDataLen), values[2]);
    EXPECT_EQ(bytesAt(got->pOldRandomA, got->ulOldRandomLen), values[3]);
    EXPECT_EQ(bytesAt(got->pNewPassword, got->ulNewPasswordLen), values[4]);
    EXPECT_EQ(bytesAt(got->pNewPublicData, got->ulNewPublicDataLen), values[5]);
    EXPECT_EQ(bytesAt(got->pNewRandomA, got->ulNewRandomLen), values[6]);
}

TEST_F(MechanismTest, SkipjackRelayxMessagesComeInOrder) {
    // The constructor's order: old wrapped X, old password, old public data,
    // old random A, then the new password, public data and random A.
    std::vector<jobject> arrays(7, nullptr);
    const std::vector<NullStep> steps = {{1, "Mechanism2CKMechanism - jOldPassword  is NULL"},
                                         {2, "Mechanism2CKMechanism - jOldPublicData is NULL"},
                                         {3, "Mechanism2CKMechanism - jOldRandomA is NULL"},
                                         {0, "Mechanism2CKMechanism - jOldWrappedX is NULL"},
                                         {4, "Mechanism2CKMechanism - jNewPassword is NULL"},
                                         {5, "Mechanism2CKMechanism - jNewPublicData is NULL"},
                                         {6, "Mechanism2CKMechanism - jNewRandomA is NULL"}};
    for (const NullStep& step : steps) {
        EXPECT_EQ(failureOf(mechanism(CKM_SKIPJACK_RELAYX, skipjackRelayx(arrays))), step.message);
        arrays[step.array] = javaBytes("");
    }
    EXPECT_EQ(failureOf(mechanism(CKM_SKIPJACK_RELAYX, skipjackRelayx(arrays))), kConverted);
}

TEST_F(MechanismTest, KeaRecordTakesRandomBWithTheLengthOfRandomA) {
    const std::string randomA = counting(16, 0x11), randomB = counting(24, 0x51);
    const std::string publicData = counting(40, 0x91);
    for (bool isSender : {true, false}) {
        MechanismRecord record(
            env, mechanism(CKM_KEA_KEY_DERIVE, kea(isSender, javaBytes(randomA), javaBytes(randomB),
                                                   javaBytes(publicData))));
        const auto* got = recordOf<CK_KEA_DERIVE_PARAMS>(*record.get());
        ASSERT_NE(got, nullptr);
        auto expected = zeroed<CK_KEA_DERIVE_PARAMS>();
        expected.isSender = isSender ? CK_TRUE : CK_FALSE;
        expected.ulRandomLen = randomA.size();
        expected.pRandomA = got->pRandomA;
        expected.pRandomB = got->pRandomB;
        expected.ulPublicDataLen = publicData.size();
        expected.pPublicData = got->pPublicData;
        EXPECT_EQ(parameterBytes(*record.get()), bytesOfRecord(expected));
        EXPECT_EQ(bytesAt(got->pRandomA, got->ulRandomLen), randomA);
        EXPECT_EQ(bytesAt(got->pRandomB, got->ulRandomLen), randomB.substr(0, randomA.size()));
        EXPECT_EQ(bytesAt(got->pPublicData, got->ulPublicDataLen), publicData);
    }
}

TEST_F(MechanismTest, KeaRefusesAShortRandomB) {
    EXPECT_EQ(
        failureOf(mechanism(CKM_KEA_KEY_DERIVE, kea(true, javaBytes(counting(16, 0)),
                                                    javaBytes(counting(15, 0)), javaBytes("pub")))),
        "Mechanism2CKMechanism - randomB is too short");
}

TEST_F(MechanismTest, KeaMessagesComeInOrder) {
    jobject params = newObject("qorvik/params/KeaDeriveParams");
    auto failure = [&] { return failureOf(mechanism(CKM_KEA_KEY_DERIVE, params)); };
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jIsSender is NULL");
    setField(params, "isSender", "Ljava/lang/Boolean;", javaBoolean(true));
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jRandomA  is NULL");
    setField(params, "randomA", "[B", javaBytes("a"));
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jRandomB is NULL");
    setField(params, "randomB", "[B", javaBytes("b"));
    EXPECT_EQ(failure(), "Mechanism2CKMechanism - jPublicData is NULL");
    setField(params, "publicData", "[B", javaBytes(""));
    EXPECT_EQ(failure(), kConverted);
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

// Records built by hand for every row of the freeing table: every member a
// block of its own, some left null. The sanitizer build reports any member
// left behind or freed twice.
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

TEST_F(MechanismTest, FreeMechanismReleasesWhatEachDerivationRowBuilt) {
    jobject random = randomData(javaBytes(counting(32, 1)), javaBytes(counting(32, 2)));
    std::vector<std::pair<CK_MECHANISM_TYPE, jobject>> converted = {
        {CKM_CONCATENATE_BASE_AND_DATA, keyDerivationString(javaBytes("data"))},
        {CKM_XOR_BASE_AND_DATA, keyDerivationString(javaBytes(""))},
        {CKM_EXTRACT_KEY_FROM_KEY, extract(3)},
        {CKM_SSL3_MASTER_KEY_DERIVE, masterKey(version(3, 0), random)},
        {CKM_SSL3_KEY_AND_MAC_DERIVE,
         keyMat(128, 128, 128, true, random, keyMatOut(javaBytes(kIv16), javaBytes(kIv8)))},
        {CKM_SSL3_KEY_AND_MAC_DERIVE,
         keyMat(128, 128, 0, false, random, keyMatOut(nullptr, nullptr))},
        {CKM_KEY_WRAP_SET_OAEP, keyWrapSetOaep(2, javaBytes("x"))},
        {CKM_SKIPJACK_PRIVATE_WRAP,
         skipjackPrivateWrap(javaBytes("pw"), javaBytes("pub"), javaBytes("ra"),
                             javaBytes(counting(130, 0)), javaBytes(counting(128, 0)),
                             javaBytes("q"))},
        {CKM_SKIPJACK_RELAYX, skipjackRelayx(std::vector<jobject>(7, javaBytes("r")))},
        {CKM_KEA_KEY_DERIVE, kea(false, javaBytes("ra"), javaBytes("rbb"), javaBytes("pub"))}};
    for (CK_MECHANISM_TYPE type : kPbeTypes) {
        converted.push_back({type, pbe(type % 2 ? javaChars(u"iv") : nullptr, javaChars(u"pw"),
                                       javaChars(u"s"), 1)});
    }
    for (const auto& [type, parameter] : converted) {
        CK_MECHANISM m{0, nullptr, 0};
        Mechanism2CKMechanism(env, mechanism(type, parameter), &m);
        ASSERT_NE(m.pParameter, nullptr) << "type 0x" << std::hex << type;
        EXPECT_EQ(FreeMechanism(&m), 0);
    }
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
    // J_DeriveKey from the fixture's key in a session of its own; the
    // mechanism buffer the module received is left in `received`.
    jlong deriveKey(jobject jMechanism, std::string& received) {
        jobject jSession =
            Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, newSlot(1), CKF_SERIAL_SESSION);
        EXPECT_NE(jSession, nullptr);
        plainMock().p11mock_log_clear();
        const jlong handle = Java_qorvik_nat_NativeSession_J_1DeriveKey(
            env, jSession, jMechanism, static_cast<jlong>(key),
            attributeArray({{CKA_LABEL, str("derived")}}));
        if (plainMock().p11mock_log_count("C_DeriveKey") > 0) {
            received = plainMock().lastBuffer("C_DeriveKey", 0);
        }
        return handle;
    }

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

// The module receives [type][length][record bytes]; a record's pointers are
// addresses of this run, so only the members that are not pointers compare.
TEST_F(MechanismThroughModuleTest, DeriveKeyHandsTheModuleTheRecord) {
    std::string received;
    EXPECT_NE(deriveKey(mechanism(CKM_EXTRACT_KEY_FROM_KEY, extract(3)), received), 0);
    expectNoException();
    EXPECT_EQ(received, logged(CKM_EXTRACT_KEY_FROM_KEY, CK_EXTRACT_PARAMS{3}));

    received.clear();
    jobject out = keyMatOut(javaBytes(kIv16), nullptr);
    setIntField(out, "hClientKey", 7);
    EXPECT_NE(
        deriveKey(
            mechanism(
                CKM_SSL3_KEY_AND_MAC_DERIVE,
                keyMat(160, 128, 64, true,
                       randomData(javaBytes(counting(32, 1)), javaBytes(counting(28, 2))), out)),
            received),
        0);
    expectNoException();
    const std::string head = bytesOfRecord(CK_ULONG(CKM_SSL3_KEY_AND_MAC_DERIVE)) +
                             bytesOfRecord(CK_ULONG(sizeof(CK_SSL3_KEY_MAT_PARAMS)));
    ASSERT_EQ(received.size(), head.size() + sizeof(CK_SSL3_KEY_MAT_PARAMS));
    EXPECT_EQ(received.substr(0, head.size()), head);
    CK_SSL3_KEY_MAT_PARAMS params;
    std::memcpy(&params, received.data() + head.size(), sizeof params);
    EXPECT_EQ(params.ulMacSizeInBits, 160u);
    EXPECT_EQ(params.ulKeySizeInBits, 128u);
    EXPECT_EQ(params.ulIVSizeInBits, 64u);
    EXPECT_EQ(params.bIsExport, CK_TRUE);
    EXPECT_EQ(params.RandomInfo.ulClientRandomLen, 32u);
    EXPECT_EQ(params.RandomInfo.ulServerRandomLen, 28u);
    EXPECT_NE(params.RandomInfo.pClientRandom, nullptr);
    EXPECT_NE(params.RandomInfo.pServerRandom, nullptr);
    EXPECT_NE(params.pReturnedKeyMaterial, nullptr);

    received.clear();
    EXPECT_NE(deriveKey(mechanism(CKM_KEA_KEY_DERIVE,
                                  kea(true, javaBytes("0123456789"), javaBytes("abcdefghijkl"),
                                      javaBytes("public"))),
                        received),
              0);
    expectNoException();
    ASSERT_EQ(received.size(), 2 * sizeof(CK_ULONG) + sizeof(CK_KEA_DERIVE_PARAMS));
    CK_KEA_DERIVE_PARAMS keaParams;
    std::memcpy(&keaParams, received.data() + 2 * sizeof(CK_ULONG), sizeof keaParams);
    EXPECT_EQ(keaParams.isSender, CK_TRUE);
    EXPECT_EQ(keaParams.ulRandomLen, 10u);
    EXPECT_EQ(keaParams.ulPublicDataLen, 6u);
}

TEST_F(MechanismThroughModuleTest, DeriveKeyConversionFailureStopsBeforeTheModule) {
    const std::vector<std::pair<jobject, std::string>> cases = {
        {mechanism(CKM_PBE_SHA1_DES3_EDE_CBC,
                   pbe(nullptr, javaChars(u"\u0416"), javaChars(u"salt"), 1000)),
         "Mechanism2CKMechanism - password character out of range"},
        {mechanism(CKM_KEA_KEY_DERIVE,
                   kea(false, javaBytes("0123"), javaBytes("012"), javaBytes("p"))),
         "Mechanism2CKMechanism - randomB is too short"},
        {mechanism(CKM_SSL3_MASTER_KEY_DERIVE, extract(1)),
         "Mechanism2CKMechanism - parameter must be instance of "
         "'qorvik/params/SSL3MASTERKEYDERIVEParams'"}};
    for (const auto& [jMechanism, message] : cases) {
        std::string received = "<not called>";
        EXPECT_EQ(deriveKey(jMechanism, received), 0);
        expectFailure("J_DeriveKey", CKR_GENERAL_ERROR, message);
        EXPECT_EQ(received, "<not called>");
    }
}

}  // namespace
}  // namespace kt

namespace kt {
namespace {

TEST_F(MechanismThroughModuleTest, Ssl3KeyAndMacDeriveHandsBackOnlyTheHandleTheModuleLeft) {
    jobject out = keyMatOut(javaBytes("12345678"), javaBytes("abcdefgh"));
    jclass outClass = env->GetObjectClass(out);
    jfieldID clientKey = env->GetFieldID(outClass, "hClientKey", "I");
    env->SetIntField(out, clientKey, 77);
    jobject params = keyMat(128, 128, 64, false, randomData(javaBytes("c"), javaBytes("s")), out);

    // A module that writes no key handle into the result: 0 comes back.
    plainMock().p11mock_fail_next("C_DeriveKey", CKR_OK);
    std::string received;
    EXPECT_EQ(deriveKey(mechanism(CKM_SSL3_KEY_AND_MAC_DERIVE, params), received), 0);
    expectNoException();
    // Nothing of the record goes back into the Java objects.
    EXPECT_EQ(env->GetIntField(out, clientKey), 77);
    jbyteArray ivClient = static_cast<jbyteArray>(
        env->GetObjectField(out, env->GetFieldID(outClass, "ivClient", "[B")));
    EXPECT_EQ(bytesOf(ivClient), "12345678");

    // A module that made a key: its handle comes back.
    EXPECT_NE(deriveKey(mechanism(CKM_SSL3_KEY_AND_MAC_DERIVE, params), received), 0);
    expectNoException();
}

}  // namespace
}  // namespace kt
