package qorvik.tests;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static qorvik.tests.TestSetup.*;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.math.BigInteger;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.MessageDigest;
import java.security.PublicKey;
import java.security.Signature;
import java.security.interfaces.ECPublicKey;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.ECPoint;
import java.security.spec.ECPublicKeySpec;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.security.spec.RSAPublicKeySpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.stream.Stream;

import javax.crypto.Cipher;
import javax.crypto.KeyAgreement;
import javax.crypto.spec.GCMParameterSpec;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.SecretKeySpec;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.params.AESCTRParams;
import qorvik.params.CBCEncryptDataParams;
import qorvik.params.ECDH1DeriveParams;
import qorvik.params.GCMParams;
import qorvik.params.PSSParams;

/**
 * The mechanisms modern tokens are bought for, used through the bridge on SoftHSM2: the AES modes,
 * AES key wrap with padding, RSA-PSS, ECDH, ECDSA and EdDSA with public keys read off the token,
 * and key derivation by encryption. Every result is held to what the JDK or openssl computes from
 * the key values read through the bridge (the keys are made extractable for that).
 */
class SoftHsmModernMechanismsTest extends OwnTokenSuite {
    private static final String TOKEN = "modern mechanisms";
    private static final String RSA_ID = "0a";
    private static final String EC_ID = "0b";

    static final int CKM_RSA_PKCS_PSS = 0x0D;
    static final int CKM_SHA1_RSA_PKCS_PSS = 0x0E;
    static final int CKM_SHA256_RSA_PKCS_PSS = 0x43;
    static final int CKM_SHA384_RSA_PKCS_PSS = 0x44;
    static final int CKM_SHA512_RSA_PKCS_PSS = 0x45;
    static final int CKM_SHA224_RSA_PKCS_PSS = 0x47;
    static final int CKM_SHA224 = 0x255;
    static final int CKM_SHA384 = 0x260;
    static final int CKM_ECDH1_DERIVE = 0x1050;
    static final int CKM_EC_EDWARDS_KEY_PAIR_GEN = 0x1055;
    static final int CKM_EDDSA = 0x1057;
    static final int CKM_AES_CBC = 0x1082;
    static final int CKM_AES_CTR = 0x1086;
    static final int CKM_AES_GCM = 0x1087;
    static final int CKM_DES3_ECB_ENCRYPT_DATA = 0x1102;
    static final int CKM_DES3_CBC_ENCRYPT_DATA = 0x1103;
    static final int CKM_AES_ECB_ENCRYPT_DATA = 0x1104;
    static final int CKM_AES_CBC_ENCRYPT_DATA = 0x1105;
    static final int CKM_AES_KEY_WRAP_PAD = 0x210A;
    static final int CKG_MGF1_SHA256 = 2;
    static final int CKG_MGF1_SHA384 = 3;
    static final int CKG_MGF1_SHA512 = 4;
    static final int CKG_MGF1_SHA224 = 5;
    static final int CKD_NULL = 1;
    static final int CKK_EC_EDWARDS = 0x40;
    static final int CKM_DH_PKCS_KEY_PAIR_GEN = 0x20;
    static final int CKM_DSA_PARAMETER_GEN = 0x2000;
    static final int CKO_DOMAIN_PARAMETERS = 6;
    static final int CKA_CHECK_VALUE = 0x90;
    static final int CKA_PRIME = 0x130;
    static final int CKA_BASE = 0x132;
    static final int CKA_PRIME_BITS = 0x133;
    static final int CKA_VALUE_BITS = 0x160;
    static final int CKA_KEY_GEN_MECHANISM = 0x166;

    /** DER of the OID id-ecPublicKey (1.2.840.10045.2.1), the algorithm of an EC SubjectPublicKeyInfo. */
    private static final byte[] EC_PUBLIC_KEY = HexFormat.of().parseHex("06072a8648ce3d0201");
    /** DER of the OIDs of P-384 and P-521 (P-256's is {@link OwnTokenSuite#P256}). */
    private static final byte[] P384 = HexFormat.of().parseHex("06052b81040022");
    private static final byte[] P521 = HexFormat.of().parseHex("06052b81040023");
    private static final byte[] DOCUMENT = pattern(1500);
    /** The 1024-bit MODP prime of the Oakley group 2 (generator 2), in hexadecimal. */
    private static final String OAKLEY_GROUP_2 = "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD1"
            + "29024E088A67CC74020BBEA63B139B22514A08798E3404DDEF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245"
            + "E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7EDEE386BFB5A899FA5AE9F24117C4B1FE649286651ECE65381"
            + "FFFFFFFFFFFFFFFF";

    @BeforeAll
    static void makeToolKeys() throws CryptokiException {
        createToken(TOKEN);
        Pkcs11Tool.generateKeyPair(TestSetup.softhsm(), TOKEN, USER_PIN, "rsa:2048", RSA_ID, "pss");
        Pkcs11Tool.generateKeyPair(TestSetup.softhsm(), TOKEN, USER_PIN, "EC:prime256v1", EC_ID, "ec");
    }

    @Override
    protected String tokenLabel() {
        return TOKEN;
    }

    // ---------------------------------------------------------------- AES modes

    /** One AES mode as the bridge and as the JDK name it, with the data lengths it is tried on. */
    private record AesMode(String name, Mechanism mechanism, String transformation, AlgorithmParameterSpec spec,
            byte[] aad, int... lengths) {
    }

    private static final byte[] AES_IV = Arrays.copyOfRange(pattern(64), 40, 56);
    private static final byte[] GCM_IV = Arrays.copyOfRange(pattern(64), 3, 15);
    private static final byte[] AAD = "header bytes, authenticated but not encrypted".getBytes();

