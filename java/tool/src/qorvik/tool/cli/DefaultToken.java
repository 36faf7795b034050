package qorvik.tool.cli;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Set;

import qorvik.CryptokiException;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/**
 * The user's own SoftHSM2 token, used when no --module is given: it lives in
 * {@code $XDG_DATA_HOME/kelvane/softhsm} (by default {@code ~/.local/share/kelvane/softhsm}) with
 * a softhsm2.conf of its own, and is made on first use, labelled "kelvane", with user PIN 1234
 * and SO PIN 12345678. SoftHSM2 reads its configuration from SOFTHSM2_CONF when it is
 * initialised, so the launcher points SOFTHSM2_CONF at that file whenever --module is absent.
 */
public final class DefaultToken {
    public static final String LABEL = "kelvane";
    public static final String USER_PIN = "1234";
    public static final String SO_PIN = "12345678";
    public static final String CONF_VARIABLE = "SOFTHSM2_CONF";

    private static final int CKF_TOKEN_INITIALIZED = 0x400;
    private static final int CKF_RW_SESSION = 0x2;
    private static final int CKF_SERIAL_SESSION = 0x4;
    private static final byte CKU_SO = 0;

    private DefaultToken() {
    }

    /** The directory of the token and its configuration. */
    public static Path directory(Map<String, String> env) {
        String data = env.get("XDG_DATA_HOME");
        Path base;
        if (data != null && !data.isEmpty() && Path.of(data).isAbsolute()) {
            base = Path.of(data);
        } else {
            String home = env.getOrDefault("HOME", System.getProperty("user.home"));
            base = Path.of(home, ".local", "share");
        }
        return base.resolve("kelvane").resolve("softhsm");
    }

    public static Path config(Map<String, String> env) {
        return directory(env).resolve("softhsm2.conf");
    }

    /** SoftHSM2's module: the first of the places Debian and others install it. */
    public static String module() throws CommandFailure {
        List<Path> candidates = new ArrayList<>();
        candidates.add(Path.of("/usr/lib/softhsm/libsofthsm2.so"));
        try (DirectoryStream<Path> dirs = Files.newDirectoryStream(Path.of("/usr/lib"))) {
            for (Path dir : dirs) {
                candidates.add(dir.resolve("softhsm").resolve("libsofthsm2.so"));
            }
        } catch (IOException e) {
            // no /usr/lib to search: only the fixed places
        }
        candidates.add(Path.of("/usr/local/lib/softhsm/libsofthsm2.so"));
        for (Path candidate : candidates) {
            if (Files.isRegularFile(candidate)) {
                return candidate.toString();
            }
        }
        throw new CommandFailure("no --module given and SoftHSM2 (libsofthsm2.so, package "
                + "softhsm2) is not installed for the default token");
    }

    /**
     * Makes the directory and the configuration when missing. Fails when SOFTHSM2_CONF does not
     * name that configuration, since SoftHSM2 would then use another token store.
     */
    public static void prepare(Map<String, String> env) throws CommandFailure {
        Path conf = config(env);
        String set = env.get(CONF_VARIABLE);
        if (set == null || !Path.of(set).toAbsolutePath().normalize().equals(conf.normalize())) {
            throw new CommandFailure("the default token needs " + CONF_VARIABLE + "=" + conf
                    + " (the kelvane launcher sets it when no --module is given)");
        }
        Path tokens = directory(env).resolve("tokens");
        try {
            boolean made = !Files.isDirectory(tokens);
            Files.createDirectories(tokens);
            if (made) {
                // The keys are the user's alone.
                Set<PosixFilePermission> owner = PosixFilePermissions.fromString("rwx------");
                Files.setPosixFilePermissions(directory(env), owner);
                Files.setPosixFilePermissions(tokens, owner);
            }
            if (!Files.exists(conf)) {
                Files.writeString(conf, "# The kelvane command's own SoftHSM2 token store.\n"
                        + "directories.tokendir = " + tokens + "\n"
                        + "objectstore.backend = file\n"
                        + "log.level = ERROR\n", StandardCharsets.UTF_8);
            }
        } catch (IOException e) {
            throw new CommandFailure("cannot make the default token's directory " + tokens
                    + ": " + e.getMessage(), e);
        }
    }

    /**
     * The slot of the token labelled "kelvane", made first in a free slot when there is none;
     * the making is said on {@code err}, with the PINs.
     */
    public static NativeSlot slot(NativeCryptoki cryptoki, Map<String, String> env, PrintStream err)
            throws CryptokiException, CommandFailure {
        NativeSlot free = null;
        for (NativeSlot slot : cryptoki.GetSlotList(true)) {
            int flags = slot.J_GetTokenInfo().getFlags();
            if ((flags & CKF_TOKEN_INITIALIZED) == 0) {
                if (free == null) {
                    free = slot;
                }
            } else if (slot.J_GetTokenInfo().getLabel().trim().equals(LABEL)) {
                return slot;
            }
        }
        if (free == null) {
            throw new CommandFailure("no free slot for the default token in " + directory(env));
        }
        free.J_InitToken(SO_PIN, LABEL);
        NativeSession so = free.J_OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_SO, SO_PIN);
        try {
            so.J_InitPIN(USER_PIN);
        } finally {
            so.J_CloseSession();
        }
        err.println("kelvane: made your own SoftHSM2 token '" + LABEL + "' in " + directory(env)
                + " (user PIN " + USER_PIN + ", SO PIN " + SO_PIN
                + "; change them with change-pin); give --module to use another token");
        // SoftHSM2 gives the initialised token a new slot ID: look it up again.
        for (NativeSlot slot : cryptoki.GetSlotList(true)) {
            if (slot.J_GetTokenInfo().getLabel().trim().equals(LABEL)) {
                return slot;
            }
        }
        throw new CommandFailure("the default token was made but is not listed");
    }
}
