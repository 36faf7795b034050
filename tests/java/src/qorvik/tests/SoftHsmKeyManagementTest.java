package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;
import static qorvik.tests.TestSetup.*;

import java.math.BigInteger;
import java.util.Arrays;
import java.util.HashSet;
import java.util.HexFormat;
import java.util.Set;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.Mechanism;
import qorvik.params.OAEPParams;

/**
 * Keys generated, wrapped, unwrapped and derived through the bridge, used at once; random
 * numbers with and without a seed.
 */
class SoftHsmKeyManagementTest extends OwnTokenSuite {
    private static final String TOKEN = "key management";

    @BeforeAll
    static void makeToken() throws CryptokiException {
        createToken(TOKEN);
    }

    @Override
    protected String tokenLabel() {
        return TOKEN;
    }

    @Test
    void secretKeysAreGeneratedWithTheRequestedTypeAndLength() throws CryptokiException {
        long aes = generateAes();
        long des3 = session.J_GenerateKey(new Mechanism(CKM_DES3_KEY_GEN), readableSecret());
        long generic = session.J_GenerateKey(new Mechanism(CKM_GENERIC_SECRET_KEY_GEN),
                concatTemplates(readableSecret(), new Attribute(CKA_VALUE_LEN, 20), new Attribute(CKA_DERIVE, true)));
        assertEquals(3, Arrays.stream(new long[] {aes, des3, generic}).distinct().count(), "distinct handles");

        Object[][] expected = {{aes, CKK_AES, 32}, {des3, CKK_DES3, 24}, {generic, CKK_GENERIC_SECRET, 20}};
        for (Object[] key : expected) {
            long handleOfKey = (Long) key[0];
            Attribute[] read = session.J_GetAttributeValue(handleOfKey, new int[] {CKA_CLASS, CKA_KEY_TYPE, CKA_VALUE});
            assertAttribute(CKA_CLASS, CKO_SECRET_KEY, read[0]);
            assertAttribute(CKA_KEY_TYPE, key[1], read[1]);
            assertEquals(key[2], ((byte[]) read[2].getValue()).length, () -> "value length of key type " + key[1]);
        }
        assertAttribute(CKA_VALUE_LEN, 32, session.J_GetAttributeValue(aes, CKA_VALUE_LEN));
        assertAttribute(CKA_VALUE_LEN, 20, session.J_GetAttributeValue(generic, CKA_VALUE_LEN));

        // the value read back is the key the token encrypts with
        byte[] value = (byte[]) session.J_GetAttributeValue(aes, CKA_VALUE).getValue();
        byte[] plain = pattern(32);
        assertArrayEquals(OpenSsl.encrypt("aes-256-ecb", value, null, false, plain),
                session.J_Encrypt(handle, true, new Mechanism(CKM_AES_ECB), aes, plain, 0, plain.length));
        assertFalse(Arrays.equals(value, (byte[]) session.J_GetAttributeValue(generateAes(), CKA_VALUE).getValue()),
                "two generated AES keys differ");
    }

    @Test
    void rsaKeyPairSignsAtOnceAndTheSignatureChecksOutElsewhere() throws Exception {
        long[] pair = generateRsa(CKA_VERIFY, CKA_SIGN);
        assertEquals(2, pair.length);
        assertKey(pair[0], CKO_PUBLIC_KEY, CKK_RSA);
        assertKey(pair[1], CKO_PRIVATE_KEY, CKK_RSA);
        Attribute[] publicValues = session.J_GetAttributeValue(pair[0], new int[] {CKA_MODULUS, CKA_PUBLIC_EXPONENT});
        BigInteger modulus = new BigInteger(1, (byte[]) publicValues[0].getValue());
        assertEquals(2048, modulus.bitLength());
        assertEquals(65537, new BigInteger(1, (byte[]) publicValues[1].getValue()).intValueExact());

        byte[] document = pattern(300);
        Mechanism mechanism = new Mechanism(CKM_SHA256_RSA_PKCS);
        byte[] signature = session.J_Sign(handle, true, mechanism, pair[1], document, 0, document.length);
        session.J_Verify(handle, true, mechanism, pair[0], document, 0, document.length, signature, 0, 256);
        // the modulus read through the bridge belongs to the key that signed: raising the
        // signature to the public exponent gives the PKCS#1 block of the document's DigestInfo
        byte[] digestInfo = OwnTokenSuite.sha256DigestInfo(document);
        byte[] block = new byte[256];
        Arrays.fill(block, (byte) 0xFF);
        block[0] = 0;
        block[1] = 1;
        block[block.length - digestInfo.length - 1] = 0;
        System.arraycopy(digestInfo, 0, block, block.length - digestInfo.length, digestInfo.length);
        BigInteger opened = new BigInteger(1, signature).modPow(BigInteger.valueOf(65537), modulus);
        assertEquals(new BigInteger(1, block), opened, "the signature opens with the bridge's modulus");
    }