    static Stream<Arguments> aesCases() {
        List<AesMode> modes = List.of(
                new AesMode("CBC", new Mechanism(CKM_AES_CBC, AES_IV), "AES/CBC/NoPadding",
                        new IvParameterSpec(AES_IV), null, 16, 48, 1024),
                new AesMode("CBC-PAD", new Mechanism(CKM_AES_CBC_PAD, AES_IV), "AES/CBC/PKCS5Padding",
                        new IvParameterSpec(AES_IV), null, 1, 15, 16, 33, 1000),
                new AesMode("CTR, 128 counter bits", new Mechanism(CKM_AES_CTR, new AESCTRParams(128, AES_IV)),
                        "AES/CTR/NoPadding", new IvParameterSpec(AES_IV), null, 1, 16, 37, 1000),
                new AesMode("CTR, 32 counter bits", new Mechanism(CKM_AES_CTR, new AESCTRParams(32, AES_IV)),
                        "AES/CTR/NoPadding", new IvParameterSpec(AES_IV), null, 64),
                new AesMode("GCM, 12-byte IV, AAD, 128-bit tag",
                        new Mechanism(CKM_AES_GCM, new GCMParams(GCM_IV, AAD, 128)), "AES/GCM/NoPadding",
                        new GCMParameterSpec(128, GCM_IV), AAD, 1, 16, 100),
                new AesMode("GCM, 16-byte IV, AAD, 96-bit tag",
                        new Mechanism(CKM_AES_GCM, new GCMParams(AES_IV, AAD, 96)), "AES/GCM/NoPadding",
                        new GCMParameterSpec(96, AES_IV), AAD, 33),
                new AesMode("GCM, no AAD", new Mechanism(CKM_AES_GCM, new GCMParams(GCM_IV, null, 128)),
                        "AES/GCM/NoPadding", new GCMParameterSpec(128, GCM_IV), null, 50),
                new AesMode("GCM, empty AAD", new Mechanism(CKM_AES_GCM, new GCMParams(GCM_IV, new byte[0], 128)),
                        "AES/GCM/NoPadding", new GCMParameterSpec(128, GCM_IV), new byte[0], 50));
        List<Arguments> cases = new ArrayList<>();
        for (AesMode mode : modes) {
            for (int keyLength : new int[] {16, 24, 32}) {
                for (int length : mode.lengths()) {
                    cases.add(Arguments.of(mode.name(), keyLength, length, mode));
                }
            }
        }
        return cases.stream();
    }

    @ParameterizedTest(name = "AES-{1} {0}, {2} bytes")
    @MethodSource("aesCases")
    void aesModesEncryptAsTheJdkDoesAndDecryptBack(String name, int keyLength, int length, AesMode mode)
            throws Exception {
        long key = generateSecret(CKM_AES_KEY_GEN, keyLength, CKA_ENCRYPT, CKA_DECRYPT);
        byte[] value = keyValue(key, keyLength);
        byte[] plain = pattern(length);
        byte[] expected = jdkCipher(Cipher.ENCRYPT_MODE, mode.transformation(), new SecretKeySpec(value, "AES"),
                mode.spec(), mode.aad(), plain);

        Mechanism mechanism = mode.mechanism();
        assertArrayEquals(expected, session.J_Encrypt(handle, true, mechanism, key, embed(plain, 3, 5), 3, length),
                "single-part encryption");
        assertArrayEquals(plain, session.J_Decrypt(handle, true, mechanism, key, embed(expected, 2, 7), 2,
                expected.length), "single-part decryption");

        int cut = length / 3;
        byte[] first = session.J_EncryptUpdate(handle, true, mechanism, key, plain, 0, cut);
        byte[] second = session.J_EncryptUpdate(handle, false, null, 0, plain, cut, length - cut);
        assertArrayEquals(expected, concat(first, second, session.J_EncryptFinal()), "multi-part encryption");
    }

    @Test
    void aesParametersOfTheWrongShapeAreRefusedBeforeTheModule() throws CryptokiException {
        long key = generateSecret(CKM_AES_KEY_GEN, 32, CKA_ENCRYPT, CKA_DECRYPT);
        Object[][] cases = {
                {new Mechanism(CKM_AES_CBC, pattern(8)), "Mechanism2CKMechanism - IV must be 16 bytes"},
                {new Mechanism(CKM_AES_CBC_PAD, pattern(17)), "Mechanism2CKMechanism - IV must be 16 bytes"},
                {new Mechanism(CKM_AES_CBC, new GCMParams(AES_IV, null, 128)),
                        "Mechanism2CKMechanism - IV must be 16 bytes"},
                {new Mechanism(CKM_AES_CTR, new AESCTRParams(128, pattern(8))),
                        "Mechanism2CKMechanism - counter block must be 16 bytes"},
                {new Mechanism(CKM_AES_CTR, new AESCTRParams(-1, AES_IV)),
                        "Mechanism2CKMechanism - m_counterBits out of range"},
                {new Mechanism(CKM_AES_GCM, AES_IV),
                        "Mechanism2CKMechanism - parameter must be instance of 'qorvik/params/GCMParams'"},
                {new Mechanism(CKM_AES_GCM, new GCMParams(null, AAD, 128)), "Mechanism2CKMechanism - m_iv is NULL"},
                {new Mechanism(CKM_AES_GCM, new GCMParams(GCM_IV, AAD, -128)),
                        "Mechanism2CKMechanism - m_tagBits out of range"}};
        for (Object[] c : cases) {
            Mechanism mechanism = (Mechanism) c[0];
            CryptokiException e = assertFails("J_EncryptInit", CKR_GENERAL_ERROR,
                    () -> session.J_Encrypt(handle, true, mechanism, key, pattern(32), 0, 32));
            assertEquals(c[1], e.getMessage(), () -> "message for " + mechanism);
        }
        // nothing was started: a well-formed request goes through at once
        byte[] plain = pattern(32);
        assertEquals(32, session.J_Encrypt(handle, true, new Mechanism(CKM_AES_CBC, AES_IV), key, plain, 0, 32).length);
    }

