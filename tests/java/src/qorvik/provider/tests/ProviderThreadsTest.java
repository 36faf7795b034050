package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.MessageDigest;
import java.security.Provider;
import java.security.SecureRandom;
import java.security.Signature;
import java.security.spec.ECGenParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLongArray;

import javax.crypto.Cipher;
import javax.crypto.Mac;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.SecretKeySpec;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Many application threads on one provider at once: eight threads each run every kind of work in
 * turn (one-shot and streamed digests, random bytes, AES-CBC, HMAC, RSA and ECDSA signing) for
 * about five seconds, with engines kept across operations, engines dropped half-way through a
 * streamed operation, and a streamed digest left open while the same thread does other work.
 * Every result is judged by the JDK's own providers; any failure or wrong result fails the test.
 */
class ProviderThreadsTest {
    private static final int THREADS = 8;
    private static final long RUN_NANOS = TimeUnit.SECONDS.toNanos(5);
    /** Every thread completes at least this many cycles over all the tasks, however slow the machine. */
    private static final int MIN_CYCLES = 3;
    /** Lengths around block and part boundaries, up to inputs a provider streams in parts. */
    private static final int[] LENGTHS = {0, 1, 15, 16, 55, 64, 1000, 4096, 16 * 1024 + 1, 70_000};

    private static Provider provider;
    private static KeyPair rsa;
    private static KeyPair ec;

    @BeforeAll
    static void keys() throws Exception {
        provider = ProviderSetup.provider();
        KeyPairGenerator rsaGenerator = KeyPairGenerator.getInstance("RSA", provider);
        rsaGenerator.initialize(2048);
        rsa = rsaGenerator.generateKeyPair();
        KeyPairGenerator ecGenerator = KeyPairGenerator.getInstance("EC", provider);
        ecGenerator.initialize(new ECGenParameterSpec("secp256r1"));
        ec = ecGenerator.generateKeyPair();
    }

    /** One thread's engines for one kind of work; {@link #step} does one checked operation. */
    abstract static class Task {
        final Random random;
        final int thread;

        Task(int thread, long salt) {
            this.thread = thread;
            this.random = new Random(thread * 1_000_003L + salt);
        }

        abstract void step(int iteration) throws Exception;

        byte[] input(int iteration) {
            byte[] data = new byte[LENGTHS[(iteration + thread) % LENGTHS.length]];
            random.nextBytes(data);
            return data;
        }
    }

    @FunctionalInterface
    interface TaskFactory {
        Task make(int thread) throws Exception;
    }

    /** Every random output of the run: none may come twice. */
    private static final Set<ByteBuffer> RANDOMS = ConcurrentHashMap.newKeySet();

