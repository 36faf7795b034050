package zentrel.keychain.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

import org.junit.jupiter.api.function.Executable;

import zentrel.keychain.KeyChain;
import zentrel.keychain.KeyChainException;
import zentrel.keychain.KeyChainIdentity;
import zentrel.keychain.KeyChainLib;

/**
 * What the keychain suites share: the library loaded once, directory keychains under the runner's
 * temporary directory, the configuration file TARNEL_KEYCHAINS names, and key pairs, certificates
 * and PKCS#12 files made by the openssl program.
 */
final class Keychains {
    static final int INVALID_DOMAIN = -25305;
    static final int BAD_PARAMETER = -50;
    static final int UNSUPPORTED_ALGORITHM = -4;
    static final String SIGN = "zentrel.keychain.KeyChainIdentity.Sign";

    private static final AtomicInteger COUNTER = new AtomicInteger();
    private static final Map<String, KeyPair> PAIRS = new HashMap<>();

    private Keychains() {
    }

    /** An RSA key (PEM, unencrypted PKCS#8) with its self-signed certificate (PEM and DER). */
    record KeyPair(String label, int bits, Path key, Path certificate, byte[] der) {
    }

    /** Loads libtarnel (the runner names the file with -Dtarnel.library). */
    static void load() {
        assertNotNull(System.getProperty("tarnel.library"), "run by run-junit.sh: -Dtarnel.library is missing");
        KeyChainLib.load();
    }

    /** The runner's temporary directory, removed when the run ends. */
    static Path work() {
        String dir = System.getProperty("tarnel.workdir");
        assertNotNull(dir, "run by run-junit.sh: -Dtarnel.workdir is missing");
        return Path.of(dir);
    }

    /** The configuration file the library reads on every list call. */
    static Path config() {
        String file = System.getenv("TARNEL_KEYCHAINS");
        assertNotNull(file, "run by run-junit.sh: TARNEL_KEYCHAINS is not set");
        return Path.of(file);
    }

    /** Replaces the configuration file with these lines. */
    static void configure(String... lines) {
        StringBuilder text = new StringBuilder();
        for (String line : lines) {
            text.append(line).append('\n');
        }
        write(config(), text.toString().getBytes(StandardCharsets.UTF_8));
    }

    /** A configuration whose default search list is these keychains, in order. */
    static void configureDefault(Path... keychains) {
        String[] lines = new String[keychains.length];
        for (int i = 0; i < keychains.length; i++) {
            lines[i] = "default " + keychains[i];
        }
        configure(lines);
    }

