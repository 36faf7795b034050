package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;
import org.junit.jupiter.api.io.TempDir;

import qorvik.tool.cli.Kelvane;

/**
 * The kelvane command as a user runs it: the build tree's launcher script in a process of its
 * own, with a home directory of the suite's, so that the user's own SoftHSM2 token is made there.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class KelvaneLauncherTest {
    static final String NEW_PIN = "pty-Secret-5739";

    @TempDir
    static Path home;

    static Path launcher;

    @BeforeAll
    static void findLauncher() throws Exception {
        // kelvane-tool.jar is BUILD/java/kelvane-tool.jar; the launcher is BUILD/bin/kelvane.
        Path jar = Path.of(Kelvane.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        launcher = jar.getParent().getParent().resolve("bin").resolve("kelvane");
        assertTrue(Files.isExecutable(launcher), launcher + " is not an executable launcher");
    }

    record Outcome(int status, String out, String err) {
        @Override
        public String toString() {
            return "exit " + status + "\n--- out\n" + out + "--- err\n" + err;
        }
    }

    /** Runs the launcher with HOME set to the suite's directory and no XDG_DATA_HOME. */
    static Outcome launch(Map<String, String> extraEnv, String... args) throws Exception {
        List<String> command = new ArrayList<>(List.of(launcher.toString()));
        command.addAll(List.of(args));
        ProcessBuilder pb = new ProcessBuilder(command)
                .redirectInput(ProcessBuilder.Redirect.from(new java.io.File("/dev/null")));
        pb.environment().put("HOME", home.toString());
        pb.environment().remove("XDG_DATA_HOME");
        pb.environment().remove("KELVANE_PIN");
        pb.environment().putAll(extraEnv);
        Path errFile = Files.createTempFile(home, "err", ".txt");
        pb.redirectError(errFile.toFile());
        Process p = pb.start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(p.waitFor(120, TimeUnit.SECONDS), "the launcher did not end");
        String err = Files.readString(errFile);
        Files.delete(errFile);
        return new Outcome(p.exitValue(), out, err);
    }

    static final String MADE = "kelvane: made your own SoftHSM2 token 'kelvane' in ";

    @Test
    @Order(1)
    void theOwnTokenIsMadeOnFirstUseAndSaidOnce() throws Exception {
        Path dir = home.resolve(".local/share/kelvane/softhsm");
        Outcome first = launch(Map.of(), "list-slots");
        assertEquals(0, first.status(), first::toString);
        assertEquals(MADE + dir + " (user PIN 1234, SO PIN 12345678; change them with change-pin); "
                + "give --module to use another token\n", first.err());
        assertTrue(first.out().contains("Token label:          kelvane\n"), first::toString);
        assertTrue(Files.isRegularFile(dir.resolve("softhsm2.conf")));
        for (Path d : List.of(dir, dir.resolve("tokens"))) {
            assertEquals("rwx------", java.nio.file.attribute.PosixFilePermissions.toString(
                    Files.getPosixFilePermissions(d)), d + " is the user's alone");
        }

        Outcome second = launch(Map.of("KELVANE_PIN", "1234"), "list-objects");
        assertEquals(0, second.status(), second::toString);
        assertEquals("", second.err(), "said once only");
        assertEquals("No objects.\n", second.out());

        // XDG_DATA_HOME moves the token: a second one is made there.
        Path data = home.resolve("data");
        Outcome moved = launch(Map.of("XDG_DATA_HOME", data.toString()), "info");
        assertEquals(0, moved.status(), moved::toString);
        assertTrue(moved.err().startsWith(MADE + data.resolve("kelvane/softhsm")), moved::toString);
    }

    /** With --module the caller's SOFTHSM2_CONF stays: the runner's token is the one seen. */
    @Test
    @Order(2)
    void aGivenModuleKeepsTheCallersConfiguration() throws Exception {
        for (String[] args : new String[][] {
            {"--module", TestSetup.softhsm(), "list-slots"},
            {"list-slots", "--module=" + TestSetup.softhsm()},
        }) {
            Outcome run = launch(Map.of(), args);
            assertEquals(0, run.status(), run::toString);
            assertTrue(run.out().contains("Token label:          " + TestSetup.tokenLabel() + "\n"), run::toString);
            assertFalse(run.out().contains("Token label:          kelvane\n"), run::toString);
        }
        Outcome wrong = launch(Map.of("KELVANE_PIN", "0000"), "--module", TestSetup.softhsm(), "--token",
                TestSetup.tokenLabel(), "list-objects");
        assertEquals(1, wrong.status(), wrong::toString);
        assertTrue(wrong.err().equals("kelvane: J_Login failed: 0xA0 CKR_PIN_INCORRECT\n"), wrong::toString);
        Outcome usage = launch(Map.of(), "list-slots", "--no-such-option");
        assertEquals(2, usage.status(), usage::toString);
    }

    @Test
    @Order(3)
    void aCompletionScriptIsGenerated() throws Exception {
        Outcome run = launch(Map.of(), "generate-completion");
        assertEquals(0, run.status(), run::toString);
        assertTrue(run.out().contains("complete -F"), "a bash completion script");
        for (String word : List.of("list-mechanisms", "read-attribute", "--module", "--pin-env", "--so-pin-file")) {
            assertTrue(run.out().contains(word), word);
        }
        // bash accepts it.
        Path script = home.resolve("kelvane-completion.bash");
        Files.writeString(script, run.out());
        Pkcs11Tool.Outcome syntax = Pkcs11Tool.execStatus(List.of("bash", "-n", script.toString()));
        assertEquals(0, syntax.status(), syntax.output());
    }

    /**
     * change-pin on a pseudo-terminal (util-linux script): the PINs are typed at the prompts and
     * never echoed; the new PIN then logs in and the old one is refused.
     */
    @Test
    @Order(4)
    void pinsAreAskedOnTheTerminalWithoutEcho() throws Exception {
        ProcessBuilder pb = new ProcessBuilder("script", "-qefc",
                "'" + launcher + "' change-pin", "/dev/null");
        pb.environment().put("HOME", home.toString());
        pb.environment().remove("XDG_DATA_HOME");
        pb.environment().remove("KELVANE_PIN");
        pb.redirectErrorStream(true);
        Process p = pb.start();
        ByteArrayOutputStream seen = new ByteArrayOutputStream();
        Thread reader = new Thread(() -> copy(p.getInputStream(), seen));
        reader.start();
        OutputStream typed = p.getOutputStream();
        String[][] dialogue = {
            {"User PIN: ", "1234"},
            {"New user PIN: ", NEW_PIN},
            {"New user PIN again: ", NEW_PIN},
        };
        int from = 0;
        for (String[] step : dialogue) {
            from = awaitText(seen, step[0], from) + step[0].length();
            typed.write((step[1] + "\n").getBytes(StandardCharsets.UTF_8));
            typed.flush();
        }
        assertTrue(p.waitFor(120, TimeUnit.SECONDS), "change-pin did not end:\n" + text(seen));
        reader.join(10_000);
        typed.close();
        String screen = text(seen);
        assertEquals(0, p.exitValue(), screen);
        assertTrue(screen.contains("User PIN changed on token 'kelvane'"), screen);
        assertFalse(screen.contains("1234"), "the old PIN was echoed:\n" + screen);
        assertFalse(screen.contains(NEW_PIN), "the new PIN was echoed:\n" + screen);

        Outcome now = launch(Map.of("KELVANE_PIN", NEW_PIN), "list-objects");
        assertEquals(0, now.status(), now::toString);
        Outcome old = launch(Map.of("KELVANE_PIN", "1234"), "list-objects");
        assertEquals(1, old.status(), old::toString);
        assertTrue(old.err().contains("0xA0 CKR_PIN_INCORRECT"), old::toString);
    }

    private static int awaitText(ByteArrayOutputStream seen, String wanted, int from) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(60);
        while (System.nanoTime() < deadline) {
            int at = text(seen).indexOf(wanted, from);
            if (at >= 0) {
                return at;
            }
            Thread.sleep(50);
        }
        throw new AssertionError("no prompt '" + wanted + "' on the terminal:\n" + text(seen));
    }

    private static String text(ByteArrayOutputStream seen) {
        synchronized (seen) {
            return seen.toString(StandardCharsets.UTF_8);
        }
    }

    private static void copy(InputStream in, ByteArrayOutputStream to) {
        byte[] buffer = new byte[4096];
        try {
            for (int n; (n = in.read(buffer)) > 0; ) {
                synchronized (to) {
                    to.write(buffer, 0, n);
                }
            }
        } catch (IOException e) {
            // the process ended
        }
    }
}