    /** The kinds of work, by name; each thread gets its own instance of every one. */
    private static final Map<String, TaskFactory> TASKS = Map.of(
            "SHA-256 one-shot", t -> new Task(t, 1) {
                final MessageDigest digest = MessageDigest.getInstance("SHA-256", provider);

                @Override
                void step(int i) throws Exception {
                    byte[] data = input(i);
                    assertHexEquals(MessageDigest.getInstance("SHA-256", "SUN").digest(data), digest.digest(data),
                            "SHA-256 of " + data.length + " bytes");
                }
            },
            "SHA-512 streamed", t -> new Task(t, 2) {
                final MessageDigest digest = MessageDigest.getInstance("SHA-512", provider);
                final SecureRandom between = SecureRandom.getInstance("PKCS11", provider);

                @Override
                void step(int i) throws Exception {
                    byte[] data = input(i + 3);
                    MessageDigest engine = digest;
                    int half = data.length / 2;
                    engine.update(data, 0, half);
                    // Other work of this thread between the parts of a streamed operation.
                    between.nextBytes(new byte[8]);
                    if (i % 4 == 3) {
                        // Dropped half-way: its session must not come back to the pool carrying the operation.
                        engine = MessageDigest.getInstance("SHA-512", provider);
                        engine.update(data, 0, half);
                    }
                    for (int off = half; off < data.length; off += 5000) {
                        engine.update(data, off, Math.min(5000, data.length - off));
                    }
                    assertHexEquals(MessageDigest.getInstance("SHA-512", "SUN").digest(data), engine.digest(),
                            "streamed SHA-512 of " + data.length + " bytes");
                    if (engine != digest) {
                        digest.reset();
                    }
                }
            },
            "random 32 B", t -> new Task(t, 3) {
                final SecureRandom random = SecureRandom.getInstance("PKCS11", provider);

                @Override
                void step(int i) {
                    byte[] bytes = new byte[32];
                    random.nextBytes(bytes);
                    assertTrue(RANDOMS.add(ByteBuffer.wrap(bytes)),
                            () -> "random bytes given twice: " + HexFormat.of().formatHex(bytes));
                }
            },
            "AES-CBC/PKCS5Padding", t -> new Task(t, 4) {
                final byte[] keyValue = bytes(random, 16 + 8 * (t % 3));
                final SecretKeySpec key = new SecretKeySpec(keyValue, "AES");
                final Cipher encrypt = Cipher.getInstance("AES/CBC/PKCS5Padding", provider);
                final Cipher decrypt = Cipher.getInstance("AES/CBC/PKCS5Padding", provider);

                @Override
                void step(int i) throws Exception {
                    byte[] data = input(i);
                    IvParameterSpec iv = new IvParameterSpec(bytes(random, 16));
                    Cipher jdk = Cipher.getInstance("AES/CBC/PKCS5Padding", "SunJCE");
                    jdk.init(Cipher.ENCRYPT_MODE, key, iv);
                    byte[] expected = jdk.doFinal(data);
                    encrypt.init(Cipher.ENCRYPT_MODE, key, iv);
                    byte[] made;
                    if (i % 2 == 0) {
                        made = encrypt.doFinal(data);
                    } else {
                        byte[] head = encrypt.update(data, 0, data.length / 3);
                        byte[] tail = encrypt.doFinal(data, data.length / 3, data.length - data.length / 3);
                        made = concat(head, tail);
                    }
                    assertHexEquals(expected, made, "AES-" + keyValue.length * 8 + "-CBC of " + data.length + " bytes");
                    decrypt.init(Cipher.DECRYPT_MODE, key, iv);
                    assertHexEquals(data, decrypt.doFinal(made), "AES-CBC decrypted back");
                }
            },
            "HmacSHA256", t -> new Task(t, 5) {
                final SecretKeySpec key = new SecretKeySpec(bytes(random, 32), "HmacSHA256");
                final Mac mac = Mac.getInstance("HmacSHA256", provider);

                @Override
                void step(int i) throws Exception {
                    byte[] data = input(i);
                    Mac jdk = Mac.getInstance("HmacSHA256", "SunJCE");
                    jdk.init(key);
                    mac.init(key);
                    assertHexEquals(jdk.doFinal(data), mac.doFinal(data), "HmacSHA256 of " + data.length + " bytes");
                }
            },
            "SHA256withRSA", t -> signing(t, 6, "SHA256withRSA", rsa, "SunRsaSign"),
            "SHA256withECDSA", t -> signing(t, 7, "SHA256withECDSA", ec, "SunEC"));

    private static Task signing(int thread, long salt, String algorithm, KeyPair keys, String judge)
            throws Exception {
        Signature signer = Signature.getInstance(algorithm, provider);
        signer.initSign(keys.getPrivate());
        return new Task(thread, salt) {
            @Override
            void step(int i) throws Exception {
                byte[] data = input(i);
                signer.update(data);
                byte[] signature = signer.sign();
                Signature verifier = Signature.getInstance(algorithm, judge);
                verifier.initVerify(keys.getPublic());
                verifier.update(data);
                assertTrue(verifier.verify(signature),
                        () -> algorithm + " of " + data.length + " bytes refused by " + judge);
            }
        };
    }

