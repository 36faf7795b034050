package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.nio.file.Path;
import java.util.Map;

import org.junit.jupiter.api.function.Executable;

import qorvik.CryptokiException;
import qorvik.nat.NativeCryptoki;

/** What the runner hands the suites (system properties) and the checks they share. */
final class TestSetup {
    static final int CKR_GENERAL_ERROR = 0x5;
    static final int CKR_NO_EVENT = 0x8;
    static final int CKR_FUNCTION_NOT_SUPPORTED = 0x54;
    static final int CKR_CRYPTOKI_NOT_INITIALIZED = 0x190;
    static final int CKR_CRYPTOKI_ALREADY_INITIALIZED = 0x191;
    static final int CKF_DONT_BLOCK = 1;

    /** The bridge's descriptions of the codes these suites meet. */
    static final Map<Integer, String> DESCRIPTIONS = Map.of(
            CKR_GENERAL_ERROR, "GENERAL ERROR",
            CKR_NO_EVENT, "NO EVENT",
            CKR_FUNCTION_NOT_SUPPORTED, "FUNCTION NOT SUPPORTED",
            CKR_CRYPTOKI_NOT_INITIALIZED, "CRYPTOKI NOT INITIALIZED",
            CKR_CRYPTOKI_ALREADY_INITIALIZED, "CRYPTOKI ALREADY INITIALIZED");

    private TestSetup() {
    }

    /** SoftHSM2's module, as an absolute file name. */
    static String softhsm() {
        return property("kelvane.softhsm");
    }

    /** pkcs11-spy's module; the runner points it at SoftHSM2. */
    static String spy() {
        return property("kelvane.spy");
    }

    static Path spyLog() {
        return Path.of(property("kelvane.spylog"));
    }

    /** Label of the token the runner initialised. */
    static String tokenLabel() {
        return property("kelvane.tokenlabel");
    }

    private static String property(String name) {
        String value = System.getProperty(name);
        if (value == null || value.isEmpty()) {
            throw new IllegalStateException("system property " + name + " is not set (run-junit.sh sets it)");
        }
        return value;
    }

    /** Loads the bridge named by kelvane.library; loading it again is harmless. */
    static void loadBridge() {
        NativeCryptoki.loadNative();
    }

    /** Finalizes whatever the test left initialised, so the next test starts clean. */
    static void finalizeQuietly(NativeCryptoki cryptoki) {
        try {
            cryptoki.Finalize(null);
        } catch (CryptokiException ignored) {
            // not initialised: nothing to end
        }
    }

    /** The description of {@code code} as the bridge words it: padded to 34 characters. */
    static String description(int code) {
        String text = DESCRIPTIONS.get(code);
        if (text == null) {
            throw new AssertionError("no description known for code 0x" + Integer.toHexString(code));
        }
        return String.format("%-34s", text);
    }

    /** Asserts that {@code call} fails with {@code function} and {@code code}; returns the failure. */
    static CryptokiException assertFails(String function, int code, Executable call) {
        CryptokiException e = assertThrows(CryptokiException.class, call);
        assertEquals(function, e.getFunctionName(), "function name");
        assertEquals(code, e.getCode(), () -> "code of " + e);
        return e;
    }

    /** As {@link #assertFails}, with the code's padded description as message. */
    static void assertFailsDescribed(String function, int code, Executable call) {
        assertEquals(description(code), assertFails(function, code, call).getMessage());
    }
}
