package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.security.InvalidParameterException;
import java.security.MessageDigest;
import java.security.Provider;
import java.security.SecureRandom;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Random;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.stream.Stream;

import javax.crypto.Cipher;
import javax.crypto.KeyGenerator;
import javax.crypto.Mac;
import javax.crypto.SecretKey;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.SecretKeySpec;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * The provider's digests and MACs equal to the JDK's over a sweep of lengths (empty to 1 MiB, on
 * both sides of the length kept for a one-call digest), in one call, streamed in parts, after a
 * reset half-way and through copies; its random generator and secret key generators.
 */
class DigestMacRandomTest {
    /** Around the digests' blocks, around the one-call limit (16 KiB), and 1 MiB. */
    private static final int[] LENGTHS = {0, 1, 55, 56, 64, 111, 128, 1000, 16 * 1024, 16 * 1024 + 1,
        70_000, 1 << 20};
    private static final int[] PARTS = {1, 63, 64, 1000, 7, 16 * 1024, 3};
    private static final Random RANDOM = new Random(41);

    private static Provider provider;

    @BeforeAll
    static void setUp() {
        provider = ProviderSetup.provider();
    }

    @ParameterizedTest
    @ValueSource(strings = {"MD5", "SHA-1", "SHA-224", "SHA-256", "SHA-384", "SHA-512"})
    void digestsEqualTheJdks(String algorithm) throws Exception {
        MessageDigest ours = MessageDigest.getInstance(algorithm, provider);
        MessageDigest jdk = MessageDigest.getInstance(algorithm, "SUN");
        assertEquals(jdk.getDigestLength(), ours.getDigestLength());
        for (int len : LENGTHS) {
            byte[] data = bytes(len);
            byte[] expected = jdk.digest(data);
            String what = algorithm + ", " + len + " bytes";
            assertArrayEquals(expected, ours.digest(data), what + " in one call");
            feed(ours, data);
            assertArrayEquals(expected, ours.digest(), what + " in parts");
            // Into the caller's array at an offset, bytes around it untouched.
            feed(ours, data);
            byte[] out = new byte[expected.length + 5];
            assertEquals(expected.length, ours.digest(out, 2, expected.length + 3));
            assertArrayEquals(expected, Arrays.copyOfRange(out, 2, 2 + expected.length), what + " filled");
            assertEquals(0, out[0] | out[1] | out[out.length - 1] | out[out.length - 2] | out[out.length - 3]);
            // A reset half-way drops what was fed, kept here or running on the token.
            ours.update(data);
            ours.reset();
            ours.update(data);
            assertArrayEquals(expected, ours.digest(), what + " after a reset");
        }
        // Single bytes and the aliases.
        for (int i = 0; i < 300; i++) {
            ours.update((byte) i);
            jdk.update((byte) i);
        }
        assertArrayEquals(jdk.digest(), ours.digest(), "byte by byte");
    }

    /** A digest still kept here can be copied; each copy goes on by itself. */
    @Test
    void digestCopies() throws Exception {
        MessageDigest ours = MessageDigest.getInstance("SHA-256", provider);
        MessageDigest jdk = MessageDigest.getInstance("SHA-256", "SUN");
        byte[] head = bytes(100);
        byte[] tail = bytes(50);
        ours.update(head);
        MessageDigest copy = (MessageDigest) ours.clone();
        ours.update(tail);
        assertArrayEquals(jdk.digest(head), copy.digest(), "the copy has the head only");
        jdk.update(head);
        assertArrayEquals(jdk.digest(tail), ours.digest(), "the original has both");
        ours.update(bytes(100_000));
        assertThrows(CloneNotSupportedException.class, ours::clone, "a digest running on the token");
        for (String alias : new String[] {"SHA1", "SHA256", "2.16.840.1.101.3.4.2.3"}) {
            assertEquals(provider, MessageDigest.getInstance(alias, provider).getProvider(), alias);
        }
    }