    // ---------------------------------------------------------------- AES key wrap with padding

    /** RFC 5649's default initial value, the one AESWrapPad uses. */
    private static final byte[] KWP_DEFAULT_IV = HexFormat.of().parseHex("a65959a6");

    static Stream<Arguments> wrapPadCases() {
        Object[][] keys = {{CKK_GENERIC_SECRET, 1}, {CKK_GENERIC_SECRET, 8}, {CKK_GENERIC_SECRET, 20},
                {CKK_GENERIC_SECRET, 31}, {CKK_GENERIC_SECRET, 40}, {CKK_AES, 16}, {CKK_AES, 24}, {CKK_AES, 32}};
        List<Arguments> cases = new ArrayList<>();
        for (Object[] key : keys) {
            cases.add(Arguments.of("no parameter", key[0], key[1], null));
            cases.add(Arguments.of("empty IV", key[0], key[1], new byte[0]));
        }
        return cases.stream();
    }

    @Test
    void aesKeyWrapWithPaddingCarriesAnExplicitIvToTheModule() throws CryptokiException {
        long kek = generateSecret(CKM_AES_KEY_GEN, 32, CKA_WRAP, CKA_UNWRAP);
        long key = generateSecret(CKM_AES_KEY_GEN, 16);
        byte[] wrapped = session.J_WrapKey(new Mechanism(CKM_AES_KEY_WRAP_PAD), kek, key);
        // SoftHSM2 takes no IV at all, not even RFC 5649's default: that it refuses one shows the
        // IV reached it (an empty array, by contrast, goes as no parameter, see above)
        Mechanism withIv = new Mechanism(CKM_AES_KEY_WRAP_PAD, KWP_DEFAULT_IV);
        assertFailsDescribed("J_WrapKey", CKR_ARGUMENTS_BAD, () -> session.J_WrapKey(withIv, kek, key));
        assertFailsDescribed("J_UnwrapKey", CKR_ARGUMENTS_BAD, () -> session.J_UnwrapKey(withIv, kek, wrapped, 0,
                wrapped.length, new Attribute[] {new Attribute(CKA_CLASS, CKO_SECRET_KEY),
                        new Attribute(CKA_KEY_TYPE, CKK_AES), new Attribute(CKA_TOKEN, false)}));
        assertEquals("Mechanism2CKMechanism - IV must be a byte array", assertFails("J_WrapKey", CKR_GENERAL_ERROR,
                () -> session.J_WrapKey(new Mechanism(CKM_AES_KEY_WRAP_PAD, new int[] {1}), kek, key)).getMessage());
    }

    @ParameterizedTest(name = "key type 0x{1} of {2} bytes, {0}")
    @MethodSource("wrapPadCases")
    void aesKeyWrapWithPaddingWrapsAsTheJdkDoesAndUnwrapsBack(String name, int keyType, int keyLength, byte[] iv)
            throws Exception {
        long kek = generateSecret(CKM_AES_KEY_GEN, 32, CKA_WRAP, CKA_UNWRAP);
        long key = keyType == CKK_AES ? generateSecret(CKM_AES_KEY_GEN, keyLength)
                : generateSecret(CKM_GENERIC_SECRET_KEY_GEN, keyLength);
        byte[] value = keyValue(key, keyLength);
        // SoftHSM2 2.6 fills a key up to a multiple of 8 bytes with zeros before it wraps it, so
        // RFC 5649's length field counts the zeros too, and unwrapping gives them back: the JDK
        // is asked to wrap the same filled value
        byte[] wrappedValue = Arrays.copyOf(value, (keyLength + 7) / 8 * 8);

        Cipher jdk = Cipher.getInstance("AESWrapPad");
        jdk.init(Cipher.WRAP_MODE, new SecretKeySpec(keyValue(kek, 32), "AES"));
        byte[] expected = jdk.wrap(new SecretKeySpec(wrappedValue, "RAW"));
        assertEquals(wrappedValue.length + 8, expected.length, "the JDK's wrapped length");

        Mechanism mechanism = new Mechanism(CKM_AES_KEY_WRAP_PAD, iv);
        byte[] wrapped = session.J_WrapKey(mechanism, kek, key);
        assertArrayEquals(expected, wrapped, "wrapped key");
        long unwrapped = session.J_UnwrapKey(mechanism, kek, embed(wrapped, 5, 8), 5, wrapped.length,
                new Attribute[] {new Attribute(CKA_CLASS, CKO_SECRET_KEY), new Attribute(CKA_KEY_TYPE, keyType),
                        new Attribute(CKA_TOKEN, false), new Attribute(CKA_SENSITIVE, false),
                        new Attribute(CKA_EXTRACTABLE, true)});
        assertNotEquals(key, unwrapped);
        assertAttribute(CKA_VALUE, wrappedValue, session.J_GetAttributeValue(unwrapped, CKA_VALUE));
    }

    // ---------------------------------------------------------------- RSA-PSS

    /**
     * One PSS signature family: the mechanism, its parameters and how openssl names the hash (SoftHSM2
     * takes only MGF1 over the same hash).
     */
    private record Pss(String name, int mechanism, int hashAlg, int mgf, int sLen, String digest) {
        @Override
        public String toString() {
            return name;
        }

