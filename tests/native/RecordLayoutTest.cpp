// Parameter records of the AES modes, RSA-PSS, ECDH, the encryption-data
// derivations, PBKDF2 and CCM, checked member by member against the C layout
// modules are compiled with. The expected offsets come from a small layout
// calculator fed with the records' member lists (a CK_ULONG, a pointer, an
// array of bytes) and the build's CK_ULONG and pointer widths, so the same
// table checks the x86_64 and the i386 build. The calculator itself is first
// checked against offsets worked out by hand for three ABIs.
#include <gtest/gtest.h>

#include <cstddef>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "convert/Records.h"
#include "kelmora.h"

namespace {

// ---- The calculator -------------------------------------------------------------

enum class Kind { kUlong, kPointer, kBytes };

struct Member {
    const char* name;
    Kind kind;
    std::size_t count = 0;  // kBytes: number of bytes
};

// How a platform lays structures out: the widths of CK_ULONG and of a
// pointer, and the packing (0: natural alignment; 1: packed to one byte).
struct Abi {
    std::size_t ulongSize;
    std::size_t pointerSize;
    std::size_t pack;
};

struct Computed {
    std::vector<std::size_t> offsets;
    std::vector<std::size_t> sizes;
    std::size_t size = 0;
    std::size_t alignment = 1;
};

std::size_t roundUp(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// C's rule: each member at the next multiple of its alignment (its own size
// for a CK_ULONG or pointer, 1 for bytes, never more than the packing), the
// whole rounded up to the largest alignment so arrays of it stay aligned.
Computed layOut(const std::vector<Member>& members, const Abi& abi) {
    Computed out;
    std::size_t at = 0;
    for (const Member& m : members) {
        std::size_t size = 0;
        switch (m.kind) {
            case Kind::kUlong:
                size = abi.ulongSize;
                break;
            case Kind::kPointer:
                size = abi.pointerSize;
                break;
            case Kind::kBytes:
                size = m.count;
                break;
        }
        std::size_t alignment = m.kind == Kind::kBytes ? 1 : size;
        if (abi.pack != 0 && alignment > abi.pack) alignment = abi.pack;
        at = roundUp(at, alignment);
        out.offsets.push_back(at);
        out.sizes.push_back(size);
        at += size;
        if (alignment > out.alignment) out.alignment = alignment;
    }
    out.size = roundUp(at, out.alignment);
    return out;
}

Member ulong(const char* name) {
    return {name, Kind::kUlong};
}
Member pointer(const char* name) {
    return {name, Kind::kPointer};
}
Member bytes(const char* name, std::size_t count) {
    return {name, Kind::kBytes, count};
}

// ---- The records, as the standard's header declares them ------------------------

struct Record {
    const char* name;
    std::vector<Member> members;
    // What the compiler made of the declaration.
    std::size_t size;
    std::size_t alignment;
    std::vector<std::size_t> offsets;
    std::vector<std::size_t> sizes;
};

#define AT(T, member) offsetof(T, member)
#define SIZE(T, member) sizeof(static_cast<T*>(nullptr)->member)

const std::vector<Record>& records() {
    static const std::vector<Record> table = {
        {"CK_AES_CTR_PARAMS",
         {ulong("ulCounterBits"), bytes("cb", 16)},
         sizeof(CK_AES_CTR_PARAMS),
         alignof(CK_AES_CTR_PARAMS),
         {AT(CK_AES_CTR_PARAMS, ulCounterBits), AT(CK_AES_CTR_PARAMS, cb)},
         {SIZE(CK_AES_CTR_PARAMS, ulCounterBits), SIZE(CK_AES_CTR_PARAMS, cb)}},
        {"Pkcs11GcmParams",
         {pointer("pIv"), ulong("ulIvLen"), ulong("ulIvBits"), pointer("pAAD"), ulong("ulAADLen"),
          ulong("ulTagBits")},
         sizeof(Pkcs11GcmParams),
         alignof(Pkcs11GcmParams),
         {AT(Pkcs11GcmParams, pIv), AT(Pkcs11GcmParams, ulIvLen), AT(Pkcs11GcmParams, ulIvBits),
          AT(Pkcs11GcmParams, pAAD), AT(Pkcs11GcmParams, ulAADLen), AT(Pkcs11GcmParams, ulTagBits)},
         {SIZE(Pkcs11GcmParams, pIv), SIZE(Pkcs11GcmParams, ulIvLen),
          SIZE(Pkcs11GcmParams, ulIvBits), SIZE(Pkcs11GcmParams, pAAD),
          SIZE(Pkcs11GcmParams, ulAADLen), SIZE(Pkcs11GcmParams, ulTagBits)}},
        {"CK_CCM_PARAMS",
         {ulong("ulDataLen"), pointer("pNonce"), ulong("ulNonceLen"), pointer("pAAD"),
          ulong("ulAADLen"), ulong("ulMACLen")},
         sizeof(CK_CCM_PARAMS),
         alignof(CK_CCM_PARAMS),
         {AT(CK_CCM_PARAMS, ulDataLen), AT(CK_CCM_PARAMS, pNonce), AT(CK_CCM_PARAMS, ulNonceLen),
          AT(CK_CCM_PARAMS, pAAD), AT(CK_CCM_PARAMS, ulAADLen), AT(CK_CCM_PARAMS, ulMACLen)},
         {SIZE(CK_CCM_PARAMS, ulDataLen), SIZE(CK_CCM_PARAMS, pNonce),
          SIZE(CK_CCM_PARAMS, ulNonceLen), SIZE(CK_CCM_PARAMS, pAAD), SIZE(CK_CCM_PARAMS, ulAADLen),
          SIZE(CK_CCM_PARAMS, ulMACLen)}},
        {"CK_RSA_PKCS_PSS_PARAMS",
         {ulong("hashAlg"), ulong("mgf"), ulong("sLen")},
         sizeof(CK_RSA_PKCS_PSS_PARAMS),
         alignof(CK_RSA_PKCS_PSS_PARAMS),
         {AT(CK_RSA_PKCS_PSS_PARAMS, hashAlg), AT(CK_RSA_PKCS_PSS_PARAMS, mgf),
          AT(CK_RSA_PKCS_PSS_PARAMS, sLen)},
         {SIZE(CK_RSA_PKCS_PSS_PARAMS, hashAlg), SIZE(CK_RSA_PKCS_PSS_PARAMS, mgf),
          SIZE(CK_RSA_PKCS_PSS_PARAMS, sLen)}},
        {"CK_ECDH1_DERIVE_PARAMS",
         {ulong("kdf"), ulong("ulSharedDataLen"), pointer("pSharedData"), ulong("ulPublicDataLen"),
          pointer("pPublicData")},
         sizeof(CK_ECDH1_DERIVE_PARAMS),
         alignof(CK_ECDH1_DERIVE_PARAMS),
         {AT(CK_ECDH1_DERIVE_PARAMS, kdf), AT(CK_ECDH1_DERIVE_PARAMS, ulSharedDataLen),
          AT(CK_ECDH1_DERIVE_PARAMS, pSharedData), AT(CK_ECDH1_DERIVE_PARAMS, ulPublicDataLen),
          AT(CK_ECDH1_DERIVE_PARAMS, pPublicData)},
         {SIZE(CK_ECDH1_DERIVE_PARAMS, kdf), SIZE(CK_ECDH1_DERIVE_PARAMS, ulSharedDataLen),
          SIZE(CK_ECDH1_DERIVE_PARAMS, pSharedData), SIZE(CK_ECDH1_DERIVE_PARAMS, ulPublicDataLen),
          SIZE(CK_ECDH1_DERIVE_PARAMS, pPublicData)}},
        {"CK_KEY_DERIVATION_STRING_DATA",
         {pointer("pData"), ulong("ulLen")},
         sizeof(CK_KEY_DERIVATION_STRING_DATA),
         alignof(CK_KEY_DERIVATION_STRING_DATA),
         {AT(CK_KEY_DERIVATION_STRING_DATA, pData), AT(CK_KEY_DERIVATION_STRING_DATA, ulLen)},
         {SIZE(CK_KEY_DERIVATION_STRING_DATA, pData), SIZE(CK_KEY_DERIVATION_STRING_DATA, ulLen)}},
        {"CK_AES_CBC_ENCRYPT_DATA_PARAMS",
         {bytes("iv", 16), pointer("pData"), ulong("length")},
         sizeof(CK_AES_CBC_ENCRYPT_DATA_PARAMS),
         alignof(CK_AES_CBC_ENCRYPT_DATA_PARAMS),
         {AT(CK_AES_CBC_ENCRYPT_DATA_PARAMS, iv), AT(CK_AES_CBC_ENCRYPT_DATA_PARAMS, pData),
          AT(CK_AES_CBC_ENCRYPT_DATA_PARAMS, length)},
         {SIZE(CK_AES_CBC_ENCRYPT_DATA_PARAMS, iv), SIZE(CK_AES_CBC_ENCRYPT_DATA_PARAMS, pData),
          SIZE(CK_AES_CBC_ENCRYPT_DATA_PARAMS, length)}},
        {"CK_DES_CBC_ENCRYPT_DATA_PARAMS",
         {bytes("iv", 8), pointer("pData"), ulong("length")},
         sizeof(CK_DES_CBC_ENCRYPT_DATA_PARAMS),
         alignof(CK_DES_CBC_ENCRYPT_DATA_PARAMS),
         {AT(CK_DES_CBC_ENCRYPT_DATA_PARAMS, iv), AT(CK_DES_CBC_ENCRYPT_DATA_PARAMS, pData),
          AT(CK_DES_CBC_ENCRYPT_DATA_PARAMS, length)},
         {SIZE(CK_DES_CBC_ENCRYPT_DATA_PARAMS, iv), SIZE(CK_DES_CBC_ENCRYPT_DATA_PARAMS, pData),
          SIZE(CK_DES_CBC_ENCRYPT_DATA_PARAMS, length)}},
        // The v2.40 record: the password's length is behind a pointer.
        {"CK_PKCS5_PBKD2_PARAMS",
         {ulong("saltSource"), pointer("pSaltSourceData"), ulong("ulSaltSourceDataLen"),
          ulong("iterations"), ulong("prf"), pointer("pPrfData"), ulong("ulPrfDataLen"),
          pointer("pPassword"), pointer("ulPasswordLen")},
         sizeof(CK_PKCS5_PBKD2_PARAMS),
         alignof(CK_PKCS5_PBKD2_PARAMS),
         {AT(CK_PKCS5_PBKD2_PARAMS, saltSource), AT(CK_PKCS5_PBKD2_PARAMS, pSaltSourceData),
          AT(CK_PKCS5_PBKD2_PARAMS, ulSaltSourceDataLen), AT(CK_PKCS5_PBKD2_PARAMS, iterations),
          AT(CK_PKCS5_PBKD2_PARAMS, prf), AT(CK_PKCS5_PBKD2_PARAMS, pPrfData),
          AT(CK_PKCS5_PBKD2_PARAMS, ulPrfDataLen), AT(CK_PKCS5_PBKD2_PARAMS, pPassword),
          AT(CK_PKCS5_PBKD2_PARAMS, ulPasswordLen)},
         {SIZE(CK_PKCS5_PBKD2_PARAMS, saltSource), SIZE(CK_PKCS5_PBKD2_PARAMS, pSaltSourceData),
          SIZE(CK_PKCS5_PBKD2_PARAMS, ulSaltSourceDataLen), SIZE(CK_PKCS5_PBKD2_PARAMS, iterations),
          SIZE(CK_PKCS5_PBKD2_PARAMS, prf), SIZE(CK_PKCS5_PBKD2_PARAMS, pPrfData),
          SIZE(CK_PKCS5_PBKD2_PARAMS, ulPrfDataLen), SIZE(CK_PKCS5_PBKD2_PARAMS, pPassword),
          SIZE(CK_PKCS5_PBKD2_PARAMS, ulPasswordLen)}},
    };
    return table;
}

const Record& record(const std::string& name) {
    for (const Record& r : records()) {
        if (name == r.name) return r;
    }
    throw std::logic_error("no record " + name);
}

// The layout this build's compiler must produce: CK_ULONG and pointers as
// wide as the build makes them, aligned to their size; structures packed to
// one byte on Windows.
Abi thisBuild() {
#if defined(_WIN32)
    const std::size_t pack = 1;
#else
    const std::size_t pack = 0;
#endif
    return {sizeof(CK_ULONG), sizeof(void*), pack};
}

// ---- The calculator against layouts worked out by hand ---------------------------

struct HandWorked {
    const char* record;
    Abi abi;
    std::size_t size;
    std::vector<std::size_t> offsets;
};

constexpr Abi kLp64{8, 8, 0};
constexpr Abi kIlp32{4, 4, 0};
constexpr Abi kPackedWindows{4, 8, 1};

TEST(RecordLayoutCalculator, AgreesWithLayoutsWorkedOutByHand) {
    const HandWorked cases[] = {
        {"CK_AES_CTR_PARAMS", kLp64, 24, {0, 8}},
        {"CK_AES_CTR_PARAMS", kIlp32, 20, {0, 4}},
        {"CK_AES_CTR_PARAMS", kPackedWindows, 20, {0, 4}},
        {"Pkcs11GcmParams", kLp64, 48, {0, 8, 16, 24, 32, 40}},
        {"Pkcs11GcmParams", kIlp32, 24, {0, 4, 8, 12, 16, 20}},
        {"Pkcs11GcmParams", kPackedWindows, 32, {0, 8, 12, 16, 24, 28}},
        {"CK_CCM_PARAMS", kLp64, 48, {0, 8, 16, 24, 32, 40}},
        {"CK_CCM_PARAMS", kIlp32, 24, {0, 4, 8, 12, 16, 20}},
        {"CK_CCM_PARAMS", kPackedWindows, 32, {0, 4, 12, 16, 24, 28}},
        {"CK_RSA_PKCS_PSS_PARAMS", kLp64, 24, {0, 8, 16}},
        {"CK_RSA_PKCS_PSS_PARAMS", kPackedWindows, 12, {0, 4, 8}},
        {"CK_ECDH1_DERIVE_PARAMS", kLp64, 40, {0, 8, 16, 24, 32}},
        {"CK_ECDH1_DERIVE_PARAMS", kIlp32, 20, {0, 4, 8, 12, 16}},
        {"CK_ECDH1_DERIVE_PARAMS", kPackedWindows, 28, {0, 4, 8, 16, 20}},
        {"CK_KEY_DERIVATION_STRING_DATA", kPackedWindows, 12, {0, 8}},
        {"CK_AES_CBC_ENCRYPT_DATA_PARAMS", kLp64, 32, {0, 16, 24}},
        {"CK_AES_CBC_ENCRYPT_DATA_PARAMS", kPackedWindows, 28, {0, 16, 24}},
        {"CK_DES_CBC_ENCRYPT_DATA_PARAMS", kLp64, 24, {0, 8, 16}},
        {"CK_DES_CBC_ENCRYPT_DATA_PARAMS", kIlp32, 16, {0, 8, 12}},
        {"CK_PKCS5_PBKD2_PARAMS", kLp64, 72, {0, 8, 16, 24, 32, 40, 48, 56, 64}},
        {"CK_PKCS5_PBKD2_PARAMS", kIlp32, 36, {0, 4, 8, 12, 16, 20, 24, 28, 32}},
        {"CK_PKCS5_PBKD2_PARAMS", kPackedWindows, 52, {0, 4, 12, 16, 20, 24, 32, 36, 44}},
    };
    for (const HandWorked& c : cases) {
        const Computed got = layOut(record(c.record).members, c.abi);
        const std::string abi = std::to_string(c.abi.ulongSize) + "/" +
                                std::to_string(c.abi.pointerSize) + "/" +
                                std::to_string(c.abi.pack);
        EXPECT_EQ(got.size, c.size) << c.record << " " << abi;
        EXPECT_EQ(got.offsets, c.offsets) << c.record << " " << abi;
    }
}

// A byte array after a single CK_ULONG pads the end, not the middle.
TEST(RecordLayoutCalculator, PadsTheEndToTheWidestMember) {
    const Computed got = layOut({bytes("a", 3), ulong("b"), bytes("c", 1)}, kLp64);
    EXPECT_EQ(got.offsets, (std::vector<std::size_t>{0, 8, 16}));
    EXPECT_EQ(got.size, 24u);
    EXPECT_EQ(layOut({bytes("a", 3), ulong("b"), bytes("c", 1)}, kPackedWindows).size, 8u);
}

// ---- The compiler's records against the calculator -------------------------------

TEST(RecordLayout, EveryMemberWhereTheStandardPutsIt) {
    const Abi abi = thisBuild();
    for (const Record& r : records()) {
        ASSERT_EQ(r.offsets.size(), r.members.size()) << r.name;
        ASSERT_EQ(r.sizes.size(), r.members.size()) << r.name;
        const Computed expected = layOut(r.members, abi);
        EXPECT_EQ(r.size, expected.size) << r.name;
        EXPECT_EQ(r.alignment, expected.alignment) << r.name;
        for (std::size_t i = 0; i < r.members.size(); ++i) {
            EXPECT_EQ(r.offsets[i], expected.offsets[i]) << r.name << "." << r.members[i].name;
            EXPECT_EQ(r.sizes[i], expected.sizes[i]) << r.name << "." << r.members[i].name;
        }
    }
}

// The widths the records are built from are the ones this build promises.
TEST(RecordLayout, UlongAndPointerWidthsOfThisBuild) {
    EXPECT_EQ(sizeof(CK_ULONG), sizeof(unsigned long));
    EXPECT_EQ(sizeof(CK_ULONG_PTR), sizeof(void*));
    EXPECT_EQ(sizeof(CK_BYTE), 1u);
    std::cout << "summary: record layouts checked " << records().size() << " records, CK_ULONG "
              << sizeof(CK_ULONG) << " bytes, pointers " << sizeof(void*) << " bytes" << std::endl;
}

}  // namespace