    static Stream<Arguments> macs() {
        return Stream.of(Arguments.of("HmacSHA256", 32), Arguments.of("HmacSHA256", 100),
                Arguments.of("HmacSHA384", 48), Arguments.of("HmacSHA384", 128),
                Arguments.of("HmacSHA512", 64), Arguments.of("HmacSHA512", 200));
    }

    @ParameterizedTest(name = "{0} with a key of {1} bytes")
    @MethodSource("macs")
    void macsEqualTheJdks(String algorithm, int keyBytes) throws Exception {
        SecretKeySpec key = new SecretKeySpec(bytes(keyBytes), algorithm);
        Mac ours = Mac.getInstance(algorithm, provider);
        Mac jdk = Mac.getInstance(algorithm, "SunJCE");
        ours.init(key);
        jdk.init(key);
        assertEquals(jdk.getMacLength(), ours.getMacLength());
        for (int len : LENGTHS) {
            byte[] data = bytes(len);
            byte[] expected = jdk.doFinal(data);
            String what = algorithm + ", " + len + " bytes";
            assertArrayEquals(expected, ours.doFinal(data), what + " in one call");
            int at = 0;
            for (int i = 0; at < len; i++) {
                int n = Math.min(PARTS[i % PARTS.length], len - at);
                ours.update(data, at, n);
                at += n;
            }
            assertArrayEquals(expected, ours.doFinal(), what + " in parts");
            ours.update(data);
            ours.reset();
            assertArrayEquals(expected, ours.doFinal(data), what + " after a reset");
        }
        // Another key of the same value (imported anew) and another value.
        ours.init(new SecretKeySpec(key.getEncoded(), algorithm));
        assertArrayEquals(jdk.doFinal(new byte[3]), ours.doFinal(new byte[3]), "same value, new key object");
        byte[] other = key.getEncoded();
        other[0] ^= 1;
        ours.init(new SecretKeySpec(other, algorithm));
        assertFalse(Arrays.equals(jdk.doFinal(new byte[3]), ours.doFinal(new byte[3])), "changed key");
    }

    /** An HMAC key generated on the token: unreadable, and its MACs are stable and keyed. */
    @Test
    void tokenHmacKeys() throws Exception {
        KeyGenerator generator = KeyGenerator.getInstance("HmacSHA256", provider);
        SecretKey first = generator.generateKey();
        generator.init(512);
        SecretKey second = generator.generateKey();
        assertNull(first.getEncoded());
        Mac mac = Mac.getInstance("HmacSHA256", provider);
        byte[] data = bytes(5000);
        mac.init(first);
        byte[] a = mac.doFinal(data);
        mac.update(data, 0, 2500);
        mac.update(data, 2500, 2500);
        assertArrayEquals(a, mac.doFinal(), "the same MAC in parts");
        mac.init(second);
        assertFalse(Arrays.equals(a, mac.doFinal(data)), "another key, another MAC");
        data[4999] ^= 1;
        mac.init(first);
        assertFalse(Arrays.equals(a, mac.doFinal(data)), "other data, another MAC");
    }