        boolean hashesItself() {
            return mechanism != CKM_RSA_PKCS_PSS;
        }

        String jdkName() {
            return digest.replace("sha", "SHA-");
        }
    }

    static Stream<Pss> pssCases() {
        return Stream.of(
                new Pss("SHA-256, salt 32", CKM_SHA256_RSA_PKCS_PSS, CKM_SHA256, CKG_MGF1_SHA256, 32, "sha256"),
                new Pss("SHA-256, no salt", CKM_SHA256_RSA_PKCS_PSS, CKM_SHA256, CKG_MGF1_SHA256, 0, "sha256"),
                new Pss("SHA-384, salt 48", CKM_SHA384_RSA_PKCS_PSS, CKM_SHA384, CKG_MGF1_SHA384, 48, "sha384"),
                new Pss("SHA-384, salt 20", CKM_SHA384_RSA_PKCS_PSS, CKM_SHA384, CKG_MGF1_SHA384, 20, "sha384"),
                new Pss("SHA-1, salt 20", CKM_SHA1_RSA_PKCS_PSS, CKM_SHA_1, CKG_MGF1_SHA1, 20, "sha1"),
                new Pss("SHA-224, salt 28", CKM_SHA224_RSA_PKCS_PSS, CKM_SHA224, CKG_MGF1_SHA224, 28, "sha224"),
                new Pss("SHA-512, salt 64", CKM_SHA512_RSA_PKCS_PSS, CKM_SHA512, CKG_MGF1_SHA512, 64, "sha512"),
                new Pss("raw PSS over a SHA-256 digest", CKM_RSA_PKCS_PSS, CKM_SHA256, CKG_MGF1_SHA256, 32, "sha256"),
                new Pss("raw PSS over a SHA-512 digest, salt 10", CKM_RSA_PKCS_PSS, CKM_SHA512, CKG_MGF1_SHA512, 10,
                        "sha512"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("pssCases")
    void pssSignaturesVerifyWithOpensslUnderTheKeyReadThroughTheBridge(Pss pss) throws Exception {
        long privateKey = object(CKO_PRIVATE_KEY, HexFormat.of().parseHex(RSA_ID));
        long publicKey = object(CKO_PUBLIC_KEY, HexFormat.of().parseHex(RSA_ID));
        Attribute[] read = session.J_GetAttributeValue(publicKey, new int[] {CKA_MODULUS, CKA_PUBLIC_EXPONENT});
        BigInteger modulus = new BigInteger(1, (byte[]) read[0].getValue());
        BigInteger exponent = new BigInteger(1, (byte[]) read[1].getValue());
        Pkcs11Tool.RsaPublicKey tool = Pkcs11Tool.rsaPublicKey(TestSetup.softhsm(), TOKEN, RSA_ID);
        assertEquals(tool.modulus(), modulus, "modulus as pkcs11-tool exports it");
        assertEquals(tool.exponent(), exponent, "exponent as pkcs11-tool exports it");
        PublicKey jdkKey = KeyFactory.getInstance("RSA").generatePublic(new RSAPublicKeySpec(modulus, exponent));

        Mechanism mechanism = new Mechanism(pss.mechanism(), new PSSParams(pss.hashAlg(), pss.mgf(), pss.sLen()));
        byte[] input = pss.hashesItself() ? DOCUMENT
                : MessageDigest.getInstance(pss.jdkName()).digest(DOCUMENT);
        byte[] signature = session.J_Sign(handle, true, mechanism, privateKey, embed(input, 4, 4), 4, input.length);
        assertEquals(256, signature.length);

        List<String> sigopts = List.of("rsa_padding_mode:pss", "rsa_pss_saltlen:" + pss.sLen(),
                "rsa_mgf1_md:" + pss.digest());
        Path der = writeTemp(jdkKey.getEncoded());
        try {
            assertTrue(OpenSsl.verifies(pss.digest(), der, DOCUMENT, signature, sigopts), "openssl accepts it");
            byte[] changed = DOCUMENT.clone();
            changed[700] ^= 0x10;
            assertFalse(OpenSsl.verifies(pss.digest(), der, changed, signature, sigopts),
                    "openssl refuses it for another document");
            if (pss.sLen() > 0) {
                List<String> otherSalt = List.of("rsa_padding_mode:pss", "rsa_pss_saltlen:" + (pss.sLen() - 1),
                        "rsa_mgf1_md:" + pss.digest());
                assertFalse(OpenSsl.verifies(pss.digest(), der, DOCUMENT, signature, otherSalt),
                        "openssl refuses it for another salt length");
            }
        } finally {
            Pkcs11Tool.delete(der);
        }

        Signature jdk = Signature.getInstance("RSASSA-PSS");
        jdk.setParameter(new PSSParameterSpec(pss.jdkName(), "MGF1",
                new MGF1ParameterSpec(pss.jdkName()), pss.sLen(), 1));
        jdk.initVerify(jdkKey);
        jdk.update(DOCUMENT);
        assertTrue(jdk.verify(signature), "the JDK accepts it");

        session.J_Verify(handle, true, mechanism, publicKey, input, 0, input.length, signature, 0, signature.length);
        byte[] again = session.J_Sign(handle, true, mechanism, privateKey, input, 0, input.length);
        // the salt is random: only a signature without salt comes out the same twice
        assertEquals(pss.sLen() == 0, Arrays.equals(signature, again), "same signature twice");
    }

    // ---------------------------------------------------------------- elliptic curves

    /** A named curve: the JDK's name, CKA_EC_PARAMS, the field size in bytes and the digest matching it. */
    private record Curve(String name, byte[] params, int size, String digest) {
        @Override
        public String toString() {
            return name;
        }
    }

    static Stream<Curve> curves() {
        return Stream.of(new Curve("secp256r1", P256, 32, "sha256"), new Curve("secp384r1", P384, 48, "sha384"),
                new Curve("secp521r1", P521, 66, "sha512"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("curves")
    void ecdhWithAJdkKeyPairGivesTheJdksSecret(Curve curve) throws Exception {
        long[] pair = generateEc(curve.params(), CKA_DERIVE);
        byte[] tokenPoint = octetString(ecPoint(pair[0]));
        assertEquals(1 + 2 * curve.size(), tokenPoint.length, "uncompressed point");
        assertEquals(4, tokenPoint[0], "uncompressed point");

        KeyPairGenerator generator = KeyPairGenerator.getInstance("EC");
        generator.initialize(new ECGenParameterSpec(curve.name()));
        KeyPair jdkPair = generator.generateKeyPair();
        ECPublicKey jdkPublic = (ECPublicKey) jdkPair.getPublic();
        byte[] jdkPoint = concat(new byte[] {4}, unsigned(jdkPublic.getW().getAffineX(), curve.size()),
                unsigned(jdkPublic.getW().getAffineY(), curve.size()));

        long derived = session.J_DeriveKey(new Mechanism(CKM_ECDH1_DERIVE, new ECDH1DeriveParams(CKD_NULL, null,
                jdkPoint)), pair[1], new Attribute[] {new Attribute(CKA_CLASS, CKO_SECRET_KEY),
                        new Attribute(CKA_KEY_TYPE, CKK_GENERIC_SECRET), new Attribute(CKA_TOKEN, false),
                        new Attribute(CKA_SENSITIVE, false), new Attribute(CKA_EXTRACTABLE, true),
                        new Attribute(CKA_VALUE_LEN, curve.size())});

        ECPoint point = new ECPoint(new BigInteger(1, Arrays.copyOfRange(tokenPoint, 1, 1 + curve.size())),
                new BigInteger(1, Arrays.copyOfRange(tokenPoint, 1 + curve.size(), tokenPoint.length)));
        PublicKey tokenPublic = KeyFactory.getInstance("EC")
                .generatePublic(new ECPublicKeySpec(point, jdkPublic.getParams()));
        KeyAgreement agreement = KeyAgreement.getInstance("ECDH");
        agreement.init(jdkPair.getPrivate());
        agreement.doPhase(tokenPublic, true);
        byte[] secret = agreement.generateSecret();
        assertEquals(curve.size(), secret.length);
        assertAttribute(CKA_VALUE, secret, session.J_GetAttributeValue(derived, CKA_VALUE));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("curves")
    void ecPublicKeyReadThroughTheBridgeVerifiesTheBridgesEcdsaSignatureInOpenssl(Curve curve) throws Exception {
        long[] pair = generateEc(curve.params(), CKA_SIGN);
        assertAttribute(CKA_EC_PARAMS, curve.params(), session.J_GetAttributeValue(pair[0], CKA_EC_PARAMS));
        byte[] spki = ecSubjectPublicKeyInfo(pair[0]);
        // the JDK reads it as a key on the curve asked for
        ECPublicKey parsed = (ECPublicKey) KeyFactory.getInstance("EC").generatePublic(new X509EncodedKeySpec(spki));
        assertEquals(curve.size() * 8 - (curve.size() == 66 ? 7 : 0), parsed.getParams().getCurve().getField()
                .getFieldSize());

        byte[] hash = MessageDigest.getInstance(curve.digest().replace("sha", "SHA-")).digest(DOCUMENT);
        Mechanism ecdsa = new Mechanism(CKM_ECDSA);
        byte[] signature = session.J_Sign(handle, true, ecdsa, pair[1], hash, 0, hash.length);
        assertEquals(2 * curve.size(), signature.length);
        Path pem = writeTemp(spki);
        try {
            assertTrue(OpenSsl.verifies(curve.digest(), pem, DOCUMENT, OpenSsl.ecdsaDer(signature)),
                    "openssl accepts it");
            byte[] tampered = signature.clone();
            tampered[signature.length - 1] ^= 1;
            assertFalse(OpenSsl.verifies(curve.digest(), pem, DOCUMENT, OpenSsl.ecdsaDer(tampered)),
                    "openssl refuses a changed signature");
        } finally {
            Pkcs11Tool.delete(pem);
        }
    }

    @Test
    void ecPublicKeyReadThroughTheBridgeIsTheOnePkcs11ToolExports() throws CryptokiException {
        long publicKey = object(CKO_PUBLIC_KEY, HexFormat.of().parseHex(EC_ID));
        Attribute[] read = session.J_GetAttributeValue(publicKey, new int[] {CKA_KEY_TYPE, CKA_EC_PARAMS});
        assertAttribute(CKA_KEY_TYPE, CKK_EC, read[0]);
        assertAttribute(CKA_EC_PARAMS, P256, read[1]);
        Path exported = Pkcs11Tool.tempFile();
        try {
            Pkcs11Tool.exportPublicKey(TestSetup.softhsm(), TOKEN, EC_ID, exported);
            assertArrayEquals(Files.readAllBytes(exported), ecSubjectPublicKeyInfo(publicKey));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } finally {
            Pkcs11Tool.delete(exported);
        }
    }

    private static final byte[] ED25519 = HexFormat.of().parseHex("06032b6570");
    private static final byte[] ED448 = HexFormat.of().parseHex("06032b6571");

    /**
     * Ed25519 and Ed448, each with CKA_EC_PARAMS in both forms SoftHSM2 takes: the DER of the
     * curve's OID, and the curve's name as a PrintableString; the OID, the key's algorithm.
     */
    static Stream<Arguments> edwardsCurves() {
        return Stream.of(Arguments.of("Ed25519", "OID", ED25519, ED25519, 32),
                Arguments.of("Ed25519", "name", der(0x13, "edwards25519".getBytes(US_ASCII)), ED25519, 32),
                Arguments.of("Ed448", "OID", ED448, ED448, 57),
                Arguments.of("Ed448", "name", der(0x13, "edwards448".getBytes(US_ASCII)), ED448, 57));
    }

    @ParameterizedTest(name = "{0}, curve by {1}")
    @MethodSource("edwardsCurves")
    void eddsaSignaturesVerifyWithOpensslUnderThePointReadThroughTheBridge(String name, String form, byte[] params,
            byte[] oid, int size) throws Exception {
        long[] pair = session.J_GenerateKeyPair(new Mechanism(CKM_EC_EDWARDS_KEY_PAIR_GEN),
                new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(CKA_EC_PARAMS, params),
                        new Attribute(CKA_VERIFY, true)},
                new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(CKA_SIGN, true)});
        assertAttribute(CKA_KEY_TYPE, CKK_EC_EDWARDS, session.J_GetAttributeValue(pair[0], CKA_KEY_TYPE));
        assertAttribute(CKA_EC_PARAMS, params, session.J_GetAttributeValue(pair[0], CKA_EC_PARAMS));
        byte[] point = octetString(ecPoint(pair[0]));
        assertEquals(size, point.length, "encoded point");
        // SubjectPublicKeyInfo: the curve's OID is the algorithm, without parameters
        byte[] spki = der(0x30, der(0x30, oid), der(0x03, concat(new byte[] {0}, point)));

        Mechanism eddsa = new Mechanism(CKM_EDDSA);
        byte[] signature = session.J_Sign(handle, true, eddsa, pair[1], embed(DOCUMENT, 1, 2), 1, DOCUMENT.length);
        assertEquals(2 * size, signature.length);
        assertArrayEquals(signature, session.J_Sign(handle, true, eddsa, pair[1], DOCUMENT, 0, DOCUMENT.length),
                "EdDSA is deterministic");
        Path key = writeTemp(spki);
        try {
            assertTrue(OpenSsl.verifiesRaw(key, DOCUMENT, signature), "openssl accepts it");
            byte[] changed = DOCUMENT.clone();
            changed[0] ^= 1;
            assertFalse(OpenSsl.verifiesRaw(key, changed, signature), "openssl refuses it for another document");
        } finally {
            Pkcs11Tool.delete(key);
        }
        Signature jdk = Signature.getInstance(name);
        jdk.initVerify(KeyFactory.getInstance(name).generatePublic(new X509EncodedKeySpec(spki)));
        jdk.update(DOCUMENT);
        assertTrue(jdk.verify(signature), "the JDK accepts it");
        session.J_Verify(handle, true, eddsa, pair[0], DOCUMENT, 0, DOCUMENT.length, signature, 0, signature.length);
    }

    // ---------------------------------------------------------------- derivation by encryption

    /**
     * One derivation by encryption: the base key's generation, the mechanism's parameter made from
     * an IV (null for ECB) and the data, the JDK's cipher doing the same, and the derived key's type.
     */
    private record EncryptData(String name, int keyGen, int keyLength, int mechanism, int ivLength, int dataLength,
            String jdkAlgorithm, String transformation, int derivedType, int derivedLength) {
        @Override
        public String toString() {
            return name;
        }
    }

    /** Single DES is left out: SoftHSM2 lists its derivations but answers CKR_MECHANISM_INVALID to them. */
    static Stream<EncryptData> encryptDataCases() {
        return Stream.of(
                new EncryptData("AES-128 ECB, generic secret", CKM_AES_KEY_GEN, 16, CKM_AES_ECB_ENCRYPT_DATA, 0, 32,
                        "AES", "AES/ECB/NoPadding", CKK_GENERIC_SECRET, 32),
                new EncryptData("AES-256 ECB, AES key", CKM_AES_KEY_GEN, 32, CKM_AES_ECB_ENCRYPT_DATA, 0, 32,
                        "AES", "AES/ECB/NoPadding", CKK_AES, 32),
                new EncryptData("AES-256 CBC, generic secret", CKM_AES_KEY_GEN, 32, CKM_AES_CBC_ENCRYPT_DATA, 16, 48,
                        "AES", "AES/CBC/NoPadding", CKK_GENERIC_SECRET, 48),
                new EncryptData("AES-128 CBC, AES key", CKM_AES_KEY_GEN, 16, CKM_AES_CBC_ENCRYPT_DATA, 16, 16,
                        "AES", "AES/CBC/NoPadding", CKK_AES, 16),
                new EncryptData("DES3 ECB, generic secret", CKM_DES3_KEY_GEN, 24, CKM_DES3_ECB_ENCRYPT_DATA, 0, 24,
                        "DESede", "DESede/ECB/NoPadding", CKK_GENERIC_SECRET, 24),
                new EncryptData("DES3 CBC, generic secret", CKM_DES3_KEY_GEN, 24, CKM_DES3_CBC_ENCRYPT_DATA, 8, 32,
                        "DESede", "DESede/CBC/NoPadding", CKK_GENERIC_SECRET, 32));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("encryptDataCases")
    void derivationByEncryptionGivesTheJdksCiphertext(EncryptData c) throws Exception {
        long base = c.keyGen() == CKM_AES_KEY_GEN ? generateSecret(CKM_AES_KEY_GEN, c.keyLength(), CKA_DERIVE)
                : generateSecret(c.keyGen(), 0, CKA_DERIVE);
        byte[] value = keyValue(base, c.keyLength());
        byte[] data = Arrays.copyOfRange(pattern(c.dataLength() + 9), 9, c.dataLength() + 9);
        byte[] iv = c.ivLength() == 0 ? null : Arrays.copyOfRange(pattern(40), 20, 20 + c.ivLength());
        Object parameter = iv == null ? data : new CBCEncryptDataParams(iv, data);

        long derived = session.J_DeriveKey(new Mechanism(c.mechanism(), parameter), base,
                new Attribute[] {new Attribute(CKA_CLASS, CKO_SECRET_KEY), new Attribute(CKA_KEY_TYPE, c.derivedType()),
                        new Attribute(CKA_TOKEN, false), new Attribute(CKA_SENSITIVE, false),
                        new Attribute(CKA_EXTRACTABLE, true), new Attribute(CKA_VALUE_LEN, c.derivedLength())});
        byte[] expected = jdkCipher(Cipher.ENCRYPT_MODE, c.transformation(), new SecretKeySpec(value, c.jdkAlgorithm()),
                iv == null ? null : new IvParameterSpec(iv), null, data);
        assertEquals(c.dataLength(), expected.length);
        assertAttribute(CKA_VALUE, Arrays.copyOf(expected, c.derivedLength()),
                session.J_GetAttributeValue(derived, CKA_VALUE));
        assertAttribute(CKA_KEY_TYPE, c.derivedType(), session.J_GetAttributeValue(derived, CKA_KEY_TYPE));
    }

    // ---------------------------------------------------------------- attributes the bridge now reads

    @Test
    void checkValueAndGenerationMechanismOfGeneratedKeysAreRead() throws Exception {
        for (int length : new int[] {16, 24, 32}) {
            long key = generateSecret(CKM_AES_KEY_GEN, length, CKA_ENCRYPT);
            byte[] value = keyValue(key, length);
            byte[] zeroBlock = jdkCipher(Cipher.ENCRYPT_MODE, "AES/ECB/NoPadding", new SecretKeySpec(value, "AES"),
                    null, null, new byte[16]);
            Attribute[] read = session.J_GetAttributeValue(key, new int[] {CKA_CHECK_VALUE, CKA_KEY_GEN_MECHANISM});
            assertAttribute(CKA_CHECK_VALUE, Arrays.copyOf(zeroBlock, 3), read[0]);
            assertAttribute(CKA_KEY_GEN_MECHANISM, CKM_AES_KEY_GEN, read[1]);
        }
        long des3 = generateSecret(CKM_DES3_KEY_GEN, 0, CKA_ENCRYPT);
        byte[] zeroBlock = jdkCipher(Cipher.ENCRYPT_MODE, "DESede/ECB/NoPadding",
                new SecretKeySpec(keyValue(des3, 24), "DESede"), null, null, new byte[8]);
        Attribute[] read = session.J_GetAttributeValue(des3, new int[] {CKA_KEY_GEN_MECHANISM, CKA_CHECK_VALUE});
        assertAttribute(CKA_KEY_GEN_MECHANISM, CKM_DES3_KEY_GEN, read[0]);
        assertAttribute(CKA_CHECK_VALUE, Arrays.copyOf(zeroBlock, 3), read[1]);

        long[] ec = generateEc(P256, CKA_SIGN);
        assertAttribute(CKA_KEY_GEN_MECHANISM, CKM_EC_KEY_PAIR_GEN,
                session.J_GetAttributeValue(ec[1], CKA_KEY_GEN_MECHANISM));

        // a key made from its value was generated by nothing: CK_UNAVAILABLE_INFORMATION, all bits
        // set, narrowed to an int
        byte[] value = pattern(16);
        long created = session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_SECRET_KEY),
                new Attribute(CKA_KEY_TYPE, CKK_AES), new Attribute(CKA_TOKEN, false),
                new Attribute(CKA_VALUE, value)});
        byte[] block = jdkCipher(Cipher.ENCRYPT_MODE, "AES/ECB/NoPadding", new SecretKeySpec(value, "AES"), null, null,
                new byte[16]);
        read = session.J_GetAttributeValue(created, new int[] {CKA_KEY_GEN_MECHANISM, CKA_CHECK_VALUE});
        assertAttribute(CKA_KEY_GEN_MECHANISM, -1, read[0]);
        assertAttribute(CKA_CHECK_VALUE, Arrays.copyOf(block, 3), read[1]);
    }

    @Test
    void bitLengthsOfDomainParametersAndDhPrivateValuesAreRead() throws Exception {
        long domain = session.J_GenerateKey(new Mechanism(CKM_DSA_PARAMETER_GEN),
                new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(CKA_PRIME_BITS, 1024)});
        Attribute[] read = session.J_GetAttributeValue(domain, new int[] {CKA_CLASS, CKA_PRIME_BITS, CKA_PRIME});
        assertAttribute(CKA_CLASS, CKO_DOMAIN_PARAMETERS, read[0]);
        assertAttribute(CKA_PRIME_BITS, 1024, read[1]);
        assertEquals(1024, new BigInteger(1, (byte[]) read[2].getValue()).bitLength(), "bits of CKA_PRIME");

        BigInteger prime = new BigInteger(OAKLEY_GROUP_2, 16);
        BigInteger base = BigInteger.TWO;
        long[] pair = session.J_GenerateKeyPair(new Mechanism(CKM_DH_PKCS_KEY_PAIR_GEN),
                new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(CKA_PRIME, prime.toByteArray()),
                        new Attribute(CKA_BASE, base.toByteArray())},
                new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(CKA_SENSITIVE, false),
                        new Attribute(CKA_EXTRACTABLE, true), new Attribute(CKA_DERIVE, true),
                        new Attribute(CKA_VALUE_BITS, 256)});
        Attribute[] secret = session.J_GetAttributeValue(pair[1], new int[] {CKA_VALUE_BITS, CKA_VALUE});
        BigInteger x = new BigInteger(1, (byte[]) secret[1].getValue());
        BigInteger y = new BigInteger(1, (byte[]) session.J_GetAttributeValue(pair[0], CKA_VALUE).getValue());
        assertEquals(y, base.modPow(x, prime), "the private value belongs to the public one");
        assertAttribute(CKA_VALUE_BITS, x.bitLength(), secret[0]);
    }

