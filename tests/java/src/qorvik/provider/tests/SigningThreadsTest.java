package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.security.KeyPair;
import java.security.Signature;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

import org.junit.jupiter.api.Test;

import qorvik.provider.tests.SigningKeys.Kind;

/**
 * Sixteen threads sign at once for ten seconds with RSA and EC keys of the token, through
 * engines they keep and engines they make anew each time, with short data (one native call) and
 * data past the multi-part threshold (a leased session); every signature is checked by the JDK,
 * and some through the provider as well. No failure, no wrong signature, and every thread gets
 * its turn. The run's length is what the test is asked to show; nothing here is timed.
 */
class SigningThreadsTest {
    private static final int THREADS = 16;
    private static final long RUN_NANOS = TimeUnit.SECONDS.toNanos(10);

    /** One thread's work: its algorithm, key and parameters. */
    private static final class Job {
        final String algorithm;
        final Kind kind;
        final AlgorithmParameterSpec params;

        Job(String algorithm, Kind kind, AlgorithmParameterSpec params) {
            this.algorithm = algorithm;
            this.kind = kind;
            this.params = params;
        }
    }

    private static final Job[] JOBS = {
        new Job("SHA256withRSA", Kind.RSA_2048, null),
        new Job("SHA256withECDSA", Kind.P_256, null),
        new Job("RSASSA-PSS", Kind.RSA_2048,
                new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256, 32, 1)),
        new Job("SHA384withECDSA", Kind.P_384, null),
    };

    @Test
    void sixteenThreadsSignForTenSeconds() throws Exception {
        for (Job job : JOBS) {
            SigningKeys.token(job.kind);
        }
        ConcurrentLinkedQueue<String> failures = new ConcurrentLinkedQueue<>();
        long[] signed = new long[THREADS];
        long[] multiPart = new long[THREADS];
        CountDownLatch start = new CountDownLatch(1);
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            final int id = t;
            Thread thread = new Thread(() -> {
                Job job = JOBS[id % JOBS.length];
                boolean freshEngines = id >= THREADS / 2;
                Random random = new Random(id);
                try {
                    KeyPair keys = SigningKeys.token(job.kind);
                    Signature kept = engine(job);
                    Signature judge = Signature.getInstance(job.algorithm, SigningKeys.judge(job.algorithm));
                    Signature check = engine(job);
                    if (job.params != null) {
                        judge.setParameter(job.params);
                    }
                    start.await();
                    long end = System.nanoTime() + RUN_NANOS;
                    for (long n = 0; System.nanoTime() < end; n++) {
                        boolean large = n % 8 == 7;
                        byte[] data = new byte[large ? 20 * 1024 + random.nextInt(100) : random.nextInt(2000)];
                        random.nextBytes(data);
                        Signature s = freshEngines ? engine(job) : kept;
                        s.initSign(keys.getPrivate());
                        s.update(data);
                        byte[] sig = s.sign();
                        judge.initVerify(keys.getPublic());
                        judge.update(data);
                        if (!judge.verify(sig)) {
                            failures.add("thread " + id + " " + job.algorithm + " signature " + n + " of "
                                    + data.length + " bytes refused by the JDK");
                        }
                        if (n % 16 == 3) {
                            check.initVerify(keys.getPublic());
                            check.update(data);
                            if (!check.verify(sig)) {
                                failures.add("thread " + id + " " + job.algorithm + " signature " + n
                                        + " refused through the provider");
                            }
                        }
                        signed[id]++;
                        if (large) {
                            multiPart[id]++;
                        }
                    }
                } catch (Throwable e) {
                    failures.add("thread " + id + " " + job.algorithm + ": " + e);
                }
            }, "signer-" + t);
            threads.add(thread);
            thread.start();
        }
        start.countDown();
        for (Thread thread : threads) {
            thread.join(TimeUnit.SECONDS.toMillis(120));
            assertTrue(!thread.isAlive(), thread.getName() + " did not finish");
        }
        long total = 0;
        long parts = 0;
        StringBuilder perThread = new StringBuilder();
        for (int t = 0; t < THREADS; t++) {
            total += signed[t];
            parts += multiPart[t];
            perThread.append(' ').append(signed[t]);
        }
        System.out.println("SigningThreadsTest: " + THREADS + " threads, " + total + " signatures ("
                + parts + " of them in parts), per thread:" + perThread);
        assertEquals(List.of(), new ArrayList<>(failures));
        for (int t = 0; t < THREADS; t++) {
            assertTrue(signed[t] > 0, "thread " + t + " never signed");
            assertTrue(signed[t] < 8 || multiPart[t] > 0, "thread " + t + " never signed in parts");
        }
    }

    private static Signature engine(Job job) throws Exception {
        Signature s = Signature.getInstance(job.algorithm, SigningKeys.provider());
        if (job.params != null) {
            s.setParameter(job.params);
        }
        return s;
    }
}
