package qorvik.tests;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.locks.ReentrantLock;
import java.util.stream.Stream;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

import qorvik.nat.CryptokiLock;
import qorvik.tool.cli.Kelvane;

/**
 * The kelvane command run in-process holds the process-wide Cryptoki lock for its whole run: a
 * thread holding the lock (as the security provider does around each native call) keeps the
 * command from starting its native work, every line the command writes is written under the lock,
 * and the lock is free again once the command returns, on success and on failure alike.
 */
class KelvaneCommandLockTest {
    /** The runner's token: user PIN 1234 (scripts/softhsm-token.sh). */
    private static final String RUNNER_PIN = "1234";

    @TempDir
    static Path dir;

    private static Path input;

    @BeforeAll
    static void prepare() throws IOException {
        TestSetup.loadBridge();
        input = Files.write(dir.resolve("input.bin"), TestSetup.pattern(1000));
    }

    /** How the command is started: its main entry point, or a command line made and executed directly. */
    enum Route {
        RUN, COMMAND_LINE
    }

    static Stream<Arguments> subcommands() {
        String token = TestSetup.tokenLabel();
        return Stream.of(
                Arguments.of(Route.RUN, 0, "Module:", List.of("info")),
                Arguments.of(Route.RUN, 0, "Slot", List.of("list-slots")),
                Arguments.of(Route.RUN, 0, "CKM_SHA256", List.of("--token", token, "list-mechanisms")),
                Arguments.of(Route.RUN, 0, "", List.of("--token", token, "list-objects", "--login")),
                Arguments.of(Route.RUN, 0, "", List.of("--token", token, "digest", "@input")),
                Arguments.of(Route.RUN, 1, "no token labelled", List.of("--token", "no-such-token", "list-objects")),
                Arguments.of(Route.RUN, 1, "cannot read", List.of("--token", token, "digest", "@missing")),
                // Straight through picocli the lock is taken by the subcommand itself; a failure's line
                // is written by picocli's handler after it, so only successful runs are in this route.
                Arguments.of(Route.COMMAND_LINE, 0, "CKM_SHA256", List.of("--token", token, "list-mechanisms")),
                Arguments.of(Route.COMMAND_LINE, 0, "Slot", List.of("list-slots")));
    }

    /**
     * For each subcommand: with the lock held by this thread the command's thread queues on it and
     * writes nothing; released, the command runs to its exit status with every write made under
     * the lock, and leaves the lock free.
     */
    @ParameterizedTest(name = "{0} {3} -> exit {1}")
    @MethodSource("subcommands")
    void commandWaitsForTheLockAndRunsUnderIt(Route route, int expectedStatus, String expectedText, List<String> rest)
            throws InterruptedException {
        List<String> args = new ArrayList<>(List.of("--module", TestSetup.softhsm()));
        for (String arg : rest) {
            args.add(arg.replace("@input", input.toString()).replace("@missing", dir.resolve("missing").toString()));
        }
        LockWatchingStream out = new LockWatchingStream();
        LockWatchingStream err = new LockWatchingStream();
        Map<String, String> env = Map.of("KELVANE_PIN", RUNNER_PIN, "HOME", dir.toString());
        AtomicInteger status = new AtomicInteger(-1);
        Thread runner = new Thread(() -> status.set(start(route, args, out, err, env)), "kelvane-command");

        ReentrantLock lock = CryptokiLock.lock();
        lock.lock();
        try {
            runner.start();
            long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(30);
            while (!lock.hasQueuedThread(runner)) {
                if (!runner.isAlive()) {
                    fail("the command finished while another thread held the lock: exit " + status.get()
                            + "\n" + out.text() + err.text());
                }
                if (System.nanoTime() > deadline) {
                    fail("the command never asked for the lock; its thread is " + runner.getState());
                }
                Thread.sleep(5);
            }
            assertEquals("", out.text() + err.text(), "the command wrote while the lock was held elsewhere");
        } finally {
            lock.unlock();
        }
        runner.join(TimeUnit.SECONDS.toMillis(120));
        assertFalse(runner.isAlive(), "the command did not finish once the lock was free");
        String shown = "exit " + status.get() + "\n--- out\n" + out.text() + "--- err\n" + err.text();
        assertEquals(expectedStatus, status.get(), shown);
        assertTrue(out.text().contains(expectedText) || err.text().contains(expectedText), shown);
        assertTrue(out.writes() + err.writes() > 0, "the command wrote nothing:\n" + shown);
        assertEquals(0, out.unlockedWrites() + err.unlockedWrites(),
                "writes made without the lock:\n" + shown);
        assertFalse(lock.isLocked(), "the command left the lock held");
    }

    private static int start(Route route, List<String> args, PrintStream out, PrintStream err,
                             Map<String, String> env) {
        String[] array = args.toArray(new String[0]);
        return switch (route) {
            case RUN -> Kelvane.run(array, out, err, env, null);
            case COMMAND_LINE -> Kelvane.commandLine(out, err, env, null).execute(array);
        };
    }

    /** A stream that counts the writes made by a thread not holding the Cryptoki lock. */
    private static final class LockWatchingStream extends PrintStream {
        private final ByteArrayOutputStream bytes;
        private final AtomicInteger writes;
        private final AtomicInteger unlocked;

        LockWatchingStream() {
            this(new ByteArrayOutputStream(), new AtomicInteger(), new AtomicInteger());
        }

        private LockWatchingStream(ByteArrayOutputStream bytes, AtomicInteger writes, AtomicInteger unlocked) {
            super(new OutputStream() {
                @Override
                public void write(int b) {
                    write(new byte[] {(byte) b}, 0, 1);
                }

                @Override
                public void write(byte[] b, int off, int len) {
                    writes.incrementAndGet();
                    if (!CryptokiLock.heldByCurrentThread()) {
                        unlocked.incrementAndGet();
                    }
                    synchronized (bytes) {
                        bytes.write(b, off, len);
                    }
                }
            }, true, UTF_8);
            this.bytes = bytes;
            this.writes = writes;
            this.unlocked = unlocked;
        }

        String text() {
            synchronized (bytes) {
                return bytes.toString(UTF_8);
            }
        }

        int writes() {
            return writes.get();
        }

        int unlockedWrites() {
            return unlocked.get();
        }
    }
}
