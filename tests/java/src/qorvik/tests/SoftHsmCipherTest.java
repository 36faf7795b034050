package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static qorvik.tests.TestSetup.*;

import java.nio.file.Path;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.stream.Stream;

import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.MethodSource;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.params.AESCTRParams;
import qorvik.params.OAEPParams;

/**
 * Encryption, decryption and digests through the bridge in every form, single- and multi-part,
 * held to what openssl computes with the same keys.
 */
class SoftHsmCipherTest extends OwnTokenSuite {
    private static final String TOKEN = "ciphers";
    private static final byte[] RSA_ID = {3};
    private static final byte[] DES3_KEY = HexFormat.of().parseHex("0123456789abcdeffedcba987654321089abcdef01234567");
    private static final byte[] AES_KEY =
            HexFormat.of().parseHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    private static final byte[] IV = HexFormat.of().parseHex("1a2b3c4d5e6f7081");
    private static final byte[] AES_IV = HexFormat.of().parseHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    private static final int CKM_AES_CBC = 0x1082;
    private static final int CKM_AES_CTR = 0x1086;

    private static Path rsaPublic;

    @BeforeAll
    static void makeKeyPair() throws CryptokiException {
        createToken(TOKEN);
        Pkcs11Tool.generateKeyPair(TestSetup.softhsm(), TOKEN, USER_PIN, "rsa:2048", "03", "oaep");
        rsaPublic = Pkcs11Tool.tempFile();
        Pkcs11Tool.exportPublicKey(TestSetup.softhsm(), TOKEN, "03", rsaPublic);
    }

    @AfterAll
    static void removeExportedKey() {
        Pkcs11Tool.delete(rsaPublic);
    }

    @Override
    protected String tokenLabel() {
        return TOKEN;
    }

    @Test
    void des3CbcMatchesOpensslInEveryForm() throws CryptokiException {
        long key = secretKey(CKK_DES3, DES3_KEY);
        byte[] plain = pattern(48);
        byte[] expected = OpenSsl.encrypt("des-ede3-cbc", DES3_KEY, IV, false, plain);
        assertCipherForms(new Mechanism(CKM_DES3_CBC, IV), key, plain, expected);
        // of a longer IV array the first 8 bytes count
        assertArrayEquals(expected, session.J_Encrypt(handle, true, new Mechanism(CKM_DES3_CBC, concat(IV, pattern(8))),
                key, plain, 0, plain.length));
    }

    @Test
    void des3CbcPadMatchesOpensslInEveryForm() throws CryptokiException {
        byte[] plain = pattern(29);
        byte[] expected = OpenSsl.encrypt("des-ede3-cbc", DES3_KEY, IV, true, plain);
        assertEquals(32, expected.length);
        assertCipherForms(new Mechanism(CKM_DES3_CBC_PAD, IV), secretKey(CKK_DES3, DES3_KEY), plain, expected);
    }

