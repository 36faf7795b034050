package qorvik.provider.tests;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.Provider;

import qorvik.provider.KelvaneProvider;

/**
 * What the runner hands the provider's suites, and the one configured provider they share: the
 * JVM holds one module, so every suite works on the same SoftHSM2 token (user PIN 1234).
 */
final class ProviderSetup {
    static final String USER_PIN = "1234";

    private static Provider provider;

    private ProviderSetup() {
    }

    static String property(String name) {
        String value = System.getProperty(name);
        if (value == null || value.isEmpty()) {
            throw new IllegalStateException("system property " + name + " not set (run the suites "
                    + "through run-junit.sh)");
        }
        return value;
    }

    static String softhsm() {
        return property("kelvane.softhsm");
    }

    static String tokenLabel() {
        return property("kelvane.tokenlabel");
    }

    static String bridgeLibrary() {
        return property("kelvane.library");
    }

    /** kelvane-provider.jar and kelvane.jar, for keytool's and jarsigner's -providerpath. */
    static String providerPath() {
        return property("kelvane.providerjar") + java.io.File.pathSeparator + property("kelvane.jar");
    }

    /** The runner's temporary directory, removed after the run. */
    static Path workDir() {
        return Path.of(property("kelvane.workdir"));
    }

    /** A file holding the user PIN, as a configuration's pin = file:PATH reads it. */
    static Path pinFile() {
        return write("user.pin", USER_PIN + "\n");
    }

    /** The configuration file of the shared provider ("Kelvane-junit", logged in by pin = file:). */
    static Path configFile() {
        return write("provider.cfg", "library = " + softhsm() + "\n"
                + "name = junit\n"
                + "tokenLabel = " + tokenLabel() + "\n"
                + "pin = file:" + pinFile() + "\n");
    }

    /** The shared provider, configured on first use (not installed in the Security list). */
    static synchronized Provider provider() {
        if (provider == null) {
            provider = new KelvaneProvider().configure(configFile().toString());
        }
        return provider;
    }

    /** Writes {@code name} in the work directory with {@code text}. */
    static Path write(String name, String text) {
        Path file = workDir().resolve(name);
        try {
            Files.writeString(file, text, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        return file;
    }
}
