// Cryptoki structures of the Windows build: packed to 1 byte with a 32-bit
// CK_ULONG and 64-bit pointers. Every size and offset below is worked out by
// hand from the field list (4 bytes per CK_ULONG, 8 per pointer, no padding).
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "convert/Records.h"
#include "kelmora.h"

namespace {

struct Field {
    const char* name;
    std::size_t offset;
    std::size_t expected;
};

struct Layout {
    const char* name;
    std::size_t size;
    std::size_t alignment;
    std::size_t expectedSize;
    std::vector<Field> fields;
};

#define LAYOUT(T, expectedSize, ...)               \
    Layout {                                       \
#T, sizeof(T), alignof(T), expectedSize, { \
            __VA_ARGS__                            \
        }                                          \
    }
#define AT(T, field, expected)               \
    Field {                                  \
#field, offsetof(T, field), expected \
    }

const std::vector<Layout>& layouts() {
    static const std::vector<Layout> table = {
        LAYOUT(CK_VERSION, 2, AT(CK_VERSION, major, 0), AT(CK_VERSION, minor, 1)),
        LAYOUT(CK_ATTRIBUTE, 16, AT(CK_ATTRIBUTE, type, 0), AT(CK_ATTRIBUTE, pValue, 4),
               AT(CK_ATTRIBUTE, ulValueLen, 12)),
        LAYOUT(CK_MECHANISM, 16, AT(CK_MECHANISM, mechanism, 0), AT(CK_MECHANISM, pParameter, 4),
               AT(CK_MECHANISM, ulParameterLen, 12)),
        LAYOUT(CK_INFO, 72, AT(CK_INFO, cryptokiVersion, 0), AT(CK_INFO, manufacturerID, 2),
               AT(CK_INFO, flags, 34), AT(CK_INFO, libraryDescription, 38),
               AT(CK_INFO, libraryVersion, 70)),
        LAYOUT(CK_SLOT_INFO, 104, AT(CK_SLOT_INFO, slotDescription, 0),
               AT(CK_SLOT_INFO, manufacturerID, 64), AT(CK_SLOT_INFO, flags, 96),
               AT(CK_SLOT_INFO, hardwareVersion, 100), AT(CK_SLOT_INFO, firmwareVersion, 102)),
        LAYOUT(CK_TOKEN_INFO, 160, AT(CK_TOKEN_INFO, label, 0),
               AT(CK_TOKEN_INFO, manufacturerID, 32), AT(CK_TOKEN_INFO, model, 64),
               AT(CK_TOKEN_INFO, serialNumber, 80), AT(CK_TOKEN_INFO, flags, 96),
               AT(CK_TOKEN_INFO, ulMaxSessionCount, 100), AT(CK_TOKEN_INFO, ulSessionCount, 104),
               AT(CK_TOKEN_INFO, ulMaxRwSessionCount, 108),
               AT(CK_TOKEN_INFO, ulRwSessionCount, 112), AT(CK_TOKEN_INFO, ulMaxPinLen, 116),
               AT(CK_TOKEN_INFO, ulMinPinLen, 120), AT(CK_TOKEN_INFO, ulTotalPublicMemory, 124),
               AT(CK_TOKEN_INFO, ulFreePublicMemory, 128),
               AT(CK_TOKEN_INFO, ulTotalPrivateMemory, 132),
               AT(CK_TOKEN_INFO, ulFreePrivateMemory, 136), AT(CK_TOKEN_INFO, hardwareVersion, 140),
               AT(CK_TOKEN_INFO, firmwareVersion, 142), AT(CK_TOKEN_INFO, utcTime, 144)),
        LAYOUT(CK_SESSION_INFO, 16, AT(CK_SESSION_INFO, slotID, 0), AT(CK_SESSION_INFO, state, 4),
               AT(CK_SESSION_INFO, flags, 8), AT(CK_SESSION_INFO, ulDeviceError, 12)),
        LAYOUT(CK_MECHANISM_INFO, 12, AT(CK_MECHANISM_INFO, ulMinKeySize, 0),
               AT(CK_MECHANISM_INFO, ulMaxKeySize, 4), AT(CK_MECHANISM_INFO, flags, 8)),
        // Parameter records the mechanism conversion builds.
        LAYOUT(CK_RSA_PKCS_OAEP_PARAMS, 24, AT(CK_RSA_PKCS_OAEP_PARAMS, hashAlg, 0),
               AT(CK_RSA_PKCS_OAEP_PARAMS, mgf, 4), AT(CK_RSA_PKCS_OAEP_PARAMS, source, 8),
               AT(CK_RSA_PKCS_OAEP_PARAMS, pSourceData, 12),
               AT(CK_RSA_PKCS_OAEP_PARAMS, ulSourceDataLen, 20)),
        LAYOUT(CK_RC2_PARAMS, 4),
        LAYOUT(CK_RC2_CBC_PARAMS, 12, AT(CK_RC2_CBC_PARAMS, ulEffectiveBits, 0),
               AT(CK_RC2_CBC_PARAMS, iv, 4)),
        LAYOUT(CK_RC2_MAC_GENERAL_PARAMS, 8, AT(CK_RC2_MAC_GENERAL_PARAMS, ulEffectiveBits, 0),
               AT(CK_RC2_MAC_GENERAL_PARAMS, ulMacLength, 4)),
        LAYOUT(CK_RC5_PARAMS, 8, AT(CK_RC5_PARAMS, ulWordsize, 0), AT(CK_RC5_PARAMS, ulRounds, 4)),
        LAYOUT(CK_RC5_CBC_PARAMS, 20, AT(CK_RC5_CBC_PARAMS, ulWordsize, 0),
               AT(CK_RC5_CBC_PARAMS, ulRounds, 4), AT(CK_RC5_CBC_PARAMS, pIv, 8),
               AT(CK_RC5_CBC_PARAMS, ulIvLen, 16)),
        LAYOUT(CK_RC5_MAC_GENERAL_PARAMS, 12, AT(CK_RC5_MAC_GENERAL_PARAMS, ulWordsize, 0),
               AT(CK_RC5_MAC_GENERAL_PARAMS, ulRounds, 4),
               AT(CK_RC5_MAC_GENERAL_PARAMS, ulMacLength, 8)),
        LAYOUT(CK_MAC_GENERAL_PARAMS, 4),
        LAYOUT(CK_EXTRACT_PARAMS, 4),
        LAYOUT(CK_KEY_DERIVATION_STRING_DATA, 12, AT(CK_KEY_DERIVATION_STRING_DATA, pData, 0),
               AT(CK_KEY_DERIVATION_STRING_DATA, ulLen, 8)),
        LAYOUT(CK_SSL3_RANDOM_DATA, 24, AT(CK_SSL3_RANDOM_DATA, pClientRandom, 0),
               AT(CK_SSL3_RANDOM_DATA, ulClientRandomLen, 8),
               AT(CK_SSL3_RANDOM_DATA, pServerRandom, 12),
               AT(CK_SSL3_RANDOM_DATA, ulServerRandomLen, 20)),
        LAYOUT(CK_SSL3_MASTER_KEY_DERIVE_PARAMS, 32,
               AT(CK_SSL3_MASTER_KEY_DERIVE_PARAMS, RandomInfo, 0),
               AT(CK_SSL3_MASTER_KEY_DERIVE_PARAMS, pVersion, 24)),
        LAYOUT(CK_SSL3_KEY_MAT_OUT, 32, AT(CK_SSL3_KEY_MAT_OUT, hClientMacSecret, 0),
               AT(CK_SSL3_KEY_MAT_OUT, hServerMacSecret, 4), AT(CK_SSL3_KEY_MAT_OUT, hClientKey, 8),
               AT(CK_SSL3_KEY_MAT_OUT, hServerKey, 12), AT(CK_SSL3_KEY_MAT_OUT, pIVClient, 16),
               AT(CK_SSL3_KEY_MAT_OUT, pIVServer, 24)),
        LAYOUT(CK_SSL3_KEY_MAT_PARAMS, 45, AT(CK_SSL3_KEY_MAT_PARAMS, ulMacSizeInBits, 0),
               AT(CK_SSL3_KEY_MAT_PARAMS, ulKeySizeInBits, 4),
               AT(CK_SSL3_KEY_MAT_PARAMS, ulIVSizeInBits, 8),
               AT(CK_SSL3_KEY_MAT_PARAMS, bIsExport, 12),
               AT(CK_SSL3_KEY_MAT_PARAMS, RandomInfo, 13),
               AT(CK_SSL3_KEY_MAT_PARAMS, pReturnedKeyMaterial, 37)),
        LAYOUT(CK_KEA_DERIVE_PARAMS, 33, AT(CK_KEA_DERIVE_PARAMS, isSender, 0),
               AT(CK_KEA_DERIVE_PARAMS, ulRandomLen, 1), AT(CK_KEA_DERIVE_PARAMS, pRandomA, 5),
               AT(CK_KEA_DERIVE_PARAMS, pRandomB, 13),
               AT(CK_KEA_DERIVE_PARAMS, ulPublicDataLen, 21),
               AT(CK_KEA_DERIVE_PARAMS, pPublicData, 25)),
        LAYOUT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, 68,
               AT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulPasswordLen, 0),
               AT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pPassword, 4),
               AT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulPublicDataLen, 12),
               AT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pPublicData, 16),
               AT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulPAndGLen, 24),
               AT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulQLen, 28),
               AT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulRandomLen, 32),
               AT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pRandomA, 36),
               AT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pPrimeP, 44),
               AT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pBaseG, 52),
               AT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pSubprimeQ, 60)),
        LAYOUT(CK_SKIPJACK_RELAYX_PARAMS, 84, AT(CK_SKIPJACK_RELAYX_PARAMS, ulOldWrappedXLen, 0),
               AT(CK_SKIPJACK_RELAYX_PARAMS, pOldWrappedX, 4),
               AT(CK_SKIPJACK_RELAYX_PARAMS, ulOldPasswordLen, 12),
               AT(CK_SKIPJACK_RELAYX_PARAMS, pOldPassword, 16),
               AT(CK_SKIPJACK_RELAYX_PARAMS, ulOldPublicDataLen, 24),
               AT(CK_SKIPJACK_RELAYX_PARAMS, pOldPublicData, 28),
               AT(CK_SKIPJACK_RELAYX_PARAMS, ulOldRandomLen, 36),
               AT(CK_SKIPJACK_RELAYX_PARAMS, pOldRandomA, 40),
               AT(CK_SKIPJACK_RELAYX_PARAMS, ulNewPasswordLen, 48),
               AT(CK_SKIPJACK_RELAYX_PARAMS, pNewPassword, 52),
               AT(CK_SKIPJACK_RELAYX_PARAMS, ulNewPublicDataLen, 60),
               AT(CK_SKIPJACK_RELAYX_PARAMS, pNewPublicData, 64),
               AT(CK_SKIPJACK_RELAYX_PARAMS, ulNewRandomLen, 72),
               AT(CK_SKIPJACK_RELAYX_PARAMS, pNewRandomA, 76)),
        LAYOUT(CK_PBE_PARAMS, 36, AT(CK_PBE_PARAMS, pInitVector, 0),
               AT(CK_PBE_PARAMS, pPassword, 8), AT(CK_PBE_PARAMS, ulPasswordLen, 16),
               AT(CK_PBE_PARAMS, pSalt, 20), AT(CK_PBE_PARAMS, ulSaltLen, 28),
               AT(CK_PBE_PARAMS, ulIteration, 32)),
        LAYOUT(CK_KEY_WRAP_SET_OAEP_PARAMS, 13, AT(CK_KEY_WRAP_SET_OAEP_PARAMS, bBC, 0),
               AT(CK_KEY_WRAP_SET_OAEP_PARAMS, pX, 1), AT(CK_KEY_WRAP_SET_OAEP_PARAMS, ulXLen, 9)),
        // The AES modes, RSA-PSS, ECDH, the encryption-data derivations, PBKDF2, CCM.
        LAYOUT(CK_AES_CTR_PARAMS, 20, AT(CK_AES_CTR_PARAMS, ulCounterBits, 0),
               AT(CK_AES_CTR_PARAMS, cb, 4)),
        LAYOUT(Pkcs11GcmParams, 32, AT(Pkcs11GcmParams, pIv, 0), AT(Pkcs11GcmParams, ulIvLen, 8),
               AT(Pkcs11GcmParams, ulIvBits, 12), AT(Pkcs11GcmParams, pAAD, 16),
               AT(Pkcs11GcmParams, ulAADLen, 24), AT(Pkcs11GcmParams, ulTagBits, 28)),
        LAYOUT(CK_CCM_PARAMS, 32, AT(CK_CCM_PARAMS, ulDataLen, 0), AT(CK_CCM_PARAMS, pNonce, 4),
               AT(CK_CCM_PARAMS, ulNonceLen, 12), AT(CK_CCM_PARAMS, pAAD, 16),
               AT(CK_CCM_PARAMS, ulAADLen, 24), AT(CK_CCM_PARAMS, ulMACLen, 28)),
        LAYOUT(CK_RSA_PKCS_PSS_PARAMS, 12, AT(CK_RSA_PKCS_PSS_PARAMS, hashAlg, 0),
               AT(CK_RSA_PKCS_PSS_PARAMS, mgf, 4), AT(CK_RSA_PKCS_PSS_PARAMS, sLen, 8)),
        LAYOUT(CK_ECDH1_DERIVE_PARAMS, 28, AT(CK_ECDH1_DERIVE_PARAMS, kdf, 0),
               AT(CK_ECDH1_DERIVE_PARAMS, ulSharedDataLen, 4),
               AT(CK_ECDH1_DERIVE_PARAMS, pSharedData, 8),
               AT(CK_ECDH1_DERIVE_PARAMS, ulPublicDataLen, 16),
               AT(CK_ECDH1_DERIVE_PARAMS, pPublicData, 20)),
        LAYOUT(CK_AES_CBC_ENCRYPT_DATA_PARAMS, 28, AT(CK_AES_CBC_ENCRYPT_DATA_PARAMS, iv, 0),
               AT(CK_AES_CBC_ENCRYPT_DATA_PARAMS, pData, 16),
               AT(CK_AES_CBC_ENCRYPT_DATA_PARAMS, length, 24)),
        LAYOUT(CK_DES_CBC_ENCRYPT_DATA_PARAMS, 20, AT(CK_DES_CBC_ENCRYPT_DATA_PARAMS, iv, 0),
               AT(CK_DES_CBC_ENCRYPT_DATA_PARAMS, pData, 8),
               AT(CK_DES_CBC_ENCRYPT_DATA_PARAMS, length, 16)),
        LAYOUT(CK_PKCS5_PBKD2_PARAMS, 52, AT(CK_PKCS5_PBKD2_PARAMS, saltSource, 0),
               AT(CK_PKCS5_PBKD2_PARAMS, pSaltSourceData, 4),
               AT(CK_PKCS5_PBKD2_PARAMS, ulSaltSourceDataLen, 12),
               AT(CK_PKCS5_PBKD2_PARAMS, iterations, 16), AT(CK_PKCS5_PBKD2_PARAMS, prf, 20),
               AT(CK_PKCS5_PBKD2_PARAMS, pPrfData, 24), AT(CK_PKCS5_PBKD2_PARAMS, ulPrfDataLen, 32),
               AT(CK_PKCS5_PBKD2_PARAMS, pPassword, 36),
               AT(CK_PKCS5_PBKD2_PARAMS, ulPasswordLen, 44)),
    };
    return table;
}