    @Test
    void ecKeyPairSignsAtOnce() throws CryptokiException {
        long[] pair = session.J_GenerateKeyPair(new Mechanism(CKM_EC_KEY_PAIR_GEN),
                new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(CKA_EC_PARAMS, P256),
                        new Attribute(CKA_VERIFY, true)},
                new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(CKA_SIGN, true)});
        assertEquals(2, pair.length);
        assertKey(pair[0], CKO_PUBLIC_KEY, CKK_EC);
        assertKey(pair[1], CKO_PRIVATE_KEY, CKK_EC);
        // the curve comes back as the template gave it
        assertAttribute(CKA_EC_PARAMS, P256, session.J_GetAttributeValue(pair[0], CKA_EC_PARAMS));

        Mechanism ecdsa = new Mechanism(CKM_ECDSA);
        byte[] hash = sha256(pattern(300));
        byte[] signature = session.J_Sign(handle, true, ecdsa, pair[1], hash, 0, hash.length);
        assertEquals(64, signature.length);
        session.J_Verify(handle, true, ecdsa, pair[0], hash, 0, hash.length, signature, 0, signature.length);
        hash[0] ^= 1;
        assertFailsDescribed("J_Verify", CKR_SIGNATURE_INVALID, () -> session.J_Verify(handle, true, ecdsa, pair[0],
                hash, 0, hash.length, signature, 0, signature.length));
    }

    @Test
    void aesKeyWrappedWithRsaAndAesKeyWrapUnwrapsToTheSameKey() throws CryptokiException {
        long aes = generateAes();
        long[] rsa = generateRsa(CKA_WRAP, CKA_UNWRAP);
        long kek = generateAes();
        assertTrue(offers(CKM_AES_KEY_WRAP), "SoftHSM2 offers AES key wrap");

        byte[] value = (byte[]) session.J_GetAttributeValue(aes, CKA_VALUE).getValue();
        byte[] plain = pattern(48);
        Mechanism ecb = new Mechanism(CKM_AES_ECB);
        byte[] encrypted = session.J_Encrypt(handle, true, ecb, aes, plain, 0, plain.length);
        Mechanism oaep = new Mechanism(CKM_RSA_PKCS_OAEP,
                new OAEPParams(CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, null));
        Object[][] ways = {{oaep, rsa[0], rsa[1], 256}, {new Mechanism(CKM_RSA_PKCS), rsa[0], rsa[1], 256},
                {new Mechanism(CKM_AES_KEY_WRAP), kek, kek, 40}};
        for (Object[] way : ways) {
            Mechanism mechanism = (Mechanism) way[0];
            String what = mechanism.toString();
            byte[] wrapped = session.J_WrapKey(mechanism, (Long) way[1], aes);
            assertEquals(way[3], wrapped.length, what);
            // the wrapped bytes sit at offset 4 of a longer array
            long unwrapped = session.J_UnwrapKey(mechanism, (Long) way[2], embed(wrapped, 4, 9), 4, wrapped.length,
                    concatTemplates(readableSecret(), new Attribute(CKA_CLASS, CKO_SECRET_KEY),
                            new Attribute(CKA_KEY_TYPE, CKK_AES)));
            assertNotEquals(aes, unwrapped, what);
            assertAttribute(CKA_VALUE, value, session.J_GetAttributeValue(unwrapped, CKA_VALUE));
            assertArrayEquals(plain, session.J_Decrypt(handle, true, ecb, unwrapped, encrypted, 0, encrypted.length),
                    what);
        }
    }

    @Test
    void randomBytesFillOnlyTheirWindowWithAndWithoutASeed() throws CryptokiException {
        byte[][] arrays = {filled(48), filled(48), filled(48)};
        session.J_GenerateRandom(handle, false, null, arrays[0], 5, 32);
        session.J_GenerateRandom(handle, true, pattern(16), arrays[1], 5, 32);
        session.J_GenerateRandom(handle, false, null, arrays[2], 5, 32);

        Set<String> windows = new HashSet<>();
        for (byte[] array : arrays) {
            byte[] window = Arrays.copyOfRange(array, 5, 37);
            assertWindow(window, array, 5);
            windows.add(HexFormat.of().formatHex(window));
        }
        // 32 random bytes equal to the fill or to each other are a chance of about 2^-256
        windows.add(HexFormat.of().formatHex(filled(32)));
        assertEquals(4, windows.size(), () -> "windows and fill: " + windows);
    }

    @Test
    void sha256KeyDerivationDigestsTheBaseKey() throws CryptokiException {
        // SoftHSM2's own derivations all take parameter records of kinds the bridge does not convert
        assumeTrue(offers(CKM_SHA256_KEY_DERIVATION), "the token offers no CKM_SHA256_KEY_DERIVATION");
        long base = session.J_GenerateKey(new Mechanism(CKM_GENERIC_SECRET_KEY_GEN),
                concatTemplates(readableSecret(), new Attribute(CKA_VALUE_LEN, 48), new Attribute(CKA_DERIVE, true)));
        long derived = session.J_DeriveKey(new Mechanism(CKM_SHA256_KEY_DERIVATION), base,
                concatTemplates(readableSecret(), new Attribute(CKA_CLASS, CKO_SECRET_KEY),
                        new Attribute(CKA_KEY_TYPE, CKK_GENERIC_SECRET)));
        byte[] baseValue = (byte[]) session.J_GetAttributeValue(base, CKA_VALUE).getValue();
        assertAttribute(CKA_VALUE, sha256(baseValue), session.J_GetAttributeValue(derived, CKA_VALUE));
    }

    /** An RSA-2048 session key pair, exponent 65537, each half allowed the one use named. */
    private long[] generateRsa(int publicUse, int privateUse) throws CryptokiException {
        return session.J_GenerateKeyPair(new Mechanism(CKM_RSA_PKCS_KEY_PAIR_GEN),
                new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(CKA_MODULUS_BITS, 2048),
                        new Attribute(CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1}), new Attribute(publicUse, true)},
                new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(privateUse, true)});
    }

    private long generateAes() throws CryptokiException {
        return session.J_GenerateKey(new Mechanism(CKM_AES_KEY_GEN), concatTemplates(readableSecret(),
                new Attribute(CKA_VALUE_LEN, 32), new Attribute(CKA_WRAP, true), new Attribute(CKA_UNWRAP, true)));
    }

    /** A session key that may be read and wrapped, for encryption and decryption. */
    private static Attribute[] readableSecret() {
        return new Attribute[] {new Attribute(CKA_TOKEN, false), new Attribute(CKA_SENSITIVE, false),
                new Attribute(CKA_EXTRACTABLE, true), new Attribute(CKA_ENCRYPT, true), new Attribute(CKA_DECRYPT, true)};
    }

    private static Attribute[] concatTemplates(Attribute[] template, Attribute... more) {
        Attribute[] all = Arrays.copyOf(template, template.length + more.length);
        System.arraycopy(more, 0, all, template.length, more.length);
        return all;
    }

    private void assertKey(long key, int objectClass, int keyType) throws CryptokiException {
        Attribute[] read = session.J_GetAttributeValue(key, new int[] {CKA_CLASS, CKA_KEY_TYPE});
        assertAttribute(CKA_CLASS, objectClass, read[0]);
        assertAttribute(CKA_KEY_TYPE, keyType, read[1]);
    }
}
