package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.nio.file.Path;
import java.util.Map;

import org.junit.jupiter.api.function.Executable;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/** What the runner hands the suites (system properties) and the checks they share. */
final class TestSetup {
    static final int CKR_GENERAL_ERROR = 0x5;
    static final int CKR_ARGUMENTS_BAD = 0x7;
    static final int CKR_NO_EVENT = 0x8;
    static final int CKR_ATTRIBUTE_SENSITIVE = 0x11;
    static final int CKR_ATTRIBUTE_TYPE_INVALID = 0x12;
    static final int CKR_FUNCTION_NOT_SUPPORTED = 0x54;
    static final int CKR_CRYPTOKI_NOT_INITIALIZED = 0x190;
    static final int CKR_CRYPTOKI_ALREADY_INITIALIZED = 0x191;
    static final int CKR_MECHANISM_INVALID = 0x70;
    static final int CKR_OBJECT_HANDLE_INVALID = 0x82;
    static final int CKR_PIN_INCORRECT = 0xA0;
    static final int CKR_SESSION_HANDLE_INVALID = 0xB3;
    static final int CKR_SESSION_PARALLEL_NOT_SUPPORTED = 0xB4;
    static final int CKR_SIGNATURE_INVALID = 0xC0;
    static final int CKR_SIGNATURE_LEN_RANGE = 0xC1;
    static final int CKR_USER_ALREADY_LOGGED_IN = 0x100;
    static final int CKF_DONT_BLOCK = 1;
    static final int CKF_RW_SESSION = 0x2;
    static final int CKF_SERIAL_SESSION = 0x4;
    static final int CKF_USER_PIN_INITIALIZED = 0x8;
    static final int CKF_TOKEN_INITIALIZED = 0x400;
    static final int CKS_RO_PUBLIC_SESSION = 0;
    static final int CKS_RO_USER_FUNCTIONS = 1;
    static final int CKS_RW_PUBLIC_SESSION = 2;
    static final int CKS_RW_USER_FUNCTIONS = 3;
    static final int CKS_RW_SO_FUNCTIONS = 4;
    static final byte CKU_SO = 0;
    static final byte CKU_USER = 1;
    static final int CKO_DATA = 0;
    static final int CKO_CERTIFICATE = 1;
    static final int CKO_PUBLIC_KEY = 2;
    static final int CKO_PRIVATE_KEY = 3;
    static final int CKO_SECRET_KEY = 4;
    static final int CKK_RSA = 0;
    static final int CKK_EC = 3;
    static final int CKK_GENERIC_SECRET = 0x10;
    static final int CKK_DES3 = 0x15;
    static final int CKK_AES = 0x1F;
    static final int CKC_X_509 = 0;
    static final int CKA_CLASS = 0x0;
    static final int CKA_TOKEN = 0x1;
    static final int CKA_PRIVATE = 0x2;
    static final int CKA_LABEL = 0x3;
    static final int CKA_APPLICATION = 0x10;
    static final int CKA_VALUE = 0x11;
    static final int CKA_OBJECT_ID = 0x12;
    static final int CKA_CERTIFICATE_TYPE = 0x80;
    static final int CKA_ISSUER = 0x81;
    static final int CKA_URL = 0x89;
    static final int CKA_KEY_TYPE = 0x100;
    static final int CKA_SUBJECT = 0x101;
    static final int CKA_ID = 0x102;
    static final int CKA_SENSITIVE = 0x103;
    static final int CKA_ENCRYPT = 0x104;
    static final int CKA_DECRYPT = 0x105;
    static final int CKA_WRAP = 0x106;
    static final int CKA_UNWRAP = 0x107;
    static final int CKA_SIGN = 0x108;
    static final int CKA_VERIFY = 0x10A;
    static final int CKA_DERIVE = 0x10C;
    static final int CKA_MODULUS = 0x120;
    static final int CKA_MODULUS_BITS = 0x121;
    static final int CKA_PUBLIC_EXPONENT = 0x122;
    static final int CKA_PUBLIC_KEY_INFO = 0x129;
    static final int CKA_VALUE_LEN = 0x161;
    static final int CKA_EXTRACTABLE = 0x162;
    static final int CKA_EC_PARAMS = 0x180;
    static final int CKA_EC_POINT = 0x181;

    /** PINs of the tokens the suites initialise themselves. */
    static final String SO_PIN = "13572468";
    static final String USER_PIN = "2468";
    /** Two-, three- and four-byte UTF-8 characters; the last is outside the BMP (a surrogate pair in Java). */
    static final String NON_ASCII_PIN = "p\u00e91\u20ac\ud83d\ude00";

