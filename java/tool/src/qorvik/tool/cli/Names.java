package qorvik.tool.cli;

import java.util.LinkedHashMap;
import java.util.Locale;
import java.util.Map;
import java.util.OptionalInt;

/**
 * Names of the Cryptoki numbers the command shows and accepts: return values (CKR_), mechanisms
 * (CKM_), key types (CKK_), object classes (CKO_) and attributes (CKA_), and the flag bits of
 * mechanisms, tokens and slots. A number outside a table is shown in hex, with "(unknown)" for
 * return values; one at or above the vendor base as the base's name plus the offset.
 */
public final class Names {
    /** The first vendor-defined value of every table. */
    public static final long VENDOR_DEFINED = 0x80000000L;

    // The return values the bridge itself describes, and no others: a code it has no text for is
    // shown as unknown here too, so the command and the exception's message never disagree.
    private static final Map<Integer, String> CKR = table(
            row(0x0, "CKR_OK"),
            row(0x1, "CKR_CANCEL"),
            row(0x2, "CKR_HOST_MEMORY"),
            row(0x3, "CKR_SLOT_ID_INVALID"),
            row(0x5, "CKR_GENERAL_ERROR"),
            row(0x6, "CKR_FUNCTION_FAILED"),
            row(0x7, "CKR_ARGUMENTS_BAD"),
            row(0x8, "CKR_NO_EVENT"),
            row(0x9, "CKR_NEED_TO_CREATE_THREADS"),
            row(0xA, "CKR_CANT_LOCK"),
            row(0x10, "CKR_ATTRIBUTE_READ_ONLY"),
            row(0x11, "CKR_ATTRIBUTE_SENSITIVE"),
            row(0x12, "CKR_ATTRIBUTE_TYPE_INVALID"),
            row(0x13, "CKR_ATTRIBUTE_VALUE_INVALID"),
            row(0x20, "CKR_DATA_INVALID"),
            row(0x21, "CKR_DATA_LEN_RANGE"),
            row(0x30, "CKR_DEVICE_ERROR"),
            row(0x31, "CKR_DEVICE_MEMORY"),
            row(0x32, "CKR_DEVICE_REMOVED"),
            row(0x40, "CKR_ENCRYPTED_DATA_INVALID"),
            row(0x41, "CKR_ENCRYPTED_DATA_LEN_RANGE"),
            row(0x50, "CKR_FUNCTION_CANCELED"),
            row(0x51, "CKR_FUNCTION_NOT_PARALLEL"),
            row(0x54, "CKR_FUNCTION_NOT_SUPPORTED"),
            row(0x60, "CKR_KEY_HANDLE_INVALID"),
            row(0x62, "CKR_KEY_SIZE_RANGE"),
            row(0x64, "CKR_KEY_NOT_NEEDED"),
            row(0x65, "CKR_KEY_CHANGED"),
            row(0x66, "CKR_KEY_NEEDED"),
            row(0x67, "CKR_KEY_INDIGESTIBLE"),
            row(0x68, "CKR_KEY_FUNCTION_NOT_PERMITTED"),
            row(0x69, "CKR_KEY_NOT_WRAPPABLE"),
            row(0x6A, "CKR_KEY_UNEXTRACTABLE"),
            row(0x70, "CKR_MECHANISM_INVALID"),
            row(0x71, "CKR_MECHANISM_PARAM_INVALID"),
            row(0x82, "CKR_OBJECT_HANDLE_INVALID"),
            row(0x90, "CKR_OPERATION_ACTIVE"),
            row(0x91, "CKR_OPERATION_NOT_INITIALIZED"),
            row(0xA0, "CKR_PIN_INCORRECT"),
            row(0xA1, "CKR_PIN_INVALID"),
            row(0xA2, "CKR_PIN_LEN_RANGE"),
            row(0xA3, "CKR_PIN_EXPIRED"),
            row(0xA4, "CKR_PIN_LOCKED"),
            row(0xB0, "CKR_SESSION_CLOSED"),
            row(0xB1, "CKR_SESSION_COUNT"),
            row(0xB3, "CKR_SESSION_HANDLE_INVALID"),
            row(0xB4, "CKR_SESSION_PARALLEL_NOT_SUPPORTED"),
            row(0xB5, "CKR_SESSION_READ_ONLY"),
            row(0xB6, "CKR_SESSION_EXISTS"),
            row(0xB7, "CKR_SESSION_READ_ONLY_EXISTS"),
            row(0xB8, "CKR_SESSION_READ_WRITE_SO_EXISTS"),
            row(0xC0, "CKR_SIGNATURE_INVALID"),
            row(0xC1, "CKR_SIGNATURE_LEN_RANGE"),
            row(0xD0, "CKR_TEMPLATE_INCOMPLETE"),
            row(0xD1, "CKR_TEMPLATE_INCONSISTENT"),
            row(0xE0, "CKR_TOKEN_NOT_PRESENT"),
            row(0xE1, "CKR_TOKEN_NOT_RECOGNIZED"),
            row(0xE2, "CKR_TOKEN_WRITE_PROTECTED"),
            row(0xF0, "CKR_UNWRAPPING_KEY_HANDLE_INVALID"),
            row(0xF1, "CKR_UNWRAPPING_KEY_SIZE_RANGE"),
            row(0xF2, "CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT"),
            row(0x100, "CKR_USER_ALREADY_LOGGED_IN"),
            row(0x101, "CKR_USER_NOT_LOGGED_IN"),
            row(0x102, "CKR_USER_PIN_NOT_INITIALIZED"),
            row(0x103, "CKR_USER_TYPE_INVALID"),
            row(0x104, "CKR_USER_ANOTHER_ALREADY_LOGGED_IN"),
            row(0x105, "CKR_USER_TOO_MANY_TYPES"),
            row(0x110, "CKR_WRAPPED_KEY_INVALID"),
            row(0x112, "CKR_WRAPPED_KEY_LEN_RANGE"),
            row(0x113, "CKR_WRAPPING_KEY_HANDLE_INVALID"),
            row(0x114, "CKR_WRAPPING_KEY_SIZE_RANGE"),
            row(0x115, "CKR_WRAPPING_KEY_TYPE_INCONSISTENT"),
            row(0x120, "CKR_RANDOM_SEED_NOT_SUPPORTED"),
            row(0x121, "CKR_RANDOM_NO_RNG"),
            row(0x150, "CKR_BUFFER_TOO_SMALL"),
            row(0x160, "CKR_SAVED_STATE_INVALID"),
            row(0x170, "CKR_INFORMATION_SENSITIVE"),
            row(0x180, "CKR_STATE_UNSAVEABLE"),
            row(0x190, "CKR_CRYPTOKI_NOT_INITIALIZED"),
            row(0x191, "CKR_CRYPTOKI_ALREADY_INITIALIZED"),
            row(0x1A0, "CKR_MUTEX_BAD"),
            row(0x1A1, "CKR_MUTEX_NOT_LOCKED"));

