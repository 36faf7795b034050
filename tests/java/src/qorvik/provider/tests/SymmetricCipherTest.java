package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.Provider;
import java.security.spec.AlgorithmParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Random;
import java.util.stream.Stream;

import javax.crypto.AEADBadTagException;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.KeyGenerator;
import javax.crypto.SecretKey;
import javax.crypto.ShortBufferException;
import javax.crypto.spec.GCMParameterSpec;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.SecretKeySpec;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

import qorvik.CryptokiException;

/**
 * The provider's AES and DESede ciphers judged by the JDK's own (SunJCE): for every transformation
 * and key size, a sweep of message lengths through one engine (so each message also checks the
 * reset after doFinal), in one call and streamed in uneven parts, each outcome (the bytes, or the
 * exception's class) equal to the JDK's for the same key and IV, and decrypted back.
 */
class SymmetricCipherTest {
    /** Around blocks, around the one-call limit, and long enough to stream. */
    private static final int[] LENGTHS = {0, 1, 7, 8, 15, 16, 17, 31, 32, 33, 100, 4096, 16 * 1024 - 1,
        16 * 1024 + 3, 70_000};
    /** Sizes of the parts of a streamed message, used in turn. */
    private static final int[] PARTS = {1, 5, 16, 33, 4096, 2, 15, 8192};

    private static Provider provider;
    private static final Random RANDOM = new Random(14);

    @BeforeAll
    static void setUp() {
        provider = ProviderSetup.provider();
    }

    static Stream<Arguments> transformations() {
        List<Arguments> rows = new ArrayList<>();
        for (String t : new String[] {"AES/ECB/NoPadding", "AES/CBC/NoPadding", "AES/CBC/PKCS5Padding",
            "AES/CTR/NoPadding"}) {
            for (int bytes : new int[] {16, 24, 32}) {
                rows.add(Arguments.of(t, bytes));
            }
        }
        rows.add(Arguments.of("DESede/CBC/NoPadding", 24));
        rows.add(Arguments.of("DESede/CBC/PKCS5Padding", 24));
        return rows.stream();
    }

    @ParameterizedTest(name = "{0} with a key of {1} bytes")
    @MethodSource("transformations")
    void equalsTheJdkOverLengths(String transformation, int keyBytes) throws Exception {
        SecretKeySpec key = new SecretKeySpec(bytes(keyBytes), transformation.split("/")[0]);
        AlgorithmParameterSpec iv = transformation.contains("/ECB/") ? null
                : new IvParameterSpec(bytes(transformation.startsWith("AES") ? 16 : 8));
        Cipher ours = Cipher.getInstance(transformation, provider);
        Cipher oursStreamed = Cipher.getInstance(transformation, provider);
        Cipher jdk = Cipher.getInstance(transformation, "SunJCE");
        for (int mode : new int[] {Cipher.ENCRYPT_MODE, Cipher.DECRYPT_MODE}) {
            ours.init(mode, key, iv);
            oursStreamed.init(mode, key, iv);
            jdk.init(mode, key, iv);
            for (int len : LENGTHS) {
                byte[] input = bytes(len);
                String expected = outcome(() -> jdk.doFinal(input));
                String what = transformation + " mode " + mode + ", " + len + " bytes";
                assertEquals(expected, outcome(() -> ours.doFinal(input)), what + " in one call");
                assertEquals(expected, outcome(() -> streamed(oursStreamed, input)), what + " streamed");
                assertEquals(expected, outcome(() -> {
                    byte[] out = new byte[ours.getOutputSize(input.length) + 3];
                    int n = ours.doFinal(input, 0, input.length, out, 3);
                    return Arrays.copyOfRange(out, 3, 3 + n);
                }), what + " into an array at an offset");
            }
        }
        // Everything the JDK encrypts decrypts back through the provider, in one call and streamed.
        jdk.init(Cipher.ENCRYPT_MODE, key, iv);
        ours.init(Cipher.DECRYPT_MODE, key, iv);
        for (int len : LENGTHS) {
            if (transformation.contains("NoPadding") && !transformation.contains("CTR")
                    && len % jdk.getBlockSize() != 0) {
                continue;
            }
            byte[] plain = bytes(len);
            byte[] cipherText = jdk.doFinal(plain);
            assertArrayEquals(plain, ours.doFinal(cipherText), transformation + " back, " + len);
            assertArrayEquals(plain, streamed(ours, cipherText), transformation + " back streamed, " + len);
        }
    }