    // ---------------------------------------------------------------- helpers

    /**
     * A session secret key generated on the token, readable and extractable, allowed the uses
     * named; {@code length} becomes CKA_VALUE_LEN unless 0 (DES and DES3 keys have fixed lengths).
     */
    private long generateSecret(int keyGen, int length, int... uses) throws CryptokiException {
        List<Attribute> template = new ArrayList<>(List.of(new Attribute(CKA_TOKEN, false),
                new Attribute(CKA_SENSITIVE, false), new Attribute(CKA_EXTRACTABLE, true)));
        if (length != 0) {
            template.add(new Attribute(CKA_VALUE_LEN, length));
        }
        for (int use : uses) {
            template.add(new Attribute(use, true));
        }
        return session.J_GenerateKey(new Mechanism(keyGen), template.toArray(new Attribute[0]));
    }

    /** CKA_VALUE of {@code key} read through the bridge, which must be {@code length} bytes. */
    private byte[] keyValue(long key, int length) throws CryptokiException {
        byte[] value = assertInstanceOf(byte[].class, session.J_GetAttributeValue(key, CKA_VALUE).getValue());
        assertEquals(length, value.length, "key length");
        return value;
    }

    /** An EC session key pair on the curve {@code params}; the private half may do {@code use}. */
    private long[] generateEc(byte[] params, int use) throws CryptokiException {
        return session.J_GenerateKeyPair(new Mechanism(CKM_EC_KEY_PAIR_GEN),
                new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(CKA_EC_PARAMS, params),
                        new Attribute(CKA_VERIFY, true)},
                new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(use, true)});
    }

    private byte[] ecPoint(long publicKey) throws CryptokiException {
        return assertInstanceOf(byte[].class, session.J_GetAttributeValue(publicKey, CKA_EC_POINT).getValue());
    }

    /** The SubjectPublicKeyInfo of an EC public key, from CKA_EC_PARAMS and CKA_EC_POINT read through the bridge. */
    private byte[] ecSubjectPublicKeyInfo(long publicKey) throws CryptokiException {
        Attribute[] read = session.J_GetAttributeValue(publicKey, new int[] {CKA_EC_PARAMS, CKA_EC_POINT});
        byte[] params = assertInstanceOf(byte[].class, read[0].getValue());
        byte[] point = octetString(assertInstanceOf(byte[].class, read[1].getValue()));
        return der(0x30, der(0x30, EC_PUBLIC_KEY, params), der(0x03, concat(new byte[] {0}, point)));
    }

    /** The content of the DER OCTET STRING {@code der}, which must be nothing else. */
    static byte[] octetString(byte[] der) {
        String shown = HexFormat.of().formatHex(der);
        assertTrue(der.length >= 2 && der[0] == 0x04, () -> "not an OCTET STRING: " + shown);
        int length = der[1] & 0xFF;
        int header = 2;
        if (length >= 0x80) {
            int count = length & 0x7F;
            assertTrue(count >= 1 && count <= 2 && der.length >= 2 + count, () -> "bad length in " + shown);
            length = 0;
            for (int i = 0; i < count; i++) {
                length = length << 8 | der[2 + i] & 0xFF;
            }
            header += count;
        }
        assertEquals(der.length, header + length, () -> "OCTET STRING length in " + shown);
        return Arrays.copyOfRange(der, header, der.length);
    }

    /** DER: {@code tag}, the definite length of the parts together, the parts. */
    static byte[] der(int tag, byte[]... parts) {
        byte[] content = concat(parts);
        int length = content.length;
        byte[] header = length < 0x80 ? new byte[] {(byte) tag, (byte) length}
                : length <= 0xFF ? new byte[] {(byte) tag, (byte) 0x81, (byte) length}
                        : new byte[] {(byte) tag, (byte) 0x82, (byte) (length >> 8), (byte) length};
        return concat(header, content);
    }

    /** {@code value} as exactly {@code size} unsigned big-endian bytes. */
    static byte[] unsigned(BigInteger value, int size) {
        byte[] bytes = value.toByteArray();
        if (bytes.length > size) {
            return Arrays.copyOfRange(bytes, bytes.length - size, bytes.length);
        }
        byte[] out = new byte[size];
        System.arraycopy(bytes, 0, out, size - bytes.length, bytes.length);
        return out;
    }

    /** The JDK's (SunJCE's) {@code transformation} of {@code data}; {@code spec} and {@code aad} may be null. */
    static byte[] jdkCipher(int opmode, String transformation, SecretKeySpec key, AlgorithmParameterSpec spec,
            byte[] aad, byte[] data) throws GeneralSecurityException {
        Cipher cipher = Cipher.getInstance(transformation);
        cipher.init(opmode, key, spec);
        if (aad != null) {
            cipher.updateAAD(aad);
        }
        return cipher.doFinal(data);
    }

    static Path writeTemp(byte[] bytes) {
        Path file = Pkcs11Tool.tempFile();
        try {
            Files.write(file, bytes);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        return file;
    }
}