    private static final Map<Integer, String> CKM = table(
            row(0x0, "CKM_RSA_PKCS_KEY_PAIR_GEN"),
            row(0x1, "CKM_RSA_PKCS"),
            row(0x2, "CKM_RSA_9796"),
            row(0x3, "CKM_RSA_X_509"),
            row(0x4, "CKM_MD2_RSA_PKCS"),
            row(0x5, "CKM_MD5_RSA_PKCS"),
            row(0x6, "CKM_SHA1_RSA_PKCS"),
            row(0x7, "CKM_RIPEMD128_RSA_PKCS"),
            row(0x8, "CKM_RIPEMD160_RSA_PKCS"),
            row(0x9, "CKM_RSA_PKCS_OAEP"),
            row(0xA, "CKM_RSA_X9_31_KEY_PAIR_GEN"),
            row(0xB, "CKM_RSA_X9_31"),
            row(0xC, "CKM_SHA1_RSA_X9_31"),
            row(0xD, "CKM_RSA_PKCS_PSS"),
            row(0xE, "CKM_SHA1_RSA_PKCS_PSS"),
            row(0x10, "CKM_DSA_KEY_PAIR_GEN"),
            row(0x11, "CKM_DSA"),
            row(0x12, "CKM_DSA_SHA1"),
            row(0x13, "CKM_DSA_SHA224"),
            row(0x14, "CKM_DSA_SHA256"),
            row(0x15, "CKM_DSA_SHA384"),
            row(0x16, "CKM_DSA_SHA512"),
            row(0x20, "CKM_DH_PKCS_KEY_PAIR_GEN"),
            row(0x21, "CKM_DH_PKCS_DERIVE"),
            row(0x30, "CKM_X9_42_DH_KEY_PAIR_GEN"),
            row(0x31, "CKM_X9_42_DH_DERIVE"),
            row(0x40, "CKM_SHA256_RSA_PKCS"),
            row(0x41, "CKM_SHA384_RSA_PKCS"),
            row(0x42, "CKM_SHA512_RSA_PKCS"),
            row(0x43, "CKM_SHA256_RSA_PKCS_PSS"),
            row(0x44, "CKM_SHA384_RSA_PKCS_PSS"),
            row(0x45, "CKM_SHA512_RSA_PKCS_PSS"),
            row(0x46, "CKM_SHA224_RSA_PKCS"),
            row(0x47, "CKM_SHA224_RSA_PKCS_PSS"),
            row(0x48, "CKM_SHA512_224"),
            row(0x4C, "CKM_SHA512_256"),
            row(0x120, "CKM_DES_KEY_GEN"),
            row(0x121, "CKM_DES_ECB"),
            row(0x122, "CKM_DES_CBC"),
            row(0x123, "CKM_DES_MAC"),
            row(0x124, "CKM_DES_MAC_GENERAL"),
            row(0x125, "CKM_DES_CBC_PAD"),
            row(0x130, "CKM_DES2_KEY_GEN"),
            row(0x131, "CKM_DES3_KEY_GEN"),
            row(0x132, "CKM_DES3_ECB"),
            row(0x133, "CKM_DES3_CBC"),
            row(0x134, "CKM_DES3_MAC"),
            row(0x135, "CKM_DES3_MAC_GENERAL"),
            row(0x136, "CKM_DES3_CBC_PAD"),
            row(0x137, "CKM_DES3_CMAC_GENERAL"),
            row(0x138, "CKM_DES3_CMAC"),
            row(0x200, "CKM_MD2"),
            row(0x210, "CKM_MD5"),
            row(0x211, "CKM_MD5_HMAC"),
            row(0x212, "CKM_MD5_HMAC_GENERAL"),
            row(0x220, "CKM_SHA_1"),
            row(0x221, "CKM_SHA_1_HMAC"),
            row(0x222, "CKM_SHA_1_HMAC_GENERAL"),
            row(0x230, "CKM_RIPEMD128"),
            row(0x240, "CKM_RIPEMD160"),
            row(0x250, "CKM_SHA256"),
            row(0x251, "CKM_SHA256_HMAC"),
            row(0x252, "CKM_SHA256_HMAC_GENERAL"),
            row(0x255, "CKM_SHA224"),
            row(0x256, "CKM_SHA224_HMAC"),
            row(0x257, "CKM_SHA224_HMAC_GENERAL"),
            row(0x260, "CKM_SHA384"),
            row(0x261, "CKM_SHA384_HMAC"),
            row(0x262, "CKM_SHA384_HMAC_GENERAL"),
            row(0x270, "CKM_SHA512"),
            row(0x271, "CKM_SHA512_HMAC"),
            row(0x272, "CKM_SHA512_HMAC_GENERAL"),
            row(0x350, "CKM_GENERIC_SECRET_KEY_GEN"),
            row(0x360, "CKM_CONCATENATE_BASE_AND_KEY"),
            row(0x362, "CKM_CONCATENATE_BASE_AND_DATA"),
            row(0x363, "CKM_CONCATENATE_DATA_AND_BASE"),
            row(0x364, "CKM_XOR_BASE_AND_DATA"),
            row(0x365, "CKM_EXTRACT_KEY_FROM_KEY"),
            row(0x370, "CKM_SSL3_PRE_MASTER_KEY_GEN"),
            row(0x371, "CKM_SSL3_MASTER_KEY_DERIVE"),
            row(0x374, "CKM_TLS_PRE_MASTER_KEY_GEN"),
            row(0x375, "CKM_TLS_MASTER_KEY_DERIVE"),
            row(0x390, "CKM_SHA1_KEY_DERIVATION"),
            row(0x392, "CKM_SHA256_KEY_DERIVATION"),
            row(0x393, "CKM_SHA384_KEY_DERIVATION"),
            row(0x394, "CKM_SHA512_KEY_DERIVATION"),
            row(0x396, "CKM_SHA224_KEY_DERIVATION"),
            row(0x3B0, "CKM_PKCS5_PBKD2"),
            row(0x1040, "CKM_EC_KEY_PAIR_GEN"),
            row(0x1041, "CKM_ECDSA"),
            row(0x1042, "CKM_ECDSA_SHA1"),
            row(0x1043, "CKM_ECDSA_SHA224"),
            row(0x1044, "CKM_ECDSA_SHA256"),
            row(0x1045, "CKM_ECDSA_SHA384"),
            row(0x1046, "CKM_ECDSA_SHA512"),
            row(0x1050, "CKM_ECDH1_DERIVE"),
            row(0x1051, "CKM_ECDH1_COFACTOR_DERIVE"),
            row(0x1052, "CKM_ECMQV_DERIVE"),
            row(0x1055, "CKM_EC_EDWARDS_KEY_PAIR_GEN"),
            row(0x1056, "CKM_EC_MONTGOMERY_KEY_PAIR_GEN"),
            row(0x1057, "CKM_EDDSA"),
            row(0x1080, "CKM_AES_KEY_GEN"),
            row(0x1081, "CKM_AES_ECB"),
            row(0x1082, "CKM_AES_CBC"),
            row(0x1083, "CKM_AES_MAC"),
            row(0x1084, "CKM_AES_MAC_GENERAL"),
            row(0x1085, "CKM_AES_CBC_PAD"),
            row(0x1086, "CKM_AES_CTR"),
            row(0x1087, "CKM_AES_GCM"),
            row(0x1088, "CKM_AES_CCM"),
            row(0x1089, "CKM_AES_CTS"),
            row(0x108A, "CKM_AES_CMAC"),
            row(0x108B, "CKM_AES_CMAC_GENERAL"),
            row(0x108C, "CKM_AES_XCBC_MAC"),
            row(0x108E, "CKM_AES_GMAC"),
            row(0x1100, "CKM_DES_ECB_ENCRYPT_DATA"),
            row(0x1101, "CKM_DES_CBC_ENCRYPT_DATA"),
            row(0x1102, "CKM_DES3_ECB_ENCRYPT_DATA"),
            row(0x1103, "CKM_DES3_CBC_ENCRYPT_DATA"),
            row(0x1104, "CKM_AES_ECB_ENCRYPT_DATA"),
            row(0x1105, "CKM_AES_CBC_ENCRYPT_DATA"),
            row(0x1200, "CKM_GOSTR3410_KEY_PAIR_GEN"),
            row(0x1201, "CKM_GOSTR3410"),
            row(0x1202, "CKM_GOSTR3410_WITH_GOSTR3411"),
            row(0x1203, "CKM_GOSTR3410_KEY_WRAP"),
            row(0x1204, "CKM_GOSTR3410_DERIVE"),
            row(0x1210, "CKM_GOSTR3411"),
            row(0x1211, "CKM_GOSTR3411_HMAC"),
            row(0x1220, "CKM_GOST28147_KEY_GEN"),
            row(0x1221, "CKM_GOST28147_ECB"),
            row(0x1222, "CKM_GOST28147"),
            row(0x1223, "CKM_GOST28147_MAC"),
            row(0x1224, "CKM_GOST28147_KEY_WRAP"),
            row(0x2000, "CKM_DSA_PARAMETER_GEN"),
            row(0x2001, "CKM_DH_PKCS_PARAMETER_GEN"),
            row(0x2002, "CKM_X9_42_DH_PARAMETER_GEN"),
            row(0x2109, "CKM_AES_KEY_WRAP"),
            row(0x210A, "CKM_AES_KEY_WRAP_PAD"));