    /** Keys generated on the token: never readable, and they encrypt and decrypt back. */
    @ParameterizedTest(name = "{0} with a token key of {1} bits")
    @MethodSource("tokenKeyCases")
    void tokenKeysEncryptAndDecryptBack(String transformation, int bits) throws Exception {
        KeyGenerator generator = KeyGenerator.getInstance(transformation.split("/")[0], provider);
        generator.init(bits);
        SecretKey key = generator.generateKey();
        SecretKey other = generator.generateKey();
        assertNull(key.getEncoded(), "a generated key's value never leaves the token");
        assertEquals(transformation.split("/")[0], key.getAlgorithm());
        Cipher cipher = Cipher.getInstance(transformation, provider);
        for (int len : new int[] {16, 64, 4096, 70_000}) {
            byte[] plain = bytes(len);
            AlgorithmParameterSpec params = params(transformation);
            cipher.init(Cipher.ENCRYPT_MODE, key, params);
            byte[] sealed = cipher.doFinal(plain);
            cipher.init(Cipher.ENCRYPT_MODE, other, params);
            byte[] sealedByOther = cipher.doFinal(plain);
            assertFalse(Arrays.equals(sealed, sealedByOther), "two generated keys differ");
            assertFalse(Arrays.equals(Arrays.copyOf(sealed, 16), Arrays.copyOf(plain, 16)));
            cipher.init(Cipher.DECRYPT_MODE, key, params);
            assertArrayEquals(plain, cipher.doFinal(sealed), transformation + ", " + len + " bytes");
            cipher.init(Cipher.DECRYPT_MODE, key, params);
            assertArrayEquals(plain, streamed(cipher, sealed), transformation + " streamed, " + len);
        }
    }

    static Stream<Arguments> tokenKeyCases() {
        return Stream.of(Arguments.of("AES/CBC/PKCS5Padding", 128), Arguments.of("AES/CBC/NoPadding", 192),
                Arguments.of("AES/ECB/NoPadding", 256), Arguments.of("AES/CTR/NoPadding", 256),
                Arguments.of("AES/GCM/NoPadding", 128), Arguments.of("AES/GCM/NoPadding", 256),
                Arguments.of("DESede/CBC/PKCS5Padding", 168), Arguments.of("DESede/CBC/NoPadding", 112));
    }

    // GCM

    @Test
    void gcmRoundTripEqualsTheJdk() throws Exception {
        Cipher ours = Cipher.getInstance("AES/GCM/NoPadding", provider);
        Cipher jdk = Cipher.getInstance("AES/GCM/NoPadding", "SunJCE");
        int cases = 0;
        for (int keyBytes : new int[] {16, 24, 32}) {
            SecretKeySpec key = new SecretKeySpec(bytes(keyBytes), "AES");
            for (int tagBits : new int[] {128, 120, 112, 104, 96}) {
                for (int ivBytes : new int[] {12, 16, 60}) {
                    for (int aadBytes : new int[] {0, 1, 13, 100}) {
                        for (int len : new int[] {0, 1, 16, 17, 1000, 70_000}) {
                            if (len > 1000 && (ivBytes != 12 || aadBytes != 13)) {
                                continue;
                            }
                            GCMParameterSpec parameters = new GCMParameterSpec(tagBits, bytes(ivBytes));
                            byte[] aad = bytes(aadBytes);
                            byte[] plain = bytes(len);
                            String what = keyBytes + "-byte key, tag " + tagBits + ", IV " + ivBytes
                                    + ", AAD " + aadBytes + ", " + len + " bytes";
                            jdk.init(Cipher.ENCRYPT_MODE, key, parameters);
                            jdk.updateAAD(aad);
                            byte[] expected = jdk.doFinal(plain);
                            ours.init(Cipher.ENCRYPT_MODE, key, parameters);
                            ours.updateAAD(aad);
                            assertArrayEquals(expected, ours.doFinal(plain), what);
                            // Decrypt the JDK's output, the additional data in two pieces and the
                            // message in parts: nothing comes out before the tag is checked.
                            ours.init(Cipher.DECRYPT_MODE, key, parameters);
                            ours.updateAAD(aad, 0, aadBytes / 2);
                            ours.updateAAD(aad, aadBytes / 2, aadBytes - aadBytes / 2);
                            byte[] early = ours.update(expected, 0, expected.length / 2);
                            assertTrue(early == null || early.length == 0, what + ": output before the tag");
                            byte[] rest = ours.doFinal(expected, expected.length / 2,
                                    expected.length - expected.length / 2);
                            assertArrayEquals(plain, rest, what + " decrypted");
                            cases++;
                        }
                    }
                }
            }
        }
        assertEquals(3 * 5 * 3 * 4 * 5 + 3 * 5, cases);
    }