    /**
     * Eight threads, every task in turn, for about five seconds and at least {@link #MIN_CYCLES}
     * cycles each: no failure, every result equal to the JDK's or accepted by it, and the provider
     * works afterwards.
     */
    @Test
    void eightThreadsOfMixedWorkAreEachRightAndNeverFail() throws Exception {
        List<String> names = new ArrayList<>(TASKS.keySet());
        names.sort(null);
        ConcurrentLinkedQueue<Throwable> failures = new ConcurrentLinkedQueue<>();
        AtomicLongArray done = new AtomicLongArray(names.size());
        CyclicBarrier start = new CyclicBarrier(THREADS);
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            int thread = t;
            threads.add(new Thread(() -> {
                String current = "setup";
                try {
                    List<Task> tasks = new ArrayList<>();
                    for (String name : names) {
                        current = name;
                        tasks.add(TASKS.get(name).make(thread));
                    }
                    start.await();
                    long end = System.nanoTime() + RUN_NANOS;
                    for (int cycle = 0; cycle < MIN_CYCLES || System.nanoTime() < end; cycle++) {
                        // Each thread starts the cycle at another task, so different kinds overlap.
                        for (int k = 0; k < tasks.size(); k++) {
                            int index = (k + thread) % tasks.size();
                            current = names.get(index);
                            tasks.get(index).step(cycle);
                            done.incrementAndGet(index);
                        }
                        if (cycle % 10 == 9) {
                            // Fresh engines now and then; the dropped ones give their sessions back.
                            for (int index = 0; index < names.size(); index++) {
                                current = names.get(index);
                                tasks.set(index, TASKS.get(current).make(thread));
                            }
                        }
                    }
                } catch (Throwable e) {
                    failures.add(new AssertionError("thread " + thread + ", " + current + ": " + e, e));
                    start.reset();
                }
            }, "provider-load-" + t));
        }
        threads.forEach(Thread::start);
        for (Thread thread : threads) {
            thread.join(TimeUnit.MINUTES.toMillis(5));
            assertFalse(thread.isAlive(), thread.getName() + " did not finish");
        }
        if (!failures.isEmpty()) {
            AssertionError first = new AssertionError(failures.size() + " failures under load; first: "
                    + failures.peek().getMessage(), failures.peek());
            failures.stream().skip(1).limit(5).forEach(first::addSuppressed);
            throw first;
        }
        for (int index = 0; index < names.size(); index++) {
            assertTrue(done.get(index) >= (long) THREADS * MIN_CYCLES,
                    names.get(index) + " ran " + done.get(index) + " times");
        }
        assertEquals(done.get(names.indexOf("random 32 B")), RANDOMS.size(), "every random output kept, none repeated");

        // Afterwards the pool still serves one-shot and streamed work.
        byte[] data = bytes(new Random(9), 100_000);
        MessageDigest after = MessageDigest.getInstance("SHA-256", provider);
        after.update(data, 0, 50_000);
        after.update(data, 50_000, 50_000);
        assertHexEquals(MessageDigest.getInstance("SHA-256", "SUN").digest(data), after.digest(), "SHA-256 after the load");
    }

    private static void assertHexEquals(byte[] expected, byte[] actual, String what) {
        if (!Arrays.equals(expected, actual)) {
            HexFormat hex = HexFormat.of();
            String a = actual == null ? "null" : hex.formatHex(actual, 0, Math.min(actual.length, 48));
            throw new AssertionError(what + ": expected " + hex.formatHex(expected, 0, Math.min(expected.length, 48))
                    + "... (" + expected.length + " bytes), got " + a + "..."
                    + (actual == null ? "" : " (" + actual.length + " bytes)"));
        }
    }

    private static byte[] bytes(Random random, int length) {
        byte[] b = new byte[length];
        random.nextBytes(b);
        return b;
    }

    private static byte[] concat(byte[] head, byte[] tail) {
        byte[] h = head == null ? new byte[0] : head;
        byte[] t = tail == null ? new byte[0] : tail;
        byte[] all = Arrays.copyOf(h, h.length + t.length);
        System.arraycopy(t, 0, all, h.length, t.length);
        return all;
    }
}
