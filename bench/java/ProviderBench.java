import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.Key;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.SecureRandom;
import java.security.Security;
import java.security.Signature;
import java.security.cert.Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Random;
import java.util.concurrent.Callable;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;

import javax.crypto.Cipher;
import javax.crypto.SecretKey;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.SecretKeySpec;

import qorvik.provider.KelvaneProvider;

/**
 * The same JCA workloads through Kelvane's provider and through the JDK's SunPKCS11 on one
 * token: RSA-2048 and ECDSA P-256 signing, SHA-256 of 64 bytes and of 1 MiB, AES-CBC of 4 KiB,
 * 32 random bytes. The providers take turns in short rounds (the order swapped every round), so
 * a drift of the machine's speed touches both alike; each thread has its own engine, as the JCA
 * requires. Prints ops/s of each and the ratio Kelvane/SunPKCS11 for each thread count.
 *
 * <p>A benchmark, not a test: every workload's result is first checked against the JDK's own
 * providers (so a fast wrong answer is not measured), then only counted.
 *
 * <pre>
 * java -Dkelvane.library=.../libkelvane.so -cp classes:kelvane.jar:kelvane-provider.jar ProviderBench
 *     --kelvane-config FILE --sun-config FILE [--aes-key FILE] [--module PATH]
 *     [--threads 1,8] [--rounds 10] [--round-ms 300] [--warm-up 2] [--only NAME,...]
 * </pre>
 *
 * The user PIN is read from KELVANE_BENCH_PIN; both providers log in through their KeyStore,
 * where they find the keys by label: bench-rsa, bench-ec (private keys with certificates) and
 * bench-aes. bench/provider-bench.sh makes such a token and runs this.
 */
public final class ProviderBench {
    private static final String[] LABELS = {"bench-rsa", "bench-ec", "bench-aes"};
    /** Operations kept open for the run (see {@link #side}). */
    private static final List<Cipher> KEEPERS = new ArrayList<>();

    /** One operation of a workload, on engines owned by one thread. */
    @FunctionalInterface
    interface Op {
        void run() throws Exception;
    }

    /** Makes a thread's engines for one provider and returns the operation using them. */
    @FunctionalInterface
    interface OpFactory {
        Op make(Side side) throws Exception;
    }

    /** A workload: its name, how to check a provider's result once, and how to make its operation. */
    record Workload(String name, Checker check, OpFactory factory) {
    }

    @FunctionalInterface
    interface Checker {
        void check(Side side) throws Exception;
    }

    /** One provider with the keys its KeyStore gave. */
    record Side(String name, Provider provider, PrivateKey rsa, PrivateKey ec, SecretKey aes,
                Certificate rsaCert, Certificate ecCert) {
    }

    /** Totals of one provider over the measured rounds. */
    static final class Tally {
        long ops;
        long nanos;

        double perSecond() {
            return nanos == 0 ? 0 : ops * 1e9 / nanos;
        }
    }

    private static final byte[] SMALL = data(64, 1);
    private static final byte[] MEBIBYTE = data(1 << 20, 2);
    private static final byte[] PAGE = data(4096, 3);
    private static final byte[] IV = data(16, 4);

    private String kelvaneConfig;
    private String sunConfig;
    private Path aesKeyFile;
    private String module = "SoftHSM2";
    private int[] threadCounts = {1, 8};
    private int rounds = 10;
    private int roundMillis = 300;
    private int warmUp = 2;
    private List<String> only = List.of();

    public static void main(String[] args) throws Exception {
        ProviderBench bench = new ProviderBench();
        try {
            bench.parse(args);
        } catch (IllegalArgumentException e) {
            System.err.println("ProviderBench: " + e.getMessage());
            System.exit(2);
        }
        System.exit(bench.run(System.out));
    }