    /** A changed tag, ciphertext byte or additional data is refused, with the token's failure as cause. */
    @Test
    void gcmRefusesTamperedInput() throws Exception {
        SecretKeySpec key = new SecretKeySpec(bytes(32), "AES");
        GCMParameterSpec parameters = new GCMParameterSpec(128, bytes(12));
        byte[] aad = bytes(20);
        byte[] plain = bytes(300);
        Cipher jdk = Cipher.getInstance("AES/GCM/NoPadding", "SunJCE");
        jdk.init(Cipher.ENCRYPT_MODE, key, parameters);
        jdk.updateAAD(aad);
        byte[] sealed = jdk.doFinal(plain);
        Cipher ours = Cipher.getInstance("AES/GCM/NoPadding", provider);
        int[] flips = {sealed.length - 1, sealed.length - 16, 0, 150};
        for (int at : flips) {
            byte[] bad = sealed.clone();
            bad[at] ^= 1;
            ours.init(Cipher.DECRYPT_MODE, key, parameters);
            ours.updateAAD(aad);
            AEADBadTagException e = assertThrows(AEADBadTagException.class, () -> ours.doFinal(bad),
                    "byte " + at + " changed");
            assertCryptokiCause(e, "J_Decrypt");
        }
        byte[] badAad = aad.clone();
        badAad[3] ^= 0x40;
        ours.init(Cipher.DECRYPT_MODE, key, parameters);
        ours.updateAAD(badAad);
        assertCryptokiCause(assertThrows(AEADBadTagException.class, () -> ours.doFinal(sealed)), "J_Decrypt");
        // Shorter than a tag: refused before the token is asked, as the JDK does.
        ours.init(Cipher.DECRYPT_MODE, key, parameters);
        assertThrows(AEADBadTagException.class, () -> ours.doFinal(new byte[15]));
        // The engine still works afterwards.
        ours.init(Cipher.DECRYPT_MODE, key, parameters);
        ours.updateAAD(aad);
        assertArrayEquals(plain, ours.doFinal(sealed));
    }

    /** The JDK's rules for GCM's IV: a new one for each encryption, one generated when none is given. */
    @Test
    void gcmIvRules() throws Exception {
        SecretKeySpec key = new SecretKeySpec(bytes(16), "AES");
        GCMParameterSpec parameters = new GCMParameterSpec(128, bytes(12));
        Cipher ours = Cipher.getInstance("AES/GCM/NoPadding", provider);
        ours.init(Cipher.ENCRYPT_MODE, key, parameters);
        ours.doFinal(bytes(10));
        assertThrows(IllegalStateException.class, () -> ours.doFinal(bytes(10)), "same IV again");
        assertThrows(InvalidAlgorithmParameterException.class,
                () -> ours.init(Cipher.ENCRYPT_MODE, key, parameters), "same key and IV again");
        ours.init(Cipher.ENCRYPT_MODE, key);
        byte[] iv = ours.getIV();
        assertEquals(12, iv.length);
        byte[] plain = bytes(50);
        byte[] sealed = ours.doFinal(plain);
        Cipher jdk = Cipher.getInstance("AES/GCM/NoPadding", "SunJCE");
        jdk.init(Cipher.DECRYPT_MODE, key, ours.getParameters());
        assertArrayEquals(plain, jdk.doFinal(sealed), "the JDK decrypts with the generated parameters");
        assertThrows(InvalidKeyException.class, () -> ours.init(Cipher.DECRYPT_MODE, key),
                "decryption needs the parameters");
        assertThrows(InvalidAlgorithmParameterException.class,
                () -> ours.init(Cipher.ENCRYPT_MODE, key, new GCMParameterSpec(64, bytes(12))));
        ours.init(Cipher.DECRYPT_MODE, key, parameters);
        ours.update(bytes(5));
        assertThrows(IllegalStateException.class, () -> ours.updateAAD(bytes(2)),
                "additional data after the message");
    }