    /** A new empty directory keychain under the work directory. */
    static Path newKeychain(String name) {
        Path dir = work().resolve("keychains").resolve(COUNTER.incrementAndGet() + "-" + name);
        try {
            return Files.createDirectories(dir);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The key pair labelled {@code label}, made once per run: RSA of {@code bits}, CN = label. */
    static synchronized KeyPair rsa(String label, int bits) {
        KeyPair pair = PAIRS.get(label);
        if (pair == null) {
            Path dir = work().resolve("material");
            Path key = dir.resolve(label + ".key");
            Path cert = dir.resolve(label + ".crt");
            Path der = dir.resolve(label + ".der");
            try {
                Files.createDirectories(dir);
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
            openssl("req", "-x509", "-newkey", "rsa:" + bits, "-nodes", "-keyout", key.toString(), "-out",
                    cert.toString(), "-subj", "/CN=" + label, "-days", "2");
            openssl("x509", "-in", cert.toString(), "-outform", "DER", "-out", der.toString());
            pair = new KeyPair(label, bits, key, cert, read(der));
            PAIRS.put(label, pair);
        }
        assertEquals(bits, pair.bits(), "key pair " + label + " was made with another size");
        return pair;
    }

    /** NAME.key + NAME.crt in {@code keychain}. */
    static void putPair(Path keychain, String name, KeyPair pair) {
        copy(pair.key(), keychain.resolve(name + ".key"));
        copy(pair.certificate(), keychain.resolve(name + ".crt"));
    }

    /** NAME.key (of {@code keyOf}) + NAME.crt (of {@code certificateOf}): a pair that does not match. */
    static void putMismatched(Path keychain, String name, KeyPair keyOf, KeyPair certificateOf) {
        copy(keyOf.key(), keychain.resolve(name + ".key"));
        copy(certificateOf.certificate(), keychain.resolve(name + ".crt"));
    }

    /** NAME.key in the traditional RSA PEM form ("BEGIN RSA PRIVATE KEY") + NAME.crt. */
    static void putTraditionalPair(Path keychain, String name, KeyPair pair) {
        openssl("rsa", "-in", pair.key().toString(), "-traditional", "-out", keychain.resolve(name + ".key").toString());
        copy(pair.certificate(), keychain.resolve(name + ".crt"));
    }

    /** NAME.key encrypted with a password, PKCS#8 or traditional PEM encryption, + NAME.crt. */
    static void putEncryptedPair(Path keychain, String name, KeyPair pair, boolean traditional) {
        String out = keychain.resolve(name + ".key").toString();
        if (traditional) {
            openssl("rsa", "-in", pair.key().toString(), "-traditional", "-aes256", "-passout", "pass:secret",
                    "-out", out);
        } else {
            openssl("pkcs8", "-topk8", "-in", pair.key().toString(), "-v2", "aes-256-cbc", "-passout",
                    "pass:secret", "-out", out);
        }
        copy(pair.certificate(), keychain.resolve(name + ".crt"));
    }

    /** NAME.p12 holding the pair, protected by {@code password} ("" for the empty password). */
    static void putP12(Path keychain, String name, KeyPair pair, String password) {
        openssl("pkcs12", "-export", "-inkey", pair.key().toString(), "-in", pair.certificate().toString(),
                "-name", pair.label(), "-passout", "pass:" + password, "-out",
                keychain.resolve(name + ".p12").toString());
    }

    /** The keychain of the default search list at {@code path}; fails when the bridge has none. */
    static KeyChain open(Path path) {
        KeyChain keychain = KeyChainLib.GetKeyChain(path.toString());
        assertNotNull(keychain, "no keychain " + path);
        return keychain;
    }

    /** The identities of a keychain; fails when it has none. */
    static KeyChainIdentity[] identities(KeyChain keychain) {
        KeyChainIdentity[] identities = keychain.GetIdentityList();
        assertNotNull(identities, "no identities in " + keychain.m_sPath);
        return identities;
    }

    /** The aliases of the identities, in order. */
    static List<String> aliases(KeyChainIdentity[] identities) {
        List<String> names = new ArrayList<>();
        for (KeyChainIdentity identity : identities) {
            names.add(identity.getAlias());
        }
        return names;
    }

    /** Asserts that {@code call} throws a KeyChainException with these where, status and message. */
    static KeyChainException assertKeyChainException(String where, int status, String message, Executable call) {
        KeyChainException e = assertThrows(KeyChainException.class, call);
        assertEquals(where, e.getWhere(), () -> "where of " + e);
        assertEquals(status, e.getStatus(), () -> "status of " + e);
        assertEquals(message, e.getMessage(), () -> "message of " + e);
        return e;
    }

    /** Bytes differing from those 1 and 256 places away, so a shifted or cut copy never compares equal. */
    static byte[] pattern(int length) {
        byte[] bytes = new byte[length];
        for (int i = 0; i < length; i++) {
            bytes[i] = (byte) (i * 7 + i / 256 + 1);
        }
        return bytes;
    }

    /** Runs the openssl program; fails on a non-zero exit, showing its output. Returns the output. */
    static String openssl(String... args) {
        List<String> command = new ArrayList<>();
        command.add("openssl");
        command.addAll(List.of(args));
        Outcome outcome = run(command);
        if (outcome.status() != 0) {
            throw new AssertionError(String.join(" ", command) + " exited with " + outcome.status() + ":\n"
                    + outcome.output());
        }
        return outcome.output();
    }

    record Outcome(int status, String output) {
    }

    /** Runs a program with stdin closed; its output and error streams together. */
    static Outcome run(List<String> command) {
        try {
            Process process = new ProcessBuilder(command).redirectErrorStream(true)
                    .redirectInput(ProcessBuilder.Redirect.from(Path.of("/dev/null").toFile())).start();
            byte[] output = process.getInputStream().readAllBytes();
            if (!process.waitFor(120, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                throw new AssertionError(String.join(" ", command) + " did not end");
            }
            return new Outcome(process.exitValue(), new String(output, StandardCharsets.UTF_8));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new AssertionError("interrupted", e);
        }
    }

    /** A new file name under the work directory. */
    static Path scratch(String suffix) {
        return work().resolve("scratch-" + COUNTER.incrementAndGet() + suffix);
    }

    static byte[] read(Path file) {
        try {
            return Files.readAllBytes(file);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    static void write(Path file, byte[] bytes) {
        try {
            Files.write(file, bytes);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private static void copy(Path from, Path to) {
        try {
            Files.copy(from, to);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }
}