    /** The bridge's descriptions of the codes these suites meet. */
    static final Map<Integer, String> DESCRIPTIONS = Map.ofEntries(
            Map.entry(CKR_GENERAL_ERROR, "GENERAL ERROR"),
            Map.entry(CKR_ARGUMENTS_BAD, "ARGUMENTS BAD"),
            Map.entry(CKR_NO_EVENT, "NO EVENT"),
            Map.entry(CKR_ATTRIBUTE_SENSITIVE, "ATTRIBUTE SENSITIVE"),
            Map.entry(CKR_ATTRIBUTE_TYPE_INVALID, "ATTRIBUTE TYPE INVALID"),
            Map.entry(CKR_FUNCTION_NOT_SUPPORTED, "FUNCTION NOT SUPPORTED"),
            Map.entry(CKR_CRYPTOKI_NOT_INITIALIZED, "CRYPTOKI NOT INITIALIZED"),
            Map.entry(CKR_CRYPTOKI_ALREADY_INITIALIZED, "CRYPTOKI ALREADY INITIALIZED"),
            Map.entry(CKR_MECHANISM_INVALID, "MECHANISM INVALID"),
            Map.entry(CKR_OBJECT_HANDLE_INVALID, "OBJECT HANDLE INVALID"),
            Map.entry(CKR_PIN_INCORRECT, "PIN INCORRECT"),
            Map.entry(CKR_SESSION_HANDLE_INVALID, "SESSION HANDLE INVALID"),
            Map.entry(CKR_SESSION_PARALLEL_NOT_SUPPORTED, "SESSION PARALLEL NOT SUPPORTED"),
            Map.entry(CKR_SIGNATURE_INVALID, "SIGNATURE INVALID"),
            Map.entry(CKR_SIGNATURE_LEN_RANGE, "SIGNATURE LEN RANGE"),
            Map.entry(CKR_USER_ALREADY_LOGGED_IN, "USER ALREADY LOGGED IN"));

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

    /** The slot of the token the runner initialised. */
    static NativeSlot runnerToken(NativeCryptoki cryptoki) throws CryptokiException {
        return tokenSlot(cryptoki, tokenLabel());
    }

    /** The slot of the token labelled {@code label}. */
    static NativeSlot tokenSlot(NativeCryptoki cryptoki, String label) throws CryptokiException {
        for (NativeSlot slot : cryptoki.GetSlotList(true)) {
            if (slot.J_GetTokenInfo().getLabel().trim().equals(label)) {
                return slot;
            }
        }
        throw new AssertionError("no token labelled " + label);
    }

    /** A slot whose token is not initialised yet: SoftHSM2 always offers one. */
    static NativeSlot freeSlot(NativeCryptoki cryptoki) throws CryptokiException {
        for (NativeSlot slot : cryptoki.GetSlotList(false)) {
            if ((slot.J_GetTokenInfo().getFlags() & CKF_TOKEN_INITIALIZED) == 0) {
                return slot;
            }
        }
        throw new AssertionError("no slot with an uninitialised token");
    }

    /** Initialises the free slot's token with {@link #SO_PIN} and {@code label}, user PIN {@link #USER_PIN}. */
    static NativeSlot freshToken(NativeCryptoki cryptoki, String label) throws CryptokiException {
        NativeSlot slot = freeSlot(cryptoki);
        slot.J_InitToken(SO_PIN, label);
        NativeSession so = slot.J_OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION, CKU_SO, SO_PIN);
        so.J_InitPIN(USER_PIN);
        so.J_CloseSession();
        return slot;
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

    /** Bytes differing from those 1 and 256 places away, so a shifted or cut copy never compares equal. */
    static byte[] pattern(int length) {
        byte[] bytes = new byte[length];
        for (int i = 0; i < length; i++) {
            bytes[i] = (byte) (i * 7 + i / 256);
        }
        return bytes;
    }

    /**
     * Asserts that {@code actual} is an attribute of {@code type} whose value is {@code expected}:
     * of the same class (Integer, Boolean, byte[] or null) and equal, byte arrays element by element.
     */
    static void assertAttribute(int type, Object expected, Attribute actual) {
        String what = "attribute 0x" + Integer.toHexString(type);
        assertNotNull(actual, what);
        assertEquals(type, actual.getType(), () -> "type of " + what);
        if (expected instanceof byte[]) {
            assertArrayEquals((byte[]) expected, assertInstanceOf(byte[].class, actual.getValue(), what), what);
        } else {
            assertEquals(expected, actual.getValue(), what);
        }
    }
}