    private void parse(String[] args) {
        for (int i = 0; i < args.length; i++) {
            String option = args[i];
            if (i + 1 >= args.length) {
                throw new IllegalArgumentException(option + " needs a value");
            }
            String value = args[++i];
            switch (option) {
                case "--kelvane-config" -> kelvaneConfig = value;
                case "--sun-config" -> sunConfig = value;
                case "--aes-key" -> aesKeyFile = Path.of(value);
                case "--module" -> module = value;
                case "--threads" -> threadCounts = Arrays.stream(value.split(",")).mapToInt(Integer::parseInt).toArray();
                case "--rounds" -> rounds = Integer.parseInt(value);
                case "--round-ms" -> roundMillis = Integer.parseInt(value);
                case "--warm-up" -> warmUp = Integer.parseInt(value);
                case "--only" -> only = List.of(value.split(","));
                default -> throw new IllegalArgumentException("unknown option " + option);
            }
        }
        if (kelvaneConfig == null || sunConfig == null) {
            throw new IllegalArgumentException("--kelvane-config and --sun-config are required");
        }
        if (rounds < 1 || roundMillis < 1 || warmUp < 0 || threadCounts.length == 0
                || Arrays.stream(threadCounts).anyMatch(t -> t < 1)) {
            throw new IllegalArgumentException("rounds, round length and thread counts must be positive");
        }
    }

    private int run(PrintStream out) throws Exception {
        String pin = System.getenv("KELVANE_BENCH_PIN");
        if (pin == null) {
            System.err.println("ProviderBench: set KELVANE_BENCH_PIN to the token's user PIN");
            return 2;
        }
        // Kelvane first: it initialises its module before SunPKCS11 loads its own.
        Side kelvane = side("Kelvane", new KelvaneProvider().configure(kelvaneConfig), "Kelvane", pin);
        Provider sunBase = Security.getProvider("SunPKCS11");
        if (sunBase == null) {
            System.err.println("ProviderBench: this JDK has no SunPKCS11 provider");
            return 1;
        }
        Side sun = side("SunPKCS11", sunBase.configure(sunConfig), "PKCS11", pin);
        List<Side> sides = List.of(kelvane, sun);

        List<Workload> workloads = new ArrayList<>();
        for (Workload w : workloads()) {
            if (only.isEmpty() || only.contains(w.name())) {
                workloads.add(w);
            }
        }
        for (Workload w : workloads) {
            for (Side side : sides) {
                try {
                    w.check().check(side);
                } catch (Exception | AssertionError e) {
                    System.err.println("ProviderBench: " + w.name() + " through " + side.name()
                            + " gives a wrong result: " + e);
                    e.printStackTrace();
                    return 1;
                }
            }
        }

        out.printf(Locale.ROOT, "JCA providers on %s: %s (%s) vs %s (%s), Java %s%n", module,
                kelvane.provider().getName(), kelvane.provider().getInfo(), sun.provider().getName(),
                sun.provider().getInfo(), Runtime.version());
        out.printf(Locale.ROOT, "Interleaved: %d measured rounds of %d ms per provider after %d warm-up "
                + "rounds, order swapped every round; each thread its own engines.%n%n", rounds, roundMillis, warmUp);
        String header = String.format(Locale.ROOT, "| %-18s | %7s | %15s | %15s | %17s |", "workload", "threads",
                "Kelvane ops/s", "SunPKCS11 ops/s", "Kelvane/SunPKCS11");
        out.println(header);
        out.println(header.replaceAll("[^|]", "-"));
        for (int threads : threadCounts) {
            ExecutorService pool = Executors.newFixedThreadPool(threads);
            try {
                for (Workload w : workloads) {
                    Tally[] tallies = measure(pool, threads, w, sides);
                    double k = tallies[0].perSecond();
                    double s = tallies[1].perSecond();
                    out.printf(Locale.ROOT, "| %-18s | %7d | %15s | %15s | %17s |%n", w.name(), threads,
                            format(k), format(s), s == 0 ? "-" : String.format(Locale.ROOT, "%.2f", k / s));
                    out.flush();
                }
            } finally {
                pool.shutdownNow();
            }
        }
        return 0;
    }

    /** Runs warm-up and measured rounds of {@code w} for each side in turn; returns the measured totals. */
    private Tally[] measure(ExecutorService pool, int threads, Workload w, List<Side> sides) throws Exception {
        List<List<Op>> ops = new ArrayList<>();
        for (Side side : sides) {
            List<Op> perThread = new ArrayList<>();
            for (int t = 0; t < threads; t++) {
                perThread.add(w.factory().make(side));
            }
            ops.add(perThread);
        }
        Tally[] tallies = new Tally[sides.size()];
        for (int i = 0; i < tallies.length; i++) {
            tallies[i] = new Tally();
        }
        List<Integer> order = new ArrayList<>();
        for (int i = 0; i < sides.size(); i++) {
            order.add(i);
        }
        for (int round = 0; round < warmUp + rounds; round++) {
            for (int i : order) {
                long[] result = round(pool, ops.get(i));
                if (round >= warmUp) {
                    tallies[i].ops += result[0];
                    tallies[i].nanos += result[1];
                }
            }
            Collections.reverse(order);
        }
        return tallies;
    }

