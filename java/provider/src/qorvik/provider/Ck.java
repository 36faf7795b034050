package qorvik.provider;

/** The PKCS#11 constants the provider uses, as the Java ints the bridge takes. */
final class Ck {
    // Session flags and user types
    static final int CKF_RW_SESSION = 0x2;
    static final int CKF_SERIAL_SESSION = 0x4;
    static final int CKF_TOKEN_PRESENT = 0x1;
    static final int CKF_LOGIN_REQUIRED = 0x4;
    static final byte CKU_USER = 1;
    static final byte CKU_CONTEXT_SPECIFIC = 2;

    // Return values the provider acts on
    static final int CKR_SIGNATURE_INVALID = 0xC0;
    static final int CKR_SIGNATURE_LEN_RANGE = 0xC1;
    static final int CKR_USER_ALREADY_LOGGED_IN = 0x100;
    static final int CKR_USER_NOT_LOGGED_IN = 0x101;
    static final int CKR_PIN_INCORRECT = 0xA0;
    static final int CKR_TOKEN_WRITE_PROTECTED = 0xE2;
    static final int CKR_SESSION_COUNT = 0xB1;
    static final int CKR_SESSION_READ_WRITE_SO_EXISTS = 0xB8;
    static final int CKR_GENERAL_ERROR = 0x5;
    static final int CKR_DATA_INVALID = 0x20;
    static final int CKR_DATA_LEN_RANGE = 0x21;
    static final int CKR_ENCRYPTED_DATA_INVALID = 0x40;
    static final int CKR_ENCRYPTED_DATA_LEN_RANGE = 0x41;
    static final int CKR_FUNCTION_NOT_SUPPORTED = 0x54;
    static final int CKR_RANDOM_SEED_NOT_SUPPORTED = 0x120;
    static final int CKR_DEVICE_REMOVED = 0x32;
    static final int CKR_SESSION_CLOSED = 0xB0;
    static final int CKR_SESSION_HANDLE_INVALID = 0xB3;
    static final int CKR_TOKEN_NOT_PRESENT = 0xE0;

    // Object classes
    static final int CKO_DATA = 0;
    static final int CKO_CERTIFICATE = 1;
    static final int CKO_PUBLIC_KEY = 2;
    static final int CKO_PRIVATE_KEY = 3;
    static final int CKO_SECRET_KEY = 4;

    // Key types
    static final int CKK_RSA = 0x0;
    static final int CKK_EC = 0x3;
    static final int CKK_GENERIC_SECRET = 0x10;
    static final int CKK_DES3 = 0x15;
    static final int CKK_AES = 0x1F;
    static final int CKK_EC_EDWARDS = 0x40;
    static final int CKC_X_509 = 0;

    // Attributes
    static final int CKA_CLASS = 0x0;
    static final int CKA_TOKEN = 0x1;
    static final int CKA_PRIVATE = 0x2;
    static final int CKA_LABEL = 0x3;
    static final int CKA_VALUE = 0x11;
    static final int CKA_CERTIFICATE_TYPE = 0x80;
    static final int CKA_ISSUER = 0x81;
    static final int CKA_SERIAL_NUMBER = 0x82;
    static final int CKA_TRUSTED = 0x86;
    static final int CKA_KEY_TYPE = 0x100;
    static final int CKA_SUBJECT = 0x101;
    static final int CKA_ID = 0x102;
    static final int CKA_SENSITIVE = 0x103;
    static final int CKA_ENCRYPT = 0x104;
    static final int CKA_DECRYPT = 0x105;
    static final int CKA_WRAP = 0x106;
    static final int CKA_UNWRAP = 0x107;
    static final int CKA_SIGN = 0x108;
    static final int CKA_VERIFY = 0x10A;
    static final int CKA_DERIVE = 0x10C;
    static final int CKA_MODULUS = 0x120;
    static final int CKA_MODULUS_BITS = 0x121;
    static final int CKA_PUBLIC_EXPONENT = 0x122;
    static final int CKA_VALUE_LEN = 0x161;
    static final int CKA_EXTRACTABLE = 0x162;
    static final int CKA_EC_PARAMS = 0x180;
    static final int CKA_EC_POINT = 0x181;
    static final int CKA_ALWAYS_AUTHENTICATE = 0x202;

    // Mechanisms
    static final int CKM_RSA_PKCS_KEY_PAIR_GEN = 0x0;
    static final int CKM_RSA_PKCS = 0x1;
    static final int CKM_RSA_X_509 = 0x3;
    static final int CKM_RSA_PKCS_OAEP = 0x9;
    static final int CKM_RSA_PKCS_PSS = 0xD;
    static final int CKM_SHA1_RSA_PKCS = 0x6;
    static final int CKM_SHA256_RSA_PKCS = 0x40;
    static final int CKM_SHA384_RSA_PKCS = 0x41;
    static final int CKM_SHA512_RSA_PKCS = 0x42;
    static final int CKM_SHA224_RSA_PKCS = 0x46;
    static final int CKM_DES3_KEY_GEN = 0x131;
    static final int CKM_DES3_ECB = 0x132;
    static final int CKM_DES3_CBC = 0x133;
    static final int CKM_DES3_CBC_PAD = 0x136;
    static final int CKM_MD5 = 0x210;
    static final int CKM_SHA_1 = 0x220;
    static final int CKM_SHA256 = 0x250;
    static final int CKM_SHA256_HMAC = 0x251;
    static final int CKM_SHA224 = 0x255;
    static final int CKM_SHA384 = 0x260;
    static final int CKM_SHA384_HMAC = 0x261;
    static final int CKM_SHA512 = 0x270;
    static final int CKM_SHA512_HMAC = 0x271;
    static final int CKM_GENERIC_SECRET_KEY_GEN = 0x350;
    static final int CKM_EC_KEY_PAIR_GEN = 0x1040;
    static final int CKM_ECDSA = 0x1041;
    static final int CKM_ECDH1_DERIVE = 0x1050;
    static final int CKM_EC_EDWARDS_KEY_PAIR_GEN = 0x1055;
    static final int CKM_EDDSA = 0x1057;
    static final int CKM_AES_KEY_GEN = 0x1080;
    static final int CKM_AES_ECB = 0x1081;
    static final int CKM_AES_CBC = 0x1082;
    static final int CKM_AES_CBC_PAD = 0x1085;
    static final int CKM_AES_CTR = 0x1086;
    static final int CKM_AES_GCM = 0x1087;
    static final int CKM_SHA1_RSA_PKCS_PSS = 0xE;
    static final int CKM_SHA256_RSA_PKCS_PSS = 0x43;
    static final int CKM_SHA384_RSA_PKCS_PSS = 0x44;
    static final int CKM_SHA512_RSA_PKCS_PSS = 0x45;
    static final int CKM_SHA224_RSA_PKCS_PSS = 0x47;

    // Hash and MGF identifiers of the PSS and OAEP parameters
    static final int CKG_MGF1_SHA1 = 0x1;
    static final int CKG_MGF1_SHA256 = 0x2;
    static final int CKG_MGF1_SHA384 = 0x3;
    static final int CKG_MGF1_SHA512 = 0x4;
    static final int CKG_MGF1_SHA224 = 0x5;
    static final int CKZ_DATA_SPECIFIED = 0x1;
    static final int CKD_NULL = 0x1;

    private Ck() {
    }
}