    // Failures and edge cases

    /** A PKCS#5 block that does not unpad: BadPaddingException with the token's failure as cause. */
    @Test
    void badPaddingCarriesTheTokenFailure() throws Exception {
        for (String algorithm : new String[] {"AES", "DESede"}) {
            int block = algorithm.equals("AES") ? 16 : 8;
            SecretKeySpec key = new SecretKeySpec(bytes(algorithm.equals("AES") ? 16 : 24), algorithm);
            IvParameterSpec iv = new IvParameterSpec(bytes(block));
            byte[] plain = bytes(3 * block);
            plain[plain.length - 1] = 0; // a pad byte of zero never unpads
            Cipher raw = Cipher.getInstance(algorithm + "/CBC/NoPadding", "SunJCE");
            raw.init(Cipher.ENCRYPT_MODE, key, iv);
            byte[] sealed = raw.doFinal(plain);
            Cipher ours = Cipher.getInstance(algorithm + "/CBC/PKCS5Padding", provider);
            ours.init(Cipher.DECRYPT_MODE, key, iv);
            assertCryptokiCause(assertThrows(BadPaddingException.class, () -> ours.doFinal(sealed)),
                    "J_Decrypt");
            assertCryptokiCause(assertThrows(BadPaddingException.class, () -> streamed(ours, sealed)),
                    "J_DecryptFinal");
        }
    }

    /** Keys a cipher cannot take are refused at init, before the token is asked. */
    @Test
    void wrongKeysAreRefusedAtInit() throws Exception {
        Object[][] rows = {
            {"AES/CBC/PKCS5Padding", new SecretKeySpec(bytes(20), "AES")},
            {"AES/CBC/PKCS5Padding", new SecretKeySpec(bytes(24), "DESede")},
            {"AES/ECB/NoPadding", new SecretKeySpec(bytes(32), "HmacSHA256")},
            {"DESede/CBC/NoPadding", new SecretKeySpec(bytes(16), "DESede")},
            {"DESede/CBC/NoPadding", new SecretKeySpec(bytes(16), "AES")},
            {"AES/GCM/NoPadding", KeyGenerator.getInstance("DESede", provider).generateKey()},
            {"DESede/CBC/PKCS5Padding", KeyGenerator.getInstance("AES", provider).generateKey()},
        };
        for (Object[] row : rows) {
            Cipher c = Cipher.getInstance((String) row[0], provider);
            assertThrows(InvalidKeyException.class, () -> c.init(Cipher.ENCRYPT_MODE, (Key) row[1]),
                    row[0] + " with " + row[1]);
        }
        Cipher cbc = Cipher.getInstance("AES/CBC/NoPadding", provider);
        SecretKeySpec key = new SecretKeySpec(bytes(16), "AES");
        assertThrows(InvalidAlgorithmParameterException.class,
                () -> cbc.init(Cipher.ENCRYPT_MODE, key, new IvParameterSpec(bytes(8))), "short IV");
        assertThrows(InvalidKeyException.class, () -> cbc.init(Cipher.DECRYPT_MODE, key), "no IV");
        Cipher ecb = Cipher.getInstance("AES/ECB/NoPadding", provider);
        assertThrows(InvalidAlgorithmParameterException.class,
                () -> ecb.init(Cipher.ENCRYPT_MODE, key, new IvParameterSpec(bytes(16))), "IV for ECB");
    }

