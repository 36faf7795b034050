package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.Provider;
import java.security.spec.MGF1ParameterSpec;
import java.util.Random;

import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.SecretKey;
import javax.crypto.spec.OAEPParameterSpec;
import javax.crypto.spec.PSource;
import javax.crypto.spec.SecretKeySpec;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * RSA PKCS#1 and OAEP through the provider, judged by the JDK's own RSA (SunJCE): what the JDK
 * encrypts with a token key's public half the token decrypts; what the provider encrypts with a
 * JDK key the JDK decrypts; PKCS#1 the other way round (private-key encryption and public-key
 * decryption) in both directions; over a sweep of lengths up to the padding's limit and past it.
 */
class RsaCipherTest {
    private static final Random RANDOM = new Random(2048);
    private static Provider provider;
    /** On the token (private key held by handle) and in the JDK, each of 1024 and 2048 bits. */
    private static KeyPair[] tokenPairs;
    private static KeyPair[] jdkPairs;

    @BeforeAll
    static void keys() throws Exception {
        provider = ProviderSetup.provider();
        int[] sizes = {1024, 2048};
        tokenPairs = new KeyPair[sizes.length];
        jdkPairs = new KeyPair[sizes.length];
        for (int i = 0; i < sizes.length; i++) {
            KeyPairGenerator onToken = KeyPairGenerator.getInstance("RSA", provider);
            onToken.initialize(sizes[i]);
            tokenPairs[i] = onToken.generateKeyPair();
            KeyPairGenerator inJdk = KeyPairGenerator.getInstance("RSA", "SunRsaSign");
            inJdk.initialize(sizes[i]);
            jdkPairs[i] = inJdk.generateKeyPair();
        }
    }

    @ParameterizedTest
    @ValueSource(strings = {"RSA/ECB/PKCS1Padding", "RSA/ECB/OAEPPadding", "RSA/ECB/OAEPWithSHA-1AndMGF1Padding"})
    void publicEncryptionBothWays(String transformation) throws Exception {
        Cipher ours = Cipher.getInstance(transformation, provider);
        Cipher jdk = Cipher.getInstance(transformation, "SunJCE");
        for (int i = 0; i < tokenPairs.length; i++) {
            int k = (((java.security.interfaces.RSAKey) tokenPairs[i].getPublic()).getModulus().bitLength() + 7) / 8;
            int most = k - (transformation.contains("OAEP") ? 42 : 11);
            for (int len : new int[] {0, 1, 20, most - 1, most, most + 1, k + 5}) {
                byte[] data = bytes(len);
                String what = transformation + ", " + 8 * k + " bits, " + len + " bytes";
                if (len > most) {
                    ours.init(Cipher.ENCRYPT_MODE, jdkPairs[i].getPublic());
                    assertThrows(IllegalBlockSizeException.class, () -> ours.doFinal(data), what);
                    jdk.init(Cipher.ENCRYPT_MODE, jdkPairs[i].getPublic());
                    assertThrows(IllegalBlockSizeException.class, () -> jdk.doFinal(data), what + " (JDK)");
                    continue;
                }
                // The JDK encrypts for the token's key; the token decrypts.
                jdk.init(Cipher.ENCRYPT_MODE, tokenPairs[i].getPublic());
                ours.init(Cipher.DECRYPT_MODE, tokenPairs[i].getPrivate());
                assertArrayEquals(data, ours.doFinal(jdk.doFinal(data)), what + ": JDK to token");
                // The provider encrypts for a JDK key; the JDK decrypts.
                ours.init(Cipher.ENCRYPT_MODE, jdkPairs[i].getPublic());
                byte[] sealed = ours.doFinal(data);
                assertEquals(k, sealed.length, what);
                jdk.init(Cipher.DECRYPT_MODE, jdkPairs[i].getPrivate());
                assertArrayEquals(data, jdk.doFinal(sealed), what + ": provider to JDK");
                // The input may come in parts.
                ours.init(Cipher.ENCRYPT_MODE, tokenPairs[i].getPublic());
                ours.update(data, 0, len / 2);
                byte[] sealedInParts = ours.doFinal(data, len / 2, len - len / 2);
                ours.init(Cipher.DECRYPT_MODE, tokenPairs[i].getPrivate());
                assertArrayEquals(data, ours.doFinal(sealedInParts), what + " in parts");
            }
        }
    }

    /** A ciphertext changed in one byte does not decrypt: BadPaddingException, the token's failure as cause. */
    @ParameterizedTest
    @ValueSource(strings = {"RSA/ECB/PKCS1Padding", "RSA/ECB/OAEPPadding"})
    void tamperedCiphertextIsRefused(String transformation) throws Exception {
        Cipher jdk = Cipher.getInstance(transformation, "SunJCE");
        jdk.init(Cipher.ENCRYPT_MODE, tokenPairs[1].getPublic());
        byte[] sealed = jdk.doFinal(bytes(32));
        Cipher ours = Cipher.getInstance(transformation, provider);
        for (int at : new int[] {0, 1, 100, sealed.length - 1}) {
            byte[] bad = sealed.clone();
            bad[at] ^= 0x10;
            ours.init(Cipher.DECRYPT_MODE, tokenPairs[1].getPrivate());
            Exception e = assertThrows(Exception.class, () -> ours.doFinal(bad), "byte " + at);
            assertTrue(e instanceof BadPaddingException || e instanceof IllegalBlockSizeException,
                    "byte " + at + ": " + e);
            SymmetricCipherTest.assertCryptokiCause(e, "J_Decrypt");
        }
    }