    @Test
    void aesEcbMatchesOpensslInEveryForm() throws CryptokiException {
        byte[] plain = pattern(64);
        assertCipherForms(new Mechanism(CKM_AES_ECB), secretKey(CKK_AES, AES_KEY), plain,
                OpenSsl.encrypt("aes-256-ecb", AES_KEY, null, false, plain));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("aesModesWithIv")
    void aesModesCarryTheirIvAndMatchOpensslInEveryForm(String name, Mechanism mechanism, String cipher, boolean pad,
            int length) throws CryptokiException {
        byte[] plain = pattern(length);
        assertCipherForms(mechanism, secretKey(CKK_AES, AES_KEY), plain,
                OpenSsl.encrypt(cipher, AES_KEY, AES_IV, pad, plain));
    }

    static Stream<Arguments> aesModesWithIv() {
        return Stream.of(Arguments.of("CBC", new Mechanism(CKM_AES_CBC, AES_IV), "aes-256-cbc", false, 64),
                Arguments.of("CBC-PAD", new Mechanism(CKM_AES_CBC_PAD, AES_IV), "aes-256-cbc", true, 45),
                Arguments.of("CTR", new Mechanism(CKM_AES_CTR, new AESCTRParams(128, AES_IV)), "aes-256-ctr", false,
                        45));
    }

    @Test
    void aesCbcWithoutItsIvGetsTheModulesRefusal() throws CryptokiException {
        // a missing parameter is the module's business: SoftHSM2 refuses to start AES-CBC without an IV
        long key = secretKey(CKK_AES, AES_KEY);
        Mechanism cbcPad = new Mechanism(CKM_AES_CBC_PAD);
        assertFailsDescribed("J_EncryptInit", CKR_ARGUMENTS_BAD,
                () -> session.J_Encrypt(handle, true, cbcPad, key, pattern(20), 0, 20));
        assertFailsDescribed("J_DecryptInit", CKR_ARGUMENTS_BAD, () -> session.J_DecryptInit(handle, cbcPad, key));
    }

    @Test
    void rsaOaepRoundTripsAndDecryptsWhatOpensslEncrypted() throws CryptokiException {
        long publicKey = object(CKO_PUBLIC_KEY, RSA_ID);
        long privateKey = object(CKO_PRIVATE_KEY, RSA_ID);
        Mechanism oaep = new Mechanism(CKM_RSA_PKCS_OAEP,
                new OAEPParams(CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, null));
        byte[] secret = pattern(40);

        byte[] returned = session.J_Encrypt(handle, true, oaep, publicKey, secret, 0, secret.length);
        assertEquals(256, returned.length);
        assertEquals(256, session.J_Encrypt(handle, true, oaep, publicKey, secret, 0, secret.length, null, 0));
        byte[] out = filled(256 + 2);
        assertEquals(256, session.J_Encrypt(handle, false, null, 0, secret, 0, secret.length, out, 2));
        byte[] written = Arrays.copyOfRange(out, 2, 258);
        assertWindow(written, out, 2);
        assertFalse(Arrays.equals(returned, written), "OAEP pads with fresh random bytes");

        byte[] fromOpenssl = OpenSsl.oaepEncrypt(rsaPublic, secret);
        for (byte[] ciphertext : new byte[][] {returned, written, fromOpenssl}) {
            assertArrayEquals(secret, session.J_Decrypt(handle, true, oaep, privateKey, embed(ciphertext, 1, 3), 1,
                    ciphertext.length));
        }
    }

    @ParameterizedTest(name = "{1}")
    @CsvSource({"0x220, sha1, 20", "0x210, md5, 16", "0x250, sha256, 32", "0x270, sha512, 64"})
    void digestsMatchOpensslInEveryForm(int type, String name, int size) throws CryptokiException {
        Mechanism mechanism = new Mechanism(type);
        byte[] data = pattern(1000);
        byte[] framed = embed(data, 5, 8);
        byte[] expected = OpenSsl.digest(name, data);
        assertEquals(size, expected.length);

        assertArrayEquals(expected, session.J_Digest(handle, true, mechanism, framed, 5, data.length),
                "single part, returning");
        assertEquals(size, session.J_Digest(handle, true, mechanism, data, 0, data.length, null, 0));
        byte[] out = filled(size + 7);
        assertEquals(size, session.J_Digest(handle, false, null, data, 0, data.length, out, 7));
        assertWindow(expected, out, 7);

        session.J_DigestUpdate(handle, true, mechanism, framed, 5, 300);
        session.J_DigestUpdate(handle, false, null, framed, 305, data.length - 300);
        assertArrayEquals(expected, session.J_DigestFinal(), "multi-part, returning final");

        session.J_DigestUpdate(handle, true, mechanism, data, 0, data.length);
        assertEquals(size, session.J_DigestFinal(null, 0));
        byte[] last = filled(size + 1);
        assertEquals(size, session.J_DigestFinal(last, 1));
        assertWindow(expected, last, 1);
    }

    private long secretKey(int keyType, byte[] value) throws CryptokiException {
        return session.J_CreateObject(new Attribute[] {new Attribute(CKA_CLASS, CKO_SECRET_KEY),
                new Attribute(CKA_KEY_TYPE, keyType), new Attribute(CKA_TOKEN, false),
                new Attribute(CKA_ENCRYPT, true), new Attribute(CKA_DECRYPT, true), new Attribute(CKA_VALUE, value)});
    }

    /**
     * Encrypts {@code plain} in every form the bridge has, single part and in uneven parts, and
     * decrypts {@code expected} likewise; each result must be exactly {@code expected} or {@code plain}.
     */
    private void assertCipherForms(Mechanism mechanism, long key, byte[] plain, byte[] expected)
            throws CryptokiException {
        byte[] framed = embed(plain, 3, 10);
        assertArrayEquals(expected, session.J_Encrypt(handle, true, mechanism, key, framed, 3, plain.length),
                "single part, returning");
        int needed = session.J_Encrypt(handle, true, mechanism, key, plain, 0, plain.length, null, 0);
        assertTrue(needed >= expected.length, "length query: " + needed);
        byte[] out = filled(needed + 6);
        assertEquals(expected.length, session.J_Encrypt(handle, false, null, 0, plain, 0, plain.length, out, 4));
        assertWindow(expected, out, 4);

        byte[] first = session.J_EncryptUpdate(handle, true, mechanism, key, framed, 3, 13);
        byte[] second = session.J_EncryptUpdate(handle, false, null, 0, framed, 16, plain.length - 13);
        assertArrayEquals(expected, concat(first, second, session.J_EncryptFinal()), "multi-part, returning");

        byte[] all = filled(expected.length + 32);
        int at = 5;
        at += session.J_EncryptUpdate(handle, true, mechanism, key, plain, 0, 20, all, at);
        at += session.J_EncryptUpdate(handle, false, null, 0, plain, 20, plain.length - 20, all, at);
        at += session.J_EncryptFinal(all, at);
        assertEquals(5 + expected.length, at);
        assertWindow(expected, all, 5);

        assertArrayEquals(plain, session.J_Decrypt(handle, true, mechanism, key, embed(expected, 6, 9), 6,
                expected.length), "single part decryption");
        session.J_DecryptInit(handle, mechanism, key);
        byte[] head = session.J_DecryptUpdate(handle, false, null, 0, expected, 0, 11);
        byte[] rest = session.J_DecryptUpdate(handle, false, null, 0, expected, 11, expected.length - 11);
        byte[] tail = filled(plain.length + 16);
        int tailLength = session.J_DecryptFinal(tail, 0);
        assertArrayEquals(plain, concat(head, rest, Arrays.copyOf(tail, tailLength)), "multi-part decryption");

        int room = session.J_DecryptUpdate(handle, true, mechanism, key, expected, 0, expected.length, null, 0);
        byte[] decrypted = filled(room + 4);
        int written = session.J_DecryptUpdate(handle, false, null, 0, expected, 0, expected.length, decrypted, 4);
        assertArrayEquals(plain, concat(Arrays.copyOfRange(decrypted, 4, 4 + written), session.J_DecryptFinal()),
                "filling update, returning final");
    }
}
