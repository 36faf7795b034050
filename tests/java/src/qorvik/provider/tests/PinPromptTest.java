package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.Provider;
import java.security.Signature;
import java.util.concurrent.TimeUnit;

import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

import qorvik.provider.KelvaneProvider;

/**
 * pin = prompt: a program on a terminal (a pseudo-terminal of util-linux script) is asked for the
 * PIN on the console once, however many operations follow; the PIN is not echoed, and a wrong one
 * fails with the module's CKR_PIN_INCORRECT as the cause.
 */
class PinPromptTest {
    private static final String PROMPT = "PIN for token '";

    /** The program on the terminal: three signatures with a key made through a prompted provider. */
    public static final class Signer {
        public static void main(String[] args) throws Exception {
            Provider kelvane = new KelvaneProvider().configure(args[0]);
            KeyPairGenerator generator = KeyPairGenerator.getInstance("EC", kelvane);
            generator.initialize(256);
            KeyPair pair = generator.generateKeyPair();
            byte[] data = "prompted".getBytes(StandardCharsets.UTF_8);
            int verified = 0;
            for (int i = 0; i < 3; i++) {
                Signature signer = Signature.getInstance("SHA256withECDSA", kelvane);
                signer.initSign(pair.getPrivate());
                signer.update(data);
                Signature checker = Signature.getInstance("SHA256withECDSA", "SunEC");
                checker.initVerify(pair.getPublic());
                checker.update(data);
                verified += checker.verify(signer.sign()) ? 1 : 0;
            }
            System.out.println(verified + " signatures verified");
        }
    }

    @ParameterizedTest(name = "typed {0}: exit {1}")
    @CsvSource(delimiter = '|', value = {
        "1234  | 0 | 3 signatures verified",
        "98765 | 1 | Caused by: qorvik.CryptokiException: J_Login failed (0xa0)",
    })
    void thePinIsAskedOnceOnTheConsole(String typed, int status, String expected) throws Exception {
        Path config = ProviderSetup.write("prompt.cfg", "library = " + ProviderSetup.softhsm() + "\n"
                + "tokenLabel = " + ProviderSetup.tokenLabel() + "\n"
                + "pin = prompt\n");
        String classes = Path.of(Signer.class.getProtectionDomain().getCodeSource().getLocation().toURI())
                .toString();
        String command = String.join(" ", quote(Path.of(System.getProperty("java.home"), "bin", "java").toString()),
                "-Xcheck:jni", quote("-Dkelvane.library=" + ProviderSetup.bridgeLibrary()),
                "-cp", quote(String.join(File.pathSeparator, classes, ProviderSetup.providerPath())),
                quote(Signer.class.getName()), quote(config.toString()));
        ProcessBuilder pb = new ProcessBuilder("script", "-qefc", command, "/dev/null");
        pb.redirectErrorStream(true);
        Process p = pb.start();
        ByteArrayOutputStream seen = new ByteArrayOutputStream();
        Thread reader = new Thread(() -> copy(p.getInputStream(), seen));
        reader.start();
        awaitText(seen, PROMPT);
        OutputStream keys = p.getOutputStream();
        keys.write((typed + "\n").getBytes(StandardCharsets.UTF_8));
        keys.flush();
        assertTrue(p.waitFor(120, TimeUnit.SECONDS), "the program did not end:\n" + text(seen));
        reader.join(10_000);
        keys.close();
        String screen = text(seen);
        assertEquals(status, p.exitValue(), screen);
        assertTrue(screen.contains(expected), screen);
        assertTrue(screen.contains(PROMPT + ProviderSetup.tokenLabel() + "'"), "the prompt names the token:\n" + screen);
        assertFalse(screen.contains(typed), "the PIN was echoed:\n" + screen);
        assertFalse(screen.contains("WARNING in native method"), screen);
        if (status == 0) {
            assertEquals(1, screen.split(PROMPT, -1).length - 1, "asked once:\n" + screen);
        }
    }

    private static String quote(String word) {
        return "'" + word.replace("'", "'\\''") + "'";
    }

    private static void awaitText(ByteArrayOutputStream seen, String wanted) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(60);
        while (System.nanoTime() < deadline) {
            if (text(seen).contains(wanted)) {
                return;
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

    private static void copy(InputStream in, ByteArrayOutputStream out) {
        byte[] buffer = new byte[4096];
        try {
            for (int n; (n = in.read(buffer)) > 0; ) {
                synchronized (out) {
                    out.write(buffer, 0, n);
                }
            }
        } catch (IOException e) {
            // The terminal closed with the program.
        }
    }
}
