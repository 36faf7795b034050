package qorvik.tool.cli.crypto;

/** The Cryptoki numbers the key and data commands use. */
public final class Ck {
    public static final int CKO_CERTIFICATE = 1;
    public static final int CKO_PUBLIC_KEY = 2;
    public static final int CKO_PRIVATE_KEY = 3;
    public static final int CKO_SECRET_KEY = 4;

    public static final int CKK_RSA = 0;
    public static final int CKK_EC = 3;
    public static final int CKK_AES = 0x1F;
    public static final int CKK_EC_EDWARDS = 0x40;

    public static final int CKC_X_509 = 0;

    public static final int CKA_CLASS = 0x0;
    public static final int CKA_TOKEN = 0x1;
    public static final int CKA_PRIVATE = 0x2;
    public static final int CKA_LABEL = 0x3;
    public static final int CKA_VALUE = 0x11;
    public static final int CKA_CERTIFICATE_TYPE = 0x80;
    public static final int CKA_ISSUER = 0x81;
    public static final int CKA_SERIAL_NUMBER = 0x82;
    public static final int CKA_KEY_TYPE = 0x100;
    public static final int CKA_SUBJECT = 0x101;
    public static final int CKA_ID = 0x102;
    public static final int CKA_SENSITIVE = 0x103;
    public static final int CKA_ENCRYPT = 0x104;
    public static final int CKA_DECRYPT = 0x105;
    public static final int CKA_WRAP = 0x106;
    public static final int CKA_UNWRAP = 0x107;
    public static final int CKA_SIGN = 0x108;
    public static final int CKA_VERIFY = 0x10A;
    public static final int CKA_MODULUS = 0x120;
    public static final int CKA_MODULUS_BITS = 0x121;
    public static final int CKA_PUBLIC_EXPONENT = 0x122;
    public static final int CKA_PRIVATE_EXPONENT = 0x123;
    public static final int CKA_PRIME_1 = 0x124;
    public static final int CKA_PRIME_2 = 0x125;
    public static final int CKA_EXPONENT_1 = 0x126;
    public static final int CKA_EXPONENT_2 = 0x127;
    public static final int CKA_COEFFICIENT = 0x128;
    public static final int CKA_VALUE_LEN = 0x161;
    public static final int CKA_EXTRACTABLE = 0x162;
    public static final int CKA_EC_PARAMS = 0x180;
    public static final int CKA_EC_POINT = 0x181;

    public static final int CKM_RSA_PKCS_KEY_PAIR_GEN = 0x0;
    public static final int CKM_RSA_PKCS = 0x1;
    public static final int CKM_RSA_PKCS_OAEP = 0x9;
    public static final int CKM_SHA1_RSA_PKCS = 0x6;
    public static final int CKM_SHA256_RSA_PKCS = 0x40;
    public static final int CKM_SHA384_RSA_PKCS = 0x41;
    public static final int CKM_SHA512_RSA_PKCS = 0x42;
    public static final int CKM_SHA256_RSA_PKCS_PSS = 0x43;
    public static final int CKM_SHA384_RSA_PKCS_PSS = 0x44;
    public static final int CKM_SHA512_RSA_PKCS_PSS = 0x45;
    public static final int CKM_MD5 = 0x210;
    public static final int CKM_SHA_1 = 0x220;
    public static final int CKM_SHA256 = 0x250;
    public static final int CKM_SHA224 = 0x255;
    public static final int CKM_SHA384 = 0x260;
    public static final int CKM_SHA512 = 0x270;
    public static final int CKM_EC_KEY_PAIR_GEN = 0x1040;
    public static final int CKM_ECDSA = 0x1041;
    public static final int CKM_EC_EDWARDS_KEY_PAIR_GEN = 0x1055;
    public static final int CKM_EDDSA = 0x1057;
    public static final int CKM_AES_KEY_GEN = 0x1080;
    public static final int CKM_AES_ECB = 0x1081;
    public static final int CKM_AES_CBC = 0x1082;
    public static final int CKM_AES_CBC_PAD = 0x1085;
    public static final int CKM_AES_CTR = 0x1086;
    public static final int CKM_AES_GCM = 0x1087;

    public static final int CKG_MGF1_SHA1 = 1;
    public static final int CKG_MGF1_SHA256 = 2;
    public static final int CKG_MGF1_SHA384 = 3;
    public static final int CKG_MGF1_SHA512 = 4;
    public static final int CKZ_DATA_SPECIFIED = 1;

    public static final int CKR_SIGNATURE_INVALID = 0xC0;
    public static final int CKR_SIGNATURE_LEN_RANGE = 0xC1;

    private Ck() {
    }
}