    private static final Map<Integer, String> CKK = table(
            row(0x0, "CKK_RSA"),
            row(0x1, "CKK_DSA"),
            row(0x2, "CKK_DH"),
            row(0x3, "CKK_EC"),
            row(0x4, "CKK_X9_42_DH"),
            row(0x5, "CKK_KEA"),
            row(0x10, "CKK_GENERIC_SECRET"),
            row(0x11, "CKK_RC2"),
            row(0x12, "CKK_RC4"),
            row(0x13, "CKK_DES"),
            row(0x14, "CKK_DES2"),
            row(0x15, "CKK_DES3"),
            row(0x16, "CKK_CAST"),
            row(0x17, "CKK_CAST3"),
            row(0x18, "CKK_CAST128"),
            row(0x19, "CKK_RC5"),
            row(0x1A, "CKK_IDEA"),
            row(0x1B, "CKK_SKIPJACK"),
            row(0x1C, "CKK_BATON"),
            row(0x1D, "CKK_JUNIPER"),
            row(0x1E, "CKK_CDMF"),
            row(0x1F, "CKK_AES"),
            row(0x20, "CKK_BLOWFISH"),
            row(0x21, "CKK_TWOFISH"),
            row(0x22, "CKK_SECURID"),
            row(0x23, "CKK_HOTP"),
            row(0x24, "CKK_ACTI"),
            row(0x25, "CKK_CAMELLIA"),
            row(0x26, "CKK_ARIA"),
            row(0x27, "CKK_MD5_HMAC"),
            row(0x28, "CKK_SHA_1_HMAC"),
            row(0x29, "CKK_RIPEMD128_HMAC"),
            row(0x2A, "CKK_RIPEMD160_HMAC"),
            row(0x2B, "CKK_SHA256_HMAC"),
            row(0x2C, "CKK_SHA384_HMAC"),
            row(0x2D, "CKK_SHA512_HMAC"),
            row(0x2E, "CKK_SHA224_HMAC"),
            row(0x2F, "CKK_SEED"),
            row(0x30, "CKK_GOSTR3410"),
            row(0x31, "CKK_GOSTR3411"),
            row(0x32, "CKK_GOST28147"),
            row(0x40, "CKK_EC_EDWARDS"),
            row(0x41, "CKK_EC_MONTGOMERY"));