    /** One round: every thread runs its operation until the round's end; returns {ops, elapsed ns}. */
    private long[] round(ExecutorService pool, List<Op> ops) throws Exception {
        CountDownLatch go = new CountDownLatch(1);
        long[] deadline = new long[1];
        List<Future<Long>> futures = new ArrayList<>();
        for (Op op : ops) {
            Callable<Long> body = () -> {
                go.await();
                long count = 0;
                long end = deadline[0];
                do {
                    op.run();
                    count++;
                } while (System.nanoTime() < end);
                return count;
            };
            futures.add(pool.submit(body));
        }
        long start = System.nanoTime();
        deadline[0] = start + roundMillis * 1_000_000L;
        go.countDown();
        long total = 0;
        for (Future<Long> f : futures) {
            total += f.get();
        }
        return new long[] {total, System.nanoTime() - start};
    }

    private Side side(String name, Provider provider, String keyStoreType, String pin) throws Exception {
        KeyStore ks = KeyStore.getInstance(keyStoreType, provider);
        ks.load(null, pin.toCharArray());
        Map<String, Key> keys = new LinkedHashMap<>();
        Map<String, Certificate> certs = new LinkedHashMap<>();
        for (String label : LABELS) {
            String alias = alias(ks, label);
            keys.put(label, ks.getKey(alias, null));
            certs.put(label, ks.getCertificate(alias));
            if (keys.get(label) == null) {
                throw new IllegalStateException(name + ": no key under the alias " + alias);
            }
        }
        SecretKey aes = (SecretKey) keys.get("bench-aes");
        // An encryption left open on each provider for the whole run. SunPKCS11 otherwise closes
        // every session of its pool now and then (after a few digests on SoftHSM2), which logs the
        // token out, and the module then drops the handles of the private keys it had handed out:
        // the keys SunPKCS11 holds fail with CKR_OBJECT_HANDLE_INVALID. Kelvane gets the same for
        // symmetry; an open operation costs neither provider anything on the measured calls.
        Cipher keeper = Cipher.getInstance("AES/CBC/NoPadding", provider);
        keeper.init(Cipher.ENCRYPT_MODE, aes, new IvParameterSpec(IV));
        keeper.update(PAGE, 0, 16);
        KEEPERS.add(keeper);
        return new Side(name, provider, (PrivateKey) keys.get("bench-rsa"), (PrivateKey) keys.get("bench-ec"),
                aes, certs.get("bench-rsa"), certs.get("bench-ec"));
    }

    /** The alias of the entry labelled {@code label} (a shared label carries a suffix). */
    private static String alias(KeyStore ks, String label) throws Exception {
        if (ks.containsAlias(label)) {
            return label;
        }
        for (String alias : Collections.list(ks.aliases())) {
            if (alias.startsWith(label + "#")) {
                return alias;
            }
        }
        throw new IllegalStateException(ks.getProvider().getName() + ": no entry labelled " + label
                + " among " + Collections.list(ks.aliases()));
    }

    private List<Workload> workloads() throws IOException {
        byte[] aesValue = aesKeyFile == null ? null : Files.readAllBytes(aesKeyFile);
        return List.of(
                new Workload("RSA-2048 sign", side -> checkSignature("SHA256withRSA", side.provider(),
                        side.rsa(), side.rsaCert()), side -> signing("SHA256withRSA", side.provider(), side.rsa())),
                new Workload("ECDSA P-256 sign", side -> checkSignature("SHA256withECDSA", side.provider(),
                        side.ec(), side.ecCert()), side -> signing("SHA256withECDSA", side.provider(), side.ec())),
                new Workload("SHA-256 64 B", side -> checkDigest(side.provider(), SMALL),
                        side -> digesting(side.provider(), SMALL)),
                new Workload("SHA-256 1 MiB", side -> checkDigest(side.provider(), MEBIBYTE),
                        side -> digesting(side.provider(), MEBIBYTE)),
                new Workload("AES-CBC 4 KiB", side -> checkCipher(side, aesValue),
                        side -> encrypting(side.provider(), side.aes())),
                new Workload("random 32 B", side -> checkRandom(side.provider()),
                        side -> random(side.provider())));
    }