TEST(WindowsStructureLayout, PackedToOneByteWith32BitUlong) {
    ASSERT_EQ(sizeof(CK_ULONG), 4u);
    ASSERT_EQ(sizeof(void*), 8u);
    for (const Layout& l : layouts()) {
        EXPECT_EQ(l.size, l.expectedSize) << l.name;
        // Records align to one byte, so arrays of them are packed too; the
        // plain CK_ULONG parameters keep their own alignment.
        EXPECT_EQ(l.alignment, l.fields.empty() ? sizeof(CK_ULONG) : 1u) << l.name;
        for (const Field& f : l.fields) {
            EXPECT_EQ(f.offset, f.expected) << l.name << "." << f.name;
        }
    }
}

// The function list the bridge calls through is packed the same way: its
// entries follow the version record without a gap.
TEST(WindowsStructureLayout, FunctionListEntriesFollowTheVersion) {
    EXPECT_EQ(offsetof(CK_FUNCTION_LIST, version), 0u);
    EXPECT_EQ(offsetof(CK_FUNCTION_LIST, C_Initialize), 2u);
    EXPECT_EQ(offsetof(CK_FUNCTION_LIST, C_Finalize), 10u);
    EXPECT_EQ(offsetof(CK_FUNCTION_LIST, C_WaitForSlotEvent), 2u + 67u * 8u);
    EXPECT_EQ(sizeof(CK_FUNCTION_LIST), 2u + 68u * 8u);
}

}  // namespace
