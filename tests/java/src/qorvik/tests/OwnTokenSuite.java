package qorvik.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;

import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.Arrays;
import java.util.HexFormat;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;

import qorvik.Attribute;
import qorvik.CryptokiException;
import qorvik.nat.NativeCryptoki;
import qorvik.nat.NativeSession;
import qorvik.nat.NativeSlot;

/**
 * Suites that work on SoftHSM2 in a token of their own, initialised in the free slot, with keys
 * pkcs11-tool made there. Each case runs in a read-write session with the user logged in.
 */
abstract class OwnTokenSuite {
    static final int CKM_RSA_PKCS_KEY_PAIR_GEN = 0x0;
    static final int CKM_RSA_PKCS = 0x1;
    static final int CKM_RSA_PKCS_OAEP = 0x9;
    static final int CKM_SHA256_RSA_PKCS = 0x40;
    static final int CKM_DES3_KEY_GEN = 0x131;
    static final int CKM_DES3_CBC = 0x133;
    static final int CKM_DES3_CBC_PAD = 0x136;
    static final int CKM_MD5 = 0x210;
    static final int CKM_SHA_1 = 0x220;
    static final int CKM_SHA256 = 0x250;
    static final int CKM_SHA512 = 0x270;
    static final int CKM_GENERIC_SECRET_KEY_GEN = 0x350;
    static final int CKM_SHA256_KEY_DERIVATION = 0x393;
    static final int CKM_EC_KEY_PAIR_GEN = 0x1040;
    static final int CKM_ECDSA = 0x1041;
    static final int CKM_ECDSA_SHA256 = 0x1044;
    static final int CKM_AES_KEY_GEN = 0x1080;
    static final int CKM_AES_ECB = 0x1081;
    static final int CKM_AES_CBC_PAD = 0x1085;
    static final int CKM_AES_KEY_WRAP = 0x2109;
    static final int CKG_MGF1_SHA1 = 1;
    static final int CKZ_DATA_SPECIFIED = 1;
    /** DER of the named curve P-256's OID, as CKA_EC_PARAMS holds it. */
    static final byte[] P256 = HexFormat.of().parseHex("06082a8648ce3d030107");
    /** What {@link #embed} and {@link #filled} put around a window. */
    static final byte FILL = (byte) 0xA5;

    protected static final NativeCryptoki cryptoki = new NativeCryptoki();
    protected NativeSession session;
    /** The session's handle, for the methods that take it as an argument. */
    protected long handle;

    /** The label of the suite's token. */
    protected abstract String tokenLabel();

    @BeforeAll
    static void loadBridge() {
        TestSetup.loadBridge();
    }

    /**
     * Initialises a token labelled {@code label} in the free slot, user PIN {@link TestSetup#USER_PIN},
     * and leaves the bridge finalized, so that pkcs11-tool can add keys and SoftHSM2 reads them
     * when a case initialises it again.
     */
    static void createToken(String label) throws CryptokiException {
        NativeCryptoki.loadCryptokiLibrary(TestSetup.softhsm());
        cryptoki.Initialize(null);
        try {
            TestSetup.freshToken(cryptoki, label);
        } finally {
            cryptoki.Finalize(null);
        }
    }

    @BeforeEach
    void openUserSession() throws CryptokiException {
        NativeCryptoki.loadCryptokiLibrary(TestSetup.softhsm());
        cryptoki.Initialize(null);
        NativeSlot slot = TestSetup.tokenSlot(cryptoki, tokenLabel());
        session = slot.J_OpenSession(TestSetup.CKF_SERIAL_SESSION | TestSetup.CKF_RW_SESSION, TestSetup.CKU_USER,
                TestSetup.USER_PIN);
        handle = session.getSessionHandle();
    }

    @AfterEach
    void finalizeModule() {
        TestSetup.finalizeQuietly(cryptoki);
    }

    /** Whether the suite's token offers {@code mechanism}, as the bridge lists them. */
    boolean offers(int mechanism) throws CryptokiException {
        return Arrays.stream(TestSetup.tokenSlot(cryptoki, tokenLabel()).J_GetMechanismList())
                .anyMatch(m -> m == mechanism);
    }

    /** The one object of {@code objectClass} with CKA_ID {@code id}. */
    long object(int objectClass, byte[] id) throws CryptokiException {
        long[] found = session.J_FindObjects(new Attribute[] {new Attribute(TestSetup.CKA_CLASS, objectClass),
                new Attribute(TestSetup.CKA_ID, id)});
        assertNotNull(found, () -> "object of class " + objectClass + " with ID " + HexFormat.of().formatHex(id));
        assertEquals(1, found.length, "objects found");
        return found[0];
    }

    /** {@code data} at {@code offset} of an array {@code extra} bytes longer, the rest {@link #FILL}. */
    static byte[] embed(byte[] data, int offset, int extra) {
        byte[] array = new byte[data.length + extra];
        Arrays.fill(array, FILL);
        System.arraycopy(data, 0, array, offset, data.length);
        return array;
    }

    /** An array of {@code length} bytes, all {@link #FILL}, for the filling forms to write into. */
    static byte[] filled(int length) {
        byte[] array = new byte[length];
        Arrays.fill(array, FILL);
        return array;
    }

    /** Asserts that {@code array} holds {@code expected} at {@code offset} and {@link #FILL} elsewhere. */
    static void assertWindow(byte[] expected, byte[] array, int offset) {
        assertArrayEquals(embed(expected, offset, array.length - expected.length), array,
                () -> "window at " + offset + " of " + HexFormat.of().formatHex(array));
    }

    static byte[] concat(byte[]... parts) {
        int length = Arrays.stream(parts).mapToInt(p -> p.length).sum();
        byte[] all = new byte[length];
        int at = 0;
        for (byte[] part : parts) {
            System.arraycopy(part, 0, all, at, part.length);
            at += part.length;
        }
        return all;
    }

    static byte[] sha256(byte[] data) {
        try {
            return MessageDigest.getInstance("SHA-256").digest(data);
        } catch (NoSuchAlgorithmException e) {
            throw new AssertionError(e);
        }
    }

    /** The DER DigestInfo of SHA-256 over {@code data}, what CKM_RSA_PKCS signs for a SHA-256 signature. */
    static byte[] sha256DigestInfo(byte[] data) {
        return concat(HexFormat.of().parseHex("3031300d060960864801650304020105000420"), sha256(data));
    }
}