    /** Sizes each key generator refuses, with the sizes it takes. */
    @Test
    void keyGeneratorSizes() throws Exception {
        Object[][] rows = {{"AES", 64}, {"AES", 100}, {"AES", 512}, {"DESede", 128}, {"DESede", 56},
            {"HmacSHA256", 0}, {"HmacSHA256", 257}};
        for (Object[] row : rows) {
            KeyGenerator g = KeyGenerator.getInstance((String) row[0], provider);
            assertThrows(InvalidParameterException.class, () -> g.init((Integer) row[1]), row[0] + " " + row[1]);
        }
        // Each size taken gives a key that works, judged by a round trip of its cipher.
        for (int bits : new int[] {128, 192, 256}) {
            KeyGenerator g = KeyGenerator.getInstance("AES", provider);
            g.init(bits);
            SecretKey key = g.generateKey();
            Cipher c = Cipher.getInstance("AES/ECB/NoPadding", provider);
            c.init(Cipher.ENCRYPT_MODE, key);
            byte[] sealed = c.doFinal(new byte[32]);
            assertArrayEquals(Arrays.copyOf(sealed, 16), Arrays.copyOfRange(sealed, 16, 32),
                    "ECB gives equal blocks for equal blocks");
            c.init(Cipher.DECRYPT_MODE, key);
            assertArrayEquals(new byte[32], c.doFinal(sealed), bits + "-bit key");
        }
        KeyGenerator des = KeyGenerator.getInstance("TripleDES", provider);
        SecretKey key = des.generateKey();
        assertEquals("DESede", key.getAlgorithm());
        Cipher c = Cipher.getInstance("TripleDES/CBC/PKCS5Padding", provider);
        c.init(Cipher.ENCRYPT_MODE, key, new IvParameterSpec(new byte[8]));
        byte[] sealed = c.doFinal(new byte[10]);
        c.init(Cipher.DECRYPT_MODE, key, new IvParameterSpec(new byte[8]));
        assertArrayEquals(new byte[10], c.doFinal(sealed));
    }

    // Random

    @Test
    void randomGivesTheLengthAsked() throws Exception {
        SecureRandom random = SecureRandom.getInstance("PKCS11", provider);
        Set<String> seen = new java.util.HashSet<>();
        for (int len : new int[] {1, 2, 16, 32, 33, 1000, 70_000}) {
            for (int round = 0; round < 3; round++) {
                byte[] out = new byte[len + 2];
                out[0] = 0x5A;
                out[len + 1] = 0x5A;
                byte[] window = new byte[len];
                random.nextBytes(window);
                System.arraycopy(window, 0, out, 1, len);
                assertTrue(seen.add(HexFormat.of().formatHex(window)) || len < 3,
                        "a repeated value of " + len + " bytes");
                if (len >= 16) {
                    long distinct = HexFormat.of().formatHex(window).chars().distinct().count();
                    assertTrue(distinct > 8, "random bytes of " + len + " look constant");
                }
            }
        }
        random.setSeed(new byte[] {1, 2, 3});
        random.setSeed(42L);
        byte[] after = new byte[32];
        random.nextBytes(after);
        assertTrue(seen.add(HexFormat.of().formatHex(after)), "seeding gives no fixed output");
        assertEquals(20, random.generateSeed(20).length);
        random.nextBytes(new byte[0]);
    }

    /** Several threads on one SecureRandom at once: all served, no value twice. */
    @Test
    void randomIsSafeForSeveralThreads() throws Exception {
        SecureRandom random = SecureRandom.getInstance("PKCS11", provider);
        assertEquals("true", provider.getService("SecureRandom", "PKCS11").getAttribute("ThreadSafe"));
        Set<String> values = ConcurrentHashMap.newKeySet();
        ConcurrentLinkedQueue<Throwable> failures = new ConcurrentLinkedQueue<>();
        Thread[] threads = new Thread[8];
        for (int t = 0; t < threads.length; t++) {
            threads[t] = new Thread(() -> {
                try {
                    for (int i = 0; i < 500; i++) {
                        byte[] b = new byte[32];
                        random.nextBytes(b);
                        if (!values.add(HexFormat.of().formatHex(b))) {
                            failures.add(new AssertionError("a value came twice"));
                        }
                    }
                } catch (Throwable e) {
                    failures.add(e);
                }
            });
            threads[t].start();
        }
        for (Thread t : threads) {
            t.join();
        }
        assertEquals(List.of(), List.copyOf(failures));
        assertEquals(8 * 500, values.size());
    }

    private static void feed(MessageDigest d, byte[] data) {
        int at = 0;
        for (int i = 0; at < data.length; i++) {
            int n = Math.min(PARTS[i % PARTS.length], data.length - at);
            d.update(data, at, n);
            at += n;
        }
    }

    private static byte[] bytes(int n) {
        byte[] b = new byte[n];
        RANDOM.nextBytes(b);
        return b;
    }
}