    private static Op signing(String algorithm, Provider provider, PrivateKey key) throws Exception {
        Signature signature = Signature.getInstance(algorithm, provider);
        signature.initSign(key);
        return () -> {
            signature.update(SMALL);
            signature.sign();
        };
    }

    private static Op digesting(Provider provider, byte[] data) throws Exception {
        MessageDigest digest = MessageDigest.getInstance("SHA-256", provider);
        return () -> digest.digest(data);
    }

    private static Op encrypting(Provider provider, SecretKey key) throws Exception {
        Cipher cipher = Cipher.getInstance("AES/CBC/NoPadding", provider);
        cipher.init(Cipher.ENCRYPT_MODE, key, new IvParameterSpec(IV));
        byte[] output = new byte[PAGE.length];
        return () -> cipher.doFinal(PAGE, 0, PAGE.length, output, 0);
    }

    private static Op random(Provider provider) throws Exception {
        SecureRandom random = SecureRandom.getInstance("PKCS11", provider);
        byte[] bytes = new byte[32];
        return () -> random.nextBytes(bytes);
    }

    /** Twice through the provider's engine (it must reset after sign), each verified by the JDK. */
    private static void checkSignature(String algorithm, Provider provider, PrivateKey key, Certificate cert)
            throws Exception {
        Signature signer = Signature.getInstance(algorithm, provider);
        signer.initSign(key);
        for (int i = 0; i < 2; i++) {
            signer.update(SMALL);
            byte[] made = signer.sign();
            Signature verifier = Signature.getInstance(algorithm);
            verifier.initVerify(cert.getPublicKey());
            verifier.update(SMALL);
            expect(verifier.verify(made), algorithm + " signature refused by " + verifier.getProvider().getName());
        }
    }

    private static void checkDigest(Provider provider, byte[] data) throws Exception {
        MessageDigest digest = MessageDigest.getInstance("SHA-256", provider);
        byte[] expected = MessageDigest.getInstance("SHA-256").digest(data);
        for (int i = 0; i < 2; i++) {
            expect(Arrays.equals(expected, digest.digest(data)), "SHA-256 differs from the JDK's");
        }
    }

    /** Equal to the JDK's ciphertext for the key's known value, twice from one init; decrypts back. */
    private static void checkCipher(Side side, byte[] keyValue) throws Exception {
        Cipher cipher = Cipher.getInstance("AES/CBC/NoPadding", side.provider());
        cipher.init(Cipher.ENCRYPT_MODE, side.aes(), new IvParameterSpec(IV));
        byte[] first = cipher.doFinal(PAGE);
        byte[] second = cipher.doFinal(PAGE);
        expect(Arrays.equals(first, second), "a second doFinal from the same init differs");
        if (keyValue != null) {
            Cipher jdk = Cipher.getInstance("AES/CBC/NoPadding", "SunJCE");
            jdk.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(keyValue, "AES"), new IvParameterSpec(IV));
            expect(Arrays.equals(jdk.doFinal(PAGE), first), "AES-CBC ciphertext differs from SunJCE's");
        }
        Cipher back = Cipher.getInstance("AES/CBC/NoPadding", side.provider());
        back.init(Cipher.DECRYPT_MODE, side.aes(), new IvParameterSpec(IV));
        expect(Arrays.equals(PAGE, back.doFinal(first)), "AES-CBC does not decrypt back");
    }

    private static void checkRandom(Provider provider) throws Exception {
        SecureRandom random = SecureRandom.getInstance("PKCS11", provider);
        byte[] a = new byte[32];
        byte[] b = new byte[32];
        random.nextBytes(a);
        random.nextBytes(b);
        expect(!Arrays.equals(a, b) && !Arrays.equals(a, new byte[32]), "random bytes repeat");
    }

    private static void expect(boolean condition, String what) {
        if (!condition) {
            throw new IllegalStateException(what);
        }
    }

    private static byte[] data(int length, long seed) {
        byte[] bytes = new byte[length];
        new Random(seed).nextBytes(bytes);
        return bytes;
    }

    private static String format(double perSecond) {
        return perSecond >= 100 ? String.format(Locale.ROOT, "%,.0f", perSecond)
                : String.format(Locale.ROOT, "%.1f", perSecond);
    }
}