    private static final Map<Integer, String> CKO = table(
            row(0x0, "CKO_DATA"),
            row(0x1, "CKO_CERTIFICATE"),
            row(0x2, "CKO_PUBLIC_KEY"),
            row(0x3, "CKO_PRIVATE_KEY"),
            row(0x4, "CKO_SECRET_KEY"),
            row(0x5, "CKO_HW_FEATURE"),
            row(0x6, "CKO_DOMAIN_PARAMETERS"),
            row(0x7, "CKO_MECHANISM"),
            row(0x8, "CKO_OTP_KEY"));

    private static final Map<Integer, String> CKA = table(
            row(0x0, "CKA_CLASS"),
            row(0x1, "CKA_TOKEN"),
            row(0x2, "CKA_PRIVATE"),
            row(0x3, "CKA_LABEL"),
            row(0x10, "CKA_APPLICATION"),
            row(0x11, "CKA_VALUE"),
            row(0x12, "CKA_OBJECT_ID"),
            row(0x80, "CKA_CERTIFICATE_TYPE"),
            row(0x81, "CKA_ISSUER"),
            row(0x82, "CKA_SERIAL_NUMBER"),
            row(0x83, "CKA_AC_ISSUER"),
            row(0x84, "CKA_OWNER"),
            row(0x85, "CKA_ATTR_TYPES"),
            row(0x86, "CKA_TRUSTED"),
            row(0x87, "CKA_CERTIFICATE_CATEGORY"),
            row(0x88, "CKA_JAVA_MIDP_SECURITY_DOMAIN"),
            row(0x89, "CKA_URL"),
            row(0x8A, "CKA_HASH_OF_SUBJECT_PUBLIC_KEY"),
            row(0x8B, "CKA_HASH_OF_ISSUER_PUBLIC_KEY"),
            row(0x8C, "CKA_NAME_HASH_ALGORITHM"),
            row(0x90, "CKA_CHECK_VALUE"),
            row(0x100, "CKA_KEY_TYPE"),
            row(0x101, "CKA_SUBJECT"),
            row(0x102, "CKA_ID"),
            row(0x103, "CKA_SENSITIVE"),
            row(0x104, "CKA_ENCRYPT"),
            row(0x105, "CKA_DECRYPT"),
            row(0x106, "CKA_WRAP"),
            row(0x107, "CKA_UNWRAP"),
            row(0x108, "CKA_SIGN"),
            row(0x109, "CKA_SIGN_RECOVER"),
            row(0x10A, "CKA_VERIFY"),
            row(0x10B, "CKA_VERIFY_RECOVER"),
            row(0x10C, "CKA_DERIVE"),
            row(0x110, "CKA_START_DATE"),
            row(0x111, "CKA_END_DATE"),
            row(0x120, "CKA_MODULUS"),
            row(0x121, "CKA_MODULUS_BITS"),
            row(0x122, "CKA_PUBLIC_EXPONENT"),
            row(0x123, "CKA_PRIVATE_EXPONENT"),
            row(0x124, "CKA_PRIME_1"),
            row(0x125, "CKA_PRIME_2"),
            row(0x126, "CKA_EXPONENT_1"),
            row(0x127, "CKA_EXPONENT_2"),
            row(0x128, "CKA_COEFFICIENT"),
            row(0x129, "CKA_PUBLIC_KEY_INFO"),
            row(0x130, "CKA_PRIME"),
            row(0x131, "CKA_SUBPRIME"),
            row(0x132, "CKA_BASE"),
            row(0x133, "CKA_PRIME_BITS"),
            row(0x134, "CKA_SUBPRIME_BITS"),
            row(0x160, "CKA_VALUE_BITS"),
            row(0x161, "CKA_VALUE_LEN"),
            row(0x162, "CKA_EXTRACTABLE"),
            row(0x163, "CKA_LOCAL"),
            row(0x164, "CKA_NEVER_EXTRACTABLE"),
            row(0x165, "CKA_ALWAYS_SENSITIVE"),
            row(0x166, "CKA_KEY_GEN_MECHANISM"),
            row(0x170, "CKA_MODIFIABLE"),
            row(0x171, "CKA_COPYABLE"),
            row(0x172, "CKA_DESTROYABLE"),
            row(0x180, "CKA_EC_PARAMS"),
            row(0x181, "CKA_EC_POINT"),
            row(0x202, "CKA_ALWAYS_AUTHENTICATE"),
            row(0x210, "CKA_WRAP_WITH_TRUSTED"),
            row(0x40000211, "CKA_WRAP_TEMPLATE"),
            row(0x40000212, "CKA_UNWRAP_TEMPLATE"),
            row(0x40000213, "CKA_DERIVE_TEMPLATE"),
            row(0x40000600, "CKA_ALLOWED_MECHANISMS"));