    /** A short output buffer: ShortBufferException, and the same call with room then succeeds. */
    @Test
    void shortOutputBufferLeavesTheMessageToRetry() throws Exception {
        for (String t : new String[] {"AES/CBC/PKCS5Padding", "AES/GCM/NoPadding", "AES/CTR/NoPadding"}) {
            SecretKeySpec key = new SecretKeySpec(bytes(16), "AES");
            AlgorithmParameterSpec params = params(t);
            Cipher jdk = Cipher.getInstance(t, "SunJCE");
            jdk.init(Cipher.ENCRYPT_MODE, key, params);
            byte[] plain = bytes(40);
            byte[] sealed = jdk.doFinal(plain);
            Cipher ours = Cipher.getInstance(t, provider);
            ours.init(Cipher.DECRYPT_MODE, key, params);
            byte[] small = new byte[10];
            assertThrows(ShortBufferException.class, () -> ours.doFinal(sealed, 0, sealed.length, small, 0), t);
            byte[] room = new byte[3 + plain.length + 16];
            int n = ours.doFinal(sealed, 0, sealed.length, room, 3);
            assertArrayEquals(plain, Arrays.copyOfRange(room, 3, 3 + n), t + " after the retry");
            assertEquals(0, room[0] | room[1] | room[2], t + ": bytes before the offset untouched");
        }
    }

    /** Parameters come back in the JDK's form, and a cipher made from them decrypts. */
    @Test
    void parametersAndIvsAreTheJdks() throws Exception {
        for (String t : new String[] {"AES/CBC/PKCS5Padding", "AES/CTR/NoPadding", "DESede/CBC/PKCS5Padding",
            "AES/GCM/NoPadding"}) {
            Key key = new SecretKeySpec(bytes(t.startsWith("AES") ? 32 : 24), t.split("/")[0]);
            Cipher ours = Cipher.getInstance(t, provider);
            ours.init(Cipher.ENCRYPT_MODE, key);
            assertNotNull(ours.getIV(), t + ": an IV is made when none is given");
            byte[] plain = bytes(77);
            byte[] sealed = ours.doFinal(plain);
            Cipher jdk = Cipher.getInstance(t, "SunJCE");
            jdk.init(Cipher.DECRYPT_MODE, key, ours.getParameters());
            assertArrayEquals(plain, jdk.doFinal(sealed), t);
        }
        assertNull(initialised("AES/ECB/NoPadding").getParameters());
    }

    // Helpers

    @FunctionalInterface
    interface Work {
        byte[] run() throws Exception;
    }

    /** The bytes a piece of work gives, or the class of what it threw. */
    static String outcome(Work work) {
        try {
            return HexFormat.of().formatHex(work.run());
        } catch (Exception e) {
            return e.getClass().getSimpleName();
        }
    }

    /** The message through update in uneven parts, then doFinal with nothing. */
    static byte[] streamed(Cipher c, byte[] input) throws Exception {
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        int at = 0;
        for (int i = 0; at < input.length; i++) {
            int n = Math.min(PARTS[i % PARTS.length], input.length - at);
            byte[] part = c.update(input, at, n);
            if (part != null) {
                out.write(part);
            }
            at += n;
        }
        out.write(c.doFinal());
        return out.toByteArray();
    }

    static void assertCryptokiCause(Throwable e, String function) {
        Throwable c = e.getCause();
        assertTrue(c instanceof CryptokiException, "cause of " + e + ": " + c);
        assertEquals(function, ((CryptokiException) c).getFunctionName(), e.toString());
        assertTrue(e.getMessage().startsWith(function + " failed: 0x"), e.getMessage());
    }

    private static AlgorithmParameterSpec params(String transformation) {
        if (transformation.contains("/ECB/")) {
            return null;
        }
        if (transformation.contains("/GCM/")) {
            return new GCMParameterSpec(128, bytes(12));
        }
        return new IvParameterSpec(bytes(transformation.startsWith("AES") ? 16 : 8));
    }

    private static Cipher initialised(String t) throws Exception {
        Cipher c = Cipher.getInstance(t, provider);
        c.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(bytes(16), "AES"));
        return c;
    }

    static byte[] bytes(int n) {
        byte[] b = new byte[n];
        RANDOM.nextBytes(b);
        return b;
    }
}
