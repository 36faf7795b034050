package qorvik.provider.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.security.Provider;
import java.security.SecureRandom;
import java.security.Signature;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.TimeUnit;

import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

import qorvik.CryptokiException;
import qorvik.nat.CryptokiLock;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;
import qorvik.provider.KelvaneProvider;

/**
 * The token's sessions or login lost behind the provider's back (another user of the module
 * closes every session of the slot, or logs the user out): the provider's next operations open
 * new sessions and log in again with the configured PIN, and give the right results. Each case
 * runs in a JVM of its own, since it ends every session of the module's slot.
 */
class SessionLossTest {
    private static final String MARK = "step ";

    /** The program: work, the loss, the same work again; one line per step. */
    public static final class Scenario {
        /** The key store's aliases before the loss; the same after it. */
        private static List<String> entriesBefore;

        public static void main(String[] args) throws Exception {
            Provider kelvane = new KelvaneProvider().configure(args[0]);
            String loss = args[1];
            work(kelvane, "before");
            NativeCryptoki cryptoki = new NativeCryptoki();
            NativeSlot slot = CryptokiLock.call(() -> cryptoki.GetSlotList(true))[0];
            CryptokiLock.run(() -> {
                if (loss.equals("close-all")) {
                    slot.J_CloseAllSessions();
                } else {
                    NativeSession own = slot.J_OpenSession(0x4);
                    own.J_Logout();
                    own.J_CloseSession();
                }
            });
            work(kelvane, "after");
        }

        /** Each step's result, checked against the JDK's providers. */
        private static void work(Provider kelvane, String when) throws Exception {
            byte[] data = new byte[100_000];
            Arrays.fill(data, (byte) 7);
            byte[] expected = MessageDigest.getInstance("SHA-256", "SUN").digest(data);
            // A key pair first: its generation needs the login.
            step(when, "key pair", () -> {
                KeyPairGenerator g = KeyPairGenerator.getInstance("EC", kelvane);
                g.initialize(256);
                KeyPair pair = g.generateKeyPair();
                Signature signer = Signature.getInstance("SHA256withECDSA", kelvane);
                signer.initSign(pair.getPrivate());
                signer.update(data, 0, 64);
                Signature checker = Signature.getInstance("SHA256withECDSA", "SunEC");
                checker.initVerify(pair.getPublic());
                checker.update(data, 0, 64);
                return checker.verify(signer.sign());
            });
            step(when, "short digest", () -> Arrays.equals(
                    MessageDigest.getInstance("SHA-256", "SUN").digest(Arrays.copyOf(data, 64)),
                    MessageDigest.getInstance("SHA-256", kelvane).digest(Arrays.copyOf(data, 64))));
            step(when, "streamed digest", () -> {
                MessageDigest d = MessageDigest.getInstance("SHA-256", kelvane);
                for (int at = 0; at < data.length; at += 20_000) {
                    d.update(data, at, 20_000);
                }
                return Arrays.equals(expected, d.digest());
            });
            step(when, "random", () -> {
                byte[] bytes = new byte[32];
                SecureRandom.getInstance("PKCS11", kelvane).nextBytes(bytes);
                return bytes.length == 32;
            });
            step(when, "key store", () -> {
                KeyStore ks = KeyStore.getInstance("Kelvane", kelvane);
                ks.load(null, null);
                List<String> aliases = java.util.Collections.list(ks.aliases());
                if (when.equals("before")) {
                    entriesBefore = aliases;
                }
                return aliases.equals(entriesBefore);
            });
        }

        interface Step {
            boolean run() throws Exception;
        }

        private static void step(String when, String name, Step step) {
            String outcome;
            try {
                outcome = step.run() ? "ok" : "wrong result";
            } catch (Exception e) {
                Throwable cause = e;
                while (cause.getCause() != null && !(cause instanceof CryptokiException)) {
                    cause = cause.getCause();
                }
                outcome = "failed: " + e + (cause != e ? " / cause " + cause : "");
            }
            System.out.println(MARK + when + " " + name + ": " + outcome);
        }
    }

    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"close-all", "logout"})
    void theProviderRecoversItsSessionsAndLogin(String loss) throws Exception {
        Path config = ProviderSetup.write("loss.cfg", "library = " + ProviderSetup.softhsm() + "\n"
                + "tokenLabel = " + ProviderSetup.tokenLabel() + "\n"
                + "pin = file:" + ProviderSetup.pinFile() + "\n");
        String classes = Path.of(Scenario.class.getProtectionDomain().getCodeSource().getLocation().toURI())
                .toString();
        List<String> command = List.of(Path.of(System.getProperty("java.home"), "bin", "java").toString(),
                "-Xcheck:jni", "-Dkelvane.library=" + ProviderSetup.bridgeLibrary(),
                "-cp", String.join(File.pathSeparator, classes, ProviderSetup.providerPath()),
                Scenario.class.getName(), config.toString(), loss);
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        String output = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(p.waitFor(120, TimeUnit.SECONDS), output);
        assertEquals(0, p.exitValue(), output);
        assertTrue(!output.contains("WARNING in native method"), output);
        List<String> steps = new ArrayList<>();
        for (String line : output.split("\n")) {
            if (line.startsWith(MARK)) {
                steps.add(line);
            }
        }
        assertEquals(10, steps.size(), output);
        for (String line : steps) {
            assertTrue(line.endsWith(": ok"), line + "\n" + output);
        }
    }
}