    private static final Map<Integer, String> MECHANISM_FLAGS = table(
            row(0x1, "hw"),
            row(0x100, "encrypt"),
            row(0x200, "decrypt"),
            row(0x400, "digest"),
            row(0x800, "sign"),
            row(0x1000, "sign_recover"),
            row(0x2000, "verify"),
            row(0x4000, "verify_recover"),
            row(0x8000, "generate"),
            row(0x10000, "generate_key_pair"),
            row(0x20000, "wrap"),
            row(0x40000, "unwrap"),
            row(0x80000, "derive"),
            row(0x100000, "ec_f_p"),
            row(0x200000, "ec_f_2m"),
            row(0x400000, "ec_ecparameters"),
            row(0x800000, "ec_namedcurve"),
            row(0x1000000, "ec_uncompress"),
            row(0x2000000, "ec_compress"));

    private static final Map<Integer, String> TOKEN_FLAGS = table(
            row(0x1, "rng"),
            row(0x2, "write_protected"),
            row(0x4, "login_required"),
            row(0x8, "user_pin_initialized"),
            row(0x20, "restore_key_not_needed"),
            row(0x40, "clock_on_token"),
            row(0x100, "protected_authentication_path"),
            row(0x200, "dual_crypto_operations"),
            row(0x400, "token_initialized"),
            row(0x800, "secondary_authentication"),
            row(0x10000, "user_pin_count_low"),
            row(0x20000, "user_pin_final_try"),
            row(0x40000, "user_pin_locked"),
            row(0x80000, "user_pin_to_be_changed"),
            row(0x100000, "so_pin_count_low"),
            row(0x200000, "so_pin_final_try"),
            row(0x400000, "so_pin_locked"),
            row(0x800000, "so_pin_to_be_changed"));