    /** PKCS#1 with the private key encrypting (block type 1) and the public key decrypting. */
    @org.junit.jupiter.api.Test
    void privateKeyEncryptionBothWays() throws Exception {
        Cipher ours = Cipher.getInstance("RSA/ECB/PKCS1Padding", provider);
        Cipher jdk = Cipher.getInstance("RSA/ECB/PKCS1Padding", "SunJCE");
        for (int i = 0; i < tokenPairs.length; i++) {
            for (int len : new int[] {0, 1, 35, 100}) {
                byte[] data = bytes(len);
                ours.init(Cipher.ENCRYPT_MODE, tokenPairs[i].getPrivate());
                byte[] byToken = ours.doFinal(data);
                jdk.init(Cipher.DECRYPT_MODE, tokenPairs[i].getPublic());
                assertArrayEquals(data, jdk.doFinal(byToken), len + " bytes, token's private key");
                jdk.init(Cipher.ENCRYPT_MODE, jdkPairs[i].getPrivate());
                byte[] byJdk = jdk.doFinal(data);
                ours.init(Cipher.DECRYPT_MODE, jdkPairs[i].getPublic());
                assertArrayEquals(data, ours.doFinal(byJdk), len + " bytes, JDK's private key");
                // The token's block of type 1 also unpads through the provider's public-key decryption.
                ours.init(Cipher.DECRYPT_MODE, tokenPairs[i].getPublic());
                assertArrayEquals(data, ours.doFinal(byToken), len + " bytes, back through the provider");
            }
            // A block of type 2 (a public-key encryption) is not a type-1 block.
            jdk.init(Cipher.ENCRYPT_MODE, tokenPairs[i].getPublic());
            byte[] type2 = jdk.doFinal(bytes(10));
            ours.init(Cipher.DECRYPT_MODE, tokenPairs[i].getPublic());
            assertThrows(BadPaddingException.class, () -> ours.doFinal(type2));
        }
    }

    /** Parameters and keys OAEP refuses, and wrapping a secret key. */
    @org.junit.jupiter.api.Test
    void oaepParametersKeysAndWrapping() throws Exception {
        Cipher oaep = Cipher.getInstance("RSA/ECB/OAEPPadding", provider);
        OAEPParameterSpec sha256 = new OAEPParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256,
                PSource.PSpecified.DEFAULT);
        OAEPParameterSpec mgfSha256 = new OAEPParameterSpec("SHA-1", "MGF1", MGF1ParameterSpec.SHA256,
                PSource.PSpecified.DEFAULT);
        for (OAEPParameterSpec parameters : new OAEPParameterSpec[] {sha256, mgfSha256}) {
            assertThrows(InvalidAlgorithmParameterException.class,
                    () -> oaep.init(Cipher.ENCRYPT_MODE, tokenPairs[0].getPublic(), parameters));
        }
        assertThrows(InvalidKeyException.class, () -> oaep.init(Cipher.ENCRYPT_MODE, tokenPairs[0].getPrivate()),
                "OAEP encrypts with the public key");
        assertThrows(InvalidKeyException.class, () -> oaep.init(Cipher.DECRYPT_MODE, jdkPairs[0].getPrivate()),
                "a private key of another provider stays there");
        assertThrows(InvalidKeyException.class,
                () -> oaep.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(new byte[16], "AES")));
        // SHA-1 parameters given explicitly are the default's.
        OAEPParameterSpec sha1 = new OAEPParameterSpec("SHA-1", "MGF1", MGF1ParameterSpec.SHA1,
                PSource.PSpecified.DEFAULT);
        oaep.init(Cipher.ENCRYPT_MODE, jdkPairs[0].getPublic(), sha1);
        byte[] sealed = oaep.doFinal(bytes(16));
        Cipher jdk = Cipher.getInstance("RSA/ECB/OAEPPadding", "SunJCE");
        jdk.init(Cipher.DECRYPT_MODE, jdkPairs[0].getPrivate(), oaep.getParameters());
        assertEquals(16, jdk.doFinal(sealed).length);
        // Wrap an AES key for the token's key pair, and unwrap it there.
        SecretKey aes = new SecretKeySpec(bytes(32), "AES");
        Cipher ours = Cipher.getInstance("RSA/ECB/PKCS1Padding", provider);
        ours.init(Cipher.WRAP_MODE, tokenPairs[1].getPublic());
        byte[] wrapped = ours.wrap(aes);
        ours.init(Cipher.UNWRAP_MODE, tokenPairs[1].getPrivate());
        assertEquals(aes, ours.unwrap(wrapped, "AES", Cipher.SECRET_KEY));
        assertNull(ours.getParameters());
    }

    private static byte[] bytes(int n) {
        byte[] b = new byte[n];
        RANDOM.nextBytes(b);
        return b;
    }
}