    private static final Map<Integer, String> SLOT_FLAGS = table(
            row(0x1, "token_present"),
            row(0x2, "removable_device"),
            row(0x4, "hw_slot"));

    private Names() {
    }

    /** "CKR_PIN_INCORRECT"; "(unknown)" outside the table; "CKR_VENDOR_DEFINED+0x1" for vendors. */
    public static String returnValue(int code) {
        String name = CKR.get(code);
        if (name != null) {
            return name;
        }
        return isVendor(code) ? vendor("CKR_", code) : "(unknown)";
    }

    public static String mechanism(int type) {
        return name(CKM, "CKM_", type);
    }

    public static String keyType(int type) {
        return name(CKK, "CKK_", type);
    }

    public static String objectClass(int type) {
        return name(CKO, "CKO_", type);
    }

    public static String attribute(int type) {
        return name(CKA, "CKA_", type);
    }

    /** The number of a mechanism given by name (with or without CKM_, any case) or as a number. */
    public static OptionalInt parseMechanism(String text) {
        return parse(CKM, "CKM_", text);
    }

    public static OptionalInt parseKeyType(String text) {
        return parse(CKK, "CKK_", text);
    }

    public static OptionalInt parseObjectClass(String text) {
        return parse(CKO, "CKO_", text);
    }

    public static OptionalInt parseAttribute(String text) {
        return parse(CKA, "CKA_", text);
    }

    /** Every named mechanism, in ascending order of number. */
    public static Map<Integer, String> mechanisms() {
        return CKM;
    }

    /** Every named attribute, in ascending order of number. */
    public static Map<Integer, String> attributes() {
        return CKA;
    }

    /** The names of the set mechanism flags, lower case, comma separated; unnamed bits in hex. */
    public static String mechanismFlags(int flags) {
        return flags(MECHANISM_FLAGS, flags);
    }

    public static String tokenFlags(int flags) {
        return flags(TOKEN_FLAGS, flags);
    }

    public static String slotFlags(int flags) {
        return flags(SLOT_FLAGS, flags);
    }

    /** "0x" and the value in upper-case hex, unsigned. */
    public static String hex(int value) {
        return "0x" + Integer.toHexString(value).toUpperCase(Locale.ROOT);
    }

    private static boolean isVendor(int value) {
        return Integer.toUnsignedLong(value) >= VENDOR_DEFINED;
    }

    private static String vendor(String prefix, int value) {
        long offset = Integer.toUnsignedLong(value) - VENDOR_DEFINED;
        return prefix + "VENDOR_DEFINED" + (offset == 0 ? ""
                : "+0x" + Long.toHexString(offset).toUpperCase(Locale.ROOT));
    }

    private static String name(Map<Integer, String> table, String prefix, int value) {
        String name = table.get(value);
        if (name != null) {
            return name;
        }
        return isVendor(value) ? vendor(prefix, value) : hex(value);
    }

    private static OptionalInt parse(Map<Integer, String> table, String prefix, String text) {
        String wanted = text.trim().toUpperCase(Locale.ROOT).replace('-', '_');
        if (!wanted.startsWith(prefix)) {
            wanted = prefix + wanted;
        }
        for (Map.Entry<Integer, String> e : table.entrySet()) {
            if (e.getValue().equals(wanted)) {
                return OptionalInt.of(e.getKey());
            }
        }
        try {
            long value = Long.decode(text.trim());
            if (value >= 0 && value <= 0xFFFFFFFFL) {
                return OptionalInt.of((int) value);
            }
        } catch (NumberFormatException e) {
            // not a number either
        }
        return OptionalInt.empty();
    }

    private static String flags(Map<Integer, String> table, int flags) {
        StringBuilder text = new StringBuilder();
        int rest = flags;
        for (Map.Entry<Integer, String> e : table.entrySet()) {
            if ((flags & e.getKey()) != 0) {
                text.append(text.length() == 0 ? "" : ",").append(e.getValue());
                rest &= ~e.getKey();
            }
        }
        if (rest != 0) {
            text.append(text.length() == 0 ? "" : ",").append(hex(rest));
        }
        return text.toString();
    }

    private static Map.Entry<Integer, String> row(long value, String name) {
        return Map.entry((int) value, name);
    }

    @SafeVarargs
    private static Map<Integer, String> table(Map.Entry<Integer, String>... rows) {
        Map<Integer, String> map = new LinkedHashMap<>();
        for (Map.Entry<Integer, String> row : rows) {
            if (map.put(row.getKey(), row.getValue()) != null) {
                throw new ExceptionInInitializerError("two names for " + hex(row.getKey()));
            }
        }
        return java.util.Collections.unmodifiableMap(map);
    }
}
